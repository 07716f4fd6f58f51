// Fuzz target: decodePicture on a camera thumbnail file (stream 2123 bytes in) as the
// catalogue reload adds it, and on the same bytes as a full picture handed back as a DIB.
// The sink reads every byte of each DIB it is given.
#include "fuzz_support.h"
#include "jpeg/decode_picture.h"
#include "platform/memory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

volatile std::uint32_t sink;

void touch(platform::GlobalHandle dib) {
    const auto* bytes = static_cast<const std::uint8_t*>(platform::globalLock(dib));
    const std::size_t size = platform::globalSize(dib);
    platform::BitmapInfoHeader header;
    std::memcpy(&header, bytes, sizeof header);
    if (size != 40 + static_cast<std::size_t>(header.height) * platform::dibStride(header.width)) {
        std::abort();
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        sum += bytes[i];
    }
    sink = sum;
    platform::globalUnlock(dib);
}

class TouchingSink : public jpeg::PictureSink {
public:
    bool add(const char*, std::uint32_t, std::uint32_t, platform::GlobalHandle picture) override {
        touch(picture);
        return true;
    }
    void setCurrentInfo(const platform::BitmapInfoHeader* header) override { info = *header; }
    platform::BitmapInfoHeader info{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    jpeg::fuzz::installKeepRunning();
    if (size > 1u << 20) {
        return 0;
    }
    jpeg::fuzz::SilentUi ui;
    TouchingSink catalogue;
    // An exact-size copy, so reading past the end is caught.
    std::vector<std::uint8_t> file(data, data + size);
    const auto length = static_cast<std::uint32_t>(size);
    jpeg::decodePicture(ui, catalogue, file.data(), 1234567, length, "S0000001", 1, nullptr);
    platform::GlobalHandle dib = nullptr;
    if (size > jpeg::kThumbnailStreamOffset &&
        jpeg::decodePicture(ui, catalogue, file.data() + jpeg::kThumbnailStreamOffset,
                            length - jpeg::kThumbnailStreamOffset, length, nullptr, 0, &dib) == 1) {
        touch(dib);
        platform::globalFree(dib);
    }
    return 0;
}
