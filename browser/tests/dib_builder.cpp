#include "browser/tests/dib_builder.h"

#include <cstring>

namespace browser::testing {

namespace {
void put32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
} // namespace

platform::GlobalHandle makePicture(std::int32_t width, std::int32_t height) {
    const std::uint32_t w = width > 0 ? static_cast<std::uint32_t>(width) : 0;
    const std::uint32_t h = height > 0 ? static_cast<std::uint32_t>(height) : 0;
    const std::uint32_t stride = (w * 3 + 3) / 4 * 4;
    platform::GlobalHandle block = platform::globalAlloc(40 + std::size_t{stride} * h);
    auto* bytes = static_cast<std::uint8_t*>(platform::globalLock(block));
    // header written field by field, little-endian, independent of BitmapInfoHeader
    put32(bytes, 40);
    put32(bytes + 4, static_cast<std::uint32_t>(width));
    put32(bytes + 8, static_cast<std::uint32_t>(height));
    bytes[12] = 1;  // planes
    bytes[14] = 24; // bit count
    put32(bytes + 20, stride * h);
    put32(bytes + 24, 2835);
    put32(bytes + 28, 2835);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = bytes + 40 + std::size_t{h - 1 - y} * stride;
        for (std::uint32_t x = 0; x < w; ++x) {
            const Pixel p = sourcePixel(x, y);
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
    if (const void* bytes = platform::globalLock(block)) {
        std::memcpy(out.data(), bytes, out.size());
        platform::globalUnlock(block);
    }
    return out;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

Pixel pixelAt(const std::vector<std::uint8_t>& dib, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t height = le32(dib, 8);
    const std::uint32_t stride = (le32(dib, 4) * 3 + 3) / 4 * 4;
    const std::size_t at = 40 + std::size_t{height - 1 - y} * stride + 3 * x;
    return Pixel{dib[at], dib[at + 1], dib[at + 2]};
}

} // namespace browser::testing
