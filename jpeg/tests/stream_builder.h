// Hand-made JPEG streams for tests: segments byte by byte, and an entropy coder with two
// deliberately simple Huffman tables, so a test states its coefficients and can work out
// the pixels by hand.
//   DC table: twelve 4-bit codes, code s = size s (0..11).
//   AC table: 255 8-bit codes, code x = symbol x (0x00..0xFE).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace jpeg {
namespace testing {

using Bytes = std::vector<std::uint8_t>;

void append(Bytes& out, std::initializer_list<int> bytes);
void appendSegment(Bytes& out, std::uint8_t code, const Bytes& payload);

Bytes soi();
Bytes eoi();
// Table `number` with all 64 entries `value` (8-bit precision).
Bytes dqtUniform(int number, int value);
Bytes dht(int tableClass, int number, const std::vector<int>& counts, const Bytes& symbols);
Bytes simpleDcTable(int number);
Bytes simpleAcTable(int number);
// Three components, ids 1..3, Y 2x1 with quantisation table yQuant, chroma with cQuant.
Bytes sof0(int width, int height, int yQuant = 0, int cQuant = 0);
// Three components with selectors (dc << 4 | ac) for Y, Cb, Cr.
Bytes sos(int ySel = 0x00, int cbSel = 0x00, int crSel = 0x00);

// One 8x8 block: DC difference and AC values at zig-zag positions.
struct Block {
    int dcDiff = 0;
    std::vector<std::pair<int, int>> ac; // (zig-zag position 1..63, value)
};

class EntropyWriter {
public:
    void bits(std::uint32_t value, int count);
    void block(const Block& block);
    // Raw AC symbol with its value bits (for runs, ZRL and odd cases).
    void acSymbol(int symbol, std::uint32_t valueBits = 0);
    void dcSymbol(int size, std::uint32_t valueBits = 0);
    Bytes finish(); // pads with 1 bits and stuffs 0xFF bytes

private:
    void byte(std::uint8_t b);
    Bytes out_;
    std::uint32_t acc_ = 0;
    int count_ = 0;
};

// Y = DC / 8 + 128 for a DC-only block with quantisation 1 (DC a multiple of 8).
int dcForLevel(int level);

// A whole stream: uniform quantisation 1, the simple tables, SOF0 of width x height, and
// MCUs of four blocks each (left Y, right Y, Cb, Cr) in order, then EOI.
Bytes simpleStream(int width, int height, const std::vector<Block>& blocks);
// The same, from already coded entropy data.
Bytes simpleStreamWithData(int width, int height, const Bytes& entropy);

} // namespace testing
} // namespace jpeg
