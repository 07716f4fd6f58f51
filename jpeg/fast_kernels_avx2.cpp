// The inverse DCT with AVX2: the SSE2 transform of fast_kernels.cpp with both 4-lane
// halves in one 256-bit register. This file alone is compiled for AVX2, and everything in
// it but the entry point has internal linkage, so no AVX2 code leaks into other callers.
#include "jpeg/fast_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

#if defined(_MSC_VER)
#define LV_ALWAYS_INLINE __forceinline
#else
#define LV_ALWAYS_INLINE inline __attribute__((always_inline))
#endif

namespace jpeg {
namespace detail {
namespace {

constexpr short kLimit16 = static_cast<short>(kVectorIdctLimit);

LV_ALWAYS_INLINE void transpose(__m128i* v) {
    const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
    const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
    const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
    const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    v[0] = _mm_unpacklo_epi64(b0, b4);
    v[1] = _mm_unpackhi_epi64(b0, b4);
    v[2] = _mm_unpacklo_epi64(b1, b5);
    v[3] = _mm_unpackhi_epi64(b1, b5);
    v[4] = _mm_unpacklo_epi64(b2, b6);
    v[5] = _mm_unpackhi_epi64(b2, b6);
    v[6] = _mm_unpacklo_epi64(b3, b7);
    v[7] = _mm_unpackhi_epi64(b3, b7);
}

LV_ALWAYS_INLINE __m256i interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                   _mm_unpackhi_epi16(a, b), 1);
}

LV_ALWAYS_INLINE __m256i pair(std::int16_t a, std::int16_t b) {
    return _mm256_set1_epi32(
        static_cast<int>(static_cast<std::uint16_t>(a) |
                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

LV_ALWAYS_INLINE __m256i descale(__m256i x, __m256i rounding, int shift) {
    return _mm256_srai_epi32(_mm256_add_epi32(x, rounding), shift);
}

LV_ALWAYS_INLINE void pass(const __m128i* c, __m256i rounding, int shift, __m256i* out) {
    const __m256i p26 = interleave(c[2], c[6]), p04 = interleave(c[0], c[4]);
    const __m256i p71 = interleave(c[7], c[1]), p35 = interleave(c[3], c[5]);
    const __m256i t3 = _mm256_madd_epi16(p26, pair(10703, 4433));
    const __m256i t2 = _mm256_madd_epi16(p26, pair(4433, -10704));
    const __m256i t0 = _mm256_madd_epi16(p04, pair(8192, 8192));
    const __m256i t1 = _mm256_madd_epi16(p04, pair(8192, -8192));
    const __m256i e10 = _mm256_add_epi32(t0, t3), e13 = _mm256_sub_epi32(t0, t3);
    const __m256i e11 = _mm256_add_epi32(t1, t2), e12 = _mm256_sub_epi32(t1, t2);
    const __m256i o0 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(-11363, 2260)),
                                        _mm256_madd_epi16(p35, pair(-6436, 9633)));
    const __m256i o1 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(9633, 6437)),
                                        _mm256_madd_epi16(p35, pair(-11362, 2261)));
    const __m256i o2 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(-6436, 9633)),
                                        _mm256_madd_epi16(p35, pair(-2259, -11362)));
    const __m256i o3 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(2260, 11363)),
                                        _mm256_madd_epi16(p35, pair(9633, 6437)));
    out[0] = descale(_mm256_add_epi32(e10, o3), rounding, shift);
    out[7] = descale(_mm256_sub_epi32(e10, o3), rounding, shift);
    out[1] = descale(_mm256_add_epi32(e11, o2), rounding, shift);
    out[6] = descale(_mm256_sub_epi32(e11, o2), rounding, shift);
    out[2] = descale(_mm256_add_epi32(e12, o1), rounding, shift);
    out[5] = descale(_mm256_sub_epi32(e12, o1), rounding, shift);
    out[3] = descale(_mm256_add_epi32(e13, o0), rounding, shift);
    out[4] = descale(_mm256_sub_epi32(e13, o0), rounding, shift);
}

// Two blocks at once: each 256-bit register holds the same row of both, and every
// instruction of the SSE2 transform works within 128-bit lanes, so this is that
// transform, block by block, at half the instructions.
LV_ALWAYS_INLINE void transpose2(__m256i* v) {
    const __m256i a0 = _mm256_unpacklo_epi16(v[0], v[1]), a1 = _mm256_unpackhi_epi16(v[0], v[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(v[2], v[3]), a3 = _mm256_unpackhi_epi16(v[2], v[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(v[4], v[5]), a5 = _mm256_unpackhi_epi16(v[4], v[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(v[6], v[7]), a7 = _mm256_unpackhi_epi16(v[6], v[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    v[0] = _mm256_unpacklo_epi64(b0, b4);
    v[1] = _mm256_unpackhi_epi64(b0, b4);
    v[2] = _mm256_unpacklo_epi64(b1, b5);
    v[3] = _mm256_unpackhi_epi64(b1, b5);
    v[4] = _mm256_unpacklo_epi64(b2, b6);
    v[5] = _mm256_unpackhi_epi64(b2, b6);
    v[6] = _mm256_unpacklo_epi64(b3, b7);
    v[7] = _mm256_unpackhi_epi64(b3, b7);
}

// One pass over both blocks; lo[u] holds lanes 0-3 and hi[u] lanes 4-7 of each block.
LV_ALWAYS_INLINE void pass2(const __m256i* c, __m256i rounding, int shift, __m256i* lo,
                            __m256i* hi) {
    for (int h = 0; h < 2; ++h) {
        __m256i p26, p04, p71, p35;
        if (h == 0) {
            p26 = _mm256_unpacklo_epi16(c[2], c[6]);
            p04 = _mm256_unpacklo_epi16(c[0], c[4]);
            p71 = _mm256_unpacklo_epi16(c[7], c[1]);
            p35 = _mm256_unpacklo_epi16(c[3], c[5]);
        } else {
            p26 = _mm256_unpackhi_epi16(c[2], c[6]);
            p04 = _mm256_unpackhi_epi16(c[0], c[4]);
            p71 = _mm256_unpackhi_epi16(c[7], c[1]);
            p35 = _mm256_unpackhi_epi16(c[3], c[5]);
        }
        const __m256i t3 = _mm256_madd_epi16(p26, pair(10703, 4433));
        const __m256i t2 = _mm256_madd_epi16(p26, pair(4433, -10704));
        const __m256i t0 = _mm256_madd_epi16(p04, pair(8192, 8192));
        const __m256i t1 = _mm256_madd_epi16(p04, pair(8192, -8192));
        const __m256i e10 = _mm256_add_epi32(t0, t3), e13 = _mm256_sub_epi32(t0, t3);
        const __m256i e11 = _mm256_add_epi32(t1, t2), e12 = _mm256_sub_epi32(t1, t2);
        const __m256i o0 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(-11363, 2260)),
                                            _mm256_madd_epi16(p35, pair(-6436, 9633)));
        const __m256i o1 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(9633, 6437)),
                                            _mm256_madd_epi16(p35, pair(-11362, 2261)));
        const __m256i o2 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(-6436, 9633)),
                                            _mm256_madd_epi16(p35, pair(-2259, -11362)));
        const __m256i o3 = _mm256_add_epi32(_mm256_madd_epi16(p71, pair(2260, 11363)),
                                            _mm256_madd_epi16(p35, pair(9633, 6437)));
        __m256i* out = h == 0 ? lo : hi;
        out[0] = descale(_mm256_add_epi32(e10, o3), rounding, shift);
        out[7] = descale(_mm256_sub_epi32(e10, o3), rounding, shift);
        out[1] = descale(_mm256_add_epi32(e11, o2), rounding, shift);
        out[6] = descale(_mm256_sub_epi32(e11, o2), rounding, shift);
        out[2] = descale(_mm256_add_epi32(e12, o1), rounding, shift);
        out[5] = descale(_mm256_sub_epi32(e12, o1), rounding, shift);
        out[3] = descale(_mm256_add_epi32(e13, o0), rounding, shift);
        out[4] = descale(_mm256_sub_epi32(e13, o0), rounding, shift);
    }
}

} // namespace

bool inverseDctAvx2(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    if (shape.acRows == 0) {
        inverseDctPortable(in, shape, samples);
        return (in[0] < 0 ? 0u - static_cast<std::uint32_t>(in[0])
                          : static_cast<std::uint32_t>(in[0])) <= kVectorIdctLimit;
    }
    __m128i v[8];
    for (int r = 0; r < 8; ++r) {
        const __m128i* row = reinterpret_cast<const __m128i*>(in + 8 * r);
        v[r] = _mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1));
    }
    // Saturated packing keeps every coefficient beyond the limit beyond it.
    __m128i largest = _mm_abs_epi16(v[0]);
    for (int r = 1; r < 8; ++r) {
        largest = _mm_max_epu16(largest, _mm_abs_epi16(v[r])); // |-32768| is 32768 unsigned
    }
    const __m128i over = _mm_subs_epu16(largest, _mm_set1_epi16(kLimit16));
    if (!_mm_testz_si128(over, over)) {
        inverseDctPortable(in, shape, samples);
        return false;
    }
    transpose(v);
    __m256i out[8];
    pass(v, _mm256_set1_epi32(1024), 11, out);
    for (int u = 0; u < 8; ++u) {
        v[u] = _mm_packs_epi32(_mm256_castsi256_si128(out[u]), _mm256_extracti128_si256(out[u], 1));
    }
    transpose(v);
    pass(v, _mm256_set1_epi32(131072), 18, out);
    const __m256i bias = _mm256_set1_epi32(128);
    for (int r = 0; r < 8; ++r) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 8 * r),
                            _mm256_add_epi32(out[r], bias));
    }
    return true;
}

bool inverseDctPairAvx2(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                        const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB) {
    // A DC-only block has its shortcut; a pair is worth it only when both need the transform.
    if (shapeA.acRows == 0 || shapeB.acRows == 0) {
        const bool smallA = inverseDctAvx2(a, shapeA, outA);
        return inverseDctAvx2(b, shapeB, outB) && smallA;
    }
    const auto halves = [](const std::int32_t* x, const std::int32_t* y) {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(y)), 1);
    };
    __m256i v[8];
    for (int r = 0; r < 8; ++r) {
        v[r] =
            _mm256_packs_epi32(halves(a + 8 * r, b + 8 * r), halves(a + 8 * r + 4, b + 8 * r + 4));
    }
    // Row r of a in the low lane, of b in the high one; checked as in inverseDctAvx2.
    __m256i largest = _mm256_abs_epi16(v[0]);
    for (int r = 1; r < 8; ++r) {
        largest = _mm256_max_epu16(largest, _mm256_abs_epi16(v[r]));
    }
    const __m256i over = _mm256_subs_epu16(largest, _mm256_set1_epi16(kLimit16));
    if (!_mm256_testz_si256(over, over)) {
        const bool smallA = inverseDctAvx2(a, shapeA, outA);
        return inverseDctAvx2(b, shapeB, outB) && smallA;
    }
    transpose2(v);
    __m256i lo[8], hi[8];
    pass2(v, _mm256_set1_epi32(1024), 11, lo, hi);
    for (int u = 0; u < 8; ++u) {
        v[u] = _mm256_packs_epi32(lo[u], hi[u]);
    }
    transpose2(v);
    pass2(v, _mm256_set1_epi32(131072), 18, lo, hi);
    const __m256i bias = _mm256_set1_epi32(128);
    for (int r = 0; r < 8; ++r) {
        const __m256i l = _mm256_add_epi32(lo[r], bias), h = _mm256_add_epi32(hi[r], bias);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outA + 8 * r),
                            _mm256_permute2x128_si256(l, h, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(outB + 8 * r),
                            _mm256_permute2x128_si256(l, h, 0x31));
    }
    return true;
}

namespace {
// The truncated product of colour factor `kFactor` with each difference d (|d| = magnitude).
template <int kFactor> LV_ALWAYS_INLINE __m256i product(__m256i d, __m256i magnitude) {
    constexpr ColourFactor f = kColourFactors[kFactor];
    return _mm256_sign_epi32(
        _mm256_srli_epi32(_mm256_mullo_epi32(magnitude, _mm256_set1_epi32(f.multiplier)), f.shift),
        d);
}
} // namespace

// Colour conversion as convertMcuSse2, with the BGR interleave done by byte shuffles.
void convertMcuAvx2(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                    bool lumaSmall) {
    if (!lumaSmall && !lumaBounded(samples)) {
        for (int j = 0; j < 8; ++j) {
            convertRowPortable(samples, j, top - j * rowBytes);
        }
        return;
    }
    // Byte g of a row's 48 output bytes is channel g % 3 of pixel g / 3; both 128-bit lanes
    // use the same masks, one lane per row.
    static const struct Masks {
        __m256i m[3][3]; // [output chunk][channel]
        Masks() {
            alignas(16) std::int8_t bytes[16];
            for (int c = 0; c < 3; ++c) {
                for (int ch = 0; ch < 3; ++ch) {
                    for (int i = 0; i < 16; ++i) {
                        const int g = 16 * c + i;
                        bytes[i] = static_cast<std::int8_t>(g % 3 == ch ? g / 3 : -128);
                    }
                    m[c][ch] = _mm256_broadcastsi128_si256(
                        _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
                }
            }
        }
    } masks;
    const __m256i centre = _mm256_set1_epi32(128);
    const __m256i half = _mm256_set1_epi32(kColourTableHalf);
    const __m256i outside = _mm256_set1_epi32(~(2 * kColourTableHalf - 1));
    // 8 int32 of row j and 8 of row j + 1 to 16 int16: row j in the low lane.
    const auto rows16 = [](__m256i a, __m256i b) {
        return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    };
    for (int j = 0; j < 8; j += 2) {
        const auto load = [&](int block, int row) {
            return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples[block] + 8 * row));
        };
        const __m256i cb0 = _mm256_sub_epi32(load(2, j), centre);
        const __m256i cb1 = _mm256_sub_epi32(load(2, j + 1), centre);
        const __m256i cr0 = _mm256_sub_epi32(load(3, j), centre);
        const __m256i cr1 = _mm256_sub_epi32(load(3, j + 1), centre);
        if (!_mm256_testz_si256(
                _mm256_or_si256(
                    _mm256_or_si256(_mm256_add_epi32(cb0, half), _mm256_add_epi32(cb1, half)),
                    _mm256_or_si256(_mm256_add_epi32(cr0, half), _mm256_add_epi32(cr1, half))),
                outside)) {
            // A chroma difference beyond the tables' domain.
            convertRowPortable(samples, j, top - j * rowBytes);
            convertRowPortable(samples, j + 1, top - (j + 1) * rowBytes);
            continue;
        }
        // The tables' products by multiplication (kColourFactors), cheaper than gathers.
        const __m256i mb0 = _mm256_abs_epi32(cb0), mb1 = _mm256_abs_epi32(cb1);
        const __m256i mr0 = _mm256_abs_epi32(cr0), mr1 = _mm256_abs_epi32(cr1);
        const __m256i blue = rows16(product<kBlueFromCb>(cb0, mb0), product<kBlueFromCb>(cb1, mb1));
        const __m256i red = rows16(product<kRedFromCr>(cr0, mr0), product<kRedFromCr>(cr1, mr1));
        const __m256i green = rows16(
            _mm256_add_epi32(product<kGreenFromCb>(cb0, mb0), product<kGreenFromCr>(cr0, mr0)),
            _mm256_add_epi32(product<kGreenFromCb>(cb1, mb1), product<kGreenFromCr>(cr1, mr1)));
        const __m256i y0 = rows16(load(0, j), load(0, j + 1));
        const __m256i y1 = rows16(load(1, j), load(1, j + 1));
        const __m256i b8 =
            _mm256_packus_epi16(_mm256_adds_epi16(y0, _mm256_unpacklo_epi16(blue, blue)),
                                _mm256_adds_epi16(y1, _mm256_unpackhi_epi16(blue, blue)));
        const __m256i g8 =
            _mm256_packus_epi16(_mm256_subs_epi16(y0, _mm256_unpacklo_epi16(green, green)),
                                _mm256_subs_epi16(y1, _mm256_unpackhi_epi16(green, green)));
        const __m256i r8 =
            _mm256_packus_epi16(_mm256_adds_epi16(y0, _mm256_unpacklo_epi16(red, red)),
                                _mm256_adds_epi16(y1, _mm256_unpackhi_epi16(red, red)));
        std::uint8_t* first = top - j * rowBytes;
        std::uint8_t* second = top - (j + 1) * rowBytes;
        for (int c = 0; c < 3; ++c) {
            const __m256i chunk =
                _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b8, masks.m[c][0]),
                                                _mm256_shuffle_epi8(g8, masks.m[c][1])),
                                _mm256_shuffle_epi8(r8, masks.m[c][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(first + 16 * c),
                             _mm256_castsi256_si128(chunk));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(second + 16 * c),
                             _mm256_extracti128_si256(chunk, 1));
        }
    }
}

} // namespace detail
} // namespace jpeg

#else

namespace jpeg {
namespace detail {
// Never chosen where AVX2 is not compiled in.
bool inverseDctAvx2(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    return inverseDctPortable(in, shape, samples);
}
void convertMcuAvx2(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                    bool /*lumaSmall*/) {
    for (int j = 0; j < 8; ++j) {
        convertRowPortable(samples, j, top - j * rowBytes);
    }
}
bool inverseDctPairAvx2(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                        const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB) {
    inverseDctPortable(a, shapeA, outA);
    return inverseDctPortable(b, shapeB, outB);
}
} // namespace detail
} // namespace jpeg

#endif
