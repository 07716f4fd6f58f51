// What the keypurge tests share: registry and file helpers written against the plain API (not
// against the code under test), the stand-in uninstaller's record, and a fixture that cleans
// every key and file the cases create before and after each case.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kptest {

// The keys the program works on, spelled out here on their own.
extern const char kDeviceKey[];
extern const char kClassFolder[];  // driver class keys of the tests live below it
extern const char kImagingClass[]; // class-instance keys 0000 .. 0009 live below it
extern const char kUninstallKey[];
extern const char kProduct[];

// HKEY_LOCAL_MACHINE helpers; each fails the running test when the API fails.
void setString(const std::string& key, const char* name, const std::string& value);
// Stores `size` bytes as they are, so a string can be stored without its terminating zero.
void setRaw(const std::string& key, const char* name, DWORD type, const void* data, DWORD size);
// Stores the characters of `value` as a string with no terminating zero.
void setUnterminated(const std::string& key, const char* name, const std::string& value);
void createKey(const std::string& key);
bool keyExists(const std::string& key);
void removeKeyTree(const std::string& key);
std::string imagingInstance(int index); // the class-instance key "000n" (or "0010")

// Files.
std::string windowsDir(); // C:\windows
std::string infDir();     // C:\windows\inf\ (with the backslash)
std::string scratchDir(); // C:\lvkptest\ (with the backslash), created on demand
std::string moduleDir();  // the folder of the test program, with the backslash
void writeFile(const std::string& path, bool readOnly);
bool fileExists(const std::string& path);
bool isReadOnly(const std::string& path);
void removeFile(const std::string& path); // clears the attributes first
void copyUninstaller(const std::string& to);

// What the stand-in uninstaller wrote about its start.
struct UninstallerRecord {
    DWORD pid = 0;
    std::string commandLine;
    std::vector<std::string> args;
    std::vector<std::string> env;
};
bool readRecord(const std::string& exePath, UninstallerRecord& record);

// Processes on the machine whose file name is `exeName` (case-insensitive).
std::vector<DWORD> processesNamed(const char* exeName);
bool stillRunning(DWORD pid);

// One start of the stand-in uninstaller: names the run in LVKP_TEST_TAG (for the runtime's
// environment and the process's), lets the uninstaller signal that it has recorded and holds it
// until release(); the destructor releases it and waits for every stand-in to end.
class UninstallerRun {
public:
    UninstallerRun();
    ~UninstallerRun();
    UninstallerRun(const UninstallerRun&) = delete;
    UninstallerRun& operator=(const UninstallerRun&) = delete;

    bool waitRecorded(DWORD timeoutMs);
    void release();
    const std::string& marker() const { return marker_; } // "LVKP_TEST_TAG=<tag>"

private:
    std::string marker_;
    HANDLE recorded_ = nullptr;
    HANDLE release_ = nullptr;
};

// Runs keypurge.exe, which sits beside the test program; returns its exit code or -1.
int runKeypurge(DWORD timeoutMs);

// Cleans the registry keys, INF files and scratch folder of the cases around each case.
class KeypurgeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static void cleanAll();
};

} // namespace kptest
