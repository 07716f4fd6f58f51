#include "browser/browser_state.h"

#include <algorithm>
#include <cstring>

namespace browser {

namespace {

// Pictures of a page after its first: a picture lies beyond the page when more follow.
constexpr std::uint32_t kPageTail = kCellCount - 1;

bool pictureBeyondPage(const PictureList& list) {
    return list.count() > list.position() && list.count() - list.position() > kPageTail;
}

} // namespace

void shortLabel(const char* name, char (&label)[kLabelSize]) {
    label[0] = '\0';
    if (name == nullptr) {
        return;
    }
    const std::size_t length = std::strlen(name);
    if (length < 2) {
        return;
    }
    // A backslash as the second character is part of the name, not a folder separator.
    const char* base = name;
    for (std::size_t i = length - 1; i >= 2; --i) {
        if (name[i] == '\\') {
            base = name + i + 1;
            break;
        }
    }
    const std::size_t baseLength = std::strlen(base);
    if (baseLength >= 12) {
        std::memcpy(label, base, 9);
        std::memcpy(label + 9, "...", 4);
    } else {
        std::memcpy(label, base, baseLength + 1);
    }
}

void BrowserState::updatePageButtons() {
    if (pictures.count() <= kCellCount) {
        view_.showControl(kIdPrev, false);
        view_.showControl(kIdNext, false);
        return;
    }
    view_.showControl(kIdPrev, true);
    view_.showControl(kIdNext, true);
    view_.enableControl(kIdNext, pictureBeyondPage(pictures));
    view_.enableControl(kIdPrev, pictures.position() > kCellsPerRow);
}

void BrowserState::nextPage() {
    if (pictureBeyondPage(pictures) && pictures.forward(kCellsPerRow)) {
        repaintPictureArea();
        updatePageButtons();
    }
}

void BrowserState::previousPage() {
    if (pictures.back(kCellsPerRow)) {
        repaintPictureArea();
        updatePageButtons();
    }
}

void BrowserState::firstPage() {
    if (pictures.rewind()) {
        repaintPictureArea();
        updatePageButtons();
    }
}

void BrowserState::lastPage() {
    bool moved = false;
    // forward fails only without a cursor; stop then rather than loop for ever
    while (pictureBeyondPage(pictures) && pictures.forward(kCellsPerRow)) {
        moved = true;
    }
    updatePageButtons();
    if (moved) {
        repaintPictureArea();
    }
}

bool BrowserState::pagingCommand(int commandId) {
    switch (commandId) {
    case kIdNext:
        nextPage();
        return true;
    case kIdPrev:
        previousPage();
        return true;
    case kIdFirstPage:
        firstPage();
        return true;
    case kIdLastPage:
        lastPage();
        return true;
    default:
        return false;
    }
}

void BrowserState::rememberClick(std::uint32_t place) {
    if (clickCount_ == kClickHistorySize) {
        std::copy(clickHistory_ + 1, clickHistory_ + kClickHistorySize, clickHistory_);
        --clickCount_;
    }
    clickHistory_[clickCount_++] = place;
}

void BrowserState::forgetClicksAt(std::uint32_t place) {
    std::uint32_t* end = std::remove(clickHistory_, clickHistory_ + clickCount_, place);
    clickCount_ = static_cast<std::size_t>(end - clickHistory_);
}

void BrowserState::clickCell(int cell, bool replace, bool range) {
    if (cell < 1 || cell > kCellCount) {
        return;
    }
    const auto offset = static_cast<std::uint32_t>(cell - 1);
    if (pictures.entryAfterCursor(offset) == nullptr) {
        return; // no picture there: nothing to select
    }
    const std::uint32_t place = placeOfCell(cell);
    if (range) {
        std::uint32_t anchor = 0;
        for (std::size_t i = 0; i < clickCount_; ++i) {
            if (clickHistory_[i] <= place && clickHistory_[i] > anchor) {
                anchor = clickHistory_[i];
            }
        }
        clickCount_ = 0;
        pictures.clearSelection();
        pictures.selectRange(anchor, place);
    } else if (replace) {
        clickCount_ = 0;
        pictures.clearSelection();
        pictures.toggleAt(offset);
    } else {
        forgetClicksAt(place);
        pictures.toggleAt(offset);
    }
    rememberClick(place);
    redrawCells();
    view_.updateWindow();
}

void BrowserState::setCommandControlsEnabled(bool enabled) {
    for (int id : kCommandControls) {
        view_.enableControl(id, enabled);
    }
}

void BrowserState::redrawCells() {
    const int cells = static_cast<int>(std::min<std::uint32_t>(pictures.count(), kCellCount));
    for (int cell = 1; cell <= cells; ++cell) {
        view_.invalidateRect(cellRect(cell), true);
        view_.validateRect(thumbRect(cell));
    }
}

int BrowserState::hitTest(Point point) const {
    for (int cell = 1; cell <= kCellCount; ++cell) {
        if (shown_[cell - 1] && thumbRect(cell).contains(point)) {
            return cell;
        }
    }
    return 0;
}

void BrowserState::leftButtonDown(Point point, bool ctrl, bool shift) {
    if (!mouseEnabled_) {
        return;
    }
    pressedCell_ = hitTest(point);
    pressedCtrl_ = ctrl;
    pressedShift_ = shift;
}

void BrowserState::leftButtonUp(Point point) {
    if (!mouseEnabled_) {
        return;
    }
    const int cell = pressedCell_;
    const bool replace = !pressedCtrl_;
    const bool range = pressedShift_;
    pressedCell_ = 0;
    pressedCtrl_ = false;
    pressedShift_ = false;
    if (cell != 0 && hitTest(point) == cell) {
        clickCell(cell, replace, range);
    }
}

int BrowserState::preparePage(PageCell (&cells)[kCellCount]) {
    int pictured = 0;
    const PictureEntry* entry = pictures.entryAfterCursor(0);
    for (int i = 0; i < kCellCount; ++i) {
        PageCell& cell = cells[i];
        cell.hasPicture = entry != nullptr;
        cell.selected = entry != nullptr && entry->selected != 0;
        cell.thumbnail = entry != nullptr ? entry->thumbnail : nullptr;
        if (entry != nullptr) {
            shortLabel(entry->name, cell.label);
            ++pictured;
            entry = entry->next;
        } else {
            cell.label[0] = '\0';
        }
        shown_[i] = cell.hasPicture;
    }
    return pictured;
}

} // namespace browser
