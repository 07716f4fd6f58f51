// The file seam with POSIX calls. Paths may be written the Windows way: every backslash is
// read as a folder separator. Name patterns match without regard to case, as on Windows.
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string hostPath(const char* path) {
    std::string p = path != nullptr ? path : "";
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            return false;
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

class PortableFileSystem : public FileSystem {
public:
    std::vector<std::string> findFiles(const char* pattern) override {
        const std::string p = hostPath(pattern);
        const std::size_t slash = p.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : p.substr(0, slash + 1);
        const std::string namePattern = slash == std::string::npos ? p : p.substr(slash + 1);
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            return names;
        }
        while (const dirent* entry = ::readdir(dir)) {
            const char* name = entry->d_name;
            if (::fnmatch(namePattern.c_str(), name, FNM_CASEFOLD) != 0) {
                continue;
            }
            struct stat info {};
            if (::stat((folder + name).c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
                names.emplace_back(name);
            }
        }
        ::closedir(dir);
        // readdir's order is the file system's whim; a fixed order keeps runs repeatable.
        std::sort(names.begin(), names.end());
        return names;
    }

    bool exists(const char* path) override {
        struct stat info {};
        return path != nullptr && ::stat(hostPath(path).c_str(), &info) == 0;
    }

    bool writeNewFile(const char* path, const void* data, std::size_t size) override {
        if (path == nullptr || (data == nullptr && size != 0)) {
            return false;
        }
        const std::string p = hostPath(path);
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0) {
            return false;
        }
        const bool written = writeAll(fd, static_cast<const unsigned char*>(data), size);
        const bool closed = ::close(fd) == 0;
        if (!written || !closed) {
            ::unlink(p.c_str());
            return false;
        }
        return true;
    }

    bool moveFile(const char* from, const char* to, bool replace) override {
        if (from == nullptr || to == nullptr) {
            return false;
        }
        const std::string source = hostPath(from);
        const std::string target = hostPath(to);
        if (replace) {
            return ::rename(source.c_str(), target.c_str()) == 0;
        }
        // A hard link fails when the target exists, so no file slips in between a test
        // and the move. Where links are not supported, test and move.
        if (::link(source.c_str(), target.c_str()) == 0) {
            ::unlink(source.c_str());
            return true;
        }
        if (errno == EEXIST || exists(to)) {
            return false;
        }
        return ::rename(source.c_str(), target.c_str()) == 0;
    }

    bool deleteFile(const char* path) override {
        return path != nullptr && ::unlink(hostPath(path).c_str()) == 0;
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static PortableFileSystem files;
    return files;
}

} // namespace platform
