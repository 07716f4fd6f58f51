// Dialogs from templates, modal or modeless, with a message map: handlers registered by
// window message, by command id and by a range of command ids. No exception ever leaves a
// handler for the window procedure: one that throws counts as not handled.
#pragma once

#include "framework/bitmap_button.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace framework {

class Dialog {
public:
    // Returns true when it handled the message, with `result` its result.
    using MessageHandler = std::function<bool(WPARAM, LPARAM, LRESULT& result)>;
    using CommandHandler = std::function<void()>;
    using RangeHandler = std::function<void(int id)>;

    // `resources` null: the current application's module.
    explicit Dialog(int templateId, HMODULE resources = nullptr);
    // Destroys the window if it is still there.
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Modeless: the window from the template, owned by `owner`; null when it failed.
    HWND create(HWND owner);
    // Modal: runs until endDialog and gives its result; -1 when it could not be made.
    INT_PTR runModal(HWND owner);
    // Ends a modal run with `result`.
    void endDialog(INT_PTR result);
    // Destroys a modeless window; true when there was one and it went.
    bool destroyWindow();

    HWND hwnd() const { return hwnd_; }
    HWND item(int id) const { return hwnd_ != nullptr ? GetDlgItem(hwnd_, id) : nullptr; }
    HMODULE resources() const { return resources_; }
    int templateId() const { return templateId_; }
    bool modal() const { return modal_; }

protected:
    // WM_INITDIALOG; true lets the system give the default focus.
    virtual bool onInitDialog() { return true; }

    void onMessage(UINT message, MessageHandler handler);
    void onCommand(int id, CommandHandler handler);
    void onCommandRange(int first, int last, RangeHandler handler);

    // Makes control `id` a bitmap button (caption + U/D/F/X); false when there is no such
    // control or its bitmaps are missing. The dialog draws it from then on.
    bool attachBitmapButton(int id);

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    bool dispatchCommand(int id);

    int templateId_;
    HMODULE resources_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
    std::map<UINT, MessageHandler> messages_;
    std::map<int, CommandHandler> commands_;
    struct Range {
        int first;
        int last;
        RangeHandler handler;
    };
    std::vector<Range> ranges_;
    std::vector<std::unique_ptr<BitmapButton>> buttons_;
};

} // namespace framework
