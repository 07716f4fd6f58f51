#include "keypurge/purge.h"

#include <process.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace keypurge {

namespace {

const char kDeviceKey[] = "Enum\\USB\\VID_0F3C&PID_2700";
const char kInstancePrefix[] = "Enum\\USB\\VID_0F3C&PID_2700\\INST_";
const char kDriverValue[] = "Driver";
const char kDriverClassPrefix[] = "System\\CurrentControlSet\\Services\\Class\\";
const char kImagingInstancePrefix[] =
    "SYSTEM\\CurrentControlSet\\control\\class\\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\000";
const char kDriverDescValue[] = "DriverDesc";
const char kProductName[] = "LUMIVERA LV2700c5";
const char kInfPathValue[] = "InfPath";
const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\LUMIVERA LV2700c5";
const char kUninstallValue[] = "UninstallString";

const char kAttribSuffix[] = "\\system32\\attrib.exe";
const char kInfFolderSuffix[] = "\\inf\\";
const char kCopiedInfSuffix[] = "\\inf\\other\\MicrosoftLV2700c5.inf";

// Registry keys nest at most 512 deep; a deeper walk means something is wrong, so stop there.
const int kMaxKeyDepth = 512;
// A key name is at most 255 characters, which may take two bytes each in a multi-byte code page.
const DWORD kKeyNameBufferSize = 512;

// Index at which a name of the form OEMn.INF is turned into OEMn.PNF.
const std::size_t kPnfLetterIndex = 5;

bool deleteTree(HKEY parent, const char* subKey, int depth) {
    HKEY key = nullptr;
    if (depth < kMaxKeyDepth &&
        RegOpenKeyExA(parent, subKey, 0, KEY_ENUMERATE_SUB_KEYS, &key) == ERROR_SUCCESS) {
        char child[kKeyNameBufferSize];
        DWORD index = 0;
        for (;;) {
            DWORD length = sizeof child;
            LONG result =
                RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_MORE_DATA) {
                ++index; // a name that does not fit cannot be opened by name: leave it
                continue;
            }
            if (result != ERROR_SUCCESS)
                break;
            // A deleted child moves the next one to this index; one that stays is stepped over.
            if (!deleteTree(key, child, depth + 1))
                ++index;
        }
        RegCloseKey(key);
    }
    return RegDeleteKeyA(parent, subKey) == ERROR_SUCCESS;
}

// Joins the parts into `out`; false when the result would not fit a Windows path.
bool buildPath(std::string& out, const std::string& folder, const char* suffix,
               const char* name = "") {
    out = folder;
    out += suffix;
    out += name;
    return out.size() < MAX_PATH;
}

// The C runtime joins spawn arguments with blanks and no quoting, so an argument that holds a
// blank has to bring its own quotes to stay one argument.
std::string commandLineArgument(const std::string& argument) {
    if (argument.find_first_of(" \t") == std::string::npos)
        return argument;
    return '"' + argument + '"';
}

void clearReadOnlyAndRemove(const std::string& attrib, const std::string& file) {
    const std::string tool = commandLineArgument(attrib);
    const std::string target = commandLineArgument(file);
    _spawnle(_P_WAIT, attrib.c_str(), tool.c_str(), "-r", target.c_str(),
             static_cast<const char*>(nullptr), _environ);
    std::remove(file.c_str());
}

// Removes the INF file named by one class instance and its precompiled PNF twin.
void removeInstalledInf(const std::string& folder, const std::string& attrib, char* infName) {
    if (!isPlainFileName(infName))
        return;
    std::string file;
    if (buildPath(file, folder, kInfFolderSuffix, infName))
        clearReadOnlyAndRemove(attrib, file);
    // OEMn.INF becomes OEMn.PNF; a shorter name has no letter to replace there.
    if (std::strlen(infName) <= kPnfLetterIndex)
        return;
    infName[kPnfLetterIndex] = 'P';
    if (buildPath(file, folder, kInfFolderSuffix, infName))
        clearReadOnlyAndRemove(attrib, file);
}

} // namespace

bool readStringValue(HKEY key, const char* name, char* buffer, DWORD size) {
    if (size == 0)
        return false;
    DWORD type = REG_NONE;
    DWORD length = size;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length) !=
        ERROR_SUCCESS)
        return false;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || length > size)
        return false;
    if (std::memchr(buffer, '\0', length) != nullptr)
        return true;
    if (length == size)
        return false; // no room left for the zero
    buffer[length] = '\0';
    return true;
}

bool deleteKeyTree(HKEY parent, const char* subKey) {
    return deleteTree(parent, subKey, 0);
}

bool isRelativeKeyPath(const char* path) {
    if (*path == '\0' || *path == '\\')
        return false;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' && (p[1] == '\\' || p[1] == '\0'))
            return false;
    }
    return true;
}

bool isPlainFileName(const char* name) {
    if (*name == '\0' || std::strstr(name, "..") != nullptr)
        return false;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    }
    return std::strcmp(name, ".") != 0;
}

bool windowsFolder(std::string& folder) {
    char buffer[kWindowsFolderBufferSize];
    const UINT length = GetWindowsDirectoryA(buffer, kWindowsFolderBufferSize);
    if (length == 0 || length >= kWindowsFolderBufferSize)
        return false;
    folder.assign(buffer, length);
    // Only a folder at the root of a drive ends with a backslash; every suffix brings its own.
    if (folder.back() == '\\')
        folder.pop_back();
    return true;
}

void removeDeviceInstances() {
    char keyPath[sizeof kInstancePrefix + 1];
    std::memcpy(keyPath, kInstancePrefix, sizeof kInstancePrefix);
    keyPath[sizeof kInstancePrefix] = '\0';
    for (char digit = '0'; digit <= '9'; ++digit) {
        keyPath[sizeof kInstancePrefix - 1] = digit;
        HKEY instance = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &instance) !=
            ERROR_SUCCESS)
            continue;
        char driver[kValueBufferSize];
        // An empty or malformed value would name the class folder itself or one of its parents.
        if (readStringValue(instance, kDriverValue, driver, sizeof driver) &&
            isRelativeKeyPath(driver)) {
            const std::string classKey = std::string(kDriverClassPrefix) + driver;
            deleteKeyTree(HKEY_LOCAL_MACHINE, classKey.c_str());
        }
        RegCloseKey(instance);
    }
}

void removeDeviceKey() {
    deleteKeyTree(HKEY_LOCAL_MACHINE, kDeviceKey);
}

void removeInfFiles() {
    std::string folder;
    if (!windowsFolder(folder))
        return;
    std::string attrib;
    if (!buildPath(attrib, folder, kAttribSuffix))
        return;
    std::string copiedInf;
    if (buildPath(copiedInf, folder, kCopiedInfSuffix))
        std::remove(copiedInf.c_str());

    char keyPath[sizeof kImagingInstancePrefix + 1];
    std::memcpy(keyPath, kImagingInstancePrefix, sizeof kImagingInstancePrefix);
    keyPath[sizeof kImagingInstancePrefix] = '\0';
    for (char digit = '0'; digit <= '9'; ++digit) {
        keyPath[sizeof kImagingInstancePrefix - 1] = digit;
        HKEY instance = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &instance) !=
            ERROR_SUCCESS)
            continue;
        char description[kValueBufferSize];
        char infName[kValueBufferSize];
        const bool ours =
            readStringValue(instance, kDriverDescValue, description, sizeof description) &&
            std::strcmp(description, kProductName) == 0 &&
            readStringValue(instance, kInfPathValue, infName, sizeof infName);
        RegCloseKey(instance);
        if (ours)
            removeInstalledInf(folder, attrib, infName);
    }
}

void startUninstaller() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    char command[kUninstallBufferSize];
    const bool read = readStringValue(key, kUninstallValue, command, sizeof command);
    RegCloseKey(key);
    if (!read)
        return;

    // The path runs to the first blank, as strtok would cut it (leading blanks skipped); what
    // follows that blank goes to the uninstaller unchanged as its argument.
    const char* start = command + std::strspn(command, " ");
    const char* blank = std::strchr(start, ' ');
    const std::string path = blank != nullptr ? std::string(start, blank) : std::string(start);
    if (path.empty())
        return;
    std::intptr_t process;
    if (blank != nullptr && blank[1] != '\0')
        process = _spawnle(_P_NOWAIT, path.c_str(), path.c_str(), blank + 1,
                           static_cast<const char*>(nullptr), _environ);
    else
        process = _spawnle(_P_NOWAIT, path.c_str(), path.c_str(), static_cast<const char*>(nullptr),
                           _environ);
    // The uninstaller runs on its own; only our handle to it is given back.
    if (process != -1)
        CloseHandle(reinterpret_cast<HANDLE>(process));
}

void purge() {
    removeDeviceInstances();
    removeDeviceKey();
    removeInfFiles();
    startUninstaller();
}

} // namespace keypurge
