// setup.exe's result in a fresh prefix, then the installed programs at work: pixdesk started
// by the user and by an automation client, and keypurge starting uninst.exe through the short
// "UninstallString". installer_test.sh runs setup.exe and picks the stage with --gtest_filter.
#include "framework/testing/msgbox_watcher.h"
#include "framework/testing/test_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ole2.h>
#include <shlobj.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char kProduct[] = "LUMIVERA LV2700c5";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUMIVERA LV2700c5";
const char kProgId[] = "PIXDESK.Application";
const char kClsid[] = "{82596823-8B11-11D5-B405-0050BA2C88AA}";
const char kClsidKey[] = "CLSID\\{82596823-8B11-11D5-B405-0050BA2C88AA}";
const char kBrowserCaption[] = "LUMIVERA LV2700c5  V2.08 -- LUMIVERA Imaging";
// The uninstaller's caption goes on with the page's name.
const char kUninstallerCaption[] = "LUMIVERA LV2700c5 2.08 Uninstall";
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kEndTimeoutMs = 30000;

using Clock = std::chrono::steady_clock;

// Polls `condition` every 20 ms for up to `timeoutMs`: what another process does can only be
// watched, not waited for.
template <typename Condition> bool waitFor(Condition condition, DWORD timeoutMs) {
    const Clock::time_point start = Clock::now();
    while (!condition()) {
        if (std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() >
            timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

std::string env(const char* name) {
    char value[1024] = {};
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? value : "";
}

std::string shellFolder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, path)) ? path : "";
}

std::string windowsFolder() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, sizeof path);
    return path;
}

// Where setup puts things, as a 32-bit program sees them.
struct Places {
    std::string program = shellFolder(CSIDL_PROGRAM_FILES) + "\\" + kProduct;
    std::string twain = windowsFolder() + "\\twain_32\\LUMIVERA";
    std::string menu = shellFolder(CSIDL_COMMON_PROGRAMS) + "\\" + kProduct;
};

using lvtest::fileBytes;

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A string value, or "<missing>".
std::string regValue(HKEY root, const std::string& key, const char* name) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS) {
        return "<missing>";
    }
    char text[512] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG rc =
        RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS && type == REG_SZ ? text : "<missing>";
}

bool keyExists(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

// The file a DLL or program is packed from, as the runner names it in LV_BUILT_<NAME>.
struct InstalledFile {
    const char* name;
    const char* builtVariable;
    bool inTwainFolder;
};

std::vector<InstalledFile> installedFiles() {
    std::vector<InstalledFile> files = {
        {"pixdesk.exe", "LV_BUILT_PIXDESK", false},
        {"keypurge.exe", "LV_BUILT_KEYPURGE", false},
        {"campanel.dll", "LV_BUILT_CAMPANEL", true},
    };
    if (!env("LV_BUILT_DATASOURCE").empty()) {
        files.push_back({"lv2700c5.ds", "LV_BUILT_DATASOURCE", true});
    }
    return files;
}

std::string pathOf(const Places& places, const InstalledFile& file) {
    return (file.inTwainFolder ? places.twain : places.program) + "\\" + file.name;
}

// The six entries of the automation server, for a server at `program`.
struct Entry {
    std::string key;
    std::string value;
};

std::vector<Entry> automationEntries(const std::string& program) {
    const std::string clsid = kClsidKey;
    return {
        {kProgId, kProgId},
        {clsid, kProgId},
        {std::string(kProgId) + "\\CLSID", kClsid},
        {clsid + "\\ProgID", kProgId},
        {clsid + "\\InprocHandler32", "ole32.dll"},
        {clsid + "\\LocalServer32", program},
    };
}

std::string longPath(const std::string& path) {
    char buffer[MAX_PATH] = {};
    const DWORD n = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? buffer : "";
}

// A process started here, ended if a failed test leaves it running.
class Process {
public:
    explicit Process(const std::string& program) {
        std::string line = "\"" + program + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            id_ = info.dwProcessId;
            handle_ = info.hProcess;
        }
    }
    ~Process() {
        if (handle_ != nullptr) {
            if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
                TerminateProcess(handle_, 99);
            }
            CloseHandle(handle_);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return handle_ != nullptr; }
    DWORD id() const { return id_; }
    // The exit code, or STILL_ACTIVE when it did not end in time.
    DWORD waitForEnd(DWORD timeoutMs = kEndTimeoutMs) const {
        DWORD code = STILL_ACTIVE;
        if (handle_ != nullptr && WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(handle_, &code);
        }
        return code;
    }

private:
    DWORD id_ = 0;
    HANDLE handle_ = nullptr;
};

struct FoundWindow {
    const char* caption;
    DWORD process; // 0: any
    bool prefixOnly;
    HWND window;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    auto* f = reinterpret_cast<FoundWindow*>(param);
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const bool named = f->prefixOnly ? std::strncmp(text, f->caption, std::strlen(f->caption)) == 0
                                     : std::strcmp(text, f->caption) == 0;
    if (named && IsWindowVisible(window) && (f->process == 0 || f->process == process)) {
        f->window = window;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window captioned `caption` (or a caption beginning with it), of
// `process` or of any process.
HWND shownWindow(const char* caption, DWORD process = 0, bool prefixOnly = false) {
    FoundWindow f = {caption, process, prefixOnly, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&f));
    return f.window;
}

HWND waitForWindow(const char* caption, DWORD process = 0, bool prefixOnly = false) {
    HWND window = nullptr;
    waitFor([&] { return (window = shownWindow(caption, process, prefixOnly)) != nullptr; },
            kStartTimeoutMs);
    return window;
}

// The program file of a running process.
std::string imageOf(DWORD process) {
    using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    char path[MAX_PATH] = {};
    DWORD size = sizeof path;
    const bool ok = query != nullptr && handle != nullptr && query(handle, 0, path, &size);
    if (handle != nullptr) {
        CloseHandle(handle);
    }
    return ok ? path : "";
}

class Installed : public ::testing::Test {
protected:
    Places places;
};

TEST_F(Installed, EveryFileIsInItsPlaceAsBuilt) {
    for (const InstalledFile& file : installedFiles()) {
        const std::string built = env(file.builtVariable);
        ASSERT_FALSE(built.empty()) << file.builtVariable;
        const std::vector<char> expected = fileBytes(built);
        ASSERT_FALSE(expected.empty()) << built;
        EXPECT_EQ(fileBytes(pathOf(places, file)), expected) << pathOf(places, file);
    }
    EXPECT_TRUE(exists(places.program + "\\uninst.exe"));
}

TEST_F(Installed, TheDataSourceIsThereOnlyWhenItWasBuilt) {
    EXPECT_EQ(exists(places.twain + "\\lv2700c5.ds"), !env("LV_BUILT_DATASOURCE").empty());
}

// The program a shortcut starts, or "" when it cannot be read.
std::string shortcutTarget(const std::string& link) {
    std::string target;
    if (FAILED(CoInitialize(nullptr))) {
        return target;
    }
    IShellLinkA* shortcut = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&shortcut)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(
                shortcut->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            const std::wstring name(link.begin(), link.end());
            char path[MAX_PATH] = {};
            if (SUCCEEDED(file->Load(name.c_str(), STGM_READ)) &&
                SUCCEEDED(shortcut->GetPath(path, sizeof path, nullptr, 0))) {
                target = path;
            }
            file->Release();
        }
        shortcut->Release();
    }
    CoUninitialize();
    return target;
}

TEST_F(Installed, TheStartMenuFolderHasPixdeskAndUninstallWhichRunsKeypurge) {
    EXPECT_EQ(shortcutTarget(places.menu + "\\pixdesk.lnk"), places.program + "\\pixdesk.exe");
    EXPECT_EQ(shortcutTarget(places.menu + "\\Uninstall.lnk"), places.program + "\\keypurge.exe");
}

TEST_F(Installed, TheUninstallKeyDescribesTheProduct) {
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayName"), kProduct);
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayVersion"), "2.08");
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "Publisher"), "LUMIVERA Imaging");
    EXPECT_EQ(regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "DisplayIcon"),
              places.program + "\\pixdesk.exe");
}

// keypurge takes everything up to the first blank as the uninstaller's path.
TEST_F(Installed, TheUninstallStringIsTheUninstallersShortPathWithoutABlank) {
    ASSERT_NE(places.program.find(' '), std::string::npos) << "the test needs a folder with blanks";
    const std::string command = regValue(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString");
    EXPECT_EQ(command.find(' '), std::string::npos) << command;
    EXPECT_EQ(longPath(command), places.program + "\\uninst.exe") << command;
}

TEST_F(Installed, TheAutomationServerIsRegisteredAtTheInstalledProgram) {
    for (const Entry& entry : automationEntries(places.program + "\\pixdesk.exe")) {
        EXPECT_EQ(regValue(HKEY_CLASSES_ROOT, entry.key, nullptr), entry.value) << entry.key;
    }
}

// Without /S setup shows its pages; cancelling on the first one installs nothing.
class SetupPages : public Installed {};

TEST_F(SetupPages, ShowTheProductsNameAndVersionAndCancelInstallsNothing) {
    Process setup(env("LV_SETUP"));
    ASSERT_TRUE(setup.started()) << env("LV_SETUP");
    HWND window = waitForWindow("LUMIVERA LV2700c5 2.08 Setup", setup.id(), true);
    ASSERT_NE(window, nullptr);
    HWND cancel = GetDlgItem(window, IDCANCEL);
    ASSERT_TRUE(waitFor([&] { return IsWindowEnabled(cancel) != FALSE; }, kEndTimeoutMs));
    PostMessageA(cancel, BM_CLICK, 0, 0);
    EXPECT_NE(setup.waitForEnd(), STILL_ACTIVE);
    EXPECT_FALSE(exists(places.program));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
}

class InstalledPixdesk : public Installed {};

TEST_F(InstalledPixdesk, StartsFromItsPlaceAndEndsOnClose) {
    // No camera in this prefix: the browser says so and comes up empty.
    lvtest::MessageBoxWatcher watcher("pixdesk", {IDOK});
    Process pixdesk(places.program + "\\pixdesk.exe");
    ASSERT_TRUE(pixdesk.started());
    HWND dialog = waitForWindow(kBrowserCaption, pixdesk.id());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(imageOf(pixdesk.id()), places.program + "\\pixdesk.exe");
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(pixdesk.waitForEnd(), 0u);
    ASSERT_FALSE(watcher.seen().empty());
    EXPECT_EQ(watcher.seen()[0].text.rfind("Can not find digital camera!", 0), 0u);
}

// Its own start writes the same six entries over setup's.
TEST_F(InstalledPixdesk, LeavesTheAutomationEntriesAsSetupWroteThem) {
    for (const Entry& entry : automationEntries(places.program + "\\pixdesk.exe")) {
        EXPECT_EQ(regValue(HKEY_CLASSES_ROOT, entry.key, nullptr), entry.value) << entry.key;
    }
}

class InstalledAutomation : public Installed {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
};

TEST_F(InstalledAutomation, AClientStartsTheInstalledCopyByProgId) {
    lvtest::MessageBoxWatcher watcher("pixdesk", {IDOK});
    std::wstring progId(kProgId, kProgId + std::strlen(kProgId));
    CLSID clsid = {};
    ASSERT_EQ(CLSIDFromProgID(progId.c_str(), &clsid), S_OK);
    IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);

    HWND dialog = waitForWindow(kBrowserCaption);
    ASSERT_NE(dialog, nullptr);
    DWORD server = 0;
    GetWindowThreadProcessId(dialog, &server);
    EXPECT_EQ(imageOf(server), places.program + "\\pixdesk.exe");
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, server);
    ASSERT_NE(process, nullptr);

    UINT count = 9;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    object->Release();
    // The copy serves this client only: it ends with the release.
    EXPECT_EQ(WaitForSingleObject(process, kEndTimeoutMs), WAIT_OBJECT_0);
    CloseHandle(process);
}

// The user's own things in the program folder, which the uninstaller must leave.
struct UserThings {
    std::string file;
    std::string folder;
    explicit UserThings(const Places& places)
        : file(places.program + "\\my picture.jpg"), folder(places.program + "\\My pictures") {}
};

class Uninstall : public Installed {};

TEST_F(Uninstall, KeypurgeStartsUninstExeWhichRemovesWhatSetupWrote) {
    const UserThings user(places);
    ASSERT_TRUE(exists(user.file)) << "the runner puts it there";
    ASSERT_TRUE(exists(user.folder)) << "the runner puts it there";

    lvtest::MessageBoxWatcher question("keypurge", {IDYES});
    Process keypurge(places.program + "\\keypurge.exe");
    ASSERT_TRUE(keypurge.started());
    EXPECT_EQ(keypurge.waitForEnd(), 0u);
    ASSERT_TRUE(question.waitForCount(1, kEndTimeoutMs));
    EXPECT_EQ(question.seen()[0].text, "Confirm Device Removal ?");

    // The uninstaller asks in its own window; its first button goes on.
    HWND uninstaller = waitForWindow(kUninstallerCaption, 0, true);
    ASSERT_NE(uninstaller, nullptr) << "uninst.exe did not start";
    HWND proceed = GetDlgItem(uninstaller, IDOK);
    ASSERT_TRUE(waitFor([&] { return IsWindowEnabled(proceed) != FALSE; }, kEndTimeoutMs));
    PostMessageA(proceed, BM_CLICK, 0, 0);
    // It closes itself when done.
    ASSERT_TRUE(waitFor([&] { return shownWindow(kUninstallerCaption, 0, true) == nullptr; },
                        kStartTimeoutMs));

    for (const InstalledFile& file : installedFiles()) {
        EXPECT_FALSE(exists(pathOf(places, file))) << pathOf(places, file);
    }
    EXPECT_FALSE(exists(places.program + "\\uninst.exe"));
    EXPECT_FALSE(exists(places.twain));
    EXPECT_FALSE(exists(places.menu));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClsidKey));

    EXPECT_TRUE(exists(user.file));
    EXPECT_TRUE(exists(user.folder));
    EXPECT_TRUE(exists(places.program)) << "it holds the user's things";
    EXPECT_TRUE(exists(windowsFolder() + "\\twain_32")) << "not setup's";
}

} // namespace
