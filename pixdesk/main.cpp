// pixdesk.exe: the camera's picture browser as a program of its own and a local automation
// server.
#include "pixdesk/pixdesk_app.h"

#include <windows.h>

namespace {

pixdesk::CPIXDESKApp theApp;

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    return theApp.run(commandLine);
}
