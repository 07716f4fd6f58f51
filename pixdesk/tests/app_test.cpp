// The start-up of CPIXDESKApp in this process, with the dialog's run recorded instead of
// shown: OLE's failure, and what each command line makes of the server.
#include "framework/testing/msgbox_watcher.h"
#include "pixdesk/automation.h"
#include "pixdesk/pixdesk_app.h"
#include "pixdesk/tests/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RecordingApp : public pixdesk::CPIXDESKApp {
public:
    bool oleWorks = true;
    int dialogRuns = 0;
    bool userControlInDialog = true;
    bool registeredInDialog = false;

protected:
    bool initOle() override { return oleWorks && CPIXDESKApp::initOle(); }
    void runDialog() override {
        ++dialogRuns;
        userControlInDialog = pixdesk::AutomationServer::instance().userControl();
        registeredInDialog = pixdesk::AutomationServer::instance().classObjectsRegistered();
    }
};

TEST(StartUp, WithoutOleItSaysSoAndShowsNoDialog) {
    RecordingApp app;
    app.oleWorks = false;
    lvtest::MessageBoxWatcher watcher(framework::programName(), {IDOK});
    EXPECT_NE(app.run(""), 0);
    ASSERT_EQ(watcher.seen().size(), 1u);
    EXPECT_EQ(watcher.seen()[0].text, "OLE initialization failed.  Make sure that the OLE "
                                      "libraries are the correct version.");
    EXPECT_EQ(watcher.seen()[0].icon, static_cast<unsigned>(MB_ICONEXCLAMATION));
    EXPECT_EQ(watcher.seen()[0].buttons, std::vector<int>({IDOK}));
    EXPECT_EQ(app.dialogRuns, 0);
}

TEST(StartUp, ASwitchRegistersTheClassObjectForTheDialogsRunAndRevokesItAfter) {
    pixdesk::AutomationServer& server = pixdesk::AutomationServer::instance();
    RecordingApp app;
    EXPECT_EQ(app.run("-Embedding"), 0);
    EXPECT_EQ(app.dialogRuns, 1);
    EXPECT_FALSE(app.userControlInDialog);
    EXPECT_TRUE(app.registeredInDialog);
    EXPECT_FALSE(server.classObjectsRegistered());
    server.setUserControl(true);
}

TEST(StartUp, WithoutASwitchTheUserHasControlAndNoClassObjectIsRegistered) {
    RecordingApp app;
    EXPECT_EQ(app.run("-embedding"), 0);
    EXPECT_EQ(app.dialogRuns, 1);
    EXPECT_TRUE(app.userControlInDialog);
    EXPECT_FALSE(app.registeredInDialog);
    // The entries name this test program: no client may start it.
    pixdesktest::deleteRegistryTree(HKEY_CLASSES_ROOT, pixdesk::kProgId);
    pixdesktest::deleteRegistryTree(HKEY_CLASSES_ROOT, pixdesk::kClsidKey);
}

} // namespace
