// Pictures for the card builder: reading photographs, resampling, and baseline JPEG
// encoding in the camera's form (YCbCr, luma sampled 2x1 against chroma, one scan, no
// restart markers). Test tooling only: the product decodes with its own decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkcard {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // width * height * 3, top row first

    bool empty() const { return width <= 0 || height <= 0; }
};

// Reads a JPEG or a binary PPM (P6) file; an empty image and a reason on failure.
Image readImage(const std::string& path, std::string* error);
// The largest centred part of `source` with the aspect of width:height, resampled to
// width x height by averaging the source pixels under each target pixel.
Image fit(const Image& source, int width, int height);
// A generated picture: smooth colour ramps with a few sharp edges, for unit tests.
Image pattern(int width, int height, unsigned seed);
// Baseline JPEG bytes of `image` at `quality` (1-100).
std::vector<std::uint8_t> encodeJpeg(const Image& image, int quality);

} // namespace mkcard
