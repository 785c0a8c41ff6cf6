#include "media/Decompressor.h"

#include "base/frames/FormatTags.h"
#include "media/DecompressorBrastel.h"
#include "media/DecompressorImpl.h"
#include "media/DecompressorWavelet.h"

CDecompressor::CDecompressor() : m_decompressor(std::make_unique<CDecompressorEmpty>()) {}

CDecompressor::~CDecompressor() = default;

std::unique_ptr<DecompressFormat> CDecompressor::CreateDecompressor(int code)
{
    if (code >= '7' && code <= 'c')
        return std::make_unique<CDecompressorBrastel>(m_preferredCodec);
    switch (code) {
    case 'n':
    case 'o':
        return std::make_unique<CDecompressWavelet35>(code == 'n' ? FrameFormatYuv420 : FrameFormatYuv422OrGray);
    case 'v':
    case 'w':
        return std::make_unique<CDecompressorCorvane65>(code == 'v' ? FrameFormatYuv420 : FrameFormatYuv422OrGray);
    case 'z':
    case '{':
        return std::make_unique<CDecompressorCorvane71>(code == 'z' ? FrameFormatYuv420 : FrameFormatYuv422OrGray);
    default:
        return std::make_unique<CDecompressorImpl>();
    }
}

bool CDecompressor::SelectDecompressor(VideoFrame* frame)
{
    const int code = GetVideoFrameFormat(frame);
    if (code == 0)
        return false;
    if (code == m_nCurrentFormat)
        return true;
    m_nCurrentFormat = code;
    std::unique_ptr<DecompressFormat> next = CreateDecompressor(code);
    // The old decompressor (and the codec objects it holds) goes before the
    // new one is used.
    m_decompressor = std::move(next);
    return true;
}

VideoFramePtr CDecompressor::Decompress(VideoFrame* frame, int width)
{
    if (!frame)
        return nullptr;
    if (frame->m_nHeight < -1 || frame->m_nHeight > kMaxDimension || frame->m_nWidth < -1 ||
        frame->m_nWidth > kMaxDimension || frame->m_bColor < 0 || frame->m_nFormat < -3)
        return nullptr;

    SyncLock lock(m_lock);
    SelectDecompressor(frame);
    if (frame->m_nTotalFrames > 0)
        m_nLastFrameNumber = frame->m_nFrameNumber;
    int status = -1;
    VideoFramePtr decoded = m_decompressor->Decompress(frame, width, status);
    if (decoded)
        decoded->m_cbCompressed = frame->m_cbData;
    return decoded;
}

VideoFramePtr CDecompressor::Drain(int width)
{
    SyncLock lock(m_lock);
    return m_decompressor->Drain(width);
}

void CDecompressor::Reset()
{
    SyncLock lock(m_lock);
    m_nLastFrameNumber = -1;
    m_decompressor->Reset();
}

int CDecompressor::GetLastFrameNumber() const
{
    SyncLock lock(m_lock);
    return m_nLastFrameNumber;
}

void CDecompressor::SetLastFrameNumber(int frameNumber)
{
    SyncLock lock(m_lock);
    m_nLastFrameNumber = frameNumber;
}

int CDecompressor::GetCurrentFormat() const
{
    SyncLock lock(m_lock);
    return m_nCurrentFormat;
}

void CDecompressor::SetPreferredCodec(const std::string& name)
{
    SyncLock lock(m_lock);
    m_preferredCodec = name;
}
