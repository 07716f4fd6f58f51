// Helpers of pixdesk's Windows tests: the environment the runner sets, files, scratch
// folders, and a user who chooses a folder in the shell's folder browser.
#pragma once

#include "framework/testing/folder_browser.h"
#include "framework/testing/test_files.h"

#include <windows.h>

#include <string>
#include <vector>

namespace pixdesktest {

using lvtest::env;
using lvtest::fileBytes;
using lvtest::programFolder;
// A scratch folder of this run, emptied first; its path ends with a backslash.
std::string scratchFolder(const char* name);
// Deletes the registry key `root`\`path` with all its subkeys.
void deleteRegistryTree(HKEY root, const std::string& path);

using lvtest::FolderBrowserDriver;

} // namespace pixdesktest
