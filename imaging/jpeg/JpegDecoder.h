#pragma once
// CJPEGDecoder: a JPEG stream to an image in memory, in pixel order or as
// separate planes, at full size or reduced to 1/2, 1/4 or 1/8.
//
// Calling order: Clean, SetSource, ReadHeader, SetDestination or
// SetDestinationPlanar, ReadData. Huffman streams of the baseline, 12-bit
// extended, progressive and lossless processes are decoded (interleaved or
// one component per scan); the hierarchical and arithmetic processes are
// refused (-1). ReadData decodes every scan up to EOI in one call. Lossless
// and 12-bit images are decoded at full size whatever the scale; a
// destination colour of 0 (other) takes the components as they are, and
// YCbCr with sampling 1 packs a 4:2:2 image at full size as Y0 U Y1 V.
//
// The coded blocks of the whole image are held until the last scan, so a
// frame is bounded: one whose coefficients and planes need more than 1 GiB is
// refused (-8) before anything is allocated.

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "imaging/jpeg/JpegEncoder.h"
#include "imaging/jpeg/JpegStatus.h"
#include "imaging/jpeg/JpegStreams.h"
#include "imaging/jpeg/JpegTables.h"
#include "imaging/primitives/PrimitiveTypes.h"

class CJPEGDecoder {
public:
    CJPEGDecoder();
    virtual ~CJPEGDecoder();
    CJPEGDecoder(const CJPEGDecoder&) = delete;
    CJPEGDecoder& operator=(const CJPEGDecoder&) = delete;

    // Back to the state of a new decoder; the coding tables stay, so a stream
    // without DHT or DQT uses those of earlier images (or the standard
    // Huffman tables when none was ever defined).
    JpegStatus Clean();
    JpegStatus SetSource(CBaseStreamInput* stream);
    // Parses up to the first SOS and leaves the stream on it.
    JpegStatus ReadHeader(std::int32_t* width, std::int32_t* height, std::int32_t* components, JpegColor* colour,
                          JpegSampling* sampling, std::int32_t* precision);
    // -3 for a null pointer, a negative step, channels outside 1..4, a
    // precision that is not the image's, or a scale outside 0..3.
    JpegStatus SetDestination(std::uint8_t* data, std::int32_t step, ImageSize size, std::int32_t channels,
                              JpegColor colour, JpegSampling sampling, std::int32_t precision, std::int32_t scale);
    // Each component into its own plane at its own sampling (scaled); -3 as
    // above, or a null plane or step below the plane's width.
    JpegStatus SetDestinationPlanar(std::uint8_t* const planes[4], const std::int32_t steps[4], ImageSize size,
                                    std::int32_t channels, JpegColor colour, JpegSampling sampling,
                                    std::int32_t precision, std::int32_t scale);
    // Decodes every scan up to EOI and writes the image. A destination
    // smaller than the scaled image is -3 before anything is written; a
    // stream that fails inside its scan may leave rows above the fault
    // written (pixel rows of a single interleaved scan follow its decoding).
    JpegStatus ReadData();

    // Scaled size of the image for a scale 0..3: each side divided by 1, 2,
    // 4 or 8, rounding up.
    static ImageSize ScaledSize(ImageSize size, std::int32_t scale);

    const char* Comment() const { return comment_.empty() ? nullptr : comment_.data(); }
    std::int32_t RestartInterval() const { return restartInterval_; }
    std::int32_t Process() const { return process_; }
    bool HasJfif() const { return jfif_ != 0; }
    bool HasAdobe() const { return adobe_ != 0; }
    std::int32_t AdobeTransform() const { return adobeTransform_; }

private:
    // Buffers whose every element is written before it is read grow without
    // clearing their new elements.
    template <typename T>
    struct GrowWithoutClearing : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = GrowWithoutClearing<U>;
        };
        GrowWithoutClearing() = default;
        template <typename U>
        GrowWithoutClearing(const GrowWithoutClearing<U>&) noexcept
        {
        }
        template <typename U>
        void construct(U* p) noexcept
        {
            ::new (static_cast<void*>(p)) U;
        }
        template <typename U, typename... Args>
        void construct(U* p, Args&&... args)
        {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };
    template <typename T>
    using Buffer = std::vector<T, GrowWithoutClearing<T>>;

    struct Component {
        std::int32_t id = 0;
        std::int32_t h = 1, v = 1;
        std::int32_t quantId = 0;
        std::int32_t dcId = 0, acId = 0;
        std::int32_t hScale = 1, vScale = 1;
        std::int32_t blocksWide = 0, blocksHigh = 0;  // in the coefficient buffer (whole MCUs)
        std::int16_t lastDc = 0;
        std::int64_t offset = 0;  // first block in the coefficient buffer
        bool scanned = false;
        bool cleared = false;      // its blocks hold nothing of an earlier image
        bool transformed = false;  // plane holds its final coefficients' samples
        std::int32_t outWidth = 0, outHeight = 0;  // samples per block side after the transform
        std::int32_t planeStep = 0, planeHeight = 0;
        // Samples written straight to a planar destination (whole blocks).
        std::int32_t directWidth = 0, directHeight = 0;
        Buffer<std::uint8_t> plane;  // transformed samples, 1 or 2 bytes each
        std::int32_t predictor = 1, pointTransform = 0;  // lossless
        std::vector<std::uint8_t> firstRows;             // lossless: rows predicted as first rows
    };

    JpegStatus ParseMarkers(bool header);
    JpegStatus NextMarker();
    JpegStatus SegmentLength(std::int32_t* length);
    JpegStatus SkipBytes(std::int32_t count);
    JpegStatus ParseFrameHeader();
    JpegStatus ParseHuffmanTables();
    JpegStatus ParseQuantTables();
    JpegStatus ParseRestartInterval();
    JpegStatus ParseScanHeader();
    JpegStatus ParseApp0();
    JpegStatus ParseApp1();
    JpegStatus ParseApp14();
    JpegStatus ParseComment();
    void DecideColour();
    JpegStatus ComputeGeometry();
    JpegStatus PrepareCoefficients();
    JpegStatus PrepareTables();
    JpegStatus DecodeSequentialScan();
    JpegStatus DecodeBlock(Component& c, std::int16_t* block);
    // Sequential MCUs of at most ten blocks with the tables of each block
    // given, up to `mcus` of them, MCU m's block i at blocks[i] + m * strides[i];
    // *decoded gets how many were decoded (at least one unless it fails).
    JpegStatus DecodeMcus(std::int16_t* const blocks[], const std::int32_t strides[], std::int32_t count,
                          std::int32_t mcus, std::int32_t* decoded, std::int16_t* const lastDc[],
                          const HuffmanDecoderSpec* const dc[], const HuffmanDecoderSpec* const ac[],
                          const HuffmanFastAcTable* const fast[]);
    JpegStatus DecodeRestart();
    JpegStatus PreparePlanes();
    JpegStatus TransformComponents();
    JpegStatus TransformRows(Component& c, const std::int16_t* blocks, std::int32_t firstRow, std::int32_t endRow);
    JpegStatus EnsureCoefficients();
    JpegStatus DecodeLosslessScan();
    JpegStatus ReconstructLossless();
    JpegStatus WriteOutput();
    // Output rows [first, end) (end clipped to the image) from the planes,
    // which must hold every component row they read.
    JpegStatus WriteOutputRows(std::int32_t first, std::int32_t end);
    // Whether the pixel-order output converts without a refusal, so that its
    // rows may be written while the scan is still decoded.
    bool OutputRowsMayGoEarly() const;
    JpegStatus WritePlanar();
    ImageSize PlanarSize(const Component& c) const;
    JpegStatus UndoReversibleRgb();
    // Bytes per output sample, and the precision callers see.
    std::int32_t SampleBytes() const { return reversibleRgb_ || precision_ <= 8 ? 1 : 2; }
    std::int32_t ReportedPrecision() const { return reversibleRgb_ ? 8 : precision_; }
    JpegStatus UpsampleRow(const Component& c, std::int32_t y, std::uint8_t* line, std::int32_t step) const;

    // Image.
    std::int32_t width_ = 0, height_ = 0, components_ = 0, precision_ = 8;
    bool reversibleRgb_ = false;  // FFmpeg's lossless RGB, output as 8-bit RGB
    JpegSampling sampling_ = JpegSamplingOther;
    JpegColor colour_ = JpegColorOther;
    std::int32_t restartInterval_ = 0;
    std::int32_t process_ = 0;
    std::int32_t scale_ = 0, scaleFactor_ = 1;
    std::int32_t maxH_ = 1, maxV_ = 1;
    std::int32_t mcuColumns_ = 0, mcuRows_ = 0, mcuWidth_ = 8, mcuHeight_ = 8;
    std::int32_t restartsToGo_ = 0, restartCounter_ = 0;
    std::int32_t currentMarker_ = 0;
    Component component_[4];

    // Scan.
    std::int32_t scanCount_ = 0;
    std::int32_t scanIndex_[4] = {};
    std::int32_t ss_ = 0, se_ = 63, ah_ = 0, al_ = 0;
    std::int32_t scanMarker_ = 0;

    // Marker segments.
    std::vector<char> comment_;
    std::vector<std::uint8_t> exif_;
    std::int32_t jfif_ = 0, adobe_ = 0, adobeTransform_ = 0;
    std::uint8_t jfifMajor_ = 0, jfifMinor_ = 0, jfifUnits_ = 0;
    std::uint16_t jfifXDensity_ = 0, jfifYDensity_ = 0;

    // Coefficients of the whole image, all components (coefficientTotal_
    // when a scan has needed them), and one MCU row of a sequential scan.
    std::vector<std::int16_t> coefficients_;
    std::int64_t coefficientTotal_ = 0;
    Buffer<std::int16_t> mcuRow_;
    // One output row of each up-sampled component.
    Buffer<std::uint8_t> lines_;

    // Destination.
    std::uint8_t* planes_[4] = {};
    std::int32_t steps_[4] = {};
    ImageSize destinationSize_{0, 0};
    std::int32_t destinationChannels_ = 0;
    JpegColor destinationColour_ = JpegColorOther;
    JpegSampling destinationSampling_ = JpegSamplingOther;
    std::int32_t destinationPrecision_ = 0;
    std::int32_t planar_ = 0;
    bool destinationSet_ = false;
    // Pixel-order rows already written, and whether the sequential scan writes
    // them one MCU row behind its decoding (while the planes are in cache).
    std::int32_t outputRowsWritten_ = 0;
    bool outputWithScan_ = false;

    CBitStreamInput reader_;
    CBaseStreamInput* stream_ = nullptr;
    CJPEGDecoderQuantTable quant_[4];
    CJPEGDecoderHuffmanTable dcTables_[4];
    CJPEGDecoderHuffmanTable acTables_[4];
    CJPEGDecoderHuffmanState state_;
};
