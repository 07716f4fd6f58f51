// The fast path's per-block and per-MCU kernels, in a portable form and, where the
// processor has them, vector forms chosen at run time. Each must give exactly the bytes
// of the plain path (internal to jpeg/).
#pragma once

#include <cstddef>
#include <cstdint>

namespace jpeg {
namespace detail {

// What the Huffman decoder learnt of a block while filling it.
struct BlockShape {
    std::uint32_t acRows; // no bit r: every AC coefficient of row r is zero
};

struct Kernels {
    const char* name;
    // Dequantised coefficients (natural order) to 64 samples with 128 added. True only when
    // every coefficient was within kVectorIdctLimit, so that every sample is below 8000 in
    // magnitude (the vector kernels check their input for their own sake; the portable one
    // does not look and says false).
    bool (*inverseDct)(const std::int32_t* coefficients, const BlockShape& shape,
                       std::int32_t* samples);
    // Two blocks, as two calls of inverseDct; true when both would say true.
    bool (*inverseDctPair)(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                           const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB);
    // Four blocks of samples (Y left, Y right, Cb, Cr) to 8 rows of 16 BGR pixels; `top`
    // is the MCU's top row, each following row `rowBytes` lower in memory. `lumaSmall`:
    // the inverse DCT said true for both luma blocks (otherwise the kernel checks the
    // samples for itself).
    void (*convertMcu)(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                       bool lumaSmall);
};

// The portable inverse DCT, and the AVX2 one (fast_kernels_avx2.cpp, compiled for AVX2;
// call it only when the processor has AVX2).
bool inverseDctPortable(const std::int32_t* coefficients, const BlockShape& shape,
                        std::int32_t* samples);
bool inverseDctAvx2(const std::int32_t* coefficients, const BlockShape& shape,
                    std::int32_t* samples);

// The kernels in use: the best this processor runs, unless LV_JPEG_KERNELS=portable.
const Kernels& fastKernels();
// Makes fastKernels() give `kernels` (one of availableKernels) from now on; null returns
// to the automatic choice. For tests, which hold every set to the plain path.
void useKernels(const Kernels* kernels);
// Every kernel set this processor can run, the portable one first (for tests).
int availableKernels(const Kernels* const** list);

// Domain of the colour tables: chroma differences from -1024 to 1023.
constexpr std::int32_t kColourTableHalf = 1024;
struct ColourTables {
    std::int16_t blueFromCb[2 * kColourTableHalf];
    std::int16_t greenFromCb[2 * kColourTableHalf];
    std::int16_t greenFromCr[2 * kColourTableHalf];
    std::int16_t redFromCr[2 * kColourTableHalf];
};
const ColourTables& colourTables();

// The tables' products without the tables: for every d of their domain, the truncated
// product of a factor with d is (|d| * multiplier) >> shift, with the sign of d (tested
// for every d); |d| * multiplier stays below 2^31.
struct ColourFactor {
    double factor;
    std::int32_t multiplier;
    int shift;
};
enum { kBlueFromCb, kGreenFromCb, kGreenFromCr, kRedFromCr };
constexpr ColourFactor kColourFactors[4] = {
    {1.772, 58065, 15}, {0.34414, 180429, 19}, {0.71414, 374415, 19}, {1.402, 183763, 17}};

// Chroma terms packed for one look-up per sample: blue (low half) and the Cb part of
// green from Cb, red (low half) and the Cr part of green from Cr.
struct PackedColourTables {
    std::uint32_t fromCb[2 * kColourTableHalf];
    std::uint32_t fromCr[2 * kColourTableHalf];
};
const PackedColourTables& packedTables();

// Row j of an MCU: 16 pixels from samples j of both luma blocks and of Cb and Cr.
void convertRowPortable(const std::int32_t (*samples)[64], int j, std::uint8_t* out);
// True when no luma sample comes within 2^30 of the 32-bit limits: then saturating 16-bit
// sums give the same clamped bytes as the wrapping 32-bit ones (chroma terms are small).
bool lumaBounded(const std::int32_t (*samples)[64]);
bool inverseDctPairAvx2(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                        const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB);
void convertMcuAvx2(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                    bool lumaSmall);

// The largest dequantised coefficient for which the 16-bit vector transform is exact.
constexpr std::uint32_t kVectorIdctLimit = 1096;

} // namespace detail
} // namespace jpeg
