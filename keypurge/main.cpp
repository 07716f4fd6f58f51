// keypurge: after one confirmation, removes the camera driver's registry keys and INF files and
// starts the product's uninstaller. It has no window of its own and takes no arguments.
#include "framework/app.h"
#include "keypurge/purge.h"

namespace {

const char kConfirmation[] = "Confirm Device Removal ?";

class CKeypurgeApp {
public:
    // The whole program runs here. No main window is created, so the program ends after it.
    bool initInstance() {
        if (framework::askYesNo(nullptr, kConfirmation))
            keypurge::purge();
        return false;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CKeypurgeApp app;
    app.initInstance();
    return 0;
}
