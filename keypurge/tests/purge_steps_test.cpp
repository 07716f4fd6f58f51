// The clean-up steps run in the test process against the prefix's real registry and INF folder.
#include "fixture.h"
#include "keypurge/purge.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using namespace kptest;

const std::string kClass = std::string(kClassFolder) + "\\LvkpTest";

std::string instanceKey(int digit) {
    return std::string(kDeviceKey) + "\\INST_" + std::to_string(digit);
}

void installInstance(int index, const std::string& description, const std::string& infName) {
    setString(imagingInstance(index), "DriverDesc", description);
    setString(imagingInstance(index), "InfPath", infName);
}

// An INF file and its PNF twin in the INF folder, both read-only as Windows leaves them.
void writeInfPair(const std::string& base) {
    writeFile(infDir() + base + ".INF", true);
    writeFile(infDir() + base + ".PNF", true);
}

class KeypurgeSteps : public KeypurgeTest {};

TEST_F(KeypurgeSteps, DeviceInstancesRemoveTheirClassKeysWholeAcrossGapsButNeverInst10) {
    for (const char* id : {"0000", "0002", "0004", "0009", "0010"}) {
        setString(kClass + "\\" + id, "DriverDesc", kProduct);
        setString(kClass + "\\" + id + "\\Settings\\Deeper", "Level", "2");
    }
    setString(instanceKey(0), "Driver", "LvkpTest\\0000");
    setString(instanceKey(4), "Driver", "LvkpTest\\0004");
    setString(instanceKey(9), "Driver", "LvkpTest\\0009");
    setString(instanceKey(2), "DeviceDesc", "no driver value here");
    setString(instanceKey(10), "Driver", "LvkpTest\\0010");

    keypurge::removeDeviceInstances();

    EXPECT_FALSE(keyExists(kClass + "\\0000"));
    EXPECT_FALSE(keyExists(kClass + "\\0004"));
    EXPECT_FALSE(keyExists(kClass + "\\0009"));
    EXPECT_TRUE(keyExists(kClass + "\\0002\\Settings\\Deeper"));
    EXPECT_TRUE(keyExists(kClass + "\\0010\\Settings\\Deeper"));
    // The instances themselves stay until the device key goes.
    EXPECT_TRUE(keyExists(instanceKey(0)));

    keypurge::removeDeviceKey();
    EXPECT_FALSE(keyExists(kDeviceKey));
    EXPECT_TRUE(keyExists("Enum\\USB"));
    EXPECT_TRUE(keyExists(kClass + "\\0010"));
}

TEST_F(KeypurgeSteps, MalformedDriverValuesNeverReachTheClassFolderItself) {
    setString(kClass + "\\0001", "DriverDesc", kProduct);
    setString(kClass + "\\" + std::string(118, 'x'), "DriverDesc", kProduct);
    setString(kClass + "\\0007", "DriverDesc", kProduct);

    setString(instanceKey(0), "Driver", "");
    setString(instanceKey(1), "Driver", "\\");
    setString(instanceKey(2), "Driver", "LvkpTest\\");
    setString(instanceKey(3), "Driver", "\\LvkpTest");
    setString(instanceKey(4), "Driver", "LvkpTest\\\\0001");
    const DWORD number = 7;
    setRaw(instanceKey(5), "Driver", REG_DWORD, &number, sizeof number);
    // Fills the whole 128-byte buffer with no zero: neither it nor its first 127 bytes is used.
    const std::string full = "LvkpTest\\" + std::string(119, 'x');
    ASSERT_EQ(full.size(), 128u);
    setUnterminated(instanceKey(6), "Driver", full);
    // Stored without its zero but shorter than the buffer: still a good name.
    const std::string shortName = "LvkpTest\\0007";
    setUnterminated(instanceKey(7), "Driver", shortName);

    keypurge::removeDeviceInstances();

    EXPECT_TRUE(keyExists(kClassFolder));
    EXPECT_TRUE(keyExists(kClass + "\\0001"));
    EXPECT_TRUE(keyExists(kClass + "\\" + std::string(118, 'x')));
    EXPECT_FALSE(keyExists(kClass + "\\0007"));
}

TEST_F(KeypurgeSteps, DeleteKeyTreeRemovesEveryLevelAndLeavesSiblings) {
    const std::string root = kClass + "\\Tree";
    for (const char* leaf : {"\\a\\b\\c", "\\a\\b2", "\\a2", "\\a\\b\\c2\\d\\e"})
        setString(root + leaf, "v", "x");
    createKey(kClass + "\\TreeSibling");

    EXPECT_TRUE(keypurge::deleteKeyTree(HKEY_LOCAL_MACHINE, root.c_str()));
    EXPECT_FALSE(keyExists(root));
    EXPECT_TRUE(keyExists(kClass + "\\TreeSibling"));
    EXPECT_FALSE(keypurge::deleteKeyTree(HKEY_LOCAL_MACHINE, root.c_str()));
}

TEST_F(KeypurgeSteps, ReadOnlyInfAndPnfFilesOfBothProductInstancesAreRemoved) {
    // Windows refuses to delete a read-only file, so only a cleared attribute lets them go.
    writeFile(infDir() + "OEM3.INF", true);
    ASSERT_FALSE(DeleteFileA((infDir() + "OEM3.INF").c_str()));

    writeInfPair("OEM3");
    writeInfPair("OEM5");
    installInstance(0, kProduct, "OEM3.INF");
    installInstance(3, kProduct, "OEM5.INF");
    CreateDirectoryA((infDir() + "other").c_str(), nullptr);
    writeFile(infDir() + "other\\MicrosoftLV2700c5.inf", false);

    keypurge::removeInfFiles();

    for (const char* name : {"OEM3.INF", "OEM3.PNF", "OEM5.INF", "OEM5.PNF"})
        EXPECT_FALSE(fileExists(infDir() + name)) << name;
    EXPECT_FALSE(fileExists(infDir() + "other\\MicrosoftLV2700c5.inf"));
    EXPECT_TRUE(keyExists(imagingInstance(0)));
    EXPECT_TRUE(keyExists(imagingInstance(3)));
}

TEST_F(KeypurgeSteps, OnlyAnExactDescriptionInInstances0000To0009CountsAsTheProduct) {
    installInstance(1, "lumivera LV2700c5", "OEM6.INF");
    installInstance(2, "LUMIVERA LV2700c5 ", "OEM7.INF");
    installInstance(10, kProduct, "OEM8.INF");
    setString(imagingInstance(4), "InfPath", "OEM9.INF");  // no description at all
    setString(imagingInstance(5), "DriverDesc", kProduct); // no InfPath
    for (const char* base : {"OEM6", "OEM7", "OEM8", "OEM9"})
        writeInfPair(base);

    keypurge::removeInfFiles();

    for (const char* base : {"OEM6", "OEM7", "OEM8", "OEM9"}) {
        EXPECT_TRUE(isReadOnly(infDir() + base + ".INF")) << base;
        EXPECT_TRUE(isReadOnly(infDir() + base + ".PNF")) << base;
    }
}

TEST_F(KeypurgeSteps, ValuesWithoutTheirZeroAreReadWithinTheBuffer) {
    setUnterminated(imagingInstance(0), "DriverDesc", kProduct);
    setUnterminated(imagingInstance(0), "InfPath", "OEM3.INF");
    writeInfPair("OEM3");
    // 128 bytes and no zero: too long for the buffer, so neither the name nor its first 127
    // characters may be taken.
    const std::string longName = "OEM" + std::string(125, 'x');
    setString(imagingInstance(1), "DriverDesc", kProduct);
    setUnterminated(imagingInstance(1), "InfPath", longName);
    writeFile(infDir() + longName.substr(0, 127), true);
    std::string longPnf = longName.substr(0, 127);
    longPnf[5] = 'P';
    writeFile(infDir() + longPnf, true);

    keypurge::removeInfFiles();

    EXPECT_FALSE(fileExists(infDir() + "OEM3.INF"));
    EXPECT_FALSE(fileExists(infDir() + "OEM3.PNF"));
    EXPECT_TRUE(fileExists(infDir() + longName.substr(0, 127)));
    EXPECT_TRUE(fileExists(infDir() + longPnf));
}

TEST_F(KeypurgeSteps, HostileInfPathsDeleteNothingOutsideTheInfFolder) {
    const std::string drive = windowsDir().substr(0, 3);
    CreateDirectoryA((infDir() + "other").c_str(), nullptr);
    const std::string outside[] = {windowsDir() + "\\lvkp-sentinel.ini", drive + "lvkp-x.inf",
                                   infDir() + "other\\lvkp.inf"};
    for (const std::string& path : outside)
        writeFile(path, true);
    writeInfPair("OEM7");
    // The prefix's own win.ini is a target too; kept aside so a failure cannot cost it.
    const std::string winIni = windowsDir() + "\\win.ini";
    const std::string savedWinIni = scratchDir() + "win.ini";
    const bool hadWinIni = CopyFileA(winIni.c_str(), savedWinIni.c_str(), FALSE) != 0;

    const char* hostile[] = {"..\\lvkp-sentinel.ini",
                             "C:\\lvkp-x.inf",
                             "other\\lvkp.inf",
                             "..\\win.ini",
                             "other/lvkp.inf",
                             "*.INF",
                             "OEM7.IN?",
                             "",
                             "..",
                             "OEM7.INF:stream"};
    for (int i = 0; i < 10; ++i)
        installInstance(i, kProduct, hostile[i]);

    keypurge::removeInfFiles();

    for (const std::string& path : outside)
        EXPECT_TRUE(isReadOnly(path)) << path;
    EXPECT_EQ(fileExists(winIni), hadWinIni);
    if (hadWinIni && !fileExists(winIni))
        CopyFileA(savedWinIni.c_str(), winIni.c_str(), TRUE);
    // Wildcards would have let the attribute tool reach every INF file.
    EXPECT_TRUE(isReadOnly(infDir() + "OEM7.INF"));
    EXPECT_TRUE(isReadOnly(infDir() + "OEM7.PNF"));
}

TEST_F(KeypurgeSteps, ABlankInTheInfNameKeepsTheAttributeToolOnThatOneFile) {
    // Unquoted, the tool would be given "C:\windows\inf\OEM" and "3.INF" in the current folder.
    installInstance(0, kProduct, "OEM 3.INF");
    writeFile(infDir() + "OEM 3.INF", false);
    writeFile(infDir() + "OEM", true);
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(scratchDir().c_str()));
    writeFile(scratchDir() + "3.INF", true);

    keypurge::removeInfFiles();

    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(fileExists(infDir() + "OEM 3.INF"));
    EXPECT_TRUE(isReadOnly(infDir() + "OEM"));
    EXPECT_TRUE(isReadOnly(scratchDir() + "3.INF"));
}

TEST_F(KeypurgeSteps, NamesTooShortForThePnfLetterKeepTheirNeighbours) {
    installInstance(0, kProduct, "OEM4");
    installInstance(1, kProduct, "OEM44");
    installInstance(2, kProduct, "OEM4.I");
    for (const char* name : {"OEM4", "OEM4P", "OEM44", "OEM44P", "OEM4.I", "OEM4.P"})
        writeFile(infDir() + name, true);

    keypurge::removeInfFiles();

    EXPECT_FALSE(fileExists(infDir() + "OEM4"));
    EXPECT_FALSE(fileExists(infDir() + "OEM44"));
    EXPECT_FALSE(fileExists(infDir() + "OEM4.I"));
    EXPECT_FALSE(fileExists(infDir() + "OEM4.P")); // six characters: index 5 becomes P
    EXPECT_TRUE(fileExists(infDir() + "OEM4P"));
    EXPECT_TRUE(fileExists(infDir() + "OEM44P"));
}

TEST(KeypurgeNames, PlainFileNamesAndRelativeKeyPaths) {
    for (const char* good : {"OEM3.INF", "a", "OEM 3.INF", "x.y.z"})
        EXPECT_TRUE(keypurge::isPlainFileName(good)) << good;
    for (const char* bad : {"", ".", "..", "a..b", "..\\x", "a\\b", "a/b", "C:x", "*", "a?", "a\"b",
                            "a<b", "a>b", "a|b", "a\tb"})
        EXPECT_FALSE(keypurge::isPlainFileName(bad)) << bad;
    for (const char* good : {"Image\\0000", "0000", "a\\b\\c"})
        EXPECT_TRUE(keypurge::isRelativeKeyPath(good)) << good;
    for (const char* bad : {"", "\\", "\\a", "a\\", "a\\\\b"})
        EXPECT_FALSE(keypurge::isRelativeKeyPath(bad)) << bad;
}

// The stand-in uninstaller in a scratch folder, named by UninstallString.
class KeypurgeUninstaller : public KeypurgeTest {
protected:
    std::string installUninstaller(const std::string& name) {
        const std::string path = scratchDir() + name;
        copyUninstaller(path);
        return path;
    }
};

TEST_F(KeypurgeUninstaller, StartsWithTheRestOfTheStringAndTheEnvironmentWithoutWaiting) {
    const std::string path = installUninstaller("unins.exe");
    setString(kUninstallKey, "UninstallString", path + " /S  -x");
    UninstallerRun run;

    keypurge::startUninstaller();

    ASSERT_TRUE(run.waitRecorded(30000));
    UninstallerRecord record;
    ASSERT_TRUE(readRecord(path, record));
    EXPECT_TRUE(stillRunning(record.pid)) << "the uninstaller was waited for";
    EXPECT_EQ(record.commandLine, path + " /S  -x");
    EXPECT_EQ(record.args, (std::vector<std::string>{path, "/S", "-x"}));
    EXPECT_NE(std::find(record.env.begin(), record.env.end(), run.marker()), record.env.end());
}

TEST_F(KeypurgeUninstaller, AStringWithoutBlankIsThePathAlone) {
    const std::string path = installUninstaller("unins.exe");
    setString(kUninstallKey, "UninstallString", path);
    UninstallerRun run;

    keypurge::startUninstaller();

    ASSERT_TRUE(run.waitRecorded(30000));
    UninstallerRecord record;
    ASSERT_TRUE(readRecord(path, record));
    EXPECT_EQ(record.commandLine, path);
    EXPECT_EQ(record.args, std::vector<std::string>{path});
}

TEST_F(KeypurgeUninstaller, ABlankInsideTheProgramPathCutsItThere) {
    CreateDirectoryA((scratchDir() + "with blank").c_str(), nullptr);
    const std::string meant = installUninstaller("with blank\\unins.exe");
    const std::string cut = installUninstaller("with.exe");
    const std::string cutPath = scratchDir() + "with";
    setString(kUninstallKey, "UninstallString", meant + " /S");
    UninstallerRun run;

    keypurge::startUninstaller();

    ASSERT_TRUE(run.waitRecorded(30000));
    UninstallerRecord record;
    ASSERT_TRUE(readRecord(cut, record));
    EXPECT_EQ(record.args, (std::vector<std::string>{cutPath, "blank\\unins.exe", "/S"}));
    EXPECT_FALSE(fileExists(meant + ".record"));
}

TEST_F(KeypurgeUninstaller, NothingStartsWithoutAUsableUninstallString) {
    const std::string path = installUninstaller("unins.exe");
    UninstallerRun run;

    keypurge::startUninstaller(); // no key
    createKey(kUninstallKey);
    keypurge::startUninstaller(); // no value
    // 200 bytes with no zero: the command cannot be known whole.
    std::string full = path + " /S ";
    full.resize(200, 'x');
    setUnterminated(kUninstallKey, "UninstallString", full);
    keypurge::startUninstaller();
    setString(kUninstallKey, "UninstallString", " ");
    keypurge::startUninstaller();

    // A started program would be listed from the moment spawn returned.
    EXPECT_TRUE(processesNamed("unins.exe").empty());
    EXPECT_FALSE(fileExists(path + ".record"));
}

} // namespace
