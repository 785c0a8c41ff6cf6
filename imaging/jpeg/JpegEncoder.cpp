#include "imaging/jpeg/JpegEncoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "imaging/primitives/AlignedMemory.h"
#include "imaging/primitives/ChromaRows.h"
#include "imaging/primitives/CpuDispatch.h"
#include "imaging/primitives/ForwardDct.h"
#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/HuffmanProgressive.h"
#include "imaging/primitives/HuffmanStatistics.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/JpegColor.h"
#include "imaging/primitives/Lossless.h"
#include "imaging/primitives/PackedYuv.h"
#include "imaging/primitives/VectorOps.h"

namespace Code = JpegStatusCode;

namespace {

constexpr std::int32_t kWriterCapacity = 4096;

// Progressive scan scripts by component count: components, indexes, Ss, Se,
// Ah, Al.
constexpr JpegProgressiveScan kScript1[] = {
    {1, {0}, 0, 0, 0, 1}, {1, {0}, 1, 5, 0, 2},  {1, {0}, 6, 63, 0, 2},
    {1, {0}, 1, 63, 2, 1}, {1, {0}, 0, 0, 1, 0}, {1, {0}, 1, 63, 1, 0},
};
constexpr JpegProgressiveScan kScript3[] = {
    {3, {0, 1, 2}, 0, 0, 0, 1}, {1, {0}, 1, 5, 0, 2},  {1, {2}, 1, 63, 0, 1}, {1, {1}, 1, 63, 0, 1},
    {1, {0}, 6, 63, 0, 2},      {1, {0}, 1, 63, 2, 1}, {3, {0, 1, 2}, 0, 0, 1, 0}, {1, {2}, 1, 63, 1, 0},
    {1, {1}, 1, 63, 1, 0},      {1, {0}, 1, 63, 1, 0},
};

inline std::int64_t Offset(std::int64_t row, std::int64_t step)
{
    return row * step;
}

}  // namespace

CJPEGEncoder::CJPEGEncoder() = default;

CJPEGEncoder::~CJPEGEncoder()
{
    AlignedFree(coefficients_);
    delete[] scanScript_;
}

bool CJPEGEncoder::LumaChroma() const
{
    return (colour_ == JpegColorYCbCr || colour_ == JpegColorYcck) && components_ > 1;
}

JpegStatus CJPEGEncoder::SetSource(const std::uint8_t* data, std::int32_t step, ImageSize size, std::int32_t channels,
                                   JpegColor colour, JpegSampling sampling, std::int32_t precision)
{
    std::memset(sourcePlanes_, 0, sizeof(sourcePlanes_));
    std::memset(sourceSteps_, 0, sizeof(sourceSteps_));
    sourcePlanes_[0] = data;
    sourceSteps_[0] = step;
    sourceSize_ = size;
    sourceChannels_ = channels;
    sourceColour_ = colour;
    sourceSampling_ = sampling;
    sourcePrecision_ = precision;
    planar_ = 0;
    return Code::Ok;
}

JpegStatus CJPEGEncoder::SetSourcePlanar(const std::uint8_t* const planes[4], const std::int32_t steps[4],
                                         ImageSize size, std::int32_t channels, JpegColor colour,
                                         JpegSampling sampling, std::int32_t precision)
{
    if (colour != JpegColorYCbCr && sampling != JpegSampling420)
        return Code::NotSupported;
    if (planes == nullptr || steps == nullptr)
        return Code::BadParameter;
    for (int i = 0; i < 4; ++i) {
        sourcePlanes_[i] = planes[i];
        sourceSteps_[i] = steps[i];
    }
    sourceSize_ = size;
    sourceChannels_ = channels;
    sourceColour_ = colour;
    sourceSampling_ = sampling;
    sourcePrecision_ = precision;
    planar_ = 1;
    return Code::Ok;
}

JpegStatus CJPEGEncoder::SetDestination(CBaseStreamOutput* stream)
{
    return writer_.Attach(stream);
}

JpegStatus CJPEGEncoder::SetParams(JpegMode mode, JpegColor colour, JpegSampling sampling,
                                   std::int32_t restartInterval, std::int32_t optimiseHuffman, std::int32_t quality)
{
    optimiseHuffman_ = optimiseHuffman;
    precision_ = sourcePrecision_;
    mode_ = mode;
    colour_ = colour;
    sampling_ = sampling;
    restartInterval_ = restartInterval;
    quality_ = quality;
    restartsToGo_ = restartInterval;

    if (restartInterval < 0 || restartInterval > 65535)
        return Code::BadParameter;  // the DRI segment holds it in 16 bits
    JpegStatus status = SetGeometry();
    if (status != Code::Ok)
        return status;

    switch (colour) {
    case JpegColorGrey:
        components_ = 1;
        break;
    case JpegColorRgb:
    case JpegColorYCbCr:
        components_ = 3;
        break;
    case JpegColorCmyk:
    case JpegColorYcck:
        components_ = 4;
        break;
    default:
        components_ = sourceChannels_ < 0 ? 0 : sourceChannels_ > 4 ? 4 : sourceChannels_;
        break;
    }
    const bool lumaChroma = LumaChroma();

    // 8-bit samples in the extended process use the 8-bit tables and
    // transform of baseline; only its Huffman tables differ.
    const bool eightBit = mode == JpegModeBaseline || mode == JpegModeProgressive ||
                          (mode == JpegModeExtended && precision_ <= 8);
    if (mode == JpegModeExtended && precision_ > 8 && components_ > 1 && sampling != JpegSampling444)
        return Code::BadParameter;  // 16-bit samples are not down-sampled
    if (eightBit) {
        if ((status = quantTable_[0].Init8(0, kStandardLuminanceQuant, quality)) != Code::Ok)
            return status;
        if (lumaChroma && (status = quantTable_[1].Init8(1, kStandardChrominanceQuant, quality)) != Code::Ok)
            return status;
        const int tables = mode == JpegModeExtended ? components_ : lumaChroma ? 2 : 1;
        for (int t = 0; t < tables; ++t) {
            if ((status = dcTable_[t].Create()) != Code::Ok || (status = acTable_[t].Create()) != Code::Ok)
                return status;
            if (mode == JpegModeBaseline) {
                const StandardHuffmanTable& dc = t == 0 ? kStandardDcLuminance : kStandardDcChrominance;
                const StandardHuffmanTable& ac = t == 0 ? kStandardAcLuminance : kStandardAcChrominance;
                if ((status = dcTable_[t].Init(t, 0, dc.bits, dc.values)) != Code::Ok ||
                    (status = acTable_[t].Init(t, 1, ac.bits, ac.values)) != Code::Ok)
                    return status;
            }
        }
    } else if (mode == JpegModeExtended) {
        std::uint16_t wide[64];
        for (int i = 0; i < 64; ++i)
            wide[i] = kStandardLuminanceQuant[i];
        if ((status = quantTable_[0].Init16(0, wide, quality)) != Code::Ok)
            return status;
        if (lumaChroma) {
            for (int i = 0; i < 64; ++i)
                wide[i] = kStandardChrominanceQuant[i];
            if ((status = quantTable_[1].Init16(1, wide, quality)) != Code::Ok)
                return status;
        }
        for (int i = 0; i < components_; ++i)
            if ((status = dcTable_[i].Create()) != Code::Ok || (status = acTable_[i].Create()) != Code::Ok)
                return status;
    } else if (mode == JpegModeLossless) {
        // Every component 1x1, rows of the image width, restarts at row
        // starts only; tables from the statistics of the differences.
        sampling_ = JpegSampling444;
        if (precision_ < 2 || precision_ > 16 || restartInterval % sourceSize_.width != 0)
            return Code::BadParameter;
        for (int i = 0; i < components_; ++i)
            if ((status = dcTable_[i].Create()) != Code::Ok)
                return status;
    } else {
        return Code::BadParameter;
    }

    for (int i = 0; i < 4; ++i) {
        const std::int32_t id = lumaChroma && (i == 1 || i == 2) ? 1 : 0;
        component_[i].quantTableId = id;
        component_[i].dcTableId = id;
        component_[i].acTableId = id;
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::SetGeometry()
{
    // The frame header holds the size in 16 bits; the 8-bit processes'
    // buffers hold one byte per sample.
    if (sourceSize_.width < 1 || sourceSize_.width > 65535 || sourceSize_.height < 1 || sourceSize_.height > 65535)
        return Code::BadParameter;
    if ((mode_ == JpegModeBaseline || mode_ == JpegModeProgressive) && sourcePrecision_ > 8)
        return Code::BadParameter;
    mcuWidth_ = sampling_ != JpegSampling444 ? 16 : 8;
    mcuHeight_ = sampling_ == JpegSampling420 ? 16 : 8;
    mcuColumns_ = (sourceSize_.width + mcuWidth_ - 1) / mcuWidth_;
    mcuRows_ = (sourceSize_.height + mcuHeight_ - 1) / mcuHeight_;
    return Code::Ok;
}

// ---------------------------------------------------------------------------
// Header.

JpegStatus CJPEGEncoder::PrepareEncoderBuffers()
{
    // Again from the source as it is now: a source set after SetParams must
    // not meet buffers sized for another image.
    JpegStatus status = SetGeometry();
    if (status != Code::Ok)
        return status;
    workers_ = 1;
    mcuRowLines_ = mcuHeight_;
    paddedWidth_ = mcuColumns_ * mcuWidth_;
    padColumns_ = paddedWidth_ - sourceSize_.width;
    padRows_ = mcuRows_ * mcuHeight_ - sourceSize_.height;
    blocksPerMcu_ = 0;
    for (int i = 0; i < components_; ++i) {
        CJPEGColorComponent& c = component_[i];
        const bool first = i == 0 || i == 3;
        c.id = i;
        c.index = i;
        c.hSampling = sampling_ != JpegSampling444 && first ? 2 : 1;
        c.vSampling = sampling_ == JpegSampling420 && first ? 2 : 1;
        c.hScale = sampling_ != JpegSampling444 && !first ? 2 : 1;
        c.vScale = sampling_ == JpegSampling420 && !first ? 2 : 1;
        c.blocksPerMcu = c.hSampling * c.vSampling;
        blocksPerMcu_ += c.blocksPerMcu;
        c.mcuRowLines = mcuHeight_;
        switch (mode_) {
        case JpegModeBaseline:
        case JpegModeProgressive:
            c.fullStep = paddedWidth_;
            break;
        case JpegModeExtended:
            c.fullStep = precision_ > 8 ? paddedWidth_ * 2 : paddedWidth_;
            break;
        case JpegModeLossless:
            c.fullStep = paddedWidth_ * 2;
            break;
        default:
            return Code::BadParameter;
        }
        c.sampledLines = c.mcuRowLines / c.vScale;
        c.sampledStep = c.fullStep / c.hScale;
        if ((status = c.AllocateFull(workers_)) != Code::Ok || (status = c.AllocateSampled(workers_)) != Code::Ok)
            return status;
    }

    if (mode_ == JpegModeProgressive && (status = BuildScanScript()) != Code::Ok)
        return status;

    std::int64_t bytes = 0;
    const std::int64_t rowBytes = static_cast<std::int64_t>(mcuColumns_) * blocksPerMcu_ * 128;
    if (mode_ == JpegModeBaseline)
        bytes = OptimisedBaseline() ? rowBytes * mcuRows_ : rowBytes;
    else if (mode_ == JpegModeExtended)
        bytes = rowBytes * mcuRows_;  // the statistics and the scan share the coefficients
    else if (mode_ == JpegModeProgressive)
        bytes = rowBytes * mcuRows_;
    if (bytes > INT32_MAX)
        return Code::NoMemory;
    // A buffer from an earlier, smaller image is not reused.
    if (bytes > 0 && (coefficients_ == nullptr || coefficientBytes_ < bytes)) {
        AlignedFree(coefficients_);
        coefficientBytes_ = 0;
        coefficients_ = static_cast<std::int16_t*>(AlignedMalloc(static_cast<std::int32_t>(bytes)));
        if (coefficients_ == nullptr)
            return Code::NoMemory;
        std::memset(coefficients_, 0, static_cast<std::size_t>(bytes));
        coefficientBytes_ = static_cast<std::int32_t>(bytes);
    }

    if ((status = writer_.Init(kWriterCapacity)) != Code::Ok)
        return status;
    return huffmanState_.Create();
}

JpegStatus CJPEGEncoder::BuildScanScript()
{
    delete[] scanScript_;
    scanScript_ = nullptr;
    scanCount_ = 0;
    if (components_ == 1) {
        scanCount_ = 6;
        scanScript_ = new JpegProgressiveScan[6];
        std::memcpy(scanScript_, kScript1, sizeof(kScript1));
    } else if (components_ == 3) {
        scanCount_ = 10;
        scanScript_ = new JpegProgressiveScan[10];
        std::memcpy(scanScript_, kScript3, sizeof(kScript3));
    } else if (components_ == 4) {
        scanCount_ = 18;
        scanScript_ = new JpegProgressiveScan[18];
        int n = 0;
        scanScript_[n++] = {4, {0, 1, 2, 3}, 0, 0, 0, 1};
        for (int pass = 0; pass < 3; ++pass) {
            static constexpr std::int32_t kBands[3][4] = {{1, 5, 0, 2}, {6, 63, 0, 2}, {1, 63, 2, 1}};
            for (int c = 0; c < 4; ++c)
                scanScript_[n++] = {1, {c}, kBands[pass][0], kBands[pass][1], kBands[pass][2], kBands[pass][3]};
        }
        scanScript_[n++] = {4, {0, 1, 2, 3}, 0, 0, 1, 0};
        for (int c = 0; c < 4; ++c)
            scanScript_[n++] = {1, {c}, 1, 63, 1, 0};
    } else {
        return Code::NotSupported;
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::WriteMarker(std::uint8_t code)
{
    const JpegStatus status = writer_.WriteByte(0xFF);
    return status != Code::Ok ? status : writer_.WriteByte(code);
}

JpegStatus CJPEGEncoder::WriteSoi()
{
    return WriteMarker(0xD8);
}

JpegStatus CJPEGEncoder::WriteApp0()
{
    static constexpr std::uint8_t kBody[] = {0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02,
                                             0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    JpegStatus status = WriteMarker(0xE0);
    for (std::size_t i = 0; i < sizeof(kBody) && status == Code::Ok; ++i)
        status = writer_.WriteByte(kBody[i]);
    return status;
}

JpegStatus CJPEGEncoder::WriteApp14()
{
    const std::uint8_t transform = colour_ == JpegColorYCbCr ? 1 : colour_ == JpegColorYcck ? 2 : 0;
    const std::uint8_t body[] = {0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, transform};
    JpegStatus status = WriteMarker(0xEE);
    for (std::size_t i = 0; i < sizeof(body) && status == Code::Ok; ++i)
        status = writer_.WriteByte(body[i]);
    return status;
}

JpegStatus CJPEGEncoder::WriteCom()
{
    char banner[128];
    const char* text = comment_;
    if (text == nullptr) {
        const LibraryVersion* version = GetJpegLibraryVersion();
        std::snprintf(banner, sizeof(banner), "Gavex Imglib JPEG encoder [%d.%d.%d] - %s", version->major,
                      version->minor, version->build, version->buildDate);
        text = banner;
    }
    const std::size_t length = std::strlen(text);
    if (length + 3 > 65535)
        return Code::BadParameter;
    JpegStatus status = WriteMarker(0xFE);
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(length + 3));
    for (std::size_t i = 0; i <= length && status == Code::Ok; ++i)
        status = writer_.WriteByte(static_cast<std::uint8_t>(text[i]));  // the text and its zero byte
    return status;
}

JpegStatus CJPEGEncoder::WriteDqt(const CJPEGEncoderQuantTable& table)
{
    const bool wide = table.Precision() != 0;
    JpegStatus status = WriteMarker(0xDB);
    if (status == Code::Ok)
        status = writer_.WriteWord(wide ? 131 : 67);
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>((table.Precision() << 4) + table.Id()));
    for (int i = 0; i < 64 && status == Code::Ok; ++i)
        status = wide ? writer_.WriteWord(table.Raw16()[i]) : writer_.WriteByte(table.Raw8()[i]);
    return status;
}

JpegStatus CJPEGEncoder::WriteSof()
{
    if (mode_ < JpegModeBaseline || mode_ > JpegModeLossless)
        return Code::BadParameter;
    const std::int32_t precision =
        mode_ == JpegModeBaseline || mode_ == JpegModeProgressive ? 8 : precision_;
    JpegStatus status = WriteMarker(static_cast<std::uint8_t>(0xC0 + mode_ - 1));
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(8 + 3 * components_));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>(precision));
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(sourceSize_.height));
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(sourceSize_.width));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>(components_));
    for (int i = 0; i < components_ && status == Code::Ok; ++i) {
        const CJPEGColorComponent& c = component_[i];
        status = writer_.WriteByte(static_cast<std::uint8_t>(c.index));
        if (status == Code::Ok)
            status = writer_.WriteByte(static_cast<std::uint8_t>((c.hSampling << 4) + c.vSampling));
        if (status == Code::Ok)
            status = writer_.WriteByte(static_cast<std::uint8_t>(c.quantTableId));
    }
    return status;
}

JpegStatus CJPEGEncoder::WriteDht(const CJPEGEncoderHuffmanTable& table)
{
    const std::int32_t count = table.ValueCount();
    JpegStatus status = WriteMarker(0xC4);
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(19 + count));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>((table.Class() << 4) + table.Id()));
    for (int i = 0; i < 16 && status == Code::Ok; ++i)
        status = writer_.WriteByte(table.Bits()[i]);
    for (int i = 0; i < count && status == Code::Ok; ++i)
        status = writer_.WriteByte(table.Values()[i]);
    return status;
}

JpegStatus CJPEGEncoder::WriteDri()
{
    JpegStatus status = WriteMarker(0xDD);
    if (status == Code::Ok)
        status = writer_.WriteWord(4);
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(restartInterval_));
    restartsToGo_ = restartInterval_;
    restartCounter_ = 0;
    return status;
}

JpegStatus CJPEGEncoder::WriteSos(std::int32_t count, const std::int32_t* indexes)
{
    JpegStatus status = WriteMarker(0xDA);
    if (status == Code::Ok)
        status = writer_.WriteWord(static_cast<std::uint16_t>(6 + 2 * count));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>(count));
    for (int i = 0; i < count && status == Code::Ok; ++i) {
        const CJPEGColorComponent& c = component_[indexes[i]];
        status = writer_.WriteByte(static_cast<std::uint8_t>(c.index));
        if (status == Code::Ok)
            status = writer_.WriteByte(static_cast<std::uint8_t>((c.dcTableId << 4) + c.acTableId));
    }
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>(ss_));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>(se_));
    if (status == Code::Ok)
        status = writer_.WriteByte(static_cast<std::uint8_t>((ah_ << 4) + al_));
    return status;
}

JpegStatus CJPEGEncoder::WriteHeader()
{
    JpegStatus status = PrepareEncoderBuffers();
    if (status != Code::Ok)
        return status;
    if ((status = WriteSoi()) != Code::Ok)
        return status;
    if (mode_ != JpegModeLossless) {
        if (colour_ == JpegColorGrey || colour_ == JpegColorYCbCr)
            status = WriteApp0();
        else if (colour_ == JpegColorRgb || colour_ == JpegColorCmyk || colour_ == JpegColorYcck)
            status = WriteApp14();
        if (status != Code::Ok)
            return status;
    }
    if ((status = WriteCom()) != Code::Ok)
        return status;
    if (mode_ != JpegModeLossless) {
        if ((status = WriteDqt(quantTable_[0])) != Code::Ok)
            return status;
        if (LumaChroma() && (status = WriteDqt(quantTable_[1])) != Code::Ok)
            return status;
    }
    if ((status = WriteSof()) != Code::Ok)
        return status;
    if (OptimisedBaseline()) {
        if ((status = BuildWholeImageTables()) != Code::Ok)
            return status;
    } else if (mode_ == JpegModeBaseline) {
        const int tables = LumaChroma() ? 2 : 1;
        for (int t = 0; t < tables; ++t)
            if ((status = WriteDht(dcTable_[t])) != Code::Ok || (status = WriteDht(acTable_[t])) != Code::Ok)
                return status;
    } else if (mode_ == JpegModeExtended && (status = BuildWholeImageTables()) != Code::Ok) {
        return status;
    } else if (mode_ == JpegModeLossless && (status = BuildLosslessTables()) != Code::Ok) {
        return status;
    }
    if (restartInterval_ != 0 && (status = WriteDri()) != Code::Ok)
        return status;
    return writer_.Flush(0);
}

// ---------------------------------------------------------------------------
// Data.

JpegStatus CJPEGEncoder::WriteData()
{
    JpegStatus status = Code::Ok;
    switch (mode_) {
    case JpegModeBaseline:
        status = OptimisedBaseline() ? EncodeWholeImageScan() : EncodeBaselineScan();
        break;
    case JpegModeExtended:
        status = EncodeWholeImageScan();
        break;
    case JpegModeLossless:
        status = EncodeLosslessScan();
        break;
    case JpegModeProgressive:
        status = EncodeProgressiveImage();
        break;
    default:
        return Code::InternalError;
    }
    if (status != Code::Ok)
        return status;
    if ((status = WriteMarker(0xD9)) != Code::Ok)
        return status;
    return writer_.Flush(0);
}

JpegStatus CJPEGEncoder::FlushCoder()
{
    std::int32_t position = writer_.Fill();
    const PrimitiveStatus result = EncodeHuffman8x8(nullptr, writer_.Buffer(), writer_.Capacity(), &position,
                                                    nullptr, nullptr, nullptr, huffmanState_.State(), 1);
    writer_.SetFill(position);
    return result < 0 ? Code::InternalError : Code::Ok;
}

JpegStatus CJPEGEncoder::BeginSequentialScan()
{
    if (coefficients_ == nullptr || huffmanState_.State() == nullptr)
        return Code::InternalError;
    for (auto& c : component_)
        c.lastDc = 0;
    restartsToGo_ = restartInterval_;
    restartCounter_ = 0;
    if (InitHuffmanEncoderState(huffmanState_.State()) != 0)
        return Code::InternalError;
    ss_ = 0;
    se_ = 63;
    ah_ = 0;
    al_ = 0;
    const std::int32_t indexes[4] = {0, 1, 2, 3};
    return WriteSos(components_, indexes);
}

JpegStatus CJPEGEncoder::EncodeBaselineScan()
{
    JpegStatus status = BeginSequentialScan();
    if (status != Code::Ok)
        return status;
    for (std::int32_t row = 0; row < mcuRows_; ++row) {
        if (planar_ != 0)
            status = CopyPlanarMcuRow(row);
        else if ((status = ConvertMcuRow(row)) == Code::Ok)
            status = DownsampleMcuRow(row);
        if (status == Code::Ok)
            status = TransformMcuRow8(coefficients_);
        if (status == Code::Ok)
            status = EncodeBaselineMcuRow(coefficients_);
        if (status != Code::Ok)
            return status;
    }
    if ((status = writer_.Flush(kMaxHuffmanBlockBytes)) != Code::Ok)
        return status;
    return FlushCoder();
}

JpegStatus CJPEGEncoder::ConvertMcuRow(std::int32_t row)
{
    const std::uint8_t* src = sourcePlanes_[0] + Offset(static_cast<std::int64_t>(row) * mcuHeight_, sourceSteps_[0]);
    const std::int32_t lines = row == mcuRows_ - 1 ? mcuHeight_ - padRows_ : mcuHeight_;
    const ImageSize region{sourceSize_.width, lines};
    const std::int32_t step = sourceSteps_[0];
    const std::int32_t fullStep = component_[0].fullStep;
    const bool wide = sourcePrecision_ > 8;
    std::uint8_t* planes[4] = {};
    for (int i = 0; i < components_; ++i)
        planes[i] = component_[i].GetFullRows(0);
    auto* planes16 = reinterpret_cast<std::uint16_t* const*>(planes);
    const auto* src16 = reinterpret_cast<const std::uint16_t*>(src);

    PrimitiveStatus result = 0;
    const std::int32_t pair = sourceColour_ * 16 + colour_;
    switch (pair) {
    case JpegColorOther * 16 + JpegColorOther:
        if (sourceChannels_ == 1)
            result = wide ? CopyImage16uC1(src16, step, planes16[0], fullStep, region)
                          : CopyImage8uC1(src, step, planes[0], fullStep, region);
        else if (sourceChannels_ == 3)
            result = wide ? CopyImage16uC3P3(src16, step, planes16, fullStep, region)
                          : CopyImage8uC3P3(src, step, planes, fullStep, region);
        else if (sourceChannels_ == 4)
            result = wide ? CopyImage16uC4P4(src16, step, planes16, fullStep, region)
                          : CopyImage8uC4P4(src, step, planes, fullStep, region);
        else
            return Code::NotSupported;
        break;
    case JpegColorGrey * 16 + JpegColorGrey:
        result = wide ? CopyImage16uC1(src16, step, planes16[0], fullStep, region)
                      : CopyImage8uC1(src, step, planes[0], fullStep, region);
        break;
    case JpegColorRgb * 16 + JpegColorGrey:
        result = ConvertRgbToY8uC3C1(src, step, planes[0], fullStep, region);
        break;
    case JpegColorRgb * 16 + JpegColorRgb:
        result = wide ? CopyImage16uC3P3(src16, step, planes16, fullStep, region)
                      : CopyImage8uC3P3(src, step, planes, fullStep, region);
        break;
    case JpegColorBgr * 16 + JpegColorRgb: {
        std::uint8_t* reversed[3] = {planes[2], planes[1], planes[0]};
        auto* reversed16 = reinterpret_cast<std::uint16_t* const*>(reversed);
        result = wide ? CopyImage16uC3P3(src16, step, reversed16, fullStep, region)
                      : CopyImage8uC3P3(src, step, reversed, fullStep, region);
        break;
    }
    case JpegColorRgb * 16 + JpegColorYCbCr:
        result = ConvertRgbToYCbCr8uC3P3(src, step, planes, fullStep, region);
        break;
    case JpegColorBgr * 16 + JpegColorYCbCr:
        result = ConvertBgrToYCbCr8uC3P3(src, step, planes, fullStep, region);
        break;
    case JpegColorRgba * 16 + JpegColorYCbCr:
        result = ConvertRgbaToYCbCr8uAC4P3(src, step, planes, fullStep, region);
        break;
    case JpegColorYCbCr * 16 + JpegColorYCbCr: {
        if (sourceSampling_ != JpegSampling422 || sampling_ != JpegSampling422)
            return Code::NotSupported;
        const std::int32_t steps[3] = {component_[0].fullStep, component_[1].fullStep, component_[2].fullStep};
        result = ConvertYuy2ToYCbCr422_8uC2P3(src, step, planes, steps, region);
        break;
    }
    case JpegColorCmyk * 16 + JpegColorCmyk:
        result = CopyImage8uC4P4(src, step, planes, fullStep, region);
        break;
    case JpegColorCmyk * 16 + JpegColorYcck:
        result = ConvertCmykToYcck8uC4P4(src, step, planes, fullStep, region);
        break;
    default:
        return Code::NotSupported;
    }
    return result != 0 ? Code::InternalError : Code::Ok;
}

namespace {

// Repeats the sample at column last - 1 over columns last .. end - 1 of every
// line (samples of sampleBytes bytes).
void ExtendColumns(std::uint8_t* rows, std::int32_t step, std::int32_t lines, std::int32_t last, std::int32_t end,
                   std::int32_t sampleBytes)
{
    if (last <= 0 || last >= end)
        return;
    for (std::int32_t y = 0; y < lines; ++y) {
        std::uint8_t* line = rows + Offset(y, step);
        const std::uint8_t* edge = line + static_cast<std::int64_t>(last - 1) * sampleBytes;
        for (std::int32_t x = last; x < end; ++x)
            std::memcpy(line + static_cast<std::int64_t>(x) * sampleBytes, edge, static_cast<std::size_t>(sampleBytes));
    }
}

// Copies line `from` into lines from + 1 .. lines - 1.
void ExtendRows(std::uint8_t* rows, std::int32_t step, std::int32_t from, std::int32_t lines)
{
    for (std::int32_t y = from + 1; y < lines; ++y)
        std::memcpy(rows + Offset(y, step), rows + Offset(from, step), static_cast<std::size_t>(step));
}

}  // namespace

JpegStatus CJPEGEncoder::DownsampleMcuRow(std::int32_t row)
{
    const bool lastRow = row == mcuRows_ - 1;
    const std::int32_t sampleBytes = sourcePrecision_ > 8 ? 2 : 1;
    // A packed 4:2:2 source fills whole pixel pairs, its chroma half the width.
    const bool packed = sourceSampling_ == JpegSampling422 && sourceColour_ == JpegColorYCbCr;
    for (int i = 0; i < components_; ++i) {
        CJPEGColorComponent& c = component_[i];
        std::uint8_t* full = c.GetFullRows(0);
        std::uint8_t* sampled = c.GetSampledRows(0);
        std::int32_t valid = sourceSize_.width;
        std::int32_t lineSamples = c.fullStep / sampleBytes;
        if (packed) {
            valid = c.hScale == 2 ? sourceSize_.width / 2 : sourceSize_.width & ~1;
            if (c.hScale == 2)
                lineSamples = c.sampledStep;
        }
        if (padColumns_ != 0 || valid < lineSamples)
            ExtendColumns(full, c.fullStep, c.mcuRowLines, valid, lineSamples, sampleBytes);
        if (lastRow && padRows_ != 0)
            ExtendRows(full, c.fullStep, c.mcuRowLines - padRows_ - 1, c.mcuRowLines);

        PrimitiveStatus result = 0;
        if (c.hScale == 1 && c.vScale == 1) {
            result = CopyVector8u(full, sampled, c.fullSize);
        } else if (c.hScale == 2 && c.vScale == 1) {
            if (packed) {
                result = CopyImage8uC1(full, c.fullStep, sampled, c.sampledStep, {c.sampledStep, c.sampledLines});
            } else {
                for (std::int32_t y = 0; y < c.sampledLines && result == 0; ++y)
                    result = DownsampleRowH2V1(full + Offset(y, c.fullStep), c.fullStep,
                                               sampled + Offset(y, c.sampledStep));
            }
        } else if (c.hScale == 2 && c.vScale == 2) {
            for (std::int32_t y = 0; y < c.sampledLines && result == 0; ++y) {
                const std::uint8_t* upper = full + Offset(2 * y, c.fullStep);
                result = DownsampleRowH2V2(upper, upper + c.fullStep, c.fullStep, sampled + Offset(y, c.sampledStep));
            }
        } else {
            return Code::InternalError;
        }
        if (result != 0)
            return Code::InternalError;
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::CopyPlanarMcuRow(std::int32_t row)
{
    const bool lastRow = row == mcuRows_ - 1;
    const bool wide = sourcePrecision_ > 8;
    for (int i = 0; i < components_; ++i) {
        CJPEGColorComponent& c = component_[i];
        std::uint8_t* sampled = c.GetSampledRows(0);
        // Rows and columns the plane holds: a sampled plane has the floor of
        // half the image (at least one).
        std::int32_t planeRows = sourceSize_.height;
        std::int32_t columns = sourceSize_.width;
        if (!wide && c.vScale == 2)
            planeRows = sourceSize_.height / 2 > 0 ? sourceSize_.height / 2 : 1;
        if (!wide && c.hScale == 2)
            columns = sourceSize_.width / 2 > 0 ? sourceSize_.width / 2 : 1;
        const std::int64_t firstLine = static_cast<std::int64_t>(row) * c.sampledLines;
        std::int32_t lines = c.sampledLines;
        if (firstLine + lines > planeRows)
            lines = static_cast<std::int32_t>(planeRows - firstLine);
        // An MCU row below the last plane row starts from that row.
        const std::int64_t sourceLine = lines > 0 ? firstLine : planeRows - 1;
        if (lines < 1)
            lines = 1;
        const std::uint8_t* src = sourcePlanes_[i] + Offset(sourceLine, sourceSteps_[i]);
        PrimitiveStatus result = 0;
        if (wide)
            result = CopyImage16uC1(reinterpret_cast<const std::uint16_t*>(src), sourceSteps_[i],
                                    reinterpret_cast<std::uint16_t*>(sampled), c.sampledStep, {columns, lines});
        else
            result = CopyImage8uC1(src, sourceSteps_[i], sampled, c.sampledStep, {columns, lines});
        if (result != 0)
            return Code::InternalError;
        const std::int32_t sampleBytes = wide ? 2 : 1;
        ExtendColumns(sampled, c.sampledStep, lines, columns, c.sampledStep / sampleBytes, sampleBytes);
        if (lastRow || lines < c.sampledLines)
            ExtendRows(sampled, c.sampledStep, lines - 1, c.sampledLines);
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::TransformMcuRow8(std::int16_t* out)
{
    for (std::int32_t column = 0; column < mcuColumns_; ++column) {
        for (int i = 0; i < components_; ++i) {
            const CJPEGColorComponent& c = component_[i];
            const std::uint8_t* sampled = c.GetSampledRows(0);
            const std::int32_t step = c.sampledStep;
            const std::uint16_t* table = quantTable_[c.quantTableId].Reciprocals();
            for (std::int32_t j = 0; j < c.vSampling; ++j)
                for (std::int32_t k = 0; k < c.hSampling; ++k) {
                    const std::uint8_t* block = sampled + Offset(j * 8, step) + (column * c.hSampling + k) * 8;
                    if (ForwardDctQuant8x8From8u(block, step, out, table) != 0)
                        return Code::InternalError;
                    out += 64;
                }
        }
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::EncodeBaselineMcuRow(const std::int16_t* block)
{
    HuffmanEncoderState* state = huffmanState_.State();
    JpegStatus status = Code::Ok;
    for (std::int32_t column = 0; column < mcuColumns_; ++column) {
        if (restartInterval_ != 0 && restartsToGo_ == 0 && (status = WriteRestart()) != Code::Ok)
            return status;
        for (int i = 0; i < components_; ++i) {
            CJPEGColorComponent& c = component_[i];
            const HuffmanEncoderSpec* dc = dcTable_[c.dcTableId].Spec();
            const HuffmanEncoderSpec* ac = acTable_[c.acTableId].Spec();
            for (std::int32_t b = 0; b < c.blocksPerMcu; ++b, block += 64) {
                // Room for the largest block a coder can emit, so that the
                // coder writes straight into the buffer.
                if (writer_.Capacity() - writer_.Fill() <= kMaxHuffmanBlockBytes &&
                    (status = writer_.Flush(kMaxHuffmanBlockBytes)) != Code::Ok)
                    return status;
                std::int32_t position = writer_.Fill();
                const PrimitiveStatus result = EncodeHuffman8x8(block, writer_.Buffer(), writer_.Capacity(),
                                                                &position, &c.lastDc, dc, ac, state, 0);
                writer_.SetFill(position);
                if (result < 0)
                    return Code::InternalError;
            }
        }
        if (restartInterval_ != 0) {
            if (restartsToGo_ == 0)
                restartsToGo_ = restartInterval_;
            --restartsToGo_;
        }
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::WriteRestart()
{
    JpegStatus status = writer_.Flush(0);
    if (status != Code::Ok)
        return status;
    if ((status = FlushCoder()) != Code::Ok)
        return status;
    if (InitHuffmanEncoderState(huffmanState_.State()) != 0)
        return Code::InternalError;
    if ((status = WriteMarker(static_cast<std::uint8_t>(0xD0 + restartCounter_))) != Code::Ok)
        return status;
    restartCounter_ = (restartCounter_ + 1) % 8;
    for (auto& c : component_)
        c.lastDc = 0;
    restartsToGo_ = restartInterval_;
    return Code::Ok;
}

// ---------------------------------------------------------------------------
// Extended process and optimised baseline: the whole image's coefficients,
// Huffman tables from the statistics of every block, then the scan from the
// same coefficients. The extended process gives every component its own
// tables; baseline keeps at most two of each class (luma, and chroma shared
// by both chroma components), as its frame allows.

JpegStatus CJPEGEncoder::TransformMcuRow16(std::int16_t* out)
{
    for (std::int32_t column = 0; column < mcuColumns_; ++column) {
        for (int i = 0; i < components_; ++i) {
            const CJPEGColorComponent& c = component_[i];
            const std::uint8_t* sampled = c.GetSampledRows(0);
            const std::int32_t step = c.sampledStep;
            const float* table = quantTable_[c.quantTableId].FloatReciprocals();
            if (table == nullptr)
                return Code::InternalError;
            for (std::int32_t j = 0; j < c.vSampling; ++j)
                for (std::int32_t k = 0; k < c.hSampling; ++k) {
                    const std::uint8_t* block = sampled + Offset(j * 8, step) + (column * c.hSampling + k) * 16;
                    if (ForwardDctQuant8x8From16u(reinterpret_cast<const std::uint16_t*>(block), step, out, table) != 0)
                        return Code::InternalError;
                    out += 64;
                }
        }
    }
    return Code::Ok;
}

bool CJPEGEncoder::OptimisedBaseline() const
{
    return mode_ == JpegModeBaseline && optimiseHuffman_ != 0;
}

JpegStatus CJPEGEncoder::BuildWholeImageTables()
{
    if (coefficients_ == nullptr)
        return Code::InternalError;
    if (components_ > 4)
        return Code::BadParameter;
    const std::int64_t rowBlocks = static_cast<std::int64_t>(mcuColumns_) * blocksPerMcu_ * 64;
    JpegStatus status = Code::Ok;
    for (std::int32_t row = 0; row < mcuRows_; ++row) {
        if (planar_ != 0)
            status = CopyPlanarMcuRow(row);
        else if ((status = ConvertMcuRow(row)) == Code::Ok)
            status = DownsampleMcuRow(row);
        std::int16_t* out = coefficients_ + row * rowBlocks;
        if (status == Code::Ok)
            status = precision_ > 8 ? TransformMcuRow16(out) : TransformMcuRow8(out);
        if (status != Code::Ok)
            return status;
    }
    // Statistics per table: the component's own, or baseline's shared ones.
    const bool shared = mode_ == JpegModeBaseline;
    std::int32_t tableOf[4] = {};
    for (int i = 0; i < components_; ++i)
        tableOf[i] = shared ? component_[i].dcTableId : i;
    std::vector<std::int32_t> counts(static_cast<std::size_t>(4) * 512, 0);
    for (auto& c : component_)
        c.lastDc = 0;
    std::int32_t toGo = restartInterval_;
    const std::int16_t* block = coefficients_;
    for (std::int32_t row = 0; row < mcuRows_; ++row)
        for (std::int32_t column = 0; column < mcuColumns_; ++column) {
            if (restartInterval_ != 0 && toGo == 0) {
                for (auto& c : component_)
                    c.lastDc = 0;
                toGo = restartInterval_;
            }
            for (int i = 0; i < components_; ++i) {
                CJPEGColorComponent& c = component_[i];
                std::int32_t* dc = counts.data() + static_cast<std::ptrdiff_t>(tableOf[i]) * 512;
                for (std::int32_t b = 0; b < c.blocksPerMcu; ++b, block += 64)
                    if (Gather8x8Statistics(block, dc, dc + 256, &c.lastDc) != 0)
                        return Code::InternalError;
            }
            --toGo;
        }
    bool written[4] = {};
    for (int i = 0; i < components_; ++i) {
        const std::int32_t t = tableOf[i];
        component_[i].dcTableId = t;
        component_[i].acTableId = t;
        if (written[t])
            continue;
        written[t] = true;
        std::uint8_t bits[16];
        std::uint8_t values[256] = {};
        const std::int32_t* dc = counts.data() + static_cast<std::ptrdiff_t>(t) * 512;
        if (BuildOptimalHuffmanTable(dc, bits, values) != 0 || dcTable_[t].Init(t, 0, bits, values) != Code::Ok)
            return Code::InternalError;
        std::fill(std::begin(values), std::end(values), std::uint8_t{0});
        if (BuildOptimalHuffmanTable(dc + 256, bits, values) != 0 || acTable_[t].Init(t, 1, bits, values) != Code::Ok)
            return Code::InternalError;
        if ((status = WriteDht(dcTable_[t])) != Code::Ok || (status = WriteDht(acTable_[t])) != Code::Ok)
            return status;
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::EncodeWholeImageScan()
{
    JpegStatus status = BeginSequentialScan();
    if (status != Code::Ok)
        return status;
    const std::int64_t rowBlocks = static_cast<std::int64_t>(mcuColumns_) * blocksPerMcu_ * 64;
    for (std::int32_t row = 0; row < mcuRows_; ++row)
        if ((status = EncodeBaselineMcuRow(coefficients_ + row * rowBlocks)) != Code::Ok)
            return status;
    if ((status = writer_.Flush(kMaxHuffmanBlockBytes)) != Code::Ok)
        return status;
    return FlushCoder();
}

// ---------------------------------------------------------------------------
// Lossless process: the differences of the whole image, tables from their
// statistics, then the scan.

JpegStatus CJPEGEncoder::SetLosslessPredictor(std::int32_t predictor, std::int32_t pointTransform)
{
    if (predictor < 1 || predictor > 7 || pointTransform < 0 || pointTransform > 15)
        return Code::BadParameter;
    predictor_ = predictor;
    pointTransform_ = pointTransform;
    return Code::Ok;
}

JpegStatus CJPEGEncoder::BuildLosslessTables()
{
    if (planar_ != 0 || pointTransform_ >= precision_ || components_ < 1 || components_ > 4 ||
        sourceChannels_ < components_)
        return Code::NotSupported;
    // Samples are taken as they are: a colour conversion would lose them.
    const bool reversed = sourceColour_ == JpegColorBgr && colour_ == JpegColorRgb;
    if (!(sourceColour_ == colour_ || colour_ == JpegColorOther || reversed))
        return Code::NotSupported;
    const std::int32_t width = sourceSize_.width, height = sourceSize_.height;
    const std::int64_t plane = static_cast<std::int64_t>(width) * height;
    try {
        losslessDifferences_.assign(static_cast<std::size_t>(plane * components_), 0);
    } catch (const std::bad_alloc&) {
        return Code::NoMemory;
    }
    const std::int32_t rowsPerRestart = restartInterval_ / width;
    std::vector<std::int16_t> current(static_cast<std::size_t>(width)), previous(current.size());
    for (int i = 0; i < components_; ++i) {
        const int channel = reversed ? 2 - i : i;
        for (std::int32_t y = 0; y < height; ++y) {
            const std::uint8_t* row = sourcePlanes_[0] + Offset(y, sourceSteps_[0]);
            for (std::int32_t x = 0; x < width; ++x) {
                const std::int64_t at = static_cast<std::int64_t>(x) * sourceChannels_ + channel;
                const std::int32_t sample =
                    sourcePrecision_ > 8 ? reinterpret_cast<const std::uint16_t*>(row)[at] : row[at];
                current[static_cast<std::size_t>(x)] = static_cast<std::int16_t>(sample >> pointTransform_);
            }
            std::int16_t* differences = losslessDifferences_.data() + i * plane + static_cast<std::int64_t>(y) * width;
            const bool first = y == 0 || (rowsPerRestart != 0 && y % rowsPerRestart == 0);
            const PrimitiveStatus result =
                first ? LosslessPredictFirstRow(current.data(), differences, width, precision_, pointTransform_)
                      : LosslessPredictRow(current.data(), previous.data(), differences, width, predictor_);
            if (result != 0)
                return Code::InternalError;
            current.swap(previous);
        }
    }
    for (int i = 0; i < components_; ++i) {
        std::int32_t counts[256] = {};
        const std::int16_t* differences = losslessDifferences_.data() + i * plane;
        for (std::int64_t k = 0; k < plane; ++k)
            GatherLosslessStatistics(differences + k, counts);
        std::uint8_t bits[16];
        std::uint8_t values[256] = {};
        if (BuildOptimalHuffmanTable(counts, bits, values) != 0 || dcTable_[i].Init(i, 0, bits, values) != Code::Ok)
            return Code::InternalError;
        component_[i].dcTableId = i;
        component_[i].acTableId = 0;
        JpegStatus status = WriteDht(dcTable_[i]);
        if (status != Code::Ok)
            return status;
    }
    return Code::Ok;
}

JpegStatus CJPEGEncoder::EncodeLosslessScan()
{
    if (huffmanState_.State() == nullptr || losslessDifferences_.empty())
        return Code::InternalError;
    const std::int32_t width = sourceSize_.width, height = sourceSize_.height;
    // The writer holds a worst-case row: 32 bits per difference, every byte
    // possibly stuffed.
    const std::int64_t rowBytes = static_cast<std::int64_t>(width) * components_ * 8 + 64;
    if (rowBytes > INT32_MAX / 2)
        return Code::NoMemory;
    JpegStatus status = Code::Ok;
    if (writer_.Capacity() < 2 * rowBytes) {
        if ((status = writer_.Flush(0)) != Code::Ok)
            return status;
        if ((status = writer_.Init(static_cast<std::int32_t>(2 * rowBytes))) != Code::Ok)
            return status;
    }
    restartsToGo_ = restartInterval_;
    restartCounter_ = 0;
    if (InitHuffmanEncoderState(huffmanState_.State()) != 0)
        return Code::InternalError;
    ss_ = predictor_;
    se_ = 0;
    ah_ = 0;
    al_ = pointTransform_;
    const std::int32_t indexes[4] = {0, 1, 2, 3};
    if ((status = WriteSos(components_, indexes)) != Code::Ok)
        return status;
    const std::int32_t rowsPerRestart = restartInterval_ / width;
    const std::int64_t plane = static_cast<std::int64_t>(width) * height;
    const HuffmanEncoderSpec* tables[4] = {};
    for (int i = 0; i < components_; ++i)
        tables[i] = dcTable_[component_[i].dcTableId].Spec();
    for (std::int32_t y = 0; y < height; ++y) {
        if (rowsPerRestart != 0 && y != 0 && y % rowsPerRestart == 0 && (status = WriteRestart()) != Code::Ok)
            return status;
        if ((status = writer_.Flush(static_cast<std::int32_t>(rowBytes))) != Code::Ok)
            return status;
        const std::int16_t* rows[4] = {};
        for (int i = 0; i < components_; ++i)
            rows[i] = losslessDifferences_.data() + i * plane + static_cast<std::int64_t>(y) * width;
        std::int32_t position = writer_.Fill();
        const PrimitiveStatus result = EncodeHuffmanLosslessRow(rows, width, components_, writer_.Buffer(),
                                                                writer_.Capacity(), &position, tables,
                                                                huffmanState_.State(), 0);
        writer_.SetFill(position);
        if (result < 0)
            return Code::InternalError;
    }
    if ((status = writer_.Flush(static_cast<std::int32_t>(rowBytes))) != Code::Ok)
        return status;
    return FlushCoder();
}

// ---------------------------------------------------------------------------
// Progressive process: the whole image's coefficients, then each scan of the
// script with Huffman tables built from its own statistics.

namespace {

// Room before each progressive block: the largest block and the correction
// bits an AC refinement can release with it.
constexpr std::int32_t kProgressiveRoom = kMaxHuffmanBlockBytes + 2 * (1024 / 8) + 16;

}  // namespace

const std::int16_t* CJPEGEncoder::BlockAt(std::int32_t component, std::int32_t blockRow,
                                          std::int32_t blockColumn) const
{
    const CJPEGColorComponent& c = component_[component];
    const std::int64_t mcu = static_cast<std::int64_t>(blockRow / c.vSampling) * mcuColumns_ +
                             blockColumn / c.hSampling;
    std::int64_t index = mcu * blocksPerMcu_;
    for (int i = 0; i < component; ++i)
        index += component_[i].blocksPerMcu;
    index += (blockRow % c.vSampling) * c.hSampling + blockColumn % c.hSampling;
    return coefficients_ + index * 64;
}

void CJPEGEncoder::ComponentBlocks(std::int32_t component, std::int32_t* wide, std::int32_t* high) const
{
    const CJPEGColorComponent& c = component_[component];
    std::int32_t maxH = 1, maxV = 1;
    for (int i = 0; i < components_; ++i) {
        maxH = std::max(maxH, component_[i].hSampling);
        maxV = std::max(maxV, component_[i].vSampling);
    }
    *wide = ((sourceSize_.width * c.hSampling + maxH - 1) / maxH + 7) / 8;
    *high = ((sourceSize_.height * c.vSampling + maxV - 1) / maxV + 7) / 8;
}

JpegStatus CJPEGEncoder::EncodeProgressiveImage()
{
    if (coefficients_ == nullptr || scanScript_ == nullptr || huffmanState_.State() == nullptr)
        return Code::InternalError;
    const std::int64_t rowBlocks = static_cast<std::int64_t>(mcuColumns_) * blocksPerMcu_ * 64;
    JpegStatus status = Code::Ok;
    for (std::int32_t row = 0; row < mcuRows_; ++row) {
        if (planar_ != 0)
            status = CopyPlanarMcuRow(row);
        else if ((status = ConvertMcuRow(row)) == Code::Ok)
            status = DownsampleMcuRow(row);
        if (status == Code::Ok)
            status = TransformMcuRow8(coefficients_ + row * rowBlocks);
        if (status != Code::Ok)
            return status;
    }
    for (std::int32_t n = 0; n < scanCount_; ++n) {
        const JpegProgressiveScan& scan = scanScript_[n];
        ss_ = scan.ss;
        se_ = scan.se;
        ah_ = scan.ah;
        al_ = scan.al;
        if ((status = ProgressiveScan(scan, true)) != Code::Ok || (status = ProgressiveScan(scan, false)) != Code::Ok)
            return status;
    }
    return Code::Ok;
}

// One scan of the script: with gather set, counts its symbols, builds its
// tables and writes their DHT; otherwise codes it.
JpegStatus CJPEGEncoder::ProgressiveScan(const JpegProgressiveScan& scan, bool gather)
{
    HuffmanEncoderState* state = huffmanState_.State();
    const bool dcScan = scan.ss == 0;
    if (gather && dcScan && scan.ah != 0)
        return Code::Ok;  // a DC refinement needs no table
    std::vector<std::int32_t> counts(4 * 256, 0);
    for (auto& c : component_)
        c.lastDc = 0;
    restartsToGo_ = restartInterval_;
    restartCounter_ = 0;
    if (InitHuffmanEncoderState(state) != 0)
        return Code::InternalError;
    JpegStatus status = Code::Ok;
    if (!gather && (status = WriteSos(scan.components, scan.index)) != Code::Ok)
        return status;
    // The coder (or gatherer) of this scan kind, for a block or in flush mode.
    const auto code = [&](const std::int16_t* block, std::int32_t component, std::int32_t flush) -> JpegStatus {
        CJPEGColorComponent& c = component_[component];
        PrimitiveStatus result = 0;
        if (gather) {
            std::int32_t* dc = counts.data() + c.dcTableId * 256;
            std::int32_t* ac = counts.data() + c.acTableId * 256;
            if (dcScan)
                result = flush != 0 ? 0 : GatherDcFirstStatistics(block, dc, &c.lastDc, scan.al);
            else if (scan.ah != 0)
                result = GatherAcRefineStatistics(block, ac, scan.ss, scan.se, scan.al, state, flush);
            else
                result = GatherAcFirstStatistics(block, ac, scan.ss, scan.se, scan.al, state, flush);
            return result < 0 ? Code::InternalError : Code::Ok;
        }
        JpegStatus room = writer_.Flush(kProgressiveRoom);
        if (room != Code::Ok)
            return room;
        std::int32_t position = writer_.Fill();
        std::uint8_t* dst = writer_.Buffer();
        const std::int32_t capacity = writer_.Capacity();
        if (dcScan && scan.ah != 0)
            result = EncodeHuffmanDcRefine(block, dst, capacity, &position, scan.al, state, flush);
        else if (dcScan)
            result = EncodeHuffmanDcFirst(block, dst, capacity, &position, &c.lastDc, scan.al,
                                          dcTable_[c.dcTableId].Spec(), state, flush);
        else if (scan.ah != 0)
            result = EncodeHuffmanAcRefine(block, dst, capacity, &position, scan.ss, scan.se, scan.al,
                                           acTable_[c.acTableId].Spec(), state, flush);
        else
            result = EncodeHuffmanAcFirst(block, dst, capacity, &position, scan.ss, scan.se, scan.al,
                                          acTable_[c.acTableId].Spec(), state, flush);
        writer_.SetFill(position);
        return result < 0 ? Code::InternalError : Code::Ok;
    };
    const auto restart = [&](std::int32_t component) -> JpegStatus {
        if (restartInterval_ == 0 || restartsToGo_ != 0)
            return Code::Ok;
        JpegStatus r = code(nullptr, component, 1);
        if (r == Code::Ok && InitHuffmanEncoderState(state) != 0)
            r = Code::InternalError;
        if (r == Code::Ok && !gather) {
            if ((r = writer_.Flush(0)) == Code::Ok)
                r = WriteMarker(static_cast<std::uint8_t>(0xD0 + restartCounter_));
            restartCounter_ = (restartCounter_ + 1) % 8;
        }
        for (auto& c : component_)
            c.lastDc = 0;
        restartsToGo_ = restartInterval_;
        return r;
    };
    if (dcScan) {
        for (std::int32_t row = 0; row < mcuRows_; ++row)
            for (std::int32_t column = 0; column < mcuColumns_; ++column) {
                if ((status = restart(scan.index[0])) != Code::Ok)
                    return status;
                for (std::int32_t k = 0; k < scan.components; ++k) {
                    const std::int32_t i = scan.index[k];
                    const CJPEGColorComponent& c = component_[i];
                    for (std::int32_t j = 0; j < c.vSampling; ++j)
                        for (std::int32_t l = 0; l < c.hSampling; ++l)
                            if ((status = code(BlockAt(i, row * c.vSampling + j, column * c.hSampling + l), i, 0)) !=
                                Code::Ok)
                                return status;
                }
                --restartsToGo_;
            }
    } else {
        const std::int32_t i = scan.index[0];
        std::int32_t wide = 0, high = 0;
        ComponentBlocks(i, &wide, &high);
        for (std::int32_t y = 0; y < high; ++y)
            for (std::int32_t x = 0; x < wide; ++x) {
                if ((status = restart(i)) != Code::Ok)
                    return status;
                if ((status = code(BlockAt(i, y, x), i, 0)) != Code::Ok)
                    return status;
                --restartsToGo_;
            }
    }
    if ((status = code(nullptr, scan.index[0], 1)) != Code::Ok)
        return status;
    if (!gather)
        return Code::Ok;
    // Tables of the scan's table ids, each written once.
    bool written[4] = {};
    for (std::int32_t k = 0; k < scan.components; ++k) {
        const CJPEGColorComponent& c = component_[scan.index[k]];
        const std::int32_t id = dcScan ? c.dcTableId : c.acTableId;
        if (written[id])
            continue;
        written[id] = true;
        std::uint8_t bits[16];
        std::uint8_t values[256] = {};
        CJPEGEncoderHuffmanTable& table = dcScan ? dcTable_[id] : acTable_[id];
        if (BuildOptimalHuffmanTable(counts.data() + id * 256, bits, values) != 0 ||
            table.Init(id, dcScan ? 0 : 1, bits, values) != Code::Ok)
            return Code::InternalError;
        if ((status = WriteDht(table)) != Code::Ok)
            return status;
    }
    return Code::Ok;
}
