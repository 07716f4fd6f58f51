// campanel.dll as its data source uses it, under Wine and Xvfb: the test data source
// (twain/lvtestds.dll) loads it, opens the browser on the simulated camera (camsim on COM1,
// or the Still Image stand-in; LV_TEST_LINK, LV_TEST_CARD, LV_TEST_PICTURES), and pulls
// what the user acquires.
#include "browser/layout.h"
#include "browser/win32/tests/cell_clicks.h"
#include "framework/testing/msgbox_watcher.h"
#include "framework/testing/test_files.h"
#include "twain/lvtestds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using lvtest::env;
using lvtest::fileBytes;
using lvtest::programFolder;

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The calls of the transcript in short: "UI_CONNECT", "READY 2", "CLOSE nested=1", ...
std::vector<std::string> calls(const char* transcript) {
    std::vector<std::string> out;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("-> ", 0) == 0) {
            out.push_back(line.substr(3, line.find_first_of(" =", 3) - 3));
        } else if (line.rfind("<- DS_Entry", 0) == 0) {
            const bool ready = line.find("msg=0x4001") != std::string::npos;
            const std::size_t data = line.find("data="), nested = line.find("nested=");
            out.push_back(ready ? "READY " + line.substr(data + 5, line.find(' ', data) - data - 5)
                                : "CLOSE " + line.substr(nested));
        }
    }
    return out;
}

class Campanel : public ::testing::Test {
protected:
    void SetUp() override {
        link_ = env("LV_TEST_LINK");
        ASSERT_TRUE(ds.load((programFolder() + "lvtestds.dll").c_str()));
        owner = CreateWindowExA(0, "STATIC", "image editor", WS_OVERLAPPEDWINDOW, 600, 100, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
        out = programFolder() + "acquired-" + link_ + "\\";
        CreateDirectoryA(out.c_str(), nullptr);
        ds.setOutput(out.c_str());
        ds.clearTranscript();
    }
    void TearDown() override {
        if (browser != nullptr && IsWindow(browser)) {
            ds.call("UI_DISCONNECT");
        }
        ds.unload();
        FreeLibrary(ds.module);
        DestroyWindow(owner);
    }
    // Opens the browser and answers what its start-up shows.
    HWND open(DWORD flags = 1, const char* path = nullptr) {
        lvtest::MessageBoxWatcher watcher("campanel", {IDOK});
        browser = ds.open(owner, flags, path);
        startUpMessages = watcher.seen();
        pump();
        return browser;
    }
    void clickCell(int cell, WPARAM keys = 0) { lvtest::clickCell(browser, cell, keys); }
    void command(int id) { SendMessageA(browser, WM_COMMAND, id, 0); }
    bool camera() const { return link_ != "none"; }

    LvTestDs ds;
    HWND owner = nullptr;
    HWND browser = nullptr;
    std::string out, link_;
    std::vector<lvtest::SeenMessageBox> startUpMessages;
};

// Decorated stdcall names on 32-bit Windows; plain names on x86-64, which has no decoration.
TEST_F(Campanel, ExportsCarryTheBuildsNamesWithTheirOrdinals) {
    HMODULE campanel = LoadLibraryA((programFolder() + "campanel.dll").c_str());
    ASSERT_NE(campanel, nullptr);
#ifdef _WIN64
    const char* names[] = {"UI_CONNECT",      "UI_DISCONNECT",   "UI_GETIMAGE",
                           "UI_GETIMAGEINFO", "UI_ToFirstImage", "UI_ToNextSelectedImage"};
    const char* otherForm = "_UI_CONNECT@12";
#else
    const char* names[] = {"_UI_CONNECT@12",     "_UI_DISCONNECT@0",   "_UI_GETIMAGE@0",
                           "_UI_GETIMAGEINFO@0", "_UI_ToFirstImage@0", "_UI_ToNextSelectedImage@0"};
    const char* otherForm = "UI_CONNECT";
#endif
    for (int ordinal = 1; ordinal <= 6; ++ordinal) {
        FARPROC byName = GetProcAddress(campanel, names[ordinal - 1]);
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(byName, GetProcAddress(campanel, MAKEINTRESOURCEA(ordinal))) << ordinal;
    }
    EXPECT_EQ(GetProcAddress(campanel, otherForm), nullptr);
    FreeLibrary(campanel);
}

TEST_F(Campanel, FlagsWithAZeroLowWordOpenNothing) {
    EXPECT_EQ(open(0x10000), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging"), nullptr);
}

TEST_F(Campanel, AcquireHandsOverTheSelectionAndClosesOnce) {
    ASSERT_NE(open(), nullptr);
    EXPECT_TRUE(IsWindowVisible(browser));
    if (!camera()) {
        ASSERT_EQ(startUpMessages.size(), 1u);
        EXPECT_EQ(startUpMessages[0].text.rfind("Can not find digital camera!", 0), 0u);
    }
    EXPECT_EQ(open(), browser); // a second connect gets the same window
    EXPECT_TRUE(startUpMessages.empty());
    if (!camera()) {
        return;
    }
    clickCell(1);
    clickCell(3, MK_CONTROL);
    ds.clearTranscript();
    command(browser::kIdAcquire);
    for (int i = 0; i < 500 && !ds.done(); ++i) {
        pump();
        Sleep(10);
    }
    ASSERT_EQ(ds.done(), 1);
    EXPECT_EQ(calls(ds.transcript()),
              std::vector<std::string>({"READY 2", "UI_GETIMAGEINFO", "UI_GETIMAGE",
                                        "UI_ToNextSelectedImage", "UI_GETIMAGEINFO", "UI_GETIMAGE",
                                        "CLOSE nested=1", "UI_ToNextSelectedImage",
                                        "UI_ToFirstImage", "UI_DISCONNECT"}))
        << ds.transcript();
    EXPECT_EQ(ds.errors(), 0) << ds.transcript();
    EXPECT_EQ(ds.pictures(), 2);
    EXPECT_FALSE(IsWindow(browser));
    // The pictures received are the card's first and third, decoded whole.
    for (const char* file : {"001.bmp", "002.bmp"}) {
        const std::vector<char> bmp = fileBytes(out + file);
        ASSERT_GT(bmp.size(), 54u) << file;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
    }
}

TEST_F(Campanel, ExitAsksTheDataSourceToClose) {
    ASSERT_NE(open(), nullptr);
    ds.clearTranscript();
    command(browser::kIdExit);
    for (int i = 0; i < 200 && !ds.done(); ++i) {
        pump();
        Sleep(10);
    }
    EXPECT_EQ(ds.done(), 1);
    const std::vector<std::string> seen = calls(ds.transcript());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0], "CLOSE nested=0");
    EXPECT_FALSE(IsWindow(browser));
}

TEST_F(Campanel, AMissingDataSourceFileIsReported) {
    ASSERT_NE(open(1, "C:\\nowhere\\lv2700c5.ds"), nullptr);
    lvtest::MessageBoxWatcher watcher("campanel", {IDOK});
    command(browser::kIdExit);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, "Could not find TWAIN DS file");
    EXPECT_TRUE(IsWindow(browser));
}

TEST_F(Campanel, ALongDataSourcePathIsKeptWhole) {
    // Over 79 characters, in a folder of its own.
    std::string folder = programFolder() + "a data source folder whose name is long enough\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "lv2700c5 test data source.ds";
    ASSERT_GT(path.size(), 80u);
    ASSERT_TRUE(CopyFileA((programFolder() + "lvtestds.dll").c_str(), path.c_str(), FALSE));
    ASSERT_NE(open(1, path.c_str()), nullptr);
    lvtest::MessageBoxWatcher watcher("campanel", {IDOK});
    command(browser::kIdExit);
    EXPECT_TRUE(watcher.seen().empty()); // the file was found and called
    EXPECT_EQ(open(1, std::string(MAX_PATH + 10, 'x').c_str()), browser);
}

TEST_F(Campanel, EveryNewWindowTakesClicksAgain) {
    if (!camera()) {
        GTEST_SKIP() << "no pictures";
    }
    // Each acquire leaves its window without clicks; each new window takes them again.
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_NE(open(), nullptr) << cycle;
        lvtest::MessageBoxWatcher watcher("campanel", {IDOK});
        clickCell(2);
        command(browser::kIdAcquire);
        for (int i = 0; i < 500 && !ds.done(); ++i) {
            pump();
            Sleep(10);
        }
        EXPECT_EQ(ds.done(), 1) << cycle;
        EXPECT_TRUE(watcher.seen().empty()) << cycle;
        EXPECT_FALSE(IsWindow(browser));
    }
}

} // namespace
