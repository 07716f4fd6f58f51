// Helpers of pixdesk's Windows tests: the environment the runner sets, files, scratch
// folders, and a user who chooses a folder in the shell's folder browser.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace pixdesktest {

std::string env(const char* name);
std::vector<char> fileBytes(const std::string& path);
// A scratch folder of this run, emptied first; its path ends with a backslash.
std::string scratchFolder(const char* name);
// The folder of this test program, ending with a backslash.
std::string programFolder();
// Deletes the registry key `root`\`path` with all its subkeys.
void deleteRegistryTree(HKEY root, const std::string& path);

// Chooses `folder` in the shell's folder browser ("Current Selection") once it opens in this
// process, then presses OK.
class FolderBrowserDriver {
public:
    explicit FolderBrowserDriver(std::string folder);
    ~FolderBrowserDriver();
    FolderBrowserDriver(const FolderBrowserDriver&) = delete;
    FolderBrowserDriver& operator=(const FolderBrowserDriver&) = delete;
    bool drove() const { return drove_; }

private:
    void run();
    std::string folder_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> drove_{false};
    std::thread thread_;
};

} // namespace pixdesktest
