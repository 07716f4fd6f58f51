// keypurge.exe end to end: started as its own process, its question answered like a user would.
#include "fixture.h"
#include "framework/testing/msgbox_watcher.h"

#include <algorithm>
#include <string>

namespace {

using namespace kptest;

const DWORD kRunTimeoutMs = 60000;
const std::string kClass = std::string(kClassFolder) + "\\LvkpTest";

// What a driver installation and the product's setup leave behind.
struct Installed {
    std::string uninstaller;

    void install() {
        setString(kClass + "\\0000\\Settings", "Level", "1");
        setString(std::string(kDeviceKey) + "\\INST_0", "Driver", "LvkpTest\\0000");
        setString(std::string(kDeviceKey) + "\\INST_0\\Device Parameters", "x", "1");
        CreateDirectoryA((infDir() + "other").c_str(), nullptr);
        writeFile(infDir() + "other\\MicrosoftLV2700c5.inf", false);
        setString(imagingInstance(0), "DriverDesc", kProduct);
        setString(imagingInstance(0), "InfPath", "OEM3.INF");
        writeFile(infDir() + "OEM3.INF", true);
        writeFile(infDir() + "OEM3.PNF", true);
        installUninstallerOnly();
    }
    void installUninstallerOnly() {
        uninstaller = scratchDir() + "unins.exe";
        copyUninstaller(uninstaller);
        setString(kUninstallKey, "UninstallString", uninstaller + " /remove");
    }
};

void expectTheQuestion(const lvtest::MessageBoxWatcher& watcher, int pressed) {
    const std::vector<lvtest::SeenMessageBox> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "keypurge");
    EXPECT_EQ(seen[0].text, "Confirm Device Removal ?");
    // Which icon it is cannot be read from another process, only that one shows; the framework's
    // own tests show it is the exclamation mark when no other is asked for.
    EXPECT_NE(seen[0].icon, 0u);
    EXPECT_EQ(seen[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(seen[0].defaultButton, IDNO);
    EXPECT_EQ(seen[0].pressed, pressed);
}

class KeypurgeProgram : public KeypurgeTest {};

TEST_F(KeypurgeProgram, AnsweringNoChangesNothingAndStartsNothing) {
    Installed installed;
    installed.install();
    UninstallerRun run;
    lvtest::MessageBoxWatcher watcher("keypurge", {IDNO});

    EXPECT_EQ(runKeypurge(kRunTimeoutMs), 0);

    expectTheQuestion(watcher, IDNO);
    EXPECT_TRUE(keyExists(kClass + "\\0000\\Settings"));
    EXPECT_TRUE(keyExists(std::string(kDeviceKey) + "\\INST_0\\Device Parameters"));
    EXPECT_TRUE(fileExists(infDir() + "other\\MicrosoftLV2700c5.inf"));
    EXPECT_TRUE(isReadOnly(infDir() + "OEM3.INF"));
    EXPECT_TRUE(isReadOnly(infDir() + "OEM3.PNF"));
    EXPECT_TRUE(processesNamed("unins.exe").empty());
    EXPECT_FALSE(fileExists(installed.uninstaller + ".record"));
}

TEST_F(KeypurgeProgram, AnsweringYesRemovesTheDriverAndLeavesTheUninstallerRunning) {
    Installed installed;
    installed.install();
    UninstallerRun run;
    lvtest::MessageBoxWatcher watcher("keypurge", {IDYES});

    // The uninstaller holds on until released: keypurge ending first shows it did not wait.
    EXPECT_EQ(runKeypurge(kRunTimeoutMs), 0);

    expectTheQuestion(watcher, IDYES);
    EXPECT_FALSE(keyExists(kClass + "\\0000"));
    EXPECT_TRUE(keyExists(kClass));
    EXPECT_FALSE(keyExists(kDeviceKey));
    EXPECT_FALSE(fileExists(infDir() + "other\\MicrosoftLV2700c5.inf"));
    EXPECT_FALSE(fileExists(infDir() + "OEM3.INF"));
    EXPECT_FALSE(fileExists(infDir() + "OEM3.PNF"));
    EXPECT_TRUE(keyExists(imagingInstance(0)));

    ASSERT_TRUE(run.waitRecorded(30000));
    UninstallerRecord record;
    ASSERT_TRUE(readRecord(installed.uninstaller, record));
    EXPECT_TRUE(stillRunning(record.pid));
    EXPECT_EQ(record.args, (std::vector<std::string>{installed.uninstaller, "/remove"}));
    // The program's environment reaches the uninstaller.
    EXPECT_NE(std::find(record.env.begin(), record.env.end(), run.marker()), record.env.end());
}

TEST_F(KeypurgeProgram, WithNoCameraEverInstalledOnlyTheUninstallerStarts) {
    Installed installed;
    installed.installUninstallerOnly();
    UninstallerRun run;
    lvtest::MessageBoxWatcher watcher("keypurge", {IDYES});

    EXPECT_EQ(runKeypurge(kRunTimeoutMs), 0);

    expectTheQuestion(watcher, IDYES);
    ASSERT_TRUE(run.waitRecorded(30000));
    UninstallerRecord record;
    ASSERT_TRUE(readRecord(installed.uninstaller, record));
    EXPECT_EQ(record.args, (std::vector<std::string>{installed.uninstaller, "/remove"}));
    EXPECT_FALSE(keyExists(kDeviceKey));
    EXPECT_FALSE(keyExists(kClass));
}

} // namespace
