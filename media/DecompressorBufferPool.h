// The allocator behind the pictures the codec add-on makes.
//
// A decoded picture is a few megabytes and lives for one frame time. Taken
// from the heap afresh each time, such a block is mapped and unmapped per
// picture (the C library hands blocks this large to the system), and every
// picture pays for its pages again. The pool keeps a few released blocks of
// each size and hands them out again; the memory itself still comes from the
// frame allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/frames/Mff.h"

class DecompressorBufferPool final : public MFF::IAllocator
{
public:
    // Blocks below this size go straight to the source allocator.
    static constexpr uint32_t kSmallestPooled = 256 * 1024;
    static constexpr size_t kBlocksPerSize = 4;

    // `source` supplies the memory and must outlive the pool; at most
    // `maxCachedBytes` of released blocks are kept.
    DecompressorBufferPool(MFF::IAllocator* source, size_t maxCachedBytes);
    ~DecompressorBufferPool();

    // Safe from several threads at once.
    void* Allocate(uint32_t size) override;
    void Free(void* p) override;

    size_t GetCachedBytes() const;

private:
    // Each block starts with a header holding the size asked for; callers get
    // the memory behind it.
    static constexpr size_t kHeader = 32;

    MFF::IAllocator* m_source;
    size_t m_maxCachedBytes;
    mutable std::mutex m_lock;
    std::unordered_map<uint32_t, std::vector<void*>> m_released;
    size_t m_cachedBytes = 0;
};

// The process-wide pool over GetFrameAllocator(); never destroyed, so it
// outlives every picture made over it.
MFF::IAllocator* GetDecompressorBufferPool();
