#include "framework/app.h"

namespace framework {
namespace {

HMODULE& moduleSlot() {
    static HMODULE module = nullptr;
    return module;
}

// The module containing this function, so a DLL names itself rather than its host.
HMODULE ownModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ownModule), &module);
    return module;
}

std::string baseNameOf(HMODULE module) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::string();
    }
    std::string name(path, length);
    std::string::size_type slash = name.find_last_of("\\/:");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

} // namespace

void setProgramModule(HMODULE module) {
    moduleSlot() = module;
}

HMODULE programModule() {
    if (moduleSlot() == nullptr) {
        moduleSlot() = ownModule();
    }
    return moduleSlot();
}

const std::string& programName() {
    static std::string name;
    static HMODULE namedFor = nullptr;
    if (name.empty() || namedFor != programModule()) {
        namedFor = programModule();
        name = baseNameOf(namedFor);
    }
    return name;
}

int messageBox(HWND owner, const char* text, unsigned type) {
    if ((type & MB_ICONMASK) == 0) {
        type |= MB_ICONEXCLAMATION;
    }
    return MessageBoxA(owner, text, programName().c_str(), type);
}

bool askYesNo(HWND owner, const char* text) {
    return messageBox(owner, text, MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

} // namespace framework

namespace framework {
namespace {

Application*& currentSlot() {
    static Application* current = nullptr;
    return current;
}

struct WaitState {
    int depth = 0;
    HCURSOR restore = nullptr;
};

WaitState& waitState() {
    static WaitState state;
    return state;
}

} // namespace

Application::Application(HMODULE module)
    : module_(module != nullptr ? module : programModule()), previous_(currentSlot()) {
    setProgramModule(module_);
    currentSlot() = this;
}

Application::~Application() {
    if (currentSlot() == this) {
        currentSlot() = previous_;
    }
}

Application* Application::current() {
    return currentSlot();
}

HWND mainWindow() {
    Application* app = Application::current();
    return app != nullptr ? app->mainWindow() : nullptr;
}

void beginWaitCursor() {
    WaitState& state = waitState();
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
    if (state.depth++ == 0) {
        state.restore = previous;
    }
}

void endWaitCursor() {
    WaitState& state = waitState();
    if (state.depth == 0) {
        return;
    }
    if (--state.depth == 0) {
        SetCursor(state.restore != nullptr
                      ? state.restore
                      : LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW)));
        state.restore = nullptr;
    }
}

bool waitCursorShown() {
    return waitState().depth > 0;
}

} // namespace framework
