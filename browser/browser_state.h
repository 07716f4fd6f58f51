// The browser dialog's state and behaviour that need no window: the picture catalogue, the
// page of nine cells on it, the page buttons and paging commands, the mouse's click rules
// with their click history, and what a paint of the page shows. The Win32 dialog owns one
// BrowserState for the life of the dialog object (longer than any one window) and is its View.
//
// The page: cell k (1 to 9, row by row) shows the entry k - 1 places after the catalogue's
// cursor, so the cursor is the first picture of the page and `position` its 1-based place.
// Paging moves by whole rows of three, so a page starts at place 1, 4, 7, ...
#pragma once

#include "browser/layout.h"
#include "browser/picture_list.h"
#include "browser/view.h"

#include <cstddef>
#include <cstdint>

namespace browser {

// Label under a thumbnail: at most 12 characters and the NUL.
constexpr std::size_t kLabelSize = 13;

// The label of a picture: the part of its name after the last backslash (a camera name has
// none), shortened to its first 9 characters and "..." when 12 characters or longer.
// Names shorter than 2 characters give an empty label.
void shortLabel(const char* name, char (&label)[kLabelSize]);

// What one cell of the page shows.
struct PageCell {
    bool hasPicture;                  // a catalogue entry lies in this cell
    bool selected;                    // draw the selected frame
    platform::GlobalHandle thumbnail; // packed DIB to draw, owned by the catalogue; may be null
    char label[kLabelSize];
};

class BrowserState {
public:
    // Places remembered for Shift clicks. When full, the oldest is dropped for the newest.
    static constexpr std::size_t kClickHistorySize = 500;

    // The view must outlive the state; it may be the object that owns the state.
    explicit BrowserState(View& view) : view_(view) {}
    BrowserState(const BrowserState&) = delete;
    BrowserState& operator=(const BrowserState&) = delete;

    // The catalogue. The commands fill, walk and empty it directly.
    PictureList pictures;

    // Shows, hides, enables and disables PREV and NEXT for the current page.
    void updatePageButtons();

    // The paging commands. Each repaints the picture area (with erasing) when the page
    // moved, PREV also at the first page.
    void nextPage();     // NEXT, 1021: one row on, when a picture lies beyond the page
    void previousPage(); // PREV, 1020: one row back
    void firstPage();    // 1022
    void lastPage();     // 1023: rows on until the last picture is on the page
    // Runs the paging command `commandId`; false when it is not one.
    bool pagingCommand(int commandId);

    // 0-based catalogue place of the picture in cell 1 to 9 (meaningful when it holds one).
    std::uint32_t placeOfCell(int cell) const { return pictures.position() + cell - 2; }

    // The selection change for a click on a cell holding a picture: `range` (Shift) selects
    // from the nearest earlier clicked place (or the first picture) to this one; else
    // `replace` (no Ctrl) makes this the only selected picture; else (Ctrl) this picture's
    // selection flips. Then the cell frames are redrawn at once. A cell without a picture is
    // ignored.
    void clickCell(int cell, bool replace, bool range);
    // Forgets the clicked places (the commands do so when they start).
    void resetClicks() { clickCount_ = 0; }
    std::size_t clickCount() const { return clickCount_; }
    const std::uint32_t* clickHistory() const { return clickHistory_; }

    // Enables or disables the command controls together (save, hand-off).
    void setCommandControlsEnabled(bool enabled);

    // Invalidates the frames of the cells that may hold a picture, keeping their thumbnails
    // valid, so the next paint renews only the frames.
    void redrawCells();

    // Cell 1 to 9 whose drawn thumbnail area holds the point, or 0.
    int hitTest(Point point) const;
    // The left button: a click counts when pressed and released on the same drawn thumbnail.
    // Ignored while the mouse is disabled.
    void leftButtonDown(Point point, bool ctrl, bool shift);
    void leftButtonUp(Point point);
    bool mouseEnabled() const { return mouseEnabled_; }
    void setMouseEnabled(bool enabled) { mouseEnabled_ = enabled; }

    // What a paint shows in the nine cells, from the cursor on; also remembers which cells
    // show a picture for hitTest. The cursor does not move. Returns the cells with a picture.
    int preparePage(PageCell (&cells)[kCellCount]);
    bool cellShown(int cell) const { return cell >= 1 && cell <= kCellCount && shown_[cell - 1]; }

private:
    void repaintPictureArea() { view_.invalidatePictureArea(true); }
    void rememberClick(std::uint32_t place);
    void forgetClicksAt(std::uint32_t place);

    View& view_;
    std::uint32_t clickHistory_[kClickHistorySize] = {};
    std::size_t clickCount_ = 0;
    bool mouseEnabled_ = true;
    bool shown_[kCellCount] = {};
    int pressedCell_ = 0;
    bool pressedCtrl_ = false;
    bool pressedShift_ = false;
};

} // namespace browser
