// decodePicture for its four callers, against a recording catalogue.
#include "jpeg/decode_picture.h"
#include "jpeg/jpeg_decoder.h"
#include "jpeg/out_of_memory.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include "jpeg/tests/temp_path.h"
#include <cstring>

namespace jpeg {
namespace {

using namespace jpeg::testing;

struct Added {
    std::string name;
    std::uint32_t pictureSize, thumbSize;
    std::vector<std::uint8_t> dib; // copied: the block is freed right after add
};

class RecordingSink : public PictureSink {
public:
    bool add(const char* name, std::uint32_t pictureSize, std::uint32_t thumbSize,
             platform::GlobalHandle picture) override {
        const auto* bytes = static_cast<const std::uint8_t*>(platform::globalLock(picture));
        Added a{name != nullptr ? name : "", pictureSize, thumbSize,
                std::vector<std::uint8_t>(bytes, bytes + platform::globalSize(picture))};
        platform::globalUnlock(picture);
        added.push_back(a);
        return accept;
    }
    void setCurrentInfo(const platform::BitmapInfoHeader* header) override {
        infos.push_back(*header);
    }
    bool accept = true;
    std::vector<Added> added;
    std::vector<platform::BitmapInfoHeader> infos;
};

std::vector<std::uint8_t> thumbnailFile(const std::string& golden) {
    std::vector<std::uint8_t> file(kThumbnailStreamOffset, 0x5A);
    file[0] = 0xFF; // the preamble is not a stream even if it looks like one
    file[1] = 0xD8;
    const std::vector<std::uint8_t> stream = readFile(dataPath(golden));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// The pixels the decoder makes of a golden file, for comparison with the DIB.
std::vector<std::uint8_t> decodedPixels(const std::string& golden) {
    RecordingUi ui;
    JpegDecoder decoder(ui);
    const std::uint8_t* pixels = decoder.decodeFile(dataPath(golden).c_str());
    return std::vector<std::uint8_t>(pixels, pixels + decoder.imageHeader().imageSize);
}

class DecodePictureTest : public ::testing::Test {
protected:
    void SetUp() override { blocksBefore = platform::memcheck::liveGlobalBlocks(); }
    void TearDown() override { EXPECT_EQ(platform::memcheck::liveGlobalBlocks(), blocksBefore); }
    RecordingUi ui;
    RecordingSink sink;
    long blocksBefore = 0;
};

TEST_F(DecodePictureTest, CameraThumbnailIsAddedWithTheNominalSize) {
    const std::vector<std::uint8_t> file = thumbnailFile("cjpeg_160x120_q75.jpg");
    ASSERT_EQ(1, decodePicture(ui, sink, file.data(), 654321,
                               static_cast<std::uint32_t>(file.size()), "S0000012", 1, nullptr));
    ASSERT_EQ(sink.added.size(), 1u);
    const Added& a = sink.added[0];
    EXPECT_EQ(a.name, "S0000012");
    EXPECT_EQ(a.pictureSize, 654321u);
    EXPECT_EQ(a.thumbSize, file.size());
    ASSERT_EQ(a.dib.size(), 40u + 160 * 120 * 3);
    // Header: 40, 160, 120, planes 1, 24 bits, BI_RGB, 57600 bytes, 2835 x 2835 ppm.
    const std::uint8_t header[40] = {40,   0,    0, 0, 160, 0, 0,    0,    120, 0, 0,    0,    1, 0,
                                     24,   0,    0, 0, 0,   0, 0x00, 0xE1, 0,   0, 0x13, 0x0B, 0, 0,
                                     0x13, 0x0B, 0, 0, 0,   0, 0,    0,    0,   0, 0,    0};
    EXPECT_EQ(0, std::memcmp(a.dib.data(), header, 40));
    EXPECT_EQ(std::vector<std::uint8_t>(a.dib.begin() + 40, a.dib.end()),
              decodedPixels("cjpeg_160x120_q75.jpg"));
    ASSERT_EQ(sink.infos.size(), 1u);
    EXPECT_EQ(sink.infos[0].width, 1792);
    EXPECT_EQ(sink.infos[0].height, 1200);
    EXPECT_EQ(sink.infos[0].imageSize, 57600u); // only width and height are replaced
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DecodePictureTest, NominalSizeFollowsTheFirstLetterOfTheName) {
    const std::vector<std::uint8_t> file = thumbnailFile("cjpeg_100x75_q75.jpg");
    const auto size = static_cast<std::uint32_t>(file.size());
    ASSERT_EQ(1, decodePicture(ui, sink, file.data(), 1000, size, "V0000001", 1, nullptr));
    ASSERT_EQ(1, decodePicture(ui, sink, file.data(), 1000, size, "X0000001", 1, nullptr));
    ASSERT_EQ(sink.infos.size(), 2u);
    EXPECT_EQ(sink.infos[0].width, 640);
    EXPECT_EQ(sink.infos[0].height, 480);
    EXPECT_EQ(sink.infos[1].width, 112); // decoded size, padded
    EXPECT_EQ(sink.infos[1].height, 80);
}

TEST_F(DecodePictureTest, ThumbnailFileNoLongerThanItsPreambleFails) {
    const std::vector<std::uint8_t> file = thumbnailFile("cjpeg_16x8_q50.jpg");
    EXPECT_EQ(0,
              decodePicture(ui, sink, file.data(), 1000, kThumbnailStreamOffset, "S1", 1, nullptr));
    EXPECT_EQ(0, decodePicture(ui, sink, file.data(), 1000, 100, "S1", 1, nullptr));
    EXPECT_EQ(0, decodePicture(ui, sink, nullptr, 1000, 5000, "S1", 1, nullptr));
    EXPECT_TRUE(sink.added.empty());
    EXPECT_TRUE(sink.infos.empty());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DecodePictureTest, FolderFileIsAddedWithItsDecodedSize) {
    const std::string path = dataPath("cjpeg_640x480_q85.jpg");
    ASSERT_EQ(1, decodePicture(ui, sink, nullptr, 0, 0, path.c_str(), 1, nullptr));
    ASSERT_EQ(sink.added.size(), 1u);
    EXPECT_EQ(sink.added[0].name, path);
    EXPECT_EQ(sink.added[0].pictureSize, 0u);
    EXPECT_EQ(sink.added[0].thumbSize, 0u);
    EXPECT_EQ(sink.added[0].dib.size(), 40u + 921600);
    ASSERT_EQ(sink.infos.size(), 1u);
    EXPECT_EQ(sink.infos[0].width, 640);
    EXPECT_EQ(sink.infos[0].height, 480);
}

TEST_F(DecodePictureTest, MissingFileShowsTheFileErrorAndAddsNothing) {
    const std::string path = uniqueTempPrefix() + "no-such-picture.jpg";
    EXPECT_EQ(0, decodePicture(ui, sink, nullptr, 0, 0, path.c_str(), 1, nullptr));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], "JPEG File format error!");
    EXPECT_TRUE(sink.added.empty());
    EXPECT_TRUE(sink.infos.empty());
}

TEST_F(DecodePictureTest, BrokenFileFailsWithoutAMessageOfItsOwn) {
    const std::string path = uniqueTempPrefix() + "broken.jpg";
    std::vector<std::uint8_t> bytes = readFile(dataPath("cjpeg_100x75_q75.jpg"));
    bytes.resize(bytes.size() / 2);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    EXPECT_EQ(0, decodePicture(ui, sink, nullptr, 0, 0, path.c_str(), 1, nullptr));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(sink.added.empty());
    std::remove(path.c_str());
}

TEST_F(DecodePictureTest, FullPicturesAreReturnedToTheCaller) {
    // Camera: the whole fetched file is the stream, and the decoded size is kept.
    const std::vector<std::uint8_t> stream = readFile(dataPath("magick_160x120_q60.jpg"));
    platform::GlobalHandle dib = nullptr;
    ASSERT_EQ(1, decodePicture(ui, sink, stream.data(), static_cast<std::uint32_t>(stream.size()),
                               7000, nullptr, 0, &dib));
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(platform::globalSize(dib), 40u + 57600);
    const auto* bytes = static_cast<const std::uint8_t*>(platform::globalLock(dib));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes + 40, bytes + 40 + 57600),
              decodedPixels("magick_160x120_q60.jpg"));
    platform::globalUnlock(dib);
    platform::globalFree(dib);
    ASSERT_EQ(sink.infos.size(), 1u);
    EXPECT_EQ(sink.infos[0].width, 160);
    EXPECT_TRUE(sink.added.empty());

    // Folder entry.
    dib = nullptr;
    ASSERT_EQ(1, decodePicture(ui, sink, nullptr, 0, 0, dataPath("cjpeg_33x17_q95.jpg").c_str(), 0,
                               &dib));
    EXPECT_EQ(platform::globalSize(dib), 40u + 48 * 24 * 3);
    platform::globalFree(dib);
    EXPECT_EQ(sink.infos.size(), 2u);
}

TEST_F(DecodePictureTest, RefusedEntryLeavesTheCatalogueCursorAlone) {
    sink.accept = false;
    const std::vector<std::uint8_t> file = thumbnailFile("cjpeg_16x8_q50.jpg");
    EXPECT_EQ(0, decodePicture(ui, sink, file.data(), 10, static_cast<std::uint32_t>(file.size()),
                               "S2", 1, nullptr));
    EXPECT_EQ(sink.added.size(), 1u);
    EXPECT_TRUE(sink.infos.empty());
}

int exits = 0;
void countExit(int) {
    ++exits;
}

TEST_F(DecodePictureTest, EveryAllocationFailureIsSurvivedWithoutLeaks) {
    if (!canInjectAllocationFailures()) {
        GTEST_SKIP() << "the Win32 memory seam always allocates";
    }
    const std::vector<std::uint8_t> stream = readFile(dataPath("cjpeg_16x8_q50.jpg"));
    const ProcessExit previous = setProcessExit(countExit);
    bool succeeded = false;
    for (long n = 0; n < 30 && !succeeded; ++n) {
        exits = 0;
        RecordingUi local;
        platform::GlobalHandle dib = nullptr;
        platform::memcheck::failAllocationsAfter(n);
        const int result =
            decodePicture(local, sink, stream.data(), static_cast<std::uint32_t>(stream.size()),
                          7000, nullptr, 0, &dib);
        platform::memcheck::stopFailingAllocations();
        succeeded = result == 1;
        if (succeeded) {
            platform::globalFree(dib);
        } else {
            EXPECT_EQ(dib, nullptr);
            // Either the decoder said so (and, but for a Huffman table, ended the process),
            // or the DIB itself could not be had, silently.
            EXPECT_LE(local.messages.size(), 1u);
            EXPECT_LE(exits, 1);
        }
    }
    EXPECT_TRUE(succeeded);
    setProcessExit(previous);
}

} // namespace
} // namespace jpeg
