// The fast path's kernels: portable C++, and SSE2 where the compiler targets it (always on
// x86-64; the 32-bit Windows build assumes it). Every one wraps 32-bit arithmetic exactly as
// the plain path does; the vector forms are used only where 16-bit lanes provably give the
// same 32-bit results, and fall back to the portable forms elsewhere.
#include "jpeg/fast_kernels.h"

#include "jpeg/scan.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define LV_JPEG_SSE2 1
#include <emmintrin.h>
#endif

#if LV_JPEG_SSE2 && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define LV_JPEG_AVX2 1 // fast_kernels_avx2.cpp is compiled for AVX2
#endif

namespace jpeg {
namespace detail {
namespace {

inline std::int32_t add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
inline std::int32_t mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::uint32_t magnitude(std::int32_t v) {
    return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

// One 8-point pass, as the plain path's but over a row-major array with wrap-around.
inline void pass(const std::int32_t* in, int inStride, std::int32_t* out, int outStride,
                 std::int32_t rounding, int shift) {
    const std::int32_t c0 = in[0], c1 = in[inStride], c2 = in[2 * inStride], c3 = in[3 * inStride],
                       c4 = in[4 * inStride], c5 = in[5 * inStride], c6 = in[6 * inStride],
                       c7 = in[7 * inStride];
    const std::int32_t z1 = mul(add(c2, c6), 4433);
    const std::int32_t t2 = sub(z1, mul(c6, 15137));
    const std::int32_t t3 = add(z1, mul(c2, 6270));
    const std::int32_t t0 = mul(add(c0, c4), 8192);
    const std::int32_t t1 = mul(sub(c0, c4), 8192);
    const std::int32_t e10 = add(t0, t3), e13 = sub(t0, t3), e11 = add(t1, t2), e12 = sub(t1, t2);
    const std::int32_t z5 = mul(add(add(c7, c3), add(c5, c1)), 9633);
    const std::int32_t y1 = mul(add(c7, c1), -7373);
    const std::int32_t y2 = mul(add(c5, c3), -20995);
    const std::int32_t y3 = add(mul(add(c7, c3), -16069), z5);
    const std::int32_t y4 = add(mul(add(c5, c1), -3196), z5);
    const std::int32_t o0 = add(mul(c7, 2446), add(y1, y3));
    const std::int32_t o1 = add(mul(c5, 16819), add(y2, y4));
    const std::int32_t o2 = add(mul(c3, 25172), add(y2, y3));
    const std::int32_t o3 = add(mul(c1, 12299), add(y1, y4));
    out[0] = add(add(e10, o3), rounding) >> shift;
    out[7 * outStride] = add(sub(e10, o3), rounding) >> shift;
    out[outStride] = add(add(e11, o2), rounding) >> shift;
    out[6 * outStride] = add(sub(e11, o2), rounding) >> shift;
    out[2 * outStride] = add(add(e12, o1), rounding) >> shift;
    out[5 * outStride] = add(sub(e12, o1), rounding) >> shift;
    out[3 * outStride] = add(add(e13, o0), rounding) >> shift;
    out[4 * outStride] = add(sub(e13, o0), rounding) >> shift;
}

// Rows without coefficients give zeros ((0 + 1024) >> 11), rows with only their first
// coefficient a constant, and a block with only DC one value throughout: no shortcut
// changes a result.
} // namespace

bool inverseDctPortable(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    if (shape.acRows == 0) {
        const std::int32_t row = add(mul(in[0], 8192), 1024) >> 11;
        const std::int32_t value = add(add(mul(row, 8192), 131072) >> 18, 128);
        for (int i = 0; i < 64; ++i) {
            samples[i] = value;
        }
        return false;
    }
    std::int32_t work[64];
    for (int r = 0; r < 8; ++r) {
        const std::int32_t* row = in + 8 * r;
        std::int32_t* out = work + 8 * r;
        if ((shape.acRows >> r & 1) == 0) {
            const std::int32_t value = add(mul(row[0], 8192), 1024) >> 11;
            for (int i = 0; i < 8; ++i) {
                out[i] = value;
            }
        } else {
            pass(row, 1, out, 1, 1024, 11);
        }
    }
    for (int c = 0; c < 8; ++c) {
        pass(work + c, 8, samples + c, 8, 131072, 18);
    }
    for (int i = 0; i < 64; ++i) {
        samples[i] = add(samples[i], 128);
    }
    return false;
}

namespace {

ColourTables buildColourTables() {
    ColourTables t{};
    for (std::int32_t d = -kColourTableHalf; d < kColourTableHalf; ++d) {
        const std::int32_t i = d + kColourTableHalf;
        const auto term = [d](int which) {
            return static_cast<std::int16_t>(truncatedProduct(kColourFactors[which].factor, d));
        };
        t.blueFromCb[i] = term(kBlueFromCb);
        t.greenFromCb[i] = term(kGreenFromCb);
        t.greenFromCr[i] = term(kGreenFromCr);
        t.redFromCr[i] = term(kRedFromCr);
    }
    return t;
}

inline std::uint8_t clampByte(std::int32_t v) {
    return static_cast<std::uint8_t>(v >= 255 ? 255 : v <= 0 ? 0 : v);
}

} // namespace

void convertRowPortable(const std::int32_t (*samples)[64], int j, std::uint8_t* out) {
    const ColourTables& t = colourTables();
    const std::int32_t* cb = samples[2] + 8 * j;
    const std::int32_t* cr = samples[3] + 8 * j;
    for (int i = 0; i < 8; ++i) {
        const std::int32_t d1 = sub(cb[i], 128);
        const std::int32_t d2 = sub(cr[i], 128);
        std::int32_t blue, green, red;
        if (static_cast<std::uint32_t>(d1 + 0u + kColourTableHalf) < 2u * kColourTableHalf &&
            static_cast<std::uint32_t>(d2 + 0u + kColourTableHalf) < 2u * kColourTableHalf) {
            blue = t.blueFromCb[d1 + kColourTableHalf];
            green = t.greenFromCb[d1 + kColourTableHalf] + t.greenFromCr[d2 + kColourTableHalf];
            red = t.redFromCr[d2 + kColourTableHalf];
        } else {
            blue = truncatedProduct(1.772, d1);
            green = add(truncatedProduct(0.34414, d1), truncatedProduct(0.71414, d2));
            red = truncatedProduct(1.402, d2);
        }
        const std::int32_t* luma = samples[i < 4 ? 0 : 1] + 8 * j + 2 * (i & 3);
        for (int p = 0; p < 2; ++p) {
            const std::int32_t y = luma[p];
            std::uint8_t* px = out + 3 * (2 * i + p);
            px[0] = clampByte(add(y, blue));
            px[1] = clampByte(sub(y, green));
            px[2] = clampByte(add(y, red));
        }
    }
}

namespace {

void convertMcuPortable(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                        bool /*lumaSmall*/) {
    for (int j = 0; j < 8; ++j) {
        convertRowPortable(samples, j, top - j * rowBytes);
    }
}

#if LV_JPEG_SSE2

inline void transpose(__m128i* v) {
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

inline __m128i pair(std::int16_t a, std::int16_t b) {
    return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

// One pass over eight 16-bit vectors c[0..7] (lanes independent), giving eight outputs in
// 32-bit halves. Each output is the same linear form of the inputs as the plain pass,
// regrouped into multiply-adds of pairs; with 16-bit inputs the sums are exact modulo 2^32.
struct Halves {
    __m128i lo[8], hi[8];
};

inline void vectorPass(const __m128i* c, __m128i rounding, int shift, Halves& out) {
    const __m128i k26a = pair(10703, 4433), k26b = pair(4433, -10704);
    const __m128i k04a = pair(8192, 8192), k04b = pair(8192, -8192);
    const __m128i k0a = pair(-11363, 2260), k0b = pair(-6436, 9633);
    const __m128i k1a = pair(9633, 6437), k1b = pair(-11362, 2261);
    const __m128i k2a = pair(-6436, 9633), k2b = pair(-2259, -11362);
    const __m128i k3a = pair(2260, 11363), k3b = pair(9633, 6437);
    for (int h = 0; h < 2; ++h) {
        const auto un = [h](__m128i a, __m128i b) {
            return h == 0 ? _mm_unpacklo_epi16(a, b) : _mm_unpackhi_epi16(a, b);
        };
        const __m128i p26 = un(c[2], c[6]), p04 = un(c[0], c[4]);
        const __m128i p71 = un(c[7], c[1]), p35 = un(c[3], c[5]);
        const __m128i t3 = _mm_madd_epi16(p26, k26a), t2 = _mm_madd_epi16(p26, k26b);
        const __m128i t0 = _mm_madd_epi16(p04, k04a), t1 = _mm_madd_epi16(p04, k04b);
        const __m128i e10 = _mm_add_epi32(t0, t3), e13 = _mm_sub_epi32(t0, t3);
        const __m128i e11 = _mm_add_epi32(t1, t2), e12 = _mm_sub_epi32(t1, t2);
        const __m128i o0 = _mm_add_epi32(_mm_madd_epi16(p71, k0a), _mm_madd_epi16(p35, k0b));
        const __m128i o1 = _mm_add_epi32(_mm_madd_epi16(p71, k1a), _mm_madd_epi16(p35, k1b));
        const __m128i o2 = _mm_add_epi32(_mm_madd_epi16(p71, k2a), _mm_madd_epi16(p35, k2b));
        const __m128i o3 = _mm_add_epi32(_mm_madd_epi16(p71, k3a), _mm_madd_epi16(p35, k3b));
        __m128i* o = h == 0 ? out.lo : out.hi;
        const auto d = [&](__m128i x) { return _mm_srai_epi32(_mm_add_epi32(x, rounding), shift); };
        o[0] = d(_mm_add_epi32(e10, o3));
        o[7] = d(_mm_sub_epi32(e10, o3));
        o[1] = d(_mm_add_epi32(e11, o2));
        o[6] = d(_mm_sub_epi32(e11, o2));
        o[2] = d(_mm_add_epi32(e12, o1));
        o[5] = d(_mm_sub_epi32(e12, o1));
        o[3] = d(_mm_add_epi32(e13, o0));
        o[4] = d(_mm_sub_epi32(e13, o0));
    }
}

// With every coefficient at most kVectorIdctLimit in magnitude, no sum of either pass
// leaves 32 bits and every row-pass output fits 16 bits, so packing loses nothing.
bool inverseDctSse2(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    if (shape.acRows == 0) {
        inverseDctPortable(in, shape, samples);
        return magnitude(in[0]) <= kVectorIdctLimit;
    }
    __m128i v[8];
    for (int r = 0; r < 8; ++r) {
        const __m128i* row = reinterpret_cast<const __m128i*>(in + 8 * r);
        v[r] = _mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1));
    }
    // Saturated packing keeps every coefficient beyond the limit beyond it.
    __m128i highest = v[0], lowest = v[0];
    for (int r = 1; r < 8; ++r) {
        highest = _mm_max_epi16(highest, v[r]);
        lowest = _mm_min_epi16(lowest, v[r]);
    }
    const auto limit = static_cast<short>(kVectorIdctLimit);
    const __m128i outside =
        _mm_or_si128(_mm_cmpgt_epi16(highest, _mm_set1_epi16(limit)),
                     _mm_cmplt_epi16(lowest, _mm_set1_epi16(static_cast<short>(-limit))));
    if (_mm_movemask_epi8(outside) != 0) {
        inverseDctPortable(in, shape, samples);
        return false;
    }
    transpose(v); // lanes: rows; v[k]: coefficient k of each row
    Halves h;
    vectorPass(v, _mm_set1_epi32(1024), 11, h);
    for (int u = 0; u < 8; ++u) {
        v[u] = _mm_packs_epi32(h.lo[u], h.hi[u]);
    }
    transpose(v); // lanes: columns; v[r]: row r of the row pass
    vectorPass(v, _mm_set1_epi32(131072), 18, h);
    const __m128i bias = _mm_set1_epi32(128);
    for (int r = 0; r < 8; ++r) {
        __m128i* out = reinterpret_cast<__m128i*>(samples + 8 * r);
        _mm_storeu_si128(out, _mm_add_epi32(h.lo[r], bias));
        _mm_storeu_si128(out + 1, _mm_add_epi32(h.hi[r], bias));
    }
    return true;
}

// Four BGRx pixels to their 12 BGR bytes (the last 4 bytes zero).
inline __m128i compact(__m128i p) {
    const __m128i even = _mm_and_si128(p, _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF));
    const __m128i odd =
        _mm_srli_epi64(_mm_and_si128(p, _mm_set_epi32(0x00FFFFFF, 0, 0x00FFFFFF, 0)), 8);
    const __m128i both = _mm_or_si128(even, odd); // 6 bytes in each 64-bit half
    const __m128i low = _mm_and_si128(both, _mm_set_epi32(0, 0, 0x0000FFFF, -1));
    const __m128i high = _mm_and_si128(_mm_srli_si128(both, 2),
                                       _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0));
    return _mm_or_si128(low, high);
}

inline __m128i load16(const std::int32_t* p) {
    return _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
}

} // namespace

bool lumaBounded(const std::int32_t (*samples)[64]) {
    __m128i acc = _mm_setzero_si128();
    const __m128i quarter = _mm_set1_epi32(0x40000000);
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 64; i += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples[b] + i));
            acc = _mm_or_si128(acc, _mm_add_epi32(v, quarter)); // sign bit set: outside
        }
    }
    return _mm_movemask_ps(_mm_castsi128_ps(acc)) == 0;
}

namespace {

void convertMcuSse2(const std::int32_t (*samples)[64], std::uint8_t* top, std::size_t rowBytes,
                    bool lumaSmall) {
    if (!lumaSmall && !lumaBounded(samples)) {
        convertMcuPortable(samples, top, rowBytes, false);
        return;
    }
    const PackedColourTables& t = packedTables();
    const __m128i zero = _mm_setzero_si128();
    for (int j = 0; j < 8; ++j) {
        const std::int32_t* cb = samples[2] + 8 * j;
        const std::int32_t* cr = samples[3] + 8 * j;
        // All 16 chroma samples inside the tables? (unsigned: index below 2048)
        const __m128i offset = _mm_set1_epi32(kColourTableHalf - 128);
        const __m128i any = _mm_or_si128(
            _mm_or_si128(
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb)), offset),
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + 4)), offset)),
            _mm_or_si128(
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr)), offset),
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + 4)), offset)));
        std::uint8_t* out = top - j * rowBytes;
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(any, 11), zero)) != 0xFFFF) {
            convertRowPortable(samples, j, out); // a chroma sample beyond the tables
            continue;
        }
        const auto look = [](const std::uint32_t* table, const std::int32_t* s) {
            const int o = kColourTableHalf - 128;
            return _mm_set_epi32(
                static_cast<int>(table[s[3] + o]), static_cast<int>(table[s[2] + o]),
                static_cast<int>(table[s[1] + o]), static_cast<int>(table[s[0] + o]));
        };
        const __m128i cb0 = look(t.fromCb, cb), cb1 = look(t.fromCb, cb + 4);
        const __m128i cr0 = look(t.fromCr, cr), cr1 = look(t.fromCr, cr + 4);
        const auto lowHalves = [](__m128i a, __m128i b) {
            return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                                   _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
        };
        const auto highHalves = [](__m128i a, __m128i b) {
            return _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
        };
        const __m128i blue = lowHalves(cb0, cb1);
        const __m128i red = lowHalves(cr0, cr1);
        const __m128i green = _mm_add_epi16(highHalves(cb0, cb1), highHalves(cr0, cr1));
        const __m128i y0 = load16(samples[0] + 8 * j);
        const __m128i y1 = load16(samples[1] + 8 * j);
        const __m128i b8 = _mm_packus_epi16(_mm_adds_epi16(y0, _mm_unpacklo_epi16(blue, blue)),
                                            _mm_adds_epi16(y1, _mm_unpackhi_epi16(blue, blue)));
        const __m128i g8 = _mm_packus_epi16(_mm_subs_epi16(y0, _mm_unpacklo_epi16(green, green)),
                                            _mm_subs_epi16(y1, _mm_unpackhi_epi16(green, green)));
        const __m128i r8 = _mm_packus_epi16(_mm_adds_epi16(y0, _mm_unpacklo_epi16(red, red)),
                                            _mm_adds_epi16(y1, _mm_unpackhi_epi16(red, red)));
        const __m128i bgLo = _mm_unpacklo_epi8(b8, g8), bgHi = _mm_unpackhi_epi8(b8, g8);
        const __m128i rLo = _mm_unpacklo_epi8(r8, zero), rHi = _mm_unpackhi_epi8(r8, zero);
        const __m128i p0 = compact(_mm_unpacklo_epi16(bgLo, rLo));
        const __m128i p1 = compact(_mm_unpackhi_epi16(bgLo, rLo));
        const __m128i p2 = compact(_mm_unpacklo_epi16(bgHi, rHi));
        const __m128i p3 = compact(_mm_unpackhi_epi16(bgHi, rHi));
        // Overlapping stores, each next one overwriting the 4 zero bytes of the one before;
        // the last stays within the MCU's 48 bytes.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), p0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), p1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), p2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 36), p3);
        const int last = _mm_cvtsi128_si32(_mm_srli_si128(p3, 8));
        std::memcpy(out + 44, &last, 4);
    }
}

#endif

bool inverseDctPairPortable(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                            const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB) {
    inverseDctPortable(a, shapeA, outA);
    inverseDctPortable(b, shapeB, outB);
    return false;
}

const Kernels kPortable = {"portable", inverseDctPortable, inverseDctPairPortable,
                           convertMcuPortable};
#if LV_JPEG_SSE2
bool inverseDctPairSse2(const std::int32_t* a, const BlockShape& shapeA, std::int32_t* outA,
                        const std::int32_t* b, const BlockShape& shapeB, std::int32_t* outB) {
    const bool smallA = inverseDctSse2(a, shapeA, outA);
    return inverseDctSse2(b, shapeB, outB) && smallA;
}

const Kernels kSse2 = {"sse2", inverseDctSse2, inverseDctPairSse2, convertMcuSse2};
#if LV_JPEG_AVX2
const Kernels kAvx2 = {"avx2", inverseDctAvx2, inverseDctPairAvx2, convertMcuAvx2};
#endif
const Kernels* const kAll[] = {&kPortable, &kSse2
#if LV_JPEG_AVX2
                               ,
                               &kAvx2
#endif
};
#else
const Kernels* const kAll[] = {&kPortable};
#endif

bool runs(const Kernels& k) {
#if LV_JPEG_AVX2
    if (&k == &kAvx2) {
        return __builtin_cpu_supports("avx2");
    }
#endif
    (void)k;
    return true;
}

// The kernel set LV_JPEG_KERNELS names if this processor runs it, else the last (best) one
// it runs.
const Kernels& chooseKernels() {
    const int count = static_cast<int>(sizeof kAll / sizeof kAll[0]);
    const char* forced = std::getenv("LV_JPEG_KERNELS");
    if (forced != nullptr && forced[0] != '\0') {
        for (int i = 0; i < count; ++i) {
            if (std::strcmp(forced, kAll[i]->name) == 0 && runs(*kAll[i])) {
                return *kAll[i];
            }
        }
    }
    for (int i = count - 1; i > 0; --i) {
        if (runs(*kAll[i])) {
            return *kAll[i];
        }
    }
    return kPortable;
}

const Kernels* runnable[sizeof kAll / sizeof kAll[0]];

} // namespace

static PackedColourTables buildPackedTables() {
    const ColourTables& t = colourTables();
    PackedColourTables p{};
    for (int i = 0; i < 2 * kColourTableHalf; ++i) {
        p.fromCb[i] = static_cast<std::uint16_t>(t.blueFromCb[i]) |
                      static_cast<std::uint32_t>(static_cast<std::uint16_t>(t.greenFromCb[i]))
                          << 16;
        p.fromCr[i] = static_cast<std::uint16_t>(t.redFromCr[i]) |
                      static_cast<std::uint32_t>(static_cast<std::uint16_t>(t.greenFromCr[i]))
                          << 16;
    }
    return p;
}

const PackedColourTables& packedTables() {
    static const PackedColourTables tables = buildPackedTables();
    return tables;
}

const ColourTables& colourTables() {
    static const ColourTables tables = buildColourTables();
    return tables;
}

namespace {
const Kernels* forcedKernels = nullptr;
}

const Kernels& fastKernels() {
    static const Kernels& chosen = chooseKernels();
    return forcedKernels != nullptr ? *forcedKernels : chosen;
}

void useKernels(const Kernels* kernels) {
    forcedKernels = kernels;
}

int availableKernels(const Kernels* const** list) {
    int n = 0;
    for (const Kernels* k : kAll) {
        if (runs(*k)) {
            runnable[n++] = k;
        }
    }
    *list = runnable;
    return n;
}

} // namespace detail
} // namespace jpeg
