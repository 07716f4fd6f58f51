#include "browser/picture_list.h"
#include "browser/tests/dib_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace browser {
namespace {

// Lists of pictures named P0, P1, ... with pictureSize 1000 + i.
class PictureListTest : public ::testing::Test {
protected:
    void SetUp() override { picture_ = testing::makePicture(160, 120); }
    void TearDown() override { platform::globalFree(picture_); }

    void fill(int n, std::uint32_t thumbSize = 0x7000) {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(
                list_.add(("P" + std::to_string(i)).c_str(), 1000u + i, thumbSize, picture_));
        }
    }
    std::string current() const {
        return list_.currentName() != nullptr ? list_.currentName() : "(none)";
    }
    // The cursor on 1-based place p.
    void at(std::uint32_t p) {
        list_.rewind();
        ASSERT_TRUE(list_.forward(p - 1));
    }
    void select(std::initializer_list<std::uint32_t> places) {
        for (std::uint32_t p : places) {
            at(p + 1);
            list_.toggleAt(0);
        }
    }
    // 0-based places of the selected entries, in the order the selection is walked.
    std::vector<int> selectedPlaces() {
        std::vector<int> places;
        for (bool more = list_.firstSelected(); more; more = list_.nextSelected()) {
            places.push_back(static_cast<int>(list_.position()) - 1);
        }
        return places;
    }

    PictureList list_;
    platform::GlobalHandle picture_ = nullptr;
};

TEST_F(PictureListTest, AddAppendsWithItsOwnThumbnail) {
    fill(3);
    EXPECT_EQ(list_.count(), 3u);
    EXPECT_EQ(list_.position(), 3u);
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.currentSize(), 1002u);
    EXPECT_EQ(list_.currentThumbSize(), 0x7000u);
    EXPECT_EQ(list_.selectedAt(0), 0);
    platform::GlobalHandle thumb = list_.currentThumbnail();
    ASSERT_NE(thumb, nullptr);
    EXPECT_NE(thumb, picture_);
    EXPECT_EQ(testing::le32(testing::blockBytes(thumb), 4), 80u); // 160 x 120 halved
    EXPECT_EQ(platform::globalSize(picture_), 40u + 480u * 120u); // still the caller's
}

TEST_F(PictureListTest, NamesThatDoNotFitAreRefusedNotTruncated) {
    fill(1);
    EXPECT_FALSE(list_.add(std::string(260, 'n').c_str(), 1, 0, picture_));
    EXPECT_FALSE(list_.add(nullptr, 1, 0, picture_));
    EXPECT_EQ(list_.count(), 1u);
    EXPECT_EQ(current(), "P0");
    EXPECT_TRUE(list_.add(std::string(259, 'n').c_str(), 1, 0, picture_));
    EXPECT_EQ(current(), std::string(259, 'n'));
}

TEST_F(PictureListTest, APictureWithoutThumbnailIsStillAdded) {
    platform::GlobalHandle flat = testing::makePicture(640, 0);
    EXPECT_TRUE(list_.add("S0000001", 5, 6, flat));
    EXPECT_EQ(list_.currentThumbnail(), nullptr);
    EXPECT_TRUE(list_.add("S0000002", 5, 6, nullptr));
    EXPECT_EQ(list_.count(), 2u);
    platform::globalFree(flat);
}

#ifndef _WIN32
TEST_F(PictureListTest, MemoryIsReleasedAndFailedAllocationAddsNothing) {
    const long blocks = platform::memcheck::liveGlobalBlocks();
    const long heaps = platform::memcheck::liveHeaps();
    {
        PictureList list;
        EXPECT_EQ(platform::memcheck::liveHeaps(), heaps + 1);
        for (int i = 0; i < 5; ++i) {
            list.add("P", 0, 0, picture_);
        }
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 5);
        list.removeCurrent();
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 4);
        EXPECT_TRUE(list.clear());
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks);
        list.add("P", 0, 0, picture_); // left for the destructor
    }
    EXPECT_EQ(platform::memcheck::liveHeaps(), heaps);
    EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks);

    fill(2);
    list_.rewind();
    platform::memcheck::failAllocationsAfter(0);
    EXPECT_FALSE(list_.add("X", 1, 1, picture_));
    PictureList noHeap; // its heap could not be made: the first add makes it
    platform::memcheck::stopFailingAllocations();
    EXPECT_EQ(list_.count(), 2u);
    EXPECT_EQ(current(), "P0");
    EXPECT_TRUE(noHeap.add("P", 0, 0, nullptr));
}
#endif

TEST_F(PictureListTest, RemoveCurrentMovesOnOrBackAtTheTail) {
    EXPECT_FALSE(list_.removeCurrent());
    fill(4);
    at(2);
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.position(), 2u);
    at(3); // the tail, P3
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_EQ(list_.count(), 2u);
    at(1);
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_TRUE(list_.removeCurrent()); // the only entry
    EXPECT_EQ(list_.count(), 0u);
    EXPECT_EQ(list_.position(), 0u);
    EXPECT_EQ(list_.currentName(), nullptr);
    fill(1); // the emptied list takes entries again
    EXPECT_EQ(list_.position(), 1u);
}

TEST_F(PictureListTest, FindByNameIsExactAndAMissLeavesNoCursor) {
    EXPECT_FALSE(list_.findByName("P0")); // empty list
    fill(3);
    ASSERT_TRUE(list_.add("P1", 77, 0, picture_));
    EXPECT_TRUE(list_.findByName("P1"));
    EXPECT_EQ(list_.currentSize(), 1001u); // the first of two
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_FALSE(list_.findByName(nullptr));
    EXPECT_EQ(list_.position(), 2u); // unchanged

    EXPECT_FALSE(list_.findByName("p1")); // case matters
    EXPECT_EQ(list_.position(), 0u);
    EXPECT_EQ(list_.currentName(), nullptr);
    EXPECT_EQ(list_.currentSize() + list_.currentThumbSize(), 0u);
    EXPECT_EQ(list_.currentThumbnail(), nullptr);
    EXPECT_EQ(list_.currentInfo(), nullptr);
    EXPECT_FALSE(list_.forward(0));
    EXPECT_FALSE(list_.back(1));
    EXPECT_FALSE(list_.nextSelected());
    EXPECT_TRUE(list_.rewind());
    EXPECT_EQ(list_.position(), 1u);
}

TEST_F(PictureListTest, IsCameraPictureNamedLeavesTheCursor) {
    fill(2, 0x7000);
    ASSERT_TRUE(list_.add("C:\\PICS\\A.JPG", 0, 0, picture_));
    at(2);
    EXPECT_EQ(list_.isCameraPictureNamed("P0"), 0x7000u);
    EXPECT_EQ(list_.isCameraPictureNamed("C:\\PICS\\A.JPG"), 0u); // a folder picture
    EXPECT_EQ(list_.isCameraPictureNamed("nothing"), 0u);
    EXPECT_EQ(list_.isCameraPictureNamed(list_.currentName()), 0x7000u);
    EXPECT_EQ(current(), "P1");
    EXPECT_EQ(list_.position(), 2u);
}

TEST_F(PictureListTest, ImageInfoIsCopiedIntoTheCursorEntryOnly) {
    const platform::BitmapInfoHeader info{40, 1792, 1200, 1, 24, 0, 6451200, 2835, 2835, 0, 0};
    list_.setCurrentInfo(&info); // no cursor: nothing
    fill(2);
    list_.setCurrentInfo(&info);
    list_.setCurrentInfo(nullptr);
    ASSERT_NE(list_.currentInfo(), nullptr);
    EXPECT_EQ(0, std::memcmp(list_.currentInfo(), &info, 40));
    at(1);
    EXPECT_EQ(list_.currentInfo()->size, 0u);
}

TEST_F(PictureListTest, SelectionFlagsAndRanges) {
    EXPECT_EQ(list_.selectedAt(0), 0);
    list_.toggleAt(0); // empty: nothing
    fill(6);
    at(2);
    list_.toggleAt(0);
    list_.toggleAt(3);
    list_.toggleAt(5); // past the tail
    EXPECT_EQ(list_.selectedAt(3), 1);
    EXPECT_EQ(list_.selectedAt(5), 0);
    list_.toggleAt(0);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{4}));

    list_.selectRange(6, 9); // from at count: nothing
    list_.selectRange(3, 2); // backwards: nothing
    EXPECT_EQ(list_.selectedCount(), 1u);
    list_.selectRange(1, 2);
    list_.selectRange(5, 400); // stops at the tail
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2, 4, 5}));
    list_.selectAll();
    EXPECT_EQ(list_.selectedCount(), 6u);
    list_.clearSelection();
    EXPECT_EQ(list_.selectedCount(), 0u);
}

TEST_F(PictureListTest, ForwardNeedsEnoughEntriesBackStopsAtTheHead) {
    EXPECT_FALSE(list_.rewind()); // empty
    fill(6);
    EXPECT_TRUE(list_.rewind());
    EXPECT_FALSE(list_.rewind()); // already at the head
    EXPECT_TRUE(list_.forward(3));
    EXPECT_FALSE(list_.forward(3)); // only 2 follow: nothing moves
    EXPECT_EQ(current(), "P3");
    EXPECT_EQ(list_.position(), 4u);
    EXPECT_TRUE(list_.forward(2));
    EXPECT_EQ(current(), "P5");
    EXPECT_TRUE(list_.back(3));
    EXPECT_EQ(list_.position(), 3u);
    EXPECT_TRUE(list_.back(100));
    EXPECT_TRUE(list_.back(3)); // at the head it still succeeds
    EXPECT_EQ(list_.position(), 1u);
    EXPECT_EQ(current(), "P0");
}

TEST_F(PictureListTest, SelectionIsWalkedInListOrder) {
    EXPECT_FALSE(list_.firstSelected());
    fill(7);
    at(3);
    EXPECT_FALSE(list_.firstSelected()); // none selected: cursor stays
    EXPECT_EQ(list_.position(), 3u);
    select({5, 1, 3});
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 3, 5}));
    EXPECT_EQ(current(), "P5"); // the last one stays the cursor
    EXPECT_EQ(list_.position(), 6u);
}

TEST_F(PictureListTest, RemoveSelectedKeepsTheCursorOnASurvivor) {
    fill(8);
    EXPECT_FALSE(list_.removeSelected()); // nothing selected
    select({0, 2, 3, 6});
    at(3); // P2, removed, and so is P3 after it: the cursor follows to P4
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 4u); // P1 P4 P5 P7
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_EQ(list_.selectedCount(), 0u);

    select({2, 3}); // P5 and the tail P7, the cursor: back to the survivor before
    at(4);
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 2u);

    select({0});
    at(2); // a cursor not removed stays, at its new place
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 1u);

    list_.selectAll();
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 0u);
    EXPECT_EQ(list_.position(), 0u);
    EXPECT_EQ(list_.currentName(), nullptr);
}

TEST_F(PictureListTest, PlacesAndCountsBeyond256) {
    fill(1000);
    at(301);
    list_.toggleAt(256); // P556, not P300
    EXPECT_EQ(list_.selectedAt(0), 0);
    EXPECT_EQ(list_.selectedAt(256), 1);
    EXPECT_FALSE(list_.forward(700)); // 699 follow
    EXPECT_TRUE(list_.forward(699));
    EXPECT_EQ(list_.position(), 1000u);
    EXPECT_TRUE(list_.back(600));
    EXPECT_EQ(current(), "P399");
    list_.selectRange(700, 705);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{556, 700, 701, 702, 703, 704, 705}));
    EXPECT_TRUE(list_.findByName("P999"));
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 993u);
    EXPECT_EQ(list_.position(), 993u);
}

} // namespace
} // namespace browser
