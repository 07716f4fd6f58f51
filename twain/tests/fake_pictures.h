// The pictures of the fake campanel, shared with the tests that check what the data source
// received: picture p (1 to 9) is (p + 2) x (p + 1) pixels, 24-bit, rows padded to 4 bytes;
// pixel x of stored row r has blue p * 0x10 + r * 4 + x, green that + 0x40, red + 0x80.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace fakecampanel {

constexpr int kPictures = 9;

inline int width(int p) {
    return p + 2;
}
inline int height(int p) {
    return p + 1;
}
inline int stride(int p) {
    return (width(p) * 3 + 3) / 4 * 4;
}

inline void putLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// The 40-byte header followed by the pixel rows.
inline std::vector<uint8_t> packedDib(int p) {
    std::vector<uint8_t> dib;
    putLe(dib, 40, 4);
    putLe(dib, width(p), 4);
    putLe(dib, height(p), 4);
    putLe(dib, 1, 2);
    putLe(dib, 24, 2);
    putLe(dib, 0, 4);
    putLe(dib, stride(p) * height(p), 4);
    putLe(dib, 0, 16);
    for (int r = 0; r < height(p); ++r) {
        for (int x = 0; x < width(p); ++x) {
            const uint8_t blue = static_cast<uint8_t>(p * 0x10 + r * 4 + x);
            dib.push_back(blue);
            dib.push_back(static_cast<uint8_t>(blue + 0x40));
            dib.push_back(static_cast<uint8_t>(blue + 0x80));
        }
        for (int pad = width(p) * 3; pad < stride(p); ++pad) {
            dib.push_back(0);
        }
    }
    return dib;
}

} // namespace fakecampanel
