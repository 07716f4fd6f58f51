// A View that records every call as one line of text, keeps the state the calls leave
// (controls shown and enabled) and answers message boxes from a queue. For the tests of the
// model, the commands and the exports.
#pragma once

#include "browser/view.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace browser::testing {

class FakeProgress : public platform::Progress {
public:
    explicit FakeProgress(std::vector<std::string>& log) : log_(log) {}
    void setRange(int low, int high) override {
        put("progress.range " + std::to_string(low) + " " + std::to_string(high));
    }
    void setStep(int step) override { put("progress.step " + std::to_string(step)); }
    void show() override { visible = true, put("progress.show"); }
    void stepIt() override { ++steps, put("progress.stepIt"); }
    void setText(const char* text) override {
        put("progress.text " + (lastText = text != nullptr ? text : ""));
    }
    void hide() override { visible = false, put("progress.hide"); }

    bool visible = false;
    int steps = 0;
    std::string lastText;

private:
    void put(const std::string& line) { log_.push_back(line); }
    std::vector<std::string>& log_;
};

class FakeView : public View {
public:
    int messageBox(const char* text, unsigned type) override {
        messages.emplace_back(text != nullptr ? text : "");
        put("messageBox " + messages.back());
        const int fallback = (type & platform::kMbYesNo) != 0 ? platform::kIdNo : platform::kIdOk;
        if (answers.empty()) {
            return fallback;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void requestClose() override { ++closeRequests, put("requestClose"); }
    void setButtonState(int id, bool pushed) override {
        pushedButtons[id] = pushed;
        put("setButtonState " + std::to_string(id) + flag(pushed));
    }
    void invalidateControl(int id, bool erase) override {
        put("invalidateControl " + std::to_string(id) + erased(erase));
    }
    void showControl(int id, bool show) override {
        shown[id] = show;
        put("show " + std::to_string(id) + flag(show));
    }
    void enableControl(int id, bool enable) override {
        enabled[id] = enable;
        put("enable " + std::to_string(id) + flag(enable));
    }
    void invalidateRect(const Rect& r, bool erase) override {
        put("invalidateRect " + text(r) + erased(erase));
    }
    void validateRect(const Rect& r) override { put("validateRect " + text(r)); }
    void invalidateWindow(bool erase) override { put("invalidateWindow" + erased(erase)); }
    void updateWindow() override { put("updateWindow"); }
    void beginWaitCursor() override { ++waitDepth, put("beginWaitCursor"); }
    void endWaitCursor() override { --waitDepth, put("endWaitCursor"); }
    platform::Progress* createProgress() override {
        put("createProgress");
        if (failProgress) {
            return nullptr;
        }
        progresses.push_back(std::make_unique<FakeProgress>(log));
        ++liveProgress;
        return progresses.back().get();
    }
    void destroyProgress(platform::Progress* progress) override {
        put("destroyProgress");
        liveProgress -= progress != nullptr ? 1 : 0;
    }

    bool chooseFolder(std::string& folder) override {
        put("chooseFolder");
        if (!chosenFolder) {
            return false;
        }
        folder = *chosenFolder;
        return true;
    }

    // The lines recorded since the last take.
    std::vector<std::string> take() { return std::exchange(log, {}); }
    // A control never shown, hidden, enabled or disabled counts as shown and enabled.
    bool isShown(int id) const { return !shown.count(id) || shown.at(id); }
    bool isEnabled(int id) const { return !enabled.count(id) || enabled.at(id); }

    static std::string text(const Rect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
               std::to_string(r.right) + "," + std::to_string(r.bottom);
    }

    std::vector<std::string> log;
    std::deque<int> answers; // message-box answers in turn; then OK, or No for a question
    std::vector<std::string> messages;
    std::map<int, bool> shown, enabled, pushedButtons;
    std::vector<std::unique_ptr<FakeProgress>> progresses;
    int liveProgress = 0, waitDepth = 0, closeRequests = 0;
    bool failProgress = false; // createProgress gives null
    std::optional<std::string> chosenFolder; // the folder browser's answer; none: cancelled

private:
    void put(const std::string& line) { log.push_back(line); }
    static std::string flag(bool on) { return on ? " 1" : " 0"; }
    static std::string erased(bool erase) { return erase ? " erase" : " keep"; }
};

} // namespace browser::testing
