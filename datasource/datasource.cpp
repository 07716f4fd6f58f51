// lv2700c5.ds: the camera's TWAIN data source. A source manager loads it and forwards the
// host's triplets to DS_Entry; the data source opens campanel's browser for the user and
// turns campanel's two private messages into the standard ones. campanel calls DS_Entry
// back, possibly nested inside our own calls to it; everything runs on the host's thread.
#include "campanel/client.h"
#include "datasource/twain_defs.h"

#include <cmath>
#include <cstring>
#include <deque>

namespace twain {
namespace {

constexpr TW_UINT32 kDgPanel = 0x4001;
constexpr TW_UINT16 kMsgPanelReady = 0x4001;
constexpr TW_UINT16 kMsgPanelClose = 0x4002;
constexpr char kWindowClass[] = "Lv2700c5DsEvents";
constexpr TW_INT16 kAllPictures = -1; // CAP_XFERCOUNT: as many as the user chose

using campanel::CursorFn;

void copyText(TW_STR32& to, const char* text) {
    std::memset(to, 0, sizeof to);
    std::strncpy(to, text, sizeof to - 1);
}

TW_FIX32 fix32(double value) {
    TW_FIX32 f;
    const double whole = std::floor(value);
    f.Whole = static_cast<TW_INT16>(whole);
    f.Frac = static_cast<TW_UINT16>((value - whole) * 65536.0);
    return f;
}

TW_UINT32 fix32Bits(TW_FIX32 f) {
    return TW_UINT32(TW_UINT16(f.Whole)) | (TW_UINT32(f.Frac) << 16);
}

// Pixels per metre to dots per inch; a header without resolution counts as 72.
double dotsPerInch(LONG pixelsPerMetre) {
    return pixelsPerMetre > 0 ? std::round(pixelsPerMetre * 0.0254) : 72.0;
}

// One capability: its type, its one current and default value, and whether a host may
// change it (the others accept only their own value).
struct Capability {
    TW_UINT16 id;
    TW_UINT16 type;
    TW_UINT32 defaultValue;
    bool settable; // the value may change (CAP_XFERCOUNT, CAP_INDICATORS)
    bool fixedSet; // MSG_SET of the one value it has is accepted
    TW_UINT32 current;
};

const Capability kCaps[] = {
    {CAP_SUPPORTEDCAPS, TWTY_UINT16, 0, false, false, 0},
    {CAP_XFERCOUNT, TWTY_INT16, TW_UINT16(kAllPictures), true, true, 0},
    {CAP_UICONTROLLABLE, TWTY_BOOL, 0, false, false, 0},
    {CAP_INDICATORS, TWTY_BOOL, 1, false, true, 0},
    {CAP_DEVICEONLINE, TWTY_BOOL, 1, false, false, 0},
    {ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE, false, true, 0},
    {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, false, true, 0},
    {ICAP_BITDEPTH, TWTY_UINT16, 24, false, true, 0},
    {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, false, true, 0},
    {ICAP_XRESOLUTION, TWTY_FIX32, 72, false, true, 0},
    {ICAP_YRESOLUTION, TWTY_FIX32, 72, false, true, 0},
    {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, false, true, 0},
};
constexpr std::size_t kCapCount = sizeof kCaps / sizeof kCaps[0];

class DataSource {
public:
    void setInstance(HINSTANCE instance) { instance_ = instance; }

    TW_UINT16 entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data) {
        if (dg == kDgPanel) {
            return panel(dat, msg, data);
        }
        if (dg == DG_CONTROL && dat == DAT_STATUS) {
            return status(msg, static_cast<TW_STATUS*>(data));
        }
        cc_ = TWCC_SUCCESS;
        TW_UINT16 rc;
        if (dg == DG_CONTROL) {
            rc = control(origin, dat, msg, data);
        } else if (dg == DG_IMAGE) {
            rc = image(dat, msg, data);
        } else {
            rc = fail(TWCC_BADPROTOCOL);
        }
        lastCc_ = cc_;
        return rc;
    }

    LRESULT windowMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
        // A host that dispatches our event instead of passing it to MSG_PROCESSEVENT still
        // hears from a 2.x manager; a 1.x host has to pass it on, as the standard says.
        if (message == notifyMessage_) {
            if (dsm2()) {
                TW_UINT16 msg = takeNotification();
                if (msg != MSG_NULL) {
                    notifyManager(msg);
                }
            }
            return 0;
        }
        return DefWindowProcA(window, message, w, l);
    }

private:
    // Counts the calls into campanel we are inside: campanel may call DS_Entry within them.
    class InCampanel {
    public:
        explicit InCampanel(DataSource& ds) : ds_(ds) { ++ds_.depth_; }
        ~InCampanel() { --ds_.depth_; }
        InCampanel(const InCampanel&) = delete;
        InCampanel& operator=(const InCampanel&) = delete;

    private:
        DataSource& ds_;
    };

    TW_UINT16 fail(TW_UINT16 cc) {
        cc_ = cc;
        return TWRC_FAILURE;
    }

    // The condition code of the call before; reading it clears it.
    TW_UINT16 status(TW_UINT16 msg, TW_STATUS* out) {
        if (msg != MSG_GET || out == nullptr) {
            lastCc_ = msg != MSG_GET ? TWCC_BADPROTOCOL : TWCC_BADVALUE;
            return TWRC_FAILURE;
        }
        out->ConditionCode = lastCc_;
        out->Data = 0;
        lastCc_ = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }

    bool dsm2() const { return entry_.DSM_Entry != nullptr; }

    // ---- DG_CONTROL
    TW_UINT16 control(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        switch (dat) {
        case DAT_IDENTITY:
            return identity(origin, msg, data);
        case DAT_ENTRYPOINT:
            return entryPoint(msg, data);
        case DAT_CAPABILITY:
            return capability(msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE:
            return userInterface(msg, static_cast<TW_USERINTERFACE*>(data));
        case DAT_EVENT:
            if (msg != MSG_PROCESSEVENT) {
                return fail(TWCC_BADPROTOCOL);
            }
            return processEvent(static_cast<TW_EVENT*>(data));
        case DAT_PENDINGXFERS:
            return pendingTransfers(msg, static_cast<TW_PENDINGXFERS*>(data));
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }

    TW_UINT16 identity(TW_IDENTITY* origin, TW_UINT16 msg, TW_MEMREF data) {
        auto* id = static_cast<TW_IDENTITY*>(data);
        if (msg != MSG_GET && msg != MSG_OPENDS && msg != MSG_CLOSEDS) {
            return fail(TWCC_BADPROTOCOL);
        }
        if (msg == MSG_CLOSEDS) {
            return closeSource();
        }
        if (id == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (msg == MSG_GET) {
            // The manager numbers the sources: keep the number it gave.
            const TW_UINT32 number = state_ >= 4 ? self_.Id : id->Id;
            describe(*id);
            id->Id = number;
            return TWRC_SUCCESS;
        }
        if (state_ >= 4) {
            return fail(TWCC_MAXCONNECTIONS); // one host at a time
        }
        if (origin == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (!loadCampanel()) {
            return fail(TWCC_OPERATIONERROR);
        }
        if (!createWindow()) {
            return fail(TWCC_LOWMEMORY);
        }
        const TW_UINT32 number = id->Id;
        describe(*id);
        id->Id = number;
        self_ = *id;
        app_ = *origin;
        std::memcpy(caps_, kCaps, sizeof caps_);
        for (Capability& cap : caps_) {
            cap.current = cap.defaultValue;
        }
        queue_.clear();
        closeQueued_ = false;
        state_ = 4;
        return TWRC_SUCCESS;
    }

    static void describe(TW_IDENTITY& id) {
        std::memset(&id, 0, sizeof id);
        id.Version.MajorNum = 2;
        id.Version.MinorNum = 8;
        id.Version.Language = TWLG_ENGLISH_USA;
        id.Version.Country = TWCY_USA;
        copyText(id.Version.Info, "2.08");
        id.ProtocolMajor = 2;
        id.ProtocolMinor = 1;
        id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
        copyText(id.Manufacturer, "LUMIVERA Imaging");
        copyText(id.ProductFamily, "LV2700c5");
        copyText(id.ProductName, "LUMIVERA LV2700c5");
    }

    // A 2.x manager hands over its entry point before it opens the source.
    TW_UINT16 entryPoint(TW_UINT16 msg, TW_MEMREF data) {
        if (msg != MSG_SET) {
            return fail(TWCC_BADPROTOCOL);
        }
        auto* ep = static_cast<TW_ENTRYPOINT*>(data);
        if (ep == nullptr || ep->Size < sizeof(TW_ENTRYPOINT) || ep->DSM_Entry == nullptr ||
            ep->DSM_MemAllocate == nullptr || ep->DSM_MemFree == nullptr ||
            ep->DSM_MemLock == nullptr || ep->DSM_MemUnlock == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (state_ >= 4) {
            return fail(TWCC_SEQERROR);
        }
        entry_ = *ep;
        return TWRC_SUCCESS;
    }

    // Closing in state 4, or, for a host or manager that tears down without disabling
    // first, with the browser still open: the browser is closed rather than left behind
    // with no one to answer it.
    TW_UINT16 closeSource() {
        if (state_ < 4) {
            return fail(TWCC_SEQERROR);
        }
        if (depth_ > 0) {
            return fail(TWCC_SEQERROR); // inside campanel: its window cannot go now
        }
        if (state_ >= 6) {
            cursorCall(campanel_.toFirstImage);
        }
        if (state_ >= 5) {
            disconnect();
        }
        queue_.clear();
        state_ = 3;
        entry_ = TW_ENTRYPOINT{};
        if (window_ != nullptr) {
            DestroyWindow(window_);
            window_ = nullptr;
        }
        campanel_.unload();
        return TWRC_SUCCESS;
    }

    TW_UINT16 userInterface(TW_UINT16 msg, TW_USERINTERFACE* ui) {
        if (msg == MSG_ENABLEDS) {
            if (ui == nullptr) {
                return fail(TWCC_BADVALUE);
            }
            if (state_ != 4 || depth_ > 0) {
                return fail(TWCC_SEQERROR);
            }
            char own[MAX_PATH];
            const DWORD n = GetModuleFileNameA(instance_, own, sizeof own);
            if (n == 0 || n >= sizeof own) {
                return fail(TWCC_OPERATIONERROR);
            }
            HWND browser;
            {
                InCampanel in(*this);
                browser = campanel_.connect(own, static_cast<HWND>(ui->hParent), 1);
            }
            if (browser == nullptr) {
                return fail(TWCC_OPERATIONERROR);
            }
            browser_ = browser;
            queue_.clear();
            closeQueued_ = false;
            state_ = 5;
            // The browser is the only way to choose pictures: without the host's asking for
            // it, it is shown all the same, and the host is told so.
            if (!ui->ShowUI) {
                cc_ = TWCC_SUCCESS;
                return TWRC_CHECKSTATUS;
            }
            return TWRC_SUCCESS;
        }
        if (msg == MSG_DISABLEDS) {
            if (state_ != 5 || depth_ > 0) {
                return fail(TWCC_SEQERROR);
            }
            disconnect();
            queue_.clear();
            state_ = 4;
            return TWRC_SUCCESS;
        }
        return fail(TWCC_BADPROTOCOL);
    }

    TW_UINT16 processEvent(TW_EVENT* event) {
        if (event == nullptr || event->pEvent == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (state_ < 5) {
            return fail(TWCC_SEQERROR);
        }
        MSG* m = static_cast<MSG*>(event->pEvent);
        event->TWMessage = MSG_NULL;
        if (m->hwnd == window_ && m->message == notifyMessage_) {
            const TW_UINT16 msg = takeNotification();
            if (dsm2()) {
                if (msg != MSG_NULL) {
                    notifyManager(msg);
                }
            } else {
                event->TWMessage = msg;
            }
            return TWRC_DSEVENT;
        }
        // The browser is modeless: its keyboard handling happens here.
        if (browser_ != nullptr && IsWindow(browser_) && IsDialogMessageA(browser_, m)) {
            return TWRC_DSEVENT;
        }
        return TWRC_NOTDSEVENT;
    }

    TW_UINT16 pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* pending) {
        if (msg != MSG_GET && msg != MSG_ENDXFER && msg != MSG_RESET) {
            return fail(TWCC_BADPROTOCOL);
        }
        if (pending == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (msg == MSG_GET) {
            if (state_ < 4) {
                return fail(TWCC_SEQERROR);
            }
            pending->Count = state_ >= 6 ? pending_ : 0;
            pending->EOJ = 0;
            return TWRC_SUCCESS;
        }
        if (depth_ > 0 || (msg == MSG_ENDXFER ? state_ < 6 : state_ != 6)) {
            return fail(TWCC_SEQERROR);
        }
        if (msg == MSG_ENDXFER) {
            // Done with this picture (or skipping it): campanel moves to the next one.
            cursorCall(campanel_.toNextSelectedImage);
            haveInfo_ = false;
            --pending_;
        } else {
            pending_ = 0;
        }
        if (pending_ == 0) {
            endBatch();
        } else {
            state_ = 6;
        }
        pending->Count = pending_;
        pending->EOJ = 0;
        return TWRC_SUCCESS;
    }

    // After the last transfer, or a cancel: campanel's cursor goes back, and the host is
    // asked to close, since campanel's window takes no further acquire.
    void endBatch() {
        cursorCall(campanel_.toFirstImage);
        haveInfo_ = false;
        state_ = 5;
        queueNotification(MSG_CLOSEDSREQ);
        if (!queue_.empty()) {
            PostMessageA(window_, notifyMessage_, 0, 0); // a held close request
        }
    }

    // ---- DG_IMAGE
    TW_UINT16 image(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        if (msg != MSG_GET ||
            (dat != DAT_IMAGEINFO && dat != DAT_IMAGELAYOUT && dat != DAT_IMAGENATIVEXFER)) {
            return fail(TWCC_BADPROTOCOL);
        }
        if (data == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (dat == DAT_IMAGELAYOUT) {
            if (state_ < 4 || state_ > 6) {
                return fail(TWCC_SEQERROR);
            }
            return imageLayout(*static_cast<TW_IMAGELAYOUT*>(data));
        }
        if (depth_ > 0) {
            return fail(TWCC_SEQERROR);
        }
        if (dat == DAT_IMAGEINFO) {
            if (state_ < 6) {
                return fail(TWCC_SEQERROR);
            }
            return imageInfo(*static_cast<TW_IMAGEINFO*>(data));
        }
        if (state_ != 6) {
            return fail(TWCC_SEQERROR);
        }
        return nativeTransfer(*static_cast<TW_HANDLE*>(data));
    }

    // The cursor picture's header, fetched once per picture: campanel fetches the picture
    // in this call, and its UI_GETIMAGE decodes what was fetched, so it always comes first.
    bool currentInfo() {
        if (!haveInfo_) {
            const BITMAPINFOHEADER* info;
            {
                InCampanel in(*this);
                info = campanel_.getImageInfo();
            }
            if (info == nullptr) {
                return false;
            }
            info_ = *info;
            haveInfo_ = true;
        }
        return true;
    }

    TW_UINT16 imageInfo(TW_IMAGEINFO& out) {
        if (!currentInfo()) {
            return fail(TWCC_OPERATIONERROR);
        }
        std::memset(&out, 0, sizeof out);
        out.XResolution = fix32(dotsPerInch(info_.biXPelsPerMeter));
        out.YResolution = fix32(dotsPerInch(info_.biYPelsPerMeter));
        out.ImageWidth = info_.biWidth;
        out.ImageLength = info_.biHeight < 0 ? -info_.biHeight : info_.biHeight;
        out.SamplesPerPixel = 3;
        out.BitsPerSample[0] = out.BitsPerSample[1] = out.BitsPerSample[2] = 8;
        out.BitsPerPixel = 24;
        out.Planar = 0;
        out.PixelType = TWPT_RGB;
        out.Compression = TWCP_NONE;
        return TWRC_SUCCESS;
    }

    // The whole picture; before a batch, or while the header is unknown, an empty frame.
    TW_UINT16 imageLayout(TW_IMAGELAYOUT& out) {
        std::memset(&out, 0, sizeof out);
        if (haveInfo_) {
            out.Frame.Right = fix32(info_.biWidth / dotsPerInch(info_.biXPelsPerMeter));
            const LONG height = info_.biHeight < 0 ? -info_.biHeight : info_.biHeight;
            out.Frame.Bottom = fix32(height / dotsPerInch(info_.biYPelsPerMeter));
        }
        out.DocumentNumber = out.PageNumber = out.FrameNumber = 1;
        return TWRC_SUCCESS;
    }

    // The DIB of UI_GETIMAGE passes to the host, which frees it with GlobalFree.
    TW_UINT16 nativeTransfer(TW_HANDLE& out) {
        currentInfo();
        HGLOBAL dib;
        {
            InCampanel in(*this);
            dib = campanel_.getImage();
        }
        if (dib == nullptr) {
            return fail(TWCC_OPERATIONERROR);
        }
        // The picture's own header now describes what the host has.
        if (GlobalSize(dib) >= sizeof(BITMAPINFOHEADER)) {
            if (const void* bytes = GlobalLock(dib)) {
                std::memcpy(&info_, bytes, sizeof info_);
                haveInfo_ = true;
                GlobalUnlock(dib);
            }
        }
        out = dib;
        state_ = 7;
        return TWRC_XFERDONE;
    }

    // ---- DAT_CAPABILITY
    Capability* findCap(TW_UINT16 id) {
        for (Capability& cap : caps_) {
            if (cap.id == id) {
                return &cap;
            }
        }
        return nullptr;
    }

    TW_HANDLE allocate(TW_UINT32 size) {
        return dsm2() ? entry_.DSM_MemAllocate(size) : GlobalAlloc(GHND, size);
    }
    void* lock(TW_HANDLE handle) {
        return dsm2() ? entry_.DSM_MemLock(handle) : GlobalLock(handle);
    }
    void unlock(TW_HANDLE handle) {
        if (dsm2()) {
            entry_.DSM_MemUnlock(handle);
        } else {
            GlobalUnlock(handle);
        }
    }

    TW_UINT16 oneValue(TW_CAPABILITY& cap, TW_UINT16 type, TW_UINT32 value) {
        TW_HANDLE h = allocate(sizeof(TW_ONEVALUE));
        auto* one = h != nullptr ? static_cast<TW_ONEVALUE*>(lock(h)) : nullptr;
        if (one == nullptr) {
            return fail(TWCC_LOWMEMORY);
        }
        one->ItemType = type;
        one->Item = value;
        unlock(h);
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = h;
        return TWRC_SUCCESS;
    }

    TW_UINT16 supportedCaps(TW_CAPABILITY& cap) {
        const TW_UINT32 size = offsetof(TW_ARRAY, ItemList) + kCapCount * sizeof(TW_UINT16);
        TW_HANDLE h = allocate(size);
        auto* array = h != nullptr ? static_cast<TW_ARRAY*>(lock(h)) : nullptr;
        if (array == nullptr) {
            return fail(TWCC_LOWMEMORY);
        }
        array->ItemType = TWTY_UINT16;
        array->NumItems = kCapCount;
        for (std::size_t i = 0; i < kCapCount; ++i) {
            const TW_UINT16 id = caps_[i].id;
            std::memcpy(array->ItemList + i * sizeof id, &id, sizeof id);
        }
        unlock(h);
        cap.ConType = TWON_ARRAY;
        cap.hContainer = h;
        return TWRC_SUCCESS;
    }

    static TW_UINT32 stored(const Capability& c, TW_UINT32 value) {
        return c.type == TWTY_FIX32 ? fix32Bits(fix32(value)) : value;
    }

    TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap) {
        if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT && msg != MSG_SET &&
            msg != MSG_RESET && msg != MSG_QUERYSUPPORT) {
            return fail(TWCC_BADPROTOCOL);
        }
        if (cap == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        if (state_ < 4) {
            return fail(TWCC_SEQERROR);
        }
        Capability* c = findCap(cap->Cap);
        if (c == nullptr) {
            return fail(TWCC_CAPUNSUPPORTED);
        }
        const bool changes = msg == MSG_SET || msg == MSG_RESET;
        if (changes && !c->fixedSet) {
            return fail(TWCC_CAPBADOPERATION);
        }
        if (changes && state_ != 4) {
            return fail(TWCC_SEQERROR); // negotiated before enabling only
        }
        switch (msg) {
        case MSG_QUERYSUPPORT: {
            TW_INT32 ops = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
            if (c->fixedSet) {
                ops |= TWQC_SET | TWQC_RESET;
            }
            return oneValue(*cap, TWTY_INT32, TW_UINT32(ops));
        }
        case MSG_GET:
        case MSG_GETCURRENT:
            if (c->id == CAP_SUPPORTEDCAPS) {
                return supportedCaps(*cap);
            }
            return oneValue(*cap, c->type, stored(*c, c->current));
        case MSG_GETDEFAULT:
            if (c->id == CAP_SUPPORTEDCAPS) {
                return supportedCaps(*cap);
            }
            return oneValue(*cap, c->type, stored(*c, c->defaultValue));
        case MSG_RESET:
            c->current = c->defaultValue;
            return oneValue(*cap, c->type, stored(*c, c->current));
        default:
            return setCapability(*c, *cap);
        }
    }

    TW_UINT16 setCapability(Capability& c, const TW_CAPABILITY& cap) {
        if (cap.ConType != TWON_ONEVALUE || cap.hContainer == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        const auto* one = static_cast<const TW_ONEVALUE*>(lock(cap.hContainer));
        if (one == nullptr) {
            return fail(TWCC_BADVALUE);
        }
        const TW_UINT16 type = one->ItemType;
        const TW_UINT32 item = one->Item;
        unlock(cap.hContainer);
        if (c.id == CAP_XFERCOUNT) {
            // -1 for all, or a number of pictures; hosts send it signed or unsigned.
            const TW_INT16 count = static_cast<TW_INT16>(item & 0xFFFF);
            if ((type != TWTY_INT16 && type != TWTY_UINT16) || count == 0 || count < -1) {
                return fail(TWCC_BADVALUE);
            }
            c.current = TW_UINT16(count);
            return TWRC_SUCCESS;
        }
        const TW_UINT32 mask = c.type == TWTY_FIX32 ? 0xFFFFFFFFu : 0xFFFFu;
        if (type != c.type || (item & mask) != (stored(c, c.current) & mask)) {
            return fail(TWCC_BADVALUE);
        }
        return TWRC_SUCCESS;
    }

    // ---- campanel's side
    TW_UINT16 panel(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        if (dat != 0 || (msg != kMsgPanelReady && msg != kMsgPanelClose)) {
            return TWRC_FAILURE;
        }
        if (state_ < 5) {
            return TWRC_FAILURE; // no host is waiting for pictures
        }
        if (msg == kMsgPanelClose) {
            // Often nested inside the UI_GETIMAGE of the last picture: the host hears of it
            // once the batch is over (see takeNotification).
            queueNotification(MSG_CLOSEDSREQ);
            return TWRC_SUCCESS;
        }
        const uintptr_t n = reinterpret_cast<uintptr_t>(data);
        if (state_ != 5 || n == 0 || n > 0xFFFF) {
            return TWRC_FAILURE;
        }
        const TW_INT16 limit = static_cast<TW_INT16>(findCap(CAP_XFERCOUNT)->current & 0xFFFF);
        announced_ = static_cast<TW_UINT16>(limit > 0 && uintptr_t(limit) < n ? limit : n);
        queueNotification(MSG_XFERREADY);
        return TWRC_SUCCESS;
    }

    void queueNotification(TW_UINT16 msg) {
        if (msg == MSG_CLOSEDSREQ) {
            if (closeQueued_) {
                return;
            }
            closeQueued_ = true;
        }
        queue_.push_back(msg);
        PostMessageA(window_, notifyMessage_, 0, 0);
    }

    // The next message for the host. A close request waits while transfers are pending:
    // the host must be able to disable the source when it gets it.
    TW_UINT16 takeNotification() {
        while (!queue_.empty()) {
            const TW_UINT16 msg = queue_.front();
            if (msg == MSG_XFERREADY) {
                queue_.pop_front();
                if (state_ != 5) {
                    continue;
                }
                pending_ = announced_;
                haveInfo_ = false;
                state_ = 6;
                return msg;
            }
            if (state_ != 5) {
                return MSG_NULL; // held until the batch ends
            }
            queue_.pop_front();
            return msg;
        }
        return MSG_NULL;
    }

    void notifyManager(TW_UINT16 msg) {
        entry_.DSM_Entry(&self_, &app_, DG_CONTROL, DAT_NULL, msg, nullptr);
    }

    int cursorCall(CursorFn fn) {
        InCampanel in(*this);
        return fn();
    }

    void disconnect() {
        {
            InCampanel in(*this);
            campanel_.disconnect();
        }
        browser_ = nullptr;
    }

    bool loadCampanel() { return campanel_.load(instance_) == campanel::Library::Failure::None; }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);

    // A message-only window of ours receives the events we post for the host's loop.
    bool createWindow() {
        if (window_ != nullptr) {
            return true;
        }
        if (notifyMessage_ == 0) {
            notifyMessage_ = RegisterWindowMessageA("LUMIVERA LV2700c5 DS event");
        }
        WNDCLASSA wc = {};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = instance_;
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc); // fails harmlessly when already registered
        window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance_, nullptr);
        return window_ != nullptr && notifyMessage_ != 0;
    }

    HINSTANCE instance_ = nullptr;
    campanel::Library campanel_;
    int state_ = 3;
    TW_IDENTITY self_ = {};
    TW_IDENTITY app_ = {};
    TW_ENTRYPOINT entry_ = {};
    Capability caps_[kCapCount] = {};
    HWND window_ = nullptr;
    HWND browser_ = nullptr;
    UINT notifyMessage_ = 0;
    std::deque<TW_UINT16> queue_;
    bool closeQueued_ = false;
    TW_UINT16 announced_ = 0;
    TW_UINT16 pending_ = 0;
    bool haveInfo_ = false;
    BITMAPINFOHEADER info_ = {};
    int depth_ = 0;
    TW_UINT16 cc_ = TWCC_SUCCESS;
    TW_UINT16 lastCc_ = TWCC_SUCCESS;
};

DataSource g_ds;

LRESULT CALLBACK DataSource::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    return g_ds.windowMessage(window, message, w, l);
}

} // namespace
} // namespace twain

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        twain::g_ds.setInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Exported undecorated (lv2700c5.def), as source managers and campanel look it up.
twain::TW_UINT16 WINAPI DS_Entry(twain::TW_IDENTITY* origin, twain::TW_UINT32 dg,
                                 twain::TW_UINT16 dat, twain::TW_UINT16 msg,
                                 twain::TW_MEMREF data) {
    return twain::g_ds.entry(origin, dg, dat, msg, data);
}

} // extern "C"
