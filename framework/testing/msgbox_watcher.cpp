#include "framework/testing/msgbox_watcher.h"

#include <chrono>

namespace lvtest {
namespace {

std::string windowText(HWND window) {
    char text[1024] = {};
    // WM_GETTEXT works across processes, unlike GetWindowText for foreign windows. With a
    // time-out: the window's thread may be the test's, waiting for this watcher to stop.
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_BLOCK | SMTO_ABORTIFHUNG, 200, &copied);
    return text;
}

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

unsigned iconKind(HICON icon) {
    if (icon == nullptr) {
        return kUnknownIcon;
    }
    static const struct {
        LPCSTR resource;
        unsigned kind;
    } standard[] = {{IDI_EXCLAMATION, MB_ICONEXCLAMATION},
                    {IDI_HAND, MB_ICONHAND},
                    {IDI_QUESTION, MB_ICONQUESTION},
                    {IDI_ASTERISK, MB_ICONASTERISK}};
    for (const auto& s : standard) {
        if (LoadIconA(nullptr, s.resource) == icon) {
            return s.kind;
        }
    }
    return kUnknownIcon;
}

struct Children {
    std::vector<HWND> all;
};

BOOL CALLBACK collectChild(HWND child, LPARAM param) {
    reinterpret_cast<Children*>(param)->all.push_back(child);
    return TRUE;
}

struct Search {
    const std::string* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK findBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (IsWindowVisible(window) && className(window) == "#32770" &&
        windowText(window) == *search->caption) {
        search->found.push_back(window);
    }
    return TRUE;
}

} // namespace

MessageBoxWatcher::MessageBoxWatcher(std::string caption, std::vector<int> answers)
    : caption_(std::move(caption)), answers_(std::move(answers)) {
    if (answers_.empty()) {
        answers_.push_back(IDOK);
    }
    thread_ = std::thread([this] { run(); });
}

MessageBoxWatcher::~MessageBoxWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool MessageBoxWatcher::waitForCount(std::size_t count, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return seen_.size() >= count; });
}

std::vector<SeenMessageBox> MessageBoxWatcher::seen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void MessageBoxWatcher::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        lock.unlock();
        Search search{&caption_, {}};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.found) {
            answer(box);
        }
        lock.lock();
        // Polling, since another process's boxes send us nothing; 20 ms keeps tests brisk.
        changed_.wait_for(lock, std::chrono::milliseconds(20), [this] { return stop_; });
    }
}

void MessageBoxWatcher::answer(HWND box) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (handled_.count(box) != 0) {
            return;
        }
    }
    SeenMessageBox seen;
    seen.caption = caption_;
    Children children;
    EnumChildWindows(box, collectChild, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children.all) {
        std::string kind = className(child);
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (kind == "Button") {
            LONG type = style & BS_TYPEMASK;
            if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) {
                seen.buttons.push_back(GetDlgCtrlID(child));
            }
            // The box marks its default by style; DM_GETDEFID is not kept up to date by all.
            if (type == BS_DEFPUSHBUTTON) {
                seen.defaultButton = GetDlgCtrlID(child);
            }
        } else if (kind == "Static") {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                if (IsWindowVisible(child)) {
                    seen.icon =
                        iconKind(reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)));
                }
            } else if (seen.text.empty()) {
                seen.text = windowText(child);
            }
        }
    }
    LRESULT def = SendMessageA(box, DM_GETDEFID, 0, 0);
    if (seen.defaultButton == 0 && HIWORD(def) == DC_HASDEFID) {
        seen.defaultButton = LOWORD(def);
    }
    std::size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = seen_.size();
    }
    seen.pressed = answers_[index < answers_.size() ? index : answers_.size() - 1];
    // Through the button itself, as a click would, so the box's own logic decides.
    HWND button = GetDlgItem(box, seen.pressed);
    if (button != nullptr) {
        PostMessageA(button, BM_CLICK, 0, 0);
    } else {
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(seen.pressed, BN_CLICKED), 0);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handled_.insert(box);
        seen_.push_back(std::move(seen));
    }
    changed_.notify_all();
}

} // namespace lvtest
