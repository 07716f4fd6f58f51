// The scan decoder made fast, byte for byte the same as the plain one on every input:
//  - Huffman codes of up to 9 bits (11 in big pictures) in one table look-up, with the
//    value bits that follow when they fit too, built by running the plain
//    bit-by-bit search over every prefix, so odd and overfull tables agree too;
//  - bits from a 64-bit buffer, while remembering where the plain reader's cursor would
//    stand (it never reads more than one 16-bit word ahead), for the truncation check and
//    for file mode, which carries on from there;
//  - the inverse DCT skips zero rows and DC-only blocks (exactly: their outputs are
//    constant) and uses SSE2/AVX2 multiply-adds when the coefficients, which the kernel
//    checks, are small enough for 16-bit lanes to give the 32-bit results exactly;
//  - colour conversion through tables of the truncated double products (or, with AVX2,
//    multiplications that give the same values).
#include "jpeg/fast_kernels.h"
#include "jpeg/scan.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace jpeg {
namespace detail {
namespace {

// Bits looked at at once: more for big pictures, where the larger tables pay for their
// building.
template <int kLookahead> struct FastTable {
    std::uint16_t lookup[1 << kLookahead]; // (length << 8) | symbol; 0: longer or no code
    // AC tables: a code and its value bits together within the look-ahead, as
    // (value << 16) | (no value: 0x1000) | (run << 8) | bits used; 0 when they do not fit.
    std::int32_t withValue[1 << kLookahead];
    const HuffmanRow* rows;
    const std::uint8_t* values;
    int maxBits;
};

// The table gives, for every prefix, what the plain bit-by-bit search finds within the
// look-ahead: the shortest length whose row holds the prefix's first bits. Filling the
// codes of each length, longest first, lets shorter matches overwrite longer ones, which
// keeps that rule for odd and overfull tables too.
template <int kLookahead>
void buildTable(FastTable<kLookahead>& t, const HuffmanTable& table, const std::uint8_t* values,
                int maxBits) {
    t.rows = table.rows;
    t.values = values;
    t.maxBits = maxBits;
    std::memset(t.lookup, 0, sizeof t.lookup);
    std::memset(t.withValue, 0, sizeof t.withValue);
    for (int k = std::min(kLookahead, maxBits); k >= 1; --k) {
        const HuffmanRow& row = table.rows[k - 1];
        if (row.highest == 0xFFFF) {
            continue;
        }
        const std::uint32_t last = std::min<std::uint32_t>(row.highest, (1u << k) - 1);
        const int free = kLookahead - k;
        for (std::uint32_t code = row.lowest; code <= last; ++code) {
            const std::uint8_t symbol = values[(row.valueIndex & 0xFF) + code - row.lowest];
            const int run = symbol >> 4;
            const int size = symbol & 15;
            for (std::uint32_t rest = 0; rest < (1u << free); ++rest) {
                const std::uint32_t prefix = code << free | rest;
                t.lookup[prefix] = static_cast<std::uint16_t>(k << 8 | symbol);
                std::int32_t quick = 0;
                if (size == 0) {
                    quick = 0x1000 | run << 8 | k; // end of block or a run of zeros
                } else if (size <= free) {
                    const std::uint32_t bits = rest >> (free - size);
                    const std::int32_t value =
                        (bits >> (size - 1)) != 0
                            ? static_cast<std::int32_t>(bits)
                            : static_cast<std::int32_t>(bits) - ((1 << size) - 1);
                    quick = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 16) |
                            run << 8 | (k + size);
                }
                t.withValue[prefix] = quick;
            }
        }
    }
}

// State kept in 64-bit (size_t) fields: the coefficient stores, through an int32 pointer,
// may then not alias it and the compiler keeps it in registers.
class Bits {
public:
    Bits(const std::uint8_t* data, std::uint32_t length, std::uint32_t cursor)
        : data_(data), length_(length), cursor_(cursor), start_(cursor) {}

    // At least 49 bits in the buffer afterwards.
    void fill() {
        if (length_ - std::min(cursor_, length_) >= 16) { // four words, each with stuffing
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_M_IX86) ||  \
    defined(_M_X64)
            // Whole words at once when none of their bytes is 0xFF (little-endian load).
            std::uint64_t ahead;
            std::memcpy(&ahead, data_ + cursor_, 8);
            const std::uint64_t inverted = ~ahead;
            const std::size_t words = (64 - bits_) / 16;
            const std::uint64_t mask =
                words >= 4 ? ~std::uint64_t{0} : (std::uint64_t{1} << (16 * words)) - 1;
            if ((((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) & mask) ==
                0) {
                // Bytes in memory order, first byte most significant.
                std::uint64_t be = 0;
                for (int i = 0; i < 8; ++i) {
                    be = be << 8 | (ahead >> (8 * i) & 0xFF);
                }
                acc_ |= (be >> (64 - 16 * words)) << (64 - bits_ - 16 * words);
                for (std::size_t w = 0; w < words; ++w) {
                    cursor_ += 2;
                    wordEnd_[words_++ & 7] = cursor_;
                }
                bits_ += 16 * words;
                return;
            }
#endif
            while (bits_ <= 48) {
                std::size_t b = data_[cursor_];
                cursor_ += 1 + (b == 0xFF);
                const std::size_t high = b << 8;
                b = data_[cursor_];
                cursor_ += 1 + (b == 0xFF);
                push(high | b);
            }
        } else {
            while (bits_ <= 48) {
                const std::size_t high = byte();
                push(high << 8 | byte());
            }
        }
    }
    std::uint32_t peek(int n) const {
        return static_cast<std::uint32_t>(acc_ >> (64 - n));
    }
    void skip(int n) {
        acc_ <<= n;
        bits_ -= static_cast<std::size_t>(n);
    }
    std::uint32_t get(int n) {
        if (n == 0) {
            return 0;
        }
        const std::uint32_t v = peek(n);
        skip(n);
        return v;
    }
    std::size_t available() const {
        return bits_;
    }

    // Where the plain reader's cursor stands after the bits consumed so far: behind the
    // last of the ceil(consumed / 16) words it would have read.
    std::uint32_t cursor() const {
        const std::size_t consumed = words_ * 16 - bits_;
        const std::size_t words = (consumed + 15) / 16;
        return static_cast<std::uint32_t>(words == 0 ? start_ : wordEnd_[(words - 1) & 7]);
    }

private:
    std::size_t byte() {
        const std::size_t b = cursor_ < length_ ? data_[cursor_] : 0;
        cursor_ += 1 + (b == 0xFF);
        return b;
    }
    void push(std::size_t word) {
        acc_ |= static_cast<std::uint64_t>(word) << (48 - bits_);
        bits_ += 16;
        wordEnd_[words_++ & 7] = cursor_;
    }

    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t cursor_;
    std::size_t start_;
    std::uint64_t acc_ = 0;
    std::size_t bits_ = 0;
    std::size_t words_ = 0;
    std::size_t wordEnd_[8] = {};
};

// Decodes one symbol; false when no code matches within the table's bit limit.
template <int kLookahead>
inline bool decodeSymbol(Bits& bits, const FastTable<kLookahead>& t, std::uint32_t& symbol) {
    const std::uint32_t entry = t.lookup[bits.peek(kLookahead)];
    if (entry != 0) {
        bits.skip(static_cast<int>(entry >> 8));
        symbol = entry & 0xFF;
        return true;
    }
    for (int k = kLookahead + 1; k <= t.maxBits; ++k) {
        const std::uint32_t code = bits.peek(k);
        const HuffmanRow& row = t.rows[k - 1];
        if (row.highest != 0xFFFF && code >= row.lowest && code <= row.highest) {
            bits.skip(k);
            symbol = t.values[(row.valueIndex & 0xFF) + code - row.lowest];
            return true;
        }
    }
    return false;
}

inline std::int32_t extend(std::uint32_t v, int s) {
    return s > 0 && (v >> (s - 1)) == 0
               ? static_cast<std::int32_t>(v) - static_cast<std::int32_t>((1u << s) - 1)
               : static_cast<std::int32_t>(v);
}

inline std::int32_t wrapAdd(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrapMul(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// Index of the lowest set bit of a non-zero value.
inline int lowestBit(std::uint32_t v) {
#if defined(__GNUC__)
    return __builtin_ctz(v);
#else
    int r = 0;
    while ((v >> r & 1) == 0) {
        ++r;
    }
    return r;
#endif
}

// Rows that zig-zag positions 1 .. k-1 touch: where a block whose coefficients end before
// position k may hold AC coefficients.
struct RowsBefore {
    std::uint8_t rows[65];
    constexpr RowsBefore() : rows() {
        for (int k = 1; k <= 64; ++k) {
            rows[k] =
                static_cast<std::uint8_t>(rows[k - 1] | (k >= 2 ? 1u << (kZigZagRow[k - 1]) : 0u));
        }
    }
    static constexpr std::uint8_t kZigZagRow[64] = {0, 0, 1, 2, 1, 0, 0, 1, 2, 3, 4, 3, 2, 1, 0, 0,
                                                    1, 2, 3, 4, 5, 6, 5, 4, 3, 2, 1, 0, 0, 1, 2, 3,
                                                    4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 2, 3, 4, 5, 6,
                                                    7, 7, 6, 5, 4, 3, 4, 5, 6, 7, 7, 6, 5, 6, 7, 7};
};
constexpr RowsBefore kRowsBeforeTable{};
constexpr const std::uint8_t* kRowsBefore = kRowsBeforeTable.rows;

// One block: its DC difference and AC coefficients, dequantised, into a zeroed block.
// `quant` is in zig-zag order, so its load does not wait for the position's.
template <int kLookahead>
inline DecodeError decodeBlock(Bits& bits, const FastTable<kLookahead>& dc,
                               const FastTable<kLookahead>& ac, const std::int32_t* quant,
                               std::int32_t& predictor, std::int32_t* block, BlockShape& shape) {
    if (bits.available() < 32) {
        bits.fill();
    }
    std::uint32_t symbol = 0;
    if (!decodeSymbol(bits, dc, symbol)) {
        return DecodeError::BadHuffmanCode;
    }
    if (symbol > 16) {
        return DecodeError::DcSizeTooLarge;
    }
    const int size = static_cast<int>(symbol);
    const std::int32_t value = wrapAdd(extend(bits.get(size), size), predictor);
    predictor = value;
    block[0] = wrapMul(value, quant[0]);
    const std::int32_t* withValue = ac.withValue;
    int k = 1;
    while (k <= 63) {
        if (bits.available() < 32) {
            bits.fill();
        }
        const std::int32_t quick = withValue[bits.peek(kLookahead)];
        int at;
        std::int32_t v;
        if (quick != 0) {
            const int run = (quick >> 8) & 15;
            bits.skip(quick & 0xFF);
            if (quick & 0x1000) {
                if (run == 0) {
                    break; // end of block
                }
                if (k + run > 63) {
                    return DecodeError::CoefficientOverrun;
                }
                k += run + 1; // ZRL covers 16 positions; a zero value 'run + 1'
                continue;
            }
            k += run;
            if (k > 63) {
                return DecodeError::CoefficientOverrun;
            }
            at = kZigZag[k];
            v = (quick >> 16) * quant[k];
        } else {
            if (!decodeSymbol(bits, ac, symbol)) {
                return DecodeError::BadHuffmanCode;
            }
            const int run = static_cast<int>(symbol >> 4);
            const int s = static_cast<int>(symbol & 15);
            if (s == 0) {
                if (run == 0) {
                    break;
                }
                if (run == 15 ? k + 15 > 63 : k + run > 63) {
                    return DecodeError::CoefficientOverrun;
                }
                k += run + 1; // ZRL covers 16 positions; a zero value 'run + 1'
                continue;
            }
            k += run;
            if (k > 63) {
                return DecodeError::CoefficientOverrun;
            }
            at = kZigZag[k];
            v = extend(bits.get(s), s) * quant[k];
        }
        block[at] = v;
        ++k;
    }
    shape.acRows = kRowsBefore[k];
    return DecodeError::None;
}

template <int kLookahead> DecodeError decodeScanWith(ScanContext& scan) {
    // One look-up table per distinct Huffman table (chroma usually share theirs), at most
    // one per table slot, in the workspace the decoder allocated with the coefficients.
    FastTable<kLookahead>* tables = static_cast<FastTable<kLookahead>*>(scan.workspace);
    for (int i = 0; i < 4; ++i) {
        new (&tables[i]) FastTable<kLookahead>;
    }
    const FastTable<kLookahead>* dc[3];
    const FastTable<kLookahead>* ac[3];
    int built = 0;
    for (int c = 0; c < 3; ++c) {
        dc[c] = ac[c] = nullptr;
        for (int e = 0; e < c; ++e) {
            if (scan.dc[e] == scan.dc[c] && scan.dcValues[e] == scan.dcValues[c]) {
                dc[c] = dc[e];
            }
            if (scan.ac[e] == scan.ac[c] && scan.acValues[e] == scan.acValues[c]) {
                ac[c] = ac[e];
            }
        }
        if (dc[c] == nullptr) {
            buildTable(tables[built], *scan.dc[c], scan.data + scan.dcValues[c], 12);
            dc[c] = &tables[built++];
        }
        if (ac[c] == nullptr) {
            buildTable(tables[built], *scan.ac[c], scan.data + scan.acValues[c], 16);
            ac[c] = &tables[built++];
        }
    }
    std::int32_t quant[3][64];
    for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 64; ++k) {
            quant[c][k] = scan.quant[c][kZigZag[k]];
        }
    }
    const Kernels& kernels = fastKernels();
    Bits bits(scan.data, scan.length, scan.cursor);
    // Zero when allocated; after each block only the rows it used are cleared again.
    std::int32_t* coefficients = scan.coefficients;
    alignas(16) std::int32_t samples[4][64];
    const std::int32_t mcusPerRow = scan.paddedWidth / 16;
    const std::int32_t mcuRows = scan.paddedHeight / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(scan.paddedWidth) * 3;
    std::int32_t predictors[3] = {scan.predictors[0], scan.predictors[1], scan.predictors[2]};
    DecodeError result = DecodeError::None;

    for (std::int32_t mcuRow = 0; mcuRow < mcuRows && result == DecodeError::None; ++mcuRow) {
        // The MCU row's top pixel row; the following rows lie lower in memory.
        std::uint8_t* top =
            scan.pixels + static_cast<std::size_t>(scan.paddedHeight - 1 - 8 * mcuRow) * rowBytes;
        for (std::int32_t mcu = 0; mcu < mcusPerRow; ++mcu) {
            BlockShape shapes[4];
            for (int b = 0; b < 4 && result == DecodeError::None; ++b) {
                const int component = b <= 1 ? 0 : b - 1;
                result = decodeBlock(bits, *dc[component], *ac[component], quant[component],
                                     predictors[component], coefficients + 64 * b, shapes[b]);
            }
            if (result != DecodeError::None) {
                break;
            }
            const bool lumaSmall = kernels.inverseDctPair(coefficients, shapes[0], samples[0],
                                                          coefficients + 64, shapes[1], samples[1]);
            kernels.inverseDctPair(coefficients + 128, shapes[2], samples[2], coefficients + 192,
                                   shapes[3], samples[3]);
            for (int b = 0; b < 4; ++b) {
                std::int32_t* block = coefficients + 64 * b;
                for (std::uint32_t rows = shapes[b].acRows | 1; rows != 0; rows &= rows - 1) {
                    std::memset(block + 8 * lowestBit(rows), 0, 8 * sizeof(std::int32_t));
                }
            }
            if (bits.cursor() > scan.length) {
                result = DecodeError::TruncatedData;
                break;
            }
            kernels.convertMcu(samples, top + static_cast<std::size_t>(mcu) * 48, rowBytes,
                               lumaSmall);
        }
    }
    scan.predictors[0] = predictors[0];
    scan.predictors[1] = predictors[1];
    scan.predictors[2] = predictors[2];
    scan.cursor = bits.cursor();
    return result;
}

} // namespace

namespace {
// Pictures of this many MCUs and more use 11-bit look-ups: their tables take longer to
// build and more memory, which the saving per MCU repays.
bool wideLookups(std::int32_t paddedWidth, std::int32_t paddedHeight) {
    return std::int64_t{paddedWidth / 16} * (paddedHeight / 8) >= 1000;
}
} // namespace

std::size_t fastScanWorkspaceBytes(std::int32_t paddedWidth, std::int32_t paddedHeight) {
    return 4 *
           (wideLookups(paddedWidth, paddedHeight) ? sizeof(FastTable<11>) : sizeof(FastTable<9>));
}

DecodeError decodeScanFast(ScanContext& scan) {
    return wideLookups(scan.paddedWidth, scan.paddedHeight) ? decodeScanWith<11>(scan)
                                                            : decodeScanWith<9>(scan);
}

} // namespace detail
} // namespace jpeg
