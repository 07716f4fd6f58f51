#include "smoke_dialog.h"

#include "framework/app.h"
#include "smoke_ids.h"

namespace smoke {
namespace {

INT_PTR CALLBACK dialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

} // namespace

HWND createDialog(HINSTANCE instance) {
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SMOKE), nullptr, dialogProc, 0);
}

int ask(HWND dialog) {
    return framework::messageBox(dialog, kQuestion, MB_YESNO | MB_DEFBUTTON2);
}

} // namespace smoke
