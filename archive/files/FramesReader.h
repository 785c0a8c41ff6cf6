#pragma once

// Base of the archive file readers: the open file, the frame count and close
// flag from the file's last five bytes, the optional archive id header, and
// reading one frame record with its title text.

#include "archive/files/IFramesReader.h"
#include "archive/files/FramesReaderFile.h"

#include <memory>
#include <string>

namespace VindaraFileSystem {
class ChannelTitles;
}

class FramesReader : public IFramesReader {
public:
    // blockSize: the read-ahead block of the file (see FramesReaderFile).
    explicit FramesReader(std::size_t blockSize = 128 * 1024);
    ~FramesReader() override;
    FramesReader(const FramesReader&) = delete;
    FramesReader& operator=(const FramesReader&) = delete;

    // Opens `path` (the same open path is not reopened), reloads the titles
    // file beside it, reads frame count, close flag and id header, then
    // ReadIndex. True only when ReadIndex succeeded and the reader is ready.
    bool Open(const std::string& path, int32_t wantedId) override;
    bool Open(const std::string& path, int32_t wantedId, FramesReaderFile& opened) override;
    void Close() override;
    bool IsReady() const override;

    std::string GetFileName() const override { return m_fileName; }
    std::string GetFilePath() const override { return m_filePath; }
    uint64_t GetFrameCount() const override { return m_frameCount; }
    int64_t GetFilePosition() const override;
    uint8_t GetHeaderIdMatch() const override { return static_cast<uint8_t>(m_headerIdMatch); }
    uint32_t GetTrailerFlag() const override { return m_trailerFlag; }

    virtual bool HasValidTrailer() const;
    virtual bool IsFileOpen() const;
    virtual void ClearIndex() {}
    virtual bool ReadIndex(int32_t /*wantedId*/) { return true; }

    int64_t GetDataStart() const { return m_dataStart; }

protected:
    // Reads the frame record at the current file position (body allocated
    // and read with `withData`, else skipped), sets its title text and, with
    // the CorrectFrameNumber switch, numbers it n of the frame count. A record
    // that cannot be read whole (format error, file error, data running past
    // the frame area) is logged and gives false; the frame's data is freed.
    bool ReadFrameRecord(VideoFrame& frame, uint64_t n, bool withData);
    // Seeks; false (logged like a failed read) when the file refuses.
    bool SeekTo(uint64_t offset);

    uint64_t m_frameCount = 0;
    uint32_t m_trailerFlag = 0;
    int32_t m_headerIdMatch = 0; // 0 none, 1 match, -1 differs
    int64_t m_dataStart = 0;
    uint64_t m_fileLength = 0;
    bool OpenWith(const std::string& path, int32_t wantedId, FramesReaderFile* opened);

    FramesReaderFile m_file;
    std::string m_fileName;
    std::string m_filePath;
    std::shared_ptr<VindaraFileSystem::ChannelTitles> m_titles;
};
