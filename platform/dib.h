// The packed device-independent bitmap in which pictures and thumbnails travel: a 40-byte
// header, then 24-bit rows bottom-up, blue-green-red, each padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>

namespace platform {

// Same layout as Win32's BITMAPINFOHEADER (all little-endian on every target we build).
struct BitmapInfoHeader {
    std::uint32_t size; // 40
    std::int32_t width;
    std::int32_t height;       // positive: bottom-up
    std::uint16_t planes;      // 1
    std::uint16_t bitCount;    // 24
    std::uint32_t compression; // 0, uncompressed RGB
    std::uint32_t imageSize;   // rows x stride
    std::int32_t xPelsPerMeter;
    std::int32_t yPelsPerMeter;
    std::uint32_t colorsUsed;
    std::uint32_t colorsImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "the header is 40 bytes on the wire");

constexpr std::uint32_t kDibHeaderSize = 40;

// Bytes per 24-bit row: the next multiple of 4 of width x 3.
constexpr std::uint32_t dibStride(std::uint32_t width) {
    return ((width * 24 + 31) / 32) * 4;
}

} // namespace platform
