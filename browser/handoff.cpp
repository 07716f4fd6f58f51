#include "browser/handoff.h"

#include "browser/commands.h"
#include "jpeg/decode_picture.h"
#include "jpeg/jpeg_decoder.h"

namespace browser {

const char kMsgNoDataSource[] = "Could not find TWAIN DS file";
const char kMsgManyPictures[] =
    "Warning Message for Photo Delux \n Selected pictures number <= 30 !! \n If continue ?";
const char kMsgCorruptDownload[] = "Can't download this file, it is corrupted";

namespace {

// Pages start at whole rows.
constexpr std::int32_t kRow = kCellsPerRow;

} // namespace

HandOff::HandOff(BrowserState& state, View& view, camlink::CameraLink& link, DataSource& dataSource)
    : state_(state), view_(view), link_(link), dataSource_(dataSource) {}

HandOff::~HandOff() {
    dropFetched();
}

bool HandOff::setDataSourcePath(const char* path) {
    if (path == nullptr) {
        return false;
    }
    const std::string name(path);
    if (name.size() >= kDataSourcePathSize) {
        return false;
    }
    dataSourcePath_ = name;
    return true;
}

void HandOff::callDataSource(std::uint16_t message, std::uintptr_t data) {
    if (!dataSource_.call(dataSourcePath_.c_str(), message, data)) {
        view_.messageBox(kMsgNoDataSource);
    }
}

void HandOff::acquireSelected() {
    PictureList& pictures = state_.pictures;
    state_.resetClicks();
    fetchPending_ = true;
    transferredCount_ = 0;
    const auto position = static_cast<std::int32_t>(pictures.position());
    pageStartOnAcquire_ = position > 0 ? (position - 1) / kRow * kRow : 0;

    const std::uint32_t n = pictures.selectedCount();
    if (n == 0) {
        view_.messageBox(kMsgSelectOne);
        return;
    }
    if (n > kAcquireWarningCount &&
        view_.messageBox(kMsgManyPictures, platform::kMbQuestion) != platform::kIdYes) {
        return;
    }
    pictures.firstSelected();
    acquireCount_ = n;
    // The batch starts afresh, even when an earlier one was left unfinished.
    handedOutCount_ = 0;

    state_.setCommandControlsEnabled(false);
    state_.setMouseEnabled(false);
    callDataSource(MSG_PANEL_READY, n);
}

void HandOff::requestClose() {
    state_.resetClicks();
    callDataSource(MSG_PANEL_CLOSE, 0);
}

void HandOff::dropFetched() {
    if (fetchedOwned_ && fetchedData_ != nullptr) {
        platform::virtualFree(fetchedData_);
    }
    fetchedData_ = nullptr;
    fetchedOwned_ = false;
}

const platform::BitmapInfoHeader* HandOff::fetchImageInfo() {
    PictureList& pictures = state_.pictures;
    if (pictures.currentName() != nullptr && fetchPending_ && pictures.currentThumbSize() != 0) {
        dropFetched();
        platform::Progress* progress = view_.createProgress();
        bool callerOwns = false;
        fetchedData_ =
            link_.fetchFile(pictures.currentName(), pictures.currentSize(), progress, &callerOwns);
        fetchedOwned_ = callerOwns;
        if (fetchedData_ != nullptr) {
            jpeg::JpegDecoder decoder(view_);
            if (decoder.decodeMemory(fetchedData_, pictures.currentSize()) != nullptr) {
                pictures.setCurrentInfo(&decoder.imageHeader());
            }
            decoder.releaseBuffers();
        }
        fetchPending_ = false;
        view_.destroyProgress(progress);
    }
    return pictures.currentInfo();
}

platform::GlobalHandle HandOff::nextHandOff() {
    if (acquireCount_ == 0 || static_cast<std::uint32_t>(handedOutCount_) == acquireCount_) {
        return nullptr;
    }
    ++handedOutCount_;
    return state_.pictures.currentThumbSize() != 0 ? fetchCameraPicture() : decodeFilePicture();
}

platform::GlobalHandle HandOff::fetchCameraPicture() {
    PictureList& pictures = state_.pictures;
    platform::Progress* progress = view_.createProgress();
    // The data fetched for this picture's information, unless the host skipped that call
    // or the buffer went with the window: then it is fetched now.
    if (fetchPending_ || fetchedData_ == nullptr ||
        (!fetchedOwned_ && fetchedData_ != link_.usbBuffer)) {
        dropFetched();
        bool callerOwns = false;
        fetchedData_ =
            link_.fetchFile(pictures.currentName(), pictures.currentSize(), progress, &callerOwns);
        fetchedOwned_ = callerOwns;
        fetchPending_ = false;
    }
    platform::GlobalHandle dib = nullptr;
    if (fetchedData_ != nullptr) {
        jpeg::PictureListSink<PictureList> sink(pictures);
        if (jpeg::decodePicture(view_, sink, fetchedData_, pictures.currentSize(),
                                pictures.currentThumbSize(), nullptr, 0, &dib) == 0) {
            dib = nullptr;
        }
    }
    // A serial picture is transferred once: its buffer has served.
    dropFetched();
    if (dib != nullptr) {
        if (static_cast<std::uint32_t>(handedOutCount_) == acquireCount_) {
            handedOutCount_ = 0;
        }
        ++transferredCount_;
        if (static_cast<std::uint32_t>(transferredCount_) == pictures.selectedCount()) {
            view_.invalidateWindow(true);
            requestClose();
        }
    } else {
        view_.messageBox(kMsgCorruptDownload);
    }
    view_.destroyProgress(progress);
    return dib;
}

platform::GlobalHandle HandOff::decodeFilePicture() {
    PictureList& pictures = state_.pictures;
    jpeg::PictureListSink<PictureList> sink(pictures);
    platform::GlobalHandle dib = nullptr;
    if (jpeg::decodePicture(view_, sink, nullptr, 0, 0, pictures.currentName(), 0, &dib) == 0) {
        dib = nullptr;
    }
    if (static_cast<std::uint32_t>(handedOutCount_) == acquireCount_) {
        handedOutCount_ = 0;
    }
    return dib;
}

int HandOff::toNextSelectedImage() {
    fetchPending_ = true;
    return state_.pictures.nextSelected() ? 1 : 0;
}

int HandOff::toFirstImage() {
    PictureList& pictures = state_.pictures;
    pictures.rewind();
    return pictures.forward(static_cast<std::uint32_t>(pageStartOnAcquire_)) ? 1 : 0;
}

} // namespace browser
