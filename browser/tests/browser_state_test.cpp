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

class BrowserStateTest : public ::testing::Test {
protected:
    void SetUp() override { picture_ = testing::makePicture(64, 48); }
    void TearDown() override { platform::globalFree(picture_); }

    // A catalogue of n pictures on its first page, with the view's log emptied.
    void fill(int n) {
        for (int i = 0; i < n; ++i) {
            std::string name = "S" + std::to_string(1000000 + i);
            ASSERT_TRUE(state_.pictures.add(name.c_str(), 1, 0x7000, picture_));
        }
        state_.pictures.rewind();
        view_.take();
    }
    std::vector<int> selectedPlaces() {
        PictureList& list = state_.pictures;
        const std::uint32_t page = list.position();
        std::vector<int> places;
        if (list.firstSelected()) {
            do {
                places.push_back(static_cast<int>(list.position()) - 1);
            } while (list.nextSelected());
        }
        list.rewind();
        list.forward(page - 1);
        return places;
    }
    std::vector<std::uint32_t> history() const {
        return {state_.clickHistory(), state_.clickHistory() + state_.clickCount()};
    }
    // Puts place `place` into cell 1 (the page need not start on a row here).
    void showPlaceFirst(std::uint32_t place) {
        state_.pictures.rewind();
        ASSERT_TRUE(state_.pictures.forward(place));
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
    EXPECT_FALSE(thumbRect(5).contains({227, 165})); // right edge is outside
    EXPECT_FALSE(thumbRect(5).contains({141, 227}));
}

TEST_F(BrowserStateTest, PageButtonsAtNineAndTenPictures) {
    fill(9);
    state_.updatePageButtons();
    EXPECT_EQ(view_.take(), (Lines{"show 1020 0", "show 1021 0"}));
    state_.nextPage(); // nothing beyond the page
    EXPECT_TRUE(view_.take().empty());

    state_.pictures.add("S2000000", 1, 1, picture_);
    state_.pictures.rewind();
    state_.updatePageButtons();
    EXPECT_EQ(view_.take(),
              (Lines{"show 1020 1", "show 1021 1", "enable 1021 1", "enable 1020 0"}));

    state_.nextPage();
    EXPECT_EQ(state_.pictures.position(), 4u);
    EXPECT_EQ(view_.take(),
              (Lines{kRepaint, "show 1020 1", "show 1021 1", "enable 1021 0", "enable 1020 1"}));
    state_.nextPage(); // 10 - 4 = 6: the last picture is on the page
    EXPECT_TRUE(view_.take().empty());
    EXPECT_EQ(state_.pictures.position(), 4u);
}

TEST_F(BrowserStateTest, PrevRepaintsEvenAtTheFirstPage) {
    fill(12);
    state_.previousPage();
    EXPECT_EQ(state_.pictures.position(), 1u);
    EXPECT_EQ(view_.take(),
              (Lines{kRepaint, "show 1020 1", "show 1021 1", "enable 1021 1", "enable 1020 0"}));
    state_.nextPage();
    state_.previousPage();
    EXPECT_EQ(state_.pictures.position(), 1u);
    EXPECT_FALSE(view_.isEnabled(kIdPrev));
    EXPECT_TRUE(view_.isEnabled(kIdNext));
}

TEST_F(BrowserStateTest, FirstAndLastPage) {
    fill(20);
    state_.firstPage(); // already there: no repaint, buttons untouched
    EXPECT_TRUE(view_.take().empty());

    state_.lastPage(); // 1, 4, 7, 10, 13: 20 - 13 = 7
    EXPECT_EQ(state_.pictures.position(), 13u);
    EXPECT_EQ(view_.take(),
              (Lines{"show 1020 1", "show 1021 1", "enable 1021 0", "enable 1020 1", kRepaint}));
    state_.lastPage(); // no move: buttons, no repaint
    EXPECT_EQ(view_.take(),
              (Lines{"show 1020 1", "show 1021 1", "enable 1021 0", "enable 1020 1"}));

    EXPECT_TRUE(state_.pagingCommand(kIdFirstPage));
    EXPECT_EQ(state_.pictures.position(), 1u);
    EXPECT_EQ(view_.take().front(), kRepaint);
    EXPECT_TRUE(state_.pagingCommand(kIdLastPage));
    EXPECT_TRUE(state_.pagingCommand(kIdPrev));
    EXPECT_EQ(state_.pictures.position(), 10u);
    EXPECT_TRUE(state_.pagingCommand(kIdNext));
    EXPECT_EQ(state_.pictures.position(), 13u);
    EXPECT_FALSE(state_.pagingCommand(kIdDelete));
}

TEST_F(BrowserStateTest, LastPageWithoutACursorEnds) {
    fill(30);
    state_.pictures.findByName("missing"); // leaves no cursor
    state_.lastPage();
    EXPECT_EQ(view_.take(),
              (Lines{"show 1020 1", "show 1021 1", "enable 1021 1", "enable 1020 0"}));
}

TEST_F(BrowserStateTest, EmptyCatalogueChangesNothing) {
    state_.updatePageButtons();
    EXPECT_EQ(view_.take(), (Lines{"show 1020 0", "show 1021 0"}));
    state_.nextPage();
    state_.previousPage();
    state_.firstPage();
    EXPECT_TRUE(view_.take().empty());
    state_.lastPage();
    EXPECT_EQ(view_.take(), (Lines{"show 1020 0", "show 1021 0"}));
    for (int cell = 1; cell <= 9; ++cell) {
        plain(cell);
        shift(cell);
        ctrl(cell);
    }
    EXPECT_TRUE(view_.take().empty());
    EXPECT_EQ(state_.clickCount(), 0u);

    PageCell cells[9];
    EXPECT_EQ(state_.preparePage(cells), 0);
    for (const PageCell& c : cells) {
        EXPECT_FALSE(c.hasPicture);
        EXPECT_FALSE(c.selected);
        EXPECT_EQ(c.thumbnail, nullptr);
        EXPECT_STREQ(c.label, "");
    }
    EXPECT_EQ(state_.hitTest(thumbOrigin(1)), 0);
}

TEST_F(BrowserStateTest, ClickRedrawsTheFramesOnlyAndUpdatesAtOnce) {
    fill(4);
    plain(2);
    Lines expected;
    for (int cell = 1; cell <= 4; ++cell) { // min(count, 9)
        expected.push_back("invalidateRect " + testing::FakeView::text(cellRect(cell)) + " erase");
        expected.push_back("validateRect " + testing::FakeView::text(thumbRect(cell)));
    }
    expected.push_back("updateWindow");
    EXPECT_EQ(view_.take(), expected);

    plain(5); // no picture in cell 5
    EXPECT_TRUE(view_.take().empty());
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1}));
}

TEST_F(BrowserStateTest, PlainClickSelectsOnlyTheClickedPicture) {
    fill(9);
    state_.pictures.selectAll();
    plain(3);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{2}));
    plain(3); // the only selected one stays selected
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{2}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{2}));
}

TEST_F(BrowserStateTest, ShiftWithEmptyHistorySelectsFromTheFirstPicture) {
    fill(15);
    state_.nextPage(); // position 4: cell 2 is place 4
    shift(2);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{4}));
}

TEST_F(BrowserStateTest, ShiftAnchorsOnTheNearestEarlierClickedPlace) {
    fill(15);
    plain(2);          // place 1
    ctrl(6);           // place 5
    ctrl(9);           // place 8
    state_.nextPage(); // position 4
    shift(5);          // place 7: anchor 5, never 8 (later) or 1 (farther)
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{7}));
    shift(1); // place 3: the history holds only 7, so from the first picture
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(BrowserStateTest, ShiftDecidesEvenWithCtrlHeld) {
    fill(9);
    plain(3);
    state_.clickCell(6, false, true); // Ctrl and Shift
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{2, 3, 4, 5}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{5}));
}

TEST_F(BrowserStateTest, CtrlDeselectedPictureStillAnchorsALaterShift) {
    fill(9);
    plain(1);
    ctrl(4);
    ctrl(4); // deselects place 3, which becomes the newest history entry (once)
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{0}));
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{0, 3}));
    ctrl(8);
    ctrl(1); // removes 0 from the front, appends it again
    EXPECT_EQ(history(), (std::vector<std::uint32_t>{3, 7, 0}));
    shift(6); // place 5: anchor 3
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{3, 4, 5}));
}

TEST_F(BrowserStateTest, ClickHistoryDropsTheOldestWhenFull) {
    fill(600);
    for (std::uint32_t place = 0; place < 505; ++place) {
        showPlaceFirst(place);
        ctrl(1);
    }
    ASSERT_EQ(state_.clickCount(), BrowserState::kClickHistorySize);
    EXPECT_EQ(state_.clickHistory()[0], 5u); // 0 to 4 were dropped
    EXPECT_EQ(state_.clickHistory()[499], 504u);
    EXPECT_EQ(state_.pictures.selectedCount(), 505u);

    showPlaceFirst(3); // place 3: its anchor 3 was dropped, so from the first picture
    shift(1);
    EXPECT_EQ(state_.pictures.selectedCount(), 4u);
    EXPECT_EQ(state_.clickCount(), 1u);
}

TEST_F(BrowserStateTest, LargeCataloguePagesAndSelectsBeyond256) {
    fill(1000);
    for (int i = 0; i < 100; ++i) {
        state_.nextPage();
    }
    EXPECT_EQ(state_.pictures.position(), 301u);
    ctrl(1); // place 300
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{300}));

    state_.lastPage(); // the first of a row with the last picture on the page: 994
    EXPECT_EQ(state_.pictures.position(), 994u);
    EXPECT_FALSE(view_.isEnabled(kIdNext));
    EXPECT_TRUE(view_.isEnabled(kIdPrev));
    shift(6); // place 998
    EXPECT_EQ(state_.pictures.selectedCount(), 699u);
    EXPECT_TRUE(state_.pictures.firstSelected());
    EXPECT_EQ(state_.pictures.position(), 301u);
    EXPECT_STREQ(state_.pictures.currentName(), "S1000300");

    state_.pictures.rewind();
    state_.pictures.forward(993);
    PageCell cells[9];
    EXPECT_EQ(state_.preparePage(cells), 7); // places 993 to 999
    EXPECT_TRUE(cells[0].selected);
    EXPECT_TRUE(cells[5].selected);
    EXPECT_FALSE(cells[6].selected);
    EXPECT_STREQ(cells[6].label, "S1000999");
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
    EXPECT_NE(cells[6].thumbnail, nullptr);
    EXPECT_FALSE(cells[7].hasPicture);
    EXPECT_TRUE(state_.cellShown(7));
    EXPECT_FALSE(state_.cellShown(8));
}

TEST_F(BrowserStateTest, MouseClickCountsOnlyOnOneDrawnThumbnail) {
    fill(5);
    PageCell cells[9];
    const Point inCell2{thumbOrigin(2).x + 10, thumbOrigin(2).y + 10};
    const Point inCell3{thumbOrigin(3).x + 10, thumbOrigin(3).y + 10};

    state_.leftButtonDown(inCell2, false, false); // nothing painted yet
    state_.leftButtonUp(inCell2);
    EXPECT_EQ(state_.pictures.selectedCount(), 0u);

    state_.preparePage(cells);
    state_.leftButtonDown(inCell2, false, false);
    state_.leftButtonUp(inCell3); // released elsewhere
    EXPECT_EQ(state_.pictures.selectedCount(), 0u);

    const Point frameBorder{thumbRect(2).left - 5, thumbRect(2).top};
    EXPECT_EQ(state_.hitTest(frameBorder), 0);
    state_.leftButtonDown(frameBorder, false, false);
    state_.leftButtonUp(frameBorder);
    EXPECT_EQ(state_.pictures.selectedCount(), 0u);

    state_.leftButtonDown(inCell2, false, false);
    state_.leftButtonUp(inCell2);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1}));
    state_.leftButtonDown(inCell3, true, false); // Ctrl adds
    state_.leftButtonUp(inCell3);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2}));

    // the press state is reset by the release: a bare release does nothing
    state_.leftButtonUp(inCell3);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2}));

    state_.setMouseEnabled(false);
    state_.leftButtonDown(inCell2, false, false);
    state_.leftButtonUp(inCell2);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2}));

    // cells emptied by a delete no longer take clicks once repainted
    state_.setMouseEnabled(true);
    state_.pictures.selectAll();
    state_.pictures.removeSelected();
    EXPECT_EQ(state_.preparePage(cells), 0);
    EXPECT_EQ(state_.hitTest(inCell2), 0);
    state_.leftButtonDown(inCell2, false, false);
    state_.leftButtonUp(inCell2);
    EXPECT_EQ(state_.clickCount(), 2u); // as the two clicks before left it
}

TEST(ShortLabel, KeepsTheFileNameAndShortensLongOnes) {
    struct Case {
        const char* name;
        const char* label;
    };
    const Case cases[] = {
        {"S0000123", "S0000123"},
        {"C:\\DCIM\\abcdefg.jpg", "abcdefg.jpg"},   // 11 characters: whole
        {"C:\\DCIM\\abcdefgh.jpg", "abcdefgh...."}, // 12: 9 and "..."
        {"C:\\DCIM\\", ""},
        {"a", ""},
        {"", ""},
        {"a\\bc", "a\\bc"}, // a backslash second is not a separator
        {"ab\\c", "c"},
        {"\\\\server\\share\\x.jpg", "x.jpg"},
        {"a-very-long-name-without-folder.jpg", "a-very-lo..."},
    };
    for (const Case& c : cases) {
        char label[kLabelSize];
        shortLabel(c.name, label);
        EXPECT_STREQ(label, c.label) << c.name;
    }
    char label[kLabelSize] = "x";
    shortLabel(nullptr, label);
    EXPECT_STREQ(label, "");
}

} // namespace
} // namespace browser
