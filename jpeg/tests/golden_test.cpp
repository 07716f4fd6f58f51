// Golden files made by real encoders (cjpeg from libjpeg-turbo, ImageMagick): baseline,
// luma 2x1, sizes that are and are not multiples of 16 x 8. Their DIB bytes are pinned,
// both scan paths and both input modes must agree, and natively libjpeg-turbo's decode of
// the same files must be close (it rounds and range-limits differently, so not equal).
#include "jpeg/jpeg_decoder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#ifdef LV_HAVE_LIBJPEG
#include <cstdio>
#include <jpeglib.h>
#endif

namespace jpeg {
namespace {

using namespace jpeg::testing;

struct Golden {
    const char* file;
    int width, height;  // as encoded
    std::uint64_t hash; // FNV-1a of the 40-byte header and the pixel buffer
};

const Golden kGolden[] = {
    {"cjpeg_100x75_q75.jpg", 100, 75, 0xaa4b0a696fd97f8cull},
    {"cjpeg_16x8_q50.jpg", 16, 8, 0xca5f7b5e3d8f8cd4ull},
    {"cjpeg_33x17_q95.jpg", 33, 17, 0x94c0ebf5b4e0b84eull},
    {"cjpeg_160x120_q75.jpg", 160, 120, 0xee1a54cb77f26795ull},
    {"cjpeg_640x480_q85.jpg", 640, 480, 0x8ccb4d6c6b1a7b3cull},
    {"cjpeg_1030x398_q70.jpg", 1030, 398, 0x30ba47465c6a4511ull}, // 3250 MCUs
    {"cjpeg_1x1_q100.jpg", 1, 1, 0xfd8c998edaf39bcbull},
    {"cjpeg_250x9_q30.jpg", 250, 9, 0xaa8169eb89e701b8ull},
    {"magick_100x75_q90.jpg", 100, 75, 0x6a399b60148a61b5ull},
    {"magick_160x120_q60.jpg", 160, 120, 0x5cfd00e5ec4a54c6ull},
    {"magick_33x17_q75.jpg", 33, 17, 0xda1f1ba81645d7a5ull},
    {"cjpeg_grey200_40x20_q75.jpg", 40, 20, 0x0d0e72b6ce218db7ull},
};

class GoldenTest : public ::testing::TestWithParam<Golden> {};

INSTANTIATE_TEST_SUITE_P(Files, GoldenTest, ::testing::ValuesIn(kGolden), [](const auto& info) {
    std::string name = info.param.file;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
});

std::vector<std::uint8_t> decodeWith(ScanPath path, const Golden& g, bool fileMode,
                                     platform::BitmapInfoHeader& header) {
    RecordingUi ui;
    JpegDecoder decoder(ui, path);
    const std::string file = dataPath(g.file);
    const std::vector<std::uint8_t> bytes = readFile(file);
    const std::uint8_t* pixels =
        fileMode ? decoder.decodeFile(file.c_str())
                 : decoder.decodeMemory(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_NE(pixels, nullptr) << describe(decoder.lastError());
    if (pixels == nullptr) {
        return {};
    }
    header = decoder.imageHeader();
    std::vector<std::uint8_t> out(pixels, pixels + header.imageSize);
    decoder.releaseBuffers();
    return out;
}

TEST_P(GoldenTest, DecodesToThePinnedBytesOnBothPathsAndModes) {
    const Golden& g = GetParam();
    platform::BitmapInfoHeader header{};
    const std::vector<std::uint8_t> reference = decodeWith(ScanPath::Reference, g, true, header);
    ASSERT_FALSE(reference.empty());
    const int paddedWidth = (g.width + 15) / 16 * 16;
    const int paddedHeight = (g.height + 7) / 8 * 8;
    EXPECT_EQ(header.width, paddedWidth);
    EXPECT_EQ(header.height, paddedHeight);
    EXPECT_EQ(header.imageSize, static_cast<std::uint32_t>(paddedWidth * paddedHeight * 3));
    EXPECT_EQ(header.xPelsPerMeter, 2835);

    for (ScanPath path : {ScanPath::Reference, ScanPath::Fast}) {
        for (bool fileMode : {false, true}) {
            platform::BitmapInfoHeader other{};
            EXPECT_EQ(decodeWith(path, g, fileMode, other), reference)
                << (path == ScanPath::Fast ? "fast" : "reference")
                << (fileMode ? " file" : " memory");
        }
    }
    const std::uint64_t hash = fnv1a(reference.data(), reference.size(), fnv1a(&header, 40));
    EXPECT_EQ(hash, g.hash) << std::hex << "0x" << hash << "ull";
}

TEST(GoldenGrey, UniformGreyDecodesToItsLevelEverywhere) {
    // cjpeg codes grey 200 as luma DC 72 (level 200 - 128) at quantiser 8 and chroma 0; the
    // decoder gives (576 x 8192 + 1024) >> 11 = 2304, then (2304 x 8192 + 131072) >> 18 = 72,
    // + 128 = 200 in every pixel, padding included (the encoder repeats the edge).
    RecordingUi ui;
    JpegDecoder decoder(ui);
    const std::uint8_t* pixels =
        decoder.decodeFile(dataPath("cjpeg_grey200_40x20_q75.jpg").c_str());
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(decoder.imageHeader().width, 48);
    EXPECT_EQ(decoder.imageHeader().height, 24);
    for (std::uint32_t i = 0; i < decoder.imageHeader().imageSize; ++i) {
        ASSERT_EQ(pixels[i], 200) << i;
    }
}

#ifdef LV_HAVE_LIBJPEG
// libjpeg-turbo's islow decode with plain (replicating) upsampling, as BGR rows top-down.
std::vector<std::uint8_t> decodeWithLibjpeg(const std::vector<std::uint8_t>& bytes) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(info.output_width) * info.output_height *
                                  3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            out.data() + static_cast<std::size_t>(info.output_scanline) * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

TEST_P(GoldenTest, IsCloseToLibjpegTurbo) {
    const Golden& g = GetParam();
    platform::BitmapInfoHeader header{};
    const std::vector<std::uint8_t> ours = decodeWith(ScanPath::Fast, g, false, header);
    ASSERT_FALSE(ours.empty());
    const std::vector<std::uint8_t> theirs = decodeWithLibjpeg(readFile(dataPath(g.file)));
    double squared = 0;
    int worst = 0;
    for (int y = 0; y < g.height; ++y) {
        const std::uint8_t* a =
            ours.data() + static_cast<std::size_t>(header.height - 1 - y) * header.width * 3;
        const std::uint8_t* b = theirs.data() + static_cast<std::size_t>(y) * g.width * 3;
        for (int i = 0; i < g.width * 3; ++i) {
            const int d = a[i] - b[i];
            squared += d * d;
            worst = std::max(worst, std::abs(d));
        }
    }
    const double mse = squared / (3.0 * g.width * g.height);
    const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    EXPECT_GT(psnr, 40.0) << "worst difference " << worst;
    EXPECT_LE(worst, 8);
}
#endif

} // namespace
} // namespace jpeg
