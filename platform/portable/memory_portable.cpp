// Native stand-ins for the Win32 memory calls, with the same contracts: zero-filled
// blocks, movable global blocks addressed by handle, private heaps freed as a whole.
#include "platform/memory.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace platform {
namespace {

std::atomic<long> allocationsLeft{-1}; // -1: never fail
std::atomic<long> globalBlocks{0};
std::atomic<long> heaps{0};

bool allocationAllowed() {
    long left = allocationsLeft.load();
    while (left >= 0) {
        if (left == 0) {
            return false;
        }
        if (allocationsLeft.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return true;
}

void* zeroed(std::size_t bytes) {
    if (!allocationAllowed()) {
        return nullptr;
    }
    return std::calloc(1, bytes == 0 ? 1 : bytes);
}

constexpr std::uint32_t kGlobalMagic = 0x474C4F42; // "GLOB"

struct alignas(16) GlobalBlock {
    std::uint32_t magic;
    long locks;
    std::size_t size;
};

GlobalBlock* blockOf(GlobalHandle handle) {
    auto* block = static_cast<GlobalBlock*>(handle);
    return block != nullptr && block->magic == kGlobalMagic ? block : nullptr;
}

// A private heap keeps its allocations on an intrusive list so destroying it frees them.
struct alignas(16) HeapNode {
    HeapNode* prev;
    HeapNode* next;
};

struct Heap {
    HeapNode head{&head, &head};
};

} // namespace

void* virtualAlloc(std::size_t bytes) {
    return zeroed(bytes);
}
void virtualFree(void* block) {
    std::free(block);
}

void* processHeapAlloc(std::size_t bytes) {
    return zeroed(bytes);
}
void processHeapFree(void* block) {
    std::free(block);
}

GlobalHandle globalAlloc(std::size_t bytes) {
    if (bytes > SIZE_MAX - sizeof(GlobalBlock)) {
        return nullptr;
    }
    auto* block = static_cast<GlobalBlock*>(zeroed(sizeof(GlobalBlock) + bytes));
    if (block == nullptr) {
        return nullptr;
    }
    block->magic = kGlobalMagic;
    block->size = bytes;
    ++globalBlocks;
    return block;
}

void* globalLock(GlobalHandle handle) {
    GlobalBlock* block = blockOf(handle);
    if (block == nullptr) {
        return nullptr;
    }
    ++block->locks;
    return block + 1;
}

void globalUnlock(GlobalHandle handle) {
    GlobalBlock* block = blockOf(handle);
    if (block != nullptr && block->locks > 0) {
        --block->locks;
    }
}

std::size_t globalSize(GlobalHandle handle) {
    GlobalBlock* block = blockOf(handle);
    return block == nullptr ? 0 : block->size;
}

void globalFree(GlobalHandle handle) {
    GlobalBlock* block = blockOf(handle);
    if (block == nullptr) {
        return;
    }
    block->magic = 0;
    --globalBlocks;
    std::free(block);
}

HeapHandle heapCreate(std::size_t) {
    if (!allocationAllowed()) {
        return nullptr;
    }
    auto* heap = new (std::nothrow) Heap;
    if (heap != nullptr) {
        ++heaps;
    }
    return heap;
}

void* heapAlloc(HeapHandle handle, std::size_t bytes) {
    auto* heap = static_cast<Heap*>(handle);
    if (heap == nullptr || bytes > SIZE_MAX - sizeof(HeapNode)) {
        return nullptr;
    }
    auto* node = static_cast<HeapNode*>(zeroed(sizeof(HeapNode) + bytes));
    if (node == nullptr) {
        return nullptr;
    }
    node->next = heap->head.next;
    node->prev = &heap->head;
    heap->head.next->prev = node;
    heap->head.next = node;
    return node + 1;
}

void heapFree(HeapHandle handle, void* block) {
    if (handle == nullptr || block == nullptr) {
        return;
    }
    HeapNode* node = static_cast<HeapNode*>(block) - 1;
    node->prev->next = node->next;
    node->next->prev = node->prev;
    std::free(node);
}

void heapDestroy(HeapHandle handle) {
    auto* heap = static_cast<Heap*>(handle);
    if (heap == nullptr) {
        return;
    }
    for (HeapNode* node = heap->head.next; node != &heap->head;) {
        HeapNode* next = node->next;
        std::free(node);
        node = next;
    }
    delete heap;
    --heaps;
}

namespace memcheck {
void failAllocationsAfter(long count) {
    allocationsLeft = count < 0 ? 0 : count;
}
void stopFailingAllocations() {
    allocationsLeft = -1;
}
long liveGlobalBlocks() {
    return globalBlocks.load();
}
long liveHeaps() {
    return heaps.load();
}
} // namespace memcheck

} // namespace platform
