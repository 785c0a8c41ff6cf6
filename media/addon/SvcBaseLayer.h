// Converter from scalable H.264 (SVC, spatial "S264" or temporal "T264") to
// plain H.264: keeps the AVC-compatible base layer of each access unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/CSdkContract.h"

namespace harnway {

// Appends to `out` the NAL units of the Annex-B access unit `data` that a
// plain H.264 decoder reads: every unit but the SVC prefix (type 14), subset
// sequence parameter sets (15) and slice extensions (20). Each kept unit is
// written behind a four-byte start code. Bytes before the first start code
// are not a unit and are dropped. Returns the number of units kept.
size_t ExtractH264BaseLayer(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

class SvcBaseLayerConverter final : public CSDK::IMediaConverter2
{
public:
    explicit SvcBaseLayerConverter(MFF::IMultimediaFrameFactory* factory) : m_factory(factory) {}

    // An "H264" compressed buffer holding the base layer, or null when the
    // input is not SVC or carries no base-layer unit.
    MFF::IMultimediaBuffer* Convert(MFF::ICompressedBuffer* input, int32_t width) override;
    void Reset() override {}
    void Release() override { delete this; }
    bool IsSupported(MFF::ICompressedBuffer* input, int32_t width) override;

private:
    ~SvcBaseLayerConverter() = default;

    MFF::IMultimediaFrameFactory* m_factory;
    std::vector<uint8_t> m_work;
};

} // namespace harnway
