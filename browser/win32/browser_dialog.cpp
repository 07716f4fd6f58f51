#include "browser/win32/browser_dialog.h"

#include "browser/win32/folder_picker.h"
#include "framework/app.h"
#include "platform/memory.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>

namespace browser::win32 {

namespace {

// The labels under the thumbnails.
constexpr COLORREF kLabelColour = RGB(0, 225, 0);
constexpr int kLabelHeight = 16;
constexpr int kLabelWeight = 600;
constexpr int kLabelLeft = 5;
constexpr int kLabelTop = 85;
// Between the frames of a row and between rows.
constexpr int kFrameGapX = 20;
constexpr int kFrameGapY = 25;

RECT toRect(const Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

} // namespace

CBrowserDlg::CBrowserDlg(BrowserVariant variant, platform::SerialPorts& ports,
                         platform::StillImageService& stillImage, platform::Clock& clock,
                         platform::FileSystem& files)
    : Dialog(variant.dialogTemplate), state(*this), catalogue(state.pictures),
      link(ports, stillImage, *this, catalogue),
      commands(state, *this, link, clock, files, variant.options), variant_(std::move(variant)) {
    onMessage(WM_ERASEBKGND, [this](WPARAM wParam, LPARAM, LRESULT& result) {
        RECT client = {};
        GetClientRect(hwnd(), &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client,
                 static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        result = TRUE;
        return true;
    });
    onMessage(WM_PAINT, [this](WPARAM, LPARAM, LRESULT& result) {
        PAINTSTRUCT paint = {};
        HDC dc = BeginPaint(hwnd(), &paint);
        paintPage(dc);
        EndPaint(hwnd(), &paint);
        result = 0;
        return true;
    });
    // Painting into a given device context, for captures of the window.
    onMessage(WM_PRINTCLIENT, [this](WPARAM wParam, LPARAM, LRESULT& result) {
        paintPage(reinterpret_cast<HDC>(wParam));
        result = 0;
        return true;
    });
    onMessage(WM_LBUTTONDOWN, [this](WPARAM wParam, LPARAM lParam, LRESULT&) {
        state.leftButtonDown(Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)},
                             (wParam & MK_CONTROL) != 0, (wParam & MK_SHIFT) != 0);
        return false; // and the default processing
    });
    onMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM lParam, LRESULT&) {
        state.leftButtonUp(Point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return false;
    });
    onMessage(WM_DESTROY, [this](WPARAM, LPARAM, LRESULT&) {
        onDestroyWindow();
        return false;
    });
    onCommandRange(0, 0xFFFF, [this](int id) { command(id); });
}

CBrowserDlg::~CBrowserDlg() {
    destroyWindow();
    freeFrames();
}

int CBrowserDlg::templateId(int flowId) const {
    if (variant_.controlIds.empty()) {
        return flowId;
    }
    for (const auto& ids : variant_.controlIds) {
        if (ids.first == flowId) {
            return ids.second;
        }
    }
    return 0;
}

int CBrowserDlg::flowId(int templateControlId) const {
    if (variant_.controlIds.empty()) {
        return templateControlId;
    }
    for (const auto& ids : variant_.controlIds) {
        if (ids.second == templateControlId) {
            return ids.first;
        }
    }
    return 0;
}

bool CBrowserDlg::onInitDialog() {
    beginWaitCursor();
    // Every window starts taking clicks, whatever an earlier window's hand-off left.
    state.setMouseEnabled(true);
    framework::Application* app = framework::Application::current();
    if (app != nullptr && app->mainWindow() == nullptr) {
        app->setMainWindow(hwnd());
    }
    startUpShell();
    state.updatePageButtons();
    for (int id : variant_.bitmapButtons) {
        attachBitmapButton(id);
    }
    for (int id : variant_.labelPictures) {
        EnableWindow(item(id), FALSE);
    }
    for (int id : variant_.alwaysDisabled) {
        EnableWindow(item(id), FALSE);
    }

    freeFrames();
    plainFrame_ = LoadBitmapA(resources(), MAKEINTRESOURCEA(variant_.plainFrame));
    if (plainFrame_ != nullptr) {
        BITMAP info = {};
        GetObjectA(plainFrame_, sizeof info, &info);
        frameSize_ = SIZE{info.bmWidth, info.bmHeight};
    }
    selectedFrame_ = LoadBitmapA(resources(), MAKEINTRESOURCEA(variant_.selectedFrame));

    startUpCamera();
    endWaitCursor();
    return true;
}

void CBrowserDlg::startUpCamera() {
    commands.connectAndLoad();
}

void CBrowserDlg::onDestroyWindow() {
    if (link.usbBuffer != nullptr) {
        platform::virtualFree(link.usbBuffer);
        link.usbBuffer = nullptr;
        link.usbBufferSize = 0;
    }
    freeFrames();
    link.closeSerialPort();
    // With its port closed the serial link is gone: the next window's start-up must look
    // for the camera again rather than read from a closed port.
    if (link.linkKind == camlink::LinkSerial) {
        link.linkKind = camlink::LinkNone;
    }
    framework::Application* app = framework::Application::current();
    if (app != nullptr && app->mainWindow() == hwnd()) {
        app->setMainWindow(nullptr);
    }
}

void CBrowserDlg::freeFrames() {
    for (HBITMAP* frame : {&plainFrame_, &selectedFrame_}) {
        if (*frame != nullptr) {
            DeleteObject(*frame);
            *frame = nullptr;
        }
    }
    frameSize_ = SIZE{0, 0};
}

void CBrowserDlg::command(int templateControlId) {
    const int id = flowId(templateControlId);
    if (id == 0) {
        return;
    }
    if (id == kIdAcquire) {
        acquireSelected();
    } else if (id == kIdExit) {
        exitCommand();
    } else {
        commands.command(id);
    }
}

void CBrowserDlg::paintPage(HDC dc) {
    RECT area = {};
    if (HWND pictureArea = item(templateId(kIdPictureArea))) {
        GetWindowRect(pictureArea, &area);
        MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&area), 2);
    }

    PageCell cells[kCellCount];
    state.preparePage(cells);

    if (plainFrame_ != nullptr && frameSize_.cx > 0) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, plainFrame_);
        for (int i = 0; i < kCellCount; ++i) {
            HBITMAP frame =
                cells[i].selected && selectedFrame_ != nullptr ? selectedFrame_ : plainFrame_;
            SelectObject(memory, frame);
            const int x = area.left + (i % kCellsPerRow) * (frameSize_.cx + kFrameGapX);
            const int y = area.top + (i / kCellsPerRow) * (frameSize_.cy + kFrameGapY);
            BitBlt(dc, x, y, frameSize_.cx, frameSize_.cy, memory, 0, 0, SRCCOPY);
        }
        SelectObject(memory, old);
        DeleteDC(memory);
    }

    if (cells[0].hasPicture) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, kLabelColour);
        HFONT font = CreateFontA(kLabelHeight, 0, 0, 0, kLabelWeight, 0, 0, 0, DEFAULT_CHARSET, 0,
                                 0, 0, 0, nullptr);
        HGDIOBJ oldFont = font != nullptr ? SelectObject(dc, font) : nullptr;
        for (int i = 0; i < kCellCount && cells[i].hasPicture; ++i) {
            const Point origin = thumbOrigin(i + 1);
            if (cells[i].thumbnail != nullptr) {
                if (auto* dib = static_cast<const std::uint8_t*>(
                        platform::globalLock(cells[i].thumbnail))) {
                    const auto* header = reinterpret_cast<const BITMAPINFO*>(dib);
                    const LONG w = header->bmiHeader.biWidth;
                    const LONG h = header->bmiHeader.biHeight;
                    SetDIBitsToDevice(dc, origin.x + (kThumbAreaWidth - w) / 2,
                                      origin.y + (kThumbAreaHeight - h) / 2, w, h, 0, 0, 0,
                                      static_cast<UINT>(h), dib + platform::kDibHeaderSize, header,
                                      DIB_RGB_COLORS);
                    platform::globalUnlock(cells[i].thumbnail);
                }
            }
            TextOutA(dc, origin.x + kLabelLeft, origin.y + kLabelTop, cells[i].label,
                     static_cast<int>(std::strlen(cells[i].label)));
        }
        if (oldFont != nullptr) {
            SelectObject(dc, oldFont);
        }
        if (font != nullptr) {
            DeleteObject(font);
        }
    }

    if (variant_.options.serialLink) {
        link.showLinkState();
    }
}

int CBrowserDlg::messageBox(const char* text, unsigned type) {
    return framework::messageBox(hwnd(), text, type);
}

void CBrowserDlg::requestClose() {}

void CBrowserDlg::setButtonState(int controlId, bool pushed) {
    if (HWND button = item(templateId(controlId))) {
        SendMessageA(button, BM_SETSTATE, pushed ? TRUE : FALSE, 0);
    }
}

void CBrowserDlg::invalidateControl(int controlId, bool erase) {
    HWND control = item(templateId(controlId));
    if (control == nullptr) {
        return;
    }
    RECT r = {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&r), 2);
    InvalidateRect(hwnd(), &r, erase ? TRUE : FALSE);
}

void CBrowserDlg::showControl(int controlId, bool shown) {
    if (HWND control = item(templateId(controlId))) {
        ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
    }
}

void CBrowserDlg::enableControl(int controlId, bool enabled) {
    const int id = templateId(controlId);
    HWND control = item(id);
    if (control == nullptr) {
        return;
    }
    const auto& fixed = variant_.alwaysDisabled;
    if (std::find(fixed.begin(), fixed.end(), id) != fixed.end()) {
        enabled = false;
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
}

void CBrowserDlg::invalidateRect(const Rect& rect, bool erase) {
    if (hwnd() != nullptr) {
        const RECT r = toRect(rect);
        InvalidateRect(hwnd(), &r, erase ? TRUE : FALSE);
    }
}

void CBrowserDlg::validateRect(const Rect& rect) {
    if (hwnd() != nullptr) {
        const RECT r = toRect(rect);
        ValidateRect(hwnd(), &r);
    }
}

void CBrowserDlg::invalidateWindow(bool erase) {
    if (hwnd() != nullptr) {
        InvalidateRect(hwnd(), nullptr, erase ? TRUE : FALSE);
    }
}

void CBrowserDlg::updateWindow() {
    if (hwnd() != nullptr) {
        UpdateWindow(hwnd());
    }
}

void CBrowserDlg::beginWaitCursor() {
    if (variant_.options.waitCursor) {
        framework::beginWaitCursor();
    }
}

void CBrowserDlg::endWaitCursor() {
    if (variant_.options.waitCursor) {
        framework::endWaitCursor();
    }
}

platform::Progress* CBrowserDlg::createProgress() {
    auto* progress = new CProgDLg(variant_.progressTemplate, variant_.progressBar);
    if (progress->hwnd() == nullptr) {
        delete progress;
        return nullptr;
    }
    return progress;
}

void CBrowserDlg::destroyProgress(platform::Progress* progress) {
    delete static_cast<CProgDLg*>(progress);
}

bool CBrowserDlg::chooseFolder(std::string& folder) {
    // Owned by the browser, so no command can start again while the folder browser is up.
    CFolderPicker picker("", 0, hwnd());
    if (picker.run() != CFolderPicker::kChosen) {
        return false;
    }
    folder = picker.chosenFolder();
    return true;
}

} // namespace browser::win32
