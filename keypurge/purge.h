// The clean-up pass of keypurge: removes what the camera's USB driver installation left in the
// registry and the INF folder, then starts the product's uninstaller. Each step is best effort
// and silent: whatever is missing or cannot be removed is passed over.
#pragma once

#include <windows.h>

#include <string>

namespace keypurge {

// Registry values are read into buffers of this size, the uninstaller's command into a larger one.
constexpr DWORD kValueBufferSize = 128;
constexpr DWORD kUninstallBufferSize = 200;
// The Windows folder is asked for with a buffer of this size.
constexpr UINT kWindowsFolderBufferSize = 128;

// Reads the string value `name` of `key` into `buffer` (`size` bytes). Succeeds only when the
// value is a string that ends with a zero inside the buffer; a value stored without its zero is
// terminated when there is room for it, and refused when it fills the whole buffer.
bool readStringValue(HKEY key, const char* name, char* buffer, DWORD size);

// Deletes `subKey` of `parent` together with all its subkeys. RegDeleteKeyA removes only keys
// without subkeys on Windows NT, so the children go first, depth first. Returns true when the
// key itself was deleted; children that cannot be deleted are left and keep their parent alive.
bool deleteKeyTree(HKEY parent, const char* subKey);

// True for a key path relative to another key: not empty, no leading or trailing backslash and
// no empty component. Anything else would name the parent key itself.
bool isRelativeKeyPath(const char* path);

// True for a plain file name: not empty, no folder, drive or stream separators, no "..", no
// wildcards and nothing else Windows refuses in a file name.
bool isPlainFileName(const char* name);

// The Windows folder without a trailing backslash; false when it cannot be had in its buffer.
bool windowsFolder(std::string& folder);

// The steps, in the order the pass runs them.
void removeDeviceInstances(); // the driver class keys named by INST_0 .. INST_9
void removeDeviceKey();       // the device key with all its instances
void removeInfFiles();        // the copied INF file and the INF and PNF files Windows installed
void startUninstaller();      // the product's uninstaller, not waited for

// Every step after the user has confirmed.
void purge();

} // namespace keypurge
