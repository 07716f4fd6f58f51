// Runs natively against the portable seam and under Wine against the Win32 calls.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace platform;

namespace {

bool allZero(const void* p, std::size_t n) {
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST(GlobalBlock, IsZeroedSizedAndKeepsContentAcrossLocks) {
    GlobalHandle block = globalAlloc(1000);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(globalSize(block), 1000u);

    auto* p = static_cast<std::uint8_t*>(globalLock(block));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(allZero(p, 1000));
    for (int i = 0; i < 1000; ++i) {
        p[i] = static_cast<std::uint8_t>(i * 7);
    }
    globalUnlock(block);

    auto* q = static_cast<std::uint8_t*>(globalLock(block));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(q[i], static_cast<std::uint8_t>(i * 7)) << "byte " << i;
    }
    globalUnlock(block);
    globalFree(block);
}

TEST(GlobalBlock, NullHandleIsHarmless) {
    EXPECT_EQ(globalLock(nullptr), nullptr);
    EXPECT_EQ(globalSize(nullptr), 0u);
    globalUnlock(nullptr);
    globalFree(nullptr);
}

TEST(GlobalBlock, LiveCountFollowsAllocAndFree) {
    long before = memcheck::liveGlobalBlocks();
    if (before < 0) {
        GTEST_SKIP() << "the Win32 seam does not count blocks";
    }
    GlobalHandle a = globalAlloc(16);
    GlobalHandle b = globalAlloc(0);
    EXPECT_EQ(memcheck::liveGlobalBlocks(), before + 2);
    globalFree(a);
    globalFree(b);
    EXPECT_EQ(memcheck::liveGlobalBlocks(), before);
}

TEST(VirtualMemory, IsZeroedAndWritable) {
    const std::size_t size = 3 * 65536 + 17;
    auto* p = static_cast<std::uint8_t*>(virtualAlloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(allZero(p, size));
    std::memset(p, 0xAB, size);
    EXPECT_EQ(p[size - 1], 0xAB);
    virtualFree(p);
}

TEST(ProcessHeap, IsZeroed) {
    auto* p = static_cast<std::uint8_t*>(processHeapAlloc(32 * 60));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(allZero(p, 32 * 60));
    processHeapFree(p);
}

TEST(PrivateHeap, GrowsPastItsInitialSizeAndDestroysWhole) {
    HeapHandle heap = heapCreate(512);
    ASSERT_NE(heap, nullptr);
    void* blocks[200];
    for (auto& block : blocks) {
        block = heapAlloc(heap, 400);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(allZero(block, 400));
        std::memset(block, 0x5A, 400);
    }
    heapFree(heap, blocks[10]);
    heapFree(heap, blocks[199]);
    // The rest goes with the heap; the sanitizers report anything left behind.
    heapDestroy(heap);
}

TEST(AllocationFailure, InjectedFailureReturnsNull) {
    if (memcheck::liveGlobalBlocks() < 0) {
        GTEST_SKIP() << "failure injection exists only in the portable seam";
    }
    memcheck::failAllocationsAfter(1);
    GlobalHandle ok = globalAlloc(8);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(globalAlloc(8), nullptr);
    EXPECT_EQ(virtualAlloc(8), nullptr);
    memcheck::stopFailingAllocations();
    GlobalHandle again = globalAlloc(8);
    EXPECT_NE(again, nullptr);
    globalFree(ok);
    globalFree(again);
}
