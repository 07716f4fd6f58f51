// The browser dialog hosted the way campanel hosts it: an application object, the real
// serial ports, Still Image service, clock and files, and the window made modeless. Used by
// the Windows tests and by the demo's host program.
#pragma once

#include "browser/win32/browser_dialog.h"
#include "framework/app.h"

#include <string>
#include <vector>

namespace browsertest {

class TestBrowser : public browser::win32::CBrowserDlg {
public:
    explicit TestBrowser(browser::win32::BrowserVariant variant = {});
    std::vector<std::string> events; // "acquire", "exit", "requestClose"

protected:
    void acquireSelected() override { events.push_back("acquire"); }
    void exitCommand() override { events.push_back("exit"); }

public:
    void requestClose() override { events.push_back("requestClose"); }
};

// Pumps the thread's messages until none is waiting.
void pumpMessages();

} // namespace browsertest
