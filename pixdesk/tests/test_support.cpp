#include "pixdesk/tests/test_support.h"

#include "framework/testing/folder_browser.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pixdesktest {

std::string scratchFolder(const char* name) {
    return lvtest::scratchFolder(std::string("pixdesk-") + name);
}

void deleteRegistryTree(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    char name[256];
    DWORD size = sizeof name;
    // Always the first subkey: the deletes renumber the rest.
    while (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        deleteRegistryTree(root, path + "\\" + name);
        size = sizeof name;
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

} // namespace pixdesktest
