// A tiny program for the pipeline check and the demo: shows the dialog, asks the question,
// and exits with the answer (IDYES or IDNO), so a test in another process can check it.
#include "smoke_dialog.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    HWND dialog = smoke::createDialog(instance);
    if (dialog == nullptr) {
        return 100;
    }
    if (std::strstr(commandLine, "--hold") != nullptr) {
        // For screenshots: leave both windows up until killed.
        MSG msg;
        PostMessageA(dialog, WM_APP, 0, 0);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_APP) {
                smoke::ask(dialog);
                continue;
            }
            if (!IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        return 0;
    }
    int answer = smoke::ask(dialog);
    DestroyWindow(dialog);
    return answer;
}
