// lvtestds.dll: a TWAIN data source for campanel's tests and the demo. It exports DS_Entry
// (stdcall, undecorated), loads campanel.dll from its own folder, opens the browser with
// UI_CONNECT and, on the pictures-ready message, pulls the pictures and writes each one as a
// .bmp file. Every call in both directions is kept in a transcript (twain/README.md).
//
// The TestDS_ functions are cdecl and exported undecorated. Programs load the DLL at run
// time (LvTestDs::load below) rather than link it, so they import system DLLs only.
// All calls belong on the thread that opens the browser, the one whose messages are pumped.
#pragma once

#include <windows.h>

#include <cstdint>

extern "C" {
// Opens the browser: UI_CONNECT(path, owner, flags), with path this DLL's own file name, or
// pathForCampanel when it is not null. Loads campanel.dll first if needed. Returns
// UI_CONNECT's window, or null (also when campanel.dll or one of its exports is missing).
typedef HWND (*TestDS_OpenFn)(HWND owner, DWORD flags, const char* pathForCampanel);
// The folder the received pictures are written to as 001.bmp, 002.bmp ... (null: none);
// restarts the numbering and the count of TestDS_Pictures.
typedef void (*TestDS_SetOutputFn)(const char* folder);
// 1 once the close request has been answered with UI_ToFirstImage and UI_DISCONNECT
// since the last TestDS_Open, else 0.
typedef int (*TestDS_DoneFn)();
// Pictures received in batches since the last TestDS_SetOutput.
typedef int (*TestDS_PicturesFn)();
// Faults the data source found (the transcript's "!!" lines) since the last clear.
typedef int (*TestDS_ErrorsFn)();
// The transcript, one line per call, each ending in '\n'. The text stays valid until the
// next call into the DLL.
typedef const char* (*TestDS_TranscriptFn)();
typedef void (*TestDS_ClearTranscriptFn)();
// Calls one of campanel's exports without arguments by name ("UI_GETIMAGE",
// "UI_GETIMAGEINFO", "UI_ToFirstImage", "UI_ToNextSelectedImage", "UI_DISCONNECT") and
// returns its result. A DIB returned here belongs to the caller; no file is written.
typedef intptr_t (*TestDS_CallFn)(const char* name);
// campanel.dll's module, or null while it is not loaded.
typedef HMODULE (*TestDS_CampanelFn)();
// Frees campanel.dll and destroys the DLL's message window: call before unloading the DLL.
typedef void (*TestDS_UnloadFn)();
}

// The DLL's exports, looked up by name.
struct LvTestDs {
    HMODULE module = nullptr;
    TestDS_OpenFn open = nullptr;
    TestDS_SetOutputFn setOutput = nullptr;
    TestDS_DoneFn done = nullptr;
    TestDS_PicturesFn pictures = nullptr;
    TestDS_ErrorsFn errors = nullptr;
    TestDS_TranscriptFn transcript = nullptr;
    TestDS_ClearTranscriptFn clearTranscript = nullptr;
    TestDS_CallFn call = nullptr;
    TestDS_CampanelFn campanel = nullptr;
    TestDS_UnloadFn unload = nullptr;

    // Loads the DLL at path; false (and nothing loaded) when it or an export is missing.
    bool load(const char* path) {
        module = LoadLibraryA(path);
        if (module == nullptr) {
            return false;
        }
        bool ok = get(open, "TestDS_Open") && get(setOutput, "TestDS_SetOutput") &&
                  get(done, "TestDS_Done") && get(pictures, "TestDS_Pictures") &&
                  get(errors, "TestDS_Errors") && get(transcript, "TestDS_Transcript") &&
                  get(clearTranscript, "TestDS_ClearTranscript") && get(call, "TestDS_Call") &&
                  get(campanel, "TestDS_Campanel") && get(unload, "TestDS_Unload");
        if (!ok) {
            FreeLibrary(module);
            *this = LvTestDs{};
        }
        return ok;
    }

private:
    template <typename Fn> bool get(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        return fn != nullptr;
    }
};
