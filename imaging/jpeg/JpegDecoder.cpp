#include "imaging/jpeg/JpegDecoder.h"

#include <algorithm>
#include <cstring>

#include "imaging/primitives/ChromaRows.h"
#include "imaging/primitives/Huffman.h"
#include "imaging/primitives/HuffmanProgressive.h"
#include "imaging/primitives/ImageCopy.h"
#include "imaging/primitives/InverseDct.h"
#include "imaging/primitives/JpegColor.h"
#include "imaging/primitives/Lossless.h"
#include "imaging/primitives/PackedYuv.h"

namespace Code = JpegStatusCode;

namespace {

constexpr std::int32_t kReaderCapacity = 16384;
// The reader holds this much (or the rest of the stream) before each block,
// so that the entropy decoder works on memory: a worst-case block and the
// few bytes the bit buffer reads ahead.
constexpr std::int32_t kBlockReserve = kMaxHuffmanBlockBytes + 16;
// Coefficients and working planes of one frame.
constexpr std::int64_t kMaxFrameBytes = std::int64_t{1} << 30;
// Coefficients kept from one image for the next (a 4:2:0 frame of about
// 20 megapixels).
constexpr std::size_t kKeptCoefficientBytes = std::size_t{64} << 20;

void LoadStandardTable(CJPEGDecoderHuffmanTable& table, std::int32_t id, std::int32_t tableClass,
                       const StandardHuffmanTable& standard)
{
    std::uint8_t values[256] = {};
    std::memcpy(values, standard.values, sizeof(standard.values));
    if (table.Create() == Code::Ok)
        table.Init(id, tableClass, standard.bits, values);
}

}  // namespace

CJPEGDecoder::CJPEGDecoder()
{
    Clean();
}

CJPEGDecoder::~CJPEGDecoder() = default;

ImageSize CJPEGDecoder::ScaledSize(ImageSize size, std::int32_t scale)
{
    const std::int32_t f = 1 << std::clamp(scale, 0, 3);
    return {(size.width + f - 1) / f, (size.height + f - 1) / f};
}

JpegStatus CJPEGDecoder::Clean()
{
    width_ = height_ = components_ = 0;
    precision_ = 8;
    sampling_ = JpegSamplingOther;
    colour_ = JpegColorOther;
    restartInterval_ = 0;
    process_ = 0;
    scale_ = 0;
    scaleFactor_ = 1;
    maxH_ = maxV_ = 1;
    mcuColumns_ = mcuRows_ = 0;
    restartsToGo_ = restartCounter_ = 0;
    currentMarker_ = 0;
    scanCount_ = 0;
    // Component buffers stay for the next image.
    for (Component& c : component_) {
        Buffer<std::uint8_t> plane = std::move(c.plane);
        c = Component{};
        c.plane = std::move(plane);
    }
    comment_.clear();
    exif_.clear();
    jfif_ = adobe_ = adobeTransform_ = 0;
    // The coefficient buffer of a frame of ordinary size stays for the next
    // image (a stream of progressive frames allocates nothing per frame); a
    // larger one is given back.
    coefficients_.clear();
    if (coefficients_.capacity() * sizeof(std::int16_t) > kKeptCoefficientBytes)
        coefficients_.shrink_to_fit();
    coefficientTotal_ = 0;
    reversibleRgb_ = false;
    destinationSet_ = false;
    planar_ = 0;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::SetSource(CBaseStreamInput* stream)
{
    if (stream == nullptr)
        return Code::BadParameter;
    stream_ = stream;
    const JpegStatus status = reader_.Attach(stream);
    return status != Code::Ok ? status : reader_.Init(kReaderCapacity);
}

// ---------------------------------------------------------------------------
// Marker segments.

JpegStatus CJPEGDecoder::NextMarker()
{
    std::uint8_t byte = 0;
    for (;;) {
        JpegStatus status = reader_.ReadByte(&byte);
        if (status != Code::Ok)
            return status;
        if (byte != 0xFF)
            continue;
        do {
            status = reader_.ReadByte(&byte);
            if (status != Code::Ok)
                return status;
        } while (byte == 0xFF);
        if (byte != 0x00) {
            currentMarker_ = byte;
            return Code::Ok;
        }
    }
}

JpegStatus CJPEGDecoder::SegmentLength(std::int32_t* length)
{
    std::uint16_t word = 0;
    const JpegStatus status = reader_.ReadWord(&word);
    if (status != Code::Ok)
        return status;
    if (word < 2)
        return Code::BadImageData;
    *length = word - 2;  // bytes after the length
    return Code::Ok;
}

JpegStatus CJPEGDecoder::SkipBytes(std::int32_t count)
{
    std::uint8_t byte = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const JpegStatus status = reader_.ReadByte(&byte);
        if (status != Code::Ok)
            return status;
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ParseMarkers(bool header)
{
    for (;;) {
        if (currentMarker_ == 0) {
            const JpegStatus status = NextMarker();
            if (status != Code::Ok)
                return status;
        }
        const std::int32_t marker = currentMarker_;
        currentMarker_ = 0;
        JpegStatus status = Code::Ok;
        switch (marker) {
        case 0xD8:
            break;
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3:
            // One frame per stream: a second frame header would change the
            // geometry under buffers already sized.
            if (process_ != 0)
                return Code::BadFrameHeader;
            process_ = marker - 0xC0 + 1;
            status = ParseFrameHeader();
            break;
        case 0xC4:
            status = ParseHuffmanTables();
            break;
        case 0xC5: case 0xC6: case 0xC7: case 0xC8: case 0xC9: case 0xCA: case 0xCB:
        case 0xCD: case 0xCE: case 0xCF:
            return Code::NotSupported;
        case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
            restartCounter_ = (restartCounter_ + 1) & 7;
            break;
        case 0xD9:
            scanMarker_ = 0xD9;
            return Code::Ok;
        case 0xDA:
            if (process_ == 0)
                return Code::BadImageData;
            if (header) {
                // Leave the stream on the SOS marker for ReadData.
                status = reader_.Seek(-2, 1);
                if (status != Code::Ok)
                    return status;
                scanMarker_ = 0xDA;
                return Code::Ok;
            }
            status = ParseScanHeader();
            if (status != Code::Ok)
                return status;
            scanMarker_ = 0xDA;
            return Code::Ok;
        case 0xDB:
            status = ParseQuantTables();
            break;
        case 0xDD:
            status = ParseRestartInterval();
            break;
        case 0xE0:
            status = ParseApp0();
            break;
        case 0xE1:
            status = ParseApp1();
            break;
        case 0xEE:
            status = ParseApp14();
            break;
        case 0xFE:
            status = ParseComment();
            break;
        default: {
            // Any other segment with a length is skipped.
            std::int32_t length = 0;
            status = SegmentLength(&length);
            if (status == Code::Ok)
                status = SkipBytes(length);
            break;
        }
        }
        if (status != Code::Ok)
            return status;
    }
}

JpegStatus CJPEGDecoder::ParseFrameHeader()
{
    std::int32_t length = 0;
    JpegStatus status = SegmentLength(&length);
    if (status != Code::Ok)
        return status;
    std::uint8_t p = 0, count = 0;
    std::uint16_t h = 0, w = 0;
    if ((status = reader_.ReadByte(&p)) != Code::Ok || (status = reader_.ReadWord(&h)) != Code::Ok ||
        (status = reader_.ReadWord(&w)) != Code::Ok || (status = reader_.ReadByte(&count)) != Code::Ok)
        return status;
    if (length != 6 + 3 * count || count < 1 || count > 4 || w == 0 || h == 0)
        return Code::BadFrameHeader;
    if (p != 8 && p != 12 && !(process_ == JpegModeLossless && p >= 2 && p <= 16))
        return Code::BadFrameHeader;
    if (p == 12 && process_ == JpegModeBaseline)
        return Code::BadFrameHeader;
    precision_ = p;
    width_ = w;
    height_ = h;
    components_ = count;
    maxH_ = maxV_ = 1;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t id = 0, factors = 0, tq = 0;
        if ((status = reader_.ReadByte(&id)) != Code::Ok || (status = reader_.ReadByte(&factors)) != Code::Ok ||
            (status = reader_.ReadByte(&tq)) != Code::Ok)
            return status;
        Component& c = component_[i];
        c.id = id;
        c.h = count == 1 ? 1 : factors >> 4;
        c.v = count == 1 ? 1 : factors & 15;
        c.quantId = tq;
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || tq > 3)
            return Code::BadFrameHeader;
        maxH_ = std::max(maxH_, c.h);
        maxV_ = std::max(maxV_, c.v);
    }
    for (std::int32_t i = 0; i < count; ++i) {
        Component& c = component_[i];
        if (maxH_ % c.h != 0 || maxV_ % c.v != 0)
            return Code::NotSupported;
        c.hScale = maxH_ / c.h;
        c.vScale = maxV_ / c.v;
        // Lossless components share one sampling (each MCU holds H x V
        // samples of every component).
        if (process_ == JpegModeLossless && (c.hScale != 1 || c.vScale != 1))
            return Code::NotSupported;
    }
    // Sampling classification.
    const auto is = [&](int i, int hh, int vv) { return component_[i].h == hh && component_[i].v == vv; };
    sampling_ = JpegSamplingOther;
    if (count == 1) {
        sampling_ = JpegSampling444;
    } else if (count >= 3 && is(1, 1, 1) && is(2, 1, 1) &&
               (count == 3 || (component_[3].h == component_[0].h && component_[3].v == component_[0].v))) {
        if (is(0, 1, 1))
            sampling_ = JpegSampling444;
        else if (is(0, 2, 1))
            sampling_ = JpegSampling422;
        else if (is(0, 1, 2))
            sampling_ = JpegSampling422b;
        else if (is(0, 2, 2))
            sampling_ = JpegSampling420;
    }
    return ComputeGeometry();
}

JpegStatus CJPEGDecoder::ComputeGeometry()
{
    const std::int32_t block = process_ == JpegModeLossless ? 1 : 8;
    mcuWidth_ = maxH_ * block;
    mcuHeight_ = maxV_ * block;
    mcuColumns_ = (width_ + mcuWidth_ - 1) / mcuWidth_;
    mcuRows_ = (height_ + mcuHeight_ - 1) / mcuHeight_;
    // Coefficients of every block plus the transformed planes, bounded
    // before anything is allocated.
    std::int64_t bytes = 0;
    for (std::int32_t i = 0; i < components_; ++i) {
        Component& c = component_[i];
        c.blocksWide = mcuColumns_ * c.h;
        c.blocksHigh = mcuRows_ * c.v;
        // Coefficients and transformed samples (lossless: differences and samples).
        bytes += std::int64_t{c.blocksWide} * c.blocksHigh * (process_ == JpegModeLossless ? 2 + 2 : 64 * 2 + 64 * 2);
    }
    bytes += std::int64_t{width_} * height_ * 8;
    return bytes > kMaxFrameBytes ? Code::BadFrameHeader : Code::Ok;
}

JpegStatus CJPEGDecoder::ParseHuffmanTables()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    while (left > 16) {
        std::uint8_t classId = 0;
        std::uint8_t bits[16];
        std::uint8_t values[256] = {};
        if ((status = reader_.ReadByte(&classId)) != Code::Ok)
            return status;
        std::int32_t total = 0;
        for (auto& b : bits) {
            if ((status = reader_.ReadByte(&b)) != Code::Ok)
                return status;
            total += b;
        }
        left -= 17;
        if (total > 256 || total > left)
            return Code::BadHuffmanTableSegment;
        for (std::int32_t i = 0; i < total; ++i)
            if ((status = reader_.ReadByte(&values[i])) != Code::Ok)
                return status;
        left -= total;
        const std::int32_t tableClass = classId >> 4, id = classId & 15;
        if (tableClass > 1 || id > 3)
            return Code::BadHuffmanTableSegment;
        CJPEGDecoderHuffmanTable& table = tableClass == 0 ? dcTables_[id] : acTables_[id];
        if ((status = table.Create()) != Code::Ok)
            return status;
        if (table.Init(id, tableClass, bits, values) != Code::Ok)
            return Code::BadHuffmanTableSegment;
    }
    return left != 0 ? Code::BadHuffmanTableSegment : Code::Ok;
}

JpegStatus CJPEGDecoder::ParseQuantTables()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    while (left > 0) {
        std::uint8_t pq = 0;
        if ((status = reader_.ReadByte(&pq)) != Code::Ok)
            return status;
        const std::int32_t id = pq & 15;
        const bool wide = (pq >> 4) != 0;
        left -= 1 + (wide ? 128 : 64);
        if (id > 3 || left < 0)
            return Code::BadQuantTableSegment;
        if (wide) {
            std::uint16_t raw[64];
            for (auto& q : raw)
                if ((status = reader_.ReadWord(&q)) != Code::Ok)
                    return status;
            if (quant_[id].Init16(id, raw) != Code::Ok)
                return Code::BadQuantTableSegment;
        } else {
            std::uint8_t raw[64];
            for (auto& q : raw)
                if ((status = reader_.ReadByte(&q)) != Code::Ok)
                    return status;
            if (quant_[id].Init8(id, raw) != Code::Ok)
                return Code::BadQuantTableSegment;
        }
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ParseRestartInterval()
{
    std::uint16_t length = 0, interval = 0;
    JpegStatus status = reader_.ReadWord(&length);
    if (status != Code::Ok)
        return status;
    if (length != 4)
        return Code::BadRestartSegment;
    if ((status = reader_.ReadWord(&interval)) != Code::Ok)
        return status;
    restartInterval_ = interval;
    restartsToGo_ = interval;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ParseScanHeader()
{
    std::int32_t length = 0;
    JpegStatus status = SegmentLength(&length);
    if (status != Code::Ok)
        return status;
    std::uint8_t count = 0;
    if ((status = reader_.ReadByte(&count)) != Code::Ok)
        return status;
    if (count < 1 || count > 4)
        return Code::BadScanHeader;
    if (process_ != JpegModeProgressive && count < components_ && count > 1)
        return Code::NotSupported;
    if (length != 4 + 2 * count)
        return Code::BadScanHeader;
    scanCount_ = count;
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t id = 0, tables = 0;
        if ((status = reader_.ReadByte(&id)) != Code::Ok || (status = reader_.ReadByte(&tables)) != Code::Ok)
            return status;
        std::int32_t index = -1;
        for (std::int32_t k = 0; k < components_; ++k)
            if (component_[k].id == id)
                index = k;
        if (index < 0 || (tables >> 4) > 3 || (tables & 15) > 3)
            return Code::BadScanHeader;
        for (std::int32_t k = 0; k < i; ++k)
            if (scanIndex_[k] == index)
                return Code::BadScanHeader;
        scanIndex_[i] = index;
        component_[index].dcId = tables >> 4;
        component_[index].acId = tables & 15;
        component_[index].lastDc = 0;
    }
    std::uint8_t ss = 0, se = 0, a = 0;
    if ((status = reader_.ReadByte(&ss)) != Code::Ok || (status = reader_.ReadByte(&se)) != Code::Ok ||
        (status = reader_.ReadByte(&a)) != Code::Ok)
        return status;
    ss_ = ss;
    se_ = se;
    ah_ = a >> 4;
    al_ = a & 15;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ParseApp0()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    std::uint8_t id[5] = {};
    const std::int32_t peek = std::min(left, 5);
    for (std::int32_t i = 0; i < peek; ++i)
        if ((status = reader_.ReadByte(&id[i])) != Code::Ok)
            return status;
    left -= peek;
    if (peek == 5 && std::memcmp(id, "JFIF", 5) == 0 && left >= 9) {
        std::uint8_t thumb[2];
        if ((status = reader_.ReadByte(&jfifMajor_)) != Code::Ok ||
            (status = reader_.ReadByte(&jfifMinor_)) != Code::Ok ||
            (status = reader_.ReadByte(&jfifUnits_)) != Code::Ok ||
            (status = reader_.ReadWord(&jfifXDensity_)) != Code::Ok ||
            (status = reader_.ReadWord(&jfifYDensity_)) != Code::Ok ||
            (status = reader_.ReadByte(&thumb[0])) != Code::Ok || (status = reader_.ReadByte(&thumb[1])) != Code::Ok)
            return status;
        left -= 9;
        jfif_ = 1;
    }
    return SkipBytes(left);
}

JpegStatus CJPEGDecoder::ParseApp1()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(left));
    for (auto& b : data)
        if ((status = reader_.ReadByte(&b)) != Code::Ok)
            return status;
    if (left >= 6 && std::memcmp(data.data(), "Exif\0", 5) == 0)
        exif_.assign(data.begin() + 6, data.end());
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ParseApp14()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    if (left >= 12) {
        std::uint8_t id[5];
        for (auto& b : id)
            if ((status = reader_.ReadByte(&b)) != Code::Ok)
                return status;
        std::uint16_t version = 0, flags0 = 0, flags1 = 0;
        std::uint8_t transform = 0;
        if ((status = reader_.ReadWord(&version)) != Code::Ok || (status = reader_.ReadWord(&flags0)) != Code::Ok ||
            (status = reader_.ReadWord(&flags1)) != Code::Ok || (status = reader_.ReadByte(&transform)) != Code::Ok)
            return status;
        left -= 12;
        if (std::memcmp(id, "Adobe", 5) == 0) {
            adobe_ = 1;
            adobeTransform_ = transform;
        }
    }
    return SkipBytes(left);
}

JpegStatus CJPEGDecoder::ParseComment()
{
    std::int32_t left = 0;
    JpegStatus status = SegmentLength(&left);
    if (status != Code::Ok)
        return status;
    comment_.assign(static_cast<std::size_t>(left) + 1, '\0');
    for (std::int32_t i = 0; i < left; ++i) {
        std::uint8_t b = 0;
        if ((status = reader_.ReadByte(&b)) != Code::Ok)
            return status;
        comment_[static_cast<std::size_t>(i)] = static_cast<char>(b);
    }
    return Code::Ok;
}

void CJPEGDecoder::DecideColour()
{
    colour_ = JpegColorOther;
    if (jfif_ != 0)
        colour_ = components_ == 1 ? JpegColorGrey : components_ == 3 ? JpegColorYCbCr : JpegColorOther;
    if (adobe_ != 0) {
        if (adobeTransform_ == 1)
            colour_ = JpegColorYCbCr;
        else if (adobeTransform_ == 2)
            colour_ = JpegColorYcck;
        else if (adobeTransform_ == 0)
            colour_ = components_ == 1   ? JpegColorGrey
                      : components_ == 3 ? JpegColorRgb
                      : components_ == 4 ? JpegColorCmyk
                                         : JpegColorOther;
        else
            colour_ = JpegColorOther;
    }
    if (jfif_ == 0 && adobe_ == 0) {
        if (components_ == 1)
            colour_ = JpegColorGrey;
        else if (components_ == 3 && process_ != JpegModeLossless && precision_ == 8)
            colour_ = JpegColorYCbCr;
    }
    // FFmpeg's lossless RGB: three full-resolution 9-bit components holding
    // its reversible transform of 8-bit RGB, marked by nothing but the
    // precision (FFmpeg's own decoder reads it so).
    reversibleRgb_ = process_ == JpegModeLossless && precision_ == 9 && components_ == 3 && adobe_ == 0;
    for (std::int32_t i = 0; i < components_ && reversibleRgb_; ++i)
        reversibleRgb_ = component_[i].h == 1 && component_[i].v == 1;
    if (reversibleRgb_)
        colour_ = JpegColorRgb;
}

JpegStatus CJPEGDecoder::ReadHeader(std::int32_t* width, std::int32_t* height, std::int32_t* components,
                                    JpegColor* colour, JpegSampling* sampling, std::int32_t* precision)
{
    process_ = 0;
    scanMarker_ = 0;
    JpegStatus status = ParseMarkers(true);
    if (status != Code::Ok)
        return status;
    if (process_ == 0 || scanMarker_ != 0xDA)
        return Code::BadImageData;
    DecideColour();
    if (width != nullptr)
        *width = width_;
    if (height != nullptr)
        *height = height_;
    if (components != nullptr)
        *components = components_;
    if (colour != nullptr)
        *colour = colour_;
    if (sampling != nullptr)
        *sampling = sampling_;
    if (precision != nullptr)
        *precision = ReportedPrecision();
    return Code::Ok;
}

JpegStatus CJPEGDecoder::SetDestination(std::uint8_t* data, std::int32_t step, ImageSize size,
                                        std::int32_t channels, JpegColor colour, JpegSampling sampling,
                                        std::int32_t precision, std::int32_t scale)
{
    if (data == nullptr || step < 0 || channels < 1 || channels > 4 || precision <= 0 || precision != ReportedPrecision() ||
        scale < 0 || scale > 3)
        return Code::BadParameter;
    planes_[0] = data;
    planes_[1] = planes_[2] = planes_[3] = nullptr;
    steps_[0] = step;
    destinationSize_ = size;
    destinationChannels_ = channels;
    destinationColour_ = colour;
    destinationSampling_ = sampling;
    destinationPrecision_ = precision;
    scale_ = scale;
    planar_ = 0;
    destinationSet_ = true;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::SetDestinationPlanar(std::uint8_t* const planes[4], const std::int32_t steps[4],
                                              ImageSize size, std::int32_t channels, JpegColor colour,
                                              JpegSampling sampling, std::int32_t precision, std::int32_t scale)
{
    if (planes == nullptr || steps == nullptr || channels < 1 || channels > 4 || precision != ReportedPrecision() ||
        scale < 0 || scale > 3)
        return Code::BadParameter;
    for (std::int32_t i = 0; i < channels; ++i) {
        if (planes[i] == nullptr || steps[i] < 0)
            return Code::BadParameter;
        planes_[i] = planes[i];
        steps_[i] = steps[i];
    }
    destinationSize_ = size;
    destinationChannels_ = channels;
    destinationColour_ = colour;
    destinationSampling_ = sampling;
    destinationPrecision_ = precision;
    scale_ = scale;
    planar_ = 1;
    destinationSet_ = true;
    return Code::Ok;
}

// ---------------------------------------------------------------------------
// Scans.

JpegStatus CJPEGDecoder::PrepareCoefficients()
{
    std::int64_t total = 0;
    for (std::int32_t i = 0; i < components_; ++i) {
        component_[i].offset = total;
        total += std::int64_t{component_[i].blocksWide} * component_[i].blocksHigh *
                 (process_ == JpegModeLossless ? 1 : 64);
    }
    coefficientTotal_ = total;
    // Lossless samples are cleared here. Block buffers are made by the
    // scans: a sequential scan of whole MCUs needs one MCU row, any other
    // scan the image's blocks, cleared when it first needs them.
    if (process_ == JpegModeLossless) {
        const JpegStatus status = EnsureCoefficients();
        if (status != Code::Ok)
            return status;
        std::fill(coefficients_.begin(), coefficients_.end(), std::int16_t{0});
    }
    for (std::int32_t i = 0; i < components_; ++i) {
        component_[i].scanned = false;
        component_[i].cleared = process_ == JpegModeLossless;
        if (process_ == JpegModeLossless)
            component_[i].firstRows.assign(static_cast<std::size_t>(component_[i].blocksHigh), 0);
    }
    return state_.State() == nullptr ? state_.Create() : Code::Ok;
}

JpegStatus CJPEGDecoder::EnsureCoefficients()
{
    if (static_cast<std::int64_t>(coefficients_.size()) == coefficientTotal_)
        return Code::Ok;
    try {
        coefficients_.assign(static_cast<std::size_t>(coefficientTotal_), 0);
    } catch (const std::bad_alloc&) {
        return Code::NoMemory;
    }
    for (std::int32_t i = 0; i < components_; ++i)
        component_[i].cleared = true;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::PrepareTables()
{
    if (InitHuffmanDecoderState(state_.State()) != 0)
        return Code::InternalError;
    // Streams without DHT, such as motion-JPEG frames, use the tables of
    // T.81 Annex K.
    if (dcTables_[0].Empty())
        LoadStandardTable(dcTables_[0], 0, 0, kStandardDcLuminance);
    if (dcTables_[1].Empty())
        LoadStandardTable(dcTables_[1], 1, 0, kStandardDcChrominance);
    if (acTables_[0].Empty())
        LoadStandardTable(acTables_[0], 0, 1, kStandardAcLuminance);
    if (acTables_[1].Empty())
        LoadStandardTable(acTables_[1], 1, 1, kStandardAcChrominance);
    for (std::int32_t k = 0; k < scanCount_; ++k) {
        const Component& c = component_[scanIndex_[k]];
        const bool lossless = process_ == JpegModeLossless;
        const bool dc = lossless || (ss_ == 0 && (process_ != JpegModeProgressive || ah_ == 0));
        const bool ac = !lossless && (process_ != JpegModeProgressive || ss_ != 0);
        if ((dc && !dcTables_[c.dcId].Valid()) || (ac && !acTables_[c.acId].Valid()))
            return Code::BadHuffmanTableSegment;
        if (lossless)
            continue;
        CJPEGDecoderQuantTable& q = quant_[c.quantId];
        if (!q.Initialised())
            return Code::BadQuantTableSegment;
        JpegStatus status = Code::Ok;
        if (precision_ > 8 && q.Precision() == 0)
            status = q.Widen8To16();
        else if (precision_ <= 8 && q.Precision() == 1)
            status = q.Narrow16To8();
        if (status != Code::Ok)
            return status;
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::DecodeRestart()
{
    if (InitHuffmanDecoderState(state_.State()) != 0)
        return Code::InternalError;
    for (std::int32_t i = 0; i < components_; ++i)
        component_[i].lastDc = 0;
    if (scanMarker_ != 0) {
        scanMarker_ = 0;
    } else {
        const JpegStatus status = NextMarker();
        if (status != Code::Ok)
            return status;
        currentMarker_ = 0;
    }
    restartCounter_ = (restartCounter_ + 1) & 7;
    restartsToGo_ = restartInterval_;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::DecodeBlock(Component& c, std::int16_t* block)
{
    if (reader_.Limit() - reader_.Position() < kBlockReserve) {
        const JpegStatus status = reader_.FillBuffer(kBlockReserve);
        if (status != Code::Ok && status != Code::BufferExhausted)
            return status;
    }
    std::int32_t position = reader_.Position();
    const std::uint8_t* src = reader_.Buffer();
    const std::int32_t limit = reader_.Limit();
    HuffmanDecoderState* state = state_.State();
    PrimitiveStatus result = 0;
    if (process_ != JpegModeProgressive) {
        const CJPEGDecoderHuffmanTable& ac = acTables_[c.acId];
        const HuffmanFastAcTable* fast = ac.Fast();
        result = fast != nullptr ? DecodeHuffman8x8Fast(src, limit, &position, block, &c.lastDc, &scanMarker_,
                                                        dcTables_[c.dcId].Spec(), ac.Spec(), fast, state)
                                 : DecodeHuffman8x8(src, limit, &position, block, &c.lastDc, &scanMarker_,
                                                    dcTables_[c.dcId].Spec(), ac.Spec(), state);
    }
    else if (ss_ == 0 && ah_ == 0)
        result = DecodeHuffmanDcFirst(src, limit, &position, block, &c.lastDc, &scanMarker_, al_,
                                      dcTables_[c.dcId].Spec(), state);
    else if (ss_ == 0)
        result = DecodeHuffmanDcRefine(src, limit, &position, block, &scanMarker_, al_, state);
    else if (ah_ == 0)
        result = DecodeHuffmanAcFirst(src, limit, &position, block, &scanMarker_, ss_, se_, al_,
                                      acTables_[c.acId].Spec(), state);
    else
        result = DecodeHuffmanAcRefine(src, limit, &position, block, &scanMarker_, ss_, se_, al_,
                                       acTables_[c.acId].Spec(), state);
    reader_.SetPosition(position);
    if (result < 0) {
        scanMarker_ = 0;
        return result == PrimitiveStatusCode::CodedBufferExhausted ? Code::BufferExhausted : Code::InternalError;
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::DecodeMcus(std::int16_t* const blocks[], const std::int32_t strides[], std::int32_t count,
                                    std::int32_t mcus, std::int32_t* decoded, std::int16_t* const lastDc[],
                                    const HuffmanDecoderSpec* const dc[], const HuffmanDecoderSpec* const ac[],
                                    const HuffmanFastAcTable* const fast[])
{
    const std::int32_t reserve = kBlockReserve * count;
    if (reader_.Limit() - reader_.Position() < reserve) {
        const JpegStatus status = reader_.FillBuffer(reserve);
        if (status != Code::Ok && status != Code::BufferExhausted)
            return status;
    }
    std::int32_t position = reader_.Position();
    const PrimitiveStatus result =
        DecodeHuffmanMcusFast(reader_.Buffer(), reader_.Limit(), &position, blocks, strides, count, mcus, reserve,
                              decoded, lastDc, dc, ac, fast, &scanMarker_, state_.State());
    reader_.SetPosition(position);
    if (result < 0) {
        scanMarker_ = 0;
        return result == PrimitiveStatusCode::CodedBufferExhausted ? Code::BufferExhausted : Code::InternalError;
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::DecodeSequentialScan()
{
    if (process_ == JpegModeProgressive) {
        // DC scans may interleave; AC scans hold one component and a band
        // inside 1..63; a refinement refines by one bit.
        const bool dcScan = ss_ == 0;
        if ((dcScan && se_ != 0) || (!dcScan && (se_ < ss_ || se_ > 63 || scanCount_ != 1)) || al_ > 13 ||
            (ah_ != 0 && ah_ != al_ + 1))
            return Code::BadScanHeader;
        for (std::int32_t k = 0; k < scanCount_; ++k)
            if (!dcScan && !component_[scanIndex_[k]].scanned)
                return Code::BadScanHeader;  // AC data before the DC of its component
    }
    JpegStatus status = PrepareTables();
    if (status != Code::Ok)
        return status;
    scanMarker_ = 0;
    restartsToGo_ = restartInterval_;
    const bool wholeMcus = scanCount_ > 1 || components_ == 1;
    // A sequential scan of whole MCUs writes every block of its components
    // and leaves them final: it decodes one MCU row at a time into a row
    // buffer and transforms the row at once. Any other scan keeps the
    // image's blocks, cleared before its first scan.
    const bool streamed = wholeMcus && process_ != JpegModeProgressive;
    std::int64_t rowOffset[4] = {};
    std::int16_t* base = nullptr;
    if (streamed) {
        std::int64_t rowTotal = 0;
        for (std::int32_t k = 0; k < scanCount_; ++k) {
            const Component& c = component_[scanIndex_[k]];
            rowOffset[k] = rowTotal;
            rowTotal += std::int64_t{c.blocksWide} * c.v * 64;
        }
        try {
            mcuRow_.resize(static_cast<std::size_t>(rowTotal));
        } catch (const std::bad_alloc&) {
            return Code::NoMemory;
        }
        base = mcuRow_.data();
    } else {
        if ((status = EnsureCoefficients()) != Code::Ok)
            return status;
        base = coefficients_.data();
        for (std::int32_t k = 0; k < scanCount_; ++k)
            rowOffset[k] = component_[scanIndex_[k]].offset;
    }
    // Output rows go with the scan only for a first scan that holds every
    // component; any other scan leaves the whole output to the end.
    bool firstScan = true;
    for (std::int32_t i = 0; i < components_; ++i)
        firstScan = firstScan && !component_[i].scanned;
    if (!(outputWithScan_ && streamed && firstScan && scanCount_ == components_)) {
        outputWithScan_ = false;
        outputRowsWritten_ = 0;
    }
    for (std::int32_t k = 0; k < scanCount_; ++k) {
        Component& c = component_[scanIndex_[k]];
        c.transformed = false;
        if (!streamed && !c.cleared)
            std::fill_n(base + c.offset, std::int64_t{c.blocksWide} * c.blocksHigh * 64, std::int16_t{0});
        c.cleared = !streamed || c.cleared;
    }
    if (wholeMcus) {
        // Sequential MCUs of at most ten blocks whose AC tables have fast
        // tables are decoded in one call each.
        constexpr std::int32_t kMaxMcuBlocks = 10;
        std::int16_t* mcuLastDc[kMaxMcuBlocks] = {};
        const HuffmanDecoderSpec* mcuDc[kMaxMcuBlocks] = {};
        const HuffmanDecoderSpec* mcuAc[kMaxMcuBlocks] = {};
        const HuffmanFastAcTable* mcuFast[kMaxMcuBlocks] = {};
        std::int32_t mcuBlocks = 0;
        bool wholeMcuCalls = process_ != JpegModeProgressive;
        for (std::int32_t k = 0; k < scanCount_ && wholeMcuCalls; ++k) {
            Component& c = component_[scanIndex_[k]];
            const HuffmanFastAcTable* fast = acTables_[c.acId].Fast();
            for (std::int32_t b = 0; b < c.v * c.h && wholeMcuCalls; ++b) {
                wholeMcuCalls = fast != nullptr && mcuBlocks < kMaxMcuBlocks;
                if (wholeMcuCalls) {
                    mcuLastDc[mcuBlocks] = &c.lastDc;
                    mcuDc[mcuBlocks] = dcTables_[c.dcId].Spec();
                    mcuAc[mcuBlocks] = acTables_[c.acId].Spec();
                    mcuFast[mcuBlocks] = fast;
                    ++mcuBlocks;
                }
            }
        }
        for (std::int32_t row = 0; row < mcuRows_; ++row) {
            for (std::int32_t col = 0; col < mcuColumns_; ++col) {
                if (restartInterval_ != 0 && restartsToGo_ == 0 && (status = DecodeRestart()) != Code::Ok)
                    return status;
                if (wholeMcuCalls) {
                    // The MCUs up to the end of the row or of the restart
                    // interval, as many in each call as the buffer holds.
                    std::int16_t* blocks[kMaxMcuBlocks] = {};
                    std::int32_t strides[kMaxMcuBlocks] = {};
                    std::int32_t n = 0;
                    for (std::int32_t k = 0; k < scanCount_; ++k) {
                        const Component& c = component_[scanIndex_[k]];
                        const std::int32_t firstRow = streamed ? 0 : row * c.v;
                        for (std::int32_t y = 0; y < c.v; ++y)
                            for (std::int32_t x = 0; x < c.h; ++x) {
                                strides[n] = c.h * 64;
                                blocks[n++] = base + rowOffset[k] +
                                              (std::int64_t{firstRow + y} * c.blocksWide + col * c.h + x) * 64;
                            }
                    }
                    std::int32_t mcus = mcuColumns_ - col;
                    if (restartInterval_ != 0)
                        mcus = std::min(mcus, restartsToGo_);
                    std::int32_t decoded = 0;
                    if ((status = DecodeMcus(blocks, strides, mcuBlocks, mcus, &decoded, mcuLastDc, mcuDc, mcuAc,
                                             mcuFast)) != Code::Ok)
                        return status;
                    restartsToGo_ -= decoded;
                    col += decoded - 1;
                    continue;
                }
                for (std::int32_t k = 0; k < scanCount_; ++k) {
                    Component& c = component_[scanIndex_[k]];
                    const std::int32_t firstRow = streamed ? 0 : row * c.v;
                    for (std::int32_t y = 0; y < c.v; ++y)
                        for (std::int32_t x = 0; x < c.h; ++x) {
                            const std::int64_t b = std::int64_t{firstRow + y} * c.blocksWide + col * c.h + x;
                            if ((status = DecodeBlock(c, base + rowOffset[k] + b * 64)) != Code::Ok)
                                return status;
                        }
                }
                --restartsToGo_;
            }
            if (streamed)
                for (std::int32_t k = 0; k < scanCount_; ++k) {
                    Component& c = component_[scanIndex_[k]];
                    if ((status = TransformRows(c, base + rowOffset[k], row * c.v, (row + 1) * c.v)) != Code::Ok)
                        return status;
                }
            // One MCU row behind: up-sampling reads at most one component
            // row beyond the output row, which this margin covers at every
            // scale.
            if (outputWithScan_ && (status = WriteOutputRows(outputRowsWritten_, row * mcuHeight_ / scaleFactor_)) !=
                                       Code::Ok)
                return status;
        }
        if (streamed)
            for (std::int32_t k = 0; k < scanCount_; ++k)
                component_[scanIndex_[k]].transformed = true;
    } else {
        // One component of several: its blocks in raster order over the
        // part of the image it covers.
        Component& c = component_[scanIndex_[0]];
        const std::int32_t wide = ((width_ * c.h + maxH_ - 1) / maxH_ + 7) / 8;
        const std::int32_t high = ((height_ * c.v + maxV_ - 1) / maxV_ + 7) / 8;
        for (std::int32_t y = 0; y < high; ++y)
            for (std::int32_t x = 0; x < wide; ++x) {
                if (restartInterval_ != 0 && restartsToGo_ == 0 && (status = DecodeRestart()) != Code::Ok)
                    return status;
                if ((status = DecodeBlock(c, base + c.offset + (std::int64_t{y} * c.blocksWide + x) * 64)) !=
                    Code::Ok)
                    return status;
                --restartsToGo_;
            }
    }
    if (process_ != JpegModeProgressive || ss_ == 0)
        for (std::int32_t k = 0; k < scanCount_; ++k)
            component_[scanIndex_[k]].scanned = true;
    // The marker that ended the scan may already sit in the bit buffer.
    currentMarker_ = scanMarker_;
    scanMarker_ = 0;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ReadData()
{
    if (!destinationSet_ || process_ == 0)
        return Code::BadParameter;
    // Lossless and 12-bit images are decoded at full size only.
    const bool reducible = precision_ <= 8 && process_ != JpegModeLossless;
    scaleFactor_ = reducible ? 1 << scale_ : 1;
    // The destination must hold the scaled image.
    const ImageSize scaled = ScaledSize({width_, height_}, reducible ? scale_ : 0);
    if (destinationSize_.width < scaled.width || destinationSize_.height < scaled.height)
        return Code::BadParameter;
    // The pixels written per row must fit the channels and the step given.
    if (planar_ == 0) {
        std::int32_t needed = components_;
        switch (destinationColour_) {
        case JpegColorGrey: needed = 1; break;
        case JpegColorRgb:
        case JpegColorBgr: needed = 3; break;
        case JpegColorRgba:
        case JpegColorBgra:
        case JpegColorCmyk: needed = 4; break;
        case JpegColorYCbCr: needed = 2; break;  // packed 4:2:2
        default: break;
        }
        const std::int64_t rowBytes = std::int64_t{scaled.width} * needed * SampleBytes();
        if (destinationChannels_ < needed || steps_[0] < rowBytes)
            return Code::BadParameter;
    }
    JpegStatus status = PrepareCoefficients();
    if (status != Code::Ok)
        return status;
    if (process_ != JpegModeLossless && (status = PreparePlanes()) != Code::Ok)
        return status;
    outputRowsWritten_ = 0;
    outputWithScan_ = OutputRowsMayGoEarly();
    for (;;) {
        scanMarker_ = 0;
        if ((status = ParseMarkers(false)) != Code::Ok)
            return status;
        if (scanMarker_ == 0xD9)
            break;
        if ((status = process_ == JpegModeLossless ? DecodeLosslessScan() : DecodeSequentialScan()) != Code::Ok)
            return status;
    }
    for (std::int32_t i = 0; i < components_; ++i)
        if (!component_[i].scanned)
            return Code::BadImageData;
    if ((status = process_ == JpegModeLossless ? ReconstructLossless() : TransformComponents()) != Code::Ok)
        return status;
    return planar_ != 0 ? WritePlanar() : WriteOutput();
}

// ---------------------------------------------------------------------------
// Output.

JpegStatus CJPEGDecoder::PreparePlanes()
{
    const std::int32_t bytes = precision_ > 8 ? 2 : 1;
    for (std::int32_t i = 0; i < components_; ++i) {
        Component& c = component_[i];
        c.transformed = false;
        // A reduced component decoded at a reduced scale takes a larger
        // transform and needs no up-sampling where the two cancel; a
        // transform larger than one direction needs is averaged down.
        const auto sideFor = [&](std::int32_t reduction) {
            const bool power = reduction == 1 || reduction == 2 || reduction == 4;
            const std::int32_t wanted = 8 * reduction / scaleFactor_;
            return precision_ <= 8 && planar_ == 0 && power && wanted <= 8 ? wanted : 8 / scaleFactor_;
        };
        c.outWidth = sideFor(c.hScale);
        c.outHeight = sideFor(c.vScale);
        c.planeStep = c.blocksWide * c.outWidth * bytes;
        c.planeHeight = c.blocksHigh * c.outHeight;
        // A planar destination whose steps hold the component takes its
        // whole blocks directly; WritePlanar copies the rest.
        c.directWidth = c.directHeight = 0;
        if (planar_ != 0 && i < destinationChannels_ && c.outWidth == c.outHeight) {
            const ImageSize size = PlanarSize(c);
            if (steps_[i] >= size.width * bytes) {
                c.directWidth = size.width / c.outWidth * c.outWidth;
                c.directHeight = size.height / c.outHeight * c.outHeight;
            }
        }
        // Every sample of the plane is written by the transform: a kept plane
        // of the same size is reused as it is.
        try {
            c.plane.resize(static_cast<std::size_t>(c.planeStep) * c.planeHeight);
        } catch (const std::bad_alloc&) {
            return Code::NoMemory;
        }
    }
    return Code::Ok;
}

JpegStatus CJPEGDecoder::TransformComponents()
{
    for (std::int32_t i = 0; i < components_; ++i) {
        Component& c = component_[i];
        if (c.transformed)
            continue;
        const JpegStatus status = TransformRows(c, coefficients_.data() + c.offset, 0, c.blocksHigh);
        if (status != Code::Ok)
            return status;
        c.transformed = true;
    }
    return Code::Ok;
}

// Block rows [firstRow, endRow) of the component, from `blocks`, which holds
// block row firstRow first.
JpegStatus CJPEGDecoder::TransformRows(Component& c, const std::int16_t* blocks, std::int32_t firstRow,
                                       std::int32_t endRow)
{
    const std::int32_t bytes = precision_ > 8 ? 2 : 1;
    {
        const std::int32_t side = std::max(c.outWidth, c.outHeight);
        const std::int32_t dropX = side / c.outWidth, dropY = side / c.outHeight;
        const CJPEGDecoderQuantTable& q = quant_[c.quantId];
        const auto index = static_cast<std::int32_t>(&c - component_);
        const std::int32_t directColumns = c.directWidth / std::max(1, c.outWidth);
        const std::int32_t directRows = c.directHeight / std::max(1, c.outHeight);
        alignas(16) std::uint8_t samples[128];
        for (std::int32_t by = firstRow; by < std::min(endRow, c.blocksHigh); ++by)
            for (std::int32_t bx = 0; bx < c.blocksWide; ++bx) {
                const std::int16_t* block = blocks + (std::int64_t{by - firstRow} * c.blocksWide + bx) * 64;
                // Whole blocks inside a planar destination go straight there.
                const bool inside = bx < directColumns && by < directRows;
                std::uint8_t* out =
                    inside ? planes_[index] + static_cast<std::size_t>(by) * c.outHeight * steps_[index] +
                                 static_cast<std::size_t>(bx) * c.outWidth * bytes
                           : c.plane.data() + static_cast<std::size_t>(by) * c.outHeight * c.planeStep +
                                 static_cast<std::size_t>(bx) * c.outWidth * bytes;
                const std::int32_t outStep = inside ? steps_[index] : c.planeStep;
                PrimitiveStatus result = 0;
                // Full-size blocks in pairs where both go to the same place.
                if (precision_ <= 8 && side == 8 && dropX == 1 && dropY == 1 && bx + 1 < c.blocksWide &&
                    inside == (bx + 1 < directColumns && by < directRows)) {
                    if (InverseDctDequant8x8To8uPair(block, out, outStep, q.Quantisers()) < 0)
                        return Code::InternalError;
                    ++bx;
                    continue;
                }
                if (precision_ > 8) {
                    result = InverseDctDequant8x8To16u(block, reinterpret_cast<std::uint16_t*>(out), outStep,
                                                       q.FloatQuantisers());
                    if (result < 0)
                        return Code::InternalError;
                    continue;
                }
                // Square outputs go straight to the plane; others through
                // the block buffer, averaged down.
                const bool direct = dropX == 1 && dropY == 1;
                std::uint8_t* target = direct ? out : samples;
                const std::int32_t targetStep = direct ? outStep : side;
                if (side == 8)
                    result = InverseDctDequant8x8To8u(block, target, targetStep, q.Quantisers());
                else if (side == 4)
                    result = InverseDctDequant8x8To4x4(block, target, targetStep, q.Quantisers());
                else if (side == 2)
                    result = InverseDctDequant8x8To2x2(block, target, targetStep, q.Quantisers());
                else {
                    const std::int32_t v = block[0] * static_cast<std::int32_t>(q.Quantisers()[0]);
                    *target = static_cast<std::uint8_t>(v >= 1024 ? 255 : v < -1024 ? 0 : (v >> 3) + 128);
                }
                if (result < 0)
                    return Code::InternalError;
                if (direct)
                    continue;
                const std::int32_t area = dropX * dropY;
                for (std::int32_t y = 0; y < c.outHeight; ++y)
                    for (std::int32_t x = 0; x < c.outWidth; ++x) {
                        std::int32_t sum = 0;
                        for (std::int32_t j = 0; j < dropY; ++j)
                            for (std::int32_t i = 0; i < dropX; ++i)
                                sum += samples[(y * dropY + j) * side + x * dropX + i];
                        out[static_cast<std::size_t>(y) * outStep + x] =
                            static_cast<std::uint8_t>((sum + area / 2) / area);
                    }
            }
    }
    return Code::Ok;
}

// Row y of the component at the scaled full resolution of the image: `step`
// bytes into `line`, which holds at least LineBytes(step).
JpegStatus CJPEGDecoder::UpsampleRow(const Component& c, std::int32_t y, std::uint8_t* line, std::int32_t step) const
{
    const std::int32_t bytes = SampleBytes();
    // Factors still to apply.
    const std::int32_t h = std::max(1, 8 * c.hScale / (scaleFactor_ * c.outWidth));
    const std::int32_t v = std::max(1, 8 * c.vScale / (scaleFactor_ * c.outHeight));
    // The component's own samples: edges replicate its last real sample,
    // not the padding of its last block.
    const std::int32_t compWidth = ((width_ * c.h + maxH_ - 1) / maxH_ * c.outWidth + 7) / 8;
    const std::int32_t compHeight = ((height_ * c.v + maxV_ - 1) / maxV_ * c.outHeight + 7) / 8;
    const std::int32_t lastRow = std::max(0, std::min(compHeight, c.planeHeight) - 1);
    const std::int32_t srcWidth = std::max(1, std::min(c.planeStep / bytes, compWidth));
    if (h == 2 && bytes == 1 && (v == 1 || v == 2)) {
        PrimitiveStatus result = 0;
        if (v == 2) {
            const std::int32_t near = std::min(y / 2, lastRow);
            const std::int32_t far = std::clamp(y % 2 == 0 ? near - 1 : near + 1, 0, lastRow);
            result = UpsampleRowH2V2(c.plane.data() + static_cast<std::size_t>(near) * c.planeStep,
                                     c.plane.data() + static_cast<std::size_t>(far) * c.planeStep, srcWidth, line);
        } else {
            result = UpsampleRowH2V1(c.plane.data() + static_cast<std::size_t>(std::min(y, lastRow)) * c.planeStep,
                                     srcWidth, line);
        }
        if (result != 0)
            return Code::InternalError;
        if (2 * srcWidth < step)
            std::memset(line + 2 * srcWidth, 0, static_cast<std::size_t>(step - 2 * srcWidth));
        return Code::Ok;
    }
    // Any other reduction: samples repeated.
    const std::int32_t samples = step / bytes;
    const std::uint8_t* src = c.plane.data() + static_cast<std::size_t>(std::min(y / v, lastRow)) * c.planeStep;
    for (std::int32_t x = 0; x < samples; ++x) {
        const std::int32_t sx = std::min(x / h, srcWidth - 1);
        std::memcpy(line + static_cast<std::size_t>(x) * bytes, src + static_cast<std::size_t>(sx) * bytes,
                    static_cast<std::size_t>(bytes));
    }
    return Code::Ok;
}

bool CJPEGDecoder::OutputRowsMayGoEarly() const
{
    if (planar_ != 0 || process_ == JpegModeProgressive || process_ == JpegModeLossless || SampleBytes() != 1)
        return false;
    const JpegColor to = destinationColour_;
    if (colour_ == JpegColorYCbCr && components_ >= 3)
        return to == JpegColorRgb || to == JpegColorBgr || to == JpegColorRgba || to == JpegColorBgra ||
               to == JpegColorGrey;
    if (colour_ == JpegColorGrey && components_ == 1)
        return to == JpegColorGrey || to == JpegColorRgb || to == JpegColorBgr;
    return false;
}

JpegStatus CJPEGDecoder::WriteOutput()
{
    return WriteOutputRows(outputRowsWritten_, height_);
}

JpegStatus CJPEGDecoder::WriteOutputRows(std::int32_t first, std::int32_t end)
{
    const ImageSize size = ScaledSize({width_, height_}, scaleFactor_ == 1 ? 0 : scale_);
    end = std::min(end, size.height);
    if (first >= end)
        return Code::Ok;
    const std::int32_t bytes = SampleBytes();
    const std::int32_t step = size.width * bytes;
    // Packed 4:2:2 from the 4:2:2 planes as decoded (full size only).
    if (colour_ == JpegColorYCbCr && destinationColour_ == JpegColorYCbCr) {
        if (sampling_ != JpegSampling422 || destinationSampling_ != JpegSampling422 || scaleFactor_ != 1 || bytes != 1)
            return Code::NotSupported;
        const std::uint8_t* planes[3] = {component_[0].plane.data(), component_[1].plane.data(),
                                         component_[2].plane.data()};
        const std::int32_t steps[3] = {component_[0].planeStep, component_[1].planeStep, component_[2].planeStep};
        return ConvertYCbCr422ToYuy2_8uP3C2(planes, steps, planes_[0], steps_[0], size) != 0 ? Code::InternalError
                                                                                               : Code::Ok;
    }
    // One output row at a time from the components' rows: full-resolution
    // components straight from their planes, the others up-sampled into a
    // line each.
    const std::int32_t lineBytes = std::max(step, 2 * (step / bytes + 16) * bytes);
    try {
        lines_.resize(static_cast<std::size_t>(lineBytes) * components_);
    } catch (const std::bad_alloc&) {
        return Code::NoMemory;
    }
    const JpegColor to = destinationColour_;
    const ImageSize rowSize{size.width, 1};
    const auto convert = [&](const std::uint8_t* const planes[4], std::uint8_t* dst) -> JpegStatus {
        const std::int32_t dstStep = steps_[0];
        const ImageSize size = rowSize;
        PrimitiveStatus result = 0;
        const auto grey3 = [&]() {
            const std::uint8_t* three[3] = {planes[0], planes[0], planes[0]};
            return CopyImage8uP3C3(three, step, dst, dstStep, size);
        };
        if (bytes == 2) {
            const auto* p16 = reinterpret_cast<const std::uint16_t* const*>(planes);
            auto* d16 = reinterpret_cast<std::uint16_t*>(dst);
            if (colour_ == to || to == JpegColorOther) {
                if (components_ == 1)
                    result = CopyImage16uC1(p16[0], step, d16, dstStep, size);
                else if (components_ == 3)
                    result = CopyImage16uP3C3(p16, step, d16, dstStep, size);
                else if (components_ == 4)
                    result = CopyImage16uP4C4(p16, step, d16, dstStep, size);
                else
                    return Code::NotSupported;
            } else if (colour_ == JpegColorRgb && to == JpegColorBgr) {
                const std::uint16_t* reversed[3] = {p16[2], p16[1], p16[0]};
                result = CopyImage16uP3C3(reversed, step, d16, dstStep, size);
            } else {
                return Code::NotSupported;
            }
            return result != 0 ? Code::InternalError : Code::Ok;
        }
        if (to == JpegColorOther) {
            // No conversion: the components as they are.
            if (components_ == 1)
                result = CopyImage8uC1(planes[0], step, dst, dstStep, size);
            else if (components_ == 3)
                result = CopyImage8uP3C3(planes, step, dst, dstStep, size);
            else if (components_ == 4)
                result = CopyImage8uP4C4(planes, step, dst, dstStep, size);
            else
                return Code::NotSupported;
        } else if (colour_ == JpegColorGrey && to == JpegColorGrey) {
            result = CopyImage8uC1(planes[0], step, dst, dstStep, size);
        } else if (colour_ == JpegColorGrey && (to == JpegColorRgb || to == JpegColorBgr)) {
            result = grey3();
        } else if (colour_ == JpegColorRgb && to == JpegColorRgb) {
            result = CopyImage8uP3C3(planes, step, dst, dstStep, size);
        } else if (colour_ == JpegColorRgb && to == JpegColorBgr) {
            const std::uint8_t* reversed[3] = {planes[2], planes[1], planes[0]};
            result = CopyImage8uP3C3(reversed, step, dst, dstStep, size);
        } else if (colour_ == JpegColorYCbCr && to == JpegColorGrey) {
            result = CopyImage8uC1(planes[0], step, dst, dstStep, size);
        } else if (colour_ == JpegColorYCbCr && to == JpegColorRgb) {
            result = ConvertYCbCrToRgb8uP3C3(planes, step, dst, dstStep, size);
        } else if (colour_ == JpegColorYCbCr && to == JpegColorBgr) {
            result = ConvertYCbCrToBgr8uP3C3(planes, step, dst, dstStep, size);
        } else if (colour_ == JpegColorYCbCr && to == JpegColorRgba) {
            result = ConvertYCbCrToRgba8uP3C4(planes, step, dst, dstStep, size, 255);
        } else if (colour_ == JpegColorYCbCr && to == JpegColorBgra) {
            result = ConvertYCbCrToBgra8uP3C4(planes, step, dst, dstStep, size, 255);
        } else if (colour_ == JpegColorCmyk && to == JpegColorCmyk) {
            result = CopyImage8uP4C4(planes, step, dst, dstStep, size);
        } else if (colour_ == JpegColorYcck && to == JpegColorCmyk) {
            result = ConvertYcckToCmyk8uP4C4(planes, step, dst, dstStep, size);
        } else {
            // A pair without a conversion is refused rather than left unwritten.
            return Code::NotSupported;
        }
        return result != 0 ? Code::InternalError : Code::Ok;
    };
    for (std::int32_t y = first; y < end; ++y) {
        const std::uint8_t* planes[4] = {};
        for (std::int32_t i = 0; i < components_; ++i) {
            const Component& c = component_[i];
            if (c.outWidth * scaleFactor_ == 8 * c.hScale && c.outHeight * scaleFactor_ == 8 * c.vScale) {
                planes[i] = c.plane.data() + static_cast<std::size_t>(y) * c.planeStep;
                continue;
            }
            std::uint8_t* line = lines_.data() + static_cast<std::size_t>(i) * lineBytes;
            const JpegStatus status = UpsampleRow(c, y, line, step);
            if (status != Code::Ok)
                return status;
            planes[i] = line;
        }
        const JpegStatus status = convert(planes, planes_[0] + static_cast<std::size_t>(y) * steps_[0]);
        if (status != Code::Ok)
            return status;
        outputRowsWritten_ = y + 1;
    }
    return Code::Ok;
}

// The component's own sampled size at the chosen scale.
ImageSize CJPEGDecoder::PlanarSize(const Component& c) const
{
    return {((width_ * c.h + maxH_ - 1) / maxH_ + scaleFactor_ - 1) / scaleFactor_,
            ((height_ * c.v + maxV_ - 1) / maxV_ + scaleFactor_ - 1) / scaleFactor_};
}

JpegStatus CJPEGDecoder::WritePlanar()
{
    const std::int32_t bytes = SampleBytes();
    for (std::int32_t i = 0; i < std::min(components_, destinationChannels_); ++i) {
        const Component& c = component_[i];
        const ImageSize size = PlanarSize(c);
        const std::int32_t w = size.width, h = size.height;
        if (steps_[i] < w * bytes)
            return Code::BadParameter;
        // The transform wrote the whole blocks of the top-left
        // directWidth x directHeight samples already.
        for (std::int32_t y = 0; y < h; ++y) {
            const std::int32_t from = y < c.directHeight ? c.directWidth : 0;
            if (from < w)
                std::memcpy(planes_[i] + static_cast<std::size_t>(y) * steps_[i] + static_cast<std::size_t>(from) * bytes,
                            c.plane.data() + static_cast<std::size_t>(y) * c.planeStep +
                                static_cast<std::size_t>(from) * bytes,
                            static_cast<std::size_t>(w - from) * bytes);
        }
    }
    return Code::Ok;
}

// ---------------------------------------------------------------------------
// Lossless.

JpegStatus CJPEGDecoder::DecodeLosslessScan()
{
    if (ss_ < 1 || ss_ > 7 || al_ >= precision_)
        return Code::BadScanHeader;
    JpegStatus status = PrepareTables();
    if (status != Code::Ok)
        return status;
    scanMarker_ = 0;
    restartsToGo_ = restartInterval_;
    for (std::int32_t k = 0; k < scanCount_; ++k) {
        Component& c = component_[scanIndex_[k]];
        c.predictor = ss_;
        c.pointTransform = al_;
        c.firstRows[0] = 1;
    }
    std::int16_t* base = coefficients_.data();
    HuffmanDecoderState* state = state_.State();
    const auto decodeAt = [&](Component& c, std::int32_t y, std::int32_t x) {
        JpegStatus fill = reader_.FillBuffer(16);
        if (fill != Code::Ok && fill != Code::BufferExhausted)
            return fill;
        std::int32_t position = reader_.Position();
        const PrimitiveStatus result =
            DecodeHuffmanLosslessDiff(reader_.Buffer(), reader_.Limit(), &position,
                                      base + c.offset + std::int64_t{y} * c.blocksWide + x, &scanMarker_,
                                      dcTables_[c.dcId].Spec(), state);
        reader_.SetPosition(position);
        if (result < 0) {
            scanMarker_ = 0;
            return result == PrimitiveStatusCode::CodedBufferExhausted ? Code::BufferExhausted : Code::InternalError;
        }
        return Code::Ok;
    };
    // Interleaved: MCUs of H x V samples of each component; one component:
    // its samples in raster order.
    const bool interleaved = scanCount_ > 1;
    const std::int32_t rows = interleaved ? mcuRows_ : height_;
    const std::int32_t columns = interleaved ? mcuColumns_ : width_;
    for (std::int32_t row = 0; row < rows; ++row)
        for (std::int32_t column = 0; column < columns; ++column) {
            if (restartInterval_ != 0 && restartsToGo_ == 0) {
                // Prediction starts afresh at a restart, which falls at the
                // start of a row.
                if (column != 0)
                    return Code::BadImageData;
                if ((status = DecodeRestart()) != Code::Ok)
                    return status;
                for (std::int32_t k = 0; k < scanCount_; ++k) {
                    Component& c = component_[scanIndex_[k]];
                    c.firstRows[static_cast<std::size_t>(interleaved ? row * c.v : row)] = 1;
                }
            }
            for (std::int32_t k = 0; k < scanCount_; ++k) {
                Component& c = component_[scanIndex_[k]];
                if (!interleaved) {
                    if ((status = decodeAt(c, row, column)) != Code::Ok)
                        return status;
                    continue;
                }
                for (std::int32_t v = 0; v < c.v; ++v)
                    for (std::int32_t h = 0; h < c.h; ++h)
                        if ((status = decodeAt(c, row * c.v + v, column * c.h + h)) != Code::Ok)
                            return status;
            }
            --restartsToGo_;
        }
    for (std::int32_t k = 0; k < scanCount_; ++k)
        component_[scanIndex_[k]].scanned = true;
    currentMarker_ = scanMarker_;
    scanMarker_ = 0;
    return Code::Ok;
}

JpegStatus CJPEGDecoder::ReconstructLossless()
{
    const std::int32_t bytes = precision_ > 8 ? 2 : 1;
    for (std::int32_t i = 0; i < components_; ++i) {
        Component& c = component_[i];
        // Rows are reconstructed over the padded width: padding lies right
        // of and below the image, where no prediction of it looks.
        const std::int32_t stride = c.blocksWide;
        std::vector<std::int16_t> previous(static_cast<std::size_t>(stride)), current(previous.size());
        // Full resolution: nothing to up-sample, nothing written directly.
        c.outWidth = c.outHeight = 8;
        c.directWidth = c.directHeight = 0;
        c.planeStep = width_ * bytes;
        c.planeHeight = height_;
        try {
            c.plane.assign(static_cast<std::size_t>(c.planeStep) * c.planeHeight, 0);
        } catch (const std::bad_alloc&) {
            return Code::NoMemory;
        }
        for (std::int32_t y = 0; y < height_; ++y) {
            const std::int16_t* differences = coefficients_.data() + c.offset + std::int64_t{y} * stride;
            const PrimitiveStatus result =
                c.firstRows[static_cast<std::size_t>(y)] != 0
                    ? LosslessReconstructFirstRow(differences, current.data(), stride, precision_, c.pointTransform)
                    : LosslessReconstructRow(differences, previous.data(), current.data(), stride, c.predictor);
            if (result != 0)
                return Code::InternalError;
            std::uint8_t* row = c.plane.data() + static_cast<std::size_t>(y) * c.planeStep;
            for (std::int32_t x = 0; x < width_; ++x) {
                const auto sample = static_cast<std::uint16_t>(static_cast<std::uint16_t>(current[x]) << c.pointTransform);
                if (bytes == 1)
                    row[x] = static_cast<std::uint8_t>(sample & 255);
                else
                    reinterpret_cast<std::uint16_t*>(row)[x] = sample;
            }
            previous.swap(current);
        }
    }
    if (reversibleRgb_)
        return UndoReversibleRgb();
    return Code::Ok;
}

// FFmpeg's transform of 8-bit RGB: Y = (R + 2G + B) >> 2, Cb = B - G + 256,
// Cr = R - G + 256, their differences coded modulo 2^9; undone as G = Y -
// ((Cb + Cr - 512) >> 2), R = Cr + G, B = Cb + G, each modulo 256. The
// planes become 8-bit R, G and B.
JpegStatus CJPEGDecoder::UndoReversibleRgb()
{
    Buffer<std::uint8_t> rgb[3];
    try {
        for (auto& plane : rgb)
            plane.resize(static_cast<std::size_t>(width_) * height_);
    } catch (const std::bad_alloc&) {
        return Code::NoMemory;
    }
    for (std::int32_t y = 0; y < height_; ++y) {
        const auto* luma = reinterpret_cast<const std::uint16_t*>(component_[0].plane.data() +
                                                                  static_cast<std::size_t>(y) * component_[0].planeStep);
        const auto* blue = reinterpret_cast<const std::uint16_t*>(component_[1].plane.data() +
                                                                  static_cast<std::size_t>(y) * component_[1].planeStep);
        const auto* red = reinterpret_cast<const std::uint16_t*>(component_[2].plane.data() +
                                                                 static_cast<std::size_t>(y) * component_[2].planeStep);
        const std::size_t row = static_cast<std::size_t>(y) * width_;
        for (std::int32_t x = 0; x < width_; ++x) {
            // FFmpeg codes the differences of this transform modulo 2^9.
            const int cb = blue[x] & 511, cr = red[x] & 511;
            const int g = (luma[x] & 511) - ((cb + cr - 512) >> 2);
            rgb[0][row + x] = static_cast<std::uint8_t>(cr + g);
            rgb[1][row + x] = static_cast<std::uint8_t>(g);
            rgb[2][row + x] = static_cast<std::uint8_t>(cb + g);
        }
    }
    for (std::int32_t i = 0; i < 3; ++i) {
        component_[i].plane.swap(rgb[i]);
        component_[i].planeStep = width_;
    }
    return Code::Ok;
}
