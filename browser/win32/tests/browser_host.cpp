#include "browser/win32/tests/browser_host.h"

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/still_image.h"

namespace browsertest {

TestBrowser::TestBrowser(browser::win32::BrowserVariant variant)
    : CBrowserDlg(std::move(variant), platform::systemSerialPorts(), platform::systemStillImage(),
                  platform::systemClock(), platform::systemFileSystem()) {}

void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace browsertest
