#include "archive/files/FramesReaderIndexed.h"

#include "archive/files/FramesReaderFile.h"
#include "archive/files/VideoFileFormat.h"
#include "base/Log.h"
#include "base/VideoFrame.h"

#include <boost/archive/archive_exception.hpp>

#include <algorithm>
#include <cmath>
#include <istream>
#include <streambuf>
#include <vector>

namespace {

constexpr int64_t kDayMs = 86400000;

// Read-only stream buffer over a block of bytes that can report its size by
// seeking (the decoders use that to refuse counts the bytes cannot hold).
class ByteViewBuf : public std::streambuf {
public:
    ByteViewBuf(const char* data, size_t size)
    {
        char* p = const_cast<char*>(data);
        setg(p, p, p + size);
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override
    {
        if (!(which & std::ios_base::in))
            return pos_type(off_type(-1));
        off_type base = 0;
        if (dir == std::ios_base::cur)
            base = gptr() - eback();
        else if (dir == std::ios_base::end)
            base = egptr() - eback();
        const off_type target = base + off;
        if (target < 0 || target > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }

    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override
    {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

// Local time stamp of an index time (UTC ms since 1970).
TSS LocalTimeOf(uint64_t unixMs)
{
    TSS t;
    t.FromTimeT(static_cast<std::time_t>(unixMs / 1000), static_cast<uint32_t>(unixMs % 1000));
    return t;
}

uint64_t NowArchiveMs()
{
    TSS now;
    now.SetLocalNow();
    return now.ToUtcMilliseconds();
}

} // namespace

bool FramesReaderIndexed::ReadIndex(int32_t /*wantedId*/)
{
    ClearIndex();
    if (m_fileLength < static_cast<uint64_t>(kVideoFileTrailerSize))
        return false;
    uint8_t lengthBytes[4];
    m_file.Seek(-kVideoFileTrailerSize, platform::File::end);
    if (m_file.Read(lengthBytes, 4) != 4)
        return false;
    const auto blobLength = static_cast<int32_t>(uint32_t(lengthBytes[0]) | uint32_t(lengthBytes[1]) << 8
                                                 | uint32_t(lengthBytes[2]) << 16 | uint32_t(lengthBytes[3]) << 24);
    if (blobLength < 1 || blobLength > kMaxIndexBlobSize
        || static_cast<uint64_t>(blobLength) + kVideoFileTrailerSize > m_fileLength)
        return false;

    std::vector<char> blob(static_cast<size_t>(blobLength));
    m_file.Seek(-(static_cast<int64_t>(blobLength) + kVideoFileTrailerSize), platform::File::end);
    if (m_file.Read(blob.data(), blob.size()) != blob.size())
        return false;

    ByteViewBuf buf(blob.data(), blob.size());
    std::istream in(&buf);
    try {
        DeserializeIndex(in);
    } catch (const boost::archive::archive_exception& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "Failed to read info from file %s, cause = %s, error = %d",
                      m_filePath.c_str(), e.what(), static_cast<int>(e.code));
    }
    m_frameCount = std::min<uint64_t>(m_frameCount, m_index.size());
    return !m_index.empty();
}

TSS FramesReaderIndexed::GetFrameTime(uint64_t n)
{
    if (n >= m_index.size())
        return TSS{};
    return LocalTimeOf(m_index[n].time);
}

int64_t FramesReaderIndexed::ResetPlayClock()
{
    m_playClockStart = NowArchiveMs();
    return static_cast<int64_t>(m_playClockStart);
}

FramesIndex::const_iterator FramesReaderIndexed::FindEntry(const TSS& time) const
{
    const uint64_t archiveMs = time.ToUtcMilliseconds();
    const uint64_t key = archiveMs > kUnixEpochArchiveMs ? archiveMs - kUnixEpochArchiveMs : 0;
    return std::lower_bound(m_index.begin(), m_index.end(), key,
                            [](const FramesIndexEntry& e, uint64_t k) { return e.time < k; });
}

int64_t FramesReaderIndexed::ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData)
{
    if (m_frameCount == 0)
        return -1;
    const auto e = FindEntry(time);
    uint64_t n = m_frameCount - 1;
    if (e != m_index.end())
        n = std::min<uint64_t>(static_cast<uint64_t>(e - m_index.begin()), m_frameCount);
    if (n < m_frameCount)
        return ReadFrame(frame, n, needPFrame, withData, 1.0, false);
    return static_cast<int64_t>(n);
}

RecordInterval FramesReaderIndexed::GetRecordInterval(const TSS& time, bool beginOnly)
{
    if (!time.IsValidDate()) {
        if (m_frameCount == 0)
            return {};
        return {GetFrameTime(0), GetFrameTime(m_frameCount - 1)};
    }
    const auto e = FindEntry(time);
    TSS dayAfter;
    dayAfter.FromUtcMilliseconds(time.ToUtcMilliseconds() + kDayMs);
    const auto e2 = FindEntry(dayAfter);
    // No entry in [time, time + 1 day): the day holds no frames.
    if (e == m_index.end() || e == e2)
        return {};
    RecordInterval interval;
    interval.begin = LocalTimeOf(e->time);
    if (beginOnly)
        return interval;
    interval.end = LocalTimeOf((e2 - 1)->time);
    return interval;
}

int64_t FramesReaderIndexed::ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double speed,
                                       bool backward)
{
    const uint64_t count = std::min<uint64_t>(m_frameCount, m_index.size());
    if (count == 0)
        return -1;
    if (n >= count)
        n = count - 1;

    // The clock is only needed to start or follow fast play.
    const uint64_t nowMs = (n == 0 || speed > 2.0) ? NowArchiveMs() : 0;
    if (n == 0)
        m_playClockStart = nowMs;

    // Entry times on the play clock's scale (UTC milliseconds since 1601).
    auto clockMs = [this](uint64_t i) { return static_cast<int64_t>(m_index[i].time + kUnixEpochArchiveMs); };
    bool forwardFastPlay = false;
    if (speed > 2.0) {
        const uint64_t elapsed = nowMs - m_playClockStart;
        const auto advance = static_cast<int64_t>(std::floor(static_cast<double>(elapsed) * speed + 0.5));
        if (!backward) {
            forwardFastPlay = true;
            const int64_t target = clockMs(0) + advance;
            for (uint64_t i = n + 1; i < count && clockMs(i) < target; ++i) {
                if (m_index[i].pFrame)
                    n = i;
            }
        } else {
            const int64_t target = clockMs(count - 1) - advance;
            if (clockMs(0) > target) {
                n = 0;
                m_playClockStart = nowMs;
            } else {
                for (uint64_t i = n; i-- > 0;) {
                    if (clockMs(i) < target && m_index[i].pFrame) {
                        n = i;
                        break;
                    }
                }
            }
        }
    }

    if (needPFrame && !m_index[n].pFrame) {
        while (n > 0 && !m_index[n].pFrame)
            --n;
        if (!m_index[n].pFrame)
            QOR_LOG_ERROR(getDefaultDebugInstance(), "First frame is not PFrame. File: %s", m_filePath.c_str());
    }

    if (!SeekTo(m_index[n].offset) || !ReadFrameRecord(frame, n, withData))
        return -1;

    if (forwardFastPlay) {
        for (uint64_t i = n + 1; i < count; ++i) {
            if (m_index[i].pFrame)
                return static_cast<int64_t>(n);
        }
        return static_cast<int64_t>(count - 1);
    }
    return static_cast<int64_t>(n);
}

void FramesReaderIndexedSimple::DeserializeIndex(std::istream& in)
{
    LoadFramesIndexBinary(in, m_index);
}

void FramesReaderIndexedPortable::DeserializeIndex(std::istream& in)
{
    LoadFramesIndexPortable(in, m_index);
    RebaseIndex();
}

std::optional<TSS> IndexedLastFrameTime(const FramesReaderFile& file, uint64_t firstOffset, uint64_t firstEnd,
                                        const TSS& firstTime)
{
    try {
        const uint64_t length = file.GetLength();
        if (length < static_cast<uint64_t>(kVideoFileTrailerSize))
            return std::nullopt;
        char tail[4096];
        const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(length, sizeof tail));
        if (file.ReadAt(length - tailSize, tail, tailSize) != tailSize)
            return std::nullopt;
        const auto* end = reinterpret_cast<const uint8_t*>(tail + tailSize);
        const IndexTrailer trailer = IndexTrailer::Parse(end - kVideoFileTrailerSize);
        if (!trailer.IsValidFor(static_cast<int64_t>(length)))
            return std::nullopt;
        const std::optional<int> key = ReaderKeyForStoredType(trailer.storedType);
        if (!key)
            return std::nullopt;
        const uint8_t* countAndFlag = end - kCountAndFlagSize;
        const uint64_t count = uint32_t(countAndFlag[0]) | uint32_t(countAndFlag[1]) << 8
            | uint32_t(countAndFlag[2]) << 16 | uint32_t(countAndFlag[3]) << 24;
        if (!IsValidFileTrailer(count, countAndFlag[4]))
            return std::nullopt;
        const int32_t blobLength = trailer.blobLength;
        if (blobLength < 1 || blobLength > kMaxIndexBlobSize)
            return std::nullopt;

        const size_t blobSize = static_cast<size_t>(blobLength);
        std::vector<char> farBlob;
        const char* blob = nullptr;
        if (blobSize + kVideoFileTrailerSize <= tailSize) {
            blob = tail + tailSize - kVideoFileTrailerSize - blobSize;
        } else {
            farBlob.resize(blobSize);
            if (file.ReadAt(length - kVideoFileTrailerSize - blobSize, farBlob.data(), blobSize) != blobSize)
                return std::nullopt;
            blob = farBlob.data();
        }
        ByteViewBuf buf(blob, blobSize);
        std::istream in(&buf);
        FramesIndex index;
        if (*key == kReaderIndexedPortable)
            LoadFramesIndexPortable(in, index);
        else
            LoadFramesIndexBinary(in, index);
        if (index.empty())
            return std::nullopt;
        FramesIndexEntry last = index[std::min<uint64_t>(count, index.size()) - 1];

        if (*key == kReaderIndexedPortable) {
            // The rebase the portable reader makes, from the same record.
            if (index.front().offset != firstOffset || firstEnd > length - kCountAndFlagSize)
                return std::nullopt;
            const uint64_t frameArchiveMs = firstTime.ToUtcMilliseconds();
            if (frameArchiveMs >= kUnixEpochArchiveMs) {
                const int64_t delta = static_cast<int64_t>(frameArchiveMs - kUnixEpochArchiveMs)
                    - static_cast<int64_t>(index.front().time);
                last.time = static_cast<uint64_t>(static_cast<int64_t>(last.time) + delta);
            }
        }
        return LocalTimeOf(last.time);
    } catch (...) {
        return std::nullopt;
    }
}

void FramesReaderIndexedPortable::RebaseIndex()
{
    if (m_index.empty())
        return;
    // The record the first entry points to (the data start for every file
    // this system writes, with or without the id header). When it cannot be
    // read there is nothing to rebase onto and the index stays as stored.
    VideoFramePtr first(new VideoFrame(), false);
    if (!SeekTo(m_index.front().offset) || !ReadFrameRecord(*first, 0, false))
        return;
    const uint64_t frameArchiveMs = first->m_tssTime.ToUtcMilliseconds();
    if (frameArchiveMs < kUnixEpochArchiveMs)
        return; // time stamp the zone conversion rejected
    const int64_t delta = static_cast<int64_t>(frameArchiveMs - kUnixEpochArchiveMs)
        - static_cast<int64_t>(m_index.front().time);
    if (delta == 0)
        return;
    for (auto& e : m_index)
        e = FramesIndexEntry(static_cast<uint64_t>(static_cast<int64_t>(e.time) + delta), e.offset, e.pFrame);
}
