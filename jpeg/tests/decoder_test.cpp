// JpegDecoder: stream structure, hand-computed pixels, refusals and memory failure, on
// hand-made streams (stream_builder.h) run through both scan paths.
#include "jpeg/jpeg_decoder.h"
#include "jpeg/out_of_memory.h"
#include "jpeg/scan.h"
#include "platform/memory.h"
#include "stream_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include "jpeg/tests/temp_path.h"
#include <cstring>

namespace jpeg {
namespace {

using namespace jpeg::testing;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Four DC-only blocks giving uniform levels Y (both luma blocks), Cb, Cr.
std::vector<Block> uniformMcu(int y, int cb, int cr) {
    return {Block{dcForLevel(y), {}}, Block{0, {}}, Block{dcForLevel(cb), {}},
            Block{dcForLevel(cr), {}}};
}

class DecoderTest : public ::testing::TestWithParam<ScanPath> {
protected:
    std::uint8_t* decode(const Bytes& stream) {
        return decoder.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
    }
    RecordingUi ui;
    JpegDecoder decoder{ui, GetParam()};
};

INSTANTIATE_TEST_SUITE_P(BothPaths, DecoderTest,
                         ::testing::Values(ScanPath::Reference, ScanPath::Fast),
                         [](const auto& info) {
                             return info.param == ScanPath::Reference ? "Reference" : "Fast";
                         });

TEST_P(DecoderTest, HeaderOfA100x75FrameIsPaddedToWholeMcus) {
    Bytes entropy;
    {
        EntropyWriter w;
        for (int m = 0; m < 7 * 10; ++m) {
            for (const Block& b : uniformMcu(128, 128, 128)) {
                w.block(b);
            }
        }
        entropy = w.finish();
    }
    ASSERT_NE(decode(simpleStreamWithData(100, 75, entropy)), nullptr);
    const platform::BitmapInfoHeader& h = decoder.imageHeader();
    std::uint8_t raw[40];
    std::memcpy(raw, &h, 40);
    const std::uint8_t expected[40] = {
        40,   0,    0, 0, 112,  0,    0, 0, 80,   0,    0, 0, 1, 0, 24, 0, 0, 0, 0, 0,
        0x00, 0x69, 0, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0,  0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(raw, expected, 40)); // 26880 = 0x6900, 2835 = 0x0B13
}

TEST_P(DecoderTest, UniformLevelsGiveTheHandComputedColours) {
    struct Case {
        int y, cb, cr;
        std::uint8_t blue, green, red;
    };
    // 100/127/128: blue 100 + trunc(-1.772) = 99. 250/128/255: green 250 - trunc(90.70) = 160,
    // red 250 + 178 clamped to 255.
    for (const Case& c : {Case{128, 128, 128, 128, 128, 128}, Case{100, 127, 128, 99, 100, 100},
                          Case{250, 128, 255, 250, 160, 255}, Case{0, 128, 0, 0, 91, 0}}) {
        JpegDecoder fresh(ui, GetParam()); // DC predictors carry over from decode to decode
        const Bytes stream = simpleStream(16, 8, uniformMcu(c.y, c.cb, c.cr));
        const std::uint8_t* pixels =
            fresh.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
        ASSERT_NE(pixels, nullptr) << c.y;
        for (int i = 0; i < 16 * 8; ++i) {
            ASSERT_EQ(pixels[3 * i], c.blue) << c.y << " pixel " << i;
            ASSERT_EQ(pixels[3 * i + 1], c.green) << c.y << " pixel " << i;
            ASSERT_EQ(pixels[3 * i + 2], c.red) << c.y << " pixel " << i;
        }
    }
}

TEST_P(DecoderTest, OneHorizontalFrequencyGivesTheHandComputedRamp) {
    // Coefficient (0,1) = 64 alone: the row pass gives 11363, 9633, 6437, 2260 times 64
    // descaled by 11 (355, 301, 201, 71, -71, -201, -301, -355); the column pass divides by
    // 32 with rounding: 11, 9, 6, 2, -2, -6, -9, -11.
    std::vector<Block> mcu = uniformMcu(128, 128, 128);
    mcu[0].ac = {{1, 64}};
    const std::uint8_t* pixels = decode(simpleStream(16, 8, mcu));
    ASSERT_NE(pixels, nullptr);
    const int ramp[8] = {139, 137, 134, 130, 126, 122, 119, 117};
    for (int row = 0; row < 8; ++row) {
        for (int x = 0; x < 16; ++x) {
            const int expected = x < 8 ? ramp[x] : 128;
            ASSERT_EQ(pixels[row * 48 + 3 * x], expected) << row << "," << x;
            ASSERT_EQ(pixels[row * 48 + 3 * x + 2], expected) << row << "," << x;
        }
    }
}

TEST_P(DecoderTest, McusArePlacedBottomUpWithChromaSharedByPixelPairs) {
    // 32 x 16: four MCUs with levels 10, 20, 30, 40 in stream order. The first MCU row is the
    // top of the picture, so it lands in the last buffer rows.
    std::vector<Block> blocks;
    int predictor = 0;
    for (int level : {10, 20, 30, 40}) {
        const int dc = dcForLevel(level);
        blocks.push_back(Block{dc - predictor, {}});
        blocks.push_back(Block{0, {}});
        blocks.push_back(Block{0, {}});
        blocks.push_back(Block{0, {}});
        predictor = dc;
    }
    // Cb and Cr predictors start at 0 (= level 128) and never change.
    const std::uint8_t* pixels = decode(simpleStream(32, 16, blocks));
    ASSERT_NE(pixels, nullptr);
    const auto at = [&](int x, int yFromTop) { return pixels[(15 - yFromTop) * 96 + 3 * x]; };
    EXPECT_EQ(at(0, 0), 10);
    EXPECT_EQ(at(31, 7), 20);
    EXPECT_EQ(at(0, 8), 30);
    EXPECT_EQ(at(31, 15), 40);

    // A Cb ramp across one chroma block serves pixel pairs 2i and 2i+1.
    std::vector<Block> mcu = uniformMcu(128, 128, 128);
    mcu[2].ac = {{1, 64}};
    decoder.releaseBuffers();
    JpegDecoder fresh(ui, GetParam()); // predictors of the first decode would carry over
    const Bytes stream = simpleStream(16, 8, mcu);
    const std::uint8_t* p =
        fresh.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
    ASSERT_NE(p, nullptr);
    const int cbRamp[8] = {11, 9, 6, 2, -2, -6, -9, -11};
    for (int x = 0; x < 16; ++x) {
        const int d1 = cbRamp[x / 2];
        EXPECT_EQ(p[3 * x], 128 + static_cast<int>(1.772 * d1)) << x;
        EXPECT_EQ(p[3 * x + 1], 128 - static_cast<int>(0.34414 * d1)) << x;
    }
}

TEST_P(DecoderTest, DcPredictorsRunOverTheWholeScan) {
    // The second MCU's luma difference of 0 keeps the level of the first.
    std::vector<Block> blocks = uniformMcu(60, 128, 128);
    for (const Block& b : uniformMcu(128, 128, 128)) {
        blocks.push_back(Block{0, b.ac});
    }
    const std::uint8_t* pixels = decode(simpleStream(32, 8, blocks));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels[3 * 31], 60);
}

TEST_P(DecoderTest, SkippedSegmentsChangeNothing) {
    const Bytes plain = simpleStream(16, 8, uniformMcu(90, 140, 100));
    const std::uint8_t* first = decode(plain);
    ASSERT_NE(first, nullptr);
    const std::vector<std::uint8_t> expected(first, first + 384);
    Bytes extras;
    appendSegment(extras, 0xFE, {'h', 'i', 0xFF, 0xD9});
    for (int app = 0xE0; app <= 0xEE; ++app) {
        appendSegment(extras, static_cast<std::uint8_t>(app), {1, 2, 3});
    }
    appendSegment(extras, 0xDD, {0, 4});
    appendSegment(extras, 0xDC, {0, 8});
    Bytes stream = plain;
    stream.insert(stream.begin() + 2, extras.begin(), extras.end());
    JpegDecoder fresh(ui, GetParam());
    const std::uint8_t* pixels =
        fresh.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(pixels, pixels + 384), expected);
}

TEST_P(DecoderTest, SegmentsAfterEndOfImageAreNeverRead) {
    Bytes stream = cat({soi(), sof0(16, 8), eoi(), dqtUniform(0x10, 1)});
    stream.push_back(0x77);
    const std::uint8_t* pixels = decode(stream);
    ASSERT_NE(pixels, nullptr);
}

TEST_P(DecoderTest, StreamWithoutScanIsBlackAndWithoutFrameIsRefused) {
    const std::uint8_t* pixels =
        decode(cat({soi(), dqtUniform(0, 1), simpleDcTable(0), sof0(20, 3)}));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(decoder.imageHeader().imageSize, 32u * 8 * 3);
    for (std::uint32_t i = 0; i < decoder.imageHeader().imageSize; ++i) {
        ASSERT_EQ(pixels[i], 0) << i;
    }
    EXPECT_EQ(decode(cat({soi(), dqtUniform(0, 1), eoi()})), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::NoFrame);
}

TEST_P(DecoderTest, TwoDcAndTwoAcTablesInOneSegmentAreUsedAsTheScanSelects) {
    // Table 1 of each class codes symbols in reverse order of table 0, so a stream written
    // for table 0 decodes differently unless the selectors pick table 1 for chroma only.
    Bytes dcSymbols, acSymbols;
    for (int s = 11; s >= 0; --s)
        dcSymbols.push_back(static_cast<std::uint8_t>(s));
    for (int s = 254; s >= 0; --s)
        acSymbols.push_back(static_cast<std::uint8_t>(s));
    const Bytes dc0 = simpleDcTable(0), ac0 = simpleAcTable(0);
    const Bytes dc1 = dht(0, 1, {0, 0, 0, 12}, dcSymbols),
                ac1 = dht(1, 1, {0, 0, 0, 0, 0, 0, 0, 255}, acSymbols);
    // One DHT segment holding all four tables.
    Bytes tables{0x00};
    for (const Bytes* t : {&dc0, &ac0, &dc1, &ac1}) {
        tables.insert(tables.end(), t->begin() + 4, t->end());
    }
    tables.erase(tables.begin());
    Bytes dhtSegment;
    appendSegment(dhtSegment, 0xC4, tables);

    EntropyWriter w;
    w.dcSymbol(8, 0x1F); // -224: level 100
    w.acSymbol(0x00);
    w.dcSymbol(0);
    w.acSymbol(0x00);
    for (int chroma = 0; chroma < 2; ++chroma) {
        w.bits(11 - 4, 4); // size 4 in table 1
        w.bits(0x7, 4);    // -8: level 127
        w.bits(254, 8);    // EOB in table 1
    }
    const Bytes stream = cat({soi(), dqtUniform(0, 1), dhtSegment, sof0(16, 8),
                              sos(0x00, 0x11, 0x11), w.finish(), eoi()});
    const std::uint8_t* pixels = decode(stream);
    ASSERT_NE(pixels, nullptr) << describe(decoder.lastError());
    // Y 100, Cb 127, Cr 127: blue 99, green 100 - 0 - trunc(-0.714) = 100, red 100 - 1 = 99.
    EXPECT_EQ(pixels[0], 99);
    EXPECT_EQ(pixels[1], 100);
    EXPECT_EQ(pixels[2], 99);
}

TEST_P(DecoderTest, OneQuantisationSegmentDefinesBothTables) {
    Bytes payload{0x00};
    payload.insert(payload.end(), 64, 1);
    payload.push_back(0x01);
    payload.insert(payload.end(), 64, 2);
    Bytes dqt;
    appendSegment(dqt, 0xDB, payload);
    EntropyWriter w;
    w.dcSymbol(0);
    w.acSymbol(0);
    w.dcSymbol(0);
    w.acSymbol(0);
    w.dcSymbol(3, 0x3);
    w.acSymbol(0); // -4 x 2 = -8: Cb level 127
    w.dcSymbol(0);
    w.acSymbol(0);
    const Bytes stream = cat({soi(), dqt, simpleDcTable(0), simpleAcTable(0), sof0(16, 8, 0, 1),
                              sos(), w.finish(), eoi()});
    const std::uint8_t* pixels = decode(stream);
    ASSERT_NE(pixels, nullptr) << describe(decoder.lastError());
    EXPECT_EQ(pixels[0], 127); // 128 + trunc(1.772 x -1)
}

TEST_P(DecoderTest, DcCodesLongerThanTwelveBitsCannotBeDecoded) {
    // A DC table whose only code has 13 bits (all zeros), used by a stream of zero bits.
    const Bytes longDc = dht(0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {0});
    const Bytes stream = cat({soi(), dqtUniform(0, 1), longDc, simpleAcTable(0), sof0(16, 8), sos(),
                              Bytes(16, 0), eoi()});
    EXPECT_EQ(decode(stream), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::BadHuffmanCode);
    // The same code at 12 bits decodes.
    const Bytes dc12 = dht(0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {0});
    Bytes data(64, 0);
    const Bytes ok =
        cat({soi(), dqtUniform(0, 1), dc12, dht(1, 0, {1}, {0}), sof0(16, 8), sos(), data, eoi()});
    EXPECT_NE(decode(ok), nullptr) << describe(decoder.lastError());
}

TEST_P(DecoderTest, MemoryModeNeedsStartOfImage) {
    Bytes stream = simpleStream(16, 8, uniformMcu(128, 128, 128));
    EXPECT_EQ(decoder.decodeMemory(nullptr, 100), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::NotJpeg);
    EXPECT_EQ(decoder.decodeMemory(stream.data(), 1), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::NotJpeg);
    stream[1] = 0xD9;
    EXPECT_EQ(decode(stream), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::NotJpeg);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_P(DecoderTest, TruncatedScanFailsButDataEndingExactlyAtTheLastWordSucceeds) {
    // One MCU of four DC-only blocks: 4 x (4 + 8) bits; the simple writer pads to 6 bytes.
    const Bytes entropy = [] {
        EntropyWriter w;
        for (int b = 0; b < 4; ++b) {
            w.dcSymbol(0);
            w.acSymbol(0);
        }
        return w.finish();
    }();
    ASSERT_EQ(entropy.size(), 6u);
    Bytes stream = simpleStreamWithData(16, 8, entropy);
    stream.resize(stream.size() - 2); // drop EOI: the data ends right after the last word
    EXPECT_NE(decode(stream), nullptr) << describe(decoder.lastError());
    stream.pop_back(); // now the last word reads past the end
    EXPECT_EQ(decode(stream), nullptr);
    EXPECT_EQ(decoder.lastError(), DecodeError::TruncatedData);
}

TEST_P(DecoderTest, StuffedBytesAreSkippedAfterEvery0xFF) {
    // DC size 8 (1000) with value bits 11111111, then ZRL (11110000): the second byte is
    // 0xFF and gets a stuffed zero after it.
    EntropyWriter w;
    w.dcSymbol(8, 0xFF);
    w.acSymbol(0xF0);
    w.acSymbol(0x00);
    for (int b = 0; b < 3; ++b) {
        w.dcSymbol(0);
        w.acSymbol(0x00);
    }
    const Bytes entropy = w.finish();
    ASSERT_EQ(entropy[1], 0xFF);
    ASSERT_EQ(entropy[2], 0x00);
    const std::uint8_t* pixels = decode(simpleStreamWithData(16, 8, entropy));
    ASSERT_NE(pixels, nullptr) << describe(decoder.lastError());
    // Row pass (255 x 8192 + 1024) >> 11 = 1020; column pass (1020 x 8192 + 131072) >> 18 = 32.
    // The right luma block's difference 0 keeps the predictor.
    EXPECT_EQ(pixels[0], 160);
    EXPECT_EQ(pixels[3 * 15], 160);
}

// Each refusal: the stream, and the reason the decoder gives.
struct Refusal {
    const char* name;
    Bytes stream;
    DecodeError error;
};

std::vector<Refusal> refusals() {
    const Bytes tables = cat({dqtUniform(0, 1), simpleDcTable(0), simpleAcTable(0)});
    const Bytes mcu = [] {
        EntropyWriter w;
        for (int b = 0; b < 4; ++b) {
            w.dcSymbol(0);
            w.acSymbol(0);
        }
        return w.finish();
    }();
    auto frame = [](std::initializer_list<int> payload) {
        Bytes out;
        appendSegment(out, 0xC0, Bytes(payload.begin(), payload.end()));
        return out;
    };
    auto acStream = [&](void (*body)(EntropyWriter&)) {
        EntropyWriter w;
        w.dcSymbol(0);
        body(w);
        return cat({soi(), tables, sof0(16, 8), sos(), w.finish(), Bytes(16, 0), eoi()});
    };
    std::vector<Refusal> list;
    list.push_back({"zero width", cat({soi(), tables, sof0(0, 8), sos(), mcu, eoi()}),
                    DecodeError::FrameSize});
    list.push_back({"zero height", cat({soi(), tables, sof0(16, 0), sos(), mcu, eoi()}),
                    DecodeError::FrameSize});
    list.push_back({"wider than 8192", cat({soi(), sof0(8193, 8)}), DecodeError::FrameSize});
    list.push_back(
        {"more than 16 megapixels", cat({soi(), sof0(8192, 2056)}), DecodeError::FrameSize});
    list.push_back({"precision 12",
                    cat({soi(), frame({12, 0, 8, 0, 16, 3, 1, 0x21, 0, 2, 0x11, 0, 3, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back({"one component", cat({soi(), frame({8, 0, 8, 0, 16, 1, 1, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back({"component identifier 0",
                    cat({soi(), frame({8, 0, 8, 0, 16, 3, 0, 0x21, 0, 2, 0x11, 0, 3, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back({"component identifier above count",
                    cat({soi(), frame({8, 0, 8, 0, 16, 3, 1, 0x21, 0, 2, 0x11, 0, 200, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back({"quantisation table 2 in frame",
                    cat({soi(), frame({8, 0, 8, 0, 16, 3, 1, 0x21, 2, 2, 0x11, 0, 3, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back({"components past the segment",
                    cat({soi(), frame({8, 0, 8, 0, 16, 3, 1, 0x21, 0, 2, 0x11, 0})}),
                    DecodeError::BadFrame});
    list.push_back(
        {"Huffman class 2", cat({soi(), dht(2, 0, {1}, {0})}), DecodeError::BadHuffmanTable});
    list.push_back(
        {"Huffman number 2", cat({soi(), dht(0, 2, {1}, {0})}), DecodeError::BadHuffmanTable});
    list.push_back({"Huffman counts past the segment", cat({soi(), dht(0, 0, {3}, {0, 1})}),
                    DecodeError::BadHuffmanTable});
    list.push_back({"Huffman counts cut short",
                    cat({soi(),
                         [] {
                             Bytes b;
                             appendSegment(b, 0xC4, {0x00, 1, 0});
                             return b;
                         }()}),
                    DecodeError::BadHuffmanTable});
    list.push_back(
        {"16-bit quantisation", cat({soi(), dqtUniform(0x10, 1)}), DecodeError::BadQuantTable});
    list.push_back(
        {"quantisation table 2", cat({soi(), dqtUniform(2, 1)}), DecodeError::BadQuantTable});
    list.push_back({"quantisation entries cut short",
                    cat({soi(),
                         [] {
                             Bytes b;
                             appendSegment(b, 0xDB, Bytes(40, 0));
                             return b;
                         }()}),
                    DecodeError::BadQuantTable});
    list.push_back({"scan selects table 2",
                    cat({soi(), tables, sof0(16, 8), sos(0x00, 0x20, 0x00), mcu}),
                    DecodeError::BadScanHeader});
    list.push_back({"scan header too short",
                    cat({soi(), tables, sof0(16, 8),
                         [] {
                             Bytes b;
                             appendSegment(b, 0xDA, {1, 1, 0});
                             return b;
                         }(),
                         mcu}),
                    DecodeError::BadScanHeader});
    list.push_back({"scan selects undefined Huffman table",
                    cat({soi(), tables, sof0(16, 8), sos(0x00, 0x11, 0x11), mcu, eoi()}),
                    DecodeError::UndefinedTable});
    list.push_back({"scan uses undefined quantisation table",
                    cat({soi(), tables, sof0(16, 8, 0, 1), sos(), mcu, eoi()}),
                    DecodeError::UndefinedTable});
    list.push_back({"scan without frame", cat({soi(), tables, sos(), mcu, eoi()}),
                    DecodeError::ScanWithoutFrame});
    list.push_back({"data without scan header", cat({soi(), tables, sof0(16, 8), mcu, eoi()}),
                    DecodeError::ScanWithoutFrame});
    list.push_back(
        {"progressive frame",
         cat({soi(),
              [] {
                  Bytes b;
                  appendSegment(b, 0xC2, {8, 0, 8, 0, 16, 3, 1, 0x21, 0, 2, 0x11, 0, 3, 0x11, 0});
                  return b;
              }()}),
         DecodeError::UnsupportedMarker});
    list.push_back({"restart marker before the scan",
                    cat({soi(), tables, Bytes{0xFF, 0xD0}, sof0(16, 8)}),
                    DecodeError::UnsupportedMarker});
    list.push_back({"segment length past the data", Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x10, 1, 2},
                    DecodeError::SegmentTruncated});
    list.push_back({"segment length below 2", Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0xFF, 0xD9},
                    DecodeError::SegmentTruncated});
    list.push_back({"marker cut after its code", Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00},
                    DecodeError::SegmentTruncated});
    list.push_back({"zero run past position 63", acStream([](EntropyWriter& w) {
                        for (int i = 0; i < 3; ++i)
                            w.acSymbol(0xF0);
                        w.acSymbol(0xF1, 1);
                        w.acSymbol(0xF0);
                    }),
                    DecodeError::CoefficientOverrun});
    list.push_back({"value past position 63", acStream([](EntropyWriter& w) {
                        w.acSymbol(0xE1, 1);
                        w.acSymbol(0xE1, 1);
                        w.acSymbol(0xE1, 1);
                        w.acSymbol(0xE1, 1);
                        w.acSymbol(0xE1, 1);
                    }),
                    DecodeError::CoefficientOverrun});
    list.push_back({"DC size above 16",
                    cat({soi(), dqtUniform(0, 1), dht(0, 0, {1}, {17}), simpleAcTable(0),
                         sof0(16, 8), sos(), Bytes(8, 0), eoi()}),
                    DecodeError::DcSizeTooLarge});
    list.push_back({"Huffman code matching nothing",
                    cat({soi(), dqtUniform(0, 1), simpleDcTable(0), dht(1, 0, {1}, {0}),
                         sof0(16, 8), sos(), Bytes(8, 0xFE), eoi()}),
                    DecodeError::BadHuffmanCode});
    return list;
}

TEST_P(DecoderTest, RefusesStreamsItCannotDecodeSafely) {
    for (const Refusal& r : refusals()) {
        EXPECT_EQ(decode(r.stream), nullptr) << r.name;
        EXPECT_EQ(decoder.lastError(), r.error) << r.name << ": " << describe(decoder.lastError());
        decoder.releaseBuffers();
    }
    EXPECT_TRUE(ui.messages.empty());
}

TEST_P(DecoderTest, LargestAcceptedFrameIs8192Wide) {
    const Bytes stream = cat({soi(), sof0(8192, 2048), eoi()});
    EXPECT_NE(decode(stream), nullptr);
    EXPECT_EQ(decoder.imageHeader().imageSize, 8192u * 2048 * 3);
}

TEST_P(DecoderTest, HuffmanValuesOfAnEarlierDecodeAreNotReadOutsideTheData) {
    // File-mode data need not start with SOI, so tables survive into the next decode of
    // the same decoder; their value offsets must then still lie inside the new data.
    Bytes comment;
    appendSegment(comment, 0xFE, Bytes(300, 'x'));
    const Bytes first = cat({comment, simpleDcTable(0), simpleAcTable(0)});
    const Bytes second = cat({dqtUniform(0, 1), sof0(16, 8), sos(), Bytes(8, 0), eoi()});
    const std::string path = uniqueTempPrefix() + "tables.jpg";
    JpegDecoder d(ui, GetParam());
    for (const Bytes* b : {&first, &second}) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(b->data(), 1, b->size(), f);
        std::fclose(f);
        d.decodeFile(path.c_str());
        d.releaseBuffers();
    }
    EXPECT_EQ(d.lastError(), DecodeError::UndefinedTable);
    std::remove(path.c_str());
}

TEST_P(DecoderTest, FileModeSkipsTheStartCheckAndAllowsOnlyOneScan) {
    const Bytes stream = simpleStream(16, 8, uniformMcu(128, 128, 128));
    const std::string path = uniqueTempPrefix() + "scan.jpg";
    auto write = [&](const Bytes& b) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    };
    write(stream);
    EXPECT_NE(decoder.decodeFile(path.c_str()), nullptr) << describe(decoder.lastError());
    // Without SOI at the start (the first bytes are not checked).
    write(Bytes(stream.begin() + 2, stream.end()));
    JpegDecoder d2(ui, GetParam());
    EXPECT_NE(d2.decodeFile(path.c_str()), nullptr) << describe(d2.lastError());
    // Without EOI, ending at the data's end.
    write(Bytes(stream.begin(), stream.end() - 2));
    JpegDecoder d3(ui, GetParam());
    EXPECT_NE(d3.decodeFile(path.c_str()), nullptr) << describe(d3.lastError());
    // Anything after the scan that is not a marker is a second scan.
    Bytes twice(stream.begin(), stream.end() - 2);
    twice.push_back(0x12);
    write(twice);
    JpegDecoder d4(ui, GetParam());
    EXPECT_EQ(d4.decodeFile(path.c_str()), nullptr);
    EXPECT_EQ(d4.lastError(), DecodeError::SecondScan);
    // Memory mode stops after the scan and does not look at what follows.
    JpegDecoder d5(ui, GetParam());
    EXPECT_NE(d5.decodeMemory(twice.data(), static_cast<std::uint32_t>(twice.size())), nullptr);
    std::remove(path.c_str());
    JpegDecoder d6(ui, GetParam());
    EXPECT_EQ(d6.decodeFile(path.c_str()), nullptr);
    EXPECT_TRUE(d6.fileUnreadable());
    EXPECT_TRUE(ui.messages.empty());
}

int exitCode = -1;
void recordExit(int code) {
    exitCode = code;
}

TEST_P(DecoderTest, OutOfMemoryShowsTheMessageAndEndsTheProcess) {
    if (!canInjectAllocationFailures()) {
        GTEST_SKIP() << "the Win32 memory seam always allocates";
    }
    const Bytes stream = simpleStream(16, 8, uniformMcu(128, 128, 128));
    const ProcessExit previous = setProcessExit(recordExit);
    // Count the allocations of a good decode, then fail each one in turn.
    long allocations = 0;
    for (long n = 0; n < 20; ++n) {
        RecordingUi local;
        exitCode = -1;
        JpegDecoder d(local, GetParam());
        platform::memcheck::failAllocationsAfter(n);
        const std::uint8_t* result =
            d.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
        platform::memcheck::stopFailingAllocations();
        if (result != nullptr) {
            allocations = n;
            EXPECT_TRUE(local.messages.empty());
            break;
        }
        ASSERT_EQ(local.messages.size(), 1u) << n;
        EXPECT_EQ(local.messages[0],
                  "Virtual Memory is not enough.  \nHave any problem.  \nPlease contact agency.  ");
        EXPECT_EQ(d.lastError(), DecodeError::OutOfMemory);
        // A Huffman table's failure ends only the decode; the others end the process.
        const bool huffman = n < 2;
        EXPECT_EQ(exitCode, huffman ? -1 : 1) << n;
    }
    // Two tables, the component table, the pixel buffer and the coefficient buffer.
    EXPECT_EQ(allocations, 5);
    setProcessExit(previous);
}

} // namespace
} // namespace jpeg
