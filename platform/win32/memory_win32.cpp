// The memory seam over the real Win32 calls.
#include "platform/memory.h"

#include <windows.h>

namespace platform {

void* virtualAlloc(std::size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}
void virtualFree(void* block) {
    if (block != nullptr) {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}

void* processHeapAlloc(std::size_t bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}
void processHeapFree(void* block) {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

GlobalHandle globalAlloc(std::size_t bytes) {
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
}
void* globalLock(GlobalHandle block) {
    return block == nullptr ? nullptr : GlobalLock(block);
}
void globalUnlock(GlobalHandle block) {
    if (block != nullptr) {
        GlobalUnlock(block);
    }
}
std::size_t globalSize(GlobalHandle block) {
    return block == nullptr ? 0 : GlobalSize(block);
}
void globalFree(GlobalHandle block) {
    if (block != nullptr) {
        GlobalFree(block);
    }
}

HeapHandle heapCreate(std::size_t initialBytes) {
    return HeapCreate(0, initialBytes, 0);
}
void* heapAlloc(HeapHandle heap, std::size_t bytes) {
    return heap == nullptr ? nullptr : HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
}
void heapFree(HeapHandle heap, void* block) {
    if (heap != nullptr && block != nullptr) {
        HeapFree(heap, 0, block);
    }
}
void heapDestroy(HeapHandle heap) {
    if (heap != nullptr) {
        HeapDestroy(heap);
    }
}

namespace memcheck {
void failAllocationsAfter(long) {}
void stopFailingAllocations() {}
long liveGlobalBlocks() {
    return -1;
}
long liveHeaps() {
    return -1;
}
} // namespace memcheck

} // namespace platform
