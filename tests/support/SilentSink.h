#pragma once
// A sound output with no device behind it: it cannot be opened, so the
// players run on their own clock and sound is only ever stopped.

#include <cstdint>

#include "playback/AudioSink.h"

namespace testsupport {

class SilentSink final : public filters::IAudioSink {
public:
    bool Create(const filters::AudioFormat&) override { return false; }
    bool Start() override { return false; }
    void Stop() override {}
    void Close() override {}
    int32_t BytesFree() override { return 0; }
    int32_t PeriodSize() override { return 0; }
    int64_t Write(const uint8_t*, int64_t) override { return -1; }
    int64_t ProcessedUSecs() override { return 0; }
    bool HasError() override { return false; }
    void SetVolume(double) override {}
};

}  // namespace testsupport
