// The browser's screen as the portable model and commands see it. The Win32 browser dialog
// implements it; tests use a recording fake (browser/tests/fake_view.h).
//
// Calls may arrive while no window exists (in campanel the dialog object outlives its
// window); an implementation then does nothing and createProgress may return null.
#pragma once

#include "browser/layout.h"
#include "platform/ui.h"

#include <string>

namespace browser {

class View : public platform::UserInterface {
public:
    // ShowWindow of a control: shown or hidden.
    virtual void showControl(int controlId, bool shown) = 0;
    // EnableWindow of a control.
    virtual void enableControl(int controlId, bool enabled) = 0;

    // Invalidates / validates a rectangle of the dialog's client area.
    virtual void invalidateRect(const Rect& rect, bool erase) = 0;
    virtual void validateRect(const Rect& rect) = 0;
    // Invalidates the whole client area.
    virtual void invalidateWindow(bool erase) = 0;
    // Paints what is invalid now, before returning (UpdateWindow).
    virtual void updateWindow() = 0;

    // The hourglass while a command blocks the thread; calls nest in pairs.
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;

    // A new, hidden "Downloading..." progress dialog, owned by the view until handed back to
    // destroyProgress. Null when it cannot be made; callers then go on without progress.
    virtual platform::Progress* createProgress() = 0;
    virtual void destroyProgress(platform::Progress* progress) = 0;

    // The shell's folder browser ("Current Selection"), opening on no folder. True, with the
    // chosen folder's path in `folder`, when the user chose one whose path could be had.
    virtual bool chooseFolder(std::string& folder) = 0;

    // The picture area: the window rectangle of frame control 1004.
    void invalidatePictureArea(bool erase) { invalidateControl(kIdPictureArea, erase); }
    // Cell 1 to 9 with its frame.
    void invalidateCell(int cell, bool erase) { invalidateRect(cellRect(cell), erase); }
};

} // namespace browser
