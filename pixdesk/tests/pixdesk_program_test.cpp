// pixdesk.exe itself, started beside this test as the user starts it and as the platform
// starts it for an automation client: the registry entries by command line, the ends of
// the dialog, the About box, and the lifetimes of the copies that serve clients.
#include "pixdesk/automation.h"
#include "pixdesk/resource.h"
#include "pixdesk/tests/test_support.h"

#include <gtest/gtest.h>

#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {

const char kCaption[] = "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging";
const char kAboutCaption[] = "About LUMIVERA LV2700c5";
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kEndTimeoutMs = 20000;

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct Found {
    DWORD process;
    const char* caption;
    bool visibleOnly;
    HWND window;
};

BOOL CALLBACK findWindow(HWND window, LPARAM param) {
    auto* f = reinterpret_cast<Found*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    if (process == f->process && std::strcmp(text, f->caption) == 0 &&
        (!f->visibleOnly || IsWindowVisible(window))) {
        f->window = window;
        return FALSE;
    }
    return TRUE;
}

// The top-level window of `process` captioned `caption`, or null.
HWND windowOf(DWORD process, const char* caption, bool visibleOnly = true) {
    Found f = {process, caption, visibleOnly, nullptr};
    EnumWindows(findWindow, reinterpret_cast<LPARAM>(&f));
    return f.window;
}

BOOL CALLBACK collectDialogs(HWND window, LPARAM param) {
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    if (std::strcmp(text, kCaption) == 0) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        reinterpret_cast<std::set<DWORD>*>(param)->insert(process);
    }
    return TRUE;
}

// The processes that have a browser window, shown or hidden.
std::set<DWORD> processesWithDialogs() {
    std::set<DWORD> processes;
    EnumWindows(collectDialogs, reinterpret_cast<LPARAM>(&processes));
    return processes;
}

// Polls `condition` every 20 ms for up to `timeoutMs`; what a window in another process
// does cannot be waited for any other way.
template <typename Condition> bool waitFor(Condition condition, DWORD timeoutMs) {
    const Clock::time_point start = Clock::now();
    while (!condition()) {
        if (millisecondsSince(start) > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

// One running copy of pixdesk, started here or by the platform for a client.
class Copy {
public:
    Copy() = default;
    Copy(Copy&& other) noexcept : id_(other.id_), process_(other.process_) {
        other.process_ = nullptr;
    }
    Copy& operator=(Copy&&) = delete;
    // A copy left running by a failed test is ended.
    ~Copy() { close(); }

    // Takes on the copy that runs as process `id`.
    void adopt(DWORD id) {
        close();
        id_ = id;
        process_ =
            OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id);
    }

    // Starts pixdesk.exe beside this test with `arguments`.
    static Copy start(const std::string& arguments) {
        std::string line = "\"" + pixdesktest::programFolder() + "pixdesk.exe\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        Copy copy;
        if (CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            copy.id_ = info.dwProcessId;
            copy.process_ = info.hProcess;
        }
        return copy;
    }

    DWORD id() const { return id_; }
    bool running() const {
        return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
    }
    // The browser window, once it is shown; null when it did not show in time.
    HWND dialog(DWORD timeoutMs = kStartTimeoutMs) const {
        HWND window = nullptr;
        waitFor([&] { return (window = windowOf(id_, kCaption)) != nullptr; }, timeoutMs);
        return window;
    }
    HWND dialogEvenHidden() const { return windowOf(id_, kCaption, false); }
    // Whether the copy runs with the client's width: a 32-bit process on 64-bit Windows runs
    // under WOW64, a 64-bit one does not.
    bool sameWidthAsThisProgram() const {
        BOOL copyWow64 = FALSE, ownWow64 = FALSE;
        return process_ != nullptr && IsWow64Process(process_, &copyWow64) &&
               IsWow64Process(GetCurrentProcess(), &ownWow64) && copyWow64 == ownWow64;
    }
    // The exit code once the process ended, or STILL_ACTIVE when it did not in time.
    DWORD waitForEnd(DWORD timeoutMs = kEndTimeoutMs) const {
        DWORD code = STILL_ACTIVE;
        if (process_ != nullptr && WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process_, &code);
        }
        return code;
    }
    void exitButton() const {
        PostMessageA(dialog(), WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog(), IDC_EXIT)));
    }

private:
    void close() {
        if (process_ != nullptr) {
            if (running()) {
                TerminateProcess(process_, 99);
            }
            CloseHandle(process_);
            process_ = nullptr;
        }
    }

    DWORD id_ = 0;
    HANDLE process_ = nullptr;
};

// HKEY_CLASSES_ROOT's entries of the server.
const std::string kClsid = pixdesk::kClsidKey;

void removeRegistration() {
    pixdesktest::deleteRegistryTree(HKEY_CLASSES_ROOT, pixdesk::kProgId);
    pixdesktest::deleteRegistryTree(HKEY_CLASSES_ROOT, kClsid.c_str());
}

std::string classesValue(const std::string& path) {
    char text[512] = {};
    LONG size = sizeof text;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), text, &size) != ERROR_SUCCESS) {
        return "<missing>";
    }
    return text;
}

bool classesKeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

// Runs a copy with `arguments` from its start to EXIT.
void runOnce(const std::string& arguments) {
    Copy copy = Copy::start(arguments);
    ASSERT_NE(copy.dialog(), nullptr) << arguments;
    copy.exitButton();
    EXPECT_EQ(copy.waitForEnd(), 0u) << arguments;
}

struct CommandLineCase {
    const char* arguments;
    bool writes;
};

class RegistryByCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(RegistryByCommandLine, OnlyAStartWithoutASwitchWritesTheEntries) {
    const CommandLineCase& c = GetParam();
    removeRegistration();
    if (c.writes) {
        // Those written only when missing keep what was there.
        RegSetValueA(HKEY_CLASSES_ROOT, pixdesk::kProgId, REG_SZ, "kept", 0);
        RegSetValueA(HKEY_CLASSES_ROOT, kClsid.c_str(), REG_SZ, "kept too", 0);
    }
    runOnce(c.arguments);
    if (!c.writes) {
        EXPECT_FALSE(classesKeyExists(pixdesk::kProgId));
        EXPECT_FALSE(classesKeyExists(kClsid));
        return;
    }
    EXPECT_EQ(classesValue(pixdesk::kProgId), "kept");
    EXPECT_EQ(classesValue(kClsid), "kept too");
    EXPECT_EQ(classesValue(std::string(pixdesk::kProgId) + "\\CLSID"),
              "{82596823-8B11-11D5-B405-0050BA2C88AA}");
    EXPECT_EQ(classesValue(kClsid + "\\ProgID"), "PIXDESK.Application");
    EXPECT_EQ(classesValue(kClsid + "\\InprocHandler32"), "ole32.dll");
    EXPECT_EQ(classesValue(kClsid + "\\LocalServer32"),
              pixdesktest::programFolder() + "pixdesk.exe");
}

const CommandLineCase kCommandLines[] = {
    {"", true},
    {"-embedding", true},
    {"/Automation", false},
    {"-Embedding", false},
    {"picture/Automation.txt", false},
};

INSTANTIATE_TEST_SUITE_P(Starts, RegistryByCommandLine, ::testing::ValuesIn(kCommandLines));

struct EndCase {
    const char* name;
    UINT message;
    WPARAM wParam;
};

class UserCopyEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(UserCopyEnds, ByExitCloseBoxOrEscape) {
    const EndCase& c = GetParam();
    Copy copy = Copy::start("");
    HWND dialog = copy.dialog();
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, c.message, c.wParam, 0);
    EXPECT_EQ(copy.waitForEnd(), 0u) << c.name;
}

const EndCase kEnds[] = {
    {"EXIT", WM_COMMAND, MAKEWPARAM(IDC_EXIT, BN_CLICKED)},
    {"close box", WM_SYSCOMMAND, SC_CLOSE},
    {"Escape", WM_KEYDOWN, VK_ESCAPE},
};

INSTANTIATE_TEST_SUITE_P(Ends, UserCopyEnds, ::testing::ValuesIn(kEnds), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name) {
        ch = ch == ' ' ? '_' : ch;
    }
    return name;
});

BOOL CALLBACK collectTexts(HWND window, LPARAM param) {
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    reinterpret_cast<std::set<std::string>*>(param)->insert(text);
    return TRUE;
}

TEST(AboutBox, OpensForEverySystemCommandFrom0x10To0x1F) {
    Copy copy = Copy::start("");
    HWND dialog = copy.dialog();
    ASSERT_NE(dialog, nullptr);
    for (WPARAM id : {0x0010u, 0x0017u, 0x001Fu}) {
        PostMessageA(dialog, WM_SYSCOMMAND, id, 0);
        HWND about = nullptr;
        ASSERT_TRUE(
            waitFor([&] { return (about = windowOf(copy.id(), kAboutCaption)) != nullptr; }, 10000))
            << id;
        std::set<std::string> texts;
        EnumChildWindows(about, collectTexts, reinterpret_cast<LPARAM>(&texts));
        EXPECT_EQ(texts.count("LUMIVERA LV2700c5 Version 2.08"), 1u);
        EXPECT_EQ(texts.count("OK"), 1u);
        // Over the middle of the browser window.
        RECT box = {}, owner = {};
        GetWindowRect(about, &box);
        GetWindowRect(dialog, &owner);
        EXPECT_LE(std::abs((box.left + box.right) - (owner.left + owner.right)), 2);
        EXPECT_LE(std::abs((box.top + box.bottom) - (owner.top + owner.bottom)), 2);
        PostMessageA(about, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(about); }, 10000)) << id;
    }
    EXPECT_TRUE(copy.running());
    copy.exitButton();
    EXPECT_EQ(copy.waitForEnd(), 0u);
}

// Clients of the automation object. The registration comes from a start by the user.
class Automation : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        OleInitialize(nullptr);
        removeRegistration();
        runOnce("");
    }
    static void TearDownTestSuite() { OleUninitialize(); }

    // Creates an object by ProgID and finds the copy that the platform started for it.
    IUnknown* create(Copy& copy, long long* startMs = nullptr) {
        CLSID clsid = {};
        EXPECT_EQ(CLSIDFromProgID(L"PIXDESK.Application", &clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, pixdesk::kClsidPixdesk));
        const std::set<DWORD> before = processesWithDialogs();
        const Clock::time_point start = Clock::now();
        IUnknown* object = nullptr;
        const HRESULT result = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                                reinterpret_cast<void**>(&object));
        EXPECT_EQ(result, S_OK);
        DWORD started = 0;
        waitFor(
            [&] {
                for (DWORD process : processesWithDialogs()) {
                    if (before.count(process) == 0 && windowOf(process, kCaption) != nullptr) {
                        started = process;
                        return true;
                    }
                }
                return false;
            },
            kStartTimeoutMs);
        if (startMs != nullptr) {
            *startMs = millisecondsSince(start);
        }
        EXPECT_NE(started, 0u) << "no new copy showed its dialog";
        copy.adopt(started);
        return object;
    }
};

TEST_F(Automation, AClientsObjectKeepsItsCopyAliveHiddenUntilTheRelease) {
    Copy copy;
    long long startMs = 0;
    IUnknown* object = create(copy, &startMs);
    ASSERT_NE(object, nullptr);
    ASSERT_TRUE(copy.running());
    EXPECT_TRUE(copy.sameWidthAsThisProgram());
    std::printf("automation: creation to the copy's dialog on screen: %lld ms\n", startMs);

    IDispatch* dispatch = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    UINT count = 9;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    wchar_t name[] = L"Visible";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
              DISP_E_UNKNOWNNAME);
    DISPPARAMS none = {};
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                               nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    // The object answers the dispatch interface's IID (automation_test.cpp), but with no
    // type library and no proxy registered for it the platform cannot carry it to another
    // process: a client there reaches the object through IDispatch.
    IUnknown* other = nullptr;
    EXPECT_EQ(object->QueryInterface(pixdesk::kDiidPixdesk, reinterpret_cast<void**>(&other)),
              E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&other)),
              E_NOINTERFACE);
    dispatch->Release();

    // EXIT only hides the dialog while the object is held.
    copy.exitButton();
    EXPECT_TRUE(waitFor([&] { return windowOf(copy.id(), kCaption) == nullptr; }, 10000));
    EXPECT_NE(copy.dialogEvenHidden(), nullptr);
    EXPECT_TRUE(copy.running());

    const Clock::time_point released = Clock::now();
    object->Release();
    EXPECT_EQ(copy.waitForEnd(), 0u);
    std::printf("automation: release to the end of the hidden copy: %lld ms\n",
                millisecondsSince(released));
}

TEST_F(Automation, TwoClientsGetTwoCopiesAndAReleaseEndsAVisibleOne) {
    Copy first, second;
    IUnknown* one = create(first);
    IUnknown* two = create(second);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(two, nullptr);
    EXPECT_NE(first.id(), second.id());
    ASSERT_NE(first.dialog(), nullptr);

    const Clock::time_point released = Clock::now();
    one->Release();
    EXPECT_EQ(first.waitForEnd(), 0u);
    std::printf("automation: release to the end of a visible copy: %lld ms\n",
                millisecondsSince(released));
    EXPECT_TRUE(second.running());
    EXPECT_NE(second.dialog(), nullptr);
    two->Release();
    EXPECT_EQ(second.waitForEnd(), 0u);
}

TEST_F(Automation, ACopyStartedByTheUserNeverServesAClient) {
    Copy user = Copy::start("");
    ASSERT_NE(user.dialog(), nullptr);
    Copy served;
    IUnknown* object = create(served);
    ASSERT_NE(object, nullptr);
    EXPECT_NE(served.id(), user.id());
    object->Release();
    EXPECT_EQ(served.waitForEnd(), 0u);
    EXPECT_TRUE(user.running());
    user.exitButton();
    EXPECT_EQ(user.waitForEnd(), 0u);
}

} // namespace
