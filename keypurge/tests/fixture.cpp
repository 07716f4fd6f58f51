#include "fixture.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace kptest {

const char kDeviceKey[] = "Enum\\USB\\VID_0F3C&PID_2700";
const char kClassFolder[] = "System\\CurrentControlSet\\Services\\Class";
const char kImagingClass[] =
    "SYSTEM\\CurrentControlSet\\control\\class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUMIVERA LV2700c5";
const char kProduct[] = "LUMIVERA LV2700c5";

namespace {

// The driver class keys the cases create all live below this one.
const char kTestClass[] = "System\\CurrentControlSet\\Services\\Class\\LvkpTest";

HKEY openOrCreate(const std::string& key) {
    HKEY handle = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &handle, nullptr);
    EXPECT_EQ(result, ERROR_SUCCESS) << key;
    return result == ERROR_SUCCESS ? handle : nullptr;
}

// Deletes a key only when it has no subkeys, so parents the cases created do not pile up.
void removeIfEmpty(const char* key) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
}

void removeMatching(const std::string& folder, const char* pattern) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            removeFile(folder + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

std::string scratchPath() {
    return windowsDir().substr(0, 3) + "lvkptest\\";
}

} // namespace

void setString(const std::string& key, const char* name, const std::string& value) {
    setRaw(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void setRaw(const std::string& key, const char* name, DWORD type, const void* data, DWORD size) {
    HKEY handle = openOrCreate(key);
    if (handle == nullptr)
        return;
    EXPECT_EQ(RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS)
        << key << " " << name;
    RegCloseKey(handle);
}

void setUnterminated(const std::string& key, const char* name, const std::string& value) {
    // Wine's RegSetValueExA takes the byte after a string in as its terminator when that byte is
    // zero, so what follows the data must not be.
    std::vector<char> bytes(value.begin(), value.end());
    bytes.push_back('!');
    setRaw(key, name, REG_SZ, bytes.data(), static_cast<DWORD>(value.size()));
}

void createKey(const std::string& key) {
    if (HKEY handle = openOrCreate(key))
        RegCloseKey(handle);
}

bool keyExists(const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void removeKeyTree(const std::string& key) {
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str());
}

std::string imagingInstance(int index) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", index);
    return std::string(kImagingClass) + "\\" + name;
}

std::string windowsDir() {
    char path[MAX_PATH] = {};
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string infDir() {
    return windowsDir() + "\\inf\\";
}

std::string scratchDir() {
    const std::string dir = scratchPath();
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

std::string moduleDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

void writeFile(const std::string& path, bool readOnly) {
    {
        std::ofstream out(path, std::ios::binary);
        out << "; written by the keypurge tests\r\n";
        ASSERT_TRUE(out.good()) << path;
    }
    if (readOnly) {
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
    }
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void removeFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

void copyUninstaller(const std::string& to) {
    ASSERT_TRUE(CopyFileA((moduleDir() + "kp_uninstaller.exe").c_str(), to.c_str(), FALSE)) << to;
}

bool readRecord(const std::string& exePath, UninstallerRecord& record) {
    std::ifstream in(exePath + ".record");
    if (!in)
        return false;
    record = UninstallerRecord();
    std::string line;
    while (std::getline(in, line)) {
        const std::string::size_type tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string tag = line.substr(0, tab);
        const std::string text = line.substr(tab + 1);
        if (tag == "pid")
            record.pid = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
        else if (tag == "cmdline")
            record.commandLine = text;
        else if (tag == "arg")
            record.args.push_back(text);
        else if (tag == "env")
            record.env.push_back(text);
    }
    return true;
}

std::vector<DWORD> processesNamed(const char* exeName) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        const char* base = std::strrchr(entry.szExeFile, '\\');
        base = base != nullptr ? base + 1 : entry.szExeFile;
        if (lstrcmpiA(base, exeName) == 0)
            pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return pids;
}

bool stillRunning(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

UninstallerRun::UninstallerRun() {
    static int runs = 0;
    const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs);
    recorded_ = CreateEventA(nullptr, TRUE, FALSE, ("lvkp-" + tag + "-recorded").c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, ("lvkp-" + tag + "-release").c_str());
    marker_ = "LVKP_TEST_TAG=" + tag;
    // Both the runtime's copy (what spawn passes on) and the process's (what CreateProcess does).
    _putenv(marker_.c_str());
    SetEnvironmentVariableA("LVKP_TEST_TAG", tag.c_str());
}

UninstallerRun::~UninstallerRun() {
    release();
    for (const char* name : {"unins.exe", "with.exe", "kp_uninstaller.exe"}) {
        for (DWORD pid : processesNamed(name)) {
            if (HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
                WaitForSingleObject(process, 30000);
                CloseHandle(process);
            }
        }
    }
    _putenv("LVKP_TEST_TAG=");
    SetEnvironmentVariableA("LVKP_TEST_TAG", nullptr);
    CloseHandle(recorded_);
    CloseHandle(release_);
}

bool UninstallerRun::waitRecorded(DWORD timeoutMs) {
    return WaitForSingleObject(recorded_, timeoutMs) == WAIT_OBJECT_0;
}

void UninstallerRun::release() {
    SetEvent(release_);
}

int runKeypurge(DWORD timeoutMs) {
    std::string command = "\"" + moduleDir() + "keypurge.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    int code = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = static_cast<int>(exitCode);
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

void KeypurgeTest::SetUp() {
    cleanAll();
}

void KeypurgeTest::TearDown() {
    cleanAll();
}

void KeypurgeTest::cleanAll() {
    removeKeyTree(kDeviceKey);
    removeIfEmpty("Enum\\USB");
    removeIfEmpty("Enum");
    removeKeyTree(kTestClass);
    removeIfEmpty(kClassFolder);
    for (int index = 0; index <= 10; ++index)
        removeKeyTree(imagingInstance(index));
    removeKeyTree(kUninstallKey);

    const std::string inf = infDir();
    removeMatching(inf, "OEM*");
    removeMatching(inf, "LVKP*");
    removeMatching(inf + "other\\", "MicrosoftLV2700c5.inf");
    removeMatching(inf + "other\\", "lvkp*");
    RemoveDirectoryA((inf + "other").c_str());
    removeFile(windowsDir() + "\\lvkp-sentinel.ini");
    removeFile(windowsDir().substr(0, 3) + "lvkp-x.inf");

    const std::string scratch = scratchPath();
    removeMatching(scratch + "with blank\\", "*");
    RemoveDirectoryA((scratch + "with blank").c_str());
    removeMatching(scratch, "*");
    RemoveDirectoryA(scratch.c_str());
}

} // namespace kptest
