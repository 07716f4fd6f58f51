#include "browser/tests/dib_builder.h"

#include <cstring>

namespace browser::testing {

platform::GlobalHandle makePicture(std::int32_t width, std::int32_t height) {
    const std::uint32_t w = width > 0 ? static_cast<std::uint32_t>(width) : 0;
    const std::uint32_t h = height > 0 ? static_cast<std::uint32_t>(height) : 0;
    const std::uint32_t stride = platform::dibStride(w);
    platform::GlobalHandle block = platform::globalAlloc(40 + std::size_t{stride} * h);
    if (block == nullptr) {
        return nullptr;
    }
    auto* bytes = static_cast<std::uint8_t*>(platform::globalLock(block));
    platform::BitmapInfoHeader header{};
    header.size = 40;
    header.width = width;
    header.height = height;
    header.planes = 1;
    header.bitCount = 24;
    header.imageSize = stride * h;
    header.xPelsPerMeter = 2835;
    header.yPelsPerMeter = 2835;
    std::memcpy(bytes, &header, sizeof header);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = bytes + 40 + std::size_t{h - 1 - y} * stride;
        for (std::uint32_t x = 0; x < w; ++x) {
            Pixel p = sourcePixel(x, y);
            row[3 * x] = p.blue;
            row[3 * x + 1] = p.green;
            row[3 * x + 2] = p.red;
        }
    }
    platform::globalUnlock(block);
    return block;
}

std::vector<std::uint8_t> blockBytes(platform::GlobalHandle block) {
    std::vector<std::uint8_t> out(platform::globalSize(block));
    const void* bytes = platform::globalLock(block);
    if (bytes != nullptr) {
        std::memcpy(out.data(), bytes, out.size());
        platform::globalUnlock(block);
    }
    return out;
}

Pixel pixelAt(const std::vector<std::uint8_t>& dib, std::uint32_t x, std::uint32_t y) {
    auto le32 = [&](std::size_t at) {
        return std::uint32_t{dib[at]} | std::uint32_t{dib[at + 1]} << 8 |
               std::uint32_t{dib[at + 2]} << 16 | std::uint32_t{dib[at + 3]} << 24;
    };
    const std::uint32_t width = le32(4);
    const std::uint32_t height = le32(8);
    const std::uint32_t stride = (width * 3 + 3) / 4 * 4;
    const std::size_t at = 40 + std::size_t{height - 1 - y} * stride + 3 * x;
    return Pixel{dib[at], dib[at + 1], dib[at + 2]};
}

} // namespace browser::testing
