// What the Windows tests read of their surroundings: the runner's environment, the folder
// of the test program, and whole files.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace lvtest {

// The variable's value, or "" when it is not set.
inline std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The test program's folder, with its backslash.
inline std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// The file's bytes; empty when it cannot be read.
template <typename Byte = char> std::vector<Byte> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<Byte>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

} // namespace lvtest
