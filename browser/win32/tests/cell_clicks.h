// Mouse clicks on the browser's thumbnail cells as a user makes them: pressed and released
// at the centre of the cell's thumbnail.
#pragma once

#include "browser/layout.h"

#include <windows.h>

#include <string>

namespace lvtest {

inline void clickCell(HWND browser, int cell, WPARAM keys = 0) {
    const browser::Rect r = browser::thumbRect(cell);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(browser, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    SendMessageA(browser, WM_LBUTTONUP, keys, at);
}

// Clicks the cells named by the digits 1 to 9 in `cells` ("1,5" say), Ctrl held after the
// first, as a user adds to a selection; returns how many were clicked.
inline int clickCells(HWND browser, const std::string& cells) {
    int clicked = 0;
    for (char c : cells) {
        const int cell = c - '0';
        if (cell >= 1 && cell <= browser::kCellCount) {
            clickCell(browser, cell, clicked > 0 ? MK_CONTROL : 0);
            ++clicked;
        }
    }
    return clicked;
}

} // namespace lvtest
