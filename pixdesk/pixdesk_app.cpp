#include "pixdesk/pixdesk_app.h"

#include "pixdesk/automation.h"
#include "pixdesk/pixdesk_dialog.h"
#include "pixdesk/resource.h"

#include <commctrl.h>
#include <ole2.h>

namespace pixdesk {

bool CPIXDESKApp::initOle() {
    return SUCCEEDED(OleInitialize(nullptr));
}

void CPIXDESKApp::uninitOle() {
    OleUninitialize();
}

void CPIXDESKApp::runDialog() {
    CPIXDESKDlg dialog;
    AutomationServer::instance().mainDialog = &dialog;
    dialog.runModal(nullptr);
    AutomationServer::instance().mainDialog = nullptr;
    setMainWindow(nullptr);
}

int CPIXDESKApp::run(const char* commandLine) {
    if (!initOle()) {
        char text[256] = {};
        LoadStringA(module(), IDS_OLE_INIT_FAILED, text, sizeof text);
        framework::messageBox(nullptr, text, MB_OK | MB_ICONEXCLAMATION);
        return 1;
    }
    // The controls the dialogs host: the progress bar. The three-dimensional look of the
    // dialog controls is the system's own.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    std::string arguments = commandLine != nullptr ? commandLine : "";
    AutomationServer& server = AutomationServer::instance();
    if (findSwitch(arguments, "Embedding") || findSwitch(arguments, "Automation")) {
        // Started for a client: the class object serves one creation. A failure leaves the
        // program running, simply unreachable.
        server.setUserControl(false);
        server.registerClassObjects();
    } else {
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(module(), path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            registerServer(HKEY_CLASSES_ROOT, path);
        }
    }

    runDialog();

    // Revoked while COM is still up; then OLE goes.
    server.revokeClassObjects();
    uninitOle();
    return 0;
}

} // namespace pixdesk
