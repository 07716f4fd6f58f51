// The browser window on its own, on whatever camera the ports or the Still Image service
// offer, until EXIT or the window is closed.
#include "browser/win32/tests/browser_host.h"

#include <objbase.h>

namespace {

class DemoBrowser : public browsertest::TestBrowser {
protected:
    void exitCommand() override { destroyWindow(); }

public:
    void requestClose() override { destroyWindow(); }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CoInitialize(nullptr);
    framework::Application app;
    DemoBrowser browser;
    if (browser.create(nullptr) == nullptr) {
        return 1;
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
