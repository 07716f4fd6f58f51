// campanel's application object: made when the library is loaded, with its one browser
// dialog object, which outlives every window the data source opens and closes.
#pragma once

#include "browser/handoff.h"
#include "browser/win32/browser_dialog.h"
#include "framework/app.h"

#include <windows.h>

namespace campanel {

// The data source's DS_Entry, loaded by file name for each call.
class LibraryDataSource : public browser::DataSource {
public:
    bool call(const char* path, std::uint16_t message, std::uintptr_t data) override;
};

// The browser dialog with the hand-off: ACQUIRE and EXIT go to the data source.
class CPanelDlg : public browser::win32::CBrowserDlg {
public:
    CPanelDlg();
    LibraryDataSource dataSource;
    browser::HandOff handOff;

    void requestClose() override { handOff.requestClose(); }

protected:
    void acquireSelected() override { handOff.acquireSelected(); }
    void exitCommand() override { handOff.requestClose(); }
};

class CPanelApp : public framework::Application {
public:
    CPanelApp();
    ~CPanelApp() override;
    CPanelDlg dialog;

    // UI_CONNECT: the window, made once per connection. Null when the flags' low word is 0,
    // the name does not fit, or the window cannot be made.
    HWND connect(const char* dataSourceFile, HWND owner, DWORD flags);
    // UI_DISCONNECT.
    bool disconnect();
};

// The one application object, or null before the library is loaded.
CPanelApp* app();

} // namespace campanel
