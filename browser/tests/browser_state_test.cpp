#include "browser/browser_state.h"
#include "browser/tests/dib_builder.h"
#include "browser/tests/fake_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace browser {
namespace {

using Lines = std::vector<std::string>;

const std::string kRepaint = "invalidateControl 1004 erase";
const Lines kHidden{"show 1020 0", "show 1021 0"};
Lines buttons(bool prev, bool next) {
    return {"show 1020 1", "show 1021 1", next ? "enable 1021 1" : "enable 1021 0",
            prev ? "enable 1020 1" : "enable 1020 0"};
}
Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A catalogue of camera pictures S1000000, S1000001, ... on a recording view.
class BrowserStateTest : public ::testing::Test {
protected:
    void SetUp() override { picture_ = testing::makePicture(64, 48); }
    void TearDown() override { platform::globalFree(picture_); }

    // n pictures, the first page shown, the view's log emptied.
    void fill(int n) {
        for (int i = 0; i < n; ++i) {
            std::string name = "S" + std::to_string(1000000 + i);
            ASSERT_TRUE(state_.pictures.add(name.c_str(), 1, 0x7000, picture_));
        }
        state_.pictures.rewind();
        view_.take();
    }
    // 0-based places of the selected pictures; the cursor is put back.
    std::vector<int> selected() {
        PictureList& list = state_.pictures;
        const std::uint32_t page = list.position();
        std::vector<int> places;
        for (bool more = list.firstSelected(); more; more = list.nextSelected()) {
            places.push_back(static_cast<int>(list.position()) - 1);
        }
        list.rewind();
        list.forward(page - 1);
        return places;
    }
    std::vector<std::uint32_t> history() const {
        return {state_.clickHistory(), state_.clickHistory() + state_.clickCount()};
    }
    void plain(int cell) { state_.clickCell(cell, true, false); }
    void ctrl(int cell) { state_.clickCell(cell, false, false); }
    void shift(int cell) { state_.clickCell(cell, true, true); }

    testing::FakeView view_;
    BrowserState state_{view_};
    platform::GlobalHandle picture_ = nullptr;
};

TEST(Layout, CellGeometryFollowsTheThumbnailOrigins) {
    const Point origins[9] = {{21, 35},   {141, 35}, {261, 35},  {21, 165}, {141, 165},
                              {261, 165}, {21, 295}, {141, 295}, {261, 295}};
    for (int cell = 1; cell <= 9; ++cell) {
        EXPECT_EQ(thumbOrigin(cell).x, origins[cell - 1].x);
        EXPECT_EQ(thumbOrigin(cell).y, origins[cell - 1].y);
    }
    EXPECT_EQ(thumbRect(1), (Rect{21, 35, 107, 97}));
    EXPECT_EQ(cellRect(1), (Rect{6, 23, 122, 109}));
    EXPECT_EQ(thumbLoadRect(9), (Rect{261, 295, 355, 365}));
    EXPECT_TRUE(thumbRect(5).contains({141, 165}));
    EXPECT_FALSE(thumbRect(5).contains({227, 165})); // right and bottom edges are outside
    EXPECT_FALSE(thumbRect(5).contains({141, 227}));
}

TEST_F(BrowserStateTest, PageButtonsAtNineAndTenPicturesAndAfterNext) {
    fill(9);
    state_.updatePageButtons();
    EXPECT_EQ(view_.take(), kHidden);
    state_.nextPage(); // nothing beyond the page
    EXPECT_EQ(view_.take(), Lines{});

    state_.pictures.add("S2000000", 1, 1, picture_);
    state_.pictures.rewind();
    state_.updatePageButtons();
    EXPECT_EQ(view_.take(), buttons(false, true));
    state_.nextPage();
    EXPECT_EQ(state_.pictures.position(), 4u);
    EXPECT_EQ(view_.take(), Lines{kRepaint} + buttons(true, false)); // 10 - 4 = 6
    state_.nextPage();
    EXPECT_EQ(view_.take(), Lines{});
    EXPECT_EQ(state_.pictures.position(), 4u);
}

TEST_F(BrowserStateTest, PagingCommands) {
    fill(20);
    state_.previousPage(); // at the first page: the area is still repainted
    EXPECT_EQ(view_.take(), Lines{kRepaint} + buttons(false, true));
    state_.firstPage(); // already there: nothing at all
    EXPECT_EQ(view_.take(), Lines{});

    state_.lastPage(); // 1, 4, 7, 10, 13: 20 - 13 = 7
    EXPECT_EQ(state_.pictures.position(), 13u);
    EXPECT_EQ(view_.take(), buttons(true, false) + Lines{kRepaint});
    state_.lastPage(); // no move: buttons, no repaint
    EXPECT_EQ(view_.take(), buttons(true, false));

    EXPECT_TRUE(state_.pagingCommand(kIdPrev));
    EXPECT_EQ(state_.pictures.position(), 10u);
    EXPECT_TRUE(state_.pagingCommand(kIdFirstPage));
    EXPECT_EQ(state_.pictures.position(), 1u);
    EXPECT_TRUE(state_.pagingCommand(kIdNext));
    EXPECT_TRUE(state_.pagingCommand(kIdLastPage));
    EXPECT_EQ(state_.pictures.position(), 13u);
    EXPECT_FALSE(state_.pagingCommand(kIdDelete));

    state_.pictures.findByName("missing"); // no cursor: the last page ends at once
    view_.take();
    state_.lastPage();
    EXPECT_EQ(view_.take(), buttons(false, true));
}

TEST_F(BrowserStateTest, EmptyCatalogueChangesNothing) {
    state_.updatePageButtons();
    state_.nextPage();
    state_.previousPage();
    state_.firstPage();
    state_.lastPage();
    EXPECT_EQ(view_.take(), kHidden + kHidden);
    for (int cell = 0; cell <= 10; ++cell) {
        plain(cell);
        shift(cell);
        ctrl(cell);
    }
    EXPECT_EQ(view_.take(), Lines{});
    EXPECT_EQ(state_.clickCount(), 0u);

    PageCell cells[9];
    EXPECT_EQ(state_.preparePage(cells), 0);
    for (const PageCell& c : cells) {
        EXPECT_TRUE(!c.hasPicture && !c.selected && c.thumbnail == nullptr && !c.label[0]);
    }
    EXPECT_EQ(state_.hitTest(thumbOrigin(1)), 0);
}

TEST_F(BrowserStateTest, ClickRedrawsOnlyTheFramesAndUpdatesAtOnce) {
    fill(4);
    plain(2);
    Lines expected;
    for (int cell = 1; cell <= 4; ++cell) { // the cells that may hold a picture
        expected.push_back("invalidateRect " + testing::FakeView::text(cellRect(cell)) + " erase");
        expected.push_back("validateRect " + testing::FakeView::text(thumbRect(cell)));
    }
    EXPECT_EQ(view_.take(), expected + Lines{"updateWindow"});
    plain(5); // no picture in cell 5
    EXPECT_EQ(view_.take(), Lines{});
    EXPECT_EQ(selected(), (std::vector<int>{1}));
}

TEST_F(BrowserStateTest, PlainClickLeavesTheClickedPictureTheOnlySelected) {
    fill(9);
    state_.pictures.selectAll();
    plain(3);
    EXPECT_EQ(selected(), (std::vector<int>{2}));
    plain(3); // the only selected one stays selected
    EXPECT_EQ(selected(), (std::vector<int>{2}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{2}));
}

TEST_F(BrowserStateTest, ShiftSelectsFromTheNearestEarlierClickOrTheFirstPicture) {
    fill(15);
    state_.nextPage(); // position 4: cell 2 is place 4
    shift(2);          // empty history: from the first picture
    EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{4}));

    state_.firstPage();
    plain(2);          // place 1
    ctrl(6);           // place 5
    ctrl(9);           // place 8
    state_.nextPage(); // position 4
    shift(5);          // place 7: anchor 5, not 8 (later) nor 1 (farther)
    EXPECT_EQ(selected(), (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{7}));
    state_.clickCell(1, false, true); // place 3, Ctrl held too: Shift decides; only 7 is known
    EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(BrowserStateTest, CtrlDeselectedPictureStillAnchorsALaterShift) {
    fill(9);
    plain(1);
    ctrl(4);
    ctrl(4); // deselects place 3, which becomes the newest history entry, once
    EXPECT_EQ(selected(), (std::vector<int>{0}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{0, 3}));
    ctrl(8);
    ctrl(1); // 0 leaves the front and comes back as the newest
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{3, 7, 0}));
    shift(6); // place 5: anchor 3
    EXPECT_EQ(selected(), (std::vector<int>{3, 4, 5}));
}

TEST_F(BrowserStateTest, ClickHistoryDropsTheOldestWhenFull) {
    fill(600);
    for (std::uint32_t place = 0; place < 505; ++place) { // each place in cell 1 in turn
        state_.pictures.rewind();
        state_.pictures.forward(place);
        ctrl(1);
    }
    ASSERT_EQ(state_.clickCount(), BrowserState::kClickHistorySize);
    EXPECT_EQ(state_.clickHistory()[0], 5u); // 0 to 4 were dropped
    EXPECT_EQ(state_.clickHistory()[499], 504u);
    EXPECT_EQ(state_.pictures.selectedCount(), 505u);

    state_.pictures.rewind();
    state_.pictures.forward(3);
    shift(1); // place 3: its own click was dropped, so from the first picture
    EXPECT_EQ(selected(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(BrowserStateTest, LargeCataloguePagesAndSelectsBeyond256) {
    fill(1000);
    for (int i = 0; i < 100; ++i) {
        state_.nextPage();
    }
    EXPECT_EQ(state_.pictures.position(), 301u);
    ctrl(1); // place 300
    state_.lastPage();
    EXPECT_EQ(state_.pictures.position(), 994u); // 1000 - 994 = 6
    EXPECT_FALSE(view_.isEnabled(kIdNext));
    EXPECT_TRUE(view_.isEnabled(kIdPrev));
    shift(6); // place 998
    EXPECT_EQ(state_.pictures.selectedCount(), 699u);

    PageCell cells[9];
    EXPECT_EQ(state_.preparePage(cells), 7); // places 993 to 999
    EXPECT_TRUE(cells[5].selected);
    EXPECT_FALSE(cells[6].selected);
    EXPECT_STREQ(cells[6].label, "S1000999");
    EXPECT_TRUE(state_.pictures.firstSelected());
    EXPECT_STREQ(state_.pictures.currentName(), "S1000300");
}

TEST_F(BrowserStateTest, PreparePageShowsTheCursorAndTheEightAfterIt) {
    fill(12);
    state_.pictures.add("C:\\PICTURES\\holiday-at-sea.jpg", 0, 0, picture_);
    state_.pictures.rewind();
    state_.pictures.forward(6); // places 6 to 12 on the page
    state_.pictures.toggleAt(1);
    PageCell cells[9];
    EXPECT_EQ(state_.preparePage(cells), 7);
    EXPECT_EQ(state_.pictures.position(), 7u); // the cursor did not move
    EXPECT_STREQ(cells[0].label, "S1000006");
    EXPECT_TRUE(cells[1].selected);
    EXPECT_FALSE(cells[2].selected);
    EXPECT_STREQ(cells[6].label, "holiday-a...");
    EXPECT_EQ(cells[6].thumbnail, state_.pictures.entryAfterCursor(6)->thumbnail);
    EXPECT_FALSE(cells[7].hasPicture);
    EXPECT_TRUE(state_.cellShown(7));
    EXPECT_FALSE(state_.cellShown(8));
}

TEST_F(BrowserStateTest, MouseClickCountsOnlyOnOneDrawnThumbnail) {
    fill(5);
    PageCell cells[9];
    const Point in2{thumbOrigin(2).x + 10, thumbOrigin(2).y + 10};
    const Point in3{thumbOrigin(3).x + 85, thumbOrigin(3).y + 61};
    const Point border{thumbRect(2).left - 5, thumbRect(2).top};
    auto click = [&](Point down, Point up, bool ctrlHeld = false) {
        state_.leftButtonDown(down, ctrlHeld, false);
        state_.leftButtonUp(up);
    };

    click(in2, in2); // nothing painted yet
    state_.preparePage(cells);
    click(in2, in3); // released elsewhere
    click(border, border);
    EXPECT_EQ(state_.pictures.selectedCount(), 0u);

    click(in2, in2);
    click(in3, in3, true); // Ctrl adds
    EXPECT_EQ(selected(), (std::vector<int>{1, 2}));
    state_.leftButtonUp(in3); // the release reset the press: a bare release does nothing
    state_.setMouseEnabled(false);
    click(in2, in2);
    EXPECT_EQ(selected(), (std::vector<int>{1, 2}));

    // cells emptied by a delete take no clicks once repainted
    state_.setMouseEnabled(true);
    state_.pictures.selectAll();
    state_.pictures.removeSelected();
    EXPECT_EQ(state_.preparePage(cells), 0);
    EXPECT_EQ(state_.hitTest(in2), 0);
}

TEST_F(BrowserStateTest, CommandControlsSwitchTogetherInOrder) {
    state_.setCommandControlsEnabled(false);
    EXPECT_EQ(view_.take(),
              (Lines{"enable 1004 0", "enable 1011 0", "enable 1006 0", "enable 1007 0",
                     "enable 1020 0", "enable 1021 0", "enable 1002 0", "enable 1001 0",
                     "enable 1014 0", "enable 1000 0"}));
    state_.setCommandControlsEnabled(true);
    EXPECT_TRUE(view_.isEnabled(kIdExit) && view_.isEnabled(kIdPictureArea));
}

TEST(ShortLabel, KeepsTheFileNameAndShortensLongOnes) {
    const std::pair<const char*, const char*> cases[] = {
        {"S0000123", "S0000123"},
        {"C:\\DCIM\\abcdefg.jpg", "abcdefg.jpg"},   // 11 characters: whole
        {"C:\\DCIM\\abcdefgh.jpg", "abcdefgh...."}, // 12: 9 and "..."
        {"C:\\DCIM\\", ""},
        {"a", ""},
        {"", ""},
        {"a\\bc", "a\\bc"}, // a backslash second is no separator
        {"ab\\c", "c"},
        {"a-very-long-name-without-folder.jpg", "a-very-lo..."},
    };
    char label[kLabelSize];
    for (auto [name, expected] : cases) {
        shortLabel(name, label);
        EXPECT_STREQ(label, expected) << name;
    }
    shortLabel(nullptr, label);
    EXPECT_STREQ(label, "");
}

} // namespace
} // namespace browser
