// Converter from a compressed video stream to planar YUV pictures, decoding
// through libavcodec. The codec is chosen by the input buffer's format name
// at the first frame (and again when the name changes).
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "media/CSdkContract.h"

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace harnway {

// The libavcodec decoder for an input format name; 0 (AV_CODEC_ID_NONE) when
// the add-on has no decoder for it.
int DecoderIdForFormat(const char* format);

class PictureConverter final : public CSDK::IMediaConverter2
{
public:
    // `factory` makes the output pictures and must outlive the converter.
    explicit PictureConverter(MFF::IMultimediaFrameFactory* factory);

    // Decodes one compressed frame. The result is the next picture in display
    // order: a codec that reorders pictures holds the first ones back (null
    // result) and then delivers each picture with its own time stamp. An
    // input of size 0 ends the stream and gives the pictures held back, one a
    // call.
    MFF::IMultimediaBuffer* Convert(MFF::ICompressedBuffer* input, int32_t width) override;
    void Reset() override;
    void Release() override;
    bool IsSupported(MFF::ICompressedBuffer* input, int32_t width) override;

private:
    ~PictureConverter();

    bool Open(const char* format);
    void Close();
    bool SendPacket(const uint8_t* data, uint32_t size, uint64_t timestamp, bool key);
    // Moves every picture the decoder has ready into m_pending.
    bool DrainDecoder();
    // The picture of `frame` as the factory's planar buffer. Takes the frame
    // over: it is freed, or lives on inside the picture handed out by
    // reference.
    MFF::IMultimediaBuffer* MakePicture(AVFrame* frame);
    // The frame's own planes by reference (the frame is taken over and set to
    // null), or null for a layout or planes that cannot go out that way.
    MFF::IMultimediaBuffer* PictureOf(AVFrame*& frame);
    // A packed copy made through the factory, brought to 4:2:0 where the
    // layout is not one of the program's.
    MFF::IMultimediaBuffer* CopyOf(const AVFrame* frame);

    MFF::IMultimediaFrameFactory* m_factory;
    // The host reads pictures through their own plane pitches: the decoder's
    // pictures go out by reference instead of being copied.
    bool m_byReference;
    std::string m_format;
    bool m_unsupported = false;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    // Padded copy of the frame being decoded; reused while the decoder holds
    // no reference to it.
    AVBufferRef* m_packetBuffer = nullptr;
    std::deque<AVFrame*> m_pending;
    SwsContext* m_scaler = nullptr;
};

} // namespace harnway
