// Media-buffer interfaces exchanged with the codec add-on, the program's
// implementations of them, and the allocators that supply frame memory.
//
// The interfaces are a calling contract with a component outside the program:
// the order of the virtual operations, their argument order and the widths
// below are fixed. Operations are declared in slot order.
//
// Ownership: buffers are not reference-counted. The creator owns a buffer
// until it hands it on; whoever holds it last calls Destroy() exactly once.
// The allocator given to a factory or buffer must outlive every buffer made
// over it; neither the factory nor a buffer owns its allocator.
#pragma once

#include <cstdint>
#include <string>

namespace IPINT2 {

// Root of every contract object. All interfaces of one object share one
// pointer (single inheritance chain), so a successful query returns the
// object's own address.
class IContract
{
public:
    // Slot 0: the object viewed as the named interface, or null when it does
    // not offer it (a null name gives null).
    virtual void* QueryContract(const char* name) = 0;

protected:
    ~IContract() = default;
};

} // namespace IPINT2

namespace MFF {

// Asked of a frame factory by a converter that can hand out its decoder's
// pictures by reference: a factory that answers it (non-null) takes planar
// buffers whose planes lie in separate blocks, with GetPlaneValueN giving each
// plane's row pitch in bytes (at least the plane's width) and GetPlaneSizeN the
// bytes readable from the plane's start. A factory that does not answer gets
// only packed buffers it made itself.
constexpr const char kPitchedPlanesContract[] = "MFF::IPitchedPlanesHost";

// True when a requested contract name selects the contract `contract`: equal
// names, or "QOR8::X" requested for "IPINT2::X" (older callers ask in the old
// namespace; the reverse is not mapped).
bool ContractNameMatches(const char* requested, const char* contract);

// Supplies buffer memory; used from several decoding threads at once.
class IAllocator
{
public:
    // Slot 0: a block of at least `size` bytes; null for 0 or on failure.
    virtual void* Allocate(uint32_t size) = 0;
    // Slot 1: gives a block back; null is ignored. Never throws.
    virtual void Free(void* p) = 0;

protected:
    ~IAllocator() = default;
};

// Buffer kinds returned by IMultimediaBuffer::GetType.
enum BufferType : int32_t
{
    BufferCompressed = 0,
    BufferComposite = 1,
    BufferPlanar = 2,
    BufferAudio = 3,
};

class IMultimediaBuffer : public IPINT2::IContract
{
public:
    // Slot 1: milliseconds since 1970-01-01 UTC given at creation; 0 for none.
    virtual uint64_t GetTimestamp() = 0;
    // Slot 2: format name given at creation (a codec name, or "YUV420",
    // "YUV422", "GRAY" for planar pictures).
    virtual const char* GetFormat() = 0;
    // Slot 3: one of BufferType.
    virtual int32_t GetType() = 0;
    // Slot 4: deletes the buffer and gives its memory back to its allocator.
    virtual void Destroy() = 0;

protected:
    ~IMultimediaBuffer() = default;
};

class ICompressedBuffer : public IMultimediaBuffer
{
public:
    virtual uint8_t* GetData() = 0;
    virtual uint32_t GetSize() = 0;
    virtual int32_t GetKeyFrameFlag() = 0;

protected:
    ~ICompressedBuffer() = default;
};

class ICompressedGeometryColorSpaceBuffer : public ICompressedBuffer
{
public:
    virtual int32_t GetValue1() = 0;
    virtual int32_t GetValue2() = 0;
    virtual int32_t GetValue3() = 0;

protected:
    ~ICompressedGeometryColorSpaceBuffer() = default;
};

class ICompositeBuffer : public IMultimediaBuffer
{
public:
    virtual uint8_t* GetData() = 0;
    virtual uint32_t GetSize() = 0;
    virtual int32_t GetValue1() = 0;
    virtual int32_t GetValue2() = 0;
    virtual int32_t GetValue3() = 0;

protected:
    ~ICompositeBuffer() = default;
};

// A picture in up to three planes held in one memory block, plane after plane.
class IPlanarBuffer : public IMultimediaBuffer
{
public:
    virtual uint8_t* GetPlane0() = 0;
    virtual uint8_t* GetPlane1() = 0;
    virtual uint8_t* GetPlane2() = 0;
    virtual uint32_t GetPlaneSize0() = 0;
    virtual uint32_t GetPlaneSize1() = 0;
    virtual uint32_t GetPlaneSize2() = 0;
    virtual int32_t GetPlaneValue0() = 0;
    virtual int32_t GetPlaneValue1() = 0;
    virtual int32_t GetPlaneValue2() = 0;
    virtual int32_t GetWidth() = 0;
    virtual int32_t GetHeight() = 0;

protected:
    ~IPlanarBuffer() = default;
};

class IAudioBuffer : public IMultimediaBuffer
{
public:
    virtual uint8_t* GetData() = 0;
    virtual uint32_t GetSize() = 0;
    virtual int32_t GetValue() = 0;

protected:
    ~IAudioBuffer() = default;
};

// Creates buffers over one allocator. Never throws: an allocation failure or
// an exception during construction gives null. The caller owns the result.
class IMultimediaFrameFactory : public IPINT2::IContract
{
public:
    virtual IAudioBuffer* CreateAudioBuffer(const char* format, uint32_t size, uint64_t timestamp,
                                            int32_t value) = 0;
    virtual IPlanarBuffer* CreatePlanarBuffer(const char* format, uint32_t size0, uint32_t size1,
                                              uint32_t size2, int32_t value0, int32_t value1,
                                              int32_t value2, uint64_t timestamp, int32_t width,
                                              int32_t height) = 0;
    virtual ICompositeBuffer* CreateCompositeBuffer(const char* format, uint32_t size, int32_t value1,
                                                    uint64_t timestamp, int32_t value2,
                                                    int32_t value3) = 0;
    virtual ICompressedBuffer* CreateCompressedBuffer(const char* format, uint32_t size,
                                                      uint64_t timestamp, int32_t keyFrame) = 0;
    virtual ~IMultimediaFrameFactory() = default;
    virtual ICompressedGeometryColorSpaceBuffer*
    CreateCompressedGeometryColorSpaceBuffer(const char* format, uint32_t size, uint64_t timestamp,
                                             int32_t keyFrame, int32_t value1, int32_t value2,
                                             int32_t value3) = 0;
};

// ---------------------------------------------------------------------------
// The program's implementations.

// Plain heap allocator: every block carries kSlack spare bytes behind the
// requested size (decoders may read a little past the end).
class SimpleAllocator final : public IAllocator
{
public:
    static constexpr uint32_t kSlack = 4112;
    void* Allocate(uint32_t size) override;
    void Free(void* p) override;
};

// The process-wide allocator for frame data; safe under concurrent first calls.
// On this platform frame memory always comes from the heap (SimpleAllocator).
IAllocator* GetFrameAllocator();

class CompressedBuffer : public ICompressedBuffer
{
public:
    // Throws std::bad_alloc when a non-zero size cannot be allocated.
    CompressedBuffer(IAllocator* allocator, const char* format, uint32_t size, uint64_t timestamp,
                     int32_t keyFrame);

    void* QueryContract(const char* name) override;
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format.c_str(); }
    int32_t GetType() override { return BufferCompressed; }
    void Destroy() override { delete this; }
    uint8_t* GetData() override { return m_data; }
    uint32_t GetSize() override { return m_size; }
    int32_t GetKeyFrameFlag() override { return m_keyFrame; }
    virtual ~CompressedBuffer();

protected:
    IAllocator* m_allocator;
    std::string m_format;
    uint8_t* m_data = nullptr;
    uint32_t m_size;
    uint64_t m_timestamp;
    int32_t m_keyFrame;
};

// Not derived from CompressedBuffer: the geometry interface must stay one
// single-inheritance chain, so the compressed part is repeated here.
class CompressedGeoCSBuffer : public ICompressedGeometryColorSpaceBuffer
{
public:
    CompressedGeoCSBuffer(IAllocator* allocator, const char* format, uint32_t size,
                          uint64_t timestamp, int32_t keyFrame, int32_t value1, int32_t value2,
                          int32_t value3);

    void* QueryContract(const char* name) override;
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format.c_str(); }
    int32_t GetType() override { return BufferCompressed; }
    void Destroy() override { delete this; }
    uint8_t* GetData() override { return m_data; }
    uint32_t GetSize() override { return m_size; }
    int32_t GetKeyFrameFlag() override { return m_keyFrame; }
    int32_t GetValue1() override { return m_values[0]; }
    int32_t GetValue2() override { return m_values[1]; }
    int32_t GetValue3() override { return m_values[2]; }
    virtual ~CompressedGeoCSBuffer();

private:
    IAllocator* m_allocator;
    std::string m_format;
    uint8_t* m_data = nullptr;
    uint32_t m_size;
    uint64_t m_timestamp;
    int32_t m_keyFrame;
    int32_t m_values[3];
};

class CompositeBuffer : public ICompositeBuffer
{
public:
    // Always allocates (a size of 0 fails with SimpleAllocator): throws
    // std::bad_alloc when the allocator gives null.
    CompositeBuffer(IAllocator* allocator, const char* format, uint32_t size, int32_t value1,
                    uint64_t timestamp, int32_t value2, int32_t value3);

    void* QueryContract(const char* name) override;
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format.c_str(); }
    int32_t GetType() override { return BufferComposite; }
    void Destroy() override { delete this; }
    uint8_t* GetData() override { return m_data; }
    uint32_t GetSize() override { return m_size; }
    int32_t GetValue1() override { return m_values[0]; }
    int32_t GetValue2() override { return m_values[1]; }
    int32_t GetValue3() override { return m_values[2]; }
    virtual ~CompositeBuffer();

private:
    IAllocator* m_allocator;
    std::string m_format;
    uint8_t* m_data = nullptr;
    uint32_t m_size;
    uint64_t m_timestamp;
    int32_t m_values[3];
};

// One block of size0 + size1 + size2 + kSlack bytes; plane 1 is null unless
// size1 > 0, plane 2 is null unless plane 1 is set and size2 > 0.
class PlanarBuffer : public IPlanarBuffer
{
public:
    static constexpr uint32_t kSlack = 4096;
    PlanarBuffer(IAllocator* allocator, const char* format, uint32_t size0, uint32_t size1,
                 uint32_t size2, int32_t value0, int32_t value1, int32_t value2, uint64_t timestamp,
                 int32_t width, int32_t height);

    void* QueryContract(const char* name) override;
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format.c_str(); }
    int32_t GetType() override { return BufferPlanar; }
    void Destroy() override { delete this; }
    uint8_t* GetPlane0() override { return m_planes[0]; }
    uint8_t* GetPlane1() override { return m_planes[1]; }
    uint8_t* GetPlane2() override { return m_planes[2]; }
    uint32_t GetPlaneSize0() override { return m_sizes[0]; }
    uint32_t GetPlaneSize1() override { return m_sizes[1]; }
    uint32_t GetPlaneSize2() override { return m_sizes[2]; }
    int32_t GetPlaneValue0() override { return m_values[0]; }
    int32_t GetPlaneValue1() override { return m_values[1]; }
    int32_t GetPlaneValue2() override { return m_values[2]; }
    int32_t GetWidth() override { return m_width; }
    int32_t GetHeight() override { return m_height; }
    virtual ~PlanarBuffer();

private:
    IAllocator* m_allocator;
    std::string m_format;
    uint64_t m_timestamp;
    uint32_t m_sizes[3];
    uint8_t* m_block = nullptr;
    uint8_t* m_planes[3] = {nullptr, nullptr, nullptr};
    int32_t m_values[3];
    int32_t m_width;
    int32_t m_height;
};

class AudioBuffer : public IAudioBuffer
{
public:
    // Always allocates; throws std::bad_alloc when the allocator gives null.
    AudioBuffer(IAllocator* allocator, const char* format, uint32_t size, uint64_t timestamp,
                int32_t value);

    void* QueryContract(const char* name) override;
    uint64_t GetTimestamp() override { return m_timestamp; }
    const char* GetFormat() override { return m_format.c_str(); }
    int32_t GetType() override { return BufferAudio; }
    void Destroy() override { delete this; }
    uint8_t* GetData() override { return m_data; }
    uint32_t GetSize() override { return m_size; }
    int32_t GetValue() override { return m_value; }
    virtual ~AudioBuffer();

private:
    IAllocator* m_allocator;
    std::string m_format;
    uint8_t* m_data = nullptr;
    uint32_t m_size;
    uint64_t m_timestamp;
    int32_t m_value;
};

// The factory handed to the codec add-on. Does not own its allocator.
class MultimediaFrameFactory : public IMultimediaFrameFactory
{
public:
    // `pitchedPlanes`: the factory answers kPitchedPlanesContract, for a
    // host that reads pictures through their planes' own pitches.
    explicit MultimediaFrameFactory(IAllocator* allocator, bool pitchedPlanes = false)
        : m_allocator(allocator), m_pitchedPlanes(pitchedPlanes)
    {
    }

    void* QueryContract(const char* name) override;
    IAudioBuffer* CreateAudioBuffer(const char* format, uint32_t size, uint64_t timestamp,
                                    int32_t value) override;
    IPlanarBuffer* CreatePlanarBuffer(const char* format, uint32_t size0, uint32_t size1,
                                      uint32_t size2, int32_t value0, int32_t value1,
                                      int32_t value2, uint64_t timestamp, int32_t width,
                                      int32_t height) override;
    ICompositeBuffer* CreateCompositeBuffer(const char* format, uint32_t size, int32_t value1,
                                            uint64_t timestamp, int32_t value2,
                                            int32_t value3) override;
    ICompressedBuffer* CreateCompressedBuffer(const char* format, uint32_t size, uint64_t timestamp,
                                              int32_t keyFrame) override;
    ~MultimediaFrameFactory() override = default;
    ICompressedGeometryColorSpaceBuffer*
    CreateCompressedGeometryColorSpaceBuffer(const char* format, uint32_t size, uint64_t timestamp,
                                             int32_t keyFrame, int32_t value1, int32_t value2,
                                             int32_t value3) override;

private:
    IAllocator* m_allocator;
    bool m_pitchedPlanes;
};

} // namespace MFF
