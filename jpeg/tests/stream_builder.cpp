#include "stream_builder.h"

#include <cstdlib>

namespace jpeg {
namespace testing {

void append(Bytes& out, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        out.push_back(static_cast<std::uint8_t>(b));
    }
}

void appendSegment(Bytes& out, std::uint8_t code, const Bytes& payload) {
    const std::size_t length = payload.size() + 2;
    append(out, {0xFF, code, static_cast<int>(length >> 8), static_cast<int>(length & 0xFF)});
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes soi() {
    return {0xFF, 0xD8};
}
Bytes eoi() {
    return {0xFF, 0xD9};
}

Bytes dqtUniform(int number, int value) {
    Bytes payload(65, static_cast<std::uint8_t>(value));
    payload[0] = static_cast<std::uint8_t>(number);
    Bytes out;
    appendSegment(out, 0xDB, payload);
    return out;
}

Bytes dht(int tableClass, int number, const std::vector<int>& counts, const Bytes& symbols) {
    Bytes payload(17, 0);
    payload[0] = static_cast<std::uint8_t>(tableClass << 4 | number);
    for (std::size_t k = 0; k < 16 && k < counts.size(); ++k) {
        payload[1 + k] = static_cast<std::uint8_t>(counts[k]);
    }
    payload.insert(payload.end(), symbols.begin(), symbols.end());
    Bytes out;
    appendSegment(out, 0xC4, payload);
    return out;
}

Bytes simpleDcTable(int number) {
    Bytes symbols;
    for (int s = 0; s < 12; ++s) {
        symbols.push_back(static_cast<std::uint8_t>(s));
    }
    return dht(0, number, {0, 0, 0, 12}, symbols);
}

Bytes simpleAcTable(int number) {
    Bytes symbols;
    for (int s = 0; s < 255; ++s) {
        symbols.push_back(static_cast<std::uint8_t>(s));
    }
    return dht(1, number, {0, 0, 0, 0, 0, 0, 0, 255}, symbols);
}

Bytes sof0(int width, int height, int yQuant, int cQuant) {
    Bytes payload;
    append(payload, {8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3});
    append(payload, {1, 0x21, yQuant, 2, 0x11, cQuant, 3, 0x11, cQuant});
    Bytes out;
    appendSegment(out, 0xC0, payload);
    return out;
}

Bytes sos(int ySel, int cbSel, int crSel) {
    Bytes payload;
    append(payload, {3, 1, ySel, 2, cbSel, 3, crSel, 0, 63, 0});
    Bytes out;
    appendSegment(out, 0xDA, payload);
    return out;
}

namespace {
int sizeOf(int v) {
    int magnitude = std::abs(v);
    int s = 0;
    while (magnitude > 0) {
        ++s;
        magnitude >>= 1;
    }
    return s;
}
std::uint32_t valueBits(int v, int s) {
    return static_cast<std::uint32_t>(v >= 0 ? v : v + (1 << s) - 1);
}
} // namespace

void EntropyWriter::byte(std::uint8_t b) {
    out_.push_back(b);
    if (b == 0xFF) {
        out_.push_back(0x00);
    }
}

void EntropyWriter::bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((value >> i) & 1);
        if (++count_ == 8) {
            byte(static_cast<std::uint8_t>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

void EntropyWriter::dcSymbol(int size, std::uint32_t value) {
    bits(static_cast<std::uint32_t>(size), 4);
    bits(value, size);
}

void EntropyWriter::acSymbol(int symbol, std::uint32_t value) {
    bits(static_cast<std::uint32_t>(symbol), 8);
    bits(value, symbol & 15);
}

void EntropyWriter::block(const Block& block) {
    const int s = sizeOf(block.dcDiff);
    dcSymbol(s, valueBits(block.dcDiff, s));
    int position = 1;
    for (const auto& [at, value] : block.ac) {
        int run = at - position;
        while (run > 15) {
            acSymbol(0xF0);
            run -= 16;
        }
        const int size = sizeOf(value);
        acSymbol(run << 4 | size, valueBits(value, size));
        position = at + 1;
    }
    if (position <= 63) {
        acSymbol(0x00);
    }
}

Bytes EntropyWriter::finish() {
    if (count_ > 0) {
        bits(0xFF, 8 - count_);
    }
    return out_;
}

int dcForLevel(int level) {
    return 8 * (level - 128);
}

Bytes simpleStreamWithData(int width, int height, const Bytes& entropy) {
    Bytes out = soi();
    for (const Bytes& part :
         {dqtUniform(0, 1), simpleDcTable(0), simpleAcTable(0), sof0(width, height), sos()}) {
        out.insert(out.end(), part.begin(), part.end());
    }
    out.insert(out.end(), entropy.begin(), entropy.end());
    const Bytes end = eoi();
    out.insert(out.end(), end.begin(), end.end());
    return out;
}

Bytes simpleStream(int width, int height, const std::vector<Block>& blocks) {
    EntropyWriter writer;
    for (const Block& b : blocks) {
        writer.block(b);
    }
    return simpleStreamWithData(width, height, writer.finish());
}

} // namespace testing
} // namespace jpeg
