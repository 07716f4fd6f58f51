#include "pixdesk/pixdesk_dialog.h"

#include "framework/app.h"
#include "pixdesk/automation.h"
#include "pixdesk/resource.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/still_image.h"

namespace pixdesk {

using namespace browser;

browser::win32::BrowserVariant pixdeskVariant() {
    browser::win32::BrowserVariant v;
    v.dialogTemplate = IDD_PIXDESK_DIALOG;
    v.progressTemplate = IDD_PROGRESS;
    v.progressBar = IDC_PROGRESS_BAR;
    v.plainFrame = 161;
    v.selectedFrame = 160;
    v.options.serialLink = false;
    v.options.waitCursor = false;
    v.options.keepFolder = false;
    v.bitmapButtons = {IDC_USB,     IDC_FROMDSC, IDC_FROMFILE, IDC_PREV,   IDC_NEXT,   IDC_DELETE,
                       IDC_ACQUIRE, IDC_SELECT,  IDC_EXIT,     IDC_TIPDSC, IDC_TIPFILE};
    v.labelPictures = {IDC_TIPDSC, IDC_TIPFILE};
    v.controlIds = {{kIdPictureArea, IDC_PICTURE_AREA},
                    {kIdUsb, IDC_USB},
                    {kIdFromCamera, IDC_FROMDSC},
                    {kIdSave, IDC_FROMFILE},
                    {kIdPrev, IDC_PREV},
                    {kIdNext, IDC_NEXT},
                    {kIdDelete, IDC_DELETE},
                    {kIdAcquire, IDC_ACQUIRE},
                    {kIdSelectAll, IDC_SELECT},
                    {kIdExit, IDC_EXIT},
                    {kIdTipCamera, IDC_TIPDSC},
                    {kIdTipFile, IDC_TIPFILE}};
    v.alwaysDisabled = {IDC_ACQUIRE};
    return v;
}

void centreWindow(HWND window, HWND over) {
    RECT area = {};
    if (over != nullptr && IsWindowVisible(over) && !IsIconic(over)) {
        GetWindowRect(over, &area);
    } else {
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    }
    RECT own = {};
    GetWindowRect(window, &own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int x = area.left + (area.right - area.left - width) / 2;
    int y = area.top + (area.bottom - area.top - height) / 2;
    // Keep the caption on the screen.
    x = x < 0 ? 0 : x;
    y = y < 0 ? 0 : y;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CAboutDlg::CAboutDlg() : Dialog(IDD_ABOUTBOX) {}

bool CAboutDlg::onInitDialog() {
    centreWindow(hwnd(), GetWindow(hwnd(), GW_OWNER));
    return true;
}

CPIXDESKDlg::CPIXDESKDlg()
    : CBrowserDlg(pixdeskVariant(), platform::systemSerialPorts(), platform::systemStillImage(),
                  platform::systemClock(), platform::systemFileSystem()),
      icon_(LoadIconA(resources(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {
    onCommand(IDOK, [this] {
        if (canExit()) {
            endDialog(IDOK);
        }
    });
    onCommand(IDCANCEL, [this] {
        if (canExit()) {
            endDialog(IDCANCEL);
        }
    });
    // The close box: refused while an object is held, else the dialog's own handling, which
    // turns it into Cancel.
    onMessage(WM_CLOSE, [this](WPARAM, LPARAM, LRESULT& result) {
        if (canExit()) {
            return false;
        }
        result = 0;
        return true;
    });
    onMessage(WM_SYSCOMMAND, [this](WPARAM wParam, LPARAM, LRESULT& result) {
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX) {
            return false;
        }
        CAboutDlg about;
        about.runModal(hwnd());
        result = 0;
        return true;
    });
    onMessage(WM_QUERYDRAGICON, [this](WPARAM, LPARAM, LRESULT& result) {
        result = reinterpret_cast<LRESULT>(icon_);
        return true;
    });
    // The browser's paint, with the icon first while the window is minimised.
    onMessage(WM_PAINT, [this](WPARAM, LPARAM, LRESULT& result) {
        PAINTSTRUCT paint = {};
        HDC dc = BeginPaint(hwnd(), &paint);
        if (IsIconic(hwnd())) {
            paintMinimised(dc);
        }
        paintPage(dc);
        EndPaint(hwnd(), &paint);
        result = 0;
        return true;
    });
}

CPIXDESKDlg::~CPIXDESKDlg() {
    if (autoProxy != nullptr) {
        autoProxy->ownerDialog = nullptr;
    }
    link.releaseStillDevice();
    // A shared icon from LoadIcon is the system's to free.
}

bool CPIXDESKDlg::canExit() {
    if (autoProxy != nullptr) {
        ShowWindow(hwnd(), SW_HIDE);
        return false;
    }
    return true;
}

void CPIXDESKDlg::requestClose() {
    state.resetClicks();
    if (canExit()) {
        endDialog(IDOK);
    }
}

void CPIXDESKDlg::startUpShell() {
    centreWindow(hwnd(), nullptr);
    addAboutItem();
    SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void CPIXDESKDlg::addAboutItem() {
    char text[64] = {};
    if (LoadStringA(resources(), IDS_ABOUTBOX, text, sizeof text) <= 0) {
        return;
    }
    if (HMENU menu = GetSystemMenu(hwnd(), FALSE)) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
    }
}

void CPIXDESKDlg::paintMinimised(HDC dc) {
    SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client = {};
    GetClientRect(hwnd(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
}

} // namespace pixdesk
