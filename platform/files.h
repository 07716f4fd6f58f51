// File seam for the browser's commands: listing a folder's JPEG files, and writing, moving
// and deleting files. On Windows these are FindFirstFileA/FindNextFileA, GetFileAttributesA,
// CreateFileA/WriteFile, MoveFileExA and DeleteFileA; natively plain POSIX calls, with the
// backslashes of Windows paths read as folder separators, so the same commands run in tests.
// Whole-file reads are in platform/file.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The names (no folder) of the files matching `pattern` ("C:\\folder\\*.jpg"), in the
    // order the search returns them; folders are left out. Empty when nothing matches.
    virtual std::vector<std::string> findFiles(const char* pattern) = 0;
    // True when a file or folder of that path exists.
    virtual bool exists(const char* path) = 0;
    // Creates a new file at `path` (failing when one exists) holding `size` bytes of `data`.
    // A file that could not be written whole is removed again. False on any failure.
    virtual bool writeNewFile(const char* path, const void* data, std::size_t size) = 0;
    // Moves a file; with `replace` an existing target is replaced, else the move fails.
    virtual bool moveFile(const char* from, const char* to, bool replace) = 0;
    // Deletes a file. False when it could not be deleted.
    virtual bool deleteFile(const char* path) = 0;
};

// The machine's files.
FileSystem& systemFileSystem();

} // namespace platform
