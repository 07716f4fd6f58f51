// A View that records every call as one line of text, keeps the state the calls leave
// (controls shown and enabled) and answers message boxes from a queue. For the model's,
// commands' and exports' tests.
#pragma once

#include "browser/view.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace browser::testing {

class FakeProgress : public platform::Progress {
public:
    explicit FakeProgress(std::vector<std::string>& log) : log_(log) {}
    void setRange(int low, int high) override {
        log_.push_back("progress.range " + std::to_string(low) + " " + std::to_string(high));
    }
    void setStep(int step) override { log_.push_back("progress.step " + std::to_string(step)); }
    void show() override {
        visible = true;
        log_.push_back("progress.show");
    }
    void stepIt() override {
        ++steps;
        log_.push_back("progress.stepIt");
    }
    void setText(const char* text) override {
        lastText = text != nullptr ? text : "";
        log_.push_back("progress.text " + lastText);
    }
    void hide() override {
        visible = false;
        log_.push_back("progress.hide");
    }

    bool visible = false;
    int steps = 0;
    std::string lastText;

private:
    std::vector<std::string>& log_;
};

class FakeView : public View {
public:
    // platform::UserInterface
    int messageBox(const char* text, unsigned type) override {
        messages.emplace_back(text != nullptr ? text : "");
        log.push_back("messageBox " + messages.back());
        if (answers.empty()) {
            return (type & platform::kMbYesNo) != 0 ? platform::kIdNo : platform::kIdOk;
        }
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void requestClose() override {
        ++closeRequests;
        log.push_back("requestClose");
    }
    void setButtonState(int controlId, bool pushed) override {
        pushedButtons[controlId] = pushed;
        log.push_back("setButtonState " + std::to_string(controlId) + (pushed ? " 1" : " 0"));
    }
    void invalidateControl(int controlId, bool erase) override {
        log.push_back("invalidateControl " + std::to_string(controlId) + erased(erase));
    }

    // View
    void showControl(int controlId, bool shown) override {
        this->shown[controlId] = shown;
        log.push_back("show " + std::to_string(controlId) + (shown ? " 1" : " 0"));
    }
    void enableControl(int controlId, bool enabled) override {
        this->enabled[controlId] = enabled;
        log.push_back("enable " + std::to_string(controlId) + (enabled ? " 1" : " 0"));
    }
    void invalidateRect(const Rect& r, bool erase) override {
        log.push_back("invalidateRect " + text(r) + erased(erase));
    }
    void validateRect(const Rect& r) override { log.push_back("validateRect " + text(r)); }
    void invalidateWindow(bool erase) override {
        log.push_back("invalidateWindow" + erased(erase));
    }
    void updateWindow() override { log.push_back("updateWindow"); }
    void beginWaitCursor() override {
        ++waitDepth;
        log.push_back("beginWaitCursor");
    }
    void endWaitCursor() override {
        --waitDepth;
        log.push_back("endWaitCursor");
    }
    platform::Progress* createProgress() override {
        log.push_back("createProgress");
        if (failProgress) {
            return nullptr;
        }
        progresses.push_back(std::make_unique<FakeProgress>(log));
        ++liveProgress;
        return progresses.back().get();
    }
    void destroyProgress(platform::Progress* progress) override {
        log.push_back("destroyProgress");
        if (progress != nullptr) {
            --liveProgress;
        }
    }

    // The recorded lines since the last call, and forget them.
    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
    // Recorded lines that start with `prefix`.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : log) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                out.push_back(line);
            }
        }
        return out;
    }
    // State left by showControl / enableControl; a control never touched is shown and enabled.
    bool isShown(int controlId) const {
        auto it = shown.find(controlId);
        return it == shown.end() || it->second;
    }
    bool isEnabled(int controlId) const {
        auto it = enabled.find(controlId);
        return it == enabled.end() || it->second;
    }

    static std::string text(const Rect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
               std::to_string(r.right) + "," + std::to_string(r.bottom);
    }

    std::vector<std::string> log;
    std::deque<int> answers; // message-box answers in order; then OK or No
    std::vector<std::string> messages;
    std::map<int, bool> shown;
    std::map<int, bool> enabled;
    std::map<int, bool> pushedButtons;
    std::vector<std::unique_ptr<FakeProgress>> progresses;
    int liveProgress = 0;
    int waitDepth = 0;
    int closeRequests = 0;
    bool failProgress = false;

private:
    static std::string erased(bool erase) { return erase ? " erase" : " keep"; }
};

} // namespace browser::testing
