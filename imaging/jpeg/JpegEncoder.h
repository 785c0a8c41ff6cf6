#pragma once
// CJPEGEncoder: one image held in memory to a JPEG stream.
//
// Calling order: SetSource or SetSourcePlanar, SetDestination, SetParams,
// WriteHeader, WriteData. After WriteData the writer's Total() is the length
// of the stream. The source buffers and the stream stay the caller's; the
// encoder keeps pointers to them until it is destroyed or given others.
//
// An encoder serves a series of images of one process; its working buffers
// are prepared again by every WriteHeader. Baseline (mode 1) and extended
// (mode 2: samples of up to 12 bits, 16-bit ones not down-sampled, Huffman
// tables from the statistics of every block) and progressive (mode 3: the
// scan script by component count, each scan's tables from its own
// statistics) are coded in full. The lossless process (mode 4) codes every
// component 1x1 from a pixel-order source without colour conversion, with
// restarts only at row starts (an interval that is a multiple of the width)
// and tables from the statistics of its differences.

#include <cstdint>
#include <vector>

#include "imaging/jpeg/JpegStatus.h"
#include "imaging/jpeg/JpegStreams.h"
#include "imaging/jpeg/JpegTables.h"
#include "imaging/primitives/PrimitiveTypes.h"

enum JpegColor : std::int32_t {
    JpegColorOther = 0,  // no conversion: components follow the source channels
    JpegColorGrey = 1,
    JpegColorRgb = 2,
    JpegColorBgr = 3,
    JpegColorYCbCr = 4,
    JpegColorCmyk = 5,
    JpegColorYcck = 6,
    JpegColorBgra = 7,
    JpegColorRgba = 8,
};

enum JpegMode : std::int32_t {
    JpegModeBaseline = 1,
    JpegModeExtended = 2,
    JpegModeProgressive = 3,
    JpegModeLossless = 4,
};

enum JpegSampling : std::int32_t {
    JpegSampling444 = 0,   // every component 1x1
    JpegSampling422 = 1,   // the first (and a fourth) component 2x1
    JpegSampling422b = 2,  // the same as 1 for the encoder
    JpegSampling420 = 3,   // the first (and a fourth) component 2x2
    JpegSamplingOther = 4,
};

// One scan of a progressive scan script.
struct JpegProgressiveScan {
    std::int32_t components;
    std::int32_t index[4];
    std::int32_t ss, se, ah, al;
};

class CJPEGEncoder {
public:
    CJPEGEncoder();
    virtual ~CJPEGEncoder();
    CJPEGEncoder(const CJPEGEncoder&) = delete;
    CJPEGEncoder& operator=(const CJPEGEncoder&) = delete;

    // A pixel-order source (interleaved channels, or one plane); stored
    // without checks.
    JpegStatus SetSource(const std::uint8_t* data, std::int32_t step, ImageSize size, std::int32_t channels,
                         JpegColor colour, JpegSampling sampling, std::int32_t precision);
    // Up to four planes already at their component's sampling; -1 unless the
    // colour is YCbCr or the sampling 4:2:0.
    JpegStatus SetSourcePlanar(const std::uint8_t* const planes[4], const std::int32_t steps[4], ImageSize size,
                               std::int32_t channels, JpegColor colour, JpegSampling sampling,
                               std::int32_t precision);
    JpegStatus SetDestination(CBaseStreamOutput* stream);
    // -3 for a mode other than 1..4, a width or height outside 1..65535, a
    // restart interval outside 0..65535, samples above 8 bits in modes 1 and
    // 3, 16-bit samples down-sampled in mode 2, or in mode 4 a precision
    // outside 2..16 or a restart interval that is not a multiple of the
    // width; -2 when a table cannot be built (a negative quality included).
    // optimiseHuffman non-zero makes baseline code with tables built from the
    // picture's own statistics (two passes over the whole image's
    // coefficients held in memory) in place of the standard tables; the
    // other processes always build their tables so.
    JpegStatus SetParams(JpegMode mode, JpegColor colour, JpegSampling sampling, std::int32_t restartInterval,
                         std::int32_t optimiseHuffman, std::int32_t quality);
    // The lossless process's predictor (1..7, default 1) and point transform
    // (0..15, below the precision; default 0); -3 outside.
    JpegStatus SetLosslessPredictor(std::int32_t predictor, std::int32_t pointTransform);
    // Prepares the working buffers and writes every segment before the scans.
    JpegStatus WriteHeader();
    // The scans of the mode, then EOI.
    JpegStatus WriteData();

    CBitStreamOutput& Writer() { return writer_; }
    std::int32_t Components() const { return components_; }

private:
    // MCU size and counts of the source and sampling; -3 for a size the
    // frame header cannot hold or 16-bit samples in an 8-bit process.
    JpegStatus SetGeometry();
    JpegStatus PrepareEncoderBuffers();
    JpegStatus BuildScanScript();
    JpegStatus WriteSoi();
    JpegStatus WriteApp0();
    JpegStatus WriteApp14();
    JpegStatus WriteCom();
    JpegStatus WriteDqt(const CJPEGEncoderQuantTable& table);
    JpegStatus WriteSof();
    JpegStatus WriteDht(const CJPEGEncoderHuffmanTable& table);
    JpegStatus WriteDri();
    JpegStatus WriteSos(std::int32_t count, const std::int32_t* indexes);
    JpegStatus WriteMarker(std::uint8_t code);

    // Resets predictors, restarts and the coder, and writes the SOS of one
    // scan over every component and the whole spectrum.
    JpegStatus BeginSequentialScan();
    JpegStatus EncodeBaselineScan();
    JpegStatus ConvertMcuRow(std::int32_t row);
    JpegStatus DownsampleMcuRow(std::int32_t row);
    JpegStatus CopyPlanarMcuRow(std::int32_t row);
    JpegStatus TransformMcuRow8(std::int16_t* out);
    JpegStatus TransformMcuRow16(std::int16_t* out);
    JpegStatus EncodeBaselineMcuRow(const std::int16_t* blocks);
    bool OptimisedBaseline() const;
    JpegStatus BuildWholeImageTables();
    JpegStatus EncodeWholeImageScan();
    JpegStatus BuildLosslessTables();
    JpegStatus EncodeLosslessScan();
    JpegStatus EncodeProgressiveImage();
    JpegStatus ProgressiveScan(const JpegProgressiveScan& scan, bool gather);
    const std::int16_t* BlockAt(std::int32_t component, std::int32_t blockRow, std::int32_t blockColumn) const;
    void ComponentBlocks(std::int32_t component, std::int32_t* wide, std::int32_t* high) const;
    JpegStatus WriteRestart();
    JpegStatus FlushCoder();
    bool LumaChroma() const;

    // Source.
    const std::uint8_t* sourcePlanes_[4] = {};
    ImageSize sourceSize_{0, 0};
    std::int32_t sourceSteps_[4] = {};
    std::int32_t sourcePrecision_ = 0;
    std::int32_t sourceChannels_ = 0;
    JpegColor sourceColour_ = JpegColorOther;
    JpegSampling sourceSampling_ = JpegSamplingOther;
    std::int32_t planar_ = 0;

    CBitStreamOutput writer_;

    // Image and process.
    std::int32_t components_ = 0;
    std::int32_t precision_ = 8;
    JpegSampling sampling_ = JpegSampling444;
    JpegColor colour_ = JpegColorOther;
    std::int32_t quality_ = 100;
    std::int32_t restartInterval_ = 0;
    std::int32_t mode_ = JpegModeBaseline;
    std::int32_t mcuColumns_ = 0;
    std::int32_t mcuRows_ = 0;
    std::int32_t mcuWidth_ = 8;
    std::int32_t mcuHeight_ = 8;
    std::int32_t paddedWidth_ = 0;
    std::int32_t mcuRowLines_ = 0;
    std::int32_t padColumns_ = 0;
    std::int32_t padRows_ = 0;
    std::int32_t restartsToGo_ = 0;
    std::int32_t restartCounter_ = 0;
    std::int32_t scanCount_ = 0;
    std::int32_t ss_ = 0, se_ = 63, ah_ = 0, al_ = 0;
    std::int32_t predictor_ = 1;
    std::int32_t pointTransform_ = 0;
    std::int32_t optimiseHuffman_ = 0;
    JpegProgressiveScan* scanScript_ = nullptr;
    std::vector<std::int16_t> losslessDifferences_;
    std::int16_t* coefficients_ = nullptr;
    std::int32_t coefficientBytes_ = 0;
    std::int32_t workers_ = 1;
    std::int32_t blocksPerMcu_ = 0;
    const char* comment_ = nullptr;  // null: the library banner

    CJPEGColorComponent component_[4];
    CJPEGEncoderQuantTable quantTable_[4];
    CJPEGEncoderHuffmanTable dcTable_[4];
    CJPEGEncoderHuffmanTable acTable_[4];
    CJPEGEncoderHuffmanState huffmanState_;
};
