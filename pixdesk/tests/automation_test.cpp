// The switches, the registry entries and the automation object, in this process.
#include "framework/app.h"
#include "pixdesk/automation.h"
#include "pixdesk/pixdesk_dialog.h"
#include "pixdesk/tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

using pixdesk::AutomationServer;
using pixdesk::CPIXDESKDlgAutoProxy;
using pixdesk::findSwitch;

namespace {

struct SwitchCase {
    const char* commandLine;
    const char* word;
    bool found;
    const char* left; // the command line afterwards
};

const SwitchCase kSwitchCases[] = {
    {"-Embedding", "Embedding", true, ""},
    {"/Embedding", "Embedding", true, ""},
    {"/Automation", "Automation", true, ""},
    {"-embedding", "Embedding", false, "-embedding"},
    {"Embedding", "Embedding", false, "Embedding"},
    {"-Embed", "Embedding", false, "-Embed"},
    {"-EmbeddingX", "Embedding", true, "X"},
    {"file.txt/Automation.more", "Automation", true, "file.txt.more"},
    {"a -Embedding b -Embedding", "Embedding", true, "a  b -Embedding"},
    {"--Embedding", "Embedding", true, "-"},
    {"", "Embedding", false, ""},
    {"-", "Embedding", false, "-"},
};

class SwitchRule : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchRule, FindsTheWordAfterADashOrSlashAndTakesItOut) {
    const SwitchCase& c = GetParam();
    std::string line = c.commandLine;
    EXPECT_EQ(findSwitch(line, c.word), c.found);
    EXPECT_EQ(line, c.left);
}

INSTANTIATE_TEST_SUITE_P(Cases, SwitchRule, ::testing::ValuesIn(kSwitchCases));

// A scratch key under HKEY_CURRENT_USER standing for HKEY_CLASSES_ROOT.
class Registration : public ::testing::Test {
protected:
    static constexpr const char* kScratch = "Software\\LUMIVERA\\PixdeskRegistryTest";
    void SetUp() override {
        pixdesktest::deleteRegistryTree(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &root, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(root);
        pixdesktest::deleteRegistryTree(HKEY_CURRENT_USER, kScratch);
    }
    std::string value(const std::string& path) const {
        char text[512] = {};
        LONG size = sizeof text;
        if (RegQueryValueA(root, path.c_str(), text, &size) != ERROR_SUCCESS) {
            return "<missing>";
        }
        return text;
    }
    void put(const std::string& path, const char* text) {
        ASSERT_EQ(RegSetValueA(root, path.c_str(), REG_SZ, text, 0), ERROR_SUCCESS);
    }
    HKEY root = nullptr;
};

const std::string kClsid = pixdesk::kClsidKey;

TEST_F(Registration, WritesTheSixEntries) {
    ASSERT_TRUE(pixdesk::registerServer(root, "C:\\Programs\\pixdesk.exe"));
    EXPECT_EQ(value("PIXDESK.Application"), "PIXDESK.Application");
    EXPECT_EQ(value("PIXDESK.Application\\CLSID"), "{82596823-8B11-11D5-B405-0050BA2C88AA}");
    EXPECT_EQ(value(kClsid), "PIXDESK.Application");
    EXPECT_EQ(value(kClsid + "\\ProgID"), "PIXDESK.Application");
    EXPECT_EQ(value(kClsid + "\\InprocHandler32"), "ole32.dll");
    EXPECT_EQ(value(kClsid + "\\LocalServer32"), "C:\\Programs\\pixdesk.exe");
}

TEST_F(Registration, KeepsTheNamesThatAreWrittenOnlyWhenMissingAndRenewsTheRest) {
    put("PIXDESK.Application", "kept name");
    put(kClsid, "kept class name");
    put(kClsid + "\\ProgID", "stale");
    put(kClsid + "\\LocalServer32", "C:\\old\\pixdesk.exe");
    ASSERT_TRUE(pixdesk::registerServer(root, "C:\\new\\pixdesk.exe"));
    EXPECT_EQ(value("PIXDESK.Application"), "kept name");
    EXPECT_EQ(value(kClsid), "kept class name");
    EXPECT_EQ(value(kClsid + "\\ProgID"), "PIXDESK.Application");
    EXPECT_EQ(value(kClsid + "\\LocalServer32"), "C:\\new\\pixdesk.exe");
}

// The object's links to its dialog and to the program's lock count.
class AutoProxy : public ::testing::Test {
protected:
    void SetUp() override {
        server.mainDialog = &dialog;
        server.setUserControl(true);
        locksBefore = server.lockCount();
    }
    void TearDown() override { server.mainDialog = nullptr; }

    framework::Application app;
    pixdesk::CPIXDESKDlg dialog;
    AutomationServer& server = AutomationServer::instance();
    LONG locksBefore = 0;
};

TEST_F(AutoProxy, AnswersIUnknownIDispatchAndTheDispatchInterfaceOnly) {
    auto* proxy = new CPIXDESKDlgAutoProxy();
    const IID* answered[] = {&IID_IUnknown, &IID_IDispatch, &pixdesk::kDiidPixdesk};
    for (const IID* iid : answered) {
        void* object = nullptr;
        ASSERT_EQ(proxy->QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IDispatch*>(proxy));
        static_cast<IUnknown*>(object)->Release();
    }
    const IID* refused[] = {&IID_IClassFactory, &IID_IPersist, &IID_IOleObject};
    for (const IID* iid : refused) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(proxy->QueryInterface(*iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(proxy->Release(), 0u);
}

TEST_F(AutoProxy, DispatchHasNoMembers) {
    auto* proxy = new CPIXDESKDlgAutoProxy();
    UINT count = 7;
    EXPECT_EQ(proxy->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(proxy->GetTypeInfo(0, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    wchar_t name[] = L"Visible";
    LPOLESTR names[] = {name};
    DISPID id = 5;
    EXPECT_EQ(proxy->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    DISPPARAMS none = {};
    EXPECT_EQ(proxy->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    proxy->Release();
}

TEST_F(AutoProxy, HoldsALockAndLinksWithTheDialogUntilItsRelease) {
    auto* proxy = new CPIXDESKDlgAutoProxy();
    EXPECT_EQ(server.lockCount(), locksBefore + 1);
    EXPECT_EQ(proxy->ownerDialog, &dialog);
    EXPECT_EQ(dialog.autoProxy, proxy);
    proxy->AddRef();
    EXPECT_EQ(proxy->Release(), 1u);
    EXPECT_EQ(dialog.autoProxy, proxy);
    proxy->Release();
    EXPECT_EQ(dialog.autoProxy, nullptr);
    EXPECT_EQ(server.lockCount(), locksBefore);
}

TEST_F(AutoProxy, ADialogDestroyedFirstIsForgottenByTheObject) {
    CPIXDESKDlgAutoProxy* proxy = nullptr;
    {
        pixdesk::CPIXDESKDlg shortLived;
        server.mainDialog = &shortLived;
        proxy = new CPIXDESKDlgAutoProxy();
        EXPECT_EQ(shortLived.autoProxy, proxy);
        server.mainDialog = nullptr;
    }
    EXPECT_EQ(proxy->ownerDialog, nullptr);
    proxy->Release(); // touches no dialog
    EXPECT_EQ(server.lockCount(), locksBefore);
}

TEST_F(AutoProxy, TheLastReleaseEndsOnlyACopyTheUserDidNotStart) {
    ASSERT_NE(dialog.create(nullptr), nullptr);
    app.setMainWindow(dialog.hwnd());
    // Started by the user: the release leaves the window.
    new CPIXDESKDlgAutoProxy();
    dialog.autoProxy->Release();
    EXPECT_NE(dialog.hwnd(), nullptr);
    EXPECT_TRUE(server.userControl());
    // Started for a client: the release destroys the main window, and the copy is the
    // user's from then on.
    server.setUserControl(false);
    new CPIXDESKDlgAutoProxy();
    dialog.autoProxy->Release();
    EXPECT_EQ(dialog.hwnd(), nullptr);
    EXPECT_TRUE(server.userControl());
}

} // namespace
