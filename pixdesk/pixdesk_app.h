// CPIXDESKApp: pixdesk's application object and its start-up: OLE, the switches, the
// class object or the registry entries, then the browser dialog run modally until it ends.
#pragma once

#include "framework/app.h"

#include <string>

namespace pixdesk {

class CPIXDESKApp : public framework::Application {
public:
    CPIXDESKApp() = default;

    // The whole run of the program with its command line (without the program's name);
    // gives the exit code. The program is finished when it returns.
    int run(const char* commandLine);

protected:
    // OleInitialize; true on success.
    virtual bool initOle();
    virtual void uninitOle();
    // Constructs the dialog, runs it modally and destroys it.
    virtual void runDialog();
};

} // namespace pixdesk
