// Makes the wavelet encoders of media/Wavelet.h available to the frame
// compressor (imaging/jpeg/WaveletEncoderFactory.h). Done once at start-up
// by the media library itself; calling it again does no harm.
#pragma once

namespace wavelet {
void RegisterWaveletEncoders();
}
