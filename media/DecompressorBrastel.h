// CDecompressorBrastel: the decompressor of the codec add-on's format codes
// ('7' to 'c': MJPEG, MPEG-4, H.263, H.264 and its scalable kinds, H.265,
// MPEG-2 ...). Each compressed frame is handed to the add-on as a compressed
// buffer viewing the frame's own bytes; the planar picture that comes back
// becomes the decoded frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/frames/Mff.h"
#include "media/DecompressorFormat.h"

class QorBrastel;

// An allocator over memory the caller already owns: every Allocate returns
// that memory, Free only forgets it. A factory over it makes compressed
// buffers that are views of existing bytes.
class FakeAllocator : public MFF::IAllocator
{
public:
    FakeAllocator(void* buffer, uint32_t size) : m_buffer(buffer), m_size(size) {}
    void* Allocate(uint32_t) override { return m_buffer; }
    void Free(void*) override { Forget(); }
    virtual ~FakeAllocator() { Forget(); }

    void* GetBuffer() const { return m_buffer; }
    uint32_t GetSize() const { return m_size; }

private:
    void Forget()
    {
        m_buffer = nullptr;
        m_size = 0;
    }

    void* m_buffer;
    uint32_t m_size;
};

class CDecompressorBrastel final : public DecompressFormat
{
public:
    // Output name asked of the add-on: planar YUV 4:2:0 or 4:2:2.
    static constexpr const char* kPlanarOutput = "YUV4xx";

    explicit CDecompressorBrastel(const std::string& preferredCodec);
    ~CDecompressorBrastel() override;

    // The decoded picture of a compressed frame, or null (no code, no add-on,
    // a frame with no payload, a conversion failure). A frame that is not
    // compressed comes back as it is, with one more reference.
    VideoFramePtr Decompress(VideoFrame* frame, int width, int& status) override;
    VideoFramePtr ExtractWidth(VideoFrame* frame, int width) override;
    // A scalable H.264 frame ('B' or 'C') as a compressed plain H.264 frame;
    // null for other codes or when the conversion fails.
    VideoFramePtr ConvertToH264(VideoFrame* frame, int width) override;
    void Reset() override;
    // Pictures the add-on holds back at the end of the stream (an empty input
    // of the last format decoded).
    VideoFramePtr Drain(int width) override;
    void FreeMemory() override;
    int GetOutputFormat() override { return 0; }

    // The base layer of a scalable H.264 payload as a plain H.264 buffer (the
    // caller owns it), or null. Spatial ("S264") and temporal ("T264") streams
    // each have a converter of their own.
    MFF::IMultimediaBuffer* ConvertSvcToH264(const uint8_t* data, uint32_t size, int64_t timestamp,
                                             int key, int width);
    MFF::IMultimediaBuffer* ConvertSvctToH264(const uint8_t* data, uint32_t size,
                                              int64_t timestamp, int key, int width);

private:
    MFF::IMultimediaBuffer* ConvertScalable(std::shared_ptr<QorBrastel>& converter,
                                            const char* inputName, const char* preferredCodec,
                                            const uint8_t* data, uint32_t size, int64_t timestamp,
                                            int key, int width);

    std::shared_ptr<QorBrastel> m_main;
    std::shared_ptr<QorBrastel> m_svc;
    std::shared_ptr<QorBrastel> m_svct;
    std::unique_ptr<MFF::MultimediaFrameFactory> m_factory;
    // The add-on's input name and the header of the last frame decoded: a
    // picture drained at the end of the stream carries them.
    std::string m_lastInput;
    VideoFramePtr m_lastHeader;
};
