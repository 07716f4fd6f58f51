// The fast scan path against the plain one: each kernel on its own (inverse DCT on blocks
// from tiny to wrap-around sizes, colour conversion over every 8-bit (Y, Cb, Cr) and well
// beyond), and whole decodes of random and randomly damaged streams, including odd and
// overfull Huffman tables, in memory and file mode.
#include "jpeg/fast_kernels.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/scan.h"
#include "stream_builder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace jpeg {
namespace {

using namespace jpeg::testing;
using detail::BlockShape;
using detail::Kernels;

std::vector<const Kernels*> kernelSets() {
    const Kernels* const* list = nullptr;
    const int n = detail::availableKernels(&list);
    return std::vector<const Kernels*>(list, list + n);
}

BlockShape shapeOf(const std::int32_t* block) {
    BlockShape shape{0};
    for (int i = 1; i < 64; ++i) {
        if (block[i] != 0) {
            shape.acRows |= 1u << (i >> 3);
        }
    }
    return shape;
}

// What a vector kernel's inverse DCT must say of a block: whether all its coefficients
// are within the limit (the portable kernel always says false).
bool withinVectorLimit(const std::int32_t* block) {
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t m = block[i] < 0 ? 0u - static_cast<std::uint32_t>(block[i]) : block[i];
        if (m > detail::kVectorIdctLimit) {
            return false;
        }
    }
    return true;
}

TEST(FastKernels, InverseDctMatchesThePlainTransformFromTinyToWrapAroundValues) {
    std::mt19937 rng(1234);
    const std::int64_t limits[] = {1, 16, 255, 1096, 1097, 4000, 32767, 1 << 20, 0x7FFFFFFF};
    for (const Kernels* k : kernelSets()) {
        for (std::int64_t limit : limits) {
            std::uniform_int_distribution<std::int64_t> value(-limit, limit);
            for (int trial = 0; trial < 3000; ++trial) {
                std::int32_t block[64] = {};
                // Sparse like real blocks, or dense; sometimes DC only, sometimes one row.
                const int fill = trial % 4 == 0 ? 1 : trial % 4 == 1 ? 8 : trial % 4 == 2 ? 20 : 64;
                for (int i = 0; i < fill; ++i) {
                    block[trial % 4 == 1 ? i : static_cast<int>(rng() % 64)] =
                        static_cast<std::int32_t>(value(rng));
                }
                if (trial % 7 == 0) {
                    block[0] = limit >= 1096 ? (trial & 8 ? 1096 : -1096) : block[0];
                }
                std::int32_t expected[64];
                std::memcpy(expected, block, sizeof block);
                detail::inverseDctReference(expected);
                for (std::int32_t& v : expected) {
                    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) + 128u);
                }
                std::int32_t got[64];
                const bool vector = std::strcmp(k->name, "portable") != 0;
                const bool small = withinVectorLimit(block);
                EXPECT_EQ(vector && small, k->inverseDct(block, shapeOf(block), got))
                    << k->name << " limit " << limit << " trial " << trial;
                ASSERT_EQ(0, std::memcmp(expected, got, sizeof got))
                    << k->name << " limit " << limit << " trial " << trial;
                // In a pair, with a partner that is sometimes small and sometimes not.
                std::int32_t partner[64] = {};
                partner[0] = static_cast<std::int32_t>(value(rng));
                partner[rng() % 64] =
                    trial % 3 == 0 ? 5000 : static_cast<std::int32_t>(rng() % 200) - 100;
                std::int32_t partnerExpected[64];
                std::memcpy(partnerExpected, partner, sizeof partner);
                detail::inverseDctReference(partnerExpected);
                for (std::int32_t& v : partnerExpected) {
                    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) + 128u);
                }
                std::int32_t gotA[64], gotB[64];
                const bool partnerFirst = trial % 2 == 0;
                EXPECT_EQ(vector && small && withinVectorLimit(partner),
                          k->inverseDctPair(partnerFirst ? partner : block,
                                            shapeOf(partnerFirst ? partner : block), gotA,
                                            partnerFirst ? block : partner,
                                            shapeOf(partnerFirst ? block : partner), gotB))
                    << k->name << " pair, limit " << limit << " trial " << trial;
                ASSERT_EQ(0, std::memcmp(partnerFirst ? gotB : gotA, expected, sizeof expected))
                    << k->name << " pair, limit " << limit << " trial " << trial;
                ASSERT_EQ(0,
                          std::memcmp(partnerFirst ? gotA : gotB, partnerExpected, sizeof expected))
                    << k->name << " pair partner, limit " << limit << " trial " << trial;
            }
        }
    }
}

TEST(FastKernels, VectorLimitKeepsEveryRowPassOutputWithin16Bits) {
    // Largest sum of coefficient magnitudes of any output of the regrouped pass.
    const int gains = 8192 * 2 + 10704 + 4433 + 11363 + 2261 + 6437 + 9633;
    EXPECT_LE((static_cast<std::int64_t>(gains) * detail::kVectorIdctLimit + 1024) >> 11, 32767);
    EXPECT_LT(static_cast<std::int64_t>(gains) * 32767 + 131072, std::int64_t{1} << 31);
}

TEST(FastKernels, ColourTablesHoldTheTruncatedDoubleProducts) {
    const detail::ColourTables& t = detail::colourTables();
    for (int d = -detail::kColourTableHalf; d < detail::kColourTableHalf; ++d) {
        const int i = d + detail::kColourTableHalf;
        ASSERT_EQ(t.blueFromCb[i], static_cast<int>(1.772 * d)) << d;
        ASSERT_EQ(t.greenFromCb[i], static_cast<int>(0.34414 * d)) << d;
        ASSERT_EQ(t.greenFromCr[i], static_cast<int>(0.71414 * d)) << d;
        ASSERT_EQ(t.redFromCr[i], static_cast<int>(1.402 * d)) << d;
    }
}

TEST(FastKernels, ColourFactorsGiveTheTruncatedDoubleProductsOverTheTablesDomain) {
    const double factors[4] = {1.772, 0.34414, 0.71414, 1.402};
    for (int f = 0; f < 4; ++f) {
        const detail::ColourFactor& c = detail::kColourFactors[f];
        ASSERT_EQ(c.factor, factors[f]);
        for (std::int64_t d = -detail::kColourTableHalf; d < detail::kColourTableHalf; ++d) {
            const std::int64_t magnitude = d < 0 ? -d : d;
            ASSERT_LT(magnitude * c.multiplier, std::int64_t{1} << 31);
            const std::int64_t product = (magnitude * c.multiplier) >> c.shift;
            ASSERT_EQ(d < 0 ? -product : product, static_cast<int>(c.factor * d))
                << c.factor << " " << d;
        }
    }
}

void expectMcuMatches(const Kernels& k, const std::int32_t (*samples)[64], const char* what,
                      bool lumaSmall) {
    std::uint8_t got[8 * 48], want[8 * 48];
    // Rows go down in memory from the top row: give the kernel the last row as top.
    k.convertMcu(samples, got + 7 * 48, 48, lumaSmall);
    for (int j = 0; j < 8; ++j) {
        for (int i = 0; i < 16; ++i) {
            detail::convertPixelReference(samples[i < 8 ? 0 : 1][8 * j + i % 8],
                                          samples[2][8 * j + i / 2], samples[3][8 * j + i / 2],
                                          want + (7 - j) * 48 + 3 * i);
        }
    }
    ASSERT_EQ(0, std::memcmp(got, want, sizeof got)) << k.name << " " << what;
}

TEST(FastKernels, ColourConversionMatchesForEvery8BitSampleTriple) {
    alignas(16) std::int32_t samples[4][64];
    for (const Kernels* k : kernelSets()) {
        for (int cb = 0; cb < 256; ++cb) {
            for (int cr = 0; cr < 256; ++cr) {
                for (int half = 0; half < 2; ++half) {
                    for (int i = 0; i < 64; ++i) {
                        samples[0][i] = 128 * half + i;
                        samples[1][i] = 128 * half + 64 + i;
                        samples[2][i] = cb;
                        samples[3][i] = cr;
                    }
                    expectMcuMatches(*k, samples, "8-bit", true);
                    expectMcuMatches(*k, samples, "8-bit, checked", false);
                }
            }
        }
    }
}

TEST(FastKernels, ColourConversionIsExactOverTheTablesWholeDomain) {
    // Every chroma difference the tables hold, Cr running the other way; luma cancels the
    // term under test so that an error of one level is not hidden by clamping.
    alignas(16) std::int32_t samples[4][64];
    for (const Kernels* k : kernelSets()) {
        for (int channel = 0; channel < 3; ++channel) {
            for (int first = -detail::kColourTableHalf; first < detail::kColourTableHalf;
                 first += 64) {
                for (int i = 0; i < 64; ++i) {
                    const int d1 = first + i, d2 = -1 - d1;
                    samples[2][i] = 128 + d1;
                    samples[3][i] = 128 + d2;
                    const int term = channel == 0   ? static_cast<int>(1.772 * d1)
                                     : channel == 1 ? -static_cast<int>(0.34414 * d1) -
                                                          static_cast<int>(0.71414 * d2)
                                                    : static_cast<int>(1.402 * d2);
                    // Chroma sample (j, c) meets two luma samples of the left or right block.
                    const int j = i / 8, c = i % 8;
                    std::int32_t* luma = samples[c < 4 ? 0 : 1] + 8 * j + 2 * (c % 4);
                    luma[0] = luma[1] = 128 - term;
                }
                expectMcuMatches(*k, samples, "whole domain", true);
            }
        }
    }
}

TEST(FastKernels, ColourConversionMatchesFarOutsideTheTables) {
    std::mt19937 rng(99);
    const std::int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -2000000000,   -70000,   -1153,
                                     -1152,     -897,          -896,          -1,       0,
                                     255,       256,           1151,          1152,     1153,
                                     70000,     2000000000,    INT32_MAX - 1, INT32_MAX};
    std::uniform_int_distribution<int> pick(0, sizeof extremes / sizeof extremes[0] - 1);
    std::uniform_int_distribution<std::int32_t> near(-3000, 3000);
    alignas(16) std::int32_t samples[4][64];
    for (const Kernels* k : kernelSets()) {
        for (int trial = 0; trial < 20000; ++trial) {
            for (auto& block : samples) {
                for (std::int32_t& v : block) {
                    v = rng() % 3 == 0 ? extremes[pick(rng)] : near(rng);
                }
            }
            expectMcuMatches(*k, samples, "wide", false);
            // Luma as small as the vector transform guarantees, which lets a kernel skip its
            // own check.
            std::uniform_int_distribution<std::int32_t> small(-8000, 8000);
            for (int b = 0; b < 2; ++b) {
                for (std::int32_t& v : samples[b]) {
                    v = small(rng);
                }
            }
            expectMcuMatches(*k, samples, "small luma", true);
        }
    }
}

// Random stream material: tables that may be odd or overfull, coefficients of any size,
// entropy bytes that may be random, and random damage afterwards.
Bytes randomStream(std::mt19937& rng) {
    auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
    Bytes out = soi();
    auto add = [&](const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); };
    add(dqtUniform(0, chance(50) ? 1 : 1 + static_cast<int>(rng() % 255)));
    add(dqtUniform(1, 1 + static_cast<int>(rng() % 255)));
    const bool simple = chance(50);
    for (int cls = 0; cls < 2; ++cls) {
        for (int number = 0; number < 2; ++number) {
            if (simple && number == 0) {
                add(cls == 0 ? simpleDcTable(0) : simpleAcTable(0));
                continue;
            }
            std::vector<int> counts(16, 0);
            int total = 0;
            const int lengths = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < lengths; ++i) {
                const int k = static_cast<int>(rng() % 16);
                counts[k] = static_cast<int>(rng() % (chance(20) ? 256 : 8));
            }
            for (int c : counts)
                total += c;
            Bytes symbols(static_cast<std::size_t>(total));
            for (auto& s : symbols)
                s = static_cast<std::uint8_t>(cls == 0 ? rng() % (chance(5) ? 256 : 12)
                                                       : rng() % 256);
            add(dht(cls, number, counts, symbols));
        }
    }
    // Now and then a frame of over 1000 MCUs, which the fast path decodes with wider tables.
    const bool big = chance(2);
    const int w = big ? 1024 + static_cast<int>(rng() % 64) : 1 + static_cast<int>(rng() % 64);
    const int h = big ? 384 + static_cast<int>(rng() % 24) : 1 + static_cast<int>(rng() % 24);
    add(sof0(w, h, 0, static_cast<int>(rng() % 2)));
    const int sel[] = {0x00, 0x01, 0x10, 0x11};
    add(simple ? sos() : sos(sel[rng() % 4], sel[rng() % 4], sel[rng() % 4]));
    if (simple) {
        EntropyWriter writer;
        const int mcus = ((w + 15) / 16) * ((h + 7) / 8);
        for (int m = 0; m < 4 * mcus; ++m) {
            Block b;
            b.dcDiff = static_cast<int>(rng() % 2001) - 1000;
            const int n = static_cast<int>(rng() % 6);
            int at = 0;
            for (int i = 0; i < n; ++i) {
                at += 1 + static_cast<int>(rng() % 12);
                if (at > 63)
                    break;
                const int mag = chance(10) ? 2047 : 60;
                int v = static_cast<int>(rng() % (2 * mag + 1)) - mag;
                b.ac.push_back({at, v == 0 ? 1 : v});
            }
            writer.block(b);
        }
        add(writer.finish());
    } else {
        const int n = static_cast<int>(rng() % 400);
        for (int i = 0; i < n; ++i)
            out.push_back(static_cast<std::uint8_t>(chance(3) ? 0xFF : rng()));
    }
    if (chance(70))
        add(eoi());
    if (chance(30)) {
        for (int i = static_cast<int>(rng() % 8); i > 0; --i)
            out.push_back(static_cast<std::uint8_t>(rng()));
    }
    // Damage.
    if (chance(50)) {
        for (int i = static_cast<int>(rng() % 4); i >= 0; --i) {
            out[rng() % out.size()] = static_cast<std::uint8_t>(rng());
        }
    }
    if (chance(20))
        out.resize(rng() % out.size() + 1);
    return out;
}

struct Outcome {
    bool ok;
    DecodeError error;
    std::vector<std::uint8_t> pixels;
};

Outcome run(JpegDecoder& d, const std::uint8_t* p) {
    Outcome o{p != nullptr, d.lastError(), {}};
    if (p != nullptr)
        o.pixels.assign(p, p + d.imageHeader().imageSize);
    return o;
}

class FastPath : public ::testing::TestWithParam<const Kernels*> {
protected:
    void SetUp() override { detail::useKernels(GetParam()); }
    void TearDown() override { detail::useKernels(nullptr); }
};

INSTANTIATE_TEST_SUITE_P(EveryKernelSet, FastPath, ::testing::ValuesIn(kernelSets()),
                         [](const auto& info) { return std::string(info.param->name); });

TEST_P(FastPath, AgreesWithThePlainPathOnRandomAndDamagedStreams) {
    RecordingUi ui;
    std::mt19937 rng(20261208);
    int decoded = 0;
    // One file per kernel set: CTest runs the sets side by side in separate processes.
    const std::string path = ::testing::TempDir() + "/random-" + GetParam()->name + ".jpg";
    for (int trial = 0; trial < 4000; ++trial) {
        const Bytes stream = randomStream(rng);
        const auto n = static_cast<std::uint32_t>(stream.size());
        JpegDecoder plain(ui, ScanPath::Reference), fast(ui, ScanPath::Fast);
        const Outcome a = run(plain, plain.decodeMemory(stream.data(), n));
        const Outcome b = run(fast, fast.decodeMemory(stream.data(), n));
        ASSERT_EQ(a.ok, b.ok) << trial;
        ASSERT_EQ(a.error, b.error) << trial;
        ASSERT_TRUE(a.pixels == b.pixels) << trial;
        decoded += a.ok;
        if (trial % 8 == 0) {
            // File mode goes on from where the scan left the cursor.
            std::FILE* f = std::fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            std::fwrite(stream.data(), 1, stream.size(), f);
            std::fclose(f);
            JpegDecoder plainFile(ui, ScanPath::Reference), fastFile(ui, ScanPath::Fast);
            const Outcome c = run(plainFile, plainFile.decodeFile(path.c_str()));
            const Outcome e = run(fastFile, fastFile.decodeFile(path.c_str()));
            ASSERT_EQ(c.ok, e.ok) << trial;
            ASSERT_EQ(c.error, e.error) << trial;
            ASSERT_TRUE(c.pixels == e.pixels) << trial;
        }
    }
    std::remove(path.c_str());
    EXPECT_GT(decoded, 400); // enough of them decode for the pixel comparison to count
}

TEST_P(FastPath, AgreesOnEveryTruncationOfAGoldenFile) {
    RecordingUi ui;
    const std::vector<std::uint8_t> file = readFile(dataPath("cjpeg_33x17_q95.jpg"));
    for (std::size_t n = 2; n <= file.size(); ++n) {
        JpegDecoder plain(ui, ScanPath::Reference), fast(ui, ScanPath::Fast);
        const Outcome a =
            run(plain, plain.decodeMemory(file.data(), static_cast<std::uint32_t>(n)));
        const Outcome b = run(fast, fast.decodeMemory(file.data(), static_cast<std::uint32_t>(n)));
        ASSERT_EQ(a.ok, b.ok) << n;
        ASSERT_EQ(a.error, b.error) << n;
        ASSERT_TRUE(a.pixels == b.pixels) << n;
    }
}

} // namespace
} // namespace jpeg
