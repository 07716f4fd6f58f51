// A stand-in for the Windows Still Image service: StiCreateInstanceW, IStillImageW and
// IStiDevice over the simulated camera. Configuration, read whenever the first object is
// made (each time no object of ours is alive; the camera then starts afresh, on the card
// as the last one left it):
//   LV_STI_CARD        card folder (unset: an empty card)
//   LV_STI_DEVICES     none | one | two | wrong-case | extended, or descriptions split by '|'
//   LV_STI_FAULTS      faults in the text form of sim/faults.h, separated by commas
//   LV_STI_TRANSCRIPT  file that receives one line per call, escape and note
// each from the environment, else from the value of that name under
// HKCU\Software\LUMIVERA\StiSim.
#define CINTERFACE
#include <windows.h>

#include <initguid.h>

#include <sti.h>

#include "sim/camera.h"
#include "sim/card.h"
#include "sim/faults.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kDescription[] = L"LUMIVERA LV2700c5";
constexpr DWORD kDigitalCamera = 0x00020000; // StiDeviceTypeDigitalCamera in the high word
const HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

std::string setting(const char* name) {
    char value[2048];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n > 0 && n < sizeof value)
        return std::string(value, n);
    HKEY key = nullptr;
    std::string out;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\LUMIVERA\\StiSim", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        DWORD type = 0, size = sizeof value - 1;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {
            value[size] = '\0';
            out = value;
        }
        RegCloseKey(key);
    }
    return out;
}

std::vector<std::wstring> descriptions(const std::string& devices) {
    if (devices.empty() || devices == "one")
        return {kDescription};
    if (devices == "none")
        return {};
    if (devices == "two")
        return {kDescription, kDescription};
    if (devices == "wrong-case")
        return {L"Lumivera LV2700C5"};
    if (devices == "extended")
        return {L"LUMIVERA LV2700c5 Digital Camera"};
    std::vector<std::wstring> out;
    std::string item;
    for (std::size_t at = 0; at <= devices.size(); ++at) {
        if (at == devices.size() || devices[at] == '|') {
            out.push_back(std::wstring(item.begin(), item.end()));
            item.clear();
        } else {
            item += devices[at];
        }
    }
    return out;
}

std::wstring internalName(std::size_t index) {
    wchar_t name[64];
    swprintf(name, 64, L"{6BDD1FC6-810F-11D0-BEC7-08002BE10318}\\%04u", unsigned(index));
    return name;
}

// The one simulated camera of this process and what the service shows of it.
struct Service {
    CRITICAL_SECTION lock;
    LONG objects = 0; // live IStillImageW and IStiDevice objects
    sim::Card card;
    std::unique_ptr<sim::Camera> camera;
    std::vector<std::wstring> devices;
    std::string transcriptPath;
    std::size_t logged = 0;
    bool transcriptStarted = false;

    Service() { InitializeCriticalSection(&lock); }

    void configure() {
        std::string error;
        const std::string folder = setting("LV_STI_CARD");
        card = sim::Card();
        if (!folder.empty()) {
            if (auto opened = sim::Card::open(folder, &error))
                card = std::move(*opened);
        }
        sim::Faults faults;
        const bool faultsOk = sim::applyFaults(setting("LV_STI_FAULTS"), faults, &error);
        camera = std::make_unique<sim::Camera>(card, faults);
        devices = descriptions(setting("LV_STI_DEVICES"));
        transcriptPath = setting("LV_STI_TRANSCRIPT");
        logged = 0;
        // The file starts afresh with the process; later cameras append to it.
        if (!transcriptPath.empty() && !transcriptStarted) {
            transcriptStarted = true;
            if (FILE* f = std::fopen(transcriptPath.c_str(), "w"))
                std::fclose(f);
        }
        camera->note("configure card=" + folder + (error.empty() ? "" : " error: " + error),
                     error.empty() && faultsOk);
        flush();
    }

    // Appends the events not yet written to the transcript file.
    void flush() {
        const auto& events = camera->transcript().events();
        if (transcriptPath.empty() || logged == events.size())
            return;
        if (FILE* f = std::fopen(transcriptPath.c_str(), "a")) {
            for (; logged < events.size(); ++logged)
                std::fprintf(f, "%s\n", sim::Transcript::line(events[logged]).c_str());
            std::fclose(f);
        }
    }
};

Service& service() {
    static Service* s = new Service(); // lives as long as the process
    return *s;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&service().lock); }
    ~Locked() {
        service().flush();
        LeaveCriticalSection(&service().lock);
    }
    sim::Camera& camera() { return *service().camera; }
};

// ---- IStiDevice ----

struct Device {
    IStiDevice iface;
    LONG refs;
    std::wstring name;
};

Device* self(IStiDevice* This) {
    return reinterpret_cast<Device*>(This);
}

HRESULT STDMETHODCALLTYPE devQueryInterface(IStiDevice* This, REFIID riid, LPVOID* out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStiDevice)) {
        InterlockedIncrement(&self(This)->refs);
        *out = This;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE devAddRef(IStiDevice* This) {
    return ULONG(InterlockedIncrement(&self(This)->refs));
}

ULONG STDMETHODCALLTYPE devRelease(IStiDevice* This) {
    const LONG left = InterlockedDecrement(&self(This)->refs);
    if (left == 0) {
        Locked locked;
        // The service gives up a lock whose holder went away.
        if (locked.camera().locked())
            locked.camera().unlockDevice();
        locked.camera().note("Release device");
        --service().objects;
        delete self(This);
    }
    return ULONG(left);
}

HRESULT result(bool ok, HRESULT failure) {
    if (ok)
        return S_OK;
    return service().camera->present() ? failure : kNotConnected;
}

HRESULT STDMETHODCALLTYPE devInitialize(IStiDevice*, HINSTANCE, LPCWSTR, DWORD, DWORD) {
    return STIERR_ALREADY_INITIALIZED;
}
HRESULT STDMETHODCALLTYPE devGetCapabilities(IStiDevice*, PSTI_DEV_CAPS) {
    return STIERR_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE devGetStatus(IStiDevice*, PSTI_DEVICE_STATUS status) {
    Locked locked;
    if (!status || status->dwSize != sizeof(STI_DEVICE_STATUS)) {
        locked.camera().note("GetStatus with a bad record", false);
        return STIERR_INVALID_PARAM;
    }
    if (!locked.camera().getStatus())
        return result(false, STIERR_DEVICE_NOTREADY);
    if (status->StatusMask & STI_DEVSTATUS_ONLINE_STATE)
        status->dwOnlineState = STI_ONLINESTATE_OPERATIONAL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE devDeviceReset(IStiDevice*) {
    Locked locked;
    return result(locked.camera().resetDevice(), STIERR_GENERIC);
}

HRESULT STDMETHODCALLTYPE devDiagnostic(IStiDevice*, LPSTI_DIAG) {
    return STIERR_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE devEscape(IStiDevice*, STI_RAW_CONTROL_CODE code, LPVOID in, DWORD inSize,
                                    LPVOID out, DWORD outSize, LPDWORD actual) {
    Locked locked;
    std::uint32_t delivered = 0;
    const bool ok =
        locked.camera().escape(code, in, in ? inSize : 0, out, out ? outSize : 0, &delivered);
    if (actual)
        *actual = delivered;
    return result(ok, STIERR_GENERIC);
}

HRESULT STDMETHODCALLTYPE devGetLastError(IStiDevice*, LPDWORD) {
    return STIERR_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE devLockDevice(IStiDevice*, DWORD timeout) {
    Locked locked;
    return result(locked.camera().lockDevice(timeout), STIERR_DEVICE_LOCKED);
}

HRESULT STDMETHODCALLTYPE devUnLockDevice(IStiDevice*) {
    Locked locked;
    return result(locked.camera().unlockDevice(), STIERR_NEEDS_LOCK);
}

HRESULT STDMETHODCALLTYPE devRawReadData(IStiDevice*, LPVOID, LPDWORD, LPOVERLAPPED) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE devRawWriteData(IStiDevice*, LPVOID, DWORD, LPOVERLAPPED) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE devRawReadCommand(IStiDevice*, LPVOID, LPDWORD, LPOVERLAPPED) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE devRawWriteCommand(IStiDevice*, LPVOID, DWORD, LPOVERLAPPED) {
    return STIERR_UNSUPPORTED;
}

HRESULT STDMETHODCALLTYPE devSubscribe(IStiDevice*, LPSTISUBSCRIBE subscribe) {
    Locked locked;
    if (!subscribe || subscribe->dwSize != sizeof(STISUBSCRIBE) ||
        ((subscribe->dwFlags & STI_SUBSCRIBE_FLAG_EVENT) && !subscribe->hEvent)) {
        locked.camera().note("Subscribe with a bad record", false);
        return STIERR_INVALID_PARAM;
    }
    return result(locked.camera().subscribe(), STIERR_GENERIC);
}

HRESULT STDMETHODCALLTYPE devGetLastNotificationData(IStiDevice*, LPSTINOTIFY) {
    return STIERR_NOEVENTS;
}

HRESULT STDMETHODCALLTYPE devUnSubscribe(IStiDevice*) {
    Locked locked;
    return result(locked.camera().unsubscribe(), STIERR_GENERIC);
}

HRESULT STDMETHODCALLTYPE devGetLastErrorInfo(IStiDevice*, STI_ERROR_INFO*) {
    return STIERR_UNSUPPORTED;
}

// In the order of the interface.
IStiDeviceVtbl kDeviceVtbl = {
    devQueryInterface,  devAddRef,           devRelease,
    devInitialize,      devGetCapabilities,  devGetStatus,
    devDeviceReset,     devDiagnostic,       devEscape,
    devGetLastError,    devLockDevice,       devUnLockDevice,
    devRawReadData,     devRawWriteData,     devRawReadCommand,
    devRawWriteCommand, devSubscribe,        devGetLastNotificationData,
    devUnSubscribe,     devGetLastErrorInfo,
};

// ---- IStillImageW ----

struct StillImage {
    IStillImageW iface;
    LONG refs;
};

StillImage* self(IStillImageW* This) {
    return reinterpret_cast<StillImage*>(This);
}

HRESULT STDMETHODCALLTYPE stiQueryInterface(IStillImageW* This, REFIID riid, LPVOID* out) {
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IStillImageW)) {
        InterlockedIncrement(&self(This)->refs);
        *out = This;
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE stiAddRef(IStillImageW* This) {
    return ULONG(InterlockedIncrement(&self(This)->refs));
}

ULONG STDMETHODCALLTYPE stiRelease(IStillImageW* This) {
    const LONG left = InterlockedDecrement(&self(This)->refs);
    if (left == 0) {
        Locked locked;
        locked.camera().note("Release still image");
        --service().objects;
        delete self(This);
    }
    return ULONG(left);
}

HRESULT STDMETHODCALLTYPE stiInitialize(IStillImageW*, HINSTANCE, DWORD) {
    return STIERR_ALREADY_INITIALIZED;
}

// One LocalAlloc block: the records, then their strings, as the service hands it out (the
// caller gives it back with LocalFree).
HRESULT STDMETHODCALLTYPE stiGetDeviceList(IStillImageW*, DWORD type, DWORD, DWORD* count,
                                           LPVOID* buffer) {
    Locked locked;
    if (!count || !buffer) {
        locked.camera().note("GetDeviceList without result pointers", false);
        return STIERR_INVALID_PARAM;
    }
    *count = 0;
    *buffer = nullptr;
    const Service& s = service();
    const bool listed =
        locked.camera().present() && (type == 0 || (type & 0xFFFF0000) == kDigitalCamera);
    const std::size_t n = listed ? s.devices.size() : 0;
    locked.camera().note("GetDeviceList " + std::to_string(n));
    if (n == 0)
        return S_OK;
    static const wchar_t vendor[] = L"LUMIVERA";
    static const wchar_t port[] = L"\\\\.\\Usbscan0";
    static const wchar_t provider[] = L"sti.dll";
    std::size_t size = n * sizeof(STI_DEVICE_INFORMATIONW);
    for (const auto& d : s.devices)
        size +=
            (sizeof vendor + sizeof port + sizeof provider) + 2 * (d.size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, size));
    if (!block)
        return STIERR_OUTOFMEMORY;
    auto* info = reinterpret_cast<STI_DEVICE_INFORMATIONW*>(block);
    auto* text = reinterpret_cast<wchar_t*>(block + n * sizeof(STI_DEVICE_INFORMATIONW));
    auto put = [&text](const wchar_t* s, std::size_t length) {
        wchar_t* at = text;
        std::copy(s, s + length, at);
        at[length] = L'\0';
        text += length + 1;
        return at;
    };
    for (std::size_t i = 0; i < n; ++i) {
        info[i].dwSize = sizeof(STI_DEVICE_INFORMATIONW);
        info[i].DeviceType = kDigitalCamera;
        const std::wstring name = internalName(i);
        std::copy(name.begin(), name.end(), info[i].szDeviceInternalName);
        info[i].DeviceCapabilities.dwGeneric = STI_GENCAP_NOTIFICATIONS;
        info[i].dwHardwareConfiguration = STI_HW_CONFIG_USB;
        info[i].pszVendorDescription = put(vendor, wcslen(vendor));
        info[i].pszDeviceDescription = put(s.devices[i].c_str(), s.devices[i].size());
        info[i].pszPortName = put(port, wcslen(port));
        info[i].pszPropProvider = put(provider, wcslen(provider));
        info[i].pszLocalName = put(s.devices[i].c_str(), s.devices[i].size());
    }
    *count = DWORD(n);
    *buffer = block;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE stiGetDeviceInfo(IStillImageW*, LPWSTR, LPVOID*) {
    return STIERR_UNSUPPORTED;
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 ? char(*text) : '?';
    return out;
}

HRESULT STDMETHODCALLTYPE stiCreateDevice(IStillImageW*, LPWSTR name, DWORD mode,
                                          PSTIDEVICE* device, LPUNKNOWN outer) {
    Locked locked;
    if (!device)
        return STIERR_INVALID_PARAM;
    *device = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    const std::string what = "CreateDevice " + narrow(name) + " mode " + std::to_string(mode);
    bool known = false;
    for (std::size_t i = 0; name && i < service().devices.size(); ++i)
        known = known || internalName(i) == name;
    if (!known || !locked.camera().present()) {
        locked.camera().note(what, false);
        return known ? kNotConnected : STIERR_INVALID_DEVICE_NAME;
    }
    auto* made = new (std::nothrow) Device{{&kDeviceVtbl}, 1, name};
    if (!made)
        return STIERR_OUTOFMEMORY;
    ++service().objects;
    locked.camera().note(what);
    *device = &made->iface;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE stiGetDeviceValue(IStillImageW*, LPWSTR, LPWSTR, LPDWORD, LPBYTE,
                                            LPDWORD) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiSetDeviceValue(IStillImageW*, LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiGetSTILaunchInformation(IStillImageW*, LPWSTR, DWORD*, LPWSTR) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiRegisterLaunchApplication(IStillImageW*, LPWSTR, LPWSTR) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiUnregisterLaunchApplication(IStillImageW*, LPWSTR) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiEnableHwNotifications(IStillImageW*, LPCWSTR, WINBOOL) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiGetHwNotificationState(IStillImageW*, LPCWSTR, WINBOOL*) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiRefreshDeviceBus(IStillImageW*, LPCWSTR) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiLaunchApplicationForDevice(IStillImageW*, LPWSTR, LPWSTR,
                                                        LPSTINOTIFY) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiSetupDeviceParameters(IStillImageW*, PSTI_DEVICE_INFORMATIONW) {
    return STIERR_UNSUPPORTED;
}
HRESULT STDMETHODCALLTYPE stiWriteToErrorLog(IStillImageW*, DWORD, LPCWSTR) {
    return STIERR_UNSUPPORTED;
}

// In the order of the interface.
IStillImageWVtbl kStillImageVtbl = {
    stiQueryInterface,
    stiAddRef,
    stiRelease,
    stiInitialize,
    stiGetDeviceList,
    stiGetDeviceInfo,
    stiCreateDevice,
    stiGetDeviceValue,
    stiSetDeviceValue,
    stiGetSTILaunchInformation,
    stiRegisterLaunchApplication,
    stiUnregisterLaunchApplication,
    stiEnableHwNotifications,
    stiGetHwNotificationState,
    stiRefreshDeviceBus,
    stiLaunchApplicationForDevice,
    stiSetupDeviceParameters,
    stiWriteToErrorLog,
};

} // namespace

extern "C" HRESULT WINAPI StiCreateInstanceW(HINSTANCE, DWORD version, IStillImageW** out,
                                             LPUNKNOWN outer) {
    if (!out)
        return STIERR_INVALID_PARAM;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    if ((version & 0xFFFF) == 0)
        return STIERR_OLD_VERSION;
    EnterCriticalSection(&service().lock);
    if (service().objects == 0)
        service().configure();
    LeaveCriticalSection(&service().lock);
    Locked locked;
    auto* made = new (std::nothrow) StillImage{{&kStillImageVtbl}, 1};
    if (!made)
        return STIERR_OUTOFMEMORY;
    ++service().objects;
    locked.camera().note("StiCreateInstanceW version " + std::to_string(version));
    *out = &made->iface;
    return S_OK;
}
