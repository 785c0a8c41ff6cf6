// How the frame compressor reaches the wavelet encoders, which live in a
// library above it (media/): that library registers a maker here; the
// compressor asks for an encoder by format code. Without a registered maker
// the wavelet codes make no encoder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace wavelet {

class IWaveletEncoder
{
public:
    virtual ~IWaveletEncoder() = default;
    // Encodes a picture (Y, U, V planes in one block) into `out`, which holds
    // at least width x height x 2 + 64 bytes. Returns the bytes written
    // (the frame with its tag), 0 on failure. A picture may be changed by the
    // 3.5 encoder (its low-resolution marker bytes).
    virtual int Encode(uint8_t* picture, uint8_t* out, int qualityIndex, int colour, int key,
                       int extra) = 0;
};

// version: the format code ('n', 'o', 'v', 'w', 'z', '{'); outputFormat: -3
// for 4:2:0 pictures, 0 otherwise; variant: the 7.1 encoder flag. Null when
// the encoder cannot be made.
using WaveletEncoderMaker = std::function<std::unique_ptr<IWaveletEncoder>(
    int version, int width, int height, int outputFormat, int variant)>;

// Installs (or, with an empty maker, removes) the process's maker.
void RegisterWaveletEncoderMaker(WaveletEncoderMaker maker);

bool IsWaveletVersion(int version);

// An encoder of a wavelet code, or null (no maker, another code, or the
// encoder failed to build).
std::unique_ptr<IWaveletEncoder> CreateWaveletEncoder(int version, int width, int height,
                                                      int outputFormat, int variant = 0);

} // namespace wavelet
