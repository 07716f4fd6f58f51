#include "framework/bitmap_button.h"

namespace framework {

BitmapButton::~BitmapButton() {
    release();
}

void BitmapButton::release() {
    for (HBITMAP* bitmap : {&normal_, &pressed_, &focused_, &disabled_}) {
        if (*bitmap != nullptr) {
            DeleteObject(*bitmap);
            *bitmap = nullptr;
        }
    }
}

bool BitmapButton::attach(HWND button, HMODULE resources) {
    release();
    button_ = nullptr;
    if (button == nullptr) {
        return false;
    }
    char caption[64] = {};
    GetWindowTextA(button, caption, sizeof caption - 2);
    const std::string name(caption);
    auto load = [&](char letter) { return LoadBitmapA(resources, (name + letter).c_str()); };
    normal_ = load('U');
    if (normal_ == nullptr) {
        return false;
    }
    pressed_ = load('D');
    focused_ = load('F');
    disabled_ = load('X');

    BITMAP info = {};
    GetObjectA(normal_, sizeof info, &info);
    size_ = SIZE{info.bmWidth, info.bmHeight};
    button_ = button;
    id_ = GetDlgCtrlID(button);
    SetWindowPos(button, nullptr, 0, 0, size_.cx, size_.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

HBITMAP BitmapButton::bitmapFor(UINT state) const {
    if ((state & ODS_SELECTED) != 0 && pressed_ != nullptr) {
        return pressed_;
    }
    if ((state & ODS_FOCUS) != 0 && focused_ != nullptr) {
        return focused_;
    }
    if ((state & ODS_DISABLED) != 0 && disabled_ != nullptr) {
        return disabled_;
    }
    return normal_;
}

void BitmapButton::draw(const DRAWITEMSTRUCT& item) const {
    HBITMAP bitmap = bitmapFor(item.itemState);
    HDC memory = CreateCompatibleDC(item.hDC);
    if (memory == nullptr || bitmap == nullptr) {
        return;
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    const RECT& r = item.rcItem;
    BitBlt(item.hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

} // namespace framework
