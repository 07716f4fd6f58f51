// The application framework's process-wide pieces: the program's name and the message box
// every part of the system shows its failures and questions in.
#pragma once

#include <windows.h>

#include <string>

namespace framework {

// The module whose file names the program: the DLL for a library, the EXE otherwise.
// Defaults to the module this code is linked into.
void setProgramModule(HMODULE module);
HMODULE programModule();

// Base name of the program's file, without folder or extension ("campanel", "keypurge").
// Every message box is captioned with it.
const std::string& programName();

// MessageBoxA captioned with programName(). When `type` names no icon the exclamation icon is
// added, so a plain failure message looks the same everywhere. Returns the answer (IDOK ...).
int messageBox(HWND owner, const char* text, unsigned type = MB_OK);

// A Yes/No question with No as the default; true when the user answered Yes.
bool askYesNo(HWND owner, const char* text);

} // namespace framework
