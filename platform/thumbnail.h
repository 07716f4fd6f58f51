// The rule by which a picture becomes its thumbnail, kept in one place for the picture list
// and the jpegdib tool: a whole factor that brings the picture within 94 x 70 pixels, and
// every factor-th pixel of every factor-th row, counted from the top-left corner.
#pragma once

#include "platform/dib.h"

#include <cstddef>
#include <cstdint>

namespace platform {

constexpr std::uint32_t kThumbnailMaxWidth = 94;
constexpr std::uint32_t kThumbnailMaxHeight = 70;

struct ThumbnailGeometry {
    std::uint32_t factor;
    std::uint32_t width; // 0 for a sliver narrower (or lower) than one factor
    std::uint32_t height;
};

// For a picture of width x height, both above zero: the factor that brings the height
// within 70, or else the width within 94.
constexpr ThumbnailGeometry thumbnailGeometry(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t w = width, h = height; // w x 70 must not wrap
    const std::uint64_t factor = (w * kThumbnailMaxHeight) / h < kThumbnailMaxWidth
                                     ? (h + kThumbnailMaxHeight - 1) / kThumbnailMaxHeight
                                     : (w + kThumbnailMaxWidth - 1) / kThumbnailMaxWidth;
    return ThumbnailGeometry{static_cast<std::uint32_t>(factor),
                             static_cast<std::uint32_t>(w / factor),
                             static_cast<std::uint32_t>(h / factor)};
}

// The thumbnail's header: 24-bit, bottom-up, uncompressed, no resolution.
constexpr BitmapInfoHeader thumbnailHeader(const ThumbnailGeometry& g) {
    return BitmapInfoHeader{kDibHeaderSize,
                            static_cast<std::int32_t>(g.width),
                            static_cast<std::int32_t>(g.height),
                            1,
                            24,
                            0,
                            dibStride(g.width) * g.height,
                            0,
                            0,
                            0,
                            0};
}

// Copies the thumbnail's pixels from the picture's: `source` holds height rows of width
// pixels, `target` g.height rows of g.width, both bottom-up with dibStride rows. Padding
// bytes of `target` are left as they are.
inline void decimatePixels(const std::uint8_t* source, std::uint32_t width, std::uint32_t height,
                           const ThumbnailGeometry& g, std::uint8_t* target) {
    const std::size_t sourceStride = dibStride(width);
    const std::size_t stride = dibStride(g.width);
    const std::size_t step = std::size_t{g.factor} * 3;
    for (std::uint32_t r = 0; r < g.height; ++r) {
        // Row r from the top is the picture's row r x factor from the top.
        const std::uint8_t* from = source + (height - 1 - std::size_t{r} * g.factor) * sourceStride;
        std::uint8_t* to = target + std::size_t{g.height - 1 - r} * stride;
        for (std::uint32_t x = 0; x < g.width; ++x, from += step, to += 3) {
            to[0] = from[0];
            to[1] = from[1];
            to[2] = from[2];
        }
    }
}

} // namespace platform
