#include "sim/card.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace simtest;

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

TEST(Card, BuiltCardReopensWithOrderSizesAndDimensions) {
    TempDir dir;
    makeCard(dir.path(), 3, 3);
    std::string error;
    auto card = sim::Card::open(dir.path(), &error);
    ASSERT_TRUE(card) << error;
    ASSERT_EQ(card->pictures().size(), 3u);
    EXPECT_EQ(card->pictures()[0].entryName, "S0000001");
    EXPECT_EQ(card->pictures()[2].entryName, "V0000003");
    EXPECT_EQ(card->pictures()[2].fullName(), "S0000003");
    EXPECT_EQ(card->pictures()[2].thumbName(), "T0000003");
    // Odd pictures use the 40x24 test picture (847 bytes), even ones the 96x64 (1446 bytes).
    EXPECT_EQ(card->pictures()[0].fullSize, 847u);
    EXPECT_EQ(card->pictures()[0].width, 40);
    EXPECT_EQ(card->pictures()[0].height, 24);
    EXPECT_EQ(card->pictures()[1].fullSize, 1446u);
    EXPECT_EQ(card->pictures()[1].width, 96);
    EXPECT_EQ(card->find("T0000002"), 1);
    EXPECT_EQ(card->find("S0000003"), 2);
    EXPECT_EQ(card->find("V0000003"), -1); // files are named S or T only
    EXPECT_EQ(card->find("S0000009"), -1);
}

TEST(Card, OrderFileDecidesTheCatalogueOrder) {
    TempDir dir;
    makeCard(dir.path(), 3);
    writeText(dir.path() + "/ORDER.LST", "# comment\nS0000003\n\nV0000001\r\n");
    auto card = sim::Card::open(dir.path());
    ASSERT_TRUE(card);
    ASSERT_EQ(card->pictures().size(), 2u);
    EXPECT_EQ(card->pictures()[0].entryName, "S0000003");
    EXPECT_EQ(card->pictures()[1].entryName, "V0000001");
}

TEST(Card, WithoutOrderFileListsFullPicturesByName) {
    TempDir dir;
    makeCard(dir.path(), 3);
    std::filesystem::remove(dir.path() + "/ORDER.LST");
    std::filesystem::rename(dir.path() + "/S0000001.JPG", dir.path() + "/S0000009.JPG");
    auto card = sim::Card::open(dir.path());
    ASSERT_TRUE(card);
    ASSERT_EQ(card->pictures().size(), 3u);
    EXPECT_EQ(card->pictures()[0].entryName, "S0000002");
    EXPECT_EQ(card->pictures()[2].entryName, "S0000009");
}

TEST(Card, RejectsMissingFolderBadNamesAndMissingFiles) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(sim::Card::open(dir.path() + "/none", &error));
    EXPECT_NE(error.find("no card folder"), std::string::npos);
    makeCard(dir.path(), 1);
    writeText(dir.path() + "/ORDER.LST", "../../x\n");
    EXPECT_FALSE(sim::Card::open(dir.path(), &error));
    writeText(dir.path() + "/ORDER.LST", "S0000002\n");
    EXPECT_FALSE(sim::Card::open(dir.path(), &error));
    EXPECT_NE(error.find("S0000002.JPG"), std::string::npos);
}

TEST(Card, ReadFileRefusesAnythingButPlainNames) {
    TempDir dir;
    auto card = makeCard(dir.path(), 1);
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(card.readFile("S0000001", bytes));
    EXPECT_EQ(bytes, readTestFile("full-40x24.jpg"));
    EXPECT_FALSE(card.readFile("../S0001", bytes));
    EXPECT_FALSE(card.readFile("S00000/1", bytes));
    EXPECT_FALSE(card.readFile("S000001", bytes));
    EXPECT_FALSE(card.readFile("S0000002", bytes));
    EXPECT_FALSE(sim::Card().readFile("S0000001", bytes));
}

TEST(Card, ThumbnailFileHasHeadStreamAtOffset2123AndZeroTail) {
    const auto jpeg = readTestFile("thumb-160x120.jpg");
    const auto file = sim::makeThumbnailFile("T0000007", jpeg, 0x12345);
    ASSERT_EQ(file.size(), 0x7000u);
    const std::vector<std::uint8_t> head = {'L', 'V', 'T', 'H', 0x01, 0x00, 0x4B, 0x08,
                                            'T', '0', '0', '0', '0',  '0',  '0',  '7'};
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 16), head);
    const std::uint32_t n = std::uint32_t(jpeg.size());
    EXPECT_EQ(file[16], n & 0xFF);
    EXPECT_EQ(file[17], n >> 8);
    EXPECT_EQ(file[20], 0xA0); // 160
    EXPECT_EQ(file[22], 0x78); // 120
    EXPECT_EQ(file[24], 0x45);
    EXPECT_EQ(file[25], 0x23);
    EXPECT_EQ(file[26], 0x01);
    EXPECT_EQ(file[2122], 0);
    EXPECT_EQ(file[2123], 0xFF);
    EXPECT_EQ(file[2124], 0xD8);
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), file.begin() + 2123));
    for (std::size_t i = 2123 + jpeg.size(); i < file.size(); ++i)
        ASSERT_EQ(file[i], 0) << i;
}

TEST(Card, ThumbnailStreamThatDoesNotFitIsRefused) {
    std::vector<std::uint8_t> big(0x7000 - 2123 + 1, 0xAA);
    EXPECT_TRUE(sim::makeThumbnailFile("T0000001", big, 1).empty());
    big.pop_back();
    EXPECT_EQ(sim::makeThumbnailFile("T0000001", big, 1).size(), 0x7000u);
    TempDir dir;
    auto card = sim::Card::create(dir.path());
    ASSERT_TRUE(card);
    big.push_back(0);
    EXPECT_FALSE(card->addPicture("S0000001", {1, 2, 3}, big));
    EXPECT_TRUE(card->pictures().empty());
}

TEST(Card, RemovingAPictureRemovesBothFilesAndItsOrderLine) {
    TempDir dir;
    auto card = makeCard(dir.path(), 3);
    EXPECT_TRUE(card.removePicture("T0000002"));
    EXPECT_FALSE(fileExists(dir.path() + "/S0000002.JPG"));
    EXPECT_FALSE(fileExists(dir.path() + "/T0000002.JPG"));
    EXPECT_TRUE(fileExists(dir.path() + "/S0000003.JPG"));
    EXPECT_FALSE(card.removePicture("S0000002"));
    auto reopened = sim::Card::open(dir.path());
    ASSERT_TRUE(reopened);
    ASSERT_EQ(reopened->pictures().size(), 2u);
    EXPECT_EQ(reopened->pictures()[1].entryName, "S0000003");
}

TEST(Card, CreateEmptiesAnExistingCard) {
    TempDir dir;
    makeCard(dir.path(), 2);
    auto card = sim::Card::create(dir.path());
    ASSERT_TRUE(card);
    EXPECT_FALSE(fileExists(dir.path() + "/S0000001.JPG"));
    EXPECT_TRUE(sim::Card::open(dir.path())->pictures().empty());
}

TEST(Card, JpegDimensionsSkipsSegmentsAndRejectsGarbage) {
    std::uint16_t w = 0, h = 0;
    const auto jpeg = readTestFile("full-96x64.jpg");
    ASSERT_TRUE(sim::jpegDimensions(jpeg.data(), jpeg.size(), w, h));
    EXPECT_EQ(w, 96);
    EXPECT_EQ(h, 64);
    // SOI, an APP1 of 4 bytes, SOF0 for 3x2.
    const std::uint8_t tiny[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAA, 0xBB, 0xFF,
                                 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x02, 0x00, 0x03, 0x01};
    ASSERT_TRUE(sim::jpegDimensions(tiny, sizeof tiny, w, h));
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    EXPECT_FALSE(sim::jpegDimensions(tiny, 12, w, h)); // frame header cut off
    const std::uint8_t loop[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00};
    EXPECT_FALSE(sim::jpegDimensions(loop, sizeof loop, w, h));
}
