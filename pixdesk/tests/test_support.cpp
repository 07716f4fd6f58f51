#include "pixdesk/tests/test_support.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pixdesktest {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
}

std::string scratchFolder(const char* name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "lvpixdesk-" + name + "\\";
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

std::string programFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    folder.erase(folder.find_last_of('\\') + 1);
    return folder;
}

void deleteRegistryTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    char name[256];
    DWORD size = sizeof name;
    // Always the first subkey: the deletes renumber the rest.
    while (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        deleteRegistryTree(root, path + "\\" + name);
        size = sizeof name;
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

namespace {

BOOL CALLBACK findFolderBrowser(HWND window, LPARAM param) {
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && std::strcmp(name, "#32770") == 0 &&
        IsWindowVisible(window) && FindWindowExA(window, nullptr, nullptr, "Current Selection")) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

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
    for (int i = 0; i < 3000 && !stop_; ++i) {
        HWND browser = nullptr;
        EnumWindows(findFolderBrowser, reinterpret_cast<LPARAM>(&browser));
        if (browser == nullptr) {
            Sleep(10);
            continue;
        }
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
        // OK once the tree shows the folder selected; the browser fills it in steps.
        HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
        for (int wait = 0; wait < 250 && !stop_; ++wait) {
            char text[MAX_PATH] = {};
            TVITEMA item = {};
            item.mask = TVIF_TEXT;
            item.hItem = TreeView_GetSelection(tree);
            item.pszText = text;
            item.cchTextMax = sizeof text;
            if (item.hItem != nullptr && TreeView_GetItem(tree, &item) && leaf == text) {
                break;
            }
            Sleep(20);
        }
        PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(browser, IDOK)));
        drove_ = true;
        return;
    }
}

} // namespace pixdesktest
