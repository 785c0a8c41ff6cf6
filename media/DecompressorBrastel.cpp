#include "media/DecompressorBrastel.h"

#include <cstring>
#include <exception>
#include <optional>

#include "base/Log.h"
#include "base/frames/FormatTags.h"
#include "media/DecompressorBufferPool.h"
#include "media/QorBrastel.h"

namespace {

// Destroys an MFF buffer when the holder goes out of scope.
struct BufferDestroyer {
    template <class Buffer>
    void operator()(Buffer* buffer) const
    {
        buffer->Destroy();
    }
};
template <class Buffer>
using BufferHolder = std::unique_ptr<Buffer, BufferDestroyer>;

constexpr const char* kSvcInput = "S264";
constexpr const char* kSvctInput = "T264";
constexpr const char* kSvcCodec = "H264SvcEx";
constexpr const char* kSvctCodec = "H264SvctEx";
constexpr const char* kH264Output = "H264";

// Bytes behind the codec payload: the tag, and for the codecs with predicted
// frames also the key-frame flag in front of it.
uint32_t TailLength(int32_t code)
{
    return code == '8' || (code >= '?' && code <= 'F') ? 5 : 4;
}

// The tag of the allocator kind in the creation line. Frame memory on this
// platform comes from the plain heap allocator.
const char* AllocatorKind(MFF::IAllocator* allocator)
{
    return dynamic_cast<MFF::SimpleAllocator*>(allocator) ? "[PLAIN]" : "";
}

QorLog::CDebug* Logger()
{
    return getDefaultDebugInstance();
}

// The frame of a picture the add-on made, with the header of the frame it
// came from.
VideoFramePtr PictureFrame(BufferHolder<MFF::IMultimediaBuffer> result, const VideoFrame& header,
                           int& status)
{
    if (!result->QueryContract("MFF::IPlanarBuffer"))
        return nullptr;
    try {
        VideoFramePtr out(new VideoFrame(), false);
        out->CopyHeader(header);
        // A codec that reorders pictures hands back an earlier picture with its
        // own time stamp: the frame keeps the picture's time, not the input's.
        const uint64_t pictureTime = result->GetTimestamp();
        out->AttachBuffer(result.release());
        if (pictureTime != 0 && out->m_llTime != 0)
            out->m_llTime = int64_t(pictureTime);
        status = 0;
        return out;
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace

CDecompressorBrastel::CDecompressorBrastel(const std::string& preferredCodec)
    : m_main(std::make_shared<QorBrastel>(preferredCodec)),
      // Our readers of decoded frames follow each plane's own pitch: the
      // add-on may hand out its decoder's pictures by reference.
      m_factory(std::make_unique<MFF::MultimediaFrameFactory>(GetDecompressorBufferPool(), true))
{
    Logger()->Message("[DECOMPRESSOR][BRASTEL]%s Created decompressor for codec: %s",
                      AllocatorKind(MFF::GetFrameAllocator()), preferredCodec.c_str());
}

CDecompressorBrastel::~CDecompressorBrastel()
{
    // Converters make their output through the factory: they go first.
    for (auto* converter : {&m_main, &m_svc, &m_svct}) {
        if (*converter)
            (*converter)->ReleaseConverter();
        converter->reset();
    }
    m_factory.reset();
}

VideoFramePtr CDecompressorBrastel::ExtractWidth(VideoFrame* frame, int)
{
    return VideoFramePtr(frame);
}

void CDecompressorBrastel::Reset()
{
    for (auto* converter : {&m_main, &m_svc, &m_svct})
        if (*converter)
            (*converter)->ResetConverter();
}

void CDecompressorBrastel::FreeMemory()
{
    for (auto* converter : {&m_main, &m_svc, &m_svct})
        if (*converter)
            (*converter)->ReleaseConverter();
}

MFF::IMultimediaBuffer* CDecompressorBrastel::ConvertScalable(std::shared_ptr<QorBrastel>& converter,
                                                              const char* inputName,
                                                              const char* preferredCodec,
                                                              const uint8_t* data, uint32_t size,
                                                              int64_t timestamp, int key, int width)
{
    if (!data || size == 0)
        return nullptr;
    FakeAllocator view(const_cast<uint8_t*>(data), size);
    MFF::MultimediaFrameFactory viewFactory(&view);
    BufferHolder<MFF::ICompressedBuffer> input(
        viewFactory.CreateCompressedBuffer(inputName, size, uint64_t(timestamp), key));
    if (!input)
        return nullptr;
    try {
        if (!converter)
            converter = std::make_shared<QorBrastel>(preferredCodec);
    } catch (const std::exception&) {
        return nullptr;
    }
    return converter->Convert(input.get(), kH264Output, m_factory.get(), width);
}

MFF::IMultimediaBuffer* CDecompressorBrastel::ConvertSvcToH264(const uint8_t* data, uint32_t size,
                                                               int64_t timestamp, int key, int width)
{
    return ConvertScalable(m_svc, kSvcInput, kSvcCodec, data, size, timestamp, key, width);
}

MFF::IMultimediaBuffer* CDecompressorBrastel::ConvertSvctToH264(const uint8_t* data, uint32_t size,
                                                                int64_t timestamp, int key,
                                                                int width)
{
    return ConvertScalable(m_svct, kSvctInput, kSvctCodec, data, size, timestamp, key, width);
}

VideoFramePtr CDecompressorBrastel::ConvertToH264(VideoFrame* frame, int width)
{
    if (!frame || frame->m_nFormat != FrameFormatCompressed)
        return nullptr;
    const int32_t code = GetVideoFrameFormat(frame);
    if ((code != 'B' && code != 'C') || !frame->m_pData || frame->m_cbData <= TailLength(code))
        return nullptr;
    const uint32_t size = frame->m_cbData - TailLength(code);
    const int key = IsKeyFrame(frame);
    BufferHolder<MFF::IMultimediaBuffer> converted(
        code == 'B' ? ConvertSvcToH264(frame->m_pData, size, frame->GetTimestamp(), key, width)
                    : ConvertSvctToH264(frame->m_pData, size, frame->GetTimestamp(), key, width));
    auto* h264 = converted ? static_cast<MFF::ICompressedBuffer*>(
                                 converted->QueryContract("MFF::ICompressedBuffer"))
                           : nullptr;
    if (!h264 || !h264->GetData() || h264->GetSize() == 0)
        return nullptr;
    // The result is a compressed frame like any other: the payload followed by
    // the key flag and the H.264 tag, so it decodes through CDecompressor.
    try {
        VideoFramePtr out(new VideoFrame(), false);
        out->CopyHeader(*frame);
        const uint32_t payload = h264->GetSize();
        if (!out->AllocData(payload + 5))
            return nullptr;
        std::memcpy(out->m_pData, h264->GetData(), payload);
        out->m_pData[payload] = uint8_t(key);
        std::memcpy(out->m_pData + payload + 1, "H264", 4);
        out->m_cbData = payload + 5;
        out->m_nFormat = FrameFormatCompressed;
        out->m_bColor = frame->m_bColor;
        out->m_nWidth = frame->m_nWidth;
        out->m_nHeight = frame->m_nHeight;
        return out;
    } catch (const std::exception&) {
        return nullptr;
    }
}

VideoFramePtr CDecompressorBrastel::Decompress(VideoFrame* frame, int width, int& status)
{
    if (!frame)
        return nullptr;
    if (frame->m_nFormat != FrameFormatCompressed)
        return VideoFramePtr(frame);
    const int32_t code = GetVideoFrameFormat(frame);
    if (code == 0 || !m_main || code >= 'n')
        return nullptr;

    // The tag parser guarantees at least the tag; a frame whose size leaves
    // nothing in front of its tail has no picture to give.
    const uint32_t tail = TailLength(code);
    if (!frame->m_pData || frame->m_cbData <= tail) {
        Logger()->Warning("[DECOMPRESSOR][BRASTEL] Frame of %u bytes has no payload (chan=%d)",
                          frame->m_cbData, frame->m_nChan);
        return nullptr;
    }
    const uint8_t* payload = frame->m_pData;
    const uint32_t size = frame->m_cbData - tail;
    const int64_t timestamp = frame->GetTimestamp();
    const int key = IsKeyFrame(frame);
    std::string name = GetVideoFormatName(code);

    // The view allocator must outlive the buffer made over it.
    std::optional<FakeAllocator> view;
    BufferHolder<MFF::IMultimediaBuffer> converted;
    MFF::ICompressedBuffer* input = nullptr;
    if (name == "H264SVC" || name == "H264SVC-T") {
        const bool spatial = name == "H264SVC";
        converted.reset(spatial ? ConvertSvcToH264(payload, size, timestamp, key, width)
                                : ConvertSvctToH264(payload, size, timestamp, key, width));
        if (converted)
            input = static_cast<MFF::ICompressedBuffer*>(
                converted->QueryContract("MFF::ICompressedBuffer"));
        if (!input)
            Logger()->Message(spatial ? "Failed to convert H264SVC-->H264"
                                      : "Failed to convert H264SVCT-->H264");
        name = kH264Output;
    }
    BufferHolder<MFF::ICompressedBuffer> wrapped;
    if (!input) {
        if (code == 'B' || code == 'C' || name.empty())
            return nullptr;
        view.emplace(const_cast<uint8_t*>(payload), size);
        MFF::MultimediaFrameFactory viewFactory(&*view);
        wrapped.reset(viewFactory.CreateCompressedBuffer(name.c_str(), size, uint64_t(timestamp), key));
        input = wrapped.get();
        if (!input)
            return nullptr;
    }

    BufferHolder<MFF::IMultimediaBuffer> result(
        m_main->Convert(input, kPlanarOutput, m_factory.get(), width));
    wrapped.reset();
    converted.reset();
    m_lastInput = name;
    if (!m_lastHeader)
        m_lastHeader.reset(new VideoFrame(), false);
    m_lastHeader->CopyHeader(*frame);
    if (!result) {
        QOR_LOG_ERROR(Logger(), "Failed to convert media buffer from \"%s\" to \"%s\", width(%d), using Brastel.",
                      name.c_str(), kPlanarOutput, width);
        return nullptr;
    }
    return PictureFrame(std::move(result), *frame, status);
}

VideoFramePtr CDecompressorBrastel::Drain(int width)
{
    if (!m_main || m_lastInput.empty() || !m_lastHeader)
        return nullptr;
    // An empty buffer of the stream's format ends the stream at the add-on.
    uint8_t none = 0;
    FakeAllocator view(&none, 0);
    MFF::MultimediaFrameFactory viewFactory(&view);
    BufferHolder<MFF::ICompressedBuffer> end(
        viewFactory.CreateCompressedBuffer(m_lastInput.c_str(), 0, 0, 0));
    if (!end)
        return nullptr;
    BufferHolder<MFF::IMultimediaBuffer> result(
        m_main->Convert(end.get(), kPlanarOutput, m_factory.get(), width));
    end.reset();
    if (!result)
        return nullptr;
    int status = -1;
    return PictureFrame(std::move(result), *m_lastHeader, status);
}
