// The Still Image service through sti.dll: StiCreateInstanceW, IStillImageW and IStiDevice.
// sti.dll is loaded when first asked for, so a Windows without it (or a Wine whose own one
// is only a stub) simply has no USB camera instead of refusing to start the program.
#include "platform/still_image.h"

#include <windows.h>

#include <objbase.h>
#include <sti.h>

namespace platform {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "WCHAR is UTF-16");
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(STISUBSCRIBE) == kStiSubscribeSize, "STISUBSCRIBE on 32 bits");
#endif
static_assert(sizeof(STI_DEVICE_STATUS) == sizeof(StiDeviceStatus), "STI_DEVICE_STATUS");

using CreateInstanceW = HRESULT(STDMETHODCALLTYPE*)(HINSTANCE, DWORD, IStillImageW**, LPUNKNOWN);

class Win32StiDevice final : public StiDevice {
public:
    explicit Win32StiDevice(IStiDevice* device) : device_(device) {}

    StiResult lockDevice(std::uint32_t timeoutMs) override {
        return device_->LockDevice(timeoutMs);
    }
    StiResult unLockDevice() override { return device_->UnLockDevice(); }
    StiResult subscribe(const StiSubscribe& s) override {
        STISUBSCRIBE subscription;
        ZeroMemory(&subscription, sizeof subscription);
        subscription.dwSize = s.dwSize;
        subscription.dwFlags = s.dwFlags;
        subscription.dwFilter = s.dwFilter;
        subscription.hWndNotify = reinterpret_cast<HWND>(s.hWndNotify);
        subscription.hEvent = reinterpret_cast<HANDLE>(s.hEvent);
        subscription.uiNotificationMessage = s.uiNotificationMessage;
        return device_->Subscribe(&subscription);
    }
    StiResult unSubscribe() override { return device_->UnSubscribe(); }
    StiResult deviceReset() override { return device_->DeviceReset(); }
    StiResult getStatus(StiDeviceStatus& status) override {
        STI_DEVICE_STATUS native;
        native.dwSize = status.dwSize;
        native.StatusMask = status.StatusMask;
        native.dwOnlineState = status.dwOnlineState;
        native.dwHardwareStatusCode = status.dwHardwareStatusCode;
        native.dwEventHandlingState = status.dwEventHandlingState;
        native.dwPollingInterval = status.dwPollingInterval;
        const HRESULT result = device_->GetStatus(&native);
        status.dwOnlineState = native.dwOnlineState;
        status.dwHardwareStatusCode = native.dwHardwareStatusCode;
        status.dwEventHandlingState = native.dwEventHandlingState;
        status.dwPollingInterval = native.dwPollingInterval;
        return result;
    }
    StiResult escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                     std::uint32_t outSize, std::uint32_t* delivered) override {
        DWORD actual = 0;
        const HRESULT result =
            device_->Escape(static_cast<STI_RAW_CONTROL_CODE>(code), const_cast<void*>(in), inSize,
                            out, outSize, &actual);
        *delivered = actual;
        return result;
    }
    std::uint32_t release() override {
        const ULONG left = device_->Release();
        delete this;
        return left;
    }

private:
    ~Win32StiDevice() = default;
    IStiDevice* device_;
};

class Win32StillImage final : public StillImage {
public:
    explicit Win32StillImage(IStillImageW* sti) : sti_(sti) {}

    StiResult getDeviceList(std::uint32_t type, std::uint32_t flags, std::uint32_t* count,
                            void** list) override {
        DWORD items = 0;
        LPVOID buffer = nullptr;
        const HRESULT result = sti_->GetDeviceList(type, flags, &items, &buffer);
        *count = items;
        *list = buffer;
        return result;
    }
    StiResult createDevice(const char16_t* internalName, std::uint32_t mode,
                           StiDevice** device) override {
        PSTIDEVICE native = nullptr;
        const HRESULT result =
            sti_->CreateDevice(const_cast<LPWSTR>(reinterpret_cast<const wchar_t*>(internalName)),
                               mode, &native, nullptr);
        *device = SUCCEEDED(result) && native != nullptr ? new Win32StiDevice(native) : nullptr;
        return result;
    }
    std::uint32_t release() override {
        const ULONG left = sti_->Release();
        delete this;
        return left;
    }

private:
    ~Win32StillImage() = default;
    IStillImageW* sti_;
};

class Win32StillImageService : public StillImageService {
public:
    StiResult createInstance(std::uint32_t version, StillImage** instance) override {
        *instance = nullptr;
        CreateInstanceW create = entryPoint();
        if (create == nullptr) {
            return static_cast<StiResult>(REGDB_E_CLASSNOTREG);
        }
        IStillImageW* sti = nullptr;
        const HRESULT result = create(GetModuleHandleA(nullptr), version, &sti, nullptr);
        if (SUCCEEDED(result) && sti != nullptr) {
            *instance = new Win32StillImage(sti);
        }
        return result;
    }
    const char16_t* deviceDescription(const void* list, std::uint32_t index) override {
        return reinterpret_cast<const char16_t*>(
            static_cast<const STI_DEVICE_INFORMATIONW*>(list)[index].pszDeviceDescription);
    }
    const char16_t* deviceInternalName(const void* list, std::uint32_t index) override {
        return reinterpret_cast<const char16_t*>(
            static_cast<const STI_DEVICE_INFORMATIONW*>(list)[index].szDeviceInternalName);
    }
    void localFree(void* list) override { LocalFree(list); }
    int toAnsiCodePage(const char16_t* text, char* out, int outBytes) override {
        return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(text), -1, out,
                                   outBytes, nullptr, nullptr);
    }
    EventHandle createEvent() override {
        return reinterpret_cast<EventHandle>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    }
    void closeEvent(EventHandle event) override { CloseHandle(reinterpret_cast<HANDLE>(event)); }

private:
    CreateInstanceW entryPoint() {
        if (!loaded_) {
            loaded_ = true;
            HMODULE module = LoadLibraryA("sti.dll");
            if (module != nullptr) {
                create_ = reinterpret_cast<CreateInstanceW>(
                    reinterpret_cast<void*>(GetProcAddress(module, "StiCreateInstanceW")));
            }
        }
        return create_;
    }

    bool loaded_ = false;
    CreateInstanceW create_ = nullptr;
};

} // namespace

StillImageService& systemStillImage() {
    static Win32StillImageService service;
    return service;
}

} // namespace platform
