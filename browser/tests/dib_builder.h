// Test pictures: packed 24-bit DIBs in global blocks whose every pixel tells where it came
// from, so a decimated copy can be traced back to its source pixels.
#pragma once

#include "platform/memory.h"

#include <cstdint>
#include <vector>

namespace browser::testing {

struct Pixel {
    std::uint8_t blue, green, red;
    bool operator==(const Pixel& o) const {
        return blue == o.blue && green == o.green && red == o.red;
    }
};

// Column x of row y counted from the top (x, y < 4096).
inline Pixel sourcePixel(std::uint32_t x, std::uint32_t y) {
    return Pixel{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                 static_cast<std::uint8_t>((x >> 8) | ((y >> 8) << 4))};
}

// A full picture as the decoder leaves it (2835 pixels per metre), rows bottom-up, pixels
// sourcePixel(x, y). A zero or negative size goes into the header with no pixel rows.
platform::GlobalHandle makePicture(std::int32_t width, std::int32_t height);

std::vector<std::uint8_t> blockBytes(platform::GlobalHandle block);
std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at);
// Column x of row y counted from the top, in the bytes of a bottom-up 24-bit DIB.
Pixel pixelAt(const std::vector<std::uint8_t>& dib, std::uint32_t x, std::uint32_t y);

} // namespace browser::testing
