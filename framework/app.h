// The application framework's process-wide pieces: the application object, the program's
// name, the message box every part of the system shows its failures and questions in, and
// the wait cursor.
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

// The one application object of a program or library: the module its resources and name
// come from, and its main window, which owns the windows made without a parent of their own
// (the progress dialogs). The object registers itself as the current one while it lives.
class Application {
public:
    // `module` null: the module this code is linked into.
    explicit Application(HMODULE module = nullptr);
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    HMODULE module() const { return module_; }
    HWND mainWindow() const { return mainWindow_; }
    void setMainWindow(HWND window) { mainWindow_ = window; }

    // The living application object, or null.
    static Application* current();

private:
    HMODULE module_;
    HWND mainWindow_ = nullptr;
    Application* previous_;
};

// The main window of the current application object, or null.
HWND mainWindow();

// The hourglass while a handler blocks the thread. Calls nest; the cursor comes back when
// the outermost wait ends. Dialogs keep the hourglass up while a wait is on.
void beginWaitCursor();
void endWaitCursor();
bool waitCursorShown();

} // namespace framework
