#pragma once
// The coding tables, coder states and per-component working buffers of the
// JPEG encoder and decoder, and the standard tables of ITU-T T.81 Annex K.
//
// Every buffer here is owned by its object and comes from the primitives'
// aligned allocator; an allocation failure leaves a null buffer and size 0
// (-6). Table areas are 32-byte aligned for the transforms.

#include <cstdint>
#include <memory>

#include "imaging/jpeg/JpegStatus.h"

struct HuffmanEncoderSpec;
struct HuffmanDecoderSpec;
struct HuffmanFastAcTable;
struct HuffmanEncoderState;
struct HuffmanDecoderState;

// Tables K.1 (luminance) and K.2 (chrominance) in zig-zag order.
extern const std::uint8_t kStandardLuminanceQuant[64];
extern const std::uint8_t kStandardChrominanceQuant[64];

// Tables K.3 to K.6: BITS (16 code counts) and HUFFVAL.
struct StandardHuffmanTable {
    std::uint8_t bits[16];
    std::uint8_t values[162];
};
extern const StandardHuffmanTable kStandardDcLuminance;
extern const StandardHuffmanTable kStandardDcChrominance;
extern const StandardHuffmanTable kStandardAcLuminance;
extern const StandardHuffmanTable kStandardAcChrominance;

class CMemoryBuffer {
public:
    CMemoryBuffer() = default;
    ~CMemoryBuffer();
    CMemoryBuffer(const CMemoryBuffer&) = delete;
    CMemoryBuffer& operator=(const CMemoryBuffer&) = delete;

    // Frees the old block and allocates size bytes; on failure size 0, -6.
    JpegStatus Allocate(std::int32_t size);
    void Free();
    std::uint8_t* Data() const { return data_; }
    std::int32_t Size() const { return size_; }

private:
    std::int32_t size_ = 0;
    std::uint8_t* data_ = nullptr;
};

// A quantisation table as defined (zig-zag, 8- or 16-bit entries) and as the
// forward transform uses it: 64 reciprocals in natural order (8-bit
// precision) or 64 floats 1 / q (16-bit precision).
class CJPEGEncoderQuantTable {
public:
    // Scales by quality unless it is 0 (a failing primitive, a negative
    // quality included, -2), builds the reciprocals (a zero quantiser -2).
    JpegStatus Init8(std::int32_t id, const std::uint8_t raw[64], std::int32_t quality);
    // As Init8 with 16-bit entries clamped to 1..65535, quality above 100
    // counting as 100.
    JpegStatus Init16(std::int32_t id, const std::uint16_t raw[64], std::int32_t quality);

    std::int32_t Id() const { return id_; }
    std::int32_t Precision() const { return precision_; }
    bool Initialised() const { return initialised_ != 0; }
    const std::uint8_t* Raw8() const { return raw_; }
    const std::uint16_t* Raw16() const { return reinterpret_cast<const std::uint16_t*>(raw_); }
    // Null unless the table has the matching precision.
    const std::uint16_t* Reciprocals() const;
    const float* FloatReciprocals() const;

private:
    alignas(32) std::uint8_t raw_[128] = {};
    alignas(32) std::uint8_t working_[256] = {};
    std::int32_t id_ = 0;
    std::int32_t precision_ = 0;
    std::int32_t initialised_ = 0;
};

// The decoder's table: quantisers in natural order, 16-bit (8-bit precision)
// or float (16-bit precision).
class CJPEGDecoderQuantTable {
public:
    JpegStatus Init8(std::int32_t id, const std::uint8_t raw[64]);
    JpegStatus Init16(std::int32_t id, const std::uint16_t raw[64]);
    // A 16-bit table serving 8-bit data.
    JpegStatus Narrow16To8();
    // An 8-bit table serving 12-bit data.
    JpegStatus Widen8To16();

    std::int32_t Id() const { return id_; }
    std::int32_t Precision() const { return precision_; }
    bool Initialised() const { return initialised_ != 0; }
    const std::uint16_t* Quantisers() const;
    const float* FloatQuantisers() const;

private:
    alignas(32) std::uint8_t raw_[128] = {};
    alignas(32) std::uint8_t working_[256] = {};
    std::int32_t id_ = 0;
    std::int32_t precision_ = 0;
    std::int32_t initialised_ = 0;
};

class CJPEGEncoderHuffmanTable {
public:
    CJPEGEncoderHuffmanTable() = default;
    ~CJPEGEncoderHuffmanTable();
    CJPEGEncoderHuffmanTable(const CJPEGEncoderHuffmanTable&) = delete;
    CJPEGEncoderHuffmanTable& operator=(const CJPEGEncoderHuffmanTable&) = delete;

    // A new, empty coding table (-2 when its size is unknown, -6).
    JpegStatus Create();
    // id and class masked to 4 bits; -2 when the table cannot be built.
    JpegStatus Init(std::int32_t id, std::int32_t tableClass, const std::uint8_t bits[16],
                    const std::uint8_t values[256]);
    // Back to the cleared state, the coding table freed.
    void Clear();

    const HuffmanEncoderSpec* Spec() const { return spec_; }
    std::int32_t Id() const { return id_; }
    std::int32_t Class() const { return class_; }
    const std::uint8_t* Bits() const { return bits_; }
    const std::uint8_t* Values() const { return values_; }
    std::int32_t ValueCount() const;

private:
    HuffmanEncoderSpec* spec_ = nullptr;
    std::int32_t id_ = 0;
    std::int32_t class_ = 0;
    std::uint8_t bits_[16] = {};
    std::uint8_t values_[256] = {};
};

class CJPEGDecoderHuffmanTable {
public:
    CJPEGDecoderHuffmanTable() = default;
    ~CJPEGDecoderHuffmanTable();
    CJPEGDecoderHuffmanTable(const CJPEGDecoderHuffmanTable&) = delete;
    CJPEGDecoderHuffmanTable& operator=(const CJPEGDecoderHuffmanTable&) = delete;

    JpegStatus Create();
    // -10 when the table cannot be built; sets valid.
    JpegStatus Init(std::int32_t id, std::int32_t tableClass, const std::uint8_t bits[16],
                    const std::uint8_t values[256]);
    void Clear();

    const HuffmanDecoderSpec* Spec() const { return spec_; }
    // The fast AC table of a valid AC table (null for a DC table or when it
    // could not be allocated).
    const HuffmanFastAcTable* Fast() const { return valid_ != 0 && class_ == 1 ? fast_.get() : nullptr; }
    std::int32_t Id() const { return id_; }
    std::int32_t Class() const { return class_; }
    bool Empty() const { return empty_ != 0; }
    bool Valid() const { return valid_ != 0; }

private:
    HuffmanDecoderSpec* spec_ = nullptr;
    std::unique_ptr<HuffmanFastAcTable> fast_;
    std::int32_t id_ = 0;
    std::int32_t class_ = 0;
    std::uint8_t bits_[16] = {};
    std::uint8_t values_[256] = {};
    std::int32_t empty_ = 1;
    std::int32_t valid_ = 0;
};

class CJPEGEncoderHuffmanState {
public:
    CJPEGEncoderHuffmanState() = default;
    ~CJPEGEncoderHuffmanState();
    CJPEGEncoderHuffmanState(const CJPEGEncoderHuffmanState&) = delete;
    CJPEGEncoderHuffmanState& operator=(const CJPEGEncoderHuffmanState&) = delete;

    JpegStatus Create();
    HuffmanEncoderState* State() const { return state_; }

private:
    HuffmanEncoderState* state_ = nullptr;
};

class CJPEGDecoderHuffmanState {
public:
    CJPEGDecoderHuffmanState() = default;
    ~CJPEGDecoderHuffmanState();
    CJPEGDecoderHuffmanState(const CJPEGDecoderHuffmanState&) = delete;
    CJPEGDecoderHuffmanState& operator=(const CJPEGDecoderHuffmanState&) = delete;

    JpegStatus Create();
    HuffmanDecoderState* State() const { return state_; }

private:
    HuffmanDecoderState* state_ = nullptr;
};

// One image component: its frame-header values and its working rows. The
// full-size and sampled buffers hold one slice per worker (always one).
struct CJPEGColorComponent {
    CJPEGColorComponent() = default;
    CJPEGColorComponent(const CJPEGColorComponent&) = delete;
    CJPEGColorComponent& operator=(const CJPEGColorComponent&) = delete;

    std::int32_t id = 0;
    std::int32_t index = 0;
    std::int32_t hSampling = 0;
    std::int32_t vSampling = 0;
    std::int32_t hScale = 0;  // reduction against the full-size buffer
    std::int32_t vScale = 0;
    std::int32_t blocksPerMcu = 0;
    std::int32_t quantTableId = 0;
    std::int32_t dcTableId = 0;
    std::int32_t acTableId = 0;
    std::int32_t mcuRowLines = 0;
    std::int32_t fullStep = 0;
    std::int32_t fullSize = 0;
    std::int32_t sampledLines = 0;
    std::int32_t sampledStep = 0;
    std::int32_t sampledSize = 0;
    std::int16_t lastDc = 0;
    CMemoryBuffer fullRows;
    CMemoryBuffer sampledRows;
    CMemoryBuffer losslessCurrent;
    CMemoryBuffer losslessPrevious;
    CMemoryBuffer coefficientRow;
    std::int32_t blocksPerRow = 0;
    std::int16_t* losslessCurrentRow = nullptr;
    std::int16_t* losslessPreviousRow = nullptr;

    // fullSize := mcuRowLines x fullStep; workers x fullSize bytes.
    JpegStatus AllocateFull(std::int32_t workers);
    // sampledSize := sampledLines x sampledStep; workers x sampledSize bytes.
    JpegStatus AllocateSampled(std::int32_t workers);
    // Decoder: workers x blocksPerRow bytes.
    JpegStatus AllocateCoefficients(std::int32_t workers);
    std::uint8_t* GetFullRows(std::int32_t slice) const { return fullRows.Data() + slice * fullSize; }
    std::uint8_t* GetSampledRows(std::int32_t slice) const { return sampledRows.Data() + slice * sampledSize; }
};
