#include "media/DecompressorImpl.h"

#include <unistd.h>

#include <cstdint>

#include "base/Log.h"
#include "base/Registry.h"
#include "base/frames/FormatTags.h"

namespace {

constexpr const char* kVideoKey = "SOFTWARE\\QOR\\Vindara\\Video";

unsigned ObjectId(const void* object)
{
    return unsigned(reinterpret_cast<uintptr_t>(object));
}

} // namespace

const DecompressorDebugSwitches& GetDecompressorDebugSwitches()
{
    static const DecompressorDebugSwitches switches = [] {
        DecompressorDebugSwitches s;
        RegistryKey key(kVideoKey, false, RegistryKey::kRead | RegistryKey::kWow64_32Key);
        if (key.IsOpen()) {
            s.checkInputFrame = key.ReadInt("CheckInputFrame", 0) != 0;
            s.checkOutputFrame = key.ReadInt("CheckOutputFrame", 0) != 0;
            s.checkCrc = key.ReadInt("CheckCRC", 0) != 0;
            s.extractWidth = key.ReadInt("ExtractWidth", 1) != 0;
        }
        return s;
    }();
    return switches;
}

bool ProbeFrameBuffer(const uint8_t* data, uint32_t size)
{
    return data != nullptr && size > 0;
}

CDecompressorImpl::CDecompressorImpl()
{
    getDefaultDebugInstance()->Trace("CDecompressor 0x%08X created", ObjectId(this));
}

CDecompressorImpl::~CDecompressorImpl()
{
    FreeMemory();
    getDefaultDebugInstance()->Trace("CDecompressor 0x%08X removed", ObjectId(this));
}

void CDecompressorImpl::FreeMemory()
{
    getDefaultDebugInstance()->PrintRaw("FREEMEMORY in Decompressor (0x%08x) by thread %04d\n",
                                        ObjectId(this), int(gettid()));
}

VideoFramePtr CDecompressorImpl::Decompress(VideoFrame* frame, int, int& status)
{
    if (!frame || frame->m_nFormat != FrameFormatCompressed)
        return nullptr;
    const int32_t code = GetVideoFrameFormat(frame);
    if (code == 0)
        return nullptr;
    if ((code >= '7' && code <= 'c') || code == 'v' || code == 'w' || code == 'z' || code == '{') {
        status = 0;
        return nullptr;
    }
    if (frame->m_nWidth >= 1 || frame->m_nHeight >= 1) {
        if (GetDecompressorDebugSwitches().checkInputFrame &&
            !ProbeFrameBuffer(frame->m_pData, frame->m_cbData))
            QOR_LOG_ERROR(getDefaultDebugInstance(),
                          "Invalid compressed buffer for frame %s, chan=%d, m_nHeight=%d, m_nWidth=%d, m_nFormat=%d, ver=%d",
                          frame->m_strName.c_str(), frame->m_nChan, frame->m_nHeight,
                          frame->m_nWidth, frame->m_nFormat, code);
    }
    return nullptr;
}
