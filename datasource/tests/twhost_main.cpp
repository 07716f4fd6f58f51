// twhost: a stand-in image editor that acquires pictures through the installed lv2700c5.ds.
// It opens a plain window and a source manager, opens "LUMIVERA LV2700c5", enables it with
// its user interface (campanel's browser) and runs its message loop through MSG_PROCESSEVENT
// until the source asks to be closed; each picture comes by native transfer.
//   twhost [--source PATH] [--manager direct|twain32] [--out FOLDER] [--select CELLS]
//          [--ready FILE] [--go FILE]
// --source  the data source the direct manager loads; by default the installed one,
//           <Windows folder>\twain_32\LUMIVERA\lv2700c5.ds (twain_64 in the 64-bit build);
// --manager direct (twhost's own 2.x manager, the default) or twain32 (Wine's twain_32.dll);
// --out     each picture is written there as a .bmp file (001.bmp, 002.bmp ...);
// --select  clicks those cells (digits 1 to 9, "1,5" say) on the browser's first page with
//           the mouse, Ctrl held after the first, then presses ACQUIRE;
// --ready   written once the first page (and the selection) is on screen;
// --go      ACQUIRE waits until that file exists.
// When a batch does not end with the source asking to close, it presses EXIT.
// Exit code: 0 when the selected pictures (one at least) arrived without a fault and the
// source closed; 1 when they did not; 2 when the manager, the source or the browser could
// not be opened.
#include "browser/layout.h"
#include "browser/win32/tests/cell_clicks.h"
#include "datasource/tests/twhost.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace twhost;

constexpr char kCaption[] = "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging";
constexpr DWORD kTimeoutMs = 600000;
// How long after a batch the source's close request may take before EXIT is pressed.
constexpr DWORD kCloseGraceMs = 3000;

struct Options {
    std::string source;
    std::string manager = "direct";
    std::string out;
    std::string select;
    std::string ready;
    std::string go;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (name == "--source") {
            o.source = value;
        } else if (name == "--manager") {
            o.manager = value;
        } else if (name == "--out") {
            o.out = value;
        } else if (name == "--select") {
            o.select = value;
        } else if (name == "--ready") {
            o.ready = value;
        } else if (name == "--go") {
            o.go = value;
        } else {
            return false;
        }
    }
    return o.manager == "direct" || o.manager == "twain32";
}

std::string installedSource() {
    char windows[MAX_PATH] = {};
    const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, n < MAX_PATH ? n : 0) + "\\" + twain::kSourceFolder +
           "\\LUMIVERA\\lv2700c5.ds";
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

void command(HWND window, int id) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

using lvtest::clickCells;

HWND createEditorWindow(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = "LvTwhostEditor";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Image editor - twhost",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr,
                                  nullptr, instance, nullptr);
    if (window != nullptr) {
        UpdateWindow(window);
    }
    return window;
}

int fail(const char* what, const Host* host) {
    std::fprintf(stderr, "twhost: %s\n", what);
    if (host != nullptr) {
        for (const std::string& e : host->errors) {
            std::fprintf(stderr, "twhost: %s\n", e.c_str());
        }
    }
    return 2;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    Options o;
    if (!parse(__argc, __argv, o)) {
        std::fprintf(stderr, "usage: twhost [--source PATH] [--manager direct|twain32] "
                             "[--out FOLDER] [--select CELLS] [--ready FILE] [--go FILE]\n");
        return 2;
    }
    if (o.source.empty()) {
        o.source = installedSource();
    }
    HWND editor = createEditorWindow(instance);
    if (editor == nullptr) {
        return fail("cannot open a window", nullptr);
    }
    std::unique_ptr<Manager> manager;
    if (o.manager == "twain32") {
        manager = std::make_unique<WineManager>();
    } else {
        manager = std::make_unique<DirectManager>(o.source);
    }
    Host host(*manager, editor);
    if (!host.open()) {
        return fail(o.manager == "twain32" ? "cannot open the source through twain_32.dll"
                                           : ("cannot open the source " + o.source).c_str(),
                    &host);
    }
    const TW_UINT16 enabled = host.enable(true);
    HWND browser = FindWindowA(nullptr, kCaption);
    if ((enabled != TWRC_SUCCESS && enabled != TWRC_CHECKSTATUS) || browser == nullptr) {
        return fail("the browser did not open", &host);
    }

    // Each batch's pictures are written as they arrive; a batch that does not end in a close
    // request (a picture failed, say) leaves the browser open, so EXIT is pressed.
    if (!o.out.empty()) {
        CreateDirectoryA(o.out.c_str(), nullptr);
    }
    const std::string folder =
        o.out.empty() || o.out.back() == '\\' || o.out.back() == '/' ? o.out : o.out + "\\";
    DWORD batchEnded = 0;
    bool batchOver = false;
    host.onXferReady = [&](Host& h) {
        const std::size_t before = h.pictures.size();
        h.takeAll();
        for (std::size_t i = before; i < h.pictures.size() && !o.out.empty(); ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "%03u.bmp", unsigned(i + 1));
            const std::vector<std::uint8_t> file = bmpFile(h.pictures[i].dib);
            if (file.empty() || !writeFile(folder + name, file)) {
                h.errors.push_back("cannot write " + folder + name);
            }
        }
        batchOver = true;
        batchEnded = GetTickCount();
    };

    // A click counts only on a thumbnail the last paint drew.
    UpdateWindow(browser);
    host.pump();
    const int selected = clickCells(browser, o.select);
    UpdateWindow(browser);
    if (!o.ready.empty() && !writeFile(o.ready, {})) {
        host.errors.push_back("cannot write " + o.ready);
    }

    bool acquired = selected == 0; // nothing to press: the user runs the browser
    bool exitPressed = false;
    const DWORD start = GetTickCount();
    while (!host.closed && GetTickCount() - start < kTimeoutMs && IsWindow(editor)) {
        host.pump();
        if (host.closed) {
            break;
        }
        if (!acquired && (o.go.empty() || exists(o.go))) {
            acquired = true;
            command(browser, browser::kIdAcquire);
        }
        if (batchOver && !exitPressed && GetTickCount() - batchEnded >= kCloseGraceMs &&
            IsWindow(browser)) {
            exitPressed = true;
            command(browser, browser::kIdExit);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }

    const std::size_t pictures = host.pictures.size();
    const std::size_t faults = host.errors.size();
    std::fprintf(stderr, "twhost: %u pictures received, %u faults, source %s\n", unsigned(pictures),
                 unsigned(faults), host.closed ? "closed on its request" : "not closed");
    for (const std::string& e : host.errors) {
        std::fprintf(stderr, "twhost: %s\n", e.c_str());
    }
    const bool ok = host.closed && faults == 0 && pictures > 0 &&
                    (selected == 0 || pictures == std::size_t(selected));
    if (!host.closed) {
        host.closeSource();
    }
    host.closeManager();
    DestroyWindow(editor);
    return ok ? 0 : 1;
}
