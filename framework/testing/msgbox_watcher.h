// Test helper: answers message boxes the way a user would, from a thread of its own, and
// records what each box showed. Every Windows UI test answers its questions through it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lvtest {

struct SeenMessageBox {
    std::string caption;
    std::string text;
    // MB_ICONEXCLAMATION, MB_ICONHAND, MB_ICONQUESTION, MB_ICONASTERISK; 0 without an icon;
    // kUnknownIcon when an icon shows that is not one of the four (or not readable from here).
    unsigned icon = 0;
    std::vector<int> buttons; // control ids of the push buttons (IDOK, IDYES, IDNO ...)
    int defaultButton = 0;    // the push button with the default style
    int pressed = 0;          // the id the watcher pressed
};

constexpr unsigned kUnknownIcon = 0xFFFFFFFFu;

class MessageBoxWatcher {
public:
    // Finds message boxes (class #32770) captioned `caption` in any process on the desktop,
    // records them and presses the next of `answers`; the last answer repeats.
    MessageBoxWatcher(std::string caption, std::vector<int> answers);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Waits until `count` boxes have been answered; false when the time ran out.
    bool waitForCount(std::size_t count, unsigned timeoutMs);
    std::vector<SeenMessageBox> seen() const;

private:
    void run();
    void answer(HWND box);

    std::string caption_;
    std::vector<int> answers_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenMessageBox> seen_;
    std::set<HWND> handled_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace lvtest
