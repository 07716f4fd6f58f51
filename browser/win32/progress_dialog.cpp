#include "browser/win32/progress_dialog.h"

#include "framework/app.h"

#include <commctrl.h>

namespace browser::win32 {

CProgDLg::CProgDLg(int templateId, int barId) : Dialog(templateId), barId_(barId) {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)registered;
    create(framework::mainWindow());
}

CProgDLg::~CProgDLg() {
    destroyWindow();
}

bool CProgDLg::onInitDialog() {
    RECT place = {};
    if (HWND placeholder = item(kBarPlace)) {
        GetWindowRect(placeholder, &place);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&place), 2);
    }
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, place.left, place.top,
                               place.right - place.left, place.bottom - place.top, hwnd(),
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(barId_)), resources(),
                               nullptr);
    if (bar != nullptr) {
        SendMessageA(bar, PBM_SETPOS, 0, 0);
        ShowWindow(bar, SW_SHOW);
    }
    return true;
}

void CProgDLg::setRange(int low, int high) {
    const auto packed = static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
    SendMessageA(bar(), PBM_SETRANGE, 0, packed);
}

void CProgDLg::setStep(int step) {
    SendMessageA(bar(), PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void CProgDLg::show() {
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
}

void CProgDLg::stepIt() {
    SendMessageA(bar(), PBM_STEPIT, 0, 0);
    // The thread is busy: paint now, not when the loop next runs; only the control that
    // changed, since a repaint of the whole dialog costs more than a thumbnail's decode.
    UpdateWindow(bar());
}

void CProgDLg::setText(const char* text) {
    SetDlgItemTextA(hwnd(), kTextLine, text);
    UpdateWindow(item(kTextLine));
}

void CProgDLg::hide() {
    ShowWindow(hwnd(), SW_HIDE);
}

} // namespace browser::win32
