#pragma once
// Where the audio player's sound goes: an output fed in push mode with whole
// periods of interleaved PCM, which reports how much of it has been played.
// The audio thread alone uses a sink, from creation to Close.

#include <cstdint>
#include <memory>

namespace filters {

struct AudioFormat {
    int32_t channels = 0;
    int32_t sampleRate = 0;
    int32_t bytesPerSample = 0;
    bool isSigned = false;

    bool operator==(const AudioFormat&) const = default;
};

class IAudioSink {
public:
    virtual ~IAudioSink() = default;

    // Makes an output for this format, dropping any earlier one (started or
    // not). False when no output can play the format.
    virtual bool Create(const AudioFormat& format) = 0;
    // Starts the push device of the created output; false when it cannot.
    // Playback counting (ProcessedUSecs) starts again at every start.
    virtual bool Start() = 0;
    // Stops the output and forgets its device; the output itself stays.
    virtual void Stop() = 0;
    // Stops and drops the output.
    virtual void Close() = 0;

    virtual int32_t BytesFree() = 0;
    virtual int32_t PeriodSize() = 0;
    // Bytes taken by the device; below 0 on an error.
    virtual int64_t Write(const uint8_t* data, int64_t size) = 0;
    // Microseconds of sound played since the start.
    virtual int64_t ProcessedUSecs() = 0;
    // The output has failed since it started (device lost, fatal error).
    virtual bool HasError() = 0;
    virtual void SetVolume(double volume) = 0;
};

// The system's default sound output through Qt Multimedia (QAudioOutput in
// push mode).
std::unique_ptr<IAudioSink> MakeQtAudioSink();

}  // namespace filters
