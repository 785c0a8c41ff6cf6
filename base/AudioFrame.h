// AudioFrame: a compressed audio frame (class "AudioFrame", schema 3).
// Reference-counted like every CNetObject; the last Release frees the data.
#pragma once

#include <cstdint>
#include <string>

#include <boost/intrusive_ptr.hpp>

#include "base/NetObject.h"
#include "base/Tss.h"

namespace platform {
class Archive;
}

class AudioFrame : public CNetObject
{
public:
    static constexpr unsigned kSchema = 3;

    // Zero header values, no data, m_tssTime the current local time.
    AudioFrame();
    ~AudioFrame() override;

    AudioFrame(const AudioFrame&) = delete;
    AudioFrame& operator=(const AudioFrame&) = delete;

    // Storing always writes schema 3. Loading follows the schema the archive
    // reports for the stored object: 3 full, 2 without the time stamp, 1 the
    // short form; any other schema reads nothing.
    void Serialize(platform::Archive& ar) override;
    const char* GetClassName() const override { return "AudioFrame"; }
    unsigned GetSchema() const override { return kSchema; }

    // Replaces the data by `size` bytes (new[]); returns the data pointer.
    uint8_t* AllocData(uint32_t size);
    void FreeData();

    // Header values, in member order (their meaning belongs to the sender).
    int32_t m_nA = 0;
    int32_t m_nB = 0;
    int32_t m_nC = 0;
    int32_t m_nD = 0;
    int32_t m_nE = 0;
    uint8_t m_code[4] = {0, 0, 0, 0};
    std::string m_strText;
    int32_t m_nF = 0;
    TSS m_tssTime{};
    uint32_t m_cbData = 0;
    uint8_t* m_pData = nullptr; // owned (new[])
};

using AudioFramePtr = boost::intrusive_ptr<AudioFrame>;
