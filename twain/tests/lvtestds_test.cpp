// The test data source against the fake campanel, in process, and twainhost as a child
// process: the order of the calls, the nesting of the close request, the .bmp files.
#include "browser/layout.h"
#include "twain/lvtestds.h"
#include "twain/tests/fake_pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string besideThisProgram(const std::string& file) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.find_last_of('\\') + 1) + file;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string hex(const void* handle) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}

// A .bmp file as it must be: the 14-byte file header before the packed DIB.
std::vector<uint8_t> bmpFile(int picture) {
    const std::vector<uint8_t> dib = fakecampanel::packedDib(picture);
    std::vector<uint8_t> file = {'B', 'M'};
    fakecampanel::putLe(file, static_cast<uint32_t>(14 + dib.size()), 4);
    fakecampanel::putLe(file, 0, 4);
    fakecampanel::putLe(file, 54, 4);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

using ResetFn = void (*)(int);
using SetFn = void (*)(int);
using LogFn = const char* (*)();

class DataSourceTest : public ::testing::Test {
protected:
    static LvTestDs ds;
    static HMODULE fake;
    static ResetFn fakeReset;
    static SetFn fakeSetCorrupt;
    static SetFn fakeSetFault;
    static SetFn fakeSetPumpOnClose;
    static LogFn fakeLog;
    static std::string dsPath;

    static void SetUpTestSuite() {
        ASSERT_TRUE(ds.load(besideThisProgram("lvtestds.dll").c_str()));
        // The same module the data source loads from its folder, held for the whole run.
        fake = LoadLibraryA(besideThisProgram("campanel.dll").c_str());
        ASSERT_NE(fake, nullptr);
        bind(fakeReset, "Fake_Reset");
        bind(fakeSetCorrupt, "Fake_SetCorrupt");
        bind(fakeSetFault, "Fake_SetFault");
        bind(fakeSetPumpOnClose, "Fake_SetPumpOnClose");
        bind(fakeLog, "Fake_Log");
        char path[MAX_PATH];
        dsPath.assign(path, GetModuleFileNameA(ds.module, path, sizeof path));
    }

    template <typename Fn> static void bind(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(fake, name)));
        ASSERT_NE(fn, nullptr) << name;
    }

    void SetUp() override {
        ASSERT_NE(fakeReset, nullptr);
        fakeReset(fakecampanel::kPictures);
        ds.clearTranscript();
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        CreateDirectoryA(besideThisProgram("work").c_str(), nullptr);
        std::string name = test->name(); // "Case/Name" for parameterised tests
        std::replace(name.begin(), name.end(), '/', '-');
        out = besideThisProgram("work\\" + name + "\\");
        CreateDirectoryA(out.c_str(), nullptr);
        for (int i = 1; i <= 9; ++i) {
            DeleteFileA(bmp(i).c_str());
        }
        ds.setOutput(out.c_str());
    }

    void TearDown() override {
        if (browser != nullptr && IsWindow(browser)) {
            ds.call("UI_DISCONNECT");
        }
        pump();
    }

    std::string bmp(int n) const {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.bmp", n);
        return out + name;
    }

    HWND open(HWND owner = nullptr, DWORD flags = 1, const char* path = nullptr) {
        browser = ds.open(owner, flags, path);
        return browser;
    }

    void click(int cell, bool ctrl) {
        const browser::Rect r = browser::thumbRect(cell);
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        const WPARAM keys = ctrl ? MK_CONTROL : 0;
        SendMessageA(browser, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
        SendMessageA(browser, WM_LBUTTONUP, keys, at);
    }

    void command(int id) { SendMessageA(browser, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

    // Selects the cells and presses ACQUIRE; the batch runs inside the command.
    void acquire(std::initializer_list<int> cells) {
        bool first = true;
        for (int cell : cells) {
            click(cell, !first);
            first = false;
        }
        command(browser::kIdAcquire);
    }

    // Runs what was posted, as the host's message loop would.
    static void pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    std::string connectLine(HWND window, const char* owner = "0x00000000") const {
        return "-> UI_CONNECT \"" + dsPath + "\" owner=" + owner + " flags=0x1 = " + hex(window) +
               "\n";
    }

    std::string out;
    HWND browser = nullptr;
};

LvTestDs DataSourceTest::ds;
HMODULE DataSourceTest::fake = nullptr;
ResetFn DataSourceTest::fakeReset = nullptr;
SetFn DataSourceTest::fakeSetCorrupt = nullptr;
SetFn DataSourceTest::fakeSetFault = nullptr;
SetFn DataSourceTest::fakeSetPumpOnClose = nullptr;
LogFn DataSourceTest::fakeLog = nullptr;
std::string DataSourceTest::dsPath;

TEST_F(DataSourceTest, ExportsDsEntryUndecoratedOnly) {
    EXPECT_NE(GetProcAddress(ds.module, "DS_Entry"), nullptr);
    EXPECT_EQ(GetProcAddress(ds.module, "DS_Entry@20"), nullptr);
    EXPECT_EQ(GetProcAddress(ds.module, "_DS_Entry@20"), nullptr);
}

TEST_F(DataSourceTest, BatchIsPulledInOrderAndClosedAfterTheNestedRequest) {
    ASSERT_NE(open(), nullptr);
    acquire({2, 5});
    pump();
    // Picture 2 is 4 x 3 (rows of 12 bytes), picture 5 is 7 x 6 (rows of 21 + 3 bytes).
    EXPECT_EQ(ds.transcript(), connectLine(browser) +
                                   "<- DS_Entry dg=0x4001 dat=0x0 msg=0x4001 data=2 nested=0\n"
                                   "-> UI_GETIMAGEINFO = header 4x3 24-bit\n"
                                   "-> UI_GETIMAGE = dib 4x3 24-bit 76 bytes movable 001.bmp\n"
                                   "-> UI_ToNextSelectedImage = 1\n"
                                   "-> UI_GETIMAGEINFO = header 7x6 24-bit\n"
                                   "-> UI_GETIMAGE = dib 7x6 24-bit 184 bytes movable 002.bmp\n"
                                   "<- DS_Entry dg=0x4001 dat=0x0 msg=0x4002 data=0 nested=1\n"
                                   "-> UI_ToNextSelectedImage = 0\n"
                                   "-> UI_ToFirstImage = 1\n"
                                   "-> UI_DISCONNECT = 1\n");
    EXPECT_EQ(ds.done(), 1);
    EXPECT_EQ(ds.pictures(), 2);
    EXPECT_EQ(ds.errors(), 0);
    EXPECT_FALSE(IsWindow(browser));
}

// campanel's side: the close is answered at the top level, after the nested call returned.
TEST_F(DataSourceTest, CampanelSeesTheCloseAnsweredOutsideItsCalls) {
    ASSERT_NE(open(), nullptr);
    acquire({1});
    pump();
    EXPECT_EQ(std::string(fakeLog()), "UI_CONNECT " + dsPath +
                                          " owner=0x00000000 flags=0x1 depth=0\n"
                                          "call DS_Entry msg=0x4001 data=1 depth=0\n"
                                          "UI_GETIMAGEINFO depth=0\n"
                                          "UI_GETIMAGE depth=0\n"
                                          "call DS_Entry msg=0x4002 data=0 depth=1\n"
                                          "UI_ToNextSelectedImage depth=0\n"
                                          "UI_ToFirstImage depth=0\n"
                                          "UI_DISCONNECT depth=0\n");
}

// A message loop inside campanel delivers our posted answer while its call is running.
TEST_F(DataSourceTest, CloseDeliveredInsideCampanelWaitsForItsCallToReturn) {
    fakeSetPumpOnClose(1);
    ASSERT_NE(open(), nullptr);
    acquire({3});
    pump();
    const std::string log = fakeLog();
    EXPECT_NE(log.find("UI_GETIMAGE depth=0\n"
                       "call DS_Entry msg=0x4002 data=0 depth=1\n"
                       "UI_ToNextSelectedImage depth=0\n"
                       "UI_ToFirstImage depth=0\n"
                       "UI_DISCONNECT depth=0\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(ds.done(), 1);
}

TEST_F(DataSourceTest, BmpFilesHoldTheFileHeaderAndTheDibReceived) {
    ASSERT_NE(open(), nullptr);
    acquire({1, 3});
    pump();
    // Picture 1, 3 x 2: rows of 9 bytes padded to 12; 14 + 40 + 24 = 78 bytes.
    const std::vector<uint8_t> first = {
        'B', 'M', 78,   0,    0,    0,    0,    0,    0,    0,    54,   0,    0,    0,    40,   0,
        0,   0,   3,    0,    0,    0,    2,    0,    0,    0,    1,    0,    24,   0,    0,    0,
        0,   0,   24,   0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
        0,   0,   0,    0,    0,    0,    0x10, 0x50, 0x90, 0x11, 0x51, 0x91, 0x12, 0x52, 0x92, 0,
        0,   0,   0x14, 0x54, 0x94, 0x15, 0x55, 0x95, 0x16, 0x56, 0x96, 0,    0,    0};
    EXPECT_EQ(readFile(bmp(1)), first);
    EXPECT_EQ(readFile(bmp(2)), bmpFile(3));
    EXPECT_EQ(readFile(bmp(2)).size(), 14u + 40u + 16u * 4u); // 5 x 4: rows of 15 + 1
    EXPECT_FALSE(exists(bmp(3)));
}

TEST_F(DataSourceTest, ExitIsAnsweredWithFirstImageAndDisconnect) {
    ASSERT_NE(open(), nullptr);
    command(browser::kIdExit);
    EXPECT_EQ(ds.done(), 0); // not inside campanel's command
    pump();
    EXPECT_EQ(ds.transcript(), connectLine(browser) +
                                   "<- DS_Entry dg=0x4001 dat=0x0 msg=0x4002 data=0 nested=0\n"
                                   "-> UI_ToFirstImage = 1\n"
                                   "-> UI_DISCONNECT = 1\n");
    EXPECT_EQ(ds.done(), 1);
}

TEST_F(DataSourceTest, PictureThatFailsIsSkippedAndTheBatchGoesOn) {
    fakeSetCorrupt(2);
    ASSERT_NE(open(), nullptr);
    acquire({1, 2, 3});
    pump();
    const std::string t = ds.transcript();
    EXPECT_NE(t.find("-> UI_GETIMAGEINFO = header 4x3 24-bit\n"
                     "-> UI_GETIMAGE = null\n"
                     "-> UI_ToNextSelectedImage = 1\n"
                     "-> UI_GETIMAGEINFO = header 5x4 24-bit\n"
                     "-> UI_GETIMAGE = dib 5x4 24-bit 104 bytes movable 002.bmp\n"
                     "-> UI_ToNextSelectedImage = 0\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(t.find("msg=0x4002"), std::string::npos); // two of three: no close request
    EXPECT_EQ(ds.pictures(), 2);
    EXPECT_EQ(ds.errors(), 0);
    EXPECT_EQ(ds.done(), 0);
    EXPECT_EQ(readFile(bmp(2)), bmpFile(3));
}

struct BadPicture {
    const char* name;
    int fault; // Fake_SetFault
    const char* line;
    bool written;
};

class PictureFaults : public DataSourceTest, public ::testing::WithParamInterface<BadPicture> {};

TEST_P(PictureFaults, AreReportedAndOnlyWholeDibsWritten) {
    const BadPicture& c = GetParam();
    fakeSetFault(c.fault);
    ASSERT_NE(open(), nullptr);
    acquire({2});
    pump();
    const std::string t = ds.transcript();
    EXPECT_NE(t.find(std::string("\n!! ") + c.line + "\n-> UI_ToNextSelectedImage = 0\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(ds.errors(), 1);
    EXPECT_EQ(ds.pictures(), 1);
    EXPECT_EQ(exists(bmp(1)), c.written);
    if (c.written) {
        EXPECT_EQ(readFile(bmp(1)), bmpFile(2));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PictureFaults,
    ::testing::Values(
        BadPicture{"HeaderOfAnotherPicture", 1,
                   "the picture is 4x3 24-bit, UI_GETIMAGEINFO said 11x10 24-bit", true},
        BadPicture{"BlockShorterThanItsHeaderSays", 2, "the picture is no packed DIB", false},
        BadPicture{"NoHeader", 3, "a picture without UI_GETIMAGEINFO's header", true}),
    [](const ::testing::TestParamInfo<BadPicture>& info) { return std::string(info.param.name); });

TEST_F(DataSourceTest, RawCallsReturnCampanelsResultsAndWriteNoFile) {
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(ds.call("UI_GETIMAGE"), 0); // before any acquire
    acquire({4});
    pump();
    // After the batch of one the counter has wrapped: campanel hands out the cursor picture,
    // back on picture 1 since UI_ToFirstImage.
    const HGLOBAL again = reinterpret_cast<HGLOBAL>(ds.call("UI_GETIMAGE"));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GlobalSize(again), 40u + 12u * 2u);
    EXPECT_EQ(GlobalFree(again), nullptr);
    EXPECT_EQ(ds.call("UI_ToNextSelectedImage"), 1);
    const std::string t = ds.transcript();
    EXPECT_EQ(t.substr(0, t.find('\n') + 1), connectLine(browser));
    EXPECT_NE(t.find("\n-> UI_GETIMAGE = null\n<- DS_Entry"), std::string::npos) << t;
    const std::string tail = "-> UI_DISCONNECT = 1\n"
                             "-> UI_GETIMAGE = dib 3x2 24-bit 64 bytes movable\n"
                             "-> UI_ToNextSelectedImage = 1\n";
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
    EXPECT_TRUE(exists(bmp(1)));
    EXPECT_FALSE(exists(bmp(2)));
    EXPECT_EQ(ds.pictures(), 1);
}

TEST_F(DataSourceTest, RawCallOfAnUnknownFunctionIsAFault) {
    ASSERT_NE(open(), nullptr);
    ds.clearTranscript();
    EXPECT_EQ(ds.call("UI_CONNECT"), 0);
    EXPECT_EQ(ds.transcript(), std::string("!! TestDS_Call: no function UI_CONNECT\n"));
    EXPECT_EQ(ds.errors(), 1);
}

struct BadEntry {
    const char* name;
    bool origin;
    DWORD dg;
    WORD dat;
    WORD msg;
    uintptr_t data;
    const char* fault;
};

class DsEntryRejects : public DataSourceTest, public ::testing::WithParamInterface<BadEntry> {};

TEST_P(DsEntryRejects, WithAFaultAndWithoutCallingCampanel) {
    const BadEntry& c = GetParam();
    using EntryFn = WORD(WINAPI*)(void*, DWORD, WORD, WORD, void*);
    auto entry =
        reinterpret_cast<EntryFn>(reinterpret_cast<void*>(GetProcAddress(ds.module, "DS_Entry")));
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(open(), nullptr);
    fakeReset(fakecampanel::kPictures);
    ds.clearTranscript();
    unsigned char origin[156] = {};
    EXPECT_EQ(
        entry(c.origin ? origin : nullptr, c.dg, c.dat, c.msg, reinterpret_cast<void*>(c.data)),
        1); // TWRC_FAILURE
    char line[128];
    std::snprintf(line, sizeof line, "<- DS_Entry dg=0x%lX dat=0x%X msg=0x%X data=%lu nested=0\n",
                  c.dg, c.dat, c.msg, static_cast<unsigned long>(c.data));
    EXPECT_EQ(ds.transcript(), std::string(line) + "!! DS_Entry: " + c.fault + "\n");
    EXPECT_EQ(ds.errors(), 1);
    EXPECT_EQ(std::string(fakeLog()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DsEntryRejects,
    ::testing::Values(BadEntry{"NoOrigin", false, 0x4001, 0, 0x4001, 2, "no origin identity"},
                      BadEntry{"ControlGroup", true, 0x0001, 0, 0x4001, 2, "not a panel message"},
                      BadEntry{"NonzeroDat", true, 0x4001, 1, 0x4001, 2, "not a panel message"},
                      BadEntry{"UnknownMessage", true, 0x4001, 0, 0x4003, 0, "not a panel message"},
                      BadEntry{"ReadyForNone", true, 0x4001, 0, 0x4001, 0,
                               "not a number of pictures"},
                      BadEntry{"ReadyForMoreThan16Bits", true, 0x4001, 0, 0x4001, 0x10000,
                               "not a number of pictures"}),
    [](const ::testing::TestParamInfo<BadEntry>& info) { return std::string(info.param.name); });

TEST_F(DataSourceTest, OwnerFlagsAndPathReachUiConnect) {
    HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    const char* other = "Z:\\nowhere\\other.ds";
    EXPECT_EQ(ds.open(owner, 0x10000, other), nullptr);
    ASSERT_NE(open(owner, 0x10001, other), nullptr);
    EXPECT_EQ(GetWindow(browser, GW_OWNER), owner);
    EXPECT_EQ(std::string(fakeLog()), "UI_CONNECT " + std::string(other) + " owner=" + hex(owner) +
                                          " flags=0x10000 depth=0\n"
                                          "UI_CONNECT " +
                                          other + " owner=" + hex(owner) +
                                          " flags=0x10001 depth=0\n");
    const std::string prefix = "-> UI_CONNECT \"" + std::string(other) + "\" owner=" + hex(owner);
    EXPECT_EQ(ds.transcript(), prefix + " flags=0x10000 = 0x00000000\n" + prefix +
                                   " flags=0x10001 = " + hex(browser) + "\n");
    ds.call("UI_DISCONNECT");
    DestroyWindow(owner);
}

TEST_F(DataSourceTest, SeveralConnectAndDisconnectCyclesNumberTheFilesOn) {
    for (int cycle = 1; cycle <= 3; ++cycle) {
        ASSERT_NE(open(), nullptr) << cycle;
        EXPECT_EQ(ds.done(), 0) << cycle;
        acquire({cycle});
        pump();
        EXPECT_EQ(ds.done(), 1) << cycle;
        EXPECT_EQ(readFile(bmp(cycle)), bmpFile(cycle)) << cycle;
    }
    EXPECT_EQ(ds.pictures(), 3);
    EXPECT_EQ(ds.errors(), 0);
}

TEST_F(DataSourceTest, TranscriptIsCopiedToTheLogFile) {
    const std::string path = out + "transcript.txt";
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("LV_TWAIN_LOG", path.c_str());
    ASSERT_NE(open(), nullptr);
    command(browser::kIdExit);
    pump();
    SetEnvironmentVariableA("LV_TWAIN_LOG", nullptr);
    const std::vector<uint8_t> file = readFile(path);
    EXPECT_EQ(std::string(file.begin(), file.end()), ds.transcript());
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 4);
}

TEST_F(DataSourceTest, UnloadFreesCampanelAndOpenLoadsItAgain) {
    ASSERT_NE(open(), nullptr);
    ds.call("UI_DISCONNECT");
    ASSERT_EQ(ds.campanel(), fake);
    ds.unload();
    EXPECT_EQ(ds.campanel(), nullptr);
    ds.clearTranscript();
    EXPECT_EQ(ds.call("UI_GETIMAGE"), 0);
    EXPECT_EQ(ds.transcript(), std::string("!! TestDS_Call UI_GETIMAGE: campanel is not loaded\n"));
    ASSERT_NE(open(), nullptr);
    EXPECT_EQ(ds.campanel(), fake);
}

// twainhost as the demo runs it, in a process of its own.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA(besideThisProgram("work").c_str(), nullptr);
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = besideThisProgram(std::string("work\\Host") + test->name());
        CreateDirectoryA(folder.c_str(), nullptr);
        out = folder + "\\";
        for (const char* name : {"001.bmp", "002.bmp", "003.bmp", "ready"}) {
            DeleteFileA((out + name).c_str());
        }
    }

    // Runs twainhost with the arguments; its exit code, or -1 when it did not end in time.
    static int runHost(const std::string& arguments) {
        std::string command = "\"" + besideThisProgram("twainhost.exe") + "\" " + arguments;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            return -2;
        }
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &code);
        } else {
            TerminateProcess(pi.hProcess, 3);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return static_cast<int>(code);
    }

    std::string folder; // no backslash at the end: it would escape the closing quote
    std::string out;
};

TEST_F(HostTest, SelectsAcquiresAndEndsWithTheBmpsWritten) {
    EXPECT_EQ(runHost("--out \"" + folder + "\" --select 2,4 --ready \"" + out + "ready\""), 0);
    EXPECT_TRUE(exists(out + "ready"));
    EXPECT_EQ(readFile(out + "001.bmp"), bmpFile(2));
    EXPECT_EQ(readFile(out + "002.bmp"), bmpFile(4));
    EXPECT_FALSE(exists(out + "003.bmp"));
}

TEST_F(HostTest, PictureThatFailsEndsWithExitAndCode1) {
    SetEnvironmentVariableA("LV_FAKE_CORRUPT", "1");
    const int code = runHost("--out \"" + folder + "\" --select 1,2");
    SetEnvironmentVariableA("LV_FAKE_CORRUPT", nullptr);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(readFile(out + "001.bmp"), bmpFile(2));
    EXPECT_FALSE(exists(out + "002.bmp"));
}

TEST_F(HostTest, WaitsForTheGoFileBeforeAcquiring) {
    const std::string go = out + "go";
    DeleteFileA(go.c_str());
    std::string command = "\"" + besideThisProgram("twainhost.exe") + "\" --out \"" + folder +
                          "\" --select 5 --ready \"" + out + "ready\" --go \"" + go + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    // The host's own pace: wait for its ready file, then see that it holds back.
    for (int i = 0; i < 600 && !exists(out + "ready"); ++i) {
        WaitForSingleObject(pi.hProcess, 100);
    }
    EXPECT_TRUE(exists(out + "ready"));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(exists(out + "001.bmp"));
    std::fclose(std::fopen(go.c_str(), "w"));
    DWORD code = 99;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        TerminateProcess(pi.hProcess, 3);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(readFile(out + "001.bmp"), bmpFile(5));
}

} // namespace
