// The command flows against the simulated camera on virtual time, a recording view and real
// files in scratch folders.
#include "browser/tests/command_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

namespace browser {
namespace {

using testing::Commands;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Names;

const BrowserOptions kPixdesk{false, false, false};

TEST_F(Commands, StartUpLoadsEveryThumbnailOverEitherLink) {
    for (camlink::LinkKind kind : {camlink::LinkUsb, camlink::LinkSerial}) {
        start(5);
        if (kind == camlink::LinkSerial) {
            sti->devices.clear();
        }
        const std::uint64_t slept = clock.sleptMs();
        const std::size_t made = view.progresses.size();
        commands->connectAndLoad();
        EXPECT_EQ(link->linkKind, kind);
        ASSERT_EQ(view.progresses.size(), made + 1);
        EXPECT_THAT(names(),
                    ElementsAre("S0000001", "S0000002", "S0000003", "S0000004", "S0000005"));
        EXPECT_EQ(view.progresses.back()->lastText, "5 of 5");
        EXPECT_EQ(view.progresses.back()->steps, 5);
        EXPECT_THAT(view.log, Contains("progress.range 1 5"));
        EXPECT_THAT(view.messages, IsEmpty());
        EXPECT_FALSE(view.isShown(kIdPrev) || view.isShown(kIdNext));
        EXPECT_EQ(view.liveProgress, 0);
        EXPECT_EQ(view.waitDepth, 0);
        EXPECT_EQ(view.log.front(), "beginWaitCursor");
        // One pause after the one USB attempt; none on the serial link.
        EXPECT_EQ(clock.sleptMs() - slept, kind == camlink::LinkUsb ? 300u : 0u);
    }
}

TEST_F(Commands, NoCameraAnywhereShowsTheLongMessage) {
    start(1);
    sti->devices.clear();
    camera->faults().unplugged = true; // the line is silent
    commands->connectAndLoad();
    EXPECT_THAT(view.messages, ElementsAre(camlink::kMsgNoCameraAtStart));
    EXPECT_EQ(link->linkKind, camlink::LinkNone);
}

TEST_F(Commands, NineFailedUsbAttemptsPauseThreeSixSecondsThenTheFourLines) {
    start(0);
    commands->connectAndLoad();
    EXPECT_EQ(clock.sleptMs(), 3600u);
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_CATALOGUE_SIZE).size(), 9u);
    EXPECT_THAT(view.messages, ElementsAre("1.Please restart your computer.\n2.Not find image "
                                           "from your digital camera.\n3.Makesure your CF card "
                                           "have picture.\n4.Reset and plug it again."));
}

TEST_F(Commands, AnAnswerOnTheFifthAttemptCostsSixPauses) {
    sim::Faults faults;
    faults.emptyCatalogues = 4;
    start(2, {}, faults);
    commands->connectAndLoad();
    EXPECT_EQ(clock.sleptMs(), 1800u);
    EXPECT_EQ(state.pictures.count(), 2u);
    EXPECT_THAT(view.messages, IsEmpty());
}

TEST_F(Commands, ThumbnailsThatDoNotDecodeAreLeftOutWithOneMessage) {
    start(3);
    for (const char* name : {"/T0000001.JPG", "/T0000003.JPG"}) {
        std::ofstream(cardDir.path() + name, std::ios::binary) << std::string(0x7000, '\0');
    }
    load();
    commands->reloadFromCamera();
    EXPECT_THAT(view.messages, ElementsAre(kMsgSomeCorrupted));
    EXPECT_THAT(names(), ElementsAre("S0000002"));
}

TEST_F(Commands, AFailedReloadClearsThePage) {
    start(12);
    load();
    EXPECT_TRUE(view.isShown(kIdNext));
    camera->faults().unplugged = true;
    commands->reloadFromCamera();
    EXPECT_EQ(state.pictures.count(), 0u);
    EXPECT_FALSE(view.isShown(kIdPrev) || view.isShown(kIdNext));
    EXPECT_THAT(view.log, Contains("invalidateControl 1004 erase"));
}

TEST_F(Commands, NoProgressDialogChangesNothingElse) {
    start(2);
    view.failProgress = true;
    load();
    EXPECT_EQ(state.pictures.count(), 2u);
    select({0});
    saveTo(out);
    EXPECT_TRUE(simtest::fileExists(out + "S0000001.jpg"));
}

TEST_F(Commands, SaveWritesTheSelectedPicturesOverEitherLink) {
    for (camlink::LinkKind kind : {camlink::LinkUsb, camlink::LinkSerial}) {
        start(3);
        load(kind);
        select({0, 2});
        const std::string folder = out + (kind == camlink::LinkUsb ? "usb" : "serial");
        std::filesystem::create_directory(folder);
        saveTo(folder); // no separator at its end
        EXPECT_EQ(commands->folder(), folder + "\\");
        // The folder open searches where the save wrote.
        EXPECT_THAT(files.real.findFiles((commands->folder() + "*.jpg").c_str()),
                    ElementsAre("S0000001.jpg", "S0000003.jpg"));
        EXPECT_EQ(slurp(folder + "/S0000001.jpg"), slurp(cardFile("S0000001.JPG")));
        EXPECT_EQ(slurp(folder + "/S0000003.jpg"), slurp(cardFile("S0000003.JPG")));
        EXPECT_THAT(view.messages, IsEmpty());
        EXPECT_EQ(state.pictures.selectedCount(), 0u);
        EXPECT_THAT(view.log, Contains("enable 1000 0"));
        EXPECT_EQ(view.log[view.log.size() - 5], "enable 1000 1");
        EXPECT_TRUE(state.mouseEnabled());
    }
}

TEST_F(Commands, SaveToADriveRootAddsNoBackslash) {
    start(1);
    load();
    select({0});
    files.dryRun = true;
    saveTo("C:\\");
    EXPECT_THAT(files.calls, ElementsAre("exists C:\\S0000001.jpg", "exists C:\\~lvsave1.tmp",
                                         "write C:\\~lvsave1.tmp", "move C:\\S0000001.jpg"));
    EXPECT_EQ(commands->folder(), "C:\\");
}

TEST_F(Commands, OverwriteIsAskedBeforeTheTransfer) {
    for (int answer : {platform::kIdNo, platform::kIdYes}) {
        start(2);
        load();
        std::ofstream(out + "S0000001.jpg") << "old";
        select({0, 1});
        view.answers = {answer};
        const std::size_t before = reads();
        saveTo(out);
        EXPECT_THAT(view.messages, ElementsAre("The " + out +
                                               "S0000001.jpg has already exist.\n"
                                               "Do you want to overwrite this file ?"));
        EXPECT_EQ(reads() - before, answer == platform::kIdYes ? 2u : 1u);
        EXPECT_EQ(slurp(out + "S0000001.jpg"),
                  answer == platform::kIdYes ? slurp(cardFile("S0000001.JPG")) : "old");
        EXPECT_TRUE(simtest::fileExists(out + "S0000002.jpg"));
        view.messages.clear();
        std::remove((out + "S0000002.jpg").c_str());
    }
}

TEST_F(Commands, PicturesThatCannotBeWrittenOrFetchedAreNamedAndNothingPartialStays) {
    struct Case {
        bool failWrite, failMove, lose;
    };
    for (const Case c :
         {Case{true, false, false}, Case{false, true, false}, Case{false, false, true}}) {
        start(2);
        load();
        std::ofstream(out + "S0000002.jpg") << "old";
        if (c.lose) {
            card->removePicture("S0000002");
        }
        select({0, 1});
        view.answers = {platform::kIdYes};
        files.failWrite = c.failWrite, files.failMove = c.failMove;
        saveTo(out);
        EXPECT_EQ(view.messages.back(), c.lose ? "These pictures were not saved:\nS0000002.jpg"
                                               : "These pictures were not saved:\nS0000001.jpg\n"
                                                 "S0000002.jpg");
        EXPECT_EQ(slurp(out + "S0000002.jpg"), "old");
        EXPECT_EQ(simtest::fileExists(out + "S0000001.jpg"), c.lose);
        EXPECT_THAT(files.real.findFiles((out + "*.tmp").c_str()), IsEmpty());
        std::remove((out + "S0000001.jpg").c_str());
    }
}

TEST(SaveFileName, IsAPlainNameInsideTheFolder) {
    struct Case {
        const char* name;
        bool fromFolder;
        const char* file;
    } const cases[] = {
        {"S0000001", false, "S0000001.jpg"},      {"S..\\..\\x", false, "S.._.._x.jpg"},
        {"S/a:*?\"<>|", false, "S_a_______.jpg"}, {"S\x01\x7F\xE9 ~", false, "S___ ~.jpg"},
        {"C:\\pics\\a.JPG", true, "a.JPG"},       {"/tmp/p/x:y.jpg", true, "x_y.jpg"},
        {"C:\\pics\\noext", true, "noext.jpg"},   {"", false, "_.jpg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(saveFileName(c.name, c.fromFolder), c.file) << c.name;
    }
}

TEST_F(Commands, FolderOpenLoadsTheFilesThatDecodeAndNamesTheOthers) {
    openSource();
    EXPECT_THAT(names(), ElementsAre(src + "S0000001.jpg", src + "a:b|c.jpg", src + "d.JPG"));
    EXPECT_THAT(view.messages, ElementsAre(kMsgFolderFileBad));
    EXPECT_THAT(view.log, Contains("progress.range 0 4"));
    ASSERT_FALSE(view.progresses.empty());
    EXPECT_EQ(view.progresses.back()->lastText, "4 of 4");
    EXPECT_THAT(view.log,
                Contains("invalidateRect " + testing::FakeView::text(thumbLoadRect(3)) + " erase"));
    EXPECT_EQ(view.log.front(), "createProgress");
    EXPECT_EQ(view.log[1], "enable 1005 0");
    EXPECT_EQ(view.log[view.log.size() - 2], "enable 1005 1");
}

TEST_F(Commands, FolderPicturesAreCopiedFromTheirFilesUnderSafeNames) {
    openSource();
    view.messages.clear();
    commands->selectAllPictures();
    saveTo(out);
    EXPECT_THAT(files.real.findFiles((out + "*").c_str()),
                ElementsAre("S0000001.jpg", "a_b_c.jpg", "d.JPG"));
    EXPECT_EQ(slurp(out + "a_b_c.jpg"), slurp(src + "a:b|c.jpg"));
    EXPECT_THAT(view.messages, IsEmpty());
}

TEST_F(Commands, DeleteRemovesTheSelectedPicturesOverEitherLink) {
    for (camlink::LinkKind kind : {camlink::LinkUsb, camlink::LinkSerial}) {
        start(4);
        load(kind);
        select({1, 3});
        commands->deleteSelected(); // answered No
        EXPECT_EQ(state.pictures.count(), 4u);
        view.answers = {platform::kIdYes};
        commands->deleteSelected();
        EXPECT_THAT(view.messages, ElementsAre("Do you want to delete 2 image(s)?",
                                               "Do you want to delete 2 image(s)?"));
        EXPECT_THAT(names(), ElementsAre("S0000001", "S0000003"));
        EXPECT_EQ(card->pictures().size(), 2u);
        EXPECT_FALSE(simtest::fileExists(cardFile("T0000004.JPG")));
    }
}

TEST_F(Commands, PicturesThatCouldNotBeDeletedStaySelected) {
    start(5);
    load();
    select({0, 1, 2, 3});
    card->removePicture("S0000002"), card->removePicture("S0000004");
    view.answers = {platform::kIdYes};
    commands->deleteSelected();
    EXPECT_THAT(names(), ElementsAre("S0000002*", "S0000004*", "S0000005"));
    EXPECT_EQ(view.messages.back(), "2 image(s) could not be deleted.");
}

TEST_F(Commands, FolderPicturesAreDeletedFromTheDiskOrStay) {
    for (bool fail : {true, false}) {
        openSource();
        select({1});
        files.failDelete = fail;
        view.answers = {platform::kIdYes};
        commands->deleteSelected();
        EXPECT_EQ(simtest::fileExists(src + "a:b|c.jpg"), fail);
        EXPECT_EQ(names()[1], fail ? src + "a:b|c.jpg*" : src + "d.JPG");
        EXPECT_EQ(view.messages.back(),
                  fail ? "1 image(s) could not be deleted." : "Do you want to delete 1 image(s)?");
    }
}

TEST_F(Commands, SelectAllSelectsEveryPictureAndRedrawsTheNineCells) {
    start(3);
    load();
    state.clickCell(1, true, false);
    view.take();
    commands->selectAllPictures();
    EXPECT_THAT(names(), ElementsAre("S0000001*", "S0000002*", "S0000003*"));
    EXPECT_EQ(state.clickCount(), 0u);
    const Names lines = view.take();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[8], "invalidateRect " + testing::FakeView::text(cellRect(9)) + " erase");
}

TEST_F(Commands, PixdeskUsesUsbOnlyWithoutWaitCursorAndKeepsNoFolder) {
    start(2, kPixdesk);
    sti->devices.swap(devices);
    commands->connectAndLoad();
    EXPECT_THAT(view.messages, ElementsAre(camlink::kMsgNoCameraAtStart));
    EXPECT_THAT(ports.calls, IsEmpty());
    view.take();
    commands->reloadFromCamera(); // no camera: nothing at all
    EXPECT_THAT(view.take(), IsEmpty());
    EXPECT_TRUE(commands->command(kIdUsb)); // reconnects, loads nothing
    EXPECT_EQ(view.messages.size(), 2u);
    sti->devices.swap(devices);
    commands->command(kIdUsb);
    EXPECT_EQ(link->linkKind, camlink::LinkUsb);
    EXPECT_EQ(state.pictures.count(), 0u);
    commands->reloadFromCamera();
    EXPECT_EQ(state.pictures.count(), 2u);
    EXPECT_THAT(view.log, ::testing::Not(Contains("beginWaitCursor")));
    select({0});
    saveTo(out);
    EXPECT_TRUE(simtest::fileExists(out + "S0000001.jpg"));
    EXPECT_EQ(commands->folder(), kInitialFolder);

    sti->devices.clear(); // unplugged: the pictures stay, and cannot be deleted
    commands->command(kIdUsb);
    EXPECT_EQ(link->linkKind, camlink::LinkNone);
    select({1});
    view.answers = {platform::kIdYes};
    commands->deleteSelected();
    EXPECT_THAT(names(), ElementsAre("S0000001", "S0000002*"));
    EXPECT_EQ(view.messages.back(), "1 image(s) could not be deleted.");
}

TEST_F(Commands, CommandIdsOfTheTemplate) {
    struct Case {
        int id;
        bool campanel, pixdesk;
    } const cases[] = {
        {kIdExit, false, false},     {kIdAcquire, false, false},  {kIdDelete, true, true},
        {kIdOpenFolder, true, true}, {kIdFromCamera, true, true}, {kIdSave, true, true},
        {kIdUsb, true, true},        {kIdSerial, true, false},    {kIdSelectAll, true, true},
        {kIdPrev, true, true},       {kIdLastPage, true, true},   {4242, false, false}};
    for (const Case& c : cases) {
        start(0);
        EXPECT_EQ(commands->command(c.id), c.campanel) << c.id;
        commands = std::make_unique<BrowserCommands>(state, view, *link, clock, files, kPixdesk);
        EXPECT_EQ(commands->command(c.id), c.pixdesk) << c.id;
    }
}

} // namespace
} // namespace browser
