// The file seam with the Win32 file calls.
#include "platform/files.h"

#include <windows.h>

namespace platform {

namespace {

// Bytes handed to one WriteFile call.
constexpr std::size_t kWriteChunk = 1u << 20;

class Win32FileSystem : public FileSystem {
public:
    std::vector<std::string> findFiles(const char* pattern) override {
        std::vector<std::string> names;
        if (pattern == nullptr) {
            return names;
        }
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                names.emplace_back(found.cFileName);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

    bool exists(const char* path) override {
        return path != nullptr && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }

    bool writeNewFile(const char* path, const void* data, std::size_t size) override {
        if (path == nullptr || (data == nullptr && size != 0)) {
            return false;
        }
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        const auto* bytes = static_cast<const char*>(data);
        bool written = true;
        while (size > 0) {
            const std::size_t want = size > kWriteChunk ? kWriteChunk : size;
            DWORD done = 0;
            if (!WriteFile(file, bytes, static_cast<DWORD>(want), &done, nullptr) || done == 0) {
                written = false;
                break;
            }
            bytes += done;
            size -= done;
        }
        const bool closed = CloseHandle(file) != 0;
        if (!written || !closed) {
            DeleteFileA(path);
            return false;
        }
        return true;
    }

    bool moveFile(const char* from, const char* to, bool replace) override {
        if (from == nullptr || to == nullptr) {
            return false;
        }
        return MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
    }

    bool deleteFile(const char* path) override { return path != nullptr && DeleteFileA(path) != 0; }
};

} // namespace

FileSystem& systemFileSystem() {
    static Win32FileSystem files;
    return files;
}

} // namespace platform
