#include "pixdesk/automation.h"

#include "framework/app.h"
#include "pixdesk/pixdesk_dialog.h"

#include <cstring>
#include <new>

namespace pixdesk {

const CLSID kClsidPixdesk = {
    0x82596823, 0x8B11, 0x11D5, {0xB4, 0x05, 0x00, 0x50, 0xBA, 0x2C, 0x88, 0xAA}};
const IID kDiidPixdesk = {
    0x82596825, 0x8B11, 0x11D5, {0xB4, 0x05, 0x00, 0x50, 0xBA, 0x2C, 0x88, 0xAA}};
const char kProgId[] = "PIXDESK.Application";
const char kClsidKey[] = "CLSID\\{82596823-8B11-11D5-B405-0050BA2C88AA}";

namespace {

const char kClsidText[] = "{82596823-8B11-11D5-B405-0050BA2C88AA}";

// The default value of `root`\`path`, made when the key is missing. With `onlyWhenMissing`
// a default value already there is left as it is.
bool writeDefault(HKEY root, const std::string& path, const std::string& value,
                  bool onlyWhenMissing) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = true;
    DWORD type = 0;
    DWORD size = 0;
    const bool present =
        RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 1;
    if (!onlyWhenMissing || !present) {
        ok = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

// The class object: a static object that makes one CPIXDESKDlgAutoProxy per creation.
class ClassObject : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: counting references would only tell when to free it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* proxy = new (std::nothrow) CPIXDESKDlgAutoProxy();
        if (proxy == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = proxy->QueryInterface(iid, object);
        proxy->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            AutomationServer::instance().lock();
        } else {
            AutomationServer::instance().unlock();
        }
        return S_OK;
    }
};

ClassObject& classObject() {
    static ClassObject object;
    return object;
}

} // namespace

bool findSwitch(std::string& commandLine, const char* word) {
    const std::size_t length = std::strlen(word);
    for (std::size_t at = 0; at < commandLine.size(); ++at) {
        if ((commandLine[at] == '-' || commandLine[at] == '/') &&
            commandLine.compare(at + 1, length, word) == 0) {
            commandLine.erase(at, length + 1);
            return true;
        }
    }
    return false;
}

bool registerServer(HKEY root, const std::string& programPath) {
    const std::string clsidKey = kClsidKey;
    bool ok = writeDefault(root, kProgId, kProgId, true);
    ok = writeDefault(root, clsidKey, kProgId, true) && ok;
    ok = writeDefault(root, std::string(kProgId) + "\\CLSID", kClsidText, false) && ok;
    ok = writeDefault(root, clsidKey + "\\ProgID", kProgId, false) && ok;
    ok = writeDefault(root, clsidKey + "\\InprocHandler32", "ole32.dll", false) && ok;
    ok = writeDefault(root, clsidKey + "\\LocalServer32", programPath, false) && ok;
    return ok;
}

AutomationServer& AutomationServer::instance() {
    static AutomationServer server;
    return server;
}

void AutomationServer::lock() {
    InterlockedIncrement(&lockCount_);
}

void AutomationServer::unlock() {
    if (InterlockedDecrement(&lockCount_) != 0 || userControl_) {
        return;
    }
    userControl_ = true;
    if (HWND main = framework::mainWindow()) {
        DestroyWindow(main);
    } else {
        PostQuitMessage(0);
    }
}

HRESULT AutomationServer::registerClassObjects() {
    if (cookie_ != 0) {
        return S_OK;
    }
    return CoRegisterClassObject(kClsidPixdesk, &classObject(), CLSCTX_LOCAL_SERVER,
                                 REGCLS_SINGLEUSE, &cookie_);
}

void AutomationServer::revokeClassObjects() {
    if (cookie_ != 0) {
        CoRevokeClassObject(cookie_);
        cookie_ = 0;
    }
}

CPIXDESKDlgAutoProxy::CPIXDESKDlgAutoProxy() {
    AutomationServer& server = AutomationServer::instance();
    server.lock();
    ownerDialog = server.mainDialog;
    if (ownerDialog != nullptr) {
        ownerDialog->autoProxy = this;
    }
}

CPIXDESKDlgAutoProxy::~CPIXDESKDlgAutoProxy() {
    if (ownerDialog != nullptr) {
        ownerDialog->autoProxy = nullptr;
    }
    AutomationServer::instance().unlock();
}

HRESULT CPIXDESKDlgAutoProxy::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kDiidPixdesk)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CPIXDESKDlgAutoProxy::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG CPIXDESKDlgAutoProxy::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return static_cast<ULONG>(left);
}

HRESULT CPIXDESKDlgAutoProxy::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT CPIXDESKDlgAutoProxy::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return DISP_E_BADINDEX;
}

HRESULT CPIXDESKDlgAutoProxy::GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
    if (ids != nullptr) {
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT CPIXDESKDlgAutoProxy::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

} // namespace pixdesk
