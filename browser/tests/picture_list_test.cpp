#include "browser/picture_list.h"
#include "browser/tests/dib_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace browser {
namespace {

// A list of pictures named P0, P1, ... with distinct sizes, thumbnails made from one picture.
class PictureListTest : public ::testing::Test {
protected:
    void SetUp() override { picture_ = testing::makePicture(160, 120); }
    void TearDown() override { platform::globalFree(picture_); }

    void fill(int n, std::uint32_t thumbSize = 0x7000) {
        for (int i = 0; i < n; ++i) {
            std::string name = "P" + std::to_string(i);
            ASSERT_TRUE(list_.add(name.c_str(), 1000u + i, thumbSize, picture_));
        }
    }
    std::string current() const {
        return list_.currentName() != nullptr ? list_.currentName() : "(none)";
    }
    // Places (0-based) of the selected entries, walking with a saved and restored cursor.
    std::vector<int> selectedPlaces() {
        std::vector<int> places;
        if (list_.firstSelected()) {
            do {
                places.push_back(static_cast<int>(list_.position()) - 1);
            } while (list_.nextSelected());
        }
        return places;
    }
    void select(std::initializer_list<std::uint32_t> places) {
        list_.rewind();
        for (std::uint32_t p : places) {
            list_.toggleAt(p);
        }
    }

    PictureList list_;
    platform::GlobalHandle picture_ = nullptr;
};

TEST_F(PictureListTest, AddAppendsAndPutsTheCursorOnTheNewEntry) {
    EXPECT_EQ(list_.count(), 0u);
    EXPECT_EQ(list_.position(), 0u);
    fill(3);
    EXPECT_EQ(list_.count(), 3u);
    EXPECT_EQ(list_.position(), 3u);
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.currentSize(), 1002u);
    EXPECT_EQ(list_.currentThumbSize(), 0x7000u);
    EXPECT_EQ(list_.selectedAt(0), 0);

    // the thumbnail is the entry's own, made from the caller's picture, which is untouched
    platform::GlobalHandle thumb = list_.currentThumbnail();
    ASSERT_NE(thumb, nullptr);
    ASSERT_NE(thumb, picture_);
    const auto bytes = testing::blockBytes(thumb);
    EXPECT_EQ(bytes[4], 80); // 160 x 120 halved
    EXPECT_EQ(bytes[8], 60);
    EXPECT_EQ(platform::globalSize(picture_), 40u + 480u * 120u);
}

TEST_F(PictureListTest, NamesThatDoNotFitAreRefusedNotTruncated) {
    const std::string longest(259, 'n');
    const std::string tooLong(260, 'n');
    fill(1);
    EXPECT_FALSE(list_.add(tooLong.c_str(), 1, 0, picture_));
    EXPECT_FALSE(list_.add(nullptr, 1, 0, picture_));
    EXPECT_EQ(list_.count(), 1u);
    EXPECT_EQ(current(), "P0"); // nothing changed

    EXPECT_TRUE(list_.add(longest.c_str(), 1, 0, picture_));
    EXPECT_EQ(current(), longest);
    EXPECT_FALSE(list_.findByName(tooLong.c_str()));
}

TEST_F(PictureListTest, APictureWithoutThumbnailIsStillAdded) {
    platform::GlobalHandle flat = testing::makePicture(640, 0);
    EXPECT_TRUE(list_.add("S0000001", 5, 6, flat));
    EXPECT_EQ(list_.count(), 1u);
    EXPECT_EQ(list_.currentThumbnail(), nullptr);
    EXPECT_TRUE(list_.add("S0000002", 5, 6, nullptr));
    EXPECT_EQ(list_.currentThumbnail(), nullptr);
    platform::globalFree(flat);
}

#ifndef _WIN32
TEST_F(PictureListTest, FailedEntryAllocationAddsNothing) {
    fill(2);
    list_.rewind();
    platform::memcheck::failAllocationsAfter(0);
    EXPECT_FALSE(list_.add("X", 1, 1, picture_));
    platform::memcheck::stopFailingAllocations();
    EXPECT_EQ(list_.count(), 2u);
    EXPECT_EQ(list_.position(), 1u);
    EXPECT_EQ(current(), "P0");
}

TEST(PictureListMemory, EntriesThumbnailsAndHeapAreReleased) {
    const long blocks = platform::memcheck::liveGlobalBlocks();
    const long heaps = platform::memcheck::liveHeaps();
    platform::GlobalHandle picture = testing::makePicture(64, 48);
    {
        PictureList list;
        EXPECT_EQ(platform::memcheck::liveHeaps(), heaps + 1);
        for (int i = 0; i < 5; ++i) {
            list.add("P", 0, 0, picture);
        }
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 6);
        list.removeCurrent();
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 5);
        EXPECT_TRUE(list.clear());
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 1);
        list.add("P", 0, 0, picture);
    }
    EXPECT_EQ(platform::memcheck::liveHeaps(), heaps);
    EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 1);
    platform::globalFree(picture);
}

TEST(PictureListMemory, AListWhoseHeapFailedRetriesOnAdd) {
    platform::memcheck::failAllocationsAfter(0);
    PictureList list;
    platform::memcheck::stopFailingAllocations();
    EXPECT_TRUE(list.add("P", 0, 0, nullptr));
    EXPECT_EQ(list.count(), 1u);
}
#endif

TEST_F(PictureListTest, RemoveCurrentMovesOnOrBackAtTheTail) {
    EXPECT_FALSE(list_.removeCurrent());
    fill(4);
    list_.rewind();
    list_.forward(1); // P1 at 2
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_EQ(list_.count(), 3u);

    list_.forward(1); // the tail, P3 at 3
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_EQ(current(), "P2");
    EXPECT_EQ(list_.position(), 2u);

    list_.rewind();
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_TRUE(list_.removeCurrent());
    EXPECT_EQ(list_.count(), 0u);
    EXPECT_EQ(list_.position(), 0u);
    EXPECT_EQ(list_.currentName(), nullptr);
    EXPECT_FALSE(list_.removeCurrent());

    fill(2); // the emptied list takes entries again
    EXPECT_TRUE(list_.rewind());
    EXPECT_EQ(current(), "P0");
}

TEST_F(PictureListTest, FindByNameIsExactAndMissLeavesNoCursor) {
    EXPECT_FALSE(list_.findByName("P0")); // empty list
    fill(3);
    ASSERT_TRUE(list_.add("P1", 77, 0, picture_)); // a second P1 after P2
    EXPECT_TRUE(list_.findByName("P1"));
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_EQ(list_.currentSize(), 1001u); // the first one
    EXPECT_FALSE(list_.findByName(nullptr));
    EXPECT_EQ(list_.position(), 2u); // unchanged

    EXPECT_FALSE(list_.findByName("p1")); // case matters
    EXPECT_EQ(list_.currentName(), nullptr);
    EXPECT_EQ(list_.position(), 0u);
    EXPECT_EQ(list_.currentSize(), 0u);
    EXPECT_EQ(list_.currentThumbSize(), 0u);
    EXPECT_EQ(list_.currentThumbnail(), nullptr);
    EXPECT_EQ(list_.currentInfo(), nullptr);
    EXPECT_FALSE(list_.forward(0));
    EXPECT_FALSE(list_.back(1));
    EXPECT_FALSE(list_.nextSelected());
    EXPECT_TRUE(list_.rewind()); // a cursor again
    EXPECT_EQ(list_.position(), 1u);
}

TEST_F(PictureListTest, IsCameraPictureNamedLeavesTheCursor) {
    fill(2, 0x7000);
    ASSERT_TRUE(list_.add("C:\\PICS\\A.JPG", 0, 0, picture_));
    list_.rewind();
    list_.forward(1);
    EXPECT_EQ(list_.isCameraPictureNamed("P0"), 0x7000u);
    EXPECT_EQ(list_.isCameraPictureNamed("C:\\PICS\\A.JPG"), 0u); // a folder picture
    EXPECT_EQ(list_.isCameraPictureNamed("nothing"), 0u);
    EXPECT_EQ(list_.isCameraPictureNamed(list_.currentName()), 0x7000u);
    EXPECT_EQ(current(), "P1");
    EXPECT_EQ(list_.position(), 2u);
}

TEST_F(PictureListTest, ImageInfoIsCopiedIntoTheCursorEntry) {
    platform::BitmapInfoHeader info{40, 1792, 1200, 1, 24, 0, 6451200, 2835, 2835, 0, 0};
    list_.setCurrentInfo(&info); // no cursor: nothing
    fill(2);
    list_.setCurrentInfo(&info);
    list_.setCurrentInfo(nullptr);
    ASSERT_NE(list_.currentInfo(), nullptr);
    EXPECT_EQ(0, std::memcmp(list_.currentInfo(), &info, 40));
    list_.rewind();
    EXPECT_EQ(list_.currentInfo()->size, 0u); // the other entry is untouched
}

TEST_F(PictureListTest, SelectionFlagsRelativeToTheCursor) {
    EXPECT_EQ(list_.selectedAt(0), 0);
    list_.toggleAt(0); // empty: nothing
    fill(5);
    list_.rewind();
    list_.forward(1);
    list_.toggleAt(0);
    list_.toggleAt(3);
    list_.toggleAt(4); // past the tail
    EXPECT_EQ(list_.selectedAt(0), 1);
    EXPECT_EQ(list_.selectedAt(1), 0);
    EXPECT_EQ(list_.selectedAt(3), 1);
    EXPECT_EQ(list_.selectedAt(4), 0);
    EXPECT_EQ(list_.selectedCount(), 2u);
    list_.toggleAt(0);
    EXPECT_EQ(list_.selectedAt(0), 0);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{4}));
}

TEST_F(PictureListTest, SelectRangeFromTheHeadStopsAtTheTail) {
    fill(6);
    list_.selectRange(6, 9); // from at count: nothing
    EXPECT_EQ(list_.selectedCount(), 0u);
    list_.selectRange(4, 0); // backwards: nothing
    EXPECT_EQ(list_.selectedCount(), 0u);
    list_.selectRange(1, 2);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2}));
    list_.selectRange(4, 400);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{1, 2, 4, 5}));
    list_.selectAll();
    EXPECT_EQ(list_.selectedCount(), 6u);
    list_.clearSelection();
    EXPECT_EQ(list_.selectedCount(), 0u);
}

TEST_F(PictureListTest, ForwardNeedsEnoughEntriesBackStopsAtTheHead) {
    EXPECT_FALSE(list_.forward(1));
    EXPECT_FALSE(list_.back(1));
    fill(6);
    list_.rewind();
    EXPECT_TRUE(list_.forward(3));
    EXPECT_EQ(list_.position(), 4u);
    EXPECT_FALSE(list_.forward(3)); // only 2 follow
    EXPECT_EQ(current(), "P3");
    EXPECT_EQ(list_.position(), 4u);
    EXPECT_TRUE(list_.forward(2));
    EXPECT_EQ(current(), "P5");
    EXPECT_TRUE(list_.forward(0));

    EXPECT_TRUE(list_.back(3));
    EXPECT_EQ(list_.position(), 3u);
    EXPECT_TRUE(list_.back(100));
    EXPECT_EQ(list_.position(), 1u);
    EXPECT_EQ(current(), "P0");
    EXPECT_TRUE(list_.back(3)); // at the head it still succeeds
    EXPECT_EQ(list_.position(), 1u);
}

TEST_F(PictureListTest, RewindReportsWhetherTheCursorMoved) {
    EXPECT_FALSE(list_.rewind());
    fill(3);
    EXPECT_TRUE(list_.rewind());
    EXPECT_EQ(list_.position(), 1u);
    EXPECT_FALSE(list_.rewind());
    EXPECT_EQ(list_.position(), 1u);
}

TEST_F(PictureListTest, SelectedEntriesAreVisitedInListOrder) {
    EXPECT_FALSE(list_.firstSelected());
    fill(7);
    list_.rewind();
    list_.forward(2);
    EXPECT_FALSE(list_.firstSelected()); // none selected: cursor stays
    EXPECT_EQ(list_.position(), 3u);
    select({5, 1, 3});
    list_.forward(4);
    EXPECT_TRUE(list_.firstSelected());
    EXPECT_EQ(current(), "P1");
    EXPECT_EQ(list_.position(), 2u);
    EXPECT_TRUE(list_.nextSelected());
    EXPECT_EQ(list_.position(), 4u);
    EXPECT_TRUE(list_.nextSelected());
    EXPECT_EQ(current(), "P5");
    EXPECT_EQ(list_.position(), 6u);
    EXPECT_FALSE(list_.nextSelected());
    EXPECT_EQ(current(), "P5");
    EXPECT_EQ(list_.position(), 6u);
}

TEST_F(PictureListTest, RemoveSelectedKeepsTheCursorOnASurvivor) {
    fill(8);
    EXPECT_FALSE(list_.removeSelected()); // nothing selected
    EXPECT_EQ(list_.count(), 8u);

    select({0, 2, 3, 6});
    list_.rewind();
    list_.forward(2); // cursor on P2, removed; so is P3 after it: it follows to P4
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 4u);
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 2u); // P1 P4 P5 P7
    EXPECT_EQ(list_.selectedCount(), 0u);
    EXPECT_TRUE(list_.rewind());
    EXPECT_EQ(current(), "P1");

    // the cursor on the tail, removed with the entry before it: back to the survivor before
    select({2, 3}); // P5, P7
    list_.rewind();
    list_.forward(3);
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 2u);

    // a cursor not removed stays, at its new place
    select({0});
    list_.rewind();
    list_.forward(1);
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(current(), "P4");
    EXPECT_EQ(list_.position(), 1u);

    list_.selectAll();
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 0u);
    EXPECT_EQ(list_.currentName(), nullptr);
    EXPECT_EQ(list_.position(), 0u);
}

TEST_F(PictureListTest, PlacesAndCountsBeyond256) {
    fill(1000);
    list_.rewind();
    ASSERT_TRUE(list_.forward(300));
    EXPECT_EQ(list_.position(), 301u);
    EXPECT_EQ(current(), "P300");
    list_.toggleAt(256); // P556, not P300
    EXPECT_EQ(list_.selectedAt(0), 0);
    EXPECT_EQ(list_.selectedAt(256), 1);
    EXPECT_FALSE(list_.forward(700)); // 699 follow
    EXPECT_TRUE(list_.forward(699));
    EXPECT_EQ(list_.position(), 1000u);
    EXPECT_TRUE(list_.back(600));
    EXPECT_EQ(current(), "P399");

    list_.selectRange(700, 705);
    EXPECT_EQ(list_.selectedCount(), 7u);
    EXPECT_EQ(selectedPlaces(), (std::vector<int>{556, 700, 701, 702, 703, 704, 705}));
    EXPECT_TRUE(list_.findByName("P999"));
    EXPECT_EQ(list_.position(), 1000u);
    EXPECT_TRUE(list_.removeSelected());
    EXPECT_EQ(list_.count(), 993u);
    EXPECT_EQ(list_.position(), 993u);
}

} // namespace
} // namespace browser
