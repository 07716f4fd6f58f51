// twainhost: a stand-in image editor that acquires pictures through the test data source.
// It opens a plain window, loads lvtestds.dll from its own folder, opens campanel's browser
// with it and runs the message loop until the data source has closed the browser.
//   twainhost [--out FOLDER] [--select CELLS] [--ready FILE] [--acquire-after-ms N]
//             [--go FILE]
// --out     the data source writes the pictures it receives there (001.bmp, 002.bmp ...);
// --select  clicks those cells (digits 1 to 9, "1,5" say) on the browser's first page with
//           the mouse, Ctrl held after the first, then presses ACQUIRE;
// --ready   written once the first page (and the selection) is on screen;
// --acquire-after-ms, --go  ACQUIRE waits that long, and until that file exists.
// When the batch does not end with the data source closing the browser, it presses EXIT.
// Exit code: 0 when the data source received the selected pictures (one at least) without a
// fault and closed the browser; 1 when it did not; 2 when the browser could not be opened.
#include "browser/layout.h"
#include "browser/win32/tests/cell_clicks.h"
#include "twain/lvtestds.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr UINT_PTR kTimer = 1;
constexpr UINT kTimerMs = 50;
// Posted after ACQUIRE: behind the data source's answer to a close request, if one came.
constexpr UINT kAfterAcquire = WM_APP + 1;

struct Options {
    std::string out;
    std::string select;
    std::string ready;
    std::string go;
    DWORD acquireAfterMs = 0;
};

struct Host {
    Options options;
    LvTestDs ds;
    HWND browser = nullptr;
    DWORD acquireAt = 0;
    bool acquired = false;
    int selected = 0;
};

Host g_host;

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (name == "--out") {
            o.out = value;
        } else if (name == "--select") {
            o.select = value;
        } else if (name == "--ready") {
            o.ready = value;
        } else if (name == "--go") {
            o.go = value;
        } else if (name == "--acquire-after-ms") {
            o.acquireAfterMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
        } else {
            return false;
        }
    }
    return true;
}

using lvtest::clickCells;

void pressAcquire(HWND window) {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(browser::kIdAcquire, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, browser::kIdAcquire)));
}

void tick(HWND host) {
    const Options& o = g_host.options;
    if (g_host.acquired || static_cast<LONG>(GetTickCount() - g_host.acquireAt) < 0) {
        return; // acquired already, or its time has not come
    }
    if (!o.go.empty() && GetFileAttributesA(o.go.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    // The batch runs inside this call, with message loops of its own: no second tick.
    KillTimer(host, kTimer);
    g_host.acquired = true;
    pressAcquire(g_host.browser);
    PostMessageA(host, kAfterAcquire, 0, 0);
}

// A batch that did not end in a close request (a picture failed, say) leaves the browser
// open: press EXIT, as the user would, so that the run ends.
void afterAcquire() {
    if (!g_host.ds.done() && IsWindow(g_host.browser)) {
        SendMessageA(g_host.browser, WM_COMMAND, MAKEWPARAM(browser::kIdExit, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(g_host.browser, browser::kIdExit)));
    }
}

LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_TIMER:
        if (w == kTimer) {
            tick(window);
        }
        return 0;
    case kAfterAcquire:
        afterAcquire();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, w, l);
    }
}

HWND createHostWindow(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = hostProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = "LvTwainHost";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Image editor - twainhost",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                                  nullptr, instance, nullptr);
    if (window != nullptr) {
        UpdateWindow(window);
    }
    return window;
}

std::string besideThisProgram(const char* file) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return file;
    }
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/") + 1) + file;
}

void touch(const std::string& path) {
    if (std::FILE* f = std::fopen(path.c_str(), "w")) {
        std::fclose(f);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Host& h = g_host;
    if (!parse(__argc, __argv, h.options)) {
        std::fprintf(stderr, "usage: twainhost [--out FOLDER] [--select CELLS] [--ready FILE] "
                             "[--acquire-after-ms N] [--go FILE]\n");
        return 2;
    }
    HWND host = createHostWindow(instance);
    const std::string dll = besideThisProgram("lvtestds.dll");
    if (host == nullptr || !h.ds.load(dll.c_str())) {
        std::fprintf(stderr, "twainhost: cannot load %s\n", dll.c_str());
        return 2;
    }
    h.ds.setOutput(h.options.out.empty() ? nullptr : h.options.out.c_str());
    h.browser = h.ds.open(host, 1, nullptr);
    if (h.browser == nullptr) {
        std::fprintf(stderr, "twainhost: the browser did not open\n%s", h.ds.transcript());
        return 2;
    }
    // A click counts only on a thumbnail the last paint drew.
    UpdateWindow(h.browser);
    h.selected = clickCells(h.browser, h.options.select);
    UpdateWindow(h.browser);
    if (!h.options.ready.empty()) {
        touch(h.options.ready);
    }
    if (h.selected > 0) {
        h.acquireAt = GetTickCount() + h.options.acquireAfterMs;
        SetTimer(host, kTimer, kTimerMs, nullptr);
    }

    MSG msg;
    while (!h.ds.done() && IsWindow(h.browser) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(h.browser, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    const int pictures = h.ds.pictures();
    const int faults = h.ds.errors();
    const bool done = h.ds.done() != 0;
    std::fprintf(stderr, "twainhost: %d pictures received, %d faults, browser %s\n", pictures,
                 faults, done ? "closed by the data source" : "gone");
    h.ds.unload();
    DestroyWindow(host);
    const bool ok =
        done && faults == 0 && pictures > 0 && (h.selected == 0 || pictures == h.selected);
    return ok ? 0 : 1;
}
