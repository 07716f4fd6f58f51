// twhost: a TWAIN host as image editors are written, for testing lv2700c5.ds. It opens a
// source manager, opens and enables the source, runs its message loop through
// MSG_PROCESSEVENT and takes every picture by native transfer.
//
// Two managers: DirectManager is a small manager of our own that loads the data source by
// path and speaks TWAIN 2.x to it (entry point, callback); WineManager is Wine's own
// twain_32.dll, a 1.x manager.
#pragma once

#include "datasource/twain_defs.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace twhost {

using namespace twain;

class Manager {
public:
    virtual ~Manager() = default;
    virtual DSMENTRYPROC entry() const = 0;
    virtual bool twain2() const = 0; // the app and manager use the 2.x callback
};

// Loads the data source `dsPath` itself and plays the manager's part as a 2.x manager
// does: DAT_ENTRYPOINT before MSG_OPENDS, the host's DAT_CALLBACK called for DAT_NULL.
class DirectManager : public Manager {
public:
    explicit DirectManager(const std::string& dsPath);
    ~DirectManager() override;
    DSMENTRYPROC entry() const override;
    bool twain2() const override { return true; }
    // DAT_NULL messages the source sent, in order.
    static std::vector<TW_UINT16> sourceMessages();
};

// Wine's twain_32.dll.
class WineManager : public Manager {
public:
    WineManager();
    ~WineManager() override;
    DSMENTRYPROC entry() const override { return entry_; }
    bool twain2() const override { return false; }

private:
    HMODULE module_ = nullptr;
    DSMENTRYPROC entry_ = nullptr;
};

struct Picture {
    TW_IMAGEINFO info = {};
    std::vector<std::uint8_t> dib; // the packed DIB as handed over
    TW_UINT16 countAfter = 0;      // pending transfers after its MSG_ENDXFER
    bool movable = false;          // the handle was a movable global block
};

// The .bmp file of a packed DIB: the 14-byte file header, then the DIB as received, trimmed
// to its header, colour table and rows (GlobalSize may have rounded the block up). Empty
// when the bytes do not hold a whole DIB.
std::vector<std::uint8_t> bmpFile(const std::vector<std::uint8_t>& dib);

class Host {
public:
    Host(Manager& manager, HWND window);
    ~Host();

    // Opens the manager and the source named "LUMIVERA LV2700c5".
    bool open();
    // MSG_ENABLEDS; the result code.
    TW_UINT16 enable(bool showUI = true);
    // Runs the message loop until the source has been closed on its request, or the time
    // has run out.
    bool runUntilClosed(unsigned timeoutMs);
    // One pass over the waiting messages.
    void pump();

    // One triplet to the source; `cc` receives DAT_STATUS's condition code after it.
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                   TW_UINT16* cc = nullptr);
    TW_UINT16 closeSource();
    void closeManager();

    // Capability helpers: one value in and out.
    TW_UINT16 setOne(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 value, TW_UINT16* cc = nullptr);
    TW_UINT16 getOne(TW_UINT16 cap, TW_UINT16 msg, TW_UINT16& type, TW_UINT32& value,
                     TW_UINT16* cc = nullptr);

    // What the host does on MSG_XFERREADY; by default it takes every picture.
    std::function<void(Host&)> onXferReady;
    void takeAll();

    std::vector<Picture> pictures;
    std::vector<TW_UINT16> events; // MSG_XFERREADY, MSG_CLOSEDSREQ as they came
    std::vector<std::string> errors;
    bool closed = false;
    TW_IDENTITY app = {};
    TW_IDENTITY source = {};

private:
    void handle(TW_UINT16 msg);
    static TW_UINT16 WINAPI callback(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                     TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

    Manager& manager_;
    DSMENTRYPROC dsm_;
    HWND window_;
    bool managerOpen_ = false;
    bool sourceOpen_ = false;
};

} // namespace twhost
