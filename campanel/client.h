// campanel.dll as a data source sees it: the six exports, looked up at run time in the copy
// installed beside the data source. Header-only, so that each data source stays one module
// importing system DLLs only.
#pragma once

#include <windows.h>

#include <cstring>

namespace campanel {

using ConnectFn = HWND(WINAPI*)(const char*, HWND, DWORD);
using DisconnectFn = BOOL(WINAPI*)();
using GetImageFn = HGLOBAL(WINAPI*)();
using GetImageInfoFn = const BITMAPINFOHEADER*(WINAPI*)();
using CursorFn = int(WINAPI*)();

// The exports' names in this build: the decorated stdcall names on 32-bit Windows; x86-64
// has a single calling convention and no decoration, so there they are plain.
#ifdef _WIN64
#define LV_CAMPANEL_EXPORT(name, argumentBytes) #name
#else
#define LV_CAMPANEL_EXPORT(name, argumentBytes) "_" #name "@" #argumentBytes
#endif
constexpr const char* kConnectName = LV_CAMPANEL_EXPORT(UI_CONNECT, 12);
constexpr const char* kDisconnectName = LV_CAMPANEL_EXPORT(UI_DISCONNECT, 0);
constexpr const char* kGetImageName = LV_CAMPANEL_EXPORT(UI_GETIMAGE, 0);
constexpr const char* kGetImageInfoName = LV_CAMPANEL_EXPORT(UI_GETIMAGEINFO, 0);
constexpr const char* kToFirstImageName = LV_CAMPANEL_EXPORT(UI_ToFirstImage, 0);
constexpr const char* kToNextSelectedImageName = LV_CAMPANEL_EXPORT(UI_ToNextSelectedImage, 0);
#undef LV_CAMPANEL_EXPORT

class Library {
public:
    enum class Failure { None, Path, Load, Export };

    HMODULE module = nullptr;
    ConnectFn connect = nullptr;
    DisconnectFn disconnect = nullptr;
    GetImageFn getImage = nullptr;
    GetImageInfoFn getImageInfo = nullptr;
    CursorFn toFirstImage = nullptr;
    CursorFn toNextSelectedImage = nullptr;

    bool loaded() const { return module != nullptr; }

    // Loads campanel.dll from the folder of `beside`: the data source and campanel are
    // installed side by side. On Export, `missing` names the export that was not found.
    Failure load(HMODULE beside, const char** missing = nullptr) {
        if (module != nullptr) {
            return Failure::None;
        }
        char path[MAX_PATH];
        const DWORD n = GetModuleFileNameA(beside, path, sizeof path);
        char* slash = n > 0 && n < sizeof path ? std::strrchr(path, '\\') : nullptr;
        const char name[] = "campanel.dll";
        if (slash == nullptr || sizeof name > sizeof path - std::size_t(slash + 1 - path)) {
            return Failure::Path;
        }
        std::memcpy(slash + 1, name, sizeof name);
        module = LoadLibraryA(path);
        if (module == nullptr) {
            return Failure::Load;
        }
        const char* absent = nullptr;
        bind(connect, kConnectName, absent);
        bind(disconnect, kDisconnectName, absent);
        bind(getImage, kGetImageName, absent);
        bind(getImageInfo, kGetImageInfoName, absent);
        bind(toFirstImage, kToFirstImageName, absent);
        bind(toNextSelectedImage, kToNextSelectedImageName, absent);
        if (absent != nullptr) {
            unload();
            if (missing != nullptr) {
                *missing = absent;
            }
            return Failure::Export;
        }
        return Failure::None;
    }

    void unload() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
        *this = Library{};
    }

private:
    template <typename Fn> void bind(Fn& fn, const char* name, const char*& absent) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        if (fn == nullptr && absent == nullptr) {
            absent = name;
        }
    }
};

} // namespace campanel
