#include "browser/picture_list.h"
#include "browser/tests/dib_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace browser {
namespace {

using testing::blockBytes;
using testing::makePicture;
using testing::pixelAt;
using testing::sourcePixel;

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

struct Reduction {
    std::int32_t width, height;
    std::uint32_t thumbWidth, thumbHeight, stride, factor;
};

class ThumbnailSize : public ::testing::TestWithParam<Reduction> {};

TEST_P(ThumbnailSize, ReducesByTheFactorAndDecimatesFromTheTop) {
    const Reduction r = GetParam();
    platform::GlobalHandle picture = makePicture(r.width, r.height);
    ASSERT_NE(picture, nullptr);
    platform::BitmapInfoHeader copy{};
    platform::GlobalHandle thumb = makeThumbnail(picture, &copy);
    ASSERT_NE(thumb, nullptr);

    const std::vector<std::uint8_t> bytes = blockBytes(thumb);
    ASSERT_EQ(bytes.size(), 40u + r.thumbHeight * r.stride);
    EXPECT_EQ(le32(bytes, 4), r.thumbWidth);
    EXPECT_EQ(le32(bytes, 8), r.thumbHeight);
    EXPECT_EQ(le32(bytes, 20), r.thumbHeight * r.stride);
    EXPECT_EQ(copy.width, r.width);
    EXPECT_EQ(copy.height, r.height);
    EXPECT_EQ(copy.xPelsPerMeter, 2835);

    for (std::uint32_t y = 0; y < r.thumbHeight; ++y) {
        for (std::uint32_t x = 0; x < r.thumbWidth; ++x) {
            ASSERT_EQ(pixelAt(bytes, x, y), sourcePixel(x * r.factor, y * r.factor))
                << "thumbnail pixel " << x << "," << y;
        }
        // row padding stays zero
        for (std::uint32_t pad = r.thumbWidth * 3; pad < r.stride; ++pad) {
            ASSERT_EQ(bytes[40 + std::size_t{y} * r.stride + pad], 0);
        }
    }
    platform::globalFree(thumb);
    platform::globalFree(picture);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ThumbnailSize,
    ::testing::Values(Reduction{640, 480, 91, 68, 276, 7},    // camera VGA
                      Reduction{1792, 1200, 89, 60, 268, 20}, // camera full size
                      Reduction{80, 60, 80, 60, 240, 1},      // small enough already
                      Reduction{112, 80, 56, 40, 168, 2},     // 112 x 70 / 80 = 98: width rule
                      Reduction{160, 120, 80, 60, 240, 2},
                      Reduction{94, 70, 94, 70, 284, 1}, // the largest kept whole
                      Reduction{1, 1, 1, 1, 4, 1},
                      Reduction{70, 1000, 4, 66, 12, 15}), // tall: height rule
    [](const ::testing::TestParamInfo<Reduction>& info) {
        return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

TEST(Thumbnail, HeaderBytesOfAVgaThumbnail) {
    platform::GlobalHandle picture = makePicture(640, 480);
    platform::GlobalHandle thumb = makeThumbnail(picture, nullptr);
    ASSERT_NE(thumb, nullptr);
    const std::vector<std::uint8_t> bytes = blockBytes(thumb);
    // 91 x 68, stride 276, 68 x 276 = 18768 = 0x4950 bytes of pixels, resolutions 0
    const std::uint8_t expected[40] = {0x28, 0x00, 0x00, 0x00, 0x5B, 0x00, 0x00, 0x00, 0x44, 0x00,
                                       0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x50, 0x49, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    ASSERT_GE(bytes.size(), 40u);
    EXPECT_EQ(0, std::memcmp(bytes.data(), expected, 40));
    EXPECT_EQ(bytes.size(), 40u + 18768u);
    platform::globalFree(thumb);
    platform::globalFree(picture);
}

TEST(Thumbnail, BottomStoredRowIsNotTheSourceBottomRow) {
    // 640 x 480 by 7: the last thumbnail row is source row 67 x 7 = 469 from the top, so the
    // source's bottom ten rows never appear.
    platform::GlobalHandle picture = makePicture(640, 480);
    platform::GlobalHandle thumb = makeThumbnail(picture, nullptr);
    const std::vector<std::uint8_t> bytes = blockBytes(thumb);
    // first stored row, first pixel: blue = column 0, green = 469 & 0xFF, red = 469 >> 8 << 4
    EXPECT_EQ(bytes[40], 0);
    EXPECT_EQ(bytes[41], 469 & 0xFF);
    EXPECT_EQ(bytes[42], 0x10);
    platform::globalFree(thumb);
    platform::globalFree(picture);
}

TEST(Thumbnail, SourceHeaderIsCopiedByteForByte) {
    platform::GlobalHandle picture = makePicture(160, 120);
    const std::vector<std::uint8_t> source = blockBytes(picture);
    std::uint8_t copy[40];
    std::memset(copy, 0xAA, sizeof copy);
    platform::GlobalHandle thumb =
        makeThumbnail(picture, reinterpret_cast<platform::BitmapInfoHeader*>(copy));
    ASSERT_NE(thumb, nullptr);
    // 160 x 120 full picture with 2835 (0x0B13) pixels per metre
    const std::uint8_t expected[40] = {0x28, 0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x78, 0x00,
                                       0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0xE1, 0x00, 0x00, 0x13, 0x0B, 0x00, 0x00, 0x13, 0x0B,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(copy, expected, 40));
    EXPECT_EQ(0, std::memcmp(source.data(), expected, 40));
    platform::globalFree(thumb);
    platform::globalFree(picture);
}

TEST(Thumbnail, NothingIsMadeFromPicturesThatHoldNoThumbnail) {
    const long before = platform::memcheck::liveGlobalBlocks();
    struct Case {
        std::int32_t width, height;
    };
    for (Case c : {Case{0, 480}, Case{640, 0}, Case{0, 0}, Case{-640, 480}, Case{640, -480},
                   Case{1000, 1}}) {
        platform::GlobalHandle picture = makePicture(c.width, c.height);
        ASSERT_NE(picture, nullptr);
        platform::BitmapInfoHeader copy{};
        EXPECT_EQ(makeThumbnail(picture, &copy), nullptr) << c.width << " x " << c.height;
        EXPECT_EQ(copy.width, c.width); // the caller still learns what the picture was
        EXPECT_EQ(copy.height, c.height);
        platform::globalFree(picture);
    }
    EXPECT_EQ(makeThumbnail(nullptr, nullptr), nullptr);
    EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), before);
}

TEST(Thumbnail, RejectsBlocksShorterThanTheirHeaderOrNot24Bit) {
    // a header claiming 640 x 480 on a block with room for 10 rows
    platform::GlobalHandle shortBlock = platform::globalAlloc(40 + 1920 * 10);
    platform::GlobalHandle tinyBlock = platform::globalAlloc(20);
    platform::GlobalHandle palette = makePicture(64, 48);
    auto* h = static_cast<platform::BitmapInfoHeader*>(platform::globalLock(shortBlock));
    h->size = 40;
    h->width = 640;
    h->height = 480;
    h->planes = 1;
    h->bitCount = 24;
    platform::globalUnlock(shortBlock);
    static_cast<platform::BitmapInfoHeader*>(platform::globalLock(palette))->bitCount = 8;
    platform::globalUnlock(palette);

    EXPECT_EQ(makeThumbnail(shortBlock, nullptr), nullptr);
    EXPECT_EQ(makeThumbnail(tinyBlock, nullptr), nullptr);
    EXPECT_EQ(makeThumbnail(palette, nullptr), nullptr);
    platform::globalFree(shortBlock);
    platform::globalFree(tinyBlock);
    platform::globalFree(palette);
}

#ifndef _WIN32
TEST(Thumbnail, FailedAllocationGivesNullAndLeaksNothing) {
    platform::GlobalHandle picture = makePicture(640, 480);
    const long before = platform::memcheck::liveGlobalBlocks();
    platform::memcheck::failAllocationsAfter(0);
    EXPECT_EQ(makeThumbnail(picture, nullptr), nullptr);
    platform::memcheck::stopFailingAllocations();
    EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), before);
    platform::globalFree(picture);
}
#endif

} // namespace
} // namespace browser
