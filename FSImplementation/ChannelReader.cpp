// The reading rules shared by every channel reader.
//
// Look-ahead invariant: when m_lookaheadValid is true the subclass source is
// positioned at m_lookahead; when false it is positioned at m_current, and
// m_lookahead, if set, holds the frame after m_current.

#include "FSImplementation/ChannelReader.h"

#include <cstddef>
#include <utility>

#include "base/Log.h"
#include "base/StringConv.h"
#include "base/frames/FormatTags.h"
#include "platform/File.h"

namespace Storage {

namespace pt = boost::posix_time;

namespace {

const pt::ptime k1601(boost::gregorian::date(1601, 1, 1));
const pt::ptime k1970(boost::gregorian::date(1970, 1, 1));

}  // namespace

pt::ptime TssToInstant(const TSS& time)
{
    return k1601 + pt::milliseconds(static_cast<int64_t>(time.ToUtcMilliseconds()));
}

TSS InstantToTss(const pt::ptime& time)
{
    if (time.is_not_a_date_time())
        return TSS{};
    if (time.is_neg_infinity())
        return TSS::FromUtc(kArchiveUnixOffsetMs);
    if (time.is_pos_infinity()) {
        TSS far{};
        far.wYear = 3000;
        far.wMonth = 1;
        far.wDay = 1;
        return far;
    }
    const int64_t unixMs = (time - k1970).total_microseconds() / 1000;
    return TSS::FromUtc(static_cast<uint64_t>(unixMs + static_cast<int64_t>(kArchiveUnixOffsetMs)));
}

pt::ptime FrameInstant(const VideoFrame* frame)
{
    return frame ? TssToInstant(frame->m_tssTime) : pt::ptime(pt::not_a_date_time);
}

ChannelReader::ChannelReader(int channel, const std::wstring& name, const ChannelInfo& info)
    : m_channel(channel), m_channelInfo(info), m_shift(0, 0, 0)
{
    if (!info.name.empty())
        m_name = FromCodePage(ToCodePage(info.name, CP_ACP_CODEPAGE), CP_ACP_CODEPAGE);
    else if (!name.empty())
        m_name = name;
    else
        m_name = std::to_wstring(channel);
}

ChannelReader::~ChannelReader() = default;

void ChannelReader::Init()
{
    VideoFramePtr first = FetchFirstFrame();
    if (first && first->m_pData)
        m_current = first;
    CacheNext();

    std::vector<boost::gregorian::date> days;
    GetRecordDays(days);
    if (!days.empty() && m_current) {
        std::vector<pt::time_period> periods;
        GetRecordIntervals(days.front(), periods);
        if (!periods.empty())
            m_shift = periods.front().begin() - GetCurrentTime();
    }
}

VideoFramePtr ChannelReader::readFrame(bool keyOnly, bool forward)
{
    VideoFramePtr frame;
    try {
        int skipped = 0;
        for (;;) {
            frame = FetchFrame(forward);
            if (!frame || !keyOnly || IsKeyFrame(frame.get()))
                break;
            ++skipped;
        }
        // No key frame that way: the caller keeps its current frame, so the
        // source goes back there too (a refused step does not move it).
        if (!frame) {
            for (; skipped > 0; --skipped)
                FetchFrame(!forward);
        }
    } catch (const platform::ArchiveException& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "ChannelReader::readFrame CArchiveException: fileName = \"%s\" , cause = %d",
                      e.m_strFileName.c_str(), e.m_cause);
        throw InvalidArchiveException();
    }
    if (forward || frame)
        m_atEnd = !frame;
    if (frame)
        getDefaultDebugInstance()->Message("READ FRAME : m_nFrameNumber = %d, m_tssTime = %s", frame->m_nFrameNumber,
                                           frame->m_tssTime.ToIsoString().c_str());
    return frame;
}

void ChannelReader::SetCurrent(const VideoFramePtr& frame)
{
    if (frame && frame->m_pData)
        m_current = frame;
}

void ChannelReader::CacheNext()
{
    if (m_lookaheadValid)
        return;
    m_lookahead = readFrame(false, true);
    m_lookaheadValid = !m_atEnd;
    getDefaultDebugInstance()->Message("CACHE NEXT FRAME, %d", m_lookaheadValid ? 1 : 0);
}

VideoFramePtr ChannelReader::Move(bool keyOnly, bool forward)
{
    const bool atEndBefore = m_atEnd;
    std::swap(m_current, m_lookahead);
    const bool needRead = !(forward && m_current && (!keyOnly || IsKeyFrame(m_current.get())));
    // Puts the source back in step with the invariant: backward from a cached
    // position it returns to the old current frame; forward onto a look-ahead
    // one frame beyond the source it steps onto it.
    const bool stepBack = (!forward && m_lookaheadValid) || (forward && !needRead && !m_lookaheadValid);
    if (stepBack)
        readFrame(false, !m_lookaheadValid);
    if (needRead) {
        VideoFramePtr frame = readFrame(keyOnly, forward);
        if (frame) {
            SetCurrent(frame);
        } else {
            std::swap(m_current, m_lookahead);
            if (!stepBack) {
                // Nothing was read and the source is back where it was
                // (readFrame undoes a fruitless key-frame search), so the
                // reader stands as before the call. A key-only search that
                // found no key frame says nothing about plain frames ahead.
                if (keyOnly && forward)
                    m_atEnd = atEndBefore;
                return m_current;
            }
        }
    }
    if (forward || stepBack || keyOnly) {
        m_lookaheadValid = false;
        m_lookahead.reset();
    }
    return m_current;
}

pt::ptime ChannelReader::GetCurrentTime()
{
    return FrameInstant(m_current.get());
}

pt::ptime ChannelReader::GetNextTime()
{
    if (!m_lookahead || !m_lookaheadValid)
        CacheNext();
    if (m_lookahead)
        return FrameInstant(m_lookahead.get());
    return FrameInstant(m_current.get());
}

bool ChannelReader::IsAtEnd()
{
    if (!m_lookaheadValid && !m_atEnd)
        CacheNext();
    return m_atEnd;
}

void ChannelReader::Seek(const pt::ptime& time)
{
    const pt::ptime current = GetCurrentTime();
    const pt::ptime next = GetNextTime();
    if (!current.is_special() && time >= current && (time < next || time == current || m_atEnd))
        return;  // within the current frame
    if (time.is_special())
        return;

    SetCurrent(FetchFrameAt(time));
    m_lookaheadValid = false;
    m_atEnd = false;
    // What the look-ahead held belongs to the old position; keeping it would
    // let a following ReadNext return a frame from before the seek.
    m_lookahead.reset();
    if (time < GetCurrentTime())
        ReadPrevious(false);
    else
        CacheNext();
}

void ChannelReader::GetRecordIntervals(const boost::gregorian::date& day, std::vector<pt::time_period>& periods)
{
    const size_t first = periods.size();
    ReadDayIntervals(day, periods);
    std::vector<pt::time_period> kept;
    for (size_t i = first; i < periods.size(); ++i) {
        pt::time_period p = periods[i];
        if (!(p.begin() < p.end()))
            continue;
        p.shift(-m_shift);
        kept.push_back(p);
    }
    periods.erase(periods.begin() + static_cast<std::ptrdiff_t>(first), periods.end());
    periods.insert(periods.end(), kept.begin(), kept.end());
}

}  // namespace Storage
