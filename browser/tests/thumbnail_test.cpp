#include "browser/picture_list.h"
#include "browser/tests/dib_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace browser {
namespace {

using namespace browser::testing;

struct Reduction {
    std::int32_t width, height;
    std::uint32_t thumbWidth, thumbHeight, stride, factor;
};

class ThumbnailSize : public ::testing::TestWithParam<Reduction> {};

TEST_P(ThumbnailSize, ReducesByTheFactorAndDecimatesFromTheTop) {
    const Reduction r = GetParam();
    platform::GlobalHandle picture = makePicture(r.width, r.height);
    platform::BitmapInfoHeader copy{};
    platform::GlobalHandle thumb = makeThumbnail(picture, &copy);
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(copy.width, r.width);
    EXPECT_EQ(copy.xPelsPerMeter, 2835);

    const std::vector<std::uint8_t> bytes = blockBytes(thumb);
    ASSERT_EQ(bytes.size(), 40u + r.thumbHeight * r.stride);
    EXPECT_EQ(le32(bytes, 4), r.thumbWidth);
    EXPECT_EQ(le32(bytes, 8), r.thumbHeight);
    EXPECT_EQ(le32(bytes, 20), r.thumbHeight * r.stride);
    for (std::uint32_t y = 0; y < r.thumbHeight; ++y) {
        for (std::uint32_t x = 0; x < r.thumbWidth; ++x) {
            ASSERT_EQ(pixelAt(bytes, x, y), sourcePixel(x * r.factor, y * r.factor))
                << "thumbnail pixel " << x << "," << y;
        }
        for (std::uint32_t pad = r.thumbWidth * 3; pad < r.stride; ++pad) {
            ASSERT_EQ(bytes[40 + std::size_t{y} * r.stride + pad], 0) << "row " << y;
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
                      Reduction{94, 70, 94, 70, 284, 1},      // the largest kept whole
                      Reduction{1, 1, 1, 1, 4, 1},
                      Reduction{70, 1000, 4, 66, 12, 15}), // tall: height rule
    [](const ::testing::TestParamInfo<Reduction>& info) {
        return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
    });

TEST(Thumbnail, HeaderBytesAndRowOrderOfAVgaThumbnail) {
    platform::GlobalHandle picture = makePicture(640, 480);
    std::uint8_t copy[40];
    platform::GlobalHandle thumb =
        makeThumbnail(picture, reinterpret_cast<platform::BitmapInfoHeader*>(copy));
    ASSERT_NE(thumb, nullptr);
    const std::vector<std::uint8_t> bytes = blockBytes(thumb);
    // 91 x 68, 1 plane, 24 bits, stride 276: 68 x 276 = 18768 = 0x4950 bytes, resolutions 0
    const std::uint8_t thumbHeader[40] = {0x28, 0, 0,    0, 0x5B, 0, 0, 0, 0x44, 0,    0, 0,
                                          1,    0, 0x18, 0, 0,    0, 0, 0, 0x50, 0x49, 0, 0};
    // the source: 640 x 480, 921600 = 0x0E1000 bytes, 2835 = 0x0B13 pixels per metre
    const std::uint8_t sourceHeader[40] = {0x28, 0,    0,    0, 0x80, 2,    0, 0, 0xE0, 1,
                                           0,    0,    1,    0, 0x18, 0,    0, 0, 0,    0,
                                           0,    0x10, 0x0E, 0, 0x13, 0x0B, 0, 0, 0x13, 0x0B};
    EXPECT_EQ(0, std::memcmp(bytes.data(), thumbHeader, 40));
    EXPECT_EQ(0, std::memcmp(copy, sourceHeader, 40));
    EXPECT_EQ(bytes.size(), 40u + 18768u);
    // The first stored row is the thumbnail's bottom row 67, source row 469 from the top:
    // blue = column 0, green = 469 & 0xFF, red = (469 >> 8) << 4. The source's bottom ten
    // rows never appear.
    EXPECT_EQ(bytes[40], 0);
    EXPECT_EQ(bytes[41], 469 & 0xFF);
    EXPECT_EQ(bytes[42], 0x10);
    platform::globalFree(thumb);
    platform::globalFree(picture);
}

TEST(Thumbnail, NothingIsMadeFromAPictureThatHoldsNone) {
    const long before = platform::memcheck::liveGlobalBlocks();
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{0, 480},    {640, 0},    {0, 0},
                                                           {-640, 480}, {640, -480}, {1000, 1}};
    for (auto [width, height] : sizes) {
        platform::GlobalHandle picture = makePicture(width, height);
        platform::BitmapInfoHeader copy{};
        EXPECT_EQ(makeThumbnail(picture, &copy), nullptr) << width << " x " << height;
        EXPECT_EQ(copy.width, width); // the caller still learns what the picture was
        EXPECT_EQ(copy.height, height);
        platform::globalFree(picture);
    }
    EXPECT_EQ(makeThumbnail(nullptr, nullptr), nullptr);

    // a header promising more rows than the block holds; a block shorter than a header;
    // a palette picture
    platform::GlobalHandle shortBlock = makePicture(640, 10);
    platform::GlobalHandle tinyBlock = platform::globalAlloc(20);
    platform::GlobalHandle palette = makePicture(64, 48);
    static_cast<platform::BitmapInfoHeader*>(platform::globalLock(shortBlock))->height = 480;
    static_cast<platform::BitmapInfoHeader*>(platform::globalLock(palette))->bitCount = 8;
    platform::globalUnlock(shortBlock);
    platform::globalUnlock(palette);
    for (platform::GlobalHandle block : {shortBlock, tinyBlock, palette}) {
        EXPECT_EQ(makeThumbnail(block, nullptr), nullptr);
        platform::globalFree(block);
    }
    EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), before);
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
