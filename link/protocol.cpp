// The camera's command protocol: catalogue, select and delete, over serial and USB.
#include "link/protocol.h"

#include "link/camera_link.h"
#include "platform/memory.h"

#include <cstring>
#include <unordered_map>

namespace camlink {

void makeEscapeRequest(std::uint8_t (&request)[kEscapeRequestSize], std::uint32_t offset,
                       std::uint32_t length, const char* name) {
    std::memset(request, 0, sizeof request);
    writeLe32(request + 4, offset);
    writeLe32(request + 8, length);
    if (name != nullptr) {
        std::memcpy(request + 12, name, kNameLength);
        std::memcpy(request + 20, "JPG", 4);
    }
}

const char* statusMessage(std::uint8_t status) {
    switch (status) {
    case ST_NO_CARD:
        return "Can't find compact flash card!";
    case ST_FORMAT_FAILED:
        return "Compact flash card can not be formatted!";
    case ST_CARD_ACCESS_FAILED:
        return "Access compact flash card failed!";
    default:
        return "Unknown Problem!";
    }
}

namespace {

// Fills a record from a 20-byte catalogue entry: both names from entry bytes 1-7, sizes and
// the two extra words. The name bytes are kept exactly as the camera sent them.
void fillPicture(CameraPicture& picture, const std::uint8_t* entry) {
    picture.fullName[0] = 'S';
    picture.thumbName[0] = 'T';
    std::memcpy(picture.fullName + 1, entry + 1, kNameLength - 1);
    std::memcpy(picture.thumbName + 1, entry + 1, kNameLength - 1);
    picture.extraWord1 = readLe16(entry + 12);
    picture.extraWord2 = readLe16(entry + 14);
    picture.fullSize = readLe32(entry + 16);
    picture.thumbSize = kThumbnailSize;
}

// Appends a zero-filled record after `tail` (or as the head). Null when the heap is full.
CameraPicture* appendPicture(CameraPictureList& list, CameraPicture*& tail) {
    auto* picture = static_cast<CameraPicture*>(platform::processHeapAlloc(sizeof(CameraPicture)));
    if (picture == nullptr) {
        return nullptr;
    }
    if (tail == nullptr) {
        list = picture;
    } else {
        tail->next = picture;
    }
    tail = picture;
    return picture;
}

CameraPicture* lastPicture(CameraPictureList list) {
    while (list != nullptr && list->next != nullptr) {
        list = list->next;
    }
    return list;
}

// The serial link keys pictures by name bytes 4-7; a repeated key updates the first record
// that has it. The index keeps the merge linear however long the catalogue.
class KeyIndex {
public:
    explicit KeyIndex(CameraPictureList list) {
        for (CameraPicture* p = list; p != nullptr; p = p->next) {
            add(p);
        }
    }
    CameraPicture* find(const std::uint8_t* entry) const {
        auto found = records_.find(readLe32(entry + 4));
        return found == records_.end() ? nullptr : found->second;
    }
    void add(CameraPicture* picture) {
        records_.emplace(readLe32(reinterpret_cast<const std::uint8_t*>(picture->fullName) + 4),
                         picture);
    }

private:
    std::unordered_map<std::uint32_t, CameraPicture*> records_;
};

} // namespace

int CameraLink::readCatalogueSerial(CameraPictureList& list) {
    // Emptied whatever happens next: a failed read must not leave pictures on screen that
    // the camera did not just list.
    catalogue_.clear();
    catalogueFailed_ = true; // until the read comes to its end
    if (portHandle == platform::kInvalidPort) {
        return 0;
    }
    ports_.purge(portHandle, platform::kPurgeAll);
    int count = 0;
    CameraPicture* tail = lastPicture(list);
    KeyIndex index(list);

    std::uint8_t byte = 0;
    writeByte(CMD_CATALOGUE);
    if (!readByte(byte, kByteTimeoutMs)) {
        ui_.messageBox(kMsgCantFindCamera);
        return 0;
    }
    for (std::uint32_t group = 0;; ++group) {
        // The camera may take long to gather a group; an absent status leaves the
        // acknowledgement in `byte`, judged as the status.
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (readByte(byte, kByteTimeoutMs)) {
                break;
            }
        }
        if (byte != ST_DATA) {
            ui_.messageBox(statusMessage(byte));
            return 0;
        }
        if (!readByte(byte, kByteTimeoutMs) || byte > kMaxEntriesPerGroup) {
            return 0;
        }
        const std::uint32_t entries = byte;
        for (std::uint32_t e = 0; e < entries; ++e) {
            std::uint8_t entry[kCatalogueEntrySize];
            std::uint32_t done = 0;
            serialRead(portHandle, entry, kCatalogueEntrySize, &done, kByteTimeoutMs);
            if (done != kCatalogueEntrySize) {
                return 0; // a torn entry would name a picture that does not exist
            }
            CameraPicture* picture = index.find(entry);
            if (picture == nullptr) {
                picture = appendPicture(list, tail);
                if (picture == nullptr) {
                    return 0;
                }
                fillPicture(*picture, entry);
                index.add(picture);
                ++count;
            } else {
                fillPicture(*picture, entry);
            }
        }
        if (!readByte(byte, kByteTimeoutMs) || byte != ST_MORE) {
            catalogueFailed_ = false;
            return count;
        }
        if (group + 1 >= kMaxCatalogueGroups) {
            return 0;
        }
        writeByte(CMD_CATALOGUE);
        if (!readByte(byte, kByteTimeoutMs)) {
            ui_.messageBox(kMsgCantFindCamera);
            return 0;
        }
    }
}

int CameraLink::beginUsbTransaction() {
    if (stillImage == nullptr || stiDevice == nullptr) {
        return 0;
    }
    if (!platform::stiSucceeded(stiDevice->lockDevice(kLockTimeoutMs))) {
        return 0;
    }
    subscribeEvent_ = sti_.createEvent();
    platform::StiSubscribe subscription;
    subscription.dwSize = platform::kStiSubscribeSize;
    subscription.dwFlags = platform::kStiSubscribeFlagEvent;
    subscription.hEvent = subscribeEvent_;
    stiDevice->subscribe(subscription);
    stiDevice->deviceReset();
    platform::StiDeviceStatus status;
    status.dwSize = sizeof status;
    status.StatusMask = platform::kStiDevStatusOnlineState;
    if (!platform::stiSucceeded(stiDevice->getStatus(status))) {
        endUsbTransaction();
        return 0;
    }
    return 1;
}

void CameraLink::endUsbTransaction() {
    if (stiDevice != nullptr) {
        stiDevice->unSubscribe();
        stiDevice->unLockDevice();
    }
    // Nobody waits on the event; it goes with the subscription.
    if (subscribeEvent_ != 0) {
        sti_.closeEvent(subscribeEvent_);
        subscribeEvent_ = 0;
    }
}

int CameraLink::readCatalogueUsb(CameraPictureList& list) {
    catalogue_.clear(); // as on the serial link, also when the transaction cannot begin
    catalogueFailed_ = true;
    if (beginUsbTransaction() == 0) {
        return 0;
    }

    std::uint8_t sizeBytes[4] = {};
    std::uint32_t delivered = 0;
    if (!platform::stiSucceeded(stiDevice->escape(CAM_ESC_CATALOGUE_SIZE, nullptr, 0, sizeBytes,
                                                  sizeof sizeBytes, &delivered)) ||
        delivered > sizeof sizeBytes) {
        endUsbTransaction();
        return 0;
    }
    std::uint32_t length = readLe32(sizeBytes);
    if (length > kMaxCatalogueBytes) {
        endUsbTransaction();
        return 0;
    }
    // A last block that would hold only its head is not read.
    const std::uint32_t rest = length % kCatalogueBlockSize;
    if (rest >= 1 && rest <= 12) {
        length = length >= 12 ? length - 12 : 0;
    }
    const std::uint32_t blocks = (length + kCatalogueBlockSize - 1) / kCatalogueBlockSize;

    auto* block = static_cast<std::uint8_t*>(platform::virtualAlloc(kCatalogueBlockSize));
    if (block == nullptr) {
        endUsbTransaction();
        return 0;
    }
    int count = 0;
    CameraPicture* tail = lastPicture(list);
    bool failed = false;
    for (std::uint32_t b = 0; b < blocks && !failed; ++b) {
        std::uint8_t request[kEscapeRequestSize];
        makeEscapeRequest(request, b * kCatalogueBlockSize, kCatalogueBlockSize, nullptr);
        std::memset(block, 0, kCatalogueBlockSize);
        delivered = 0;
        if (!platform::stiSucceeded(stiDevice->escape(CAM_ESC_CATALOGUE_BLOCK, request,
                                                      sizeof request, block, kCatalogueBlockSize,
                                                      &delivered)) ||
            delivered > kCatalogueBlockSize) {
            failed = true;
            break;
        }
        const std::uint32_t entries = block[kCatalogueBlockCountOffset];
        if (entries > kMaxEntriesPerGroup) {
            failed = true; // more than a block can hold
            break;
        }
        for (std::uint32_t e = 0; e < entries; ++e) {
            CameraPicture* picture = appendPicture(list, tail);
            if (picture == nullptr) {
                failed = true;
                break;
            }
            fillPicture(*picture, block + kCatalogueBlockEntriesOffset + e * kCatalogueEntrySize);
            ++count;
        }
    }
    platform::virtualFree(block);
    endUsbTransaction();
    catalogueFailed_ = failed;
    return failed ? 0 : count;
}

int CameraLink::selectFileSerial(const char* name) {
    if (portHandle == platform::kInvalidPort) {
        return 0;
    }
    std::uint8_t byte = 0;
    if (!writeByte(CMD_SELECT_FILE) || !readByte(byte, kByteTimeoutMs)) {
        return 0;
    }
    std::uint8_t request[12];
    std::memcpy(request, name, kNameLength);
    std::memcpy(request + kNameLength, "JPG ", 4);
    std::uint32_t done = 0;
    if (serialWrite(portHandle, request, sizeof request, &done, kByteTimeoutMs) == 0) {
        return 0;
    }
    return readByte(byte, kByteTimeoutMs) ? 1 : 0;
}

int CameraLink::deleteFileSerial(const char* name) {
    if (selectFileSerial(name) == 0) {
        return 0;
    }
    std::uint8_t byte = 0;
    writeByte(CMD_DELETE_FILE);
    if (!readByte(byte, kByteTimeoutMs)) {
        return 0;
    }
    if (readByte(byte, kByteTimeoutMs) &&
        (byte == ST_NO_CARD || byte == ST_FORMAT_FAILED || byte == ST_CARD_ACCESS_FAILED)) {
        // The camera refused: the picture is still on the card, so the delete failed.
        ui_.messageBox(statusMessage(byte));
        return 0;
    }
    return 1;
}

int CameraLink::deleteFileUsb(const char* name) {
    if (stillImage == nullptr || stiDevice == nullptr ||
        !platform::stiSucceeded(stiDevice->lockDevice(kLockTimeoutMs))) {
        return 0;
    }
    std::uint8_t request[kEscapeRequestSize];
    makeEscapeRequest(request, 0, 0, name);
    std::uint8_t answer[4] = {};
    std::uint32_t delivered = 0;
    const bool ok = platform::stiSucceeded(stiDevice->escape(
        CAM_ESC_DELETE_FILE, request, sizeof request, answer, sizeof answer, &delivered));
    stiDevice->unLockDevice();
    return ok ? 1 : 0;
}

} // namespace camlink
