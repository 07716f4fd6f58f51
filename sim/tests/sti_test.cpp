// The stand-in Still Image service as a program sees it: loaded instead of the system's
// sti.dll (WINEDLLOVERRIDES=sti=n), through StiCreateInstanceW and the COM interfaces.
#include <windows.h>

#include <sti.h>

#include "sim/protocol.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <string>

using namespace simtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Env {
    Env(const char* name, const std::string& value) : name_(name) {
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~Env() { SetEnvironmentVariableA(name_, nullptr); }
    const char* name_;
};

IStillImageW* createInstance() {
    IStillImageW* sti = nullptr;
    EXPECT_EQ(StiCreateInstanceW(GetModuleHandleA(nullptr), 2, &sti, nullptr), S_OK);
    return sti;
}

std::vector<std::wstring> listDescriptions(IStillImageW* sti, std::wstring* firstName = nullptr) {
    DWORD count = 99;
    void* buffer = nullptr;
    EXPECT_EQ(sti->GetDeviceList(0, 0, &count, &buffer), S_OK);
    std::vector<std::wstring> out;
    auto* info = static_cast<STI_DEVICE_INFORMATIONW*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        EXPECT_EQ(info[i].dwSize, sizeof(STI_DEVICE_INFORMATIONW));
        out.push_back(info[i].pszDeviceDescription);
    }
    if (firstName && count > 0)
        *firstName = info[0].szDeviceInternalName;
    if (buffer) {
        EXPECT_GE(LocalSize(buffer), count * sizeof(STI_DEVICE_INFORMATIONW));
        EXPECT_EQ(LocalFree(buffer), nullptr); // the caller's to free, with LocalFree
    }
    return out;
}

// An open device on the card in `card`, as the USB link opens it.
struct Opened {
    IStillImageW* sti = nullptr;
    IStiDevice* device = nullptr;
    ~Opened() {
        if (device)
            device->Release();
        if (sti)
            sti->Release();
    }
};

void open(Opened& o) {
    o.sti = createInstance();
    ASSERT_NE(o.sti, nullptr);
    std::wstring name;
    ASSERT_EQ(listDescriptions(o.sti, &name).size(), 1u);
    ASSERT_EQ(o.sti->CreateDevice(&name[0], STI_DEVICE_CREATE_DATA, &o.device, nullptr), S_OK);
}

Bytes request(std::uint32_t offset, std::uint32_t length, const char* name) {
    Bytes r(24, 0);
    sim::writeLe32(&r[4], offset);
    sim::writeLe32(&r[8], length);
    if (name) {
        std::copy(name, name + 8, r.begin() + 12);
        std::copy_n("JPG", 3, r.begin() + 20);
    }
    return r;
}

HRESULT escape(IStiDevice* d, DWORD code, Bytes in, void* out, DWORD outSize, DWORD* got) {
    return d->Escape(code, in.empty() ? nullptr : in.data(), DWORD(in.size()), out, outSize, got);
}

class StiService : public ::testing::Test {
protected:
    void SetUp() override { makeCard(dir.path(), 60, 4); }
    TempDir dir;
    Env card{"LV_STI_CARD", dir.path()};
};

} // namespace

TEST(StiRecords, LayoutsTheCallerReliesOn) {
    // dwSize 4, DeviceType 4, 128 wide characters, caps 4, hardware 4 (272), then five
    // pointers: vendor at 272, description one pointer later.
    // STISUBSCRIBE: three DWORDs, the window and event handles, a UINT; on x86-64 the
    // handles are 8-aligned (16, 24) and the record is padded to 40.
#ifdef _WIN64
    EXPECT_EQ(sizeof(STI_DEVICE_INFORMATIONW), 272u + 5 * 8);
    EXPECT_EQ(offsetof(STI_DEVICE_INFORMATIONW, pszDeviceDescription), 280u);
    EXPECT_EQ(sizeof(STISUBSCRIBE), 40u);
#else
    EXPECT_EQ(sizeof(STI_DEVICE_INFORMATIONW), 272u + 5 * 4);
    EXPECT_EQ(offsetof(STI_DEVICE_INFORMATIONW, pszDeviceDescription), 276u);
    EXPECT_EQ(sizeof(STISUBSCRIBE), 24u);
#endif
    EXPECT_EQ(offsetof(STI_DEVICE_INFORMATIONW, pszVendorDescription), 272u);
    EXPECT_EQ(sizeof(STI_DEVICE_STATUS), 24u);
}

TEST(StiLoading, TheStandInIsTheDllBesideTheProgram) {
    HMODULE dll = GetModuleHandleA("sti.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_NE(GetProcAddress(dll, "StiCreateInstanceW"), nullptr);
    char exe[MAX_PATH], lib[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    GetModuleFileNameA(dll, lib, MAX_PATH);
    std::string dirExe(exe), dirLib(lib);
    dirExe.resize(dirExe.find_last_of("\\/"));
    dirLib.resize(dirLib.find_last_of("\\/"));
    EXPECT_EQ(dirLib, dirExe);
}

TEST_F(StiService, DeviceListConfigurations) {
    struct Case {
        const char* setting;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {"", {L"LUMIVERA LV2700c5"}},
        {"none", {}},
        {"two", {L"LUMIVERA LV2700c5", L"LUMIVERA LV2700c5"}},
        {"wrong-case", {L"Lumivera LV2700C5"}},
        {"extended", {L"LUMIVERA LV2700c5 Digital Camera"}},
        {"Scanner|LUMIVERA LV2700c5", {L"Scanner", L"LUMIVERA LV2700c5"}},
    };
    for (const Case& c : cases) {
        Env devices("LV_STI_DEVICES", c.setting);
        IStillImageW* sti = createInstance();
        ASSERT_NE(sti, nullptr);
        EXPECT_EQ(listDescriptions(sti), c.expected) << c.setting;
        EXPECT_EQ(sti->Release(), 0u);
    }
}

// The registry value chosen here is one whose effect on another program using the
// stand-in at the same moment is harmless: where the transcript goes.
TEST_F(StiService, SettingsComeFromTheRegistryWhenTheEnvironmentIsSilent) {
    const std::string transcript = dir.path() + "\\registry-transcript.txt";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\LUMIVERA\\StiSim", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "LV_STI_TRANSCRIPT", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(transcript.c_str()), DWORD(transcript.size() + 1));
    IStillImageW* sti = createInstance();
    RegDeleteValueA(key, "LV_STI_TRANSCRIPT");
    RegCloseKey(key);
    ASSERT_NE(sti, nullptr);
    EXPECT_EQ(listDescriptions(sti).size(), 1u);
    sti->Release();
    const Bytes text = readFile(transcript);
    const std::string lines(text.begin(), text.end());
    EXPECT_NE(lines.find("call GetDeviceList 1 ok"), std::string::npos) << lines;
}

TEST_F(StiService, CatalogueBlocksAndFileChunksAsTheUsbLinkReadsThem) {
    const std::string transcript = dir.path() + "\\transcript.txt";
    Env log("LV_STI_TRANSCRIPT", transcript);
    Opened o;
    ASSERT_NO_FATAL_FAILURE(open(o));
    IStiDevice* d = o.device;
    ASSERT_EQ(d->LockDevice(2000), S_OK);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    STISUBSCRIBE subscribe{};
    subscribe.dwSize = sizeof subscribe;
    subscribe.dwFlags = STI_SUBSCRIBE_FLAG_EVENT;
    subscribe.hEvent = event;
    EXPECT_EQ(d->Subscribe(&subscribe), S_OK);
    EXPECT_EQ(d->DeviceReset(), S_OK);
    STI_DEVICE_STATUS status{};
    status.dwSize = sizeof status;
    status.StatusMask = STI_DEVSTATUS_ONLINE_STATE;
    EXPECT_EQ(d->GetStatus(&status), S_OK);
    EXPECT_EQ(status.dwOnlineState, DWORD(STI_ONLINESTATE_OPERATIONAL));

    std::uint8_t size[4] = {};
    DWORD got = 0;
    ASSERT_EQ(escape(d, 0x1002, {}, size, 4, &got), S_OK);
    EXPECT_EQ(sim::readLe32(size), 1236u);
    std::size_t entries = 0;
    for (std::uint32_t b = 0; b < 3; ++b) {
        Bytes block(512);
        ASSERT_EQ(escape(d, 0x1003, request(b * 512, 512, nullptr), block.data(), 512, &got), S_OK);
        EXPECT_EQ(got, 512u);
        entries += block[10];
        if (b == 0) {
            EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 20),
                      (Bytes{'S', '0', '0', '0', '0', '0', '0', '1'}));
        }
    }
    EXPECT_EQ(entries, 60u);

    Bytes thumb(0x7000);
    for (std::uint32_t offset = 0; offset < thumb.size(); offset += 4096) {
        ASSERT_EQ(escape(d, 0x1004, request(offset, 4096, "T0000009"), thumb.data() + offset,
                         DWORD(thumb.size() - offset), &got),
                  S_OK);
        ASSERT_EQ(got, 4096u);
    }
    EXPECT_EQ(thumb, readFile(dir.path() + "\\T0000009.JPG"));

    EXPECT_EQ(d->UnSubscribe(), S_OK);
    EXPECT_EQ(d->UnLockDevice(), S_OK);
    CloseHandle(event);

    std::uint8_t ignored[4];
    EXPECT_EQ(d->LockDevice(2000), S_OK);
    EXPECT_EQ(escape(d, 0x1010, request(0, 0, "S0000009"), ignored, 4, &got), S_OK);
    EXPECT_EQ(d->UnLockDevice(), S_OK);
    EXPECT_FALSE(fileExists(dir.path() + "\\S0000009.JPG"));
    EXPECT_FALSE(fileExists(dir.path() + "\\T0000009.JPG"));
    EXPECT_NE(escape(d, 0x1004, request(0, 4096, "T0000009"), thumb.data(), 4096, &got), S_OK);

    const Bytes text = readFile(transcript);
    const std::string lines(text.begin(), text.end());
    EXPECT_NE(lines.find("CreateDevice {6BDD1FC6-810F-11D0-BEC7-08002BE10318}\\0000 mode 2 ok"),
              std::string::npos);
    EXPECT_NE(lines.find("escape 0x1004 out 28672 delivered 4096 ok in"), std::string::npos);
    EXPECT_NE(lines.find("call Subscribe ok"), std::string::npos);
}

TEST_F(StiService, FaultsFromTheEnvironment) {
    Env faults("LV_STI_FAULTS", "usb-read-fail=2,usb-short=3:100,lock-fail=2,status-query-fail");
    Opened o;
    ASSERT_NO_FATAL_FAILURE(open(o));
    IStiDevice* d = o.device;
    EXPECT_EQ(d->LockDevice(2000), S_OK);
    EXPECT_EQ(d->UnLockDevice(), S_OK);
    EXPECT_TRUE(FAILED(d->LockDevice(2000)));
    STI_DEVICE_STATUS status{};
    status.dwSize = sizeof status;
    EXPECT_TRUE(FAILED(d->GetStatus(&status)));
    Bytes chunk(4096);
    DWORD got = 0;
    EXPECT_EQ(escape(d, 0x1004, request(0, 4096, "T0000001"), chunk.data(), 4096, &got), S_OK);
    EXPECT_TRUE(FAILED(escape(d, 0x1004, request(0, 4096, "T0000001"), chunk.data(), 4096, &got)));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(escape(d, 0x1004, request(0, 4096, "T0000001"), chunk.data(), 4096, &got), S_OK);
    EXPECT_EQ(got, 100u);
    std::uint32_t one = 1;
    EXPECT_EQ(d->Escape(0x1009, &one, 4, nullptr, 0, &got), S_OK);
}

TEST_F(StiService, UnpluggedCameraIsNotListedAndCannotBeOpened) {
    std::wstring name;
    {
        IStillImageW* sti = createInstance();
        listDescriptions(sti, &name);
        sti->Release();
    }
    Env faults("LV_STI_FAULTS", "unplugged");
    IStillImageW* sti = createInstance();
    EXPECT_TRUE(listDescriptions(sti).empty());
    IStiDevice* device = reinterpret_cast<IStiDevice*>(1);
    EXPECT_TRUE(FAILED(sti->CreateDevice(&name[0], STI_DEVICE_CREATE_DATA, &device, nullptr)));
    EXPECT_EQ(device, nullptr);
    sti->Release();
}

TEST_F(StiService, UnknownNamesBadRecordsAndTheRestFailClearly) {
    Opened o;
    ASSERT_NO_FATAL_FAILURE(open(o));
    IStiDevice* other = nullptr;
    wchar_t wrong[] = L"{6BDD1FC6-810F-11D0-BEC7-08002BE10318}\\0009";
    EXPECT_EQ(o.sti->CreateDevice(wrong, STI_DEVICE_CREATE_DATA, &other, nullptr),
              STIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(o.sti->GetDeviceList(0, 0, nullptr, nullptr), STIERR_INVALID_PARAM);
    void* info = nullptr;
    EXPECT_EQ(o.sti->GetDeviceInfo(wrong, &info), E_NOTIMPL);
    EXPECT_EQ(o.sti->WriteToErrorLog(0, L"x"), E_NOTIMPL);
    STI_DEV_CAPS caps{};
    EXPECT_EQ(o.device->GetCapabilities(&caps), E_NOTIMPL);
    DWORD n = 0;
    EXPECT_EQ(o.device->RawReadData(nullptr, &n, nullptr), E_NOTIMPL);
    STI_DEVICE_STATUS status{};
    status.dwSize = 20;
    EXPECT_EQ(o.device->GetStatus(&status), STIERR_INVALID_PARAM);
    STISUBSCRIBE subscribe{};
    subscribe.dwSize = sizeof subscribe;
    subscribe.dwFlags = STI_SUBSCRIBE_FLAG_EVENT; // but no event
    EXPECT_EQ(o.device->Subscribe(&subscribe), STIERR_INVALID_PARAM);
    EXPECT_EQ(o.device->UnLockDevice(), STIERR_NEEDS_LOCK);
    // A second lock before the unlock is refused.
    EXPECT_EQ(o.device->LockDevice(2000), S_OK);
    EXPECT_EQ(o.device->LockDevice(2000), STIERR_DEVICE_LOCKED);
}
