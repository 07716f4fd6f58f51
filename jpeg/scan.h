// The scan decoders' shared view of the decoder state (internal to jpeg/).
#pragma once

#include "jpeg/jpeg_decoder.h"

#include <cstddef>
#include <cstdint>

namespace jpeg {
namespace detail {

struct ScanContext {
    const std::uint8_t* data;
    std::uint32_t length;
    std::uint32_t cursor; // in: first byte of entropy-coded data; out: where the scan left it
    // Per component (Y, Cb, Cr): Huffman tables with the offsets of their symbol values, and
    // the quantisation table in natural order.
    const HuffmanTable* dc[3];
    const HuffmanTable* ac[3];
    std::uint32_t dcValues[3];
    std::uint32_t acValues[3];
    const std::uint8_t* quant[3];
    std::int32_t* predictors;   // 3 running DC values, kept across scans
    std::int32_t* coefficients; // 256 values of working space, zero when the scan starts
    void* workspace;            // fast path: fastScanWorkspaceBytes(...) for its tables
    std::uint8_t* pixels;       // padded width x padded height x 3, bottom row first
    std::int32_t paddedWidth;
    std::int32_t paddedHeight;
};

DecodeError decodeScanReference(ScanContext& scan);
DecodeError decodeScanFast(ScanContext& scan);
std::size_t fastScanWorkspaceBytes(std::int32_t paddedWidth, std::int32_t paddedHeight);

// Building blocks of the reference path, exposed for tests.
void inverseDctReference(std::int32_t block[64]);
std::int32_t truncatedProduct(double constant, std::int32_t value);
void convertPixelReference(std::int32_t y, std::int32_t cb, std::int32_t cr, std::uint8_t* bgr);

extern const std::uint8_t kZigZag[64];

} // namespace detail
} // namespace jpeg
