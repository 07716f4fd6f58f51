// The browser window on the real Win32 calls under Wine and Xvfb, against the simulated
// camera: camsim on COM1 or the Still Image stand-in (browser_dialog_test.sh starts them
// and says where the card is: LV_TEST_CARD, LV_TEST_PICTURES, LV_TEST_LINK).
#include "browser/win32/tests/browser_host.h"
#include "framework/testing/folder_browser.h"
#include "framework/testing/msgbox_watcher.h"
#include "framework/testing/test_files.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using browser::kIdDelete;
using browser::kIdNext;
using browser::kIdPrev;
using browser::kIdSave;
using browser::kIdSelectAll;
using browsertest::TestBrowser;

namespace {

using lvtest::env;
using lvtest::fileBytes;

using lvtest::FolderBrowserDriver;

class BrowserDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }

    void SetUp() override {
        pictures_ = std::atoi(env("LV_TEST_PICTURES").c_str());
        link_ = env("LV_TEST_LINK");
        // The start-up may show the no-camera message: it is answered and recorded.
        lvtest::MessageBoxWatcher watcher(framework::programName(), {IDOK});
        ASSERT_NE(dialog.create(nullptr), nullptr);
        startUpMessages = watcher.seen();
        SetWindowPos(dialog.hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
        UpdateWindow(dialog.hwnd());
        browsertest::pumpMessages();
    }
    void TearDown() override { dialog.destroyWindow(); }

    HWND control(int id) const { return GetDlgItem(dialog.hwnd(), id); }
    void command(int id) { SendMessageA(dialog.hwnd(), WM_COMMAND, id, 0); }
    // A press and release of the left button with the given keys, at client points.
    void click(POINT down, POINT up, WPARAM keys = 0) {
        SendMessageA(dialog.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON | keys, MAKELPARAM(down.x, down.y));
        SendMessageA(dialog.hwnd(), WM_LBUTTONUP, keys, MAKELPARAM(up.x, up.y));
    }
    static POINT centreOf(int cell) {
        const browser::Rect r = browser::thumbRect(cell);
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    void clickCell(int cell, WPARAM keys = 0) { click(centreOf(cell), centreOf(cell), keys); }
    std::vector<int> selectedPlaces() {
        std::vector<int> places;
        const browser::PictureEntry* entry = dialog.state.pictures.entryAfterCursor(0);
        for (int place = static_cast<int>(dialog.state.pictures.position()) - 1; entry != nullptr;
             entry = entry->next, ++place) {
            if (entry->selected) {
                places.push_back(place);
            }
        }
        return places;
    }
    std::string cardFile(const char* name) const {
        return env("LV_TEST_CARD") + "\\" + name + ".JPG";
    }

    framework::Application app;
    TestBrowser dialog;
    std::vector<lvtest::SeenMessageBox> startUpMessages;
    int pictures_ = 0;
    std::string link_;
};

// A picture of the client area: the dialog painted into a 24-bit DIB section.
struct Capture {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels; // top-down BGR rows, 3 bytes a pixel, no padding
    COLORREF at(int x, int y) const {
        const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
        return RGB(p[2], p[1], p[0]);
    }
};

Capture capture(HWND window, bool fromScreen) {
    RECT client = {};
    GetClientRect(window, &client);
    Capture c;
    c.width = client.right;
    c.height = client.bottom;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = c.width;
    info.bmiHeader.biHeight = -c.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    if (fromScreen) {
        BitBlt(memory, 0, 0, c.width, c.height, screen, 0, 0, SRCCOPY);
    } else {
        SendMessageA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(memory), 0);
        SendMessageA(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    }
    GdiFlush();
    const auto* src = static_cast<const std::uint8_t*>(bits);
    c.pixels.resize(static_cast<std::size_t>(c.width) * c.height * 3);
    for (std::size_t i = 0; i < c.pixels.size() / 3; ++i) {
        std::memcpy(&c.pixels[i * 3], src + i * 4, 3);
    }
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return c;
}

// The pixel (x, y), counted from the top, of a packed 24-bit bottom-up DIB.
COLORREF dibPixel(const std::uint8_t* dib, int x, int y) {
    const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
    const std::uint32_t stride = platform::dibStride(static_cast<std::uint32_t>(h->biWidth));
    const std::uint8_t* p = dib + 40 + (h->biHeight - 1 - y) * stride + x * 3;
    return RGB(p[2], p[1], p[0]);
}

// Every thumbnail of the page lies where the layout puts it, pixel for pixel.
void expectThumbnailsDrawn(TestBrowser& dialog, const Capture& c) {
    const browser::PictureEntry* entry = dialog.state.pictures.entryAfterCursor(0);
    for (int cell = 1; cell <= browser::kCellCount && entry != nullptr;
         ++cell, entry = entry->next) {
        ASSERT_NE(entry->thumbnail, nullptr);
        const auto* dib = static_cast<const std::uint8_t*>(platform::globalLock(entry->thumbnail));
        const auto* h = reinterpret_cast<const BITMAPINFOHEADER*>(dib);
        const browser::Point o = browser::thumbOrigin(cell);
        const int left = o.x + (browser::kThumbAreaWidth - h->biWidth) / 2;
        const int top = o.y + (browser::kThumbAreaHeight - h->biHeight) / 2;
        int wrong = 0;
        for (int y = 0; y < h->biHeight; ++y) {
            for (int x = 0; x < h->biWidth; ++x) {
                wrong += c.at(left + x, top + y) != dibPixel(dib, x, y);
            }
        }
        platform::globalUnlock(entry->thumbnail);
        EXPECT_EQ(wrong, 0) << "cell " << cell;
    }
}

} // namespace

TEST_F(BrowserDialog, TemplateControlsAndButtonSizes) {
    char caption[128] = {};
    GetWindowTextA(dialog.hwnd(), caption, sizeof caption);
    EXPECT_STREQ(caption, "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging");
    const LONG style = GetWindowLongA(dialog.hwnd(), GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU);
    EXPECT_TRUE(IsWindowVisible(dialog.hwnd()));
    EXPECT_FALSE(IsWindowVisible(control(browser::kIdPictureArea)));
    const struct {
        int id;
        LONG width, height;
    } buttons[] = {{1011, 48, 24},  {1006, 50, 48},  {1007, 50, 48},  {1020, 24, 24},
                   {1021, 24, 24},  {1002, 111, 29}, {1001, 111, 29}, {1014, 111, 29},
                   {1000, 111, 29}, {1008, 55, 46},  {1009, 95, 46}};
    for (const auto& b : buttons) {
        RECT r = {};
        ASSERT_TRUE(GetWindowRect(control(b.id), &r)) << b.id;
        EXPECT_EQ(r.right - r.left, b.width) << b.id;
        EXPECT_EQ(r.bottom - r.top, b.height) << b.id;
    }
    EXPECT_FALSE(IsWindowEnabled(control(browser::kIdTipCamera)));
    EXPECT_FALSE(IsWindowEnabled(control(browser::kIdTipFile)));
    EXPECT_EQ(dialog.frameSize().cx, 100);
    EXPECT_EQ(dialog.frameSize().cy, 104);
}

TEST_F(BrowserDialog, StartUpLoadsTheCardOrSaysThereIsNoCamera) {
    if (link_ == "none") {
        ASSERT_EQ(startUpMessages.size(), 1u);
        EXPECT_EQ(startUpMessages[0].text.rfind("Can not find digital camera!\nTIP:\n", 0), 0u);
        EXPECT_EQ(dialog.state.pictures.count(), 0u);
        return;
    }
    EXPECT_TRUE(startUpMessages.empty());
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures_));
    EXPECT_EQ(dialog.link.linkKind, link_ == "usb" ? camlink::LinkUsb : camlink::LinkSerial);
    // More than a page: both page buttons, NEXT enabled, PREV not.
    EXPECT_TRUE(IsWindowVisible(control(kIdNext)));
    EXPECT_TRUE(IsWindowEnabled(control(kIdNext)));
    EXPECT_FALSE(IsWindowEnabled(control(kIdPrev)));
}

TEST_F(BrowserDialog, PaintsFramesAndThumbnailsWhereTheLayoutSays) {
    const Capture printed = capture(dialog.hwnd(), false);
    RECT area = {};
    GetWindowRect(control(browser::kIdPictureArea), &area);
    MapWindowPoints(nullptr, dialog.hwnd(), reinterpret_cast<POINT*>(&area), 2);
    // Frames at the area's corner, 120 apart across and 129 down; outside them black.
    for (int cell = 0; cell < browser::kCellCount; ++cell) {
        const int x = area.left + (cell % 3) * 120, y = area.top + (cell / 3) * 129;
        EXPECT_NE(printed.at(x + 1, y + 1), RGB(0, 0, 0)) << "frame " << cell;
    }
    EXPECT_EQ(printed.at(area.left + 105, area.top + 50), RGB(0, 0, 0));
    if (link_ != "none") {
        expectThumbnailsDrawn(dialog, printed);
        // The window on screen shows the same.
        SetForegroundWindow(dialog.hwnd());
        RedrawWindow(dialog.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        expectThumbnailsDrawn(dialog, capture(dialog.hwnd(), true));
    }
}

TEST_F(BrowserDialog, MouseClicksFollowTheSelectionRules) {
    if (link_ == "none") {
        clickCell(1);
        EXPECT_TRUE(selectedPlaces().empty());
        return;
    }
    clickCell(1);
    EXPECT_EQ(selectedPlaces(), std::vector<int>({0}));
    clickCell(3, MK_CONTROL);
    EXPECT_EQ(selectedPlaces(), std::vector<int>({0, 2}));
    clickCell(5, MK_SHIFT);
    EXPECT_EQ(selectedPlaces(), std::vector<int>({2, 3, 4}));
    // Pressed on one thumbnail and released on another; a press on the frame's border.
    click(centreOf(1), centreOf(2));
    const browser::Point o = browser::thumbOrigin(6);
    click(POINT{o.x - 5, o.y - 5}, POINT{o.x - 5, o.y - 5});
    EXPECT_EQ(selectedPlaces(), std::vector<int>({2, 3, 4}));
    command(kIdSelectAll);
    EXPECT_EQ(dialog.state.pictures.selectedCount(), static_cast<std::uint32_t>(pictures_));
}

TEST_F(BrowserDialog, PagingByRows) {
    if (link_ == "none") {
        GTEST_SKIP() << "no pictures";
    }
    command(kIdNext);
    EXPECT_EQ(dialog.state.pictures.position(), 4u);
    EXPECT_EQ(IsWindowEnabled(control(kIdNext)) != FALSE, pictures_ - 4 > 8);
    EXPECT_TRUE(IsWindowEnabled(control(kIdPrev)));
    expectThumbnailsDrawn(dialog, capture(dialog.hwnd(), false));
    command(kIdPrev);
    EXPECT_EQ(dialog.state.pictures.position(), 1u);
}

TEST_F(BrowserDialog, SavesThroughTheFolderBrowserAndAsksBeforeOverwriting) {
    if (link_ == "none") {
        GTEST_SKIP() << "no pictures";
    }
    const std::string folder = lvtest::scratchFolder("browser-" + link_);
    clickCell(1);
    clickCell(2, MK_CONTROL);
    const std::string first = dialog.state.pictures.entryAfterCursor(0)->name;
    const std::string second = dialog.state.pictures.entryAfterCursor(1)->name;
    {
        FolderBrowserDriver driver(folder);
        command(kIdSave);
        ASSERT_TRUE(driver.chose());
    }
    EXPECT_EQ(fileBytes(folder + first + ".jpg"), fileBytes(cardFile(first.c_str())));
    EXPECT_EQ(fileBytes(folder + second + ".jpg"), fileBytes(cardFile(second.c_str())));
    EXPECT_EQ(dialog.state.pictures.selectedCount(), 0u);
    EXPECT_EQ(dialog.commands.folder(), folder);

    // Again over the same files: No keeps the first, Yes replaces the second.
    std::ofstream(folder + first + ".jpg", std::ios::binary) << "old";
    std::ofstream(folder + second + ".jpg", std::ios::binary) << "old";
    clickCell(1);
    clickCell(2, MK_CONTROL);
    std::vector<lvtest::SeenMessageBox> questions;
    {
        lvtest::MessageBoxWatcher watcher(framework::programName(), {IDNO, IDYES});
        FolderBrowserDriver driver(folder);
        command(kIdSave);
        questions = watcher.seen();
    }
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].text, "The " + folder + first +
                                     ".jpg has already exist.\nDo you want to overwrite this "
                                     "file ?");
    EXPECT_EQ(questions[0].defaultButton, IDNO);
    EXPECT_EQ(fileBytes(folder + first + ".jpg"), std::vector<char>({'o', 'l', 'd'}));
    EXPECT_EQ(fileBytes(folder + second + ".jpg"), fileBytes(cardFile(second.c_str())));

    // The folder open shows what the save wrote; the file "old" does not decode.
    lvtest::MessageBoxWatcher watcher(framework::programName(), {IDOK});
    command(browser::kIdOpenFolder);
    EXPECT_EQ(dialog.state.pictures.count(), 1u);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, "JPEG file format is not supported or contain errors!");
}

TEST_F(BrowserDialog, DeletesTheSelectionOnTheCamera) {
    if (link_ == "none") {
        GTEST_SKIP() << "no pictures";
    }
    clickCell(2);
    const std::string name = dialog.state.pictures.entryAfterCursor(1)->name;
    lvtest::MessageBoxWatcher watcher(framework::programName(), {IDYES});
    command(kIdDelete);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, "Do you want to delete 1 image(s)?");
    EXPECT_EQ(dialog.state.pictures.count(), static_cast<std::uint32_t>(pictures_ - 1));
    EXPECT_EQ(GetFileAttributesA(cardFile(name.c_str()).c_str()), INVALID_FILE_ATTRIBUTES);
    // Nine pictures fit one page: the page buttons go.
    EXPECT_EQ(IsWindowVisible(control(kIdNext)) != FALSE, pictures_ - 1 > 9);
}

TEST_F(BrowserDialog, ExitAndAcquireGoToTheHost) {
    command(browser::kIdExit);
    command(browser::kIdAcquire);
    EXPECT_EQ(dialog.events, std::vector<std::string>({"exit", "acquire"}));
}
