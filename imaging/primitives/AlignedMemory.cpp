#include "imaging/primitives/AlignedMemory.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

const PrimitiveAllocatorTable kPrimitiveAllocator = {&std::malloc, &std::calloc, &std::realloc, &std::free};

void* AlignedMallocWith(const PrimitiveAllocatorTable& allocator, std::int32_t length)
{
    if (length <= 0)
        return nullptr;
    auto* raw = static_cast<std::uint8_t*>(allocator.allocate(static_cast<std::size_t>(length) + 40));
    if (raw == nullptr)
        return nullptr;
    const auto address = (reinterpret_cast<std::uintptr_t>(raw) + 39) & ~std::uintptr_t{31};
    std::uint8_t* block = raw + (address - reinterpret_cast<std::uintptr_t>(raw));
    std::memcpy(block - 8, &raw, sizeof raw);
#if defined(__SANITIZE_ADDRESS__)
    // Under AddressSanitizer the slack around a heap block counts as outside
    // it (the heap forgets the marks when the block is freed).
    if (allocator.allocate == &std::malloc) {
        ASAN_POISON_MEMORY_REGION(raw, static_cast<std::size_t>(block - 8 - raw));
        ASAN_POISON_MEMORY_REGION(block + length, static_cast<std::size_t>(raw + length + 40 - (block + length)));
    }
#endif
    return block;
}

void AlignedFreeWith(const PrimitiveAllocatorTable& allocator, void* block)
{
    if (block == nullptr)
        return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<std::uint8_t*>(block) - 8, sizeof raw);
    allocator.release(raw);
}

void* AlignedMalloc(std::int32_t length)
{
    return AlignedMallocWith(kPrimitiveAllocator, length);
}

void AlignedFree(void* block)
{
    AlignedFreeWith(kPrimitiveAllocator, block);
}

void* AlignPointer(void* pointer, std::int32_t alignment)
{
    const auto mask = static_cast<std::uintptr_t>(alignment) - 1;
    const auto address = reinterpret_cast<std::uintptr_t>(pointer);
    return static_cast<std::uint8_t*>(pointer) + (((address + mask) & ~mask) - address);
}

namespace {

// A count whose byte size does not fit in the 32-bit length would allocate a
// short block that the caller then overruns; refuse it instead.
void* AllocateElements(std::int32_t count, std::int32_t elementSize)
{
    if (count <= 0 || count > std::numeric_limits<std::int32_t>::max() / elementSize)
        return nullptr;
    return AlignedMalloc(count * elementSize);
}

}  // namespace

std::uint8_t* AllocateAligned8(std::int32_t count)
{
    return static_cast<std::uint8_t*>(AllocateElements(count, 1));
}

std::int16_t* AllocateAligned16(std::int32_t count)
{
    return static_cast<std::int16_t*>(AllocateElements(count, 2));
}

std::int32_t* AllocateAligned32(std::int32_t count)
{
    return static_cast<std::int32_t*>(AllocateElements(count, 4));
}

void FreeAligned(void* block)
{
    AlignedFree(block);
}
