// What the portable core may ask of the screen. The browser dialog implements these on
// Windows; tests implement them with recording fakes. Values of the message-box flags and
// answers are those of the Win32 API, so the Win32 side passes them straight through.
#pragma once

namespace platform {

// Message-box type flags (MB_*) and answers (ID*).
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconHand = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconExclamation = 0x30;
constexpr unsigned kMbIconAsterisk = 0x40;
constexpr unsigned kMbIconMask = 0xF0;
constexpr unsigned kMbDefButton2 = 0x100;
// A question: Yes and No, No the default.
constexpr unsigned kMbQuestion = kMbYesNo | kMbDefButton2;

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The "Downloading..." progress dialog's operations.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void setRange(int low, int high) = 0;
    virtual void setStep(int step) = 0;
    virtual void show() = 0;
    virtual void stepIt() = 0;
    virtual void setText(const char* text) = 0;
    virtual void hide() = 0;
};

// The browser's side of camera operations.
class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A message box captioned with the program's name; the exclamation icon is added when
    // `type` names no icon. Returns the answer (kIdOk, kIdYes, kIdNo, ...).
    virtual int messageBox(const char* text, unsigned type = kMbOk) = 0;
    // The close request: EXIT, and the end after a failed transfer-buffer allocation.
    virtual void requestClose() = 0;
    // BM_SETSTATE on a button: pushed or not.
    virtual void setButtonState(int controlId, bool pushed) = 0;
    // Invalidates a control's rectangle (in the dialog's client coordinates).
    virtual void invalidateControl(int controlId, bool erase) = 0;
};

} // namespace platform
