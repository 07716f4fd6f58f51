// Whole-file transfer: 512-byte serial blocks with their retry rule, 4096-byte USB chunks.
#include "link/camera_link.h"
#include "link/protocol.h"
#include "platform/memory.h"

#include <cstdio>
#include <cstring>

namespace camlink {

namespace {
constexpr int kMaxSerialFailures = 10;
constexpr int kUsbAttempts = 3;
constexpr int kAckAttempts = 100;
} // namespace

std::uint8_t* CameraLink::readFileSerial(const char* label, std::uint32_t size,
                                         platform::Progress* progress) {
    if (portHandle == platform::kInvalidPort) {
        return nullptr;
    }
    if (size > kMaxFileSize) {
        ui_.messageBox(kMsgDownloadError);
        return nullptr;
    }
    const std::uint32_t blocks = (size + kSerialBlockSize - 1) / kSerialBlockSize;
    // The last block is copied whole, so the buffer holds whole blocks (and at least one).
    const std::uint32_t capacity = (blocks == 0 ? 1 : blocks) * kSerialBlockSize;
    auto* buffer = static_cast<std::uint8_t*>(platform::virtualAlloc(capacity));
    if (buffer == nullptr) {
        outOfMemory();
        return nullptr;
    }
    if (progress != nullptr) {
        progress->setRange(1, static_cast<int>(blocks));
        progress->setStep(1);
        progress->show();
    }

    std::uint8_t block[kSerialBlockSize];
    int failures = 0;
    std::uint32_t i = 0;
    while (i < blocks) {
        std::uint8_t command = CMD_NEXT_BLOCK;
        if (failures >= kMaxSerialFailures) {
            break;
        }
        if (failures > 0) {
            ports_.purge(portHandle, platform::kPurgeAll);
            command = CMD_REPEAT_BLOCK;
        }

        std::uint8_t byte = command;
        writeByte(command);
        bool acknowledged = false;
        for (int attempt = 0; attempt < kAckAttempts && !acknowledged; ++attempt) {
            acknowledged = readByte(byte, kByteTimeoutMs);
        }
        if (!acknowledged) {
            ++failures;
            continue;
        }
        readByte(byte, kByteTimeoutMs);
        if (byte != ST_DATA) {
            ui_.messageBox(statusMessage(byte));
            ++failures;
            continue;
        }
        std::uint32_t done = 0;
        serialRead(portHandle, block, kSerialBlockSize, &done, kBlockTimeoutMs);
        if (done < kSerialBlockSize) {
            ++failures;
            continue;
        }
        const bool trailerArrived = readByte(byte, kByteTimeoutMs);
        if (progress != nullptr) {
            char text[256];
            std::snprintf(text, sizeof text, "%d%c of %s",
                          static_cast<int>(std::uint64_t(100) * i / blocks), '%', label);
            progress->stepIt();
            progress->setText(text);
        }
        if (trailerArrived && byte == ST_BLOCK_OK) {
            std::memcpy(buffer + std::size_t(kSerialBlockSize) * i, block, kSerialBlockSize);
            failures = 0;
            ++i;
        } else {
            // A bad trailer is one more failure in a row, so a camera that never sends a
            // good one ends the read instead of holding it forever.
            ++failures;
        }
    }

    if (progress != nullptr) {
        progress->hide();
    }
    if (failures >= kMaxSerialFailures) {
        platform::virtualFree(buffer);
        ui_.messageBox(kMsgDownloadError);
        return nullptr;
    }
    return buffer;
}

std::uint8_t* CameraLink::readFileUsb(const char* name, std::uint32_t size,
                                      platform::Progress* progress) {
    if (size > kMaxFileSize) {
        return nullptr;
    }
    if (beginUsbTransaction() == 0) {
        return nullptr;
    }
    freeUsbBuffer();
    usbBuffer = static_cast<std::uint8_t*>(platform::virtualAlloc(size == 0 ? 1 : size));
    if (usbBuffer == nullptr) {
        outOfMemory();
        freeUsbBuffer();
        endUsbTransaction();
        return nullptr;
    }
    usbBufferSize = size;

    const std::uint32_t chunks = (size + kUsbChunkSize - 1) / kUsbChunkSize;
    if (progress != nullptr) {
        char text[kNameLength + 1] = {};
        std::memcpy(text, name, kNameLength);
        progress->setRange(1, static_cast<int>(chunks));
        progress->setStep(1);
        progress->show();
        progress->setText(text);
    }

    std::uint32_t offset = 0;
    for (std::uint32_t k = 1; k <= chunks; ++k) {
        const std::uint32_t rest = size % kUsbChunkSize;
        const std::uint32_t length = (k == chunks && rest != 0) ? rest : kUsbChunkSize;
        std::uint8_t request[kEscapeRequestSize];
        makeEscapeRequest(request, offset, length, name);

        std::uint32_t taken = 0;
        bool ok = false;
        for (int attempt = 1; attempt <= kUsbAttempts && !ok; ++attempt) {
            std::uint32_t delivered = 0;
            const bool succeeded = platform::stiSucceeded(
                stiDevice->escape(CAM_ESC_READ_FILE, request, sizeof request, usbBuffer + offset,
                                  size - offset, &delivered));
            if (succeeded && delivered == length) {
                taken = delivered;
                ok = true;
                break;
            }
            std::uint8_t one[4];
            writeLe32(one, 1);
            std::uint32_t none = 0;
            stiDevice->escape(CAM_ESC_RECOVER, one, sizeof one, nullptr, 0, &none);
            // A short chunk reported as good is taken as delivered. More than was asked
            // for cannot be true and would move the offset past the buffer: a failure.
            if (succeeded && delivered < length) {
                taken = delivered;
                ok = true;
            }
        }
        if (!ok) {
            freeUsbBuffer();
            endUsbTransaction();
            if (progress != nullptr) {
                progress->hide();
            }
            return nullptr;
        }
        offset += taken;
        if (progress != nullptr) {
            progress->stepIt();
        }
    }

    endUsbTransaction();
    if (progress != nullptr) {
        progress->hide();
    }
    return usbBuffer;
}

std::uint8_t* CameraLink::fetchFile(const char* name, std::uint32_t size,
                                    platform::Progress* progress, bool* callerOwns) {
    *callerOwns = false;
    if (linkKind == LinkUsb) {
        return readFileUsb(name, size, progress);
    }
    if (linkKind != LinkSerial || selectFileSerial(name) == 0) {
        return nullptr;
    }
    char label[kNameLength + 1] = {};
    std::memcpy(label, name, kNameLength);
    std::uint8_t* buffer = readFileSerial(label, size, progress);
    *callerOwns = buffer != nullptr;
    return buffer;
}

} // namespace camlink
