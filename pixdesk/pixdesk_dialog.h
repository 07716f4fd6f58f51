// CPIXDESKDlg: pixdesk's one window, the shared browser over USB only, with the program's
// shell around it: the About item of the system menu, the program icon, and the check
// before every end of the dialog that keeps the program alive, hidden, while an automation
// client holds its object. CAboutDlg is the About box.
#pragma once

#include "browser/win32/browser_dialog.h"

#include <windows.h>

namespace pixdesk {

class CPIXDESKDlgAutoProxy;

// The browser's variant in pixdesk: template 102 with its own control ids, progress
// template 129 with bar 102, frames 161 and 160, USB only, no wait cursor, no folder kept,
// ACQUIRE always disabled.
browser::win32::BrowserVariant pixdeskVariant();

class CAboutDlg : public framework::Dialog {
public:
    CAboutDlg();

protected:
    bool onInitDialog() override;
};

// Centres `window` over `over`, or over the screen's work area when `over` is null or
// hidden, as a program's windows come up.
void centreWindow(HWND window, HWND over);

class CPIXDESKDlg : public browser::win32::CBrowserDlg {
public:
    CPIXDESKDlg();
    ~CPIXDESKDlg() override;

    // The live automation object, or null; set and cleared by the object itself.
    CPIXDESKDlgAutoProxy* autoProxy = nullptr;

    HICON icon() const { return icon_; }

    // The check before the dialog ends: with an automation object held the dialog is only
    // hidden and false comes back; otherwise true, and the caller ends the dialog.
    bool canExit();

    // EXIT, and the end after a failed transfer-buffer allocation.
    void requestClose() override;

protected:
    void startUpShell() override;

private:
    void addAboutItem();
    void paintMinimised(HDC dc);

    HICON icon_;
};

} // namespace pixdesk
