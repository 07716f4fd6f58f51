// The pipeline check shared by the GUI test and the smoke program: a dialog from a template,
// then a Yes/No question over it.
#pragma once

#include <windows.h>

namespace smoke {

constexpr const char* kQuestion = "Does the LV2700c5 pipeline work?";

// Creates the dialog from its template (modeless, visible); null on failure.
HWND createDialog(HINSTANCE instance);

// Asks the question over `dialog`; returns IDYES or IDNO.
int ask(HWND dialog);

} // namespace smoke
