#include "browser/win32/folder_picker.h"

namespace browser::win32 {

namespace {
constexpr char kTitle[] = "Current Selection";
constexpr std::size_t kStatusLength = 35;
} // namespace

CFolderPicker::CFolderPicker(const char* initialFolder, UINT flags, HWND owner)
    : browseInfo_(), initialFolder_(initialFolder != nullptr ? initialFolder : ""), displayName_(),
      pathBuffer_() {
    browseInfo_.hwndOwner = owner;
    browseInfo_.pidlRoot = nullptr;
    browseInfo_.pszDisplayName = displayName_;
    browseInfo_.lpszTitle = kTitle;
    browseInfo_.ulFlags = flags | BIF_STATUSTEXT;
    browseInfo_.lpfn = callback;
    browseInfo_.lParam = reinterpret_cast<LPARAM>(this);
}

CFolderPicker::~CFolderPicker() = default;

std::string CFolderPicker::shortened(const std::string& path) {
    return path.size() > kStatusLength ? path.substr(0, kStatusLength) + "..." : path;
}

int CFolderPicker::run() {
    chosenFolder_ = initialFolder_;
    LPITEMIDLIST items = SHBrowseForFolderA(&browseInfo_);
    int result = kNotChosen;
    if (items != nullptr) {
        if (SHGetPathFromIDListA(items, pathBuffer_)) {
            chosenFolder_ = pathBuffer_;
            result = kChosen;
        }
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
            allocator->Free(items);
            allocator->Release();
        }
    }
    browser_ = nullptr;
    return result;
}

int CALLBACK CFolderPicker::callback(HWND window, UINT message, LPARAM parameter, LPARAM data) {
    try {
        reinterpret_cast<CFolderPicker*>(data)->onCallback(window, message, parameter);
    } catch (...) {
        // nothing may unwind into the shell
    }
    return 0;
}

void CFolderPicker::onCallback(HWND window, UINT message, LPARAM parameter) {
    browser_ = window;
    if (message == BFFM_INITIALIZED) {
        onInitialized();
    } else if (message == BFFM_SELCHANGED) {
        onSelectionChanged(reinterpret_cast<LPITEMIDLIST>(parameter));
    }
}

void CFolderPicker::onInitialized() {
    SendMessageA(browser_, BFFM_SETSELECTIONA, TRUE,
                 reinterpret_cast<LPARAM>(initialFolder_.c_str()));
    const std::string status = shortened(initialFolder_);
    SendMessageA(browser_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
}

void CFolderPicker::onSelectionChanged(LPITEMIDLIST items) {
    pathBuffer_[0] = '\0';
    if (items == nullptr || !SHGetPathFromIDListA(items, pathBuffer_)) {
        pathBuffer_[0] = '\0';
    }
    chosenFolder_ = pathBuffer_;
    const std::string status = shortened(chosenFolder_);
    SendMessageA(browser_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
}

} // namespace browser::win32
