// Shared by the fuzz targets: a silent user interface and a process end that returns, so
// an out-of-memory path is exercised instead of ending the run.
#pragma once

#include "jpeg/out_of_memory.h"
#include "platform/ui.h"

namespace jpeg {
namespace fuzz {

class SilentUi : public platform::UserInterface {
public:
    int messageBox(const char*, unsigned) override {
        ++messages;
        return platform::kIdOk;
    }
    void requestClose() override {}
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}
    int messages = 0;
};

inline void keepRunning(int) {}

inline void installKeepRunning() {
    static const bool once = (setProcessExit(keepRunning), true);
    (void)once;
}

} // namespace fuzz
} // namespace jpeg
