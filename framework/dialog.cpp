#include "framework/dialog.h"

#include "framework/app.h"

namespace framework {
namespace {

// Messages whose result a dialog procedure returns itself rather than in DWLP_MSGRESULT.
bool returnsDirectly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}

HMODULE defaultResources() {
    Application* app = Application::current();
    return app != nullptr ? app->module() : programModule();
}

} // namespace

Dialog::Dialog(int templateId, HMODULE resources)
    : templateId_(templateId), resources_(resources != nullptr ? resources : defaultResources()) {}

Dialog::~Dialog() {
    if (hwnd_ != nullptr) {
        HWND window = hwnd_;
        SetWindowLongPtrA(window, DWLP_USER, 0);
        hwnd_ = nullptr;
        DestroyWindow(window);
    }
}

HWND Dialog::create(HWND owner) {
    if (hwnd_ != nullptr) {
        return hwnd_;
    }
    modal_ = false;
    return CreateDialogParamA(resources_, MAKEINTRESOURCEA(templateId_), owner, dialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::runModal(HWND owner) {
    if (hwnd_ != nullptr) {
        return -1;
    }
    modal_ = true;
    return DialogBoxParamA(resources_, MAKEINTRESOURCEA(templateId_), owner, dialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void Dialog::endDialog(INT_PTR result) {
    if (hwnd_ != nullptr && modal_) {
        EndDialog(hwnd_, result);
    }
}

bool Dialog::destroyWindow() {
    return hwnd_ != nullptr && DestroyWindow(hwnd_) != FALSE;
}

void Dialog::onMessage(UINT message, MessageHandler handler) {
    messages_[message] = std::move(handler);
}

void Dialog::onCommand(int id, CommandHandler handler) {
    commands_[id] = std::move(handler);
}

void Dialog::onCommandRange(int first, int last, RangeHandler handler) {
    ranges_.push_back(Range{first, last, std::move(handler)});
}

bool Dialog::attachBitmapButton(int id) {
    auto button = std::make_unique<BitmapButton>();
    if (!button->attach(item(id), resources_)) {
        return false;
    }
    buttons_.push_back(std::move(button));
    return true;
}

bool Dialog::dispatchCommand(int id) {
    auto command = commands_.find(id);
    if (command != commands_.end()) {
        command->second();
        return true;
    }
    for (const Range& range : ranges_) {
        if (id >= range.first && id <= range.last) {
            range.handler(id);
            return true;
        }
    }
    return false;
}

bool Dialog::dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_INITDIALOG:
        result = onInitDialog() ? TRUE : FALSE;
        return true;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        for (const auto& button : buttons_) {
            if (item != nullptr && item->hwndItem == button->hwnd()) {
                button->draw(*item);
                result = TRUE;
                return true;
            }
        }
        break;
    }
    case WM_SETCURSOR:
        if (waitCursorShown()) {
            SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
            result = TRUE;
            return true;
        }
        break;
    case WM_COMMAND:
        // Clicks, menu items and accelerators; other notifications (focus, double click)
        // are not commands.
        if (HIWORD(wParam) > 1) {
            break;
        }
        if (dispatchCommand(LOWORD(wParam))) {
            result = 0;
            return true;
        }
        // A modal dialog without handlers of its own ends on OK and Cancel.
        if (modal_ && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            endDialog(LOWORD(wParam));
            return true;
        }
        return false;
    default:
        break;
    }
    auto handler = messages_.find(message);
    return handler != messages_.end() && handler->second(wParam, lParam, result);
}

INT_PTR CALLBACK Dialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<Dialog*>(lParam)->hwnd_ = window;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    LRESULT result = 0;
    bool handled = false;
    try {
        handled = dialog->dispatch(message, wParam, lParam, result);
    } catch (...) {
        handled = false; // nothing may unwind into the system's window code
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->hwnd_ = nullptr;
        dialog->buttons_.clear();
        return FALSE;
    }
    if (!handled) {
        return FALSE;
    }
    if (returnsDirectly(message)) {
        return static_cast<INT_PTR>(result);
    }
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

} // namespace framework
