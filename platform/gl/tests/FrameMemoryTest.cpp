// The frame-memory thresholds: a block the size of a large frame's is served from the heap, and
// freeing it leaves the heap top where it was, so the next frame faults nothing in again.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "platform/gl/FrameMemory.h"

TEST(FrameMemory, AFrameSizedBlockStaysMappedAfterItIsFreed) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator has no thresholds";
#endif
    if (const char* tunables = std::getenv("GLIBC_TUNABLES");
        tunables && std::strstr(tunables, "glibc.malloc."))
        GTEST_SKIP() << "the environment gives glibc its thresholds";
    plat::gl::keepFrameMemoryMapped();
    constexpr std::size_t kBlock = 16 << 20;
    std::size_t mappings = mallinfo2().hblks;
    void* block = std::malloc(kBlock);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(mallinfo2().hblks, mappings) << "mapped on its own";
    std::memset(block, 1, kBlock);
    std::free(block);
    EXPECT_GE(mallinfo2().keepcost, kBlock) << "the heap top was given back";
}
