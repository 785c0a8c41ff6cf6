#include "base/frames/Mff.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace MFF {

namespace {

constexpr const char kContract[] = "IPINT2::IContract";
constexpr const char kMultimediaBuffer[] = "MFF::IMultimediaBuffer";
constexpr const char kCompressedBuffer[] = "MFF::ICompressedBuffer";
constexpr const char kGeoCSBuffer[] = "MFF::ICompressedGeometryColorSpaceBuffer";
constexpr const char kCompositeBuffer[] = "MFF::ICompositeBuffer";
constexpr const char kPlanarBuffer[] = "MFF::IPlanarBuffer";
constexpr const char kAudioBuffer[] = "MFF::IAudioBuffer";
constexpr const char kFactory[] = "MFF::IMultimediaFrameFactory";

template <size_t N>
void* Query(void* self, const char* name, const char* const (&contracts)[N])
{
    if (name == nullptr)
        return nullptr;
    for (const char* contract : contracts)
        if (ContractNameMatches(name, contract))
            return self;
    return nullptr;
}

const char* const kCompressedNames[] = {kContract, kMultimediaBuffer, kCompressedBuffer};
const char* const kGeoCSNames[] = {kContract, kMultimediaBuffer, kCompressedBuffer, kGeoCSBuffer};
const char* const kCompositeNames[] = {kContract, kMultimediaBuffer, kCompositeBuffer};
const char* const kPlanarNames[] = {kContract, kMultimediaBuffer, kPlanarBuffer};
const char* const kAudioNames[] = {kContract, kMultimediaBuffer, kAudioBuffer};
const char* const kFactoryNames[] = {kContract, kFactory};

std::string FormatName(const char* format) { return format != nullptr ? format : ""; }

// A block from the allocator, or std::bad_alloc so construction fails.
uint8_t* MustAllocate(IAllocator* allocator, uint32_t size)
{
    void* p = allocator->Allocate(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

void Release(IAllocator* allocator, void* p)
{
    if (p != nullptr)
        allocator->Free(p);
}

// Runs a constructor; any exception gives null (nothing crosses the contract).
template <typename T, typename... Args>
T* CreateOrNull(Args&&... args) noexcept
{
    try {
        return new T(std::forward<Args>(args)...);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

bool ContractNameMatches(const char* requested, const char* contract)
{
    if (requested == nullptr || contract == nullptr)
        return false;
    if (std::strcmp(requested, contract) == 0)
        return true;
    static constexpr char kOld[] = "QOR8::";
    static constexpr char kNew[] = "IPINT2::";
    return std::strncmp(requested, kOld, sizeof kOld - 1) == 0 &&
           std::strncmp(contract, kNew, sizeof kNew - 1) == 0 &&
           std::strcmp(requested + sizeof kOld - 1, contract + sizeof kNew - 1) == 0;
}

// --- SimpleAllocator ---------------------------------------------------------

void* SimpleAllocator::Allocate(uint32_t size)
{
    if (size == 0)
        return nullptr;
    return std::malloc(static_cast<size_t>(size) + kSlack);
}

void SimpleAllocator::Free(void* p)
{
    if (p != nullptr)
        std::free(p);
}

IAllocator* GetFrameAllocator()
{
    // Function-local static: initialisation is thread-safe and the allocator
    // lives until exit, after every frame that might still free into it.
    static SimpleAllocator* const allocator = new SimpleAllocator();
    return allocator;
}

// --- CompressedBuffer --------------------------------------------------------

CompressedBuffer::CompressedBuffer(IAllocator* allocator, const char* format, uint32_t size,
                                   uint64_t timestamp, int32_t keyFrame)
    : m_allocator(allocator), m_format(FormatName(format)), m_size(size), m_timestamp(timestamp),
      m_keyFrame(keyFrame)
{
    if (size > 0)
        m_data = MustAllocate(allocator, size);
}

CompressedBuffer::~CompressedBuffer() { Release(m_allocator, m_data); }

void* CompressedBuffer::QueryContract(const char* name)
{
    return Query(static_cast<ICompressedBuffer*>(this), name, kCompressedNames);
}

CompressedGeoCSBuffer::CompressedGeoCSBuffer(IAllocator* allocator, const char* format,
                                             uint32_t size, uint64_t timestamp, int32_t keyFrame,
                                             int32_t value1, int32_t value2, int32_t value3)
    : m_allocator(allocator), m_format(FormatName(format)), m_size(size), m_timestamp(timestamp),
      m_keyFrame(keyFrame), m_values{value1, value2, value3}
{
    if (size > 0)
        m_data = MustAllocate(allocator, size);
}

CompressedGeoCSBuffer::~CompressedGeoCSBuffer() { Release(m_allocator, m_data); }

void* CompressedGeoCSBuffer::QueryContract(const char* name)
{
    return Query(static_cast<ICompressedGeometryColorSpaceBuffer*>(this), name, kGeoCSNames);
}

// --- CompositeBuffer ---------------------------------------------------------

CompositeBuffer::CompositeBuffer(IAllocator* allocator, const char* format, uint32_t size,
                                 int32_t value1, uint64_t timestamp, int32_t value2,
                                 int32_t value3)
    : m_allocator(allocator), m_format(FormatName(format)), m_size(size), m_timestamp(timestamp),
      m_values{value1, value2, value3}
{
    m_data = MustAllocate(allocator, size);
}

CompositeBuffer::~CompositeBuffer() { Release(m_allocator, m_data); }

void* CompositeBuffer::QueryContract(const char* name)
{
    return Query(static_cast<ICompositeBuffer*>(this), name, kCompositeNames);
}

// --- PlanarBuffer ------------------------------------------------------------

PlanarBuffer::PlanarBuffer(IAllocator* allocator, const char* format, uint32_t size0,
                           uint32_t size1, uint32_t size2, int32_t value0, int32_t value1,
                           int32_t value2, uint64_t timestamp, int32_t width, int32_t height)
    : m_allocator(allocator), m_format(FormatName(format)), m_timestamp(timestamp),
      m_sizes{size0, size1, size2}, m_values{value0, value1, value2}, m_width(width),
      m_height(height)
{
    const uint64_t total = uint64_t{size0} + size1 + size2 + kSlack;
    if (total > UINT32_MAX)
        throw std::bad_alloc();
    m_block = MustAllocate(allocator, static_cast<uint32_t>(total));
    m_planes[0] = m_block;
    if (size1 > 0)
        m_planes[1] = m_block + size0;
    if (m_planes[1] != nullptr && size2 > 0)
        m_planes[2] = m_planes[1] + size1;
}

PlanarBuffer::~PlanarBuffer() { Release(m_allocator, m_block); }

void* PlanarBuffer::QueryContract(const char* name)
{
    return Query(static_cast<IPlanarBuffer*>(this), name, kPlanarNames);
}

// --- AudioBuffer -------------------------------------------------------------

AudioBuffer::AudioBuffer(IAllocator* allocator, const char* format, uint32_t size,
                         uint64_t timestamp, int32_t value)
    : m_allocator(allocator), m_format(FormatName(format)), m_size(size), m_timestamp(timestamp),
      m_value(value)
{
    m_data = MustAllocate(allocator, size);
}

AudioBuffer::~AudioBuffer() { Release(m_allocator, m_data); }

void* AudioBuffer::QueryContract(const char* name)
{
    return Query(static_cast<IAudioBuffer*>(this), name, kAudioNames);
}

// --- MultimediaFrameFactory --------------------------------------------------

void* MultimediaFrameFactory::QueryContract(const char* name)
{
    if (m_pitchedPlanes && name != nullptr && std::strcmp(name, kPitchedPlanesContract) == 0)
        return static_cast<IMultimediaFrameFactory*>(this);
    return Query(static_cast<IMultimediaFrameFactory*>(this), name, kFactoryNames);
}

IAudioBuffer* MultimediaFrameFactory::CreateAudioBuffer(const char* format, uint32_t size,
                                                        uint64_t timestamp, int32_t value)
{
    return CreateOrNull<AudioBuffer>(m_allocator, format, size, timestamp, value);
}

IPlanarBuffer* MultimediaFrameFactory::CreatePlanarBuffer(const char* format, uint32_t size0,
                                                          uint32_t size1, uint32_t size2,
                                                          int32_t value0, int32_t value1,
                                                          int32_t value2, uint64_t timestamp,
                                                          int32_t width, int32_t height)
{
    return CreateOrNull<PlanarBuffer>(m_allocator, format, size0, size1, size2, value0, value1,
                                      value2, timestamp, width, height);
}

ICompositeBuffer* MultimediaFrameFactory::CreateCompositeBuffer(const char* format, uint32_t size,
                                                                int32_t value1, uint64_t timestamp,
                                                                int32_t value2, int32_t value3)
{
    return CreateOrNull<CompositeBuffer>(m_allocator, format, size, value1, timestamp, value2,
                                         value3);
}

ICompressedBuffer* MultimediaFrameFactory::CreateCompressedBuffer(const char* format, uint32_t size,
                                                                  uint64_t timestamp,
                                                                  int32_t keyFrame)
{
    return CreateOrNull<CompressedBuffer>(m_allocator, format, size, timestamp, keyFrame);
}

ICompressedGeometryColorSpaceBuffer* MultimediaFrameFactory::CreateCompressedGeometryColorSpaceBuffer(
    const char* format, uint32_t size, uint64_t timestamp, int32_t keyFrame, int32_t value1,
    int32_t value2, int32_t value3)
{
    return CreateOrNull<CompressedGeoCSBuffer>(m_allocator, format, size, timestamp, keyFrame,
                                               value1, value2, value3);
}

} // namespace MFF
