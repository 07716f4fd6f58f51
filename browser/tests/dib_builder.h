// Test pictures: packed 24-bit DIBs in global blocks whose every pixel tells where it came
// from, so a decimated copy can be traced back to its source pixels.
#pragma once

#include "platform/dib.h"
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

// The pixel at column x of row y counted from the top of the picture (x, y < 4096).
inline Pixel sourcePixel(std::uint32_t x, std::uint32_t y) {
    return Pixel{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                 static_cast<std::uint8_t>((x >> 8) | ((y >> 8) << 4))};
}

// A full picture as the decoder leaves it (resolutions 2835), rows bottom-up, each pixel
// sourcePixel(x, y). Width and height go into the header as given; the block holds
// max(height, 0) rows of the given width's stride.
platform::GlobalHandle makePicture(std::int32_t width, std::int32_t height);

// The bytes of a global block.
std::vector<std::uint8_t> blockBytes(platform::GlobalHandle block);

// Pixel at column x of row y counted from the top, in a bottom-up DIB's bytes.
Pixel pixelAt(const std::vector<std::uint8_t>& dib, std::uint32_t x, std::uint32_t y);

} // namespace browser::testing
