// Memory seam: the four kinds of memory the system uses, as the Win32 calls give them.
// On Windows these are VirtualAlloc, the process heap, private heaps and movable global
// blocks (a DIB handed to a TWAIN host must be a real HGLOBAL). Natively they are plain
// allocations with the same contracts, so the portable core behaves the same in tests.
#pragma once

#include <cstddef>

namespace platform {

// Opaque handles; on Windows they are the HGLOBAL and HANDLE values themselves.
using GlobalHandle = void*;
using HeapHandle = void*;

// Committed read/write virtual memory, zero-filled. Null on failure.
void* virtualAlloc(std::size_t bytes);
void virtualFree(void* block);

// The process heap (HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, ...)). Zero-filled.
void* processHeapAlloc(std::size_t bytes);
void processHeapFree(void* block);

// Movable, zero-initialised global blocks (GMEM_MOVEABLE | GMEM_ZEROINIT).
GlobalHandle globalAlloc(std::size_t bytes);
void* globalLock(GlobalHandle block); // null on failure
void globalUnlock(GlobalHandle block);
std::size_t globalSize(GlobalHandle block); // 0 for a null or invalid handle
void globalFree(GlobalHandle block);

// Private heaps: created with an initial size, growable, no options.
HeapHandle heapCreate(std::size_t initialBytes);
void* heapAlloc(HeapHandle heap, std::size_t bytes); // zero-filled, null on failure
void heapFree(HeapHandle heap, void* block);
void heapDestroy(HeapHandle heap); // frees everything still allocated in it

namespace memcheck {
// Makes the allocation calls above fail (return null) once `count` more have succeeded.
// Only the portable implementation honours it; the Win32 one always allocates for real.
void failAllocationsAfter(long count);
void stopFailingAllocations();
// Number of global blocks and private heaps currently alive (portable implementation).
long liveGlobalBlocks();
long liveHeaps();
} // namespace memcheck

} // namespace platform
