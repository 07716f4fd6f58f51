// The user interface of the command-line tools and benchmarks: messages go to standard error
// as "<prefix>: text"; a question is answered No, so a tool never agrees to anything unasked.
#pragma once

#include "platform/ui.h"

#include <cstdio>

namespace platform {

class ConsoleUi : public UserInterface {
public:
    explicit ConsoleUi(const char* prefix) : prefix_(prefix) {}
    int messageBox(const char* text, unsigned type) override {
        std::fprintf(stderr, "%s: %s\n", prefix_, text);
        return (type & 0xF) == kMbYesNo ? kIdNo : kIdOk;
    }
    void requestClose() override { std::fprintf(stderr, "%s: closing\n", prefix_); }
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}

private:
    const char* prefix_;
};

} // namespace platform
