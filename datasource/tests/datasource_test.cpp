// lv2700c5.ds driven by twhost under Wine and Xvfb, against the simulated camera over both
// links (the browser window test's runner starts camsim on COM1 or puts the Still Image
// stand-in beside the program; LV_TEST_LINK, LV_TEST_CARD).
//
// Two managers, each run in a process of its own (GTEST_FILTER in CMakeLists.txt):
// - Direct: twhost's own 2.x manager code loads lv2700c5.ds from a TWAIN folder beside
//   the program;
// - Twain32: Wine's twain_32.dll. It loads sources only under the fixed names "sane.ds"
//   and "gphoto2.ds" in C:\windows\twain_32 (twain_64 in the 64-bit build); so the test
//   installs lv2700c5.ds there as gphoto2.ds, with campanel.dll beside it, in its own
//   prefix, and tells Wine to load that file rather than its built-in one.
#include "browser/layout.h"
#include "browser/win32/tests/cell_clicks.h"
#include "datasource/tests/twhost.h"
#include "framework/testing/msgbox_watcher.h"
#include "framework/testing/test_files.h"
#include "jpeg/decode_picture.h"
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace twhost;

constexpr char kCaption[] = "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging";
constexpr unsigned kTimeoutMs = 120000;

using lvtest::env;
using lvtest::programFolder;

std::string directSourcePath() {
    return programFolder() + kSourceFolder + "\\LUMIVERA\\lv2700c5.ds";
}

void copyFile(const std::string& from, const std::string& to) {
    EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE))
        << from << " -> " << to << " error " << GetLastError();
}

// The built data source and campanel.dll, installed where each manager looks, by the first
// session (the host's own tests need no source).
void installOnce() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    const std::string folder = programFolder() + kSourceFolder + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "LUMIVERA\\").c_str(), nullptr);
    copyFile(LV_DS_FILE, directSourcePath());
    copyFile(LV_CAMPANEL_FILE, folder + "LUMIVERA\\campanel.dll");

    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string wine = std::string(windows) + "\\" + kSourceFolder + "\\";
    CreateDirectoryA(wine.c_str(), nullptr);
    copyFile(LV_DS_FILE, wine + "gphoto2.ds");
    copyFile(LV_CAMPANEL_FILE, wine + "campanel.dll");
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const char native[] = "native";
        RegSetValueExA(key, "gphoto2.ds", 0, REG_SZ, reinterpret_cast<const BYTE*>(native),
                       sizeof native);
        RegCloseKey(key);
    }
}

// The picture the card's file decodes to, as campanel decodes it.
class NoUi : public platform::UserInterface {
public:
    int messageBox(const char*, unsigned) override { return platform::kIdOk; }
    void requestClose() override {}
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}
};
class NoList : public jpeg::PictureSink {
public:
    bool add(const char*, std::uint32_t, std::uint32_t, platform::GlobalHandle) override {
        return false;
    }
    void setCurrentInfo(const platform::BitmapInfoHeader*) override {}
};

std::vector<std::uint8_t> decodedCardPicture(int number) {
    char name[16];
    std::snprintf(name, sizeof name, "S%07d.JPG", number);
    const std::vector<std::uint8_t> file =
        lvtest::fileBytes<std::uint8_t>(env("LV_TEST_CARD") + "\\" + name);
    if (file.empty()) {
        return {};
    }
    NoUi ui;
    NoList list;
    platform::GlobalHandle dib = nullptr;
    if (jpeg::decodePicture(ui, list, file.data(), std::uint32_t(file.size()), 0x7000, nullptr, 0,
                            &dib) != 1) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(platform::globalLock(dib));
    std::vector<std::uint8_t> out(bytes, bytes + platform::globalSize(dib));
    platform::globalUnlock(dib);
    platform::globalFree(dib);
    return out;
}

enum class Kind { Direct, Twain32 };

class Session : public ::testing::Test {
protected:
    void start(Kind kind) {
        installOnce();
        link_ = env("LV_TEST_LINK");
        owner = CreateWindowExA(0, "STATIC", "image editor", WS_OVERLAPPEDWINDOW, 600, 100, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
        if (kind == Kind::Direct) {
            manager = std::make_unique<DirectManager>(directSourcePath());
        } else {
            manager = std::make_unique<WineManager>();
        }
        host = std::make_unique<Host>(*manager, owner);
        boxes = std::make_unique<lvtest::MessageBoxWatcher>("campanel", std::vector<int>{IDOK});
    }
    void TearDown() override {
        for (const lvtest::SeenMessageBox& box : boxes->seen()) {
            ADD_FAILURE() << "campanel showed \"" << box.text << "\"";
        }
        boxes.reset();
        host.reset();
        manager.reset();
        if (HWND left = FindWindowA(nullptr, kCaption)) {
            ADD_FAILURE() << "the browser window was left open";
            DestroyWindow(left);
        }
        DestroyWindow(owner);
    }
    // Opens and enables the source; the browser's start-up messages are answered.
    void openAndEnable(bool showUI = true) {
        ASSERT_TRUE(host->open()) << errorText();
        enableBrowser(showUI);
    }
    void enableBrowser(bool showUI = true) {
        boxes.reset();
        lvtest::MessageBoxWatcher watcher("campanel", {IDOK});
        enableResult = host->enable(showUI);
        startUpMessages = watcher.seen();
        boxes = std::make_unique<lvtest::MessageBoxWatcher>("campanel", std::vector<int>{IDOK});
        browser = FindWindowA(nullptr, kCaption);
        host->pump();
    }
    void clickCell(int cell, WPARAM keys = 0) { lvtest::clickCell(browser, cell, keys); }
    void acquire(std::vector<int> cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            clickCell(cells[i], i == 0 ? 0 : MK_CONTROL);
        }
        PostMessageA(browser, WM_COMMAND, browser::kIdAcquire, 0);
    }
    bool camera() const { return link_ != "none"; }
    std::string errorText() const {
        std::string text;
        for (const std::string& e : host->errors) {
            text += e + "\n";
        }
        return text;
    }
    void expectPicture(const Picture& got, int number) {
        const std::vector<std::uint8_t> want = decodedCardPicture(number);
        ASSERT_FALSE(want.empty()) << "card picture " << number;
        ASSERT_GE(got.dib.size(), 40u);
        BITMAPINFOHEADER h;
        std::memcpy(&h, got.dib.data(), sizeof h);
        EXPECT_EQ(got.info.ImageWidth, h.biWidth);
        EXPECT_EQ(got.info.ImageLength, h.biHeight);
        EXPECT_EQ(got.info.BitsPerPixel, 24);
        EXPECT_EQ(got.info.XResolution.Whole, 72);
        EXPECT_TRUE(got.movable);
        // The whole packed DIB, header and rows (GlobalSize may round up the block).
        ASSERT_GE(got.dib.size(), want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.dib.begin()))
            << "picture " << number << " differs from the card's decoded file";
    }

    std::unique_ptr<Manager> manager;
    // Answers and records campanel's message boxes outside the start-up.
    std::unique_ptr<lvtest::MessageBoxWatcher> boxes;
    std::unique_ptr<Host> host;
    HWND owner = nullptr;
    HWND browser = nullptr;
    TW_UINT16 enableResult = 0;
    std::vector<lvtest::SeenMessageBox> startUpMessages;
    std::string link_;
};

class Acquire : public Session, public ::testing::WithParamInterface<Kind> {
protected:
    void SetUp() override { start(GetParam()); }
};

TEST_P(Acquire, TakesTheSelectedPicturesWholeAndClosesOnRequest) {
    openAndEnable();
    ASSERT_EQ(enableResult, TWRC_SUCCESS);
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(IsWindowVisible(browser));
    if (!camera()) {
        ASSERT_EQ(startUpMessages.size(), 1u);
        EXPECT_EQ(startUpMessages[0].text.rfind("Can not find digital camera!", 0), 0u);
        PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
        ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
        EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_CLOSEDSREQ}));
        return;
    }
    acquire({1, 3});
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(host->errors, std::vector<std::string>());
    EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_XFERREADY, MSG_CLOSEDSREQ}));
    ASSERT_EQ(host->pictures.size(), 2u);
    EXPECT_EQ(host->pictures[0].countAfter, 1);
    EXPECT_EQ(host->pictures[1].countAfter, 0);
    expectPicture(host->pictures[0], 1);
    expectPicture(host->pictures[1], 3);
    EXPECT_FALSE(IsWindow(browser));
}

TEST_P(Acquire, ExitAsksTheHostToClose) {
    openAndEnable();
    ASSERT_NE(browser, nullptr);
    PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_CLOSEDSREQ}));
    EXPECT_TRUE(host->pictures.empty());
    EXPECT_FALSE(IsWindow(browser));
}

INSTANTIATE_TEST_SUITE_P(Direct, Acquire, ::testing::Values(Kind::Direct));
INSTANTIATE_TEST_SUITE_P(Twain32, Acquire, ::testing::Values(Kind::Twain32));

struct Triplet {
    const char* name;
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
};

// The rest through the direct manager: the source's own behaviour.
class DirectSource : public Session {
protected:
    void SetUp() override { start(Kind::Direct); }
    // The result and condition code of one triplet without data of interest.
    struct Outcome {
        TW_UINT16 rc;
        TW_UINT16 cc;
    };
    Outcome triplet(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg) {
        union {
            TW_IMAGEINFO info;
            TW_IMAGELAYOUT layout;
            TW_PENDINGXFERS pending;
            TW_USERINTERFACE ui;
            TW_HANDLE handle;
        } data;
        std::memset(&data, 0, sizeof data);
        data.ui.hParent = owner;
        MSG m = {};
        TW_EVENT event = {&m, MSG_NULL};
        Outcome o = {};
        o.rc =
            host->call(dg, dat, msg, dat == DAT_EVENT ? static_cast<void*>(&event) : &data, &o.cc);
        if (o.rc == TWRC_XFERDONE) {
            GlobalFree(data.handle);
        }
        return o;
    }
    void expectSeqErrors(const char* state, std::vector<Triplet> triplets) {
        for (const Triplet& t : triplets) {
            const Outcome o = triplet(t.dg, t.dat, t.msg);
            EXPECT_EQ(o.rc, TWRC_FAILURE) << t.name << " in state " << state;
            EXPECT_EQ(o.cc, TWCC_SEQERROR) << t.name << " in state " << state;
        }
    }
    void expectSeqError(const char* state, const char* name, TW_UINT16 rc, TW_UINT16 cc) {
        EXPECT_EQ(rc, TWRC_FAILURE) << name << " in state " << state;
        EXPECT_EQ(cc, TWCC_SEQERROR) << name << " in state " << state;
    }
};

const Triplet kDisable = {"MSG_DISABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS};
const Triplet kEnable = {"MSG_ENABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS};
const Triplet kEvent = {"MSG_PROCESSEVENT", DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT};
const Triplet kEndXfer = {"MSG_ENDXFER", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER};
const Triplet kResetXfers = {"PENDINGXFERS MSG_RESET", DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET};
const Triplet kImageInfo = {"DAT_IMAGEINFO", DG_IMAGE, DAT_IMAGEINFO, MSG_GET};
const Triplet kNative = {"DAT_IMAGENATIVEXFER", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET};
const Triplet kLayout = {"DAT_IMAGELAYOUT", DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET};

TEST_F(DirectSource, TripletsInTheWrongStateAreSequenceErrors) {
    ASSERT_TRUE(host->open()) << errorText();
    expectSeqErrors("4", {kDisable, kEvent, kEndXfer, kResetXfers, kImageInfo, kNative});
    enableBrowser();
    ASSERT_EQ(enableResult, TWRC_SUCCESS);
    expectSeqErrors("5", {kEnable, kEndXfer, kResetXfers, kImageInfo, kNative});
    TW_UINT16 cc = 0;
    const TW_UINT16 rc = host->setOne(CAP_XFERCOUNT, TWTY_INT16, 1, &cc);
    expectSeqError("5", "CAP_XFERCOUNT MSG_SET", rc, cc);
    if (!camera()) {
        PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
        ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
        return;
    }
    // States 6 and 7, inside the batch of one picture.
    host->onXferReady = [&](Host& h) {
        expectSeqErrors("6", {kEnable, kDisable});
        TW_UINT16 c = 0;
        const TW_UINT16 r = h.setOne(CAP_XFERCOUNT, TWTY_INT16, 1, &c);
        expectSeqError("6", "CAP_XFERCOUNT MSG_SET", r, c);
        EXPECT_EQ(triplet(DG_IMAGE, DAT_IMAGEINFO, MSG_GET).rc, TWRC_SUCCESS);
        EXPECT_EQ(triplet(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET).rc, TWRC_XFERDONE);
        expectSeqErrors("7", {kEnable, kDisable, kNative, kResetXfers, kLayout});
        TW_PENDINGXFERS pending = {};
        EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
        EXPECT_EQ(pending.Count, 0);
    };
    acquire({2});
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_XFERREADY, MSG_CLOSEDSREQ}));
}

TEST_F(DirectSource, BeforeOpeningOnlyTheIdentityAnswers) {
    // The manager's listing loads the source; it has not been opened.
    TW_IDENTITY id = {};
    TW_IDENTITY app = {};
    HMODULE ds = LoadLibraryA(directSourcePath().c_str());
    ASSERT_NE(ds, nullptr);
    auto entry =
        reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(ds, "DS_Entry")));
    ASSERT_NE(entry, nullptr);
    id.Id = 77;
    ASSERT_EQ(entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, 77u); // the manager's number is kept
    EXPECT_STREQ(id.ProductName, "LUMIVERA LV2700c5");
    EXPECT_STREQ(id.Manufacturer, "LUMIVERA Imaging");
    EXPECT_STREQ(id.Version.Info, "2.08");
    EXPECT_EQ(id.Version.MajorNum, 2);
    EXPECT_EQ(id.Version.MinorNum, 8);
    EXPECT_EQ(id.SupportedGroups & 0xFFFF, DG_CONTROL | DG_IMAGE);
    EXPECT_NE(id.SupportedGroups & DF_DS2, 0u);
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(entry(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
    TW_STATUS status = {};
    EXPECT_EQ(entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);
    FreeLibrary(ds);
}

TEST_F(DirectSource, CapabilitiesHaveTheirOneValue) {
    ASSERT_TRUE(host->open()) << errorText();
    struct Row {
        TW_UINT16 cap, type;
        TW_UINT32 value;
        TW_INT32 support;
    };
    const TW_INT32 readOnly = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
    const TW_INT32 settable = readOnly | TWQC_SET | TWQC_RESET;
    const Row rows[] = {
        {CAP_XFERCOUNT, TWTY_INT16, 0xFFFF, settable},
        {CAP_UICONTROLLABLE, TWTY_BOOL, 0, readOnly},
        {CAP_INDICATORS, TWTY_BOOL, 1, settable},
        {CAP_DEVICEONLINE, TWTY_BOOL, 1, readOnly},
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE, settable},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, settable},
        {ICAP_BITDEPTH, TWTY_UINT16, 24, settable},
        {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, settable},
        {ICAP_XRESOLUTION, TWTY_FIX32, 72, settable}, // 72.0: Whole 72, Frac 0
        {ICAP_YRESOLUTION, TWTY_FIX32, 72, settable},
        {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, settable},
    };
    for (const Row& row : rows) {
        for (TW_UINT16 msg : {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT}) {
            TW_UINT16 type = 0xEEEE;
            TW_UINT32 value = 0xEEEEEEEE;
            ASSERT_EQ(host->getOne(row.cap, msg, type, value), TWRC_SUCCESS) << row.cap;
            EXPECT_EQ(type, row.type) << row.cap;
            EXPECT_EQ(value, row.value) << row.cap << " msg " << msg;
        }
        TW_UINT16 type = 0;
        TW_UINT32 value = 0;
        ASSERT_EQ(host->getOne(row.cap, MSG_QUERYSUPPORT, type, value), TWRC_SUCCESS);
        EXPECT_EQ(TW_INT32(value), row.support) << row.cap;
        // Its own value is accepted by the settable ones, and refused by the others.
        TW_UINT16 cc = 0;
        const TW_UINT16 rc = host->setOne(row.cap, row.type, row.value, &cc);
        EXPECT_EQ(rc, row.support == settable ? TWRC_SUCCESS : TWRC_FAILURE) << row.cap;
        if (row.support != settable) {
            EXPECT_EQ(cc, TWCC_CAPBADOPERATION) << row.cap;
        }
    }
    TW_UINT16 cc = 0;
    EXPECT_EQ(host->setOne(ICAP_PIXELTYPE, TWTY_UINT16, 1 /* grey */, &cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_BADVALUE);
    EXPECT_EQ(host->setOne(CAP_XFERCOUNT, TWTY_INT16, 0, &cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_BADVALUE);
    EXPECT_EQ(host->setOne(0x1101 /* ICAP_BRIGHTNESS */, TWTY_FIX32, 0, &cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_CAPUNSUPPORTED);

    // The list of supported capabilities names the rows and itself.
    TW_CAPABILITY list = {CAP_SUPPORTEDCAPS, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(host->call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &list), TWRC_SUCCESS);
    ASSERT_EQ(list.ConType, TWON_ARRAY);
    const auto* array = static_cast<const TW_ARRAY*>(GlobalLock(list.hContainer));
    EXPECT_EQ(array->ItemType, TWTY_UINT16);
    EXPECT_EQ(array->NumItems, std::size(rows) + 1);
    std::vector<TW_UINT16> ids(array->NumItems);
    std::memcpy(ids.data(), array->ItemList, ids.size() * 2);
    GlobalUnlock(list.hContainer);
    GlobalFree(list.hContainer);
    for (const Row& row : rows) {
        EXPECT_NE(std::find(ids.begin(), ids.end(), row.cap), ids.end()) << row.cap;
    }

    // Changed and reset.
    ASSERT_EQ(host->setOne(CAP_XFERCOUNT, TWTY_INT16, 3), TWRC_SUCCESS);
    TW_UINT16 type = 0;
    TW_UINT32 value = 0;
    ASSERT_EQ(host->getOne(CAP_XFERCOUNT, MSG_GETCURRENT, type, value), TWRC_SUCCESS);
    EXPECT_EQ(value, 3u);
    ASSERT_EQ(host->getOne(CAP_XFERCOUNT, MSG_RESET, type, value), TWRC_SUCCESS);
    EXPECT_EQ(value, 0xFFFFu);

    // Unknown triplets.
    EXPECT_EQ(triplet(DG_CONTROL, DAT_XFERGROUP, MSG_GET).cc, TWCC_BADPROTOCOL);
    EXPECT_EQ(triplet(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET).cc, TWCC_BADPROTOCOL);
    EXPECT_EQ(triplet(0x0004 /* DG_AUDIO */, 0x0201, MSG_GET).cc, TWCC_BADPROTOCOL);
    EXPECT_EQ(triplet(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY).cc, TWCC_BADPROTOCOL);
}

TEST_F(DirectSource, XferCountOfOneTakesOnePictureAndEnds) {
    if (!camera()) {
        GTEST_SKIP() << "no pictures";
    }
    ASSERT_TRUE(host->open()) << errorText();
    ASSERT_EQ(host->setOne(CAP_XFERCOUNT, TWTY_INT16, 1), TWRC_SUCCESS);
    enableBrowser();
    acquire({1, 2, 3});
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(host->errors, std::vector<std::string>());
    EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_XFERREADY, MSG_CLOSEDSREQ}));
    ASSERT_EQ(host->pictures.size(), 1u);
    EXPECT_EQ(host->pictures[0].countAfter, 0);
    expectPicture(host->pictures[0], 1);
    EXPECT_FALSE(IsWindow(browser));
}

TEST_F(DirectSource, ResetCancelsTheBatch) {
    if (!camera()) {
        GTEST_SKIP() << "no pictures";
    }
    ASSERT_TRUE(host->open()) << errorText();
    enableBrowser();
    TW_PENDINGXFERS before = {}, after = {};
    host->onXferReady = [&](Host& h) {
        h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &before);
        EXPECT_EQ(h.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &after), TWRC_SUCCESS);
    };
    acquire({1, 2});
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(before.Count, 2);
    EXPECT_EQ(after.Count, 0);
    EXPECT_TRUE(host->pictures.empty());
    EXPECT_EQ(host->events, std::vector<TW_UINT16>({MSG_XFERREADY, MSG_CLOSEDSREQ}));
    EXPECT_FALSE(IsWindow(browser));
}

TEST_F(DirectSource, ClosingWithTheBrowserOpenClosesTheBrowser) {
    openAndEnable();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(host->closeSource(), TWRC_SUCCESS);
    EXPECT_FALSE(IsWindow(browser));
    // And the source opens again.
    host.reset(); // one host at a time: it owns the callback
    host = std::make_unique<Host>(*manager, owner);
    openAndEnable();
    ASSERT_NE(browser, nullptr);
    PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
}

TEST_F(DirectSource, WithoutUiTheBrowserOpensAllTheSame) {
    openAndEnable(false);
    EXPECT_EQ(enableResult, TWRC_CHECKSTATUS);
    ASSERT_NE(browser, nullptr);
    EXPECT_TRUE(IsWindowVisible(browser));
    TW_UINT16 type = 0;
    TW_UINT32 value = 1;
    ASSERT_EQ(host->getOne(CAP_UICONTROLLABLE, MSG_GET, type, value), TWRC_SUCCESS);
    EXPECT_EQ(value, 0u);
    PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
}

TEST_F(DirectSource, MessagesReachTheHostThroughItsCallback) {
    openAndEnable();
    ASSERT_NE(browser, nullptr);
    PostMessageA(browser, WM_COMMAND, browser::kIdExit, 0);
    ASSERT_TRUE(host->runUntilClosed(kTimeoutMs)) << errorText();
    EXPECT_EQ(DirectManager::sourceMessages(), std::vector<TW_UINT16>({MSG_CLOSEDSREQ}));
}

// ---- the .bmp files twhost.exe writes
struct BmpCase {
    const char* name;
    LONG width, height;
    WORD bits;
    DWORD compression, colours, sizeImage;
    std::size_t extra; // GlobalSize's rounding up, past the header, table and rows
    std::vector<std::uint8_t> fileHeader;
};

std::vector<std::uint8_t> packedDib(const BmpCase& c, std::size_t tableAndRows) {
    BITMAPINFOHEADER h = {};
    h.biSize = sizeof h;
    h.biWidth = c.width;
    h.biHeight = c.height;
    h.biPlanes = 1;
    h.biBitCount = c.bits;
    h.biCompression = c.compression;
    h.biClrUsed = c.colours;
    h.biSizeImage = c.sizeImage;
    std::vector<std::uint8_t> dib(sizeof h + tableAndRows + c.extra);
    std::memcpy(dib.data(), &h, sizeof h);
    for (std::size_t i = sizeof h; i < dib.size(); ++i) {
        dib[i] = std::uint8_t(i * 7);
    }
    return dib;
}

TEST(BmpFile, HeaderCountsTheDibsHeaderTableAndRows) {
    // Size and offset by hand: rows padded to 4 bytes; a table of 2^bits entries for 8 bits
    // and less unless biClrUsed says; three masks for BI_BITFIELDS.
    // clang-format off
    const BmpCase cases[] = {
        // 2x2 at 24 bits: 2 rows of 8 bytes; 14 + 40 + 16 = 70, offset 54.
        {"24-bit", 2, 2, 24, BI_RGB, 0, 0, 8, {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}},
        // Top-down rows count the same.
        {"top-down", 2, -2, 24, BI_RGB, 0, 0, 0, {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}},
        // 3x1 at 8 bits: 1024 bytes of table, a row of 4; 14 + 40 + 1024 + 4 = 1082 (0x43A).
        {"8-bit", 3, 1, 8, BI_RGB, 0, 0, 2, {'B', 'M', 0x3A, 4, 0, 0, 0, 0, 0, 0, 0x36, 4, 0, 0}},
        // 16 colours used of 256: 64 bytes of table; 14 + 40 + 64 + 4 = 122, offset 118.
        {"used 16", 3, 1, 8, BI_RGB, 16, 0, 0, {'B', 'M', 122, 0, 0, 0, 0, 0, 0, 0, 118, 0, 0, 0}},
        // 1x1 at 32 bits with masks and biSizeImage: 14 + 40 + 12 + 4 = 70, offset 66.
        {"32-bit", 1, 1, 32, BI_BITFIELDS, 0, 4, 0,
         {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0}},
    };
    // clang-format on
    for (const BmpCase& c : cases) {
        const std::uint32_t size = c.fileHeader[2] | c.fileHeader[3] << 8;
        const std::vector<std::uint8_t> dib = packedDib(c, size - 54); // 54: file and DIB headers
        const std::vector<std::uint8_t> file = bmpFile(dib);
        ASSERT_EQ(file.size(), size) << c.name;
        EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 14), c.fileHeader)
            << c.name;
        EXPECT_TRUE(std::equal(file.begin() + 14, file.end(), dib.begin()))
            << c.name << ": the DIB as received";
    }
}

TEST(BmpFile, NoFileForBytesThatAreNoWholeDib) {
    const BmpCase rgb = {"24-bit", 2, 2, 24, BI_RGB, 0, 0, 0, {}};
    EXPECT_TRUE(bmpFile({}).empty());
    EXPECT_TRUE(bmpFile(std::vector<std::uint8_t>(39)).empty()); // shorter than a header
    std::vector<std::uint8_t> cut = packedDib(rgb, 16);
    cut.pop_back(); // the last row short of a byte
    EXPECT_TRUE(bmpFile(cut).empty());
    std::vector<std::uint8_t> core = packedDib(rgb, 16);
    core[0] = 12; // a BITMAPCOREHEADER: not what a native transfer hands over
    EXPECT_TRUE(bmpFile(core).empty());
    BmpCase wide = rgb;
    wide.width = 0;
    EXPECT_TRUE(bmpFile(packedDib(wide, 16)).empty());
}

} // namespace
