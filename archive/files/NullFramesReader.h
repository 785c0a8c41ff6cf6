#pragma once

#include "archive/files/FramesReader.h"

// Stands in while no file is open: opens nothing, reads nothing, reports
// all-zero times; never ready.
class NullFramesReader : public FramesReader {
public:
    bool Open(const std::string&, int32_t) override { return false; }
    void Close() override {}
    int64_t ReadFrameAtTime(VideoFrame&, const TSS&, bool, bool) override { return 0; }
    int64_t ReadFrame(VideoFrame&, uint64_t, bool, bool, double, bool) override { return 0; }
    TSS GetFrameTime(uint64_t) override { return TSS{}; }
    RecordInterval GetRecordInterval(const TSS&, bool) override { return {}; }
    int GetReaderType() const override { return 0; }
    int64_t ResetPlayClock() override { return 0; }
    void ClearIndex() override {}
    bool ReadIndex(int32_t) override { return true; }
};
