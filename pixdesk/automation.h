// pixdesk as a local automation server: its command-line switches, its registration under
// HKEY_CLASSES_ROOT, the program's object lock count, the class object and the automation
// object CPIXDESKDlgAutoProxy. The object has no members; while a client holds it, the copy
// of the program that made it stays alive (its dialog possibly hidden), and its release
// ends that copy.
#pragma once

#include <windows.h>

#include <ole2.h>

#include <string>

namespace pixdesk {

class CPIXDESKDlg;

// {82596823-8B11-11D5-B405-0050BA2C88AA}, and the dispatch interface
// {82596825-8B11-11D5-B405-0050BA2C88AA}.
extern const CLSID kClsidPixdesk;
extern const IID kDiidPixdesk;
extern const char kProgId[];   // "PIXDESK.Application"
extern const char kClsidKey[]; // "CLSID\\{82596823-8B11-11D5-B405-0050BA2C88AA}"

// Looks for `word` right after a '-' or '/' anywhere in `commandLine`, case-sensitively,
// comparing only the word's length. The first one found is taken out of the command line
// with its '-' or '/', and true comes back.
bool findSwitch(std::string& commandLine, const char* word);

// Writes the server's six entries under `root` (HKEY_CLASSES_ROOT in the program): the two
// default names only when missing, the CLSID, ProgID, InprocHandler32 and LocalServer32
// (`programPath`) every time. False when any write failed.
bool registerServer(HKEY root, const std::string& programPath);

// The program's state as a server: whether the user started it (then it never serves a
// client), the object lock count, and the dialog a new object belongs to.
class AutomationServer {
public:
    static AutomationServer& instance();

    bool userControl() const { return userControl_; }
    void setUserControl(bool user) { userControl_ = user; }
    LONG lockCount() const { return lockCount_; }
    // The dialog that runs now (the application's main window), or null.
    CPIXDESKDlg* mainDialog = nullptr;

    void lock();
    // When the count comes back to zero in a copy the user did not start, the copy puts
    // itself under user control and ends: the main window is destroyed (which ends the
    // modal run of the dialog), or without one the quit message is posted.
    void unlock();

    // The class object as running for CLSCTX_LOCAL_SERVER, one creation per registration;
    // a second call does nothing. Revoked by revokeClassObjects.
    HRESULT registerClassObjects();
    void revokeClassObjects();
    bool classObjectsRegistered() const { return cookie_ != 0; }

private:
    AutomationServer() = default;
    bool userControl_ = true;
    LONG lockCount_ = 0;
    DWORD cookie_ = 0;
};

// The automation object: IUnknown and an IDispatch without members. Made by the class
// object, one per client creation; it deletes itself on its final release.
class CPIXDESKDlgAutoProxy : public IDispatch {
public:
    CPIXDESKDlgAutoProxy();
    CPIXDESKDlgAutoProxy(const CPIXDESKDlgAutoProxy&) = delete;
    CPIXDESKDlgAutoProxy& operator=(const CPIXDESKDlgAutoProxy&) = delete;

    // The dialog this object belongs to, or null once that dialog is gone.
    CPIXDESKDlg* ownerDialog = nullptr;

    // IUnknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: no type information and no members.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    virtual ~CPIXDESKDlgAutoProxy();
    LONG references_ = 1;
};

} // namespace pixdesk
