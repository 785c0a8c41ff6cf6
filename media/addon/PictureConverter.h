// Converter from a compressed video stream to planar YUV pictures, decoding
// through libavcodec. The codec is chosen by the input buffer's format name
// at the first frame (and again when the name changes).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "media/CSdkContract.h"

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
    MFF::IMultimediaBuffer* MakePicture(AVFrame* frame);

    MFF::IMultimediaFrameFactory* m_factory;
    std::string m_format;
    bool m_unsupported = false;
    AVCodecContext* m_context = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_packetData;
    std::deque<AVFrame*> m_pending;
    SwsContext* m_scaler = nullptr;
};

} // namespace harnway
