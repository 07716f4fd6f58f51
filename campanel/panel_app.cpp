#include "campanel/panel_app.h"

#include "jpeg/out_of_memory.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_port.h"
#include "platform/still_image.h"

namespace campanel {

namespace {

using DsEntry = WORD(WINAPI*)(void* origin, DWORD group, WORD argumentType, WORD message,
                              void* data);

// Inside an image editor, running out of memory fails the one operation: ending the process
// would lose the user's unsaved work. The message is shown all the same.
void keepHostRunning(int) {}

CPanelApp*& appSlot() {
    static CPanelApp* slot = nullptr;
    return slot;
}

} // namespace

bool LibraryDataSource::call(const char* path, std::uint16_t message, std::uintptr_t data) {
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr) {
        return false;
    }
    auto entry = reinterpret_cast<DsEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DS_Entry")));
    if (entry == nullptr) {
        FreeLibrary(library);
        return false;
    }
    static unsigned char origin[browser::kOriginRecordSize] = {};
    entry(origin, browser::DG_PANEL, 0, message, reinterpret_cast<void*>(data));
    FreeLibrary(library);
    return true;
}

CPanelDlg::CPanelDlg()
    : CBrowserDlg(browser::win32::BrowserVariant{}, platform::systemSerialPorts(),
                  platform::systemStillImage(), platform::systemClock(),
                  platform::systemFileSystem()),
      handOff(state, *this, link, dataSource) {}

CPanelApp::CPanelApp() {
    jpeg::setProcessExit(keepHostRunning);
    appSlot() = this;
}

CPanelApp::~CPanelApp() {
    if (appSlot() == this) {
        appSlot() = nullptr;
    }
}

CPanelApp* app() {
    return appSlot();
}

HWND CPanelApp::connect(const char* dataSourceFile, HWND owner, DWORD flags) {
    if (!dialog.handOff.setDataSourcePath(dataSourceFile)) {
        return nullptr;
    }
    if (LOWORD(flags) == 0) {
        return nullptr;
    }
    // One window at a time: a second connect gets the one that is open.
    if (dialog.hwnd() != nullptr) {
        return dialog.hwnd();
    }
    return dialog.create(owner);
}

bool CPanelApp::disconnect() {
    return dialog.destroyWindow();
}

} // namespace campanel
