// Whole-file reads with the C library.
#include "platform/file.h"

#include "platform/memory.h"

#include <cstdio>
#include <sys/stat.h>

namespace platform {

FileContents readWholeFile(const char* path, std::size_t maxBytes) {
    FileContents result;
    if (path == nullptr) {
        return result;
    }
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        return result;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return result;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        std::fclose(file);
        result.status = FileReadStatus::TooLarge;
        return result;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    void* buffer = virtualAlloc(size == 0 ? 1 : size);
    if (buffer == nullptr) {
        std::fclose(file);
        result.status = FileReadStatus::OutOfMemory;
        return result;
    }
    const std::size_t got = std::fread(buffer, 1, size, file);
    // A file that changed length under us counts as unreadable, as a read error would.
    const bool complete = got == size && std::fgetc(file) == EOF && !std::ferror(file);
    std::fclose(file);
    if (!complete) {
        virtualFree(buffer);
        return result;
    }
    result.status = FileReadStatus::Ok;
    result.data = buffer;
    result.size = size;
    return result;
}

} // namespace platform
