// Frame format tags: every compressed frame (m_nFormat 1) ends with four bytes
// naming its codec. They map to a small integer format code (the character
// value: '7' is 55), and each code has a name, a decoder family, a key-frame
// rule and whether the codec has predicted frames.
//
// All functions are stateless and may run on any thread.
#pragma once

#include <cstdint>

#include <boost/intrusive_ptr.hpp>

class VideoFrame;

// Decoder families (GetVideoFormatFamily).
enum VideoFormatFamily : int
{
    FamilyNone = 0,
    FamilyPicture = 1,
    FamilyWavelet = 2,
    FamilyCodecPack = 3,
};

// The code of the tag in the last four bytes of `data`; 0 when data is null,
// length is below 5 or no tag matches. Does not log.
int32_t ParseVideoFormatTag(const uint8_t* data, uint32_t length);

// ParseVideoFormatTag, logging an error when the code is 0.
int32_t GetVideoFormat(const uint8_t* data, const uint32_t* length);

// The code of a compressed frame; 0 for null or non-compressed frames. An
// unknown tag also logs a warning naming the frame.
int32_t GetVideoFrameFormat(const VideoFrame* frame);

// The codec name of a code ("MJPEG", "H264", ...); "" for codes without one.
// The pointer is to a constant string.
const char* GetVideoFormatName(int32_t code);

// Family of a code alone.
int GetVideoFormatCodeFamily(int32_t code);
// 1 for a frame that is not compressed; else the family of its code.
int GetVideoFormatFamily(const VideoFrame* frame);

// Whether the codec of `code` has predicted (difference) frames.
bool IsInterFrameCode(int32_t code);

// 1 when the compressed frame is a key frame of its format, else 0 (also for
// null, non-compressed or data-less frames).
int IsKeyFrame(const VideoFrame* frame);

// 1 when the frame is compressed, has data and its codec has predicted frames.
int IsInterFrameFormat(const VideoFrame* frame);

// A new frame (the caller holds its one reference) with every field of
// `frame` but the data. For the wavelet codes the data is the whole key frame
// (as long as its stored length word says) followed by `frame`'s data, marked
// as a complex frame so the decoder decodes the key part first; for any other
// code, or a key frame without data or with a zero length word, the copy has
// no data. Returns null when `frame` is null.
boost::intrusive_ptr<VideoFrame> MakeFrameWithKeyHeader(const VideoFrame* keyFrame,
                                                       const VideoFrame* frame);
