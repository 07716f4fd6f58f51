// The Windows UI pipeline under Wine and Xvfb: a dialog from a template, a question over it,
// and the watcher answering it like a user, in this process and in another one.
#include "framework/app.h"
#include "framework/testing/msgbox_watcher.h"
#include "smoke_dialog.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string moduleDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

} // namespace

TEST(GuiSmoke, QuestionCarriesProgramNameExclamationAndNoAsDefault) {
    HWND dialog = smoke::createDialog(GetModuleHandleA(nullptr));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(framework::programName(), "framework_gui_tests");

    lvtest::MessageBoxWatcher watcher("framework_gui_tests", {IDNO});
    int answer = smoke::ask(dialog);
    DestroyWindow(dialog);

    EXPECT_EQ(answer, IDNO);
    std::vector<lvtest::SeenMessageBox> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, smoke::kQuestion);
    EXPECT_EQ(seen[0].icon, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(seen[0].buttons.size(), 2u);
    EXPECT_EQ(seen[0].defaultButton, IDNO);
    EXPECT_EQ(seen[0].pressed, IDNO);
}

TEST(GuiSmoke, PlainMessageGetsExclamationAndOk) {
    lvtest::MessageBoxWatcher watcher("framework_gui_tests", {IDOK});
    EXPECT_EQ(framework::messageBox(nullptr, "Download Error!"), IDOK);
    std::vector<lvtest::SeenMessageBox> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Download Error!");
    EXPECT_EQ(seen[0].icon, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(seen[0].buttons, std::vector<int>{IDOK});
}

TEST(GuiSmoke, AnAskedIconIsKept) {
    lvtest::MessageBoxWatcher watcher("framework_gui_tests", {IDOK});
    framework::messageBox(nullptr, "stop", MB_OK | MB_ICONHAND);
    std::vector<lvtest::SeenMessageBox> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].icon, static_cast<unsigned>(MB_ICONHAND));
}

TEST(GuiSmoke, WatcherAnswersAnotherProcess) {
    lvtest::MessageBoxWatcher watcher("smoke_dialog", {IDNO});
    std::string command = "\"" + moduleDir() + "smoke_dialog.exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    EXPECT_EQ(code, static_cast<DWORD>(IDNO));
    std::vector<lvtest::SeenMessageBox> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, smoke::kQuestion);
    EXPECT_EQ(seen[0].defaultButton, IDNO);
}
