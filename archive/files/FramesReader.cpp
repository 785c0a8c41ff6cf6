#include "archive/files/FramesReader.h"

#include "archive/files/FileProcessor.h"
#include "archive/files/FramesIndex.h"
#include "archive/files/Titles.h"
#include "archive/files/VideoFileFormat.h"
#include "base/Log.h"
#include "base/VideoFrame.h"

#include <cstring>

namespace {

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

FramesReader::FramesReader(std::size_t blockSize)
    : m_file(blockSize)
    , m_titles(std::make_shared<VindaraFileSystem::ChannelTitles>())
{
}

FramesReader::~FramesReader()
{
    m_file.Abort();
}

bool FramesReader::Open(const std::string& path, int32_t wantedId)
{
    return OpenWith(path, wantedId, nullptr);
}

bool FramesReader::Open(const std::string& path, int32_t wantedId, FramesReaderFile& opened)
{
    return OpenWith(path, wantedId, &opened);
}

bool FramesReader::OpenWith(const std::string& path, int32_t wantedId, FramesReaderFile* opened)
{
    if (!m_file.IsOpen() || m_filePath != path) {
        Close();
        if (opened && opened->IsOpen())
            m_file.Adopt(*opened);
        else
            m_file.Open(path, platform::File::modeRead | platform::File::shareDenyWrite | platform::File::typeBinary);
        // Titles belong to the file: a file without a titles name has none
        // (the previous file's must not show on its frames).
        const std::string titlesPath = VindaraFileSystem::TitlesFilePathFor(path);
        if (!titlesPath.empty())
            m_titles->Reload(titlesPath);
        else
            m_titles->Clear();
    }
    if (!m_file.IsOpen())
        return false;
    m_file.Refresh();

    m_fileName = m_file.GetFileName();
    m_filePath = path;
    m_frameCount = 0;
    m_trailerFlag = 0;
    m_headerIdMatch = kHeaderIdNone;
    m_dataStart = 0;
    try {
        m_fileLength = m_file.GetLength();
        if (m_fileLength >= static_cast<uint64_t>(kCountAndFlagSize)) {
            uint8_t tail[kCountAndFlagSize];
            m_file.Seek(-kCountAndFlagSize, platform::File::end);
            if (m_file.Read(tail, sizeof tail) == sizeof tail) {
                m_frameCount = Le32(tail);
                m_trailerFlag = tail[4];
            }
        }
        uint8_t head[8];
        m_file.SeekToBegin();
        if (m_file.Read(head, 4) == 4 && static_cast<int32_t>(Le32(head)) == kArchiveIdHeaderMark) {
            if (m_file.Read(head + 4, 4) == 4) {
                const auto id = static_cast<int32_t>(Le32(head + 4));
                m_headerIdMatch = (wantedId == 0 || wantedId == id) ? 1 : -1;
                m_dataStart = kArchiveIdHeaderSize;
            }
        }
        // The file's own count decides readability; the index may lower the
        // count afterwards but never makes an implausible trailer acceptable.
        const bool trailerValid = HasValidTrailer();
        const bool indexed = ReadIndex(wantedId);
        m_file.SeekToBegin();
        return indexed && trailerValid && IsReady();
    } catch (const platform::Exception& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "failed to open file %s, cause = %s", path.c_str(),
                      e.GetErrorMessage().c_str());
        return false;
    }
}

void FramesReader::Close()
{
    if (m_file.IsOpen())
        m_file.Abort();
    m_frameCount = 0;
    m_trailerFlag = 0;
    m_headerIdMatch = 0;
    m_dataStart = 0;
    m_fileLength = 0;
    ClearIndex();
}

bool FramesReader::IsReady() const
{
    return HasValidTrailer() && IsFileOpen();
}

bool FramesReader::HasValidTrailer() const
{
    return IsValidFileTrailer(m_frameCount, m_trailerFlag);
}

bool FramesReader::IsFileOpen() const
{
    return m_file.IsOpen();
}

int64_t FramesReader::GetFilePosition() const
{
    if (!IsReady())
        return -1;
    return static_cast<int64_t>(m_file.GetPosition());
}

bool FramesReader::SeekTo(uint64_t offset)
{
    try {
        m_file.Seek(static_cast<int64_t>(offset), platform::File::begin);
        return true;
    } catch (const platform::Exception& e) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "failed to get frame %.1024s", e.GetErrorMessage().c_str());
        return false;
    }
}

bool FramesReader::ReadFrameRecord(VideoFrame& frame, uint64_t n, bool withData)
{
    // Frame records lie between the data start and the count and flag at the
    // end. The data size is checked against that before the record is read,
    // so a damaged size neither allocates nor reads past the frames.
    const uint64_t frameAreaEnd = m_fileLength >= static_cast<uint64_t>(kCountAndFlagSize)
        ? m_fileLength - static_cast<uint64_t>(kCountAndFlagSize)
        : 0;
    auto fail = [&](const std::string& cause) {
        QOR_LOG_ERROR(getDefaultDebugInstance(), "failed to get frame %.1024s", cause.c_str());
        frame.FreeData();
        frame.m_cbData = 0;
        return false;
    };
    try {
        const uint64_t start = m_file.GetPosition();
        uint8_t sizeBytes[4];
        if (m_file.PeekAt(start + VideoFrame::kRecordHeaderSize - 4, sizeBytes, 4) != 4
            || start + VideoFrame::kRecordHeaderSize + Le32(sizeBytes) > frameAreaEnd)
            return fail("record at " + std::to_string(start) + " runs past the frames of " + m_filePath);
        // A record without a subtitle part carries no title text.
        frame.m_strSubtitles.clear();
        frame.SerializeFile(m_file, true, withData);
        if (m_file.GetPosition() > frameAreaEnd)
            return fail("record at " + std::to_string(start) + " runs past the frames of " + m_filePath);
    } catch (const platform::Exception& e) {
        return fail(e.GetErrorMessage());
    }

    const int64_t unixMs = m_titles->StreamCount() == 0
        ? 0
        : static_cast<int64_t>(frame.m_tssTime.ToUtcMilliseconds()) - static_cast<int64_t>(kUnixEpochArchiveMs);
    if (unixMs > 0) {
        std::string text = m_titles->GetText(static_cast<uint64_t>(unixMs));
        if (!text.empty())
            frame.m_strSubtitles = std::move(text);
    }
    if (GetCorrectFrameNumber()) {
        frame.m_nFrameNumber = static_cast<int32_t>(n);
        frame.m_nTotalFrames = static_cast<int32_t>(m_frameCount);
    }
    return true;
}
