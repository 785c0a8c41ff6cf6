// The pool of picture blocks: large blocks are handed out again, small ones
// and those beyond the caps go back to their source.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>
#include <set>

#include "media/DecompressorBufferPool.h"

namespace {

// Counts what reaches the source allocator.
class CountingAllocator final : public MFF::IAllocator
{
public:
    void* Allocate(uint32_t size) override
    {
        ++allocations;
        void* p = ::operator new(size);
        live.insert(p);
        return p;
    }
    void Free(void* p) override
    {
        if (!p)
            return;
        ++frees;
        live.erase(p);
        ::operator delete(p);
    }
    int allocations = 0;
    int frees = 0;
    std::set<void*> live;
};

constexpr uint32_t kPicture = 1920 * 1080 * 3 / 2;

} // namespace

TEST(DecompressorBufferPool, HandsOutReleasedPictureBlocksAgain)
{
    CountingAllocator source;
    {
        DecompressorBufferPool pool(&source, 64 * 1024 * 1024);
        void* first = pool.Allocate(kPicture);
        ASSERT_NE(first, nullptr);
        // The whole size asked for is usable.
        std::memset(first, 0xAB, kPicture);
        pool.Free(first);
        EXPECT_EQ(pool.GetCachedBytes(), kPicture);
        void* second = pool.Allocate(kPicture);
        EXPECT_EQ(second, first);
        EXPECT_EQ(source.allocations, 1);
        EXPECT_EQ(pool.GetCachedBytes(), 0u);

        // Another size is not served from this size's blocks.
        void* other = pool.Allocate(kPicture / 4);
        EXPECT_NE(other, first);
        EXPECT_EQ(source.allocations, 2);
        pool.Free(other);
        pool.Free(second);
    }
    // The pool gives back what it kept when it goes.
    EXPECT_TRUE(source.live.empty());
    EXPECT_EQ(source.frees, source.allocations);
}

TEST(DecompressorBufferPool, KeepsWithinItsCaps)
{
    const struct {
        const char* what;
        uint32_t size;
        size_t blocks;
        size_t maxBytes;
        size_t expectKept;
    } cases[] = {
        {"small blocks are not kept", DecompressorBufferPool::kSmallestPooled - 1, 3, 1u << 30, 0},
        {"at most a few blocks of one size", kPicture, 10, 1u << 30,
         DecompressorBufferPool::kBlocksPerSize},
        {"no more bytes than the cap", kPicture, 3, size_t(kPicture) * 2, 2},
        {"size 0 gives nothing", 0, 2, 1u << 30, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CountingAllocator source;
        DecompressorBufferPool pool(&source, c.maxBytes);
        std::vector<void*> blocks;
        for (size_t i = 0; i < c.blocks; ++i)
            blocks.push_back(pool.Allocate(c.size));
        for (void* block : blocks)
            pool.Free(block);
        EXPECT_EQ(pool.GetCachedBytes(), size_t(c.size) * c.expectKept);
        EXPECT_EQ(source.live.size(), c.expectKept);
    }
}
