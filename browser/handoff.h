// The hand-off of the selected pictures to the TWAIN data source that opened the browser:
// ACQUIRE tells the data source how many pictures are ready, the data source then pulls
// them one by one (image information, picture, next), and the browser asks to be closed
// when the last camera picture has gone, or on EXIT. The data source is reached through
// its DS_Entry, loaded by file name for each call; campanel's exports are thin wrappers
// of these operations.
#pragma once

#include "browser/browser_state.h"
#include "link/camera_link.h"
#include "platform/dib.h"
#include "platform/memory.h"

#include <cstdint>
#include <string>

namespace browser {

// The private codes campanel and its data source share (none is a TWAIN standard value).
constexpr std::uint32_t DG_PANEL = 0x4001;
constexpr std::uint16_t MSG_PANEL_READY = 0x4001;
constexpr std::uint16_t MSG_PANEL_CLOSE = 0x4002;
// The TW_IDENTITY-shaped origin record passed along, not filled in.
constexpr std::size_t kOriginRecordSize = 156;

// Longest data-source file name kept: a Windows path and its NUL.
constexpr std::size_t kDataSourcePathSize = 260;
// More pictures than this in one acquire are asked about first.
constexpr std::uint32_t kAcquireWarningCount = 30;

extern const char kMsgNoDataSource[];    // "Could not find TWAIN DS file"
extern const char kMsgManyPictures[];    // "Warning Message for Photo Delux ..."
extern const char kMsgCorruptDownload[]; // "Can't download this file, it is corrupted"

// The data source's DS_Entry.
class DataSource {
public:
    virtual ~DataSource() = default;
    // Loads the library `path`, calls its DS_Entry(origin, DG_PANEL, 0, message, data) and
    // unloads it again. False when the library or its "DS_Entry" cannot be found.
    virtual bool call(const char* path, std::uint16_t message, std::uintptr_t data) = 0;
};

class HandOff {
public:
    // All references must outlive the hand-off.
    HandOff(BrowserState& state, View& view, camlink::CameraLink& link, DataSource& dataSource);
    ~HandOff();
    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;

    // The data source's file name as UI_CONNECT gives it. False, keeping the old one, for
    // a null name or one that does not fit kDataSourcePathSize: a cut name would load
    // another file, or none.
    bool setDataSourcePath(const char* path);
    const std::string& dataSourcePath() const { return dataSourcePath_; }

    void acquireSelected(); // ACQUIRE
    void requestClose();    // EXIT, and when the last camera picture has been handed out

    // UI_GETIMAGEINFO: fetches the cursor picture once (over either link) and describes it
    // by its decoded header. Null without a cursor.
    const platform::BitmapInfoHeader* fetchImageInfo();
    // UI_GETIMAGE: the cursor picture as a packed DIB the caller owns, or null.
    platform::GlobalHandle nextHandOff();
    // UI_ToFirstImage: back to the page shown at the acquire. 1 when the cursor got there.
    int toFirstImage();
    // UI_ToNextSelectedImage: 1 when the cursor moved to the next selected picture.
    int toNextSelectedImage();

    std::uint32_t acquireCount() const { return acquireCount_; }
    std::int32_t transferredCount() const { return transferredCount_; }
    std::int32_t handedOutCount() const { return handedOutCount_; }
    std::int32_t pageStartOnAcquire() const { return pageStartOnAcquire_; }
    bool fetchPending() const { return fetchPending_; }

private:
    platform::GlobalHandle fetchCameraPicture();
    platform::GlobalHandle decodeFilePicture();
    void dropFetched();
    void callDataSource(std::uint16_t message, std::uintptr_t data);

    BrowserState& state_;
    View& view_;
    camlink::CameraLink& link_;
    DataSource& dataSource_;
    std::string dataSourcePath_;
    std::uint32_t acquireCount_ = 0;
    std::int32_t transferredCount_ = 0;
    std::int32_t handedOutCount_ = 0;
    std::int32_t pageStartOnAcquire_ = 0;
    bool fetchPending_ = false;
    // The full picture fetched by fetchImageInfo, for nextHandOff to decode. A USB buffer
    // stays the link's; a serial one is ours and given back once decoded.
    std::uint8_t* fetchedData_ = nullptr;
    bool fetchedOwned_ = false;
};

} // namespace browser
