// Control identifiers of the browser dialog and the fixed pixel geometry of its nine cells.
// The geometry is plain arithmetic on the thumbnail origins, so hit testing and the
// rectangles to repaint are decided here and the window only carries them out.
#pragma once

namespace browser {

// Controls and commands of the browser dialog (template 9876).
constexpr int kIdExit = 1000;
constexpr int kIdAcquire = 1001;
constexpr int kIdDelete = 1002;
constexpr int kIdPictureArea = 1004; // invisible frame: only its rectangle is used
constexpr int kIdOpenFolder = 1005;  // command only, no control in the template
constexpr int kIdFromCamera = 1006;
constexpr int kIdSave = 1007;
constexpr int kIdTipCamera = 1008;
constexpr int kIdTipFile = 1009;
constexpr int kIdUsb = 1011;
constexpr int kIdSerial = 1012; // command only
constexpr int kIdSelectAll = 1014;
constexpr int kIdPrev = 1020;
constexpr int kIdNext = 1021;
constexpr int kIdFirstPage = 1022; // command only
constexpr int kIdLastPage = 1023;  // command only

// The controls a save or a hand-off disables together, in the order they are switched.
constexpr int kCommandControls[] = {kIdPictureArea, kIdUsb,  kIdFromCamera, kIdSave,
                                    kIdPrev,        kIdNext, kIdDelete,     kIdAcquire,
                                    kIdSelectAll,   kIdExit};

constexpr int kCellCount = 9;   // a page: 3 rows of 3
constexpr int kCellsPerRow = 3; // paging moves by whole rows

struct Point {
    int x;
    int y;
};

// A rectangle as Win32 has it: left and top inside, right and bottom outside.
struct Rect {
    int left;
    int top;
    int right;
    int bottom;

    constexpr bool contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    constexpr bool operator==(const Rect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// Largest thumbnail makeThumbnail makes, and the area a thumbnail is centred in.
constexpr int kThumbMaxWidth = 94;
constexpr int kThumbMaxHeight = 70;
constexpr int kThumbAreaWidth = 86;
constexpr int kThumbAreaHeight = 62;

// Top-left corner of the thumbnail area of cell 1 to 9 (row by row), in client pixels.
constexpr Point thumbOrigin(int cell) {
    return Point{21 + 120 * ((cell - 1) % 3), 35 + 130 * ((cell - 1) / 3)};
}

// The thumbnail area of a cell: where a click counts.
constexpr Rect thumbRect(int cell) {
    Point o = thumbOrigin(cell);
    return Rect{o.x, o.y, o.x + kThumbAreaWidth, o.y + kThumbAreaHeight};
}

// The whole cell with its film frame: what is repainted when its selection changes.
constexpr Rect cellRect(int cell) {
    Point o = thumbOrigin(cell);
    return Rect{o.x - 15, o.y - 12, o.x + 101, o.y + 74};
}

// The area one loading thumbnail may cover (the largest thumbnail at the cell's origin).
constexpr Rect thumbLoadRect(int cell) {
    Point o = thumbOrigin(cell);
    return Rect{o.x, o.y, o.x + kThumbMaxWidth, o.y + kThumbMaxHeight};
}

} // namespace browser
