// The inverse DCT with AVX2: the SSE2 transform of fast_kernels.cpp with both 4-lane
// halves in one 256-bit register. This file alone is compiled for AVX2, and everything in
// it but the entry point has internal linkage, so no AVX2 code leaks into other callers.
#include "jpeg/fast_kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace jpeg {
namespace detail {
namespace {

void transpose(__m128i* v) {
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

__m256i interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                   _mm_unpackhi_epi16(a, b), 1);
}

__m256i pair(std::int16_t a, std::int16_t b) {
    return _mm256_set1_epi32(
        static_cast<int>(static_cast<std::uint16_t>(a) |
                         static_cast<std::uint32_t>(static_cast<std::uint16_t>(b)) << 16));
}

__m256i descale(__m256i x, __m256i rounding, int shift) {
    return _mm256_srai_epi32(_mm256_add_epi32(x, rounding), shift);
}

void pass(const __m128i* c, __m256i rounding, int shift, __m256i* out) {
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

} // namespace

void inverseDctAvx2(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    if (shape.acRows == 0 || shape.largest > kVectorIdctLimit) {
        inverseDctPortable(in, shape, samples);
        return;
    }
    __m128i v[8];
    for (int r = 0; r < 8; ++r) {
        const __m128i* row = reinterpret_cast<const __m128i*>(in + 8 * r);
        v[r] = _mm_packs_epi32(_mm_loadu_si128(row), _mm_loadu_si128(row + 1));
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
}

} // namespace detail
} // namespace jpeg

#else

namespace jpeg {
namespace detail {
// Never chosen where AVX2 is not compiled in.
void inverseDctAvx2(const std::int32_t* in, const BlockShape& shape, std::int32_t* samples) {
    inverseDctPortable(in, shape, samples);
}
} // namespace detail
} // namespace jpeg

#endif
