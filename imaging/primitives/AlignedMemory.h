#pragma once
// The 32-byte aligned allocator that owns every working buffer of the image
// primitives and of the JPEG codec.
//
// Block layout: a block of n bytes is carved from a raw block of n + 40 bytes;
// the returned pointer is (raw + 39) rounded down to a multiple of 32, so it
// lies 8 to 39 bytes past raw, and the 8 bytes just before it hold raw.
// A block from AlignedMalloc (or a typed wrapper) must be released with
// AlignedFree / FreeAligned, never with free().

#include <cstddef>
#include <cstdint>

// The process-wide allocation operations, in this order. They are the C
// runtime's malloc, calloc, realloc and free; the aligned allocator uses only
// allocate and release.
struct PrimitiveAllocatorTable {
    void* (*allocate)(std::size_t);
    void* (*allocateZeroed)(std::size_t, std::size_t);
    void* (*reallocate)(void*, std::size_t);
    void (*release)(void*);
};

extern const PrimitiveAllocatorTable kPrimitiveAllocator;

// Null when length is not positive or the allocation fails.
void* AlignedMalloc(std::int32_t length);
// Null is ignored.
void AlignedFree(void* block);

// The same through a given allocator (tests watch the raw blocks with it).
void* AlignedMallocWith(const PrimitiveAllocatorTable& allocator, std::int32_t length);
void AlignedFreeWith(const PrimitiveAllocatorTable& allocator, void* block);

// Rounds up to the next multiple of alignment (a power of two); an aligned
// pointer comes back unchanged.
void* AlignPointer(void* pointer, std::int32_t alignment);

// AlignedMalloc of n bytes, n 16-bit elements, n 32-bit elements. Null when n
// is not positive or the byte count does not fit in 32 bits.
std::uint8_t* AllocateAligned8(std::int32_t count);
std::int16_t* AllocateAligned16(std::int32_t count);
std::int32_t* AllocateAligned32(std::int32_t count);
void FreeAligned(void* block);
