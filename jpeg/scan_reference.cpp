// The scan decoder written as plainly as the format allows: one bit at a time, one row
// at a time, one pixel at a time. It is the yardstick the fast path is held to.
#include "jpeg/scan.h"

namespace jpeg {
namespace detail {

const std::uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

// Signed 32-bit arithmetic that wraps, as the decoder's arithmetic is defined to, without
// undefined behaviour: computed on unsigned values and converted back.
std::int32_t add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
std::int32_t sub(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
std::int32_t mul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
std::int32_t descale(std::int32_t x, std::int32_t rounding, int shift) {
    return add(x, rounding) >> shift; // arithmetic shift
}

// Bits most significant first from 16-bit words; the byte after every 0xFF is skipped.
// Bytes past the end read as zero: the scan fails after such an MCU anyway.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::uint32_t length, std::uint32_t cursor)
        : data_(data), length_(length), cursor_(cursor) {}

    std::uint32_t bit() {
        if (bitsLeft_ == 0) {
            const std::uint32_t high = byte();
            word_ = (high << 8) | byte();
            bitsLeft_ = 16;
        }
        --bitsLeft_;
        return (word_ >> bitsLeft_) & 1;
    }

    std::uint32_t bits(int count) {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i) {
            v = (v << 1) | bit();
        }
        return v;
    }

    std::uint32_t cursor() const { return cursor_; }

private:
    std::uint32_t byte() {
        const std::uint32_t b = cursor_ < length_ ? data_[cursor_] : 0;
        ++cursor_;
        if (b == 0xFF) {
            ++cursor_;
        }
        return b;
    }

    const std::uint8_t* data_;
    std::uint32_t length_;
    std::uint32_t cursor_;
    std::uint32_t word_ = 0;
    int bitsLeft_ = 0;
};

bool decodeSymbol(BitReader& reader, const HuffmanTable& table, std::uint32_t values, int maxBits,
                  const std::uint8_t* data, std::uint32_t& symbol) {
    std::uint32_t code = 0;
    for (int k = 1; k <= maxBits; ++k) {
        code = (code << 1) | reader.bit();
        const HuffmanRow& row = table.rows[k - 1];
        if (row.highest != 0xFFFF && code >= row.lowest && code <= row.highest) {
            symbol = data[values + (row.valueIndex & 0xFF) + code - row.lowest];
            return true;
        }
    }
    return false;
}

std::int32_t extend(std::uint32_t v, int s) {
    if (s > 0 && (v >> (s - 1)) == 0) {
        return static_cast<std::int32_t>(v) - static_cast<std::int32_t>((1u << s) - 1);
    }
    return static_cast<std::int32_t>(v);
}

void idctPass(std::int32_t* c, int stride, std::int32_t rounding, int shift) {
    const std::int32_t c0 = c[0], c1 = c[stride], c2 = c[2 * stride], c3 = c[3 * stride];
    const std::int32_t c4 = c[4 * stride], c5 = c[5 * stride], c6 = c[6 * stride],
                       c7 = c[7 * stride];
    // Even part.
    std::int32_t z1 = mul(add(c2, c6), 4433);
    const std::int32_t t2 = sub(z1, mul(c6, 15137));
    const std::int32_t t3 = add(z1, mul(c2, 6270));
    const std::int32_t t0 = mul(add(c0, c4), 8192);
    const std::int32_t t1 = mul(sub(c0, c4), 8192);
    const std::int32_t e10 = add(t0, t3), e13 = sub(t0, t3);
    const std::int32_t e11 = add(t1, t2), e12 = sub(t1, t2);
    // Odd part.
    std::int32_t o0 = c7, o1 = c5, o2 = c3, o3 = c1;
    z1 = add(o0, o3);
    std::int32_t z2 = add(o1, o2);
    std::int32_t z3 = add(o0, o2);
    std::int32_t z4 = add(o1, o3);
    const std::int32_t z5 = mul(add(z3, z4), 9633);
    o0 = mul(o0, 2446);
    o1 = mul(o1, 16819);
    o2 = mul(o2, 25172);
    o3 = mul(o3, 12299);
    z1 = mul(z1, -7373);
    z2 = mul(z2, -20995);
    z3 = add(mul(z3, -16069), z5);
    z4 = add(mul(z4, -3196), z5);
    o0 = add(o0, add(z1, z3));
    o1 = add(o1, add(z2, z4));
    o2 = add(o2, add(z2, z3));
    o3 = add(o3, add(z1, z4));
    c[0] = descale(add(e10, o3), rounding, shift);
    c[7 * stride] = descale(sub(e10, o3), rounding, shift);
    c[stride] = descale(add(e11, o2), rounding, shift);
    c[6 * stride] = descale(sub(e11, o2), rounding, shift);
    c[2 * stride] = descale(add(e12, o1), rounding, shift);
    c[5 * stride] = descale(sub(e12, o1), rounding, shift);
    c[3 * stride] = descale(add(e13, o0), rounding, shift);
    c[4 * stride] = descale(sub(e13, o0), rounding, shift);
}

} // namespace

void inverseDctReference(std::int32_t block[64]) {
    for (int row = 0; row < 8; ++row) {
        idctPass(block + 8 * row, 1, 1024, 11);
    }
    for (int column = 0; column < 8; ++column) {
        idctPass(block + column, 8, 131072, 18);
    }
}

std::int32_t truncatedProduct(double constant, std::int32_t value) {
    const double product = constant * static_cast<double>(value);
    // Out of range, the processor's truncating conversion gives the "integer indefinite"
    // value; keep that rather than undefined behaviour.
    if (!(product > -2147483649.0 && product < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(product);
}

void convertPixelReference(std::int32_t y, std::int32_t cb, std::int32_t cr, std::uint8_t* bgr) {
    const std::int32_t d1 = sub(cb, 128);
    const std::int32_t d2 = sub(cr, 128);
    const std::int32_t blue = add(y, truncatedProduct(1.772, d1));
    const std::int32_t green =
        sub(sub(y, truncatedProduct(0.34414, d1)), truncatedProduct(0.71414, d2));
    const std::int32_t red = add(y, truncatedProduct(1.402, d2));
    const auto clamp = [](std::int32_t v) -> std::uint8_t {
        return static_cast<std::uint8_t>(v >= 255 ? 255 : v <= 0 ? 0 : v);
    };
    bgr[0] = clamp(blue);
    bgr[1] = clamp(green);
    bgr[2] = clamp(red);
}

DecodeError decodeScanReference(ScanContext& scan) {
    BitReader reader(scan.data, scan.length, scan.cursor);
    std::int32_t* coefficients = scan.coefficients;
    const std::int32_t mcusPerRow = scan.paddedWidth / 16;
    const std::int32_t mcuRows = scan.paddedHeight / 8;
    const std::int32_t rowBytes = scan.paddedWidth * 3;

    for (std::int32_t m = 0; m < mcusPerRow * mcuRows; ++m) {
        for (int b = 0; b < 4; ++b) {
            const int component = b <= 1 ? 0 : b - 1;
            std::int32_t* block = coefficients + 64 * b;
            std::uint32_t symbol = 0;
            if (!decodeSymbol(reader, *scan.dc[component], scan.dcValues[component], 12, scan.data,
                              symbol)) {
                return DecodeError::BadHuffmanCode;
            }
            if (symbol > 16) {
                return DecodeError::DcSizeTooLarge;
            }
            const int size = static_cast<int>(symbol);
            const std::int32_t dc =
                add(extend(reader.bits(size), size), scan.predictors[component]);
            block[0] = dc;
            scan.predictors[component] = dc;
            int k = 1;
            while (k <= 63) {
                if (!decodeSymbol(reader, *scan.ac[component], scan.acValues[component], 16,
                                  scan.data, symbol)) {
                    return DecodeError::BadHuffmanCode;
                }
                const int run = static_cast<int>(symbol >> 4);
                const int s = static_cast<int>(symbol & 15);
                if (run == 0 && s == 0) {
                    for (; k <= 63; ++k) {
                        block[kZigZag[k]] = 0;
                    }
                    break;
                }
                if (run == 15 && s == 0) {
                    if (k + 15 > 63) {
                        return DecodeError::CoefficientOverrun;
                    }
                    for (int i = 0; i < 16; ++i) {
                        block[kZigZag[k++]] = 0;
                    }
                    continue;
                }
                if (k + run > 63) {
                    return DecodeError::CoefficientOverrun;
                }
                for (int i = 0; i < run; ++i) {
                    block[kZigZag[k++]] = 0;
                }
                block[kZigZag[k++]] = extend(reader.bits(s), s);
            }
        }
        for (int b = 0; b < 4; ++b) {
            const int component = b <= 1 ? 0 : b - 1;
            std::int32_t* block = coefficients + 64 * b;
            for (int i = 0; i < 64; ++i) {
                block[i] = mul(block[i], scan.quant[component][i]);
            }
            inverseDctReference(block);
            for (int i = 0; i < 64; ++i) {
                block[i] = add(block[i], 128);
            }
        }
        if (reader.cursor() > scan.length) {
            return DecodeError::TruncatedData;
        }
        const std::int32_t x0 = (m % mcusPerRow) * 16;
        const std::int32_t y0 = (m / mcusPerRow) * 8;
        for (int j = 0; j < 8; ++j) {
            std::uint8_t* out = scan.pixels +
                                static_cast<std::size_t>(scan.paddedHeight - 1 - y0 - j) *
                                    static_cast<std::size_t>(rowBytes) +
                                static_cast<std::size_t>(x0) * 3;
            for (int i = 0; i < 16; ++i) {
                const std::int32_t y = coefficients[(i < 8 ? 0 : 64) + 8 * j + i % 8];
                const std::int32_t cb = coefficients[128 + 8 * j + i / 2];
                const std::int32_t cr = coefficients[192 + 8 * j + i / 2];
                convertPixelReference(y, cb, cr, out + 3 * i);
            }
        }
    }
    scan.cursor = reader.cursor();
    return DecodeError::None;
}

} // namespace detail
} // namespace jpeg
