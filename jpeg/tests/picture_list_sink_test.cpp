// decodePicture into the real picture catalogue, through PictureListSink.
#include "browser/picture_list.h"
#include "jpeg/decode_picture.h"
#include "jpeg/jpeg_decoder.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace jpeg {
namespace {

using namespace jpeg::testing;

TEST(PictureListSink, CameraThumbnailAndFolderFileLandInTheCatalogue) {
    RecordingUi ui;
    browser::PictureList list;
    PictureListSink<browser::PictureList> sink(list);
    const long blocks = platform::memcheck::liveGlobalBlocks();

    std::vector<std::uint8_t> file(kThumbnailStreamOffset, 0);
    const std::vector<std::uint8_t> stream = readFile(dataPath("cjpeg_160x120_q75.jpg"));
    file.insert(file.end(), stream.begin(), stream.end());
    ASSERT_EQ(1, decodePicture(ui, sink, file.data(), 500000,
                               static_cast<std::uint32_t>(file.size()), "S0000007", 1, nullptr));
    EXPECT_STREQ(list.currentName(), "S0000007");
    EXPECT_EQ(list.currentSize(), 500000u);
    EXPECT_EQ(list.currentThumbSize(), file.size());
    ASSERT_NE(list.currentInfo(), nullptr);
    EXPECT_EQ(list.currentInfo()->width, 1792);
    EXPECT_EQ(list.currentInfo()->height, 1200);

    // 160 x 120 is reduced by 2 to 80 x 60: thumbnail row r from the top is picture row 2r.
    const platform::GlobalHandle thumb = list.currentThumbnail();
    ASSERT_NE(thumb, nullptr);
    const auto* t = static_cast<const std::uint8_t*>(platform::globalLock(thumb));
    platform::BitmapInfoHeader header;
    std::memcpy(&header, t, 40);
    EXPECT_EQ(header.width, 80);
    EXPECT_EQ(header.height, 60);
    JpegDecoder decoder(ui);
    const std::uint8_t* pixels =
        decoder.decodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()));
    ASSERT_NE(pixels, nullptr);
    for (int r : {0, 17, 59}) {
        for (int x : {0, 33, 79}) {
            const std::uint8_t* got = t + 40 + (59 - r) * platform::dibStride(80) + 3 * x;
            const std::uint8_t* want = pixels + (119 - 2 * r) * 160 * 3 + 3 * (2 * x);
            EXPECT_EQ(0, std::memcmp(got, want, 3)) << r << "," << x;
        }
    }
    platform::globalUnlock(thumb);

    ASSERT_EQ(1, decodePicture(ui, sink, nullptr, 0, 0, dataPath("cjpeg_640x480_q85.jpg").c_str(),
                               1, nullptr));
    EXPECT_EQ(list.currentInfo()->width, 640);
    EXPECT_EQ(list.currentInfo()->height, 480);
    // The full DIBs were freed once the thumbnails were made; the two thumbnails remain
    // (counted by the portable memory seam only).
    if (canInjectAllocationFailures()) {
        EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocks + 2);
    }
    EXPECT_TRUE(ui.messages.empty());
}

} // namespace
} // namespace jpeg
