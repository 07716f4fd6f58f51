// CProgDLg: the small "Downloading..." dialog with a progress bar and one line of text that
// the long commands show while pictures are read. It is made hidden, owned by the
// application's main window (the browser dialog).
#pragma once

#include "framework/dialog.h"
#include "platform/ui.h"

namespace browser::win32 {

class CProgDLg : public framework::Dialog, public platform::Progress {
public:
    // The placeholder control whose rectangle the bar takes, and the line of text.
    static constexpr int kBarPlace = 1007;
    static constexpr int kTextLine = 1008;

    // Creates the window at once from `templateId`, with the bar's control id `barId`.
    CProgDLg(int templateId, int barId);
    ~CProgDLg() override;

    // PBM_SETRANGE with low and high packed into one 32-bit value (low in the low word).
    void setRange(int low, int high) override;
    void setStep(int step) override;
    void show() override;
    void stepIt() override;
    void setText(const char* text) override;
    void hide() override;

    HWND bar() const { return item(barId_); }

private:
    bool onInitDialog() override;

    int barId_;
};

} // namespace browser::win32
