#include "jpeg/decode_picture.h"

#include "jpeg/jpeg_decoder.h"
#include "platform/ui.h"

#include <cstring>

namespace jpeg {

const char kFileErrorText[] = "JPEG File format error!";

void nominalSize(const char* name, std::int32_t& width, std::int32_t& height) {
    if (name == nullptr) {
        return;
    }
    if (name[0] == 'S') {
        width = 1792;
        height = 1200;
    } else if (name[0] == 'V') {
        width = 640;
        height = 480;
    }
}

int decodePicture(platform::UserInterface& ui, PictureSink& pictures, const std::uint8_t* data,
                  std::uint32_t pictureSize, std::uint32_t thumbSize, const char* name,
                  int addToList, platform::GlobalHandle* result) {
    JpegDecoder decoder(ui);
    const std::uint8_t* pixels = nullptr;
    if (thumbSize == 0) {
        pixels = decoder.decodeFile(name);
        if (pixels == nullptr && decoder.fileUnreadable()) {
            ui.messageBox(kFileErrorText);
        }
    } else if (addToList == 1) {
        // A thumbnail file no longer than its preamble holds no stream.
        if (data != nullptr && thumbSize > kThumbnailStreamOffset) {
            pixels = decoder.decodeMemory(data + kThumbnailStreamOffset,
                                          thumbSize - kThumbnailStreamOffset);
        }
    } else {
        pixels = decoder.decodeMemory(data, pictureSize);
    }
    if (pixels == nullptr) {
        decoder.releaseBuffers();
        return 0;
    }

    platform::BitmapInfoHeader header = decoder.imageHeader();
    const std::uint32_t stride = platform::dibStride(static_cast<std::uint32_t>(header.width));
    const std::size_t pixelBytes = static_cast<std::size_t>(header.height) * stride;
    platform::GlobalHandle dib = platform::globalAlloc(pixelBytes + platform::kDibHeaderSize);
    auto* block = static_cast<std::uint8_t*>(platform::globalLock(dib));
    if (block == nullptr) {
        // Not enough memory for the DIB: a failed picture, not a crash.
        platform::globalFree(dib);
        decoder.releaseBuffers();
        return 0;
    }
    std::memcpy(block, &header, platform::kDibHeaderSize);
    std::memcpy(block + platform::kDibHeaderSize, pixels, pixelBytes);
    platform::globalUnlock(dib);

    if (addToList == 1) {
        const bool added = pictures.add(name, pictureSize, thumbSize, dib);
        platform::globalFree(dib);
        if (!added) {
            // The cursor is not on this picture: its header must not land on another entry.
            decoder.releaseBuffers();
            return 0;
        }
        if (pictureSize != 0) {
            nominalSize(name, header.width, header.height);
        }
    } else if (result != nullptr) {
        *result = dib;
    } else {
        platform::globalFree(dib);
    }
    pictures.setCurrentInfo(&header);
    decoder.releaseBuffers();
    return 1;
}

} // namespace jpeg
