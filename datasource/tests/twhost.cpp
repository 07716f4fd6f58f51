#include "datasource/tests/twhost.h"

#include <cstdio>
#include <cstring>
#include <deque>

namespace twhost {
namespace {

// ---- the direct manager: one source, loaded by path
struct Direct {
    HMODULE module = nullptr;
    DSENTRYPROC ds = nullptr;
    std::string path;
    TW_IDENTITY sourceId = {};
    TW_IDENTITY* app = nullptr;
    TW_CALLBACK2 callback = {};
    bool open = false;
    TW_UINT16 cc = TWCC_SUCCESS;
    std::vector<TW_UINT16> fromSource;
} g_direct;

TW_HANDLE WINAPI memAllocate(TW_UINT32 size) {
    return GlobalAlloc(GHND, size);
}
void WINAPI memFree(TW_HANDLE h) {
    GlobalFree(h);
}
TW_MEMREF WINAPI memLock(TW_HANDLE h) {
    return GlobalLock(h);
}
void WINAPI memUnlock(TW_HANDLE h) {
    GlobalUnlock(h);
}

TW_UINT16 WINAPI directEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                             TW_UINT16 msg, TW_MEMREF data);

TW_UINT16 directManager(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    Direct& d = g_direct;
    if (dat == DAT_PARENT && (msg == MSG_OPENDSM || msg == MSG_CLOSEDSM)) {
        if (msg == MSG_OPENDSM) {
            origin->SupportedGroups |= DF_DSM2;
        }
        return TWRC_SUCCESS;
    }
    if (dat == DAT_STATUS && msg == MSG_GET) {
        static_cast<TW_STATUS*>(data)->ConditionCode = d.cc;
        d.cc = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_CALLBACK2 && msg == MSG_REGISTER_CALLBACK) {
        d.callback = *static_cast<TW_CALLBACK2*>(data);
        return TWRC_SUCCESS;
    }
    if (dat != DAT_IDENTITY) {
        d.cc = TWCC_BADPROTOCOL;
        return TWRC_FAILURE;
    }
    auto* id = static_cast<TW_IDENTITY*>(data);
    if (msg == MSG_GETFIRST || msg == MSG_GETDEFAULT) {
        if (d.module == nullptr) {
            d.module = LoadLibraryA(d.path.c_str());
            d.ds = d.module != nullptr ? reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(
                                             GetProcAddress(d.module, "DS_Entry")))
                                       : nullptr;
        }
        TW_IDENTITY fake = {};
        id->Id = 1;
        if (d.ds == nullptr || d.ds(&fake, DG_CONTROL, DAT_IDENTITY, MSG_GET, id) != TWRC_SUCCESS) {
            d.cc = TWCC_NODS;
            return TWRC_FAILURE;
        }
        return TWRC_SUCCESS;
    }
    if (msg == MSG_GETNEXT) {
        return TWRC_ENDOFLIST;
    }
    if (msg == MSG_OPENDS) {
        TW_ENTRYPOINT ep = {sizeof ep, directEntry, memAllocate, memFree, memLock, memUnlock};
        if (d.ds == nullptr || d.ds(origin, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &ep) != 0) {
            d.cc = TWCC_OPERATIONERROR;
            return TWRC_FAILURE;
        }
        id->Id = 1;
        const TW_UINT16 rc = d.ds(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, id);
        if (rc == TWRC_SUCCESS) {
            d.sourceId = *id;
            d.app = origin;
            d.open = true;
        }
        return rc;
    }
    if (msg == MSG_CLOSEDS) {
        const TW_UINT16 rc = d.ds(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, id);
        d.open = false;
        d.callback = {};
        return rc;
    }
    d.cc = TWCC_BADPROTOCOL;
    return TWRC_FAILURE;
}

TW_UINT16 WINAPI directEntry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                             TW_UINT16 msg, TW_MEMREF data) {
    Direct& d = g_direct;
    if (d.open && origin != nullptr && origin->Id == d.sourceId.Id && dat == DAT_NULL) {
        // From the source to the application, through the application's callback.
        d.fromSource.push_back(msg);
        auto proc = reinterpret_cast<DSMENTRYPROC>(d.callback.CallBackProc);
        if (proc == nullptr) {
            return TWRC_FAILURE;
        }
        return proc(&d.sourceId, dest, DG_CONTROL, DAT_NULL, msg, nullptr);
    }
    if (dest == nullptr) {
        return directManager(origin, dat, msg, data);
    }
    if (!d.open || dest->Id != d.sourceId.Id) {
        d.cc = TWCC_BADDEST;
        return TWRC_FAILURE;
    }
    return d.ds(origin, dg, dat, msg, data);
}

// ---- the host's callback: remembers the message and wakes the loop, which acts on it
// (the standard asks hosts not to call the source from inside the callback).
constexpr UINT kCallbackArrived = WM_APP + 0x2A;
Host* g_host = nullptr;
std::deque<TW_UINT16> g_callbackQueue;

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

DirectManager::DirectManager(const std::string& dsPath) {
    g_direct = Direct{};
    g_direct.path = dsPath;
}
DirectManager::~DirectManager() {
    // The source stays loaded, as with Wine's manager: campanel's window may outlive it.
}
DSMENTRYPROC DirectManager::entry() const {
    return directEntry;
}
std::vector<TW_UINT16> DirectManager::sourceMessages() {
    return g_direct.fromSource;
}

WineManager::WineManager() {
    module_ = LoadLibraryA("twain_32.dll");
    if (module_ != nullptr) {
        entry_ = reinterpret_cast<DSMENTRYPROC>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DSM_Entry")));
    }
}
WineManager::~WineManager() {}

Host::Host(Manager& manager, HWND window)
    : manager_(manager), dsm_(manager.entry()), window_(window) {
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_ENGLISH_USA;
    app.Version.Country = TWCY_USA;
    std::strcpy(app.Version.Info, "twhost 1.0");
    app.ProtocolMajor = manager.twain2() ? 2 : 1;
    app.ProtocolMinor = manager.twain2() ? 1 : 9;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | (manager.twain2() ? DF_APP2 : 0);
    std::strcpy(app.Manufacturer, "LUMIVERA test");
    std::strcpy(app.ProductFamily, "test");
    std::strcpy(app.ProductName, "twhost");
    g_host = this;
    g_callbackQueue.clear();
}

Host::~Host() {
    closeSource();
    closeManager();
    g_host = nullptr;
}

bool Host::open() {
    if (dsm_ == nullptr) {
        errors.push_back("no manager entry");
        return false;
    }
    HWND parent = window_;
    if (dsm_(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent) != TWRC_SUCCESS) {
        errors.push_back("MSG_OPENDSM failed");
        return false;
    }
    managerOpen_ = true;
    // Find the camera among the sources, as a host's source list does.
    TW_IDENTITY id = {};
    TW_UINT16 rc = dsm_(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
    bool found = false;
    while (rc == TWRC_SUCCESS) {
        if (std::strcmp(id.ProductName, "LUMIVERA LV2700c5") == 0) {
            source = id;
            found = true;
            break;
        }
        rc = dsm_(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id);
    }
    if (!found) {
        errors.push_back("the manager lists no LUMIVERA LV2700c5");
        return false;
    }
    if (dsm_(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) != TWRC_SUCCESS) {
        errors.push_back("MSG_OPENDS failed");
        return false;
    }
    sourceOpen_ = true;
    if (manager_.twain2()) {
        TW_CALLBACK2 cb = {reinterpret_cast<TW_MEMREF>(&Host::callback), 0, 0};
        if (dsm_(&app, nullptr, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &cb) !=
            TWRC_SUCCESS) {
            errors.push_back("MSG_REGISTER_CALLBACK failed");
        }
    }
    return true;
}

TW_UINT16 Host::enable(bool showUI) {
    TW_USERINTERFACE ui = {TW_BOOL(showUI ? 1 : 0), 0, window_};
    return call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
}

TW_UINT16 Host::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, TW_UINT16* cc) {
    const TW_UINT16 rc = dsm_(&app, &source, dg, dat, msg, data);
    if (cc != nullptr) {
        TW_STATUS status = {};
        dsm_(&app, &source, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        *cc = status.ConditionCode;
    }
    return rc;
}

TW_UINT16 Host::closeSource() {
    if (!sourceOpen_) {
        return TWRC_FAILURE;
    }
    sourceOpen_ = false;
    return dsm_(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
}

void Host::closeManager() {
    if (managerOpen_) {
        managerOpen_ = false;
        HWND parent = window_;
        dsm_(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    }
}

TW_UINT16 Host::setOne(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value, TW_UINT16* cc) {
    TW_CAPABILITY c = {cap, TWON_ONEVALUE, GlobalAlloc(GHND, sizeof(TW_ONEVALUE))};
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(c.hContainer));
    one->ItemType = type;
    one->Item = value;
    GlobalUnlock(c.hContainer);
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c, cc);
    GlobalFree(c.hContainer);
    return rc;
}

TW_UINT16 Host::getOne(TW_UINT16 cap, TW_UINT16 msg, TW_UINT16& type, TW_UINT32& value,
                       TW_UINT16* cc) {
    TW_CAPABILITY c = {cap, TWON_DONTCARE16, nullptr};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, msg, &c, cc);
    if (rc == TWRC_SUCCESS) {
        if (c.ConType != TWON_ONEVALUE || c.hContainer == nullptr) {
            errors.push_back("capability " + hex(cap) + " not a one-value container");
        } else {
            const auto* one = static_cast<const TW_ONEVALUE*>(GlobalLock(c.hContainer));
            type = one->ItemType;
            value = one->Item;
            GlobalUnlock(c.hContainer);
        }
        GlobalFree(c.hContainer);
    }
    return rc;
}

void Host::pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == kCallbackArrived && msg.hwnd == window_) {
            while (!g_callbackQueue.empty()) {
                const TW_UINT16 m = g_callbackQueue.front();
                g_callbackQueue.pop_front();
                handle(m);
            }
            continue;
        }
        if (sourceOpen_) {
            TW_EVENT event = {&msg, MSG_NULL};
            const TW_UINT16 rc =
                dsm_(&app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
            if (rc == TWRC_DSEVENT) {
                if (event.TWMessage != MSG_NULL) {
                    handle(event.TWMessage);
                }
                continue;
            }
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool Host::runUntilClosed(unsigned timeoutMs) {
    const DWORD start = GetTickCount();
    while (!closed && GetTickCount() - start < timeoutMs) {
        pump();
        if (!closed) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
    }
    return closed;
}

void Host::handle(TW_UINT16 msg) {
    events.push_back(msg);
    if (msg == MSG_XFERREADY) {
        if (onXferReady) {
            onXferReady(*this);
        } else {
            takeAll();
        }
    } else if (msg == MSG_CLOSEDSREQ) {
        TW_USERINTERFACE ui = {0, 0, window_};
        TW_UINT16 cc = 0;
        if (call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui, &cc) != TWRC_SUCCESS) {
            errors.push_back("MSG_DISABLEDS failed, condition " + hex(cc));
        }
        if (closeSource() != TWRC_SUCCESS) {
            errors.push_back("MSG_CLOSEDS failed");
        }
        closed = true;
    } else {
        errors.push_back("unexpected message " + hex(msg));
    }
}

void Host::takeAll() {
    TW_PENDINGXFERS pending = {};
    TW_UINT16 expected = 0;
    bool first = true;
    do {
        Picture picture;
        TW_UINT16 cc = 0;
        if (call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &picture.info, &cc) != TWRC_SUCCESS) {
            errors.push_back("DAT_IMAGEINFO failed, condition " + hex(cc));
        }
        TW_HANDLE dib = nullptr;
        const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib, &cc);
        if (rc != TWRC_XFERDONE || dib == nullptr) {
            errors.push_back("native transfer gave " + hex(rc) + ", condition " + hex(cc));
        } else {
            const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(dib));
            picture.movable = bytes != nullptr && static_cast<const void*>(bytes) != dib;
            if (bytes != nullptr) {
                picture.dib.assign(bytes, bytes + GlobalSize(dib));
                GlobalUnlock(dib);
            }
            if (GlobalFree(dib) != nullptr) {
                errors.push_back("GlobalFree of the picture failed");
            }
        }
        if (call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending, &cc) != TWRC_SUCCESS) {
            errors.push_back("MSG_ENDXFER failed, condition " + hex(cc));
            return;
        }
        if (!first && pending.Count != expected) {
            errors.push_back("pending count " + std::to_string(pending.Count) + ", expected " +
                             std::to_string(expected));
        }
        first = false;
        expected = pending.Count > 0 ? TW_UINT16(pending.Count - 1) : 0;
        picture.countAfter = pending.Count;
        pictures.push_back(std::move(picture));
    } while (pending.Count != 0 && pictures.size() < 1000);
}

TW_UINT16 WINAPI Host::callback(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16 dat, TW_UINT16 msg,
                                TW_MEMREF) {
    if (g_host == nullptr || dat != DAT_NULL) {
        return TWRC_FAILURE;
    }
    g_callbackQueue.push_back(msg);
    PostMessageA(g_host->window_, kCallbackArrived, 0, 0);
    return TWRC_SUCCESS;
}

std::vector<std::uint8_t> bmpFile(const std::vector<std::uint8_t>& dib) {
    BITMAPINFOHEADER h = {};
    if (dib.size() < sizeof h) {
        return {};
    }
    std::memcpy(&h, dib.data(), sizeof h);
    if (h.biSize < sizeof h || h.biSize > dib.size() || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biBitCount == 0 || h.biBitCount > 32) {
        return {};
    }
    std::uint64_t colours = h.biClrUsed;
    if (colours == 0 && h.biBitCount <= 8) {
        colours = 1u << h.biBitCount;
    }
    // A version-1 header keeps BI_BITFIELDS' three masks where the colour table goes.
    const std::uint64_t masks = h.biSize == sizeof h && h.biCompression == BI_BITFIELDS ? 12 : 0;
    const std::uint64_t offset = 14 + std::uint64_t(h.biSize) + colours * 4 + masks;
    const std::uint64_t stride = (std::uint64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    const std::uint64_t rows =
        std::uint64_t(h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight);
    const std::uint64_t image =
        h.biCompression == BI_RGB || h.biSizeImage == 0 ? stride * rows : h.biSizeImage;
    const std::uint64_t size = offset + image;
    if (size - 14 > dib.size() || size > 0xFFFFFFFFu) {
        return {};
    }
    std::vector<std::uint8_t> file(size);
    const auto put32 = [&](std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + i] = std::uint8_t(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, size); // then two reserved words of zero
    put32(10, offset);
    std::memcpy(file.data() + 14, dib.data(), size - 14);
    return file;
}

} // namespace twhost
