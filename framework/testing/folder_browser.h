// Test helpers for the shell's folder browser: a user who chooses a folder in it, and
// scratch folders to choose.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace lvtest {

// A scratch folder of this run under C:\lvtest\, emptied first; its path ends with a
// backslash. Outside the user's profile, whose folders the shell treats specially.
std::string scratchFolder(const std::string& name);

// Chooses `folder` in the shell's folder browser once one opens in this process, then
// presses OK. The browser fills its tree in steps, so the choice is made again until the
// tree shows the folder selected.
class FolderBrowserDriver {
public:
    explicit FolderBrowserDriver(std::string folder);
    ~FolderBrowserDriver();
    FolderBrowserDriver(const FolderBrowserDriver&) = delete;
    FolderBrowserDriver& operator=(const FolderBrowserDriver&) = delete;
    // True once it pressed OK; `chose` when the tree showed the folder by then.
    bool drove() const { return drove_; }
    bool chose() const { return chose_; }

private:
    void run();
    std::string folder_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> drove_{false};
    std::atomic<bool> chose_{false};
    std::thread thread_;
};

} // namespace lvtest
