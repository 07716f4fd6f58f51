// CFolderPicker: the shell's folder browser, titled "Current Selection", with the
// highlighted folder's path as its status text.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>

namespace browser::win32 {

class CFolderPicker {
public:
    static constexpr int kChosen = 1;
    static constexpr int kNotChosen = 2;

    // `initialFolder` null: an empty text. `flags` get BIF_STATUSTEXT added.
    CFolderPicker(const char* initialFolder, UINT flags, HWND owner);
    virtual ~CFolderPicker();
    CFolderPicker(const CFolderPicker&) = delete;
    CFolderPicker& operator=(const CFolderPicker&) = delete;

    // kChosen when a folder was chosen and its path could be had (then in chosenFolder),
    // else kNotChosen.
    virtual int run();
    virtual void onInitialized();
    virtual void onSelectionChanged(LPITEMIDLIST items);
    virtual void onCallback(HWND window, UINT message, LPARAM parameter);

    const std::string& chosenFolder() const { return chosenFolder_; }
    HWND browserWindow() const { return browser_; }

    // A status text: longer than 35 characters becomes its first 35 and "...".
    static std::string shortened(const std::string& path);

private:
    static int CALLBACK callback(HWND window, UINT message, LPARAM parameter, LPARAM data);

    BROWSEINFOA browseInfo_;
    std::string initialFolder_;
    std::string chosenFolder_;
    char displayName_[MAX_PATH];
    char pathBuffer_[MAX_PATH];
    HWND browser_ = nullptr;
};

} // namespace browser::win32
