// Whole-file reads with CreateFileA and ReadFile.
#include "platform/file.h"

#include "platform/memory.h"

#include <windows.h>

namespace platform {

FileContents readWholeFile(const char* path, std::size_t maxBytes) {
    FileContents result;
    if (path == nullptr) {
        return result;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return result;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file, &length)) {
        CloseHandle(file);
        return result;
    }
    if (static_cast<unsigned long long>(length.QuadPart) > maxBytes) {
        CloseHandle(file);
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    const auto size = static_cast<std::size_t>(length.QuadPart);
    void* buffer = virtualAlloc(size == 0 ? 1 : size);
    if (buffer == nullptr) {
        CloseHandle(file);
        result.status = FileReadStatus::OutOfMemory;
        return result;
    }
    std::size_t done = 0;
    while (done < size) {
        DWORD chunk = 0;
        const std::size_t want = size - done > 0x10000000 ? 0x10000000 : size - done;
        if (!ReadFile(file, static_cast<char*>(buffer) + done, static_cast<DWORD>(want), &chunk,
                      nullptr) ||
            chunk == 0) {
            break;
        }
        done += chunk;
    }
    CloseHandle(file);
    if (done != size) {
        virtualFree(buffer);
        return result;
    }
    result.status = FileReadStatus::Ok;
    result.data = buffer;
    result.size = size;
    return result;
}

} // namespace platform
