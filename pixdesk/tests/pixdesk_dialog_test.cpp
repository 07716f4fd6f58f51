// pixdesk's browser window in this process, on the Still Image stand-in with a card of
// pictures (LV_TEST_LINK=usb) or with no camera at all (none). pixdesk_test.sh sets up both.
#include "browser/win32/tests/cell_clicks.h"
#include "framework/app.h"
#include "framework/testing/msgbox_watcher.h"
#include "pixdesk/automation.h"
#include "pixdesk/pixdesk_dialog.h"
#include "pixdesk/resource.h"
#include "pixdesk/tests/test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

using pixdesktest::env;
using pixdesktest::fileBytes;

namespace {

const char kNoCamera[] = "Can not find digital camera!\nTIP:\n(1)Please restart your computer.\n"
                         "(2)Check if digital camera is powered on already.\n(3)Check if the "
                         "USB cable is connected properly.\n(4)Turn off camera. Reset and plug "
                         "it again.";

// The pictures on the card now (a delete of an earlier test takes one away).
int picturesOnCard() {
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((env("LV_TEST_CARD") + "\\S*.JPG").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            ++count;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return count;
}

class PixdeskDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { OleInitialize(nullptr); }
    static void TearDownTestSuite() { OleUninitialize(); }

    void SetUp() override {
        pictures = picturesOnCard();
        usb = env("LV_TEST_LINK") == "usb";
        lvtest::MessageBoxWatcher watcher(framework::programName(), {IDOK});
        ASSERT_NE(dialog.create(nullptr), nullptr);
        startUpMessages = watcher.seen();
        SetWindowPos(dialog.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        UpdateWindow(dialog.hwnd());
        pump();
    }
    void TearDown() override {
        SetEnvironmentVariableA("LV_STI_DEVICES", usb ? nullptr : "none");
        dialog.destroyWindow();
    }

    static void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    HWND control(int id) const { return GetDlgItem(dialog.hwnd(), id); }
    void command(int id) { SendMessageA(dialog.hwnd(), WM_COMMAND, id, 0); }
    void clickCell(int cell, WPARAM keys = 0) { lvtest::clickCell(dialog.hwnd(), cell, keys); }
    std::string nameAt(int place) {
        return dialog.state.pictures.entryAfterCursor(static_cast<std::uint32_t>(place))->name;
    }
    std::string cardFile(const std::string& name) const {
        return env("LV_TEST_CARD") + "\\" + name + ".JPG";
    }
    // Runs a command with the watcher answering `answers`; gives the boxes it saw.
    std::vector<lvtest::SeenMessageBox> answered(int id, std::vector<int> answers = {IDOK}) {
        lvtest::MessageBoxWatcher watcher(framework::programName(), std::move(answers));
        command(id);
        return watcher.seen();
    }
    // The camera goes away: the stand-in reads its devices anew when it is next opened.
    void unplug() { SetEnvironmentVariableA("LV_STI_DEVICES", "none"); }

    framework::Application app;
    pixdesk::CPIXDESKDlg dialog;
    std::vector<lvtest::SeenMessageBox> startUpMessages;
    int pictures = 0;
    bool usb = false;
};

TEST_F(PixdeskDialog, Template102WithSystemMenuTaskbarButtonAndItsControls) {
    char caption[128] = {};
    GetWindowTextA(dialog.hwnd(), caption, sizeof caption);
    EXPECT_STREQ(caption, "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging");
    EXPECT_TRUE(GetWindowLongA(dialog.hwnd(), GWL_STYLE) & WS_SYSMENU);
    EXPECT_TRUE(GetWindowLongA(dialog.hwnd(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_FALSE(IsWindowVisible(control(IDC_PICTURE_AREA)));
    const struct {
        int id;
        LONG width, height;
        bool tabStop;
    } buttons[] = {
        {IDC_USB, 48, 24, true},      {IDC_FROMDSC, 50, 48, true}, {IDC_FROMFILE, 50, 48, true},
        {IDC_PREV, 24, 24, true},     {IDC_NEXT, 24, 24, true},    {IDC_DELETE, 111, 29, true},
        {IDC_ACQUIRE, 111, 29, true}, {IDC_SELECT, 111, 29, true}, {IDC_EXIT, 111, 29, true},
        {IDC_TIPDSC, 55, 46, false},  {IDC_TIPFILE, 95, 46, false}};
    for (const auto& b : buttons) {
        RECT r = {};
        ASSERT_TRUE(GetWindowRect(control(b.id), &r)) << b.id;
        EXPECT_EQ(r.right - r.left, b.width) << b.id;
        EXPECT_EQ(r.bottom - r.top, b.height) << b.id;
        EXPECT_EQ((GetWindowLongA(control(b.id), GWL_STYLE) & WS_TABSTOP) != 0, b.tabStop) << b.id;
    }
    EXPECT_EQ(GetWindowLongA(control(IDC_FROMFILE), GWL_STYLE) & BS_NOTIFY, 0);
    EXPECT_EQ(dialog.frameSize().cx, 100);
    EXPECT_EQ(dialog.frameSize().cy, 104);
}

TEST_F(PixdeskDialog, AboutItemEndsTheSystemMenuAndTheIconIsSet) {
    HMENU menu = GetSystemMenu(dialog.hwnd(), FALSE);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    char text[64] = {};
    GetMenuStringA(menu, count - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About PIXDESK...");
    EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
    EXPECT_TRUE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR);

    ASSERT_NE(dialog.icon(), nullptr);
    const auto icon = reinterpret_cast<LRESULT>(dialog.icon());
    EXPECT_EQ(SendMessageA(dialog.hwnd(), WM_GETICON, ICON_BIG, 0), icon);
    EXPECT_EQ(SendMessageA(dialog.hwnd(), WM_GETICON, ICON_SMALL, 0), icon);
    EXPECT_EQ(SendMessageA(dialog.hwnd(), WM_QUERYDRAGICON, 0, 0), icon);
}

TEST_F(PixdeskDialog, StartUpLoadsTheCardOrShowsTheLongMessage) {
    if (!usb) {
        ASSERT_EQ(startUpMessages.size(), 1u);
        EXPECT_EQ(startUpMessages[0].text, kNoCamera);
        EXPECT_EQ(startUpMessages[0].icon, static_cast<unsigned>(MB_ICONEXCLAMATION));
        EXPECT_EQ(dialog.link.linkKind, camlink::LinkNone);
        EXPECT_EQ(dialog.state.pictures.count(), 0u);
        EXPECT_FALSE(IsWindowVisible(control(IDC_NEXT)));
        return;
    }
    EXPECT_TRUE(startUpMessages.empty());
    EXPECT_EQ(dialog.link.linkKind, camlink::LinkUsb);
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures));
    EXPECT_TRUE(IsWindowVisible(control(IDC_NEXT)));
    EXPECT_FALSE(IsWindowEnabled(control(IDC_PREV)));
}

TEST_F(PixdeskDialog, WithoutACameraNineEmptyFramesReloadDoesNothingUsbSaysSoAgain) {
    if (usb) {
        GTEST_SKIP() << "a camera is attached";
    }
    browser::PageCell cells[browser::kCellCount];
    dialog.state.preparePage(cells);
    for (const auto& cell : cells) {
        EXPECT_FALSE(cell.hasPicture);
        EXPECT_FALSE(cell.selected);
    }
    EXPECT_TRUE(answered(IDC_FROMDSC).empty());
    EXPECT_EQ(dialog.state.pictures.count(), 0u);
    const auto seen = answered(IDC_USB);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kNoCamera);
}

TEST_F(PixdeskDialog, AcquireAndTheLabelPicturesNeverRespond) {
    for (int id : {IDC_ACQUIRE, IDC_TIPDSC, IDC_TIPFILE}) {
        EXPECT_FALSE(IsWindowEnabled(control(id))) << id;
    }
    if (usb) {
        command(IDC_SELECT);
    }
    const std::uint32_t selected = dialog.state.pictures.selectedCount();
    for (int id : {IDC_ACQUIRE, IDC_TIPDSC, IDC_TIPFILE}) {
        EXPECT_TRUE(answered(id).empty()) << id;
    }
    EXPECT_EQ(dialog.state.pictures.selectedCount(), selected);
    EXPECT_NE(dialog.hwnd(), nullptr);
}

TEST_F(PixdeskDialog, PagingSelectAllAndTheMouseUseTemplate102sIds) {
    if (!usb) {
        GTEST_SKIP() << "no pictures";
    }
    command(IDC_NEXT);
    EXPECT_EQ(dialog.state.pictures.position(), 4u);
    EXPECT_TRUE(IsWindowEnabled(control(IDC_PREV)));
    command(IDC_PREV);
    EXPECT_EQ(dialog.state.pictures.position(), 1u);
    clickCell(2);
    EXPECT_EQ(dialog.state.pictures.selectedCount(), 1u);
    command(IDC_SELECT);
    EXPECT_EQ(dialog.state.pictures.selectedCount(), static_cast<std::uint32_t>(pictures));
}

TEST_F(PixdeskDialog, SavesIntoTheChosenFolderOnlyAndLeavesAcquireDisabled) {
    if (!usb) {
        GTEST_SKIP() << "no pictures";
    }
    const std::string folder = pixdesktest::scratchFolder("save");
    clickCell(1);
    clickCell(3, MK_CONTROL);
    const std::string first = nameAt(0), third = nameAt(2);
    {
        pixdesktest::FolderBrowserDriver driver(folder);
        command(IDC_FROMFILE);
        ASSERT_TRUE(driver.drove());
    }
    EXPECT_EQ(fileBytes(folder + first + ".jpg"), fileBytes(cardFile(first)));
    EXPECT_EQ(fileBytes(folder + third + ".jpg"), fileBytes(cardFile(third)));
    EXPECT_EQ(dialog.state.pictures.selectedCount(), 0u);
    // The folder was for this save only.
    EXPECT_EQ(dialog.commands.folder(), browser::kInitialFolder);
    EXPECT_FALSE(IsWindowEnabled(control(IDC_ACQUIRE)));
    for (int id : {IDC_USB, IDC_FROMDSC, IDC_FROMFILE, IDC_DELETE, IDC_SELECT, IDC_EXIT}) {
        EXPECT_TRUE(IsWindowEnabled(control(id))) << id;
    }
    EXPECT_FALSE(IsWindowEnabled(control(IDC_TIPDSC)));
}

TEST_F(PixdeskDialog, DeletesOnTheCamera) {
    if (!usb) {
        GTEST_SKIP() << "no pictures";
    }
    clickCell(2);
    const std::string name = nameAt(1);
    const auto seen = answered(IDC_DELETE, {IDYES});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Do you want to delete 1 image(s)?");
    EXPECT_EQ(seen[0].defaultButton, IDNO);
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures - 1));
    EXPECT_EQ(GetFileAttributesA(cardFile(name).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PixdeskDialog, UnpluggedUsbSaysSoKeepsThePicturesAndNeitherSaveNorDeletePretends) {
    if (!usb) {
        GTEST_SKIP() << "no camera to unplug";
    }
    unplug();
    const auto seen = answered(IDC_USB);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kNoCamera);
    EXPECT_EQ(dialog.link.linkKind, camlink::LinkNone);
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures));

    // Delete: the pictures stay, on the card and in the catalogue, and the user is told.
    clickCell(1);
    const std::string name = nameAt(0);
    const auto deleted = answered(IDC_DELETE, {IDYES, IDOK});
    ASSERT_EQ(deleted.size(), 2u);
    EXPECT_EQ(deleted[1].text, "1 image(s) could not be deleted.");
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures));
    EXPECT_EQ(dialog.state.pictures.selectedCount(), 1u);
    EXPECT_NE(GetFileAttributesA(cardFile(name).c_str()), INVALID_FILE_ATTRIBUTES);

    // Save: nothing is written and the user is told which picture was not saved.
    const std::string folder = pixdesktest::scratchFolder("unplugged");
    std::vector<lvtest::SeenMessageBox> saved;
    {
        lvtest::MessageBoxWatcher watcher(framework::programName(), {IDOK});
        pixdesktest::FolderBrowserDriver driver(folder);
        command(IDC_FROMFILE);
        saved = watcher.seen();
    }
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].text.rfind("These pictures were not saved:", 0), 0u);
    EXPECT_NE(saved[0].text.find(name), std::string::npos);
    EXPECT_EQ(GetFileAttributesA((folder + name + ".jpg").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(PixdeskDialog, EndsAreRefusedAndTheDialogHiddenWhileAnObjectIsHeld) {
    pixdesk::AutomationServer::instance().mainDialog = &dialog;
    auto* proxy = new pixdesk::CPIXDESKDlgAutoProxy();
    pixdesk::AutomationServer::instance().mainDialog = nullptr;
    for (UINT message : {WM_CLOSE, WM_COMMAND}) {
        for (WPARAM id : {IDOK, IDCANCEL, IDC_EXIT}) {
            ShowWindow(dialog.hwnd(), SW_SHOW);
            SendMessageA(dialog.hwnd(), message, message == WM_COMMAND ? id : 0, 0);
            EXPECT_FALSE(IsWindowVisible(dialog.hwnd())) << message << " " << id;
            EXPECT_NE(dialog.hwnd(), nullptr);
            if (message == WM_CLOSE) {
                break;
            }
        }
    }
    proxy->Release();
    EXPECT_EQ(dialog.autoProxy, nullptr);
    ShowWindow(dialog.hwnd(), SW_SHOW);
    EXPECT_TRUE(dialog.canExit());
    EXPECT_TRUE(IsWindowVisible(dialog.hwnd()));
}

} // namespace
