// The camera's USB face: escapes and device calls as the Still Image service passes them.
#include "sim/camera.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

using namespace simtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes request(std::uint32_t offset, std::uint32_t length, const std::string& name) {
    Bytes r(24, 0);
    sim::writeLe32(&r[4], offset);
    sim::writeLe32(&r[8], length);
    if (!name.empty()) {
        std::copy(name.begin(), name.end(), r.begin() + 12);
        r[20] = 'J';
        r[21] = 'P';
        r[22] = 'G';
    }
    return r;
}

std::uint32_t catalogueSize(sim::Camera& camera) {
    std::uint8_t out[4] = {};
    std::uint32_t delivered = 0;
    EXPECT_TRUE(camera.escape(0x1002, nullptr, 0, out, 4, &delivered));
    EXPECT_EQ(delivered, 4u);
    return sim::readLe32(out);
}

Bytes catalogueBlock(sim::Camera& camera, std::uint32_t block, bool* ok = nullptr) {
    Bytes out(512, 0xEE);
    const Bytes in = request(block * 512, 512, "");
    std::uint32_t delivered = 0;
    const bool done = camera.escape(0x1003, in.data(), 24, out.data(), 512, &delivered);
    if (ok)
        *ok = done;
    EXPECT_EQ(delivered, done ? 512u : 0u);
    return out;
}

// Reads a file in 4096-byte chunks as the host does.
Bytes readChunks(sim::Camera& camera, const std::string& name, std::uint32_t size) {
    Bytes file(size, 0);
    std::uint32_t offset = 0;
    for (std::uint32_t k = 0; k < (size + 4095) / 4096; ++k) {
        const std::uint32_t length = std::min<std::uint32_t>(4096, size - offset);
        const Bytes in = request(offset, length, name);
        std::uint32_t delivered = 0;
        EXPECT_TRUE(
            camera.escape(0x1004, in.data(), 24, file.data() + offset, size - offset, &delivered));
        EXPECT_EQ(delivered, length);
        offset += delivered;
    }
    return file;
}

class UsbCamera : public ::testing::Test {
protected:
    void SetUp() override { card = makeCard(dir.path(), 60, 4); }
    TempDir dir;
    sim::Card card;
};

} // namespace

TEST_F(UsbCamera, SixtyPicturesAsThreeCatalogueBlocks) {
    sim::Camera camera(card);
    // 12 + 25*20 + 12 + 25*20 + 12 + 10*20
    EXPECT_EQ(catalogueSize(camera), 1236u);
    const Bytes b0 = catalogueBlock(camera, 0), b2 = catalogueBlock(camera, 2);
    EXPECT_EQ(Bytes(b0.begin(), b0.begin() + 12),
              (Bytes{0, 0, 3, 0, 60, 0, 'L', 'V', 'C', 'B', 25, 1}));
    EXPECT_EQ(Bytes(b0.begin() + 12, b0.begin() + 32),
              (Bytes{'S', '0', '0',  '0', '0',  '0', '0',  '1',  1, 0,
                     0,   0,   0x28, 0,   0x18, 0,   0x4F, 0x03, 0, 0}));
    EXPECT_EQ(Bytes(b2.begin(), b2.begin() + 12),
              (Bytes{2, 0, 3, 0, 60, 0, 'L', 'V', 'C', 'B', 10, 0}));
    // Entry 60 is the last of block 2; the rest of the block is zero.
    EXPECT_EQ(b2[12 + 9 * 20 + 7], '0');
    EXPECT_EQ(b2[12 + 9 * 20 + 6], '6');
    EXPECT_TRUE(std::all_of(b2.begin() + 212, b2.end(), [](std::uint8_t b) { return b == 0; }));
    // Past the catalogue: a block with no entries.
    const Bytes b9 = catalogueBlock(camera, 9);
    EXPECT_EQ(b9[10], 0);
}

TEST_F(UsbCamera, CatalogueEscapesRefuseShortBuffersAndOddOffsets) {
    sim::Camera camera(card);
    std::uint8_t small[3];
    std::uint32_t delivered = 99;
    EXPECT_FALSE(camera.escape(0x1002, nullptr, 0, small, 3, &delivered));
    EXPECT_EQ(delivered, 0u);
    Bytes out(512);
    Bytes in = request(100, 512, "");
    EXPECT_FALSE(camera.escape(0x1003, in.data(), 24, out.data(), 512, &delivered));
    in = request(0, 512, "");
    EXPECT_FALSE(camera.escape(0x1003, in.data(), 23, out.data(), 512, &delivered));
    EXPECT_FALSE(camera.escape(0x1003, in.data(), 24, out.data(), 511, &delivered));
    EXPECT_FALSE(camera.escape(0x7777, in.data(), 24, out.data(), 512, &delivered));
}

TEST_F(UsbCamera, ThumbnailIsSevenChunksAndLargeFilesEndInAShortChunk) {
    sim::Camera camera(card);
    EXPECT_EQ(readChunks(camera, "T0000003", 0x7000), readFile(dir.path() + "/T0000003.JPG"));
    EXPECT_EQ(camera.transcript().escapes(0x1004).size(), 7u);

    TempDir other;
    auto big = *sim::Card::create(other.path());
    Bytes content(4096 * 2 + 100);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = std::uint8_t(i * 13);
    ASSERT_TRUE(big.addPicture("S0000001", content, readTestFile("thumb-160x120.jpg")));
    sim::Camera camera2(big);
    EXPECT_EQ(readChunks(camera2, "S0000001", std::uint32_t(content.size())), content);
    const auto reads = camera2.transcript().escapes(0x1004);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[2]->delivered, 100u);
    // The request record as the host sent it, byte for byte.
    EXPECT_EQ(reads[2]->bytes, (Bytes{0,   0,   0,   0,   0x00, 0x20, 0,   0,   100, 0,   0,   0,
                                      'S', '0', '0', '0', '0',  '0',  '0', '1', 'J', 'P', 'G', 0}));
}

TEST_F(UsbCamera, ReadEscapeRefusesUnknownFilesBadExtensionsAndOffsetsPastTheEnd) {
    sim::Camera camera(card);
    Bytes out(4096);
    std::uint32_t delivered = 0;
    Bytes in = request(0, 4096, "S0000099");
    EXPECT_FALSE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    in = request(0, 4096, "S0000001");
    in[22] = 'X';
    EXPECT_FALSE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    in = request(0x7000, 4096, "T0000001");
    EXPECT_FALSE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    in = request(0, 4096, "../T0001");
    EXPECT_FALSE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    // Output smaller than asked: only what fits.
    in = request(0, 4096, "T0000001");
    EXPECT_TRUE(camera.escape(0x1004, in.data(), 24, out.data(), 10, &delivered));
    EXPECT_EQ(delivered, 10u);
}

TEST_F(UsbCamera, ReadFailsOrDeliversShortOnTheChosenAttempts) {
    sim::Faults faults;
    faults.usbReadFail = {2, 1};
    faults.usbReadShort = {4, 1};
    sim::Camera camera(card, faults);
    Bytes out(4096);
    std::uint32_t delivered = 0;
    const Bytes in = request(0, 4096, "T0000001");
    EXPECT_TRUE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    EXPECT_FALSE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    EXPECT_EQ(delivered, 0u);
    EXPECT_TRUE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    EXPECT_TRUE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    EXPECT_EQ(delivered, 2048u);
    camera.faults().usbReadShort = {5, 1};
    camera.faults().usbShortBytes = 7;
    EXPECT_TRUE(camera.escape(0x1004, in.data(), 24, out.data(), 4096, &delivered));
    EXPECT_EQ(delivered, 7u);
    const std::uint8_t one[4] = {1, 0, 0, 0};
    EXPECT_TRUE(camera.escape(0x1009, one, 4, nullptr, 0, &delivered));
    EXPECT_EQ(delivered, 0u);
}

TEST_F(UsbCamera, DeleteRemovesTheFilesOnce) {
    sim::Camera camera(card);
    const Bytes in = request(0, 0, "S0000007");
    std::uint8_t out[4] = {9, 9, 9, 9};
    std::uint32_t delivered = 0;
    EXPECT_TRUE(camera.escape(0x1010, in.data(), 24, out, 4, &delivered));
    EXPECT_FALSE(fileExists(dir.path() + "/S0000007.JPG"));
    EXPECT_FALSE(fileExists(dir.path() + "/T0000007.JPG"));
    EXPECT_FALSE(camera.escape(0x1010, in.data(), 24, out, 4, &delivered));
    EXPECT_EQ(catalogueSize(camera), 1236u - 20);
    // A file already read is not served from memory after its deletion.
    const Bytes read = request(0, 4096, "T0000008");
    Bytes buf(4096);
    EXPECT_TRUE(camera.escape(0x1004, read.data(), 24, buf.data(), 4096, &delivered));
    EXPECT_TRUE(camera.escape(0x1010, request(0, 0, "S0000008").data(), 24, out, 4, &delivered));
    EXPECT_FALSE(camera.escape(0x1004, read.data(), 24, buf.data(), 4096, &delivered));
}

TEST_F(UsbCamera, CatalogueFaults) {
    sim::Faults faults;
    faults.usbBlockCount = 26;
    faults.usbBlockCountBlock = 1;
    faults.catalogueSize = 0xFFFFFFFF;
    faults.emptyCatalogues = 1;
    sim::Camera camera(card, faults);
    EXPECT_EQ(catalogueSize(camera), 0xFFFFFFFFu); // the size fault wins over the empty read
    EXPECT_EQ(catalogueBlock(camera, 0)[10], 0);   // this read found no pictures
    catalogueSize(camera);
    EXPECT_EQ(catalogueBlock(camera, 0)[10], 25);
    EXPECT_EQ(catalogueBlock(camera, 1)[10], 26);
    camera.faults().catalogueSize.reset();
    camera.faults().duplicateEntry = 0;
    EXPECT_EQ(catalogueSize(camera), 1236u + 20);
}

TEST_F(UsbCamera, StatusFaultFailsDataEscapes) {
    sim::Faults faults;
    ASSERT_TRUE(sim::applyFault("no-card", faults));
    sim::Camera camera(card, faults);
    std::uint8_t out[4];
    std::uint32_t delivered = 0;
    EXPECT_FALSE(camera.escape(0x1002, nullptr, 0, out, 4, &delivered));
    bool ok = true;
    catalogueBlock(camera, 0, &ok);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(camera.escape(0x1010, request(0, 0, "S0000001").data(), 24, out, 4, &delivered));
    EXPECT_TRUE(fileExists(dir.path() + "/S0000001.JPG"));
}

TEST_F(UsbCamera, DeviceCallsLockAndFaults) {
    sim::Faults faults;
    faults.lockFail = {2, 1};
    faults.statusQueryFail = {1, 1};
    faults.subscribeFail = {2, 1};
    faults.resetFail = {1, 1};
    sim::Camera camera(card, faults);
    EXPECT_TRUE(camera.lockDevice(2000));
    EXPECT_FALSE(camera.lockDevice(2000)); // fault on call 2 (and it is locked anyway)
    EXPECT_TRUE(camera.subscribe());
    EXPECT_FALSE(camera.resetDevice());
    EXPECT_FALSE(camera.getStatus());
    EXPECT_TRUE(camera.getStatus());
    catalogueSize(camera);
    EXPECT_TRUE(camera.unsubscribe());
    EXPECT_TRUE(camera.unlockDevice());
    EXPECT_FALSE(camera.unlockDevice());
    EXPECT_TRUE(camera.lockDevice(2000));
    EXPECT_FALSE(camera.subscribe());
    const std::vector<std::string> calls = {
        "LockDevice",    "LockDevice",  "Subscribe",    "DeviceReset",  "GetStatus",  "GetStatus",
        "Escape 0x1002", "UnSubscribe", "UnLockDevice", "UnLockDevice", "LockDevice", "Subscribe"};
    EXPECT_EQ(camera.transcript().calls(), calls);
    EXPECT_TRUE(camera.transcript().escapes(0x1002)[0]->locked);
    EXPECT_FALSE(camera.transcript().events()[1].ok);
}

TEST_F(UsbCamera, UnpluggedCameraFailsEverything) {
    sim::Faults faults;
    faults.unplugged = true;
    sim::Camera camera(card, faults);
    EXPECT_FALSE(camera.present());
    EXPECT_FALSE(camera.lockDevice(2000));
    EXPECT_FALSE(camera.subscribe());
    EXPECT_FALSE(camera.resetDevice());
    EXPECT_FALSE(camera.getStatus());
    std::uint8_t out[4];
    std::uint32_t delivered = 0;
    EXPECT_FALSE(camera.escape(0x1002, nullptr, 0, out, 4, &delivered));
    camera.faults().unplugged = false; // plugged in again
    EXPECT_TRUE(camera.present());
    EXPECT_TRUE(camera.lockDevice(2000));
}

TEST_F(UsbCamera, EscapeDelayRunsOnTheCamerasClock) {
    sim::Faults faults;
    faults.escapeDelayMs = 250;
    sim::Camera camera(card, faults);
    platform::VirtualClock clock(100);
    camera.setClock(clock);
    catalogueSize(camera);
    catalogueBlock(camera, 0);
    EXPECT_EQ(clock.sleptMs(), 500u);
    EXPECT_EQ(camera.transcript().escapes()[1]->atMs, 600u);
}
