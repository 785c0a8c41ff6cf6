#include "media/DecompressorBufferPool.h"

#include <cstring>

DecompressorBufferPool::DecompressorBufferPool(MFF::IAllocator* source, size_t maxCachedBytes)
    : m_source(source), m_maxCachedBytes(maxCachedBytes)
{
}

DecompressorBufferPool::~DecompressorBufferPool()
{
    for (auto& [size, blocks] : m_released)
        for (void* block : blocks)
            m_source->Free(block);
}

void* DecompressorBufferPool::Allocate(uint32_t size)
{
    if (size == 0 || size > UINT32_MAX - kHeader)
        return nullptr;
    if (size >= kSmallestPooled) {
        std::lock_guard<std::mutex> lock(m_lock);
        auto found = m_released.find(size);
        if (found != m_released.end() && !found->second.empty()) {
            void* block = found->second.back();
            found->second.pop_back();
            m_cachedBytes -= size;
            return static_cast<uint8_t*>(block) + kHeader;
        }
    }
    void* block = m_source->Allocate(uint32_t(size + kHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    return static_cast<uint8_t*>(block) + kHeader;
}

void DecompressorBufferPool::Free(void* p)
{
    if (!p)
        return;
    void* block = static_cast<uint8_t*>(p) - kHeader;
    uint32_t size;
    std::memcpy(&size, block, sizeof size);
    if (size >= kSmallestPooled) {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<void*>& blocks = m_released[size];
        if (blocks.size() < kBlocksPerSize && m_cachedBytes + size <= m_maxCachedBytes) {
            blocks.push_back(block);
            m_cachedBytes += size;
            return;
        }
    }
    m_source->Free(block);
}

size_t DecompressorBufferPool::GetCachedBytes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_cachedBytes;
}

MFF::IAllocator* GetDecompressorBufferPool()
{
    static DecompressorBufferPool* const pool =
        new DecompressorBufferPool(MFF::GetFrameAllocator(), size_t(64) * 1024 * 1024);
    return pool;
}
