#include "jpeg/out_of_memory.h"

#include "platform/ui.h"

#include <cstdlib>

namespace jpeg {

const char kOutOfMemoryText[] =
    "Virtual Memory is not enough.  \nHave any problem.  \nPlease contact agency.  ";

namespace {
void endProcess(int exitCode) {
    std::exit(exitCode);
}
ProcessExit currentExit = endProcess;
} // namespace

ProcessExit setProcessExit(ProcessExit exit) {
    ProcessExit previous = currentExit;
    currentExit = exit != nullptr ? exit : endProcess;
    return previous;
}

void reportOutOfMemory(platform::UserInterface& ui) {
    ui.messageBox(kOutOfMemoryText);
    currentExit(1);
}

} // namespace jpeg
