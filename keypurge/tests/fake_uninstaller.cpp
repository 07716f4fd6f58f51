// Stands in for the product's uninstaller in the tests. It writes how it was started (process
// id, command line, arguments, environment) to its own file name + ".record", and when the
// environment names a test run in LVKP_TEST_TAG it signals "lvkp-<tag>-recorded" and stays
// alive until "lvkp-<tag>-release" is set, so a test can see that nobody waited for it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const DWORD kReleaseTimeoutMs = 60000;

void writeLine(std::FILE* file, const char* tag, const char* text) {
    std::fprintf(file, "%s\t%s\n", tag, text);
}

bool writeRecord(const std::string& path) {
    const std::string partial = path + ".part";
    std::FILE* file = std::fopen(partial.c_str(), "w");
    if (file == nullptr)
        return false;
    std::fprintf(file, "pid\t%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
    writeLine(file, "cmdline", GetCommandLineA());
    for (int i = 0; i < __argc; ++i)
        writeLine(file, "arg", __argv[i]);
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1)
            writeLine(file, "env", entry);
        FreeEnvironmentStringsA(block);
    }
    const bool written = std::fclose(file) == 0;
    // Appears whole or not at all.
    return written && MoveFileExA(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char module[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 2;
    if (!writeRecord(std::string(module, length) + ".record"))
        return 3;

    const char* tag = std::getenv("LVKP_TEST_TAG");
    if (tag == nullptr)
        return 0;
    const std::string prefix = std::string("lvkp-") + tag;
    if (HANDLE recorded = OpenEventA(EVENT_MODIFY_STATE, FALSE, (prefix + "-recorded").c_str())) {
        SetEvent(recorded);
        CloseHandle(recorded);
    }
    if (HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (prefix + "-release").c_str())) {
        WaitForSingleObject(release, kReleaseTimeoutMs);
        CloseHandle(release);
    }
    return 0;
}
