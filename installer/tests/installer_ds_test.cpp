// The installed lv2700c5.ds, loaded by path from the TWAIN folder as a 2.x source manager
// loads it, acquires from the simulated camera on COM1 (installer_test.sh starts it). The
// browser it opens is the installed campanel.dll beside it.
#include "browser/layout.h"
#include "browser/win32/tests/cell_clicks.h"
#include "datasource/tests/twhost.h"
#include "framework/testing/msgbox_watcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace twhost;

const char kBrowserCaption[] = "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging";
constexpr unsigned kTimeoutMs = 120000;

std::string installedSource() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + "\\twain_32\\LUMIVERA\\lv2700c5.ds";
}

using lvtest::clickCell;

TEST(InstalledDataSource, AcquiresTwoSelectedPicturesFromTheCamera) {
    HWND owner = CreateWindowExA(0, "STATIC", "image editor", WS_OVERLAPPEDWINDOW, 600, 100, 300,
                                 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    {
        // Any message of campanel's is a failure here: the camera is there.
        lvtest::MessageBoxWatcher boxes("campanel", {IDOK});
        DirectManager manager(installedSource());
        Host host(manager, owner);
        ASSERT_TRUE(host.open()) << (host.errors.empty() ? "" : host.errors[0]);
        ASSERT_EQ(host.enable(true), TWRC_SUCCESS);
        HWND browser = FindWindowA(nullptr, kBrowserCaption);
        ASSERT_NE(browser, nullptr);
        host.pump();

        clickCell(browser, 1, 0);
        clickCell(browser, 3, MK_CONTROL);
        PostMessageA(browser, WM_COMMAND, browser::kIdAcquire, 0);
        ASSERT_TRUE(host.runUntilClosed(kTimeoutMs));

        EXPECT_EQ(host.errors, std::vector<std::string>());
        EXPECT_EQ(host.events, std::vector<TW_UINT16>({MSG_XFERREADY, MSG_CLOSEDSREQ}));
        ASSERT_EQ(host.pictures.size(), 2u);
        for (const Picture& picture : host.pictures) {
            ASSERT_GE(picture.dib.size(), sizeof(BITMAPINFOHEADER));
            BITMAPINFOHEADER header;
            std::memcpy(&header, picture.dib.data(), sizeof header);
            // The card's pictures are 320 x 240.
            EXPECT_EQ(header.biWidth, 320);
            EXPECT_EQ(header.biHeight, 240);
            EXPECT_EQ(header.biBitCount, 24);
            EXPECT_GE(picture.dib.size(), sizeof header + 320u * 3u * 240u);
        }
        EXPECT_TRUE(boxes.seen().empty()) << boxes.seen()[0].text;
        EXPECT_FALSE(IsWindow(browser));
    }
    DestroyWindow(owner);
}

} // namespace
