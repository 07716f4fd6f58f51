// File seam: reading one whole file into committed virtual memory. A file that cannot be
// opened or read is an outcome of its own, distinct from "too large" and "out of memory",
// because callers report it with a message of their own.
#pragma once

#include <cstddef>

namespace platform {

enum class FileReadStatus {
    Ok,
    CannotOpenOrRead, // missing, a directory, no permission, or a read error
    TooLarge,         // larger than the caller's limit
    OutOfMemory,      // the buffer for the contents could not be allocated
};

struct FileContents {
    FileReadStatus status = FileReadStatus::CannotOpenOrRead;
    void* data = nullptr; // from virtualAlloc; the caller frees it with virtualFree
    std::size_t size = 0;
};

// Reads the file at `path` whole. An empty file gives Ok with a 1-byte buffer and size 0.
FileContents readWholeFile(const char* path, std::size_t maxBytes);

} // namespace platform
