// The hand-off to the data source: what it is told, what it pulls, and when it is asked to
// close, against the simulated camera over both links.
#include "browser/handoff.h"
#include "browser/tests/command_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>

namespace browser {
namespace {

using ::testing::ElementsAre;

// The data source's side: every call recorded with the depth of pulls it came in, and a
// reaction to the pictures-ready message.
class FakeDataSource : public DataSource {
public:
    bool call(const char* path, std::uint16_t message, std::uintptr_t data) override {
        calls.push_back((message == MSG_PANEL_READY ? "ready " : "close ") + std::to_string(data) +
                        " depth " + std::to_string(depth) + " " + path);
        if (missing) {
            return false;
        }
        if (message == MSG_PANEL_READY && onReady) {
            onReady(static_cast<int>(data));
        }
        return true;
    }
    std::vector<std::string> calls;
    std::function<void(int)> onReady;
    int depth = 0; // inside how many nextHandOff calls
    bool missing = false;
};

// A pulled picture: the header the data source was given and the DIB's own.
struct Pulled {
    platform::BitmapInfoHeader info;
    platform::BitmapInfoHeader dib;
};

class HandOffTest : public testing::Commands {
protected:
    void startHandOff(int pictures, camlink::LinkKind kind) {
        start(pictures);
        load(kind);
        handOff = std::make_unique<HandOff>(state, view, *link, dataSource);
        ASSERT_TRUE(handOff->setDataSourcePath("C:\\TWAIN_32\\LV.ds"));
    }
    // The data source's pull of n pictures, in the order the contract fixes.
    void pullOnReady() {
        dataSource.onReady = [this](int n) {
            for (int i = 0; i < n; ++i) {
                const platform::BitmapInfoHeader* info = handOff->fetchImageInfo();
                ASSERT_NE(info, nullptr);
                Pulled p{*info, {}};
                ++dataSource.depth;
                platform::GlobalHandle dib = handOff->nextHandOff();
                --dataSource.depth;
                ASSERT_NE(dib, nullptr);
                std::memcpy(&p.dib, platform::globalLock(dib), sizeof p.dib);
                platform::globalUnlock(dib);
                platform::globalFree(dib);
                pulled.push_back(p);
                handOff->toNextSelectedImage();
            }
        };
    }
    std::size_t fullPictureSelects() const {
        return camera->transcript().countCommand(camlink::CMD_SELECT_FILE);
    }

    FakeDataSource dataSource;
    std::unique_ptr<HandOff> handOff;
    std::vector<Pulled> pulled;
};

TEST_F(HandOffTest, AcquirePullsEachPictureOnceAndClosesInsideTheLastPull) {
    for (camlink::LinkKind kind : {camlink::LinkUsb, camlink::LinkSerial}) {
        SCOPED_TRACE(kind);
        startHandOff(4, kind);
        select({1, 3});
        pulled.clear(), dataSource.calls.clear();
        pullOnReady();
        const std::size_t thumbSelects = fullPictureSelects();
        const std::size_t thumbReads = reads();
        std::size_t chunks = 0;
        for (std::uint32_t place : {1u, 3u}) {
            chunks += (state.pictures.entryAfterCursor(place)->pictureSize + 4095) / 4096;
        }
        handOff->acquireSelected();

        EXPECT_THAT(dataSource.calls, ElementsAre("ready 2 depth 0 C:\\TWAIN_32\\LV.ds",
                                                  "close 0 depth 1 C:\\TWAIN_32\\LV.ds"));
        ASSERT_EQ(pulled.size(), 2u);
        for (const Pulled& p : pulled) {
            // The header handed out describes the picture handed out.
            EXPECT_EQ(p.info.width, p.dib.width);
            EXPECT_EQ(p.info.height, p.dib.height);
            EXPECT_EQ(p.dib.bitCount, 24);
        }
        // One transfer a picture: its chunks once (USB), one file selection (serial).
        if (kind == camlink::LinkUsb) {
            EXPECT_EQ(reads() - thumbReads, chunks);
        } else {
            EXPECT_EQ(fullPictureSelects() - thumbSelects, 2u);
        }
        EXPECT_EQ(handOff->transferredCount(), 2);
        EXPECT_EQ(handOff->handedOutCount(), 0);
        EXPECT_FALSE(state.mouseEnabled());
        EXPECT_FALSE(view.isEnabled(kIdAcquire));
    }
}

TEST_F(HandOffTest, TheBatchCounterWrapsSoAFurtherPullGivesTheCursorPictureAgain) {
    startHandOff(3, camlink::LinkUsb);
    select({0});
    handOff->acquireSelected(); // nothing pulled while announced
    EXPECT_EQ(handOff->acquireCount(), 1u);
    EXPECT_NE(handOff->fetchImageInfo(), nullptr);
    for (int round = 0; round < 2; ++round) {
        platform::GlobalHandle dib = handOff->nextHandOff();
        ASSERT_NE(dib, nullptr) << round;
        platform::globalFree(dib);
        EXPECT_EQ(handOff->handedOutCount(), 0);
    }
}

TEST_F(HandOffTest, NothingIsHandedOutBeforeAnAcquireOrWithoutACursor) {
    startHandOff(2, camlink::LinkUsb);
    EXPECT_EQ(handOff->nextHandOff(), nullptr);
    state.pictures.clear();
    EXPECT_EQ(handOff->fetchImageInfo(), nullptr);
}

TEST_F(HandOffTest, MoreThanThirtyPicturesAreAskedAbout) {
    const struct {
        int selected;
        std::deque<int> answers;
        std::size_t questions;
        bool announced;
    } cases[] = {
        {30, {}, 0, true}, {31, {platform::kIdNo}, 1, false}, {31, {platform::kIdYes}, 1, true}};
    for (const auto& c : cases) {
        startHandOff(31, camlink::LinkUsb);
        dataSource.calls.clear();
        state.pictures.selectRange(0, static_cast<std::uint32_t>(c.selected - 1));
        view.answers = c.answers;
        handOff->acquireSelected();
        EXPECT_EQ(view.messages.size(), c.questions) << c.selected;
        if (c.questions > 0) {
            EXPECT_EQ(view.messages[0], kMsgManyPictures);
        }
        EXPECT_EQ(dataSource.calls.size(), c.announced ? 1u : 0u) << c.selected;
    }
}

TEST_F(HandOffTest, AMissingDataSourceIsReportedAndNothingElseChanges) {
    startHandOff(2, camlink::LinkUsb);
    dataSource.missing = true;
    handOff->requestClose();
    EXPECT_THAT(view.messages, ElementsAre(kMsgNoDataSource));
    state.pictures.clear();
    handOff->acquireSelected();
    EXPECT_THAT(view.messages, ElementsAre(kMsgNoDataSource, kMsgSelectOne));
}

TEST_F(HandOffTest, ToFirstImageReturnsToThePageShownAtTheAcquire) {
    startHandOff(16, camlink::LinkUsb);
    state.nextPage();
    state.nextPage();
    ASSERT_EQ(state.pictures.position(), 7u);
    select({10});
    handOff->acquireSelected();
    EXPECT_EQ(handOff->pageStartOnAcquire(), 6);
    EXPECT_EQ(state.pictures.position(), 11u);
    EXPECT_EQ(handOff->toFirstImage(), 1);
    EXPECT_EQ(state.pictures.position(), 7u);
}

TEST_F(HandOffTest, NamesThatDoNotFitAreRefusedNotCut) {
    startHandOff(1, camlink::LinkUsb);
    EXPECT_FALSE(handOff->setDataSourcePath(std::string(260, 'a').c_str()));
    EXPECT_TRUE(handOff->setDataSourcePath(std::string(259, 'b').c_str()));
    EXPECT_EQ(handOff->dataSourcePath(), std::string(259, 'b'));
    EXPECT_FALSE(handOff->setDataSourcePath(nullptr));
}

TEST_F(HandOffTest, AFolderPictureIsDecodedFromItsFileAndNeverClosesTheBrowser) {
    openSource();
    handOff = std::make_unique<HandOff>(state, view, *link, dataSource);
    select({0});
    pullOnReady();
    handOff->acquireSelected();
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_GT(pulled[0].dib.width, 0);
    EXPECT_EQ(pulled[0].dib.width, pulled[0].info.width);
    EXPECT_EQ(handOff->transferredCount(), 0);
    EXPECT_EQ(dataSource.calls.size(), 1u); // the ready message only
}

} // namespace
} // namespace browser
