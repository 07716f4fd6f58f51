// An owner-drawn button that shows one of four bitmaps named by its caption: caption + "U"
// (normal), "D" (pressed), "F" (focused), "X" (disabled). It takes the size of the "U"
// bitmap; a missing letter shows "U".
#pragma once

#include <windows.h>

#include <string>

namespace framework {

class BitmapButton {
public:
    BitmapButton() = default;
    ~BitmapButton();
    BitmapButton(const BitmapButton&) = delete;
    BitmapButton& operator=(const BitmapButton&) = delete;

    // Loads the bitmaps named by the caption of `button` from `resources` and sizes the
    // button to the "U" bitmap. False, with nothing kept, when there is no "U" bitmap.
    bool attach(HWND button, HMODULE resources);
    // Draws the bitmap for the state of a WM_DRAWITEM.
    void draw(const DRAWITEMSTRUCT& item) const;
    // The bitmap a state shows (ODS_SELECTED, ODS_FOCUS, ODS_DISABLED).
    HBITMAP bitmapFor(UINT state) const;

    HWND hwnd() const { return button_; }
    int id() const { return id_; }
    SIZE size() const { return size_; }

private:
    void release();

    HWND button_ = nullptr;
    int id_ = 0;
    SIZE size_ = {0, 0};
    HBITMAP normal_ = nullptr, pressed_ = nullptr, focused_ = nullptr, disabled_ = nullptr;
};

} // namespace framework
