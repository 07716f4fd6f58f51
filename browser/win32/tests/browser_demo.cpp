// The browser window on its own, on whatever camera the ports or the Still Image service
// offer, until EXIT or the window is closed. For the demo:
//   browser_demo [--select CELL,CELL...] [--ready FILE]
// --select clicks those cells (1 to 9) with the mouse once the pictures are in, Ctrl held
// after the first; --ready writes FILE when the first page is on screen.
#include "browser/win32/tests/browser_host.h"
#include "browser/win32/tests/cell_clicks.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

class DemoBrowser : public browsertest::TestBrowser {
protected:
    void exitCommand() override { destroyWindow(); }

public:
    void requestClose() override { destroyWindow(); }
};

using lvtest::clickCells;

const char* option(const char* commandLine, const char* name, char* value, std::size_t size) {
    const char* at = std::strstr(commandLine, name);
    if (at == nullptr) {
        return nullptr;
    }
    at += std::strlen(name);
    while (*at == ' ') {
        ++at;
    }
    std::size_t n = 0;
    while (at[n] != '\0' && at[n] != ' ' && n + 1 < size) {
        value[n] = at[n];
        ++n;
    }
    value[n] = '\0';
    return value;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    CoInitialize(nullptr);
    framework::Application app;
    DemoBrowser browser;
    if (browser.create(nullptr) == nullptr) {
        return 1;
    }
    UpdateWindow(browser.hwnd());
    char value[MAX_PATH] = {};
    if (option(commandLine, "--select", value, sizeof value) != nullptr) {
        clickCells(browser.hwnd(), value);
    }
    if (option(commandLine, "--ready", value, sizeof value) != nullptr) {
        if (std::FILE* ready = std::fopen(value, "w")) {
            std::fclose(ready);
        }
    }
    MSG msg;
    while (browser.hwnd() != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(browser.hwnd(), &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    CoUninitialize();
    return 0;
}
