// The six functions the data source calls. Each is a thin wrapper of the hand-off or the
// dialog; no exception leaves them.
#include "campanel/panel_app.h"

namespace {

campanel::CPanelApp theApp;

template <class Result, class Call> Result guarded(Result failed, Call call) {
    try {
        return call();
    } catch (...) {
        return failed;
    }
}

} // namespace

extern "C" {

HWND WINAPI UI_CONNECT(const char* dataSourceFile, HWND owner, DWORD flags) {
    return guarded<HWND>(nullptr, [&] { return theApp.connect(dataSourceFile, owner, flags); });
}

BOOL WINAPI UI_DISCONNECT() {
    return guarded<BOOL>(FALSE, [] { return theApp.disconnect() ? TRUE : FALSE; });
}

HGLOBAL WINAPI UI_GETIMAGE() {
    return guarded<HGLOBAL>(
        nullptr, [] { return static_cast<HGLOBAL>(theApp.dialog.handOff.nextHandOff()); });
}

const BITMAPINFOHEADER* WINAPI UI_GETIMAGEINFO() {
    return guarded<const BITMAPINFOHEADER*>(nullptr, [] {
        return reinterpret_cast<const BITMAPINFOHEADER*>(theApp.dialog.handOff.fetchImageInfo());
    });
}

int WINAPI UI_ToFirstImage() {
    return guarded<int>(0, [] { return theApp.dialog.handOff.toFirstImage(); });
}

int WINAPI UI_ToNextSelectedImage() {
    return guarded<int>(0, [] { return theApp.dialog.handOff.toNextSelectedImage(); });
}

} // extern "C"
