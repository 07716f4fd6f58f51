#include "framework/testing/folder_browser.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

namespace lvtest {

namespace {

BOOL CALLBACK findFolderBrowser(HWND window, LPARAM param) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && std::strcmp(name, "#32770") == 0 &&
        IsWindowVisible(window) && FindWindowExA(window, nullptr, WC_TREEVIEWA, nullptr)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

std::string selectedText(HWND tree) {
    char text[MAX_PATH] = {};
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = TreeView_GetSelection(tree);
    item.pszText = text;
    item.cchTextMax = sizeof text;
    return item.hItem != nullptr && TreeView_GetItem(tree, &item) ? text : "";
}

} // namespace

std::string scratchFolder(const std::string& name) {
    CreateDirectoryA("C:\\lvtest", nullptr);
    const std::string folder = "C:\\lvtest\\" + name + "\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

FolderBrowserDriver::FolderBrowserDriver(std::string folder)
    : folder_(std::move(folder)), thread_([this] { run(); }) {}

FolderBrowserDriver::~FolderBrowserDriver() {
    stop_ = true;
    thread_.join();
}

void FolderBrowserDriver::run() {
    std::string path = folder_;
    if (path.size() > 3 && path.back() == '\\') {
        path.pop_back();
    }
    const std::string leaf = path.substr(path.find_last_of('\\') + 1);
    HWND browser = nullptr;
    for (int i = 0; i < 3000 && !stop_ && browser == nullptr; ++i) {
        EnumWindows(findFolderBrowser, reinterpret_cast<LPARAM>(&browser));
        if (browser == nullptr) {
            Sleep(10);
        }
    }
    if (browser == nullptr) {
        return;
    }
    HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    for (int attempt = 0; attempt < 10 && !stop_ && !chose_; ++attempt) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
        for (int wait = 0; wait < 100 && !stop_; ++wait) {
            if (selectedText(tree) == leaf) {
                chose_ = true;
                break;
            }
            Sleep(20);
        }
    }
    PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(browser, IDOK)));
    drove_ = true;
}

} // namespace lvtest
