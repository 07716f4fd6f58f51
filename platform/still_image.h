// Still Image seam: the parts of the Windows Still Image API the camera link uses, shaped
// like the COM interfaces they stand for. On Windows the implementation forwards each call
// to StiCreateInstanceW, IStillImageW and IStiDevice; tests put a simulated camera behind it.
#pragma once

#include <cstdint>

namespace platform {

using StiResult = std::int32_t; // an HRESULT
inline bool stiSucceeded(StiResult result) {
    return result >= 0;
}
constexpr StiResult kStiOk = 0;
constexpr StiResult kStiFail = static_cast<StiResult>(0x80004005u); // E_FAIL

using EventHandle = std::uintptr_t; // a Win32 event HANDLE, 0 for none

constexpr std::uint32_t kStiVersion = 2;
constexpr std::uint32_t kStiDeviceCreateData = 2; // STI_DEVICE_CREATE_DATA
constexpr std::uint32_t kStiSubscribeFlagEvent = 2;
constexpr std::uint32_t kStiDevStatusOnlineState = 1;

// STISUBSCRIBE; dwSize is that of the 32-bit Windows record.
struct StiSubscribe {
    std::uint32_t dwSize = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwFilter = 0;
    std::uintptr_t hWndNotify = 0;
    EventHandle hEvent = 0;
    std::uint32_t uiNotificationMessage = 0;
};
constexpr std::uint32_t kStiSubscribeSize = 24;

// STI_DEVICE_STATUS, field for field (24 bytes everywhere).
struct StiDeviceStatus {
    std::uint32_t dwSize = 0;
    std::uint32_t StatusMask = 0;
    std::uint32_t dwOnlineState = 0;
    std::uint32_t dwHardwareStatusCode = 0;
    std::uint32_t dwEventHandlingState = 0;
    std::uint32_t dwPollingInterval = 0;
};
static_assert(sizeof(StiDeviceStatus) == 24, "STI_DEVICE_STATUS is 24 bytes");

// IStiDevice.
class StiDevice {
public:
    virtual StiResult lockDevice(std::uint32_t timeoutMs) = 0;
    virtual StiResult unLockDevice() = 0;
    virtual StiResult subscribe(const StiSubscribe& subscription) = 0;
    virtual StiResult unSubscribe() = 0;
    virtual StiResult deviceReset() = 0;
    virtual StiResult getStatus(StiDeviceStatus& status) = 0;
    // `delivered` receives the number of output bytes the device reports.
    virtual StiResult escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                             std::uint32_t outSize, std::uint32_t* delivered) = 0;
    virtual std::uint32_t release() = 0;

protected:
    ~StiDevice() = default; // given back with release(), never deleted
};

// IStillImageW.
class StillImage {
public:
    // GetDeviceList: `list` receives an array of STI_DEVICE_INFORMATIONW, read through the
    // service's accessors and given back with its localFree.
    virtual StiResult getDeviceList(std::uint32_t type, std::uint32_t flags, std::uint32_t* count,
                                    void** list) = 0;
    virtual StiResult createDevice(const char16_t* internalName, std::uint32_t mode,
                                   StiDevice** device) = 0;
    virtual std::uint32_t release() = 0;

protected:
    ~StillImage() = default;
};

// The service: instance creation and the Win32 helpers that go with the device list.
class StillImageService {
public:
    virtual ~StillImageService() = default;
    // StiCreateInstanceW(GetModuleHandleA(NULL), version, &instance, NULL).
    virtual StiResult createInstance(std::uint32_t version, StillImage** instance) = 0;
    // Entry `index` of a list from getDeviceList.
    virtual const char16_t* deviceDescription(const void* list, std::uint32_t index) = 0;
    virtual const char16_t* deviceInternalName(const void* list, std::uint32_t index) = 0;
    // LocalFree of the list.
    virtual void localFree(void* list) = 0;
    // WideCharToMultiByte(CP_ACP, 0, text, -1, out, outBytes, NULL, NULL): bytes written
    // including the terminator, 0 on failure (for instance when the text does not fit).
    virtual int toAnsiCodePage(const char16_t* text, char* out, int outBytes) = 0;
    // CreateEventA(NULL, FALSE, FALSE, NULL): auto-reset, not signalled, unnamed. 0 on failure.
    virtual EventHandle createEvent() = 0;
    virtual void closeEvent(EventHandle event) = 0;
};

// The Windows Still Image service (Windows build only).
StillImageService& systemStillImage();

} // namespace platform
