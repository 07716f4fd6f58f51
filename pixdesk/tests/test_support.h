// Helpers of pixdesk's Windows tests: the environment the runner sets, files, scratch
// folders, and a user who chooses a folder in the shell's folder browser.
#pragma once

#include "framework/testing/folder_browser.h"

#include <windows.h>

#include <string>
#include <vector>

namespace pixdesktest {

std::string env(const char* name);
std::vector<char> fileBytes(const std::string& path);
// A scratch folder of this run, emptied first; its path ends with a backslash.
std::string scratchFolder(const char* name);
// The folder of this test program, ending with a backslash.
std::string programFolder();
// Deletes the registry key `root`\`path` with all its subkeys.
void deleteRegistryTree(HKEY root, const std::string& path);

using lvtest::FolderBrowserDriver;

} // namespace pixdesktest
