#include "base/AudioFrame.h"

#include <algorithm>
#include <cstdio>

#include "platform/Archive.h"
#include "platform/File.h"

namespace {

// Data moves through archives in pieces of at most this many bytes.
constexpr size_t kPiece = 30720;

void WriteTime(platform::Archive& ar, const TSS& t)
{
    ar << t.wYear << t.wMonth << t.wDay << t.wHour << t.wMinute << t.wSecond << t.dwMilliseconds;
}

void ReadTime(platform::Archive& ar, TSS& t)
{
    ar >> t.wYear >> t.wMonth >> t.wDay >> t.wHour >> t.wMinute >> t.wSecond >> t.dwMilliseconds;
}

} // namespace

AudioFrame::AudioFrame() { m_tssTime.SetLocalNow(); }

AudioFrame::~AudioFrame() { FreeData(); }

uint8_t* AudioFrame::AllocData(uint32_t size)
{
    FreeData();
    if (size > 0)
        m_pData = new uint8_t[size];
    m_cbData = size;
    return m_pData;
}

void AudioFrame::FreeData()
{
    delete[] m_pData;
    m_pData = nullptr;
}

void AudioFrame::Serialize(platform::Archive& ar)
{
    if (ar.IsStoring()) {
        ar << m_nA << m_nC << m_nD << m_nB << m_nE;
        WriteTime(ar, m_tssTime);
        ar.Write(m_code, sizeof m_code);
        ar << m_strText << m_nF << m_cbData;
        for (uint32_t done = 0; done < m_cbData;) {
            const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kPiece, m_cbData - done));
            ar.Write(m_pData + done, piece);
            done += piece;
        }
        return;
    }

    const unsigned schema = ar.GetObjectSchema();
    if (schema == 3 || schema == 2) {
        ar >> m_nA >> m_nC >> m_nD >> m_nB >> m_nE;
        if (schema == 3)
            ReadTime(ar, m_tssTime);
        ar.Read(m_code, sizeof m_code);
        ar >> m_strText >> m_nF;
    } else if (schema == 1) {
        ar >> m_nA >> m_nC >> m_nD >> m_nE >> m_nF;
    } else {
        return;
    }
    uint32_t size = 0;
    ar >> size;
    // A size beyond the stored bytes is damage, not a request for memory.
    if (size > ar.Remaining()) {
        char text[96];
        std::snprintf(text, sizeof text, "AudioFrame bad data size = %u", size);
        ar.ThrowFormatError(text);
    }
    AllocData(size);
    for (uint32_t done = 0; done < size;) {
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(kPiece, size - done));
        ar.Read(m_pData + done, piece);
        done += piece;
    }
}
