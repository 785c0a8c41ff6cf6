#pragma once

// The frames reader that clients hold. On every open it looks at the file's
// trailer, keeps or replaces its current reader by the kind the file needs,
// and falls back to the scanning reader when that kind cannot open the file.
// Not locked: calls must not overlap (the holder's duty).

#include "archive/files/IFramesReader.h"

#include <memory>

// A new reader of a type key (0 null, 1 scanning, 2 binary index, 3 portable
// index), closed before it is destroyed. Throws std::logic_error
// ("DynamicFramesReader: incorrect video file type") for an unknown key.
std::shared_ptr<IFramesReader> CreateFramesReaderOfType(int key, bool cachePFrames);

class DynamicFramesReader : public IFramesReader {
public:
    // cachePFrames is handed to every reader created (only the scanning
    // reader uses it: it then reads every frame's body and remembers key
    // frames).
    explicit DynamicFramesReader(bool cachePFrames);
    ~DynamicFramesReader() override;
    DynamicFramesReader(const DynamicFramesReader&) = delete;
    DynamicFramesReader& operator=(const DynamicFramesReader&) = delete;

    bool Open(const std::string& path, int32_t wantedId) override;
    // The type is detected on `opened` (open at `path`, or closed), which
    // the reader then takes over.
    bool Open(const std::string& path, int32_t wantedId, FramesReaderFile& opened) override;

    void Close() override { m_reader->Close(); }
    bool IsReady() const override { return m_reader->IsReady(); }
    int64_t ReadFrameAtTime(VideoFrame& frame, const TSS& time, bool needPFrame, bool withData) override
    {
        return m_reader->ReadFrameAtTime(frame, time, needPFrame, withData);
    }
    int64_t ReadFrame(VideoFrame& frame, uint64_t n, bool needPFrame, bool withData, double speed,
                      bool backward) override
    {
        return m_reader->ReadFrame(frame, n, needPFrame, withData, speed, backward);
    }
    TSS GetFrameTime(uint64_t n) override { return m_reader->GetFrameTime(n); }
    RecordInterval GetRecordInterval(const TSS& time, bool beginOnly) override
    {
        return m_reader->GetRecordInterval(time, beginOnly);
    }
    std::string GetFileName() const override { return m_reader->GetFileName(); }
    std::string GetFilePath() const override { return m_reader->GetFilePath(); }
    uint64_t GetFrameCount() const override { return m_reader->GetFrameCount(); }
    int64_t GetFilePosition() const override { return m_reader->GetFilePosition(); }
    uint8_t GetHeaderIdMatch() const override { return m_reader->GetHeaderIdMatch(); }
    uint32_t GetTrailerFlag() const override { return m_reader->GetTrailerFlag(); }
    // Always 0, whatever reader is held.
    int GetReaderType() const override { return 0; }
    int64_t ResetPlayClock() override { return m_reader->ResetPlayClock(); }

    // The reader currently held (never null).
    const std::shared_ptr<IFramesReader>& GetCurrentReader() const { return m_reader; }

private:
    std::shared_ptr<IFramesReader> m_reader;
    bool m_cachePFrames;
};
