// A stand-in campanel.dll for the data source's own tests: the six exports under their
// decorated names, a window that takes clicks on the nine thumbnail areas, ACQUIRE and
// EXIT, and the calls into the data source's DS_Entry (loaded by name each time). It serves
// the pictures of fake_pictures.h and logs every call it receives with its nesting depth.
// Fake_* (cdecl) configure it; LV_FAKE_CORRUPT=P makes picture P fail from the start.
#include "browser/layout.h"
#include "twain/tests/fake_pictures.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using DsEntryFn = WORD(WINAPI*)(void*, DWORD, WORD, WORD, void*);
constexpr WORD kMsgPanelReady = 0x4001;
constexpr WORD kMsgPanelClose = 0x4002;
// Faults of Fake_SetFault: the header of another picture (picture 9) for each one, a DIB
// block one byte short of what its header says, no header at all.
constexpr int kFaultStaleInfo = 1;
constexpr int kFaultShortBlock = 2;
constexpr int kFaultNoInfo = 3;

struct Fake {
    HINSTANCE instance = nullptr;
    std::string dsPath;
    HWND window = nullptr;
    int pictures = fakecampanel::kPictures;
    bool selected[fakecampanel::kPictures + 1] = {};
    int pressed = 0;
    int cursor = 1;
    int acquireCount = 0;
    int handedOut = 0;
    int transferred = 0;
    int corrupt = 0;
    int fault = 0; // Fake_SetFault
    bool pumpOnClose = false;
    int depth = 0;
    std::string log;
    BITMAPINFOHEADER headers[fakecampanel::kPictures + 1] = {};
};

Fake g;

void note(const std::string& line) {
    g.log += line + "\n";
}

// One received call: logged with the depth of the fake's calls it arrived in.
struct Enter {
    explicit Enter(const std::string& what) {
        note(what + " depth=" + std::to_string(g.depth));
        ++g.depth;
    }
    ~Enter() { --g.depth; }
};

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void callDataSource(WORD msg, uintptr_t data) {
    HMODULE ds = LoadLibraryA(g.dsPath.c_str());
    DsEntryFn entry =
        ds == nullptr
            ? nullptr
            : reinterpret_cast<DsEntryFn>(reinterpret_cast<void*>(GetProcAddress(ds, "DS_Entry")));
    if (entry == nullptr) {
        note("no DS_Entry in " + g.dsPath);
    } else {
        char line[64];
        std::snprintf(line, sizeof line, "call DS_Entry msg=0x%X data=%u depth=%d", msg,
                      static_cast<unsigned>(data), g.depth);
        note(line);
        unsigned char origin[156] = {}; // TW_IDENTITY-sized, left empty
        entry(origin, 0x4001, 0, msg, reinterpret_cast<void*>(data));
    }
    if (ds != nullptr) {
        FreeLibrary(ds);
    }
}

int nextSelected(int after) {
    for (int p = after + 1; p <= g.pictures; ++p) {
        if (g.selected[p]) {
            return p;
        }
    }
    return 0;
}

void acquire() {
    int n = 0;
    for (int p = 1; p <= g.pictures; ++p) {
        n += g.selected[p] ? 1 : 0;
    }
    if (n == 0) {
        note("nothing selected");
        return;
    }
    g.cursor = nextSelected(0);
    g.acquireCount = n;
    g.handedOut = 0;
    g.transferred = 0;
    callDataSource(kMsgPanelReady, static_cast<uintptr_t>(n));
}

int hitTest(LPARAM at) {
    const browser::Point p{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    for (int cell = 1; cell <= g.pictures; ++cell) {
        if (browser::thumbRect(cell).contains(p)) {
            return cell;
        }
    }
    return 0;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_LBUTTONDOWN:
        g.pressed = hitTest(l);
        return 0;
    case WM_LBUTTONUP:
        if (g.pressed != 0 && hitTest(l) == g.pressed) {
            if ((w & MK_CONTROL) == 0) {
                for (bool& s : g.selected) {
                    s = false;
                }
            }
            g.selected[g.pressed] = !g.selected[g.pressed];
        }
        g.pressed = 0;
        return 0;
    case WM_COMMAND:
        if (LOWORD(w) == browser::kIdAcquire) {
            acquire();
        } else if (LOWORD(w) == browser::kIdExit) {
            callDataSource(kMsgPanelClose, 0);
        }
        return 0;
    case WM_DESTROY:
        g.window = nullptr;
        return 0;
    default:
        return DefWindowProcA(window, message, w, l);
    }
}

void reset(int pictures) {
    const HINSTANCE instance = g.instance;
    const HWND window = g.window;
    g = Fake{};
    g.instance = instance;
    g.window = window;
    g.pictures = pictures < 0                         ? 0
                 : pictures > fakecampanel::kPictures ? fakecampanel::kPictures
                                                      : pictures;
    for (int p = 1; p <= fakecampanel::kPictures; ++p) {
        std::vector<uint8_t> dib = fakecampanel::packedDib(p);
        std::memcpy(&g.headers[p], dib.data(), sizeof g.headers[p]);
    }
    if (const char* corrupt = std::getenv("LV_FAKE_CORRUPT")) {
        g.corrupt = std::atoi(corrupt);
    }
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g.instance = instance;
        reset(fakecampanel::kPictures);
    }
    return TRUE;
}

HWND WINAPI UI_CONNECT(const char* path, HWND owner, DWORD flags) {
    char line[64];
    std::snprintf(line, sizeof line, " owner=0x%08lX flags=0x%lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(owner)), flags);
    Enter enter("UI_CONNECT " + std::string(path) + line);
    g.dsPath = path;
    if ((flags & 0xFFFF) == 0) {
        return nullptr;
    }
    if (g.window == nullptr) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = g.instance;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = "FakeCampanelBrowser";
        RegisterClassA(&wc);
        g.window = CreateWindowExA(0, wc.lpszClassName, "fake campanel",
                                   WS_POPUP | WS_CAPTION | WS_VISIBLE, 100, 100, 540, 460, owner,
                                   nullptr, g.instance, nullptr);
    }
    return g.window;
}

BOOL WINAPI UI_DISCONNECT() {
    Enter enter("UI_DISCONNECT");
    return g.window != nullptr && DestroyWindow(g.window);
}

const BITMAPINFOHEADER* WINAPI UI_GETIMAGEINFO() {
    Enter enter("UI_GETIMAGEINFO");
    if (g.cursor < 1 || g.cursor > g.pictures || g.fault == kFaultNoInfo) {
        return nullptr;
    }
    return &g.headers[g.fault == kFaultStaleInfo ? fakecampanel::kPictures : g.cursor];
}

HGLOBAL WINAPI UI_GETIMAGE() {
    Enter enter("UI_GETIMAGE");
    if (g.acquireCount == 0 || g.handedOut == g.acquireCount || g.cursor < 1) {
        return nullptr;
    }
    ++g.handedOut;
    if (g.cursor == g.corrupt) {
        return nullptr;
    }
    std::vector<uint8_t> dib = fakecampanel::packedDib(g.cursor);
    if (g.fault == kFaultShortBlock) {
        dib.resize(dib.size() - 1);
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, dib.size());
    if (void* bytes = block != nullptr ? GlobalLock(block) : nullptr) {
        std::memcpy(bytes, dib.data(), dib.size());
        GlobalUnlock(block);
    }
    if (g.handedOut == g.acquireCount) {
        g.handedOut = 0;
    }
    if (++g.transferred == g.acquireCount) {
        callDataSource(kMsgPanelClose, 0);
        if (g.pumpOnClose) {
            pumpMessages(); // as the modal loop of a message box would
        }
    }
    return block;
}

int WINAPI UI_ToFirstImage() {
    Enter enter("UI_ToFirstImage");
    g.cursor = 1;
    return 1;
}

int WINAPI UI_ToNextSelectedImage() {
    Enter enter("UI_ToNextSelectedImage");
    const int next = nextSelected(g.cursor);
    if (next == 0) {
        return 0;
    }
    g.cursor = next;
    return 1;
}

// A new card of that many pictures (at most 9: one page), nothing selected, log emptied.
void Fake_Reset(int pictures) {
    reset(pictures);
}
// UI_GETIMAGE gives null for that picture (0: none).
void Fake_SetCorrupt(int picture) {
    g.corrupt = picture;
}
// One of the faults above for every picture (0: none).
void Fake_SetFault(int fault) {
    g.fault = fault;
}
// Runs the thread's messages right after the close request made inside UI_GETIMAGE.
void Fake_SetPumpOnClose(int on) {
    g.pumpOnClose = on != 0;
}
const char* Fake_Log() {
    return g.log.c_str();
}

} // extern "C"
