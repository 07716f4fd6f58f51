// The test data source: plays the data source's side of campanel's contract and writes
// down every call in both directions. Everything runs on the thread that pumps the host's
// messages; calls from campanel into DS_Entry may arrive nested inside our calls to it.
#include "twain/lvtestds.h"

#include "campanel/client.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDgPanel = 0x4001;
constexpr WORD kMsgPanelReady = 0x4001;
constexpr WORD kMsgPanelClose = 0x4002;
constexpr WORD kTwrcSuccess = 0;
constexpr WORD kTwrcFailure = 1;
// campanel counts a batch in 16 bits: a larger number of pictures cannot be one.
constexpr uintptr_t kMaxBatch = 0xFFFF;
// Posted to our message window: answer the close request once campanel has returned.
constexpr UINT kAnswerClose = WM_APP + 1;
constexpr char kWindowClass[] = "LvTestDsMessages";

using campanel::CursorFn;

#ifdef __GNUC__
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#endif
std::string format(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// One line per call. A call's line is begun when it is made and its result appended when
// it returns, so the lines of calls nested inside it follow it. Copied to the file named by
// LV_TWAIN_LOG after every change, so a crash leaves the calls up to it.
class Transcript {
public:
    // Which line a result belongs to; a clear in between makes it void.
    struct Ticket {
        std::size_t generation;
        std::size_t index;
    };

    Ticket begin(const std::string& line) {
        lines_.push_back(line);
        changed();
        return Ticket{generation_, lines_.size() - 1};
    }
    void finish(Ticket ticket, const std::string& result) {
        if (ticket.generation == generation_ && ticket.index < lines_.size()) {
            lines_[ticket.index] += result;
            changed();
        }
    }
    void add(const std::string& line) { begin(line); }
    void clear() {
        lines_.clear();
        ++generation_;
        changed();
    }
    const char* text() {
        text_.clear();
        for (const std::string& line : lines_) {
            text_ += line;
            text_ += '\n';
        }
        return text_.c_str();
    }

private:
    void changed() {
        char path[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("LV_TWAIN_LOG", path, sizeof path);
        if (n == 0 || n >= sizeof path) {
            return;
        }
        if (std::FILE* file = std::fopen(path, "wb")) {
            const char* all = text();
            std::fwrite(all, 1, std::strlen(all), file);
            std::fclose(file);
        }
    }

    std::vector<std::string> lines_;
    std::string text_;
    std::size_t generation_ = 0;
};

// Bytes of the pixel rows of an uncompressed DIB.
uint64_t pixelBytes(const BITMAPINFOHEADER& h) {
    uint64_t stride = (uint64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    return stride * uint64_t(h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight);
}

// Bytes of a packed DIB from its header: header, colour table, pixel rows.
uint64_t packedDibSize(const BITMAPINFOHEADER& h) {
    uint64_t colours = h.biClrUsed;
    if (colours == 0 && h.biBitCount <= 8) {
        colours = uint64_t{1} << h.biBitCount;
    }
    return h.biSize + colours * 4 + pixelBytes(h);
}

class DataSource {
public:
    void setInstance(HINSTANCE instance) { instance_ = instance; }

    HWND open(HWND owner, DWORD flags, const char* pathForCampanel) {
        done_ = false;
        if (!loadCampanel() || !createMessageWindow()) {
            return nullptr;
        }
        char own[MAX_PATH];
        DWORD n = GetModuleFileNameA(instance_, own, sizeof own);
        if (n == 0 || n >= sizeof own) {
            error("cannot read the data source's own file name");
            return nullptr;
        }
        const char* path = pathForCampanel != nullptr ? pathForCampanel : own;
        Call call(*this, format("-> UI_CONNECT \"%s\" owner=0x%08lX flags=0x%lX", path,
                                handleValue(owner), flags));
        HWND window = campanel_.connect(path, owner, flags);
        call.result(format(" = 0x%08lX", handleValue(window)));
        return window;
    }

    void setOutput(const char* folder) {
        output_ = folder != nullptr ? folder : "";
        if (!output_.empty() && output_.back() != '\\' && output_.back() != '/') {
            output_ += '\\';
        }
        pictures_ = 0;
    }

    WORD entry(void* origin, DWORD dg, WORD dat, WORD msg, void* data) {
        uintptr_t value = reinterpret_cast<uintptr_t>(data);
        log_.add(format("<- DS_Entry dg=0x%lX dat=0x%X msg=0x%X data=%lu nested=%d", dg, dat, msg,
                        static_cast<unsigned long>(value), depth_));
        if (dg != kDgPanel || dat != 0 || (msg != kMsgPanelReady && msg != kMsgPanelClose)) {
            error("DS_Entry: not a panel message");
            return kTwrcFailure;
        }
        if (origin == nullptr) {
            error("DS_Entry: no origin identity");
            return kTwrcFailure;
        }
        if (msg == kMsgPanelReady && (value == 0 || value > kMaxBatch)) {
            error("DS_Entry: not a number of pictures");
            return kTwrcFailure;
        }
        if (msg == kMsgPanelClose && value != 0) {
            error("DS_Entry: close request with data"); // answered all the same
        }
        if (campanel_.module == nullptr) {
            error("DS_Entry: campanel is not loaded");
            return kTwrcFailure;
        }
        if (msg == kMsgPanelClose) {
            askToAnswerClose();
            return kTwrcSuccess;
        }
        pullPictures(static_cast<int>(value));
        return kTwrcSuccess;
    }

    intptr_t call(const char* name) {
        if (campanel_.module == nullptr) {
            error(format("TestDS_Call %s: campanel is not loaded", name));
            return 0;
        }
        std::string n = name;
        if (n == "UI_GETIMAGE") {
            return reinterpret_cast<intptr_t>(getImage(false));
        }
        if (n == "UI_GETIMAGEINFO") {
            BITMAPINFOHEADER header;
            return reinterpret_cast<intptr_t>(getImageInfo(header));
        }
        if (n == "UI_ToFirstImage") {
            return cursorCall("UI_ToFirstImage", campanel_.toFirstImage);
        }
        if (n == "UI_ToNextSelectedImage") {
            return cursorCall("UI_ToNextSelectedImage", campanel_.toNextSelectedImage);
        }
        if (n == "UI_DISCONNECT") {
            return disconnect();
        }
        error(format("TestDS_Call: no function %s", name));
        return 0;
    }

    void unload() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
            window_ = nullptr;
            UnregisterClassA(kWindowClass, instance_);
        }
        campanel_.unload();
        closePosted_ = closeDeferred_ = false;
    }

    void answerClose() {
        closePosted_ = false;
        // A message loop inside campanel (a message box, say) can deliver the request while
        // we are still inside one of its calls: answer only once that call has returned.
        if (depth_ > 0) {
            closeDeferred_ = true;
            return;
        }
        cursorCall("UI_ToFirstImage", campanel_.toFirstImage);
        disconnect();
        done_ = true;
    }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);

    int done() const { return done_ ? 1 : 0; }
    int pictures() const { return pictures_; }
    int errors() const { return errors_; }
    HMODULE campanelModule() const { return campanel_.module; }
    const char* transcript() { return log_.text(); }
    void clearTranscript() {
        log_.clear();
        errors_ = 0;
    }

private:
    // One call into campanel: its transcript line and the nesting depth while it runs.
    class Call {
    public:
        Call(DataSource& ds, const std::string& line) : ds_(ds), ticket_(ds.log_.begin(line)) {
            ++ds_.depth_;
        }
        ~Call() {
            if (--ds_.depth_ == 0 && ds_.closeDeferred_) {
                ds_.closeDeferred_ = false;
                ds_.askToAnswerClose();
            }
        }
        void result(const std::string& text) { ds_.log_.finish(ticket_, text); }

    private:
        DataSource& ds_;
        Transcript::Ticket ticket_;
    };

    static unsigned long handleValue(const void* handle) {
        return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle));
    }

    void error(const std::string& text) {
        ++errors_;
        log_.add("!! " + text);
    }

    bool loadCampanel() {
        const char* missing = nullptr;
        switch (campanel_.load(instance_, &missing)) {
        case campanel::Library::Failure::None:
            return true;
        case campanel::Library::Failure::Path:
            error("cannot make the path of campanel.dll");
            break;
        case campanel::Library::Failure::Load:
            error(format("cannot load campanel.dll beside the data source (error %lu)",
                         GetLastError()));
            break;
        case campanel::Library::Failure::Export:
            error(format("campanel.dll has no %s", missing));
            break;
        }
        return false;
    }

    bool createMessageWindow() {
        if (window_ != nullptr) {
            return true;
        }
        WNDCLASSA wc = {};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance_;
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc); // fails harmlessly when already registered
        window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance_, nullptr);
        if (window_ == nullptr) {
            error(format("cannot create the message window (error %lu)", GetLastError()));
        }
        return window_ != nullptr;
    }

    void askToAnswerClose() {
        if (!closePosted_ && window_ != nullptr && PostMessageA(window_, kAnswerClose, 0, 0)) {
            closePosted_ = true;
        }
    }

    // The batch of n pictures announced by pictures-ready, in the order campanel expects.
    void pullPictures(int n) {
        for (int i = 0; i < n; ++i) {
            BITMAPINFOHEADER info;
            bool haveInfo = getImageInfo(info) != nullptr;
            std::string file = output_.empty() ? "" : format("%03d.bmp", pictures_ + 1);
            HGLOBAL dib = getImage(true, haveInfo ? &info : nullptr, file);
            if (dib != nullptr) {
                ++pictures_;
                if (GlobalFree(dib) != nullptr) {
                    error("GlobalFree failed on the picture");
                }
            }
            cursorCall("UI_ToNextSelectedImage", campanel_.toNextSelectedImage);
        }
    }

    // UI_GETIMAGEINFO; the header is copied, since it belongs to campanel's catalogue.
    const BITMAPINFOHEADER* getImageInfo(BITMAPINFOHEADER& copy) {
        Call call(*this, "-> UI_GETIMAGEINFO");
        const BITMAPINFOHEADER* info = campanel_.getImageInfo();
        if (info == nullptr) {
            call.result(" = null");
            return nullptr;
        }
        copy = *info;
        call.result(
            format(" = header %ldx%ld %u-bit", copy.biWidth, copy.biHeight, copy.biBitCount));
        return info;
    }

    // UI_GETIMAGE. Inside a batch the DIB is checked against the header announced for it and
    // written to file (when there is one); the caller frees it.
    HGLOBAL getImage(bool batch, const BITMAPINFOHEADER* announced = nullptr,
                     const std::string& file = "") {
        HGLOBAL dib;
        std::string result;
        {
            Call call(*this, "-> UI_GETIMAGE");
            dib = campanel_.getImage();
            result = describeDib(dib);
            call.result(dib != nullptr && !file.empty() ? result + " " + file : result);
        }
        if (dib != nullptr && batch) {
            checkAndWrite(dib, announced, file);
        }
        return dib;
    }

    std::string describeDib(HGLOBAL dib) {
        if (dib == nullptr) {
            return " = null";
        }
        const void* bytes = GlobalLock(dib);
        if (bytes == nullptr) {
            return " = dib (cannot be locked)";
        }
        std::string text = " = dib (shorter than a header)";
        if (GlobalSize(dib) >= sizeof(BITMAPINFOHEADER)) {
            BITMAPINFOHEADER h;
            std::memcpy(&h, bytes, sizeof h);
            text = format(" = dib %ldx%ld %u-bit %lu bytes %s", h.biWidth, h.biHeight, h.biBitCount,
                          static_cast<unsigned long>(GlobalSize(dib)),
                          bytes == dib ? "fixed" : "movable");
        }
        GlobalUnlock(dib);
        return text;
    }

    void checkAndWrite(HGLOBAL dib, const BITMAPINFOHEADER* announced, const std::string& file) {
        const unsigned char* bytes = static_cast<const unsigned char*>(GlobalLock(dib));
        if (bytes == nullptr) {
            error("the picture cannot be locked");
            return;
        }
        std::size_t available = GlobalSize(dib);
        BITMAPINFOHEADER h = {};
        if (available >= sizeof h) {
            std::memcpy(&h, bytes, sizeof h);
        }
        const WORD bits = h.biBitCount;
        std::size_t size = 0;
        if (h.biSize < sizeof h || h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0 ||
            h.biPlanes != 1 ||
            (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
            packedDibSize(h) > available) {
            error("the picture is no packed DIB");
        } else {
            size = static_cast<std::size_t>(packedDibSize(h));
        }
        if (announced == nullptr) {
            error("a picture without UI_GETIMAGEINFO's header");
        } else if (size != 0 &&
                   (h.biWidth != announced->biWidth || h.biHeight != announced->biHeight ||
                    h.biBitCount != announced->biBitCount)) {
            error(format("the picture is %ldx%ld %u-bit, UI_GETIMAGEINFO said %ldx%ld %u-bit",
                         h.biWidth, h.biHeight, h.biBitCount, announced->biWidth,
                         announced->biHeight, announced->biBitCount));
        }
        if (size != 0 && !file.empty()) {
            writeBmp(output_ + file, bytes, size);
        }
        GlobalUnlock(dib);
    }

    void writeBmp(const std::string& path, const unsigned char* dib, std::size_t size) {
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib, sizeof h);
        BITMAPFILEHEADER f = {};
        f.bfType = 0x4D42; // "BM"
        f.bfSize = static_cast<DWORD>(sizeof f + size);
        f.bfOffBits = static_cast<DWORD>(sizeof f + size - pixelBytes(h));
        std::FILE* out = std::fopen(path.c_str(), "wb");
        bool ok = out != nullptr && std::fwrite(&f, sizeof f, 1, out) == 1 &&
                  std::fwrite(dib, 1, size, out) == size;
        if (out != nullptr && std::fclose(out) != 0) {
            ok = false;
        }
        if (!ok) {
            error("cannot write " + path);
        }
    }

    int cursorCall(const char* name, CursorFn fn) {
        Call call(*this, std::string("-> ") + name);
        int result = fn();
        call.result(format(" = %d", result));
        return result;
    }

    BOOL disconnect() {
        Call call(*this, "-> UI_DISCONNECT");
        BOOL result = campanel_.disconnect();
        call.result(format(" = %d", result));
        return result;
    }

    HINSTANCE instance_ = nullptr;
    campanel::Library campanel_;
    Transcript log_;
    HWND window_ = nullptr;
    int depth_ = 0; // calls into campanel we are inside
    bool closePosted_ = false;
    bool closeDeferred_ = false;
    bool done_ = false;
    std::string output_;
    int pictures_ = 0;
    int errors_ = 0;
};

DataSource g_ds;

LRESULT CALLBACK DataSource::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == kAnswerClose) {
        g_ds.answerClose();
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_ds.setInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// The data source's entry, as campanel calls it: exported undecorated (lvtestds.def).
WORD WINAPI DS_Entry(void* origin, DWORD dg, WORD dat, WORD msg, void* data) {
    return g_ds.entry(origin, dg, dat, msg, data);
}

HWND TestDS_Open(HWND owner, DWORD flags, const char* pathForCampanel) {
    return g_ds.open(owner, flags, pathForCampanel);
}
void TestDS_SetOutput(const char* folder) {
    g_ds.setOutput(folder);
}
int TestDS_Done() {
    return g_ds.done();
}
int TestDS_Pictures() {
    return g_ds.pictures();
}
int TestDS_Errors() {
    return g_ds.errors();
}
const char* TestDS_Transcript() {
    return g_ds.transcript();
}
void TestDS_ClearTranscript() {
    g_ds.clearTranscript();
}
intptr_t TestDS_Call(const char* name) {
    return g_ds.call(name != nullptr ? name : "");
}
HMODULE TestDS_Campanel() {
    return g_ds.campanelModule();
}
void TestDS_Unload() {
    g_ds.unload();
}

} // extern "C"
