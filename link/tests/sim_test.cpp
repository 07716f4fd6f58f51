// The link against the simulated camera serving a real card: every file read comes back
// byte for byte as it lies on the card, over both links, and the camera's faults are
// weathered as the retry rules promise.
#include "link/camera_link.h"
#include "link/protocol.h"
#include "link/tests/fakes.h"
#include "link/tests/sim_peers.h"
#include "platform/memory.h"
#include "sim/camera.h"
#include "sim/tests/sim_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace linktest;
using ::testing::ElementsAre;

namespace {

class SimLink : public ::testing::Test {
protected:
    void start(int pictures, sim::Faults faults = {}, int vgaEvery = 0) {
        card = std::make_unique<sim::Card>(simtest::makeCard(dir.path(), pictures, vgaEvery));
        camera = std::make_unique<sim::Camera>(*card, faults);
        camera->setClock(clock);
        serialPeer = std::make_unique<SimSerialPeer>(*camera);
        usbPeer = std::make_unique<SimUsbPeer>(*camera);
        sti = std::make_unique<PeerStillImage>(usbPeer.get());
        if (camera->present()) {
            sti->devices.push_back({u"LUMIVERA LV2700c5", u"STI\\LV2700C5\\0000"});
        }
        ports.attach("COM2", serialPeer.get());
        link = std::make_unique<camlink::CameraLink>(ports, *sti, ui, catalogue);
    }
    ~SimLink() override {
        camlink::freePictures(pictures);
        link.reset();
    }

    Bytes cardFile(const char* name) {
        return simtest::readFile(dir.path() + "/" + std::string(name, 8) + ".JPG");
    }
    // Fetches one picture file as the browser does on the link in use.
    Bytes fetch(const char* name, std::uint32_t size) {
        bool callerOwns = false;
        std::uint8_t* data = link->fetchFile(name, size, &progress, &callerOwns);
        if (data == nullptr) {
            return Bytes();
        }
        Bytes bytes(data, data + size);
        if (callerOwns) {
            platform::virtualFree(data);
        }
        return bytes;
    }
    int readCatalogue() {
        camlink::freePictures(pictures);
        return link->linkKind == camlink::LinkUsb ? link->readCatalogueUsb(pictures)
                                                  : link->readCatalogueSerial(pictures);
    }
    // Catalogue, every thumbnail and the first full picture, against the card's files.
    void roundTrip(int expected) {
        ASSERT_EQ(readCatalogue(), expected);
        int n = 0;
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next, ++n) {
            const sim::CardPicture& onCard = card->pictures()[static_cast<std::size_t>(n)];
            ASSERT_EQ(std::string(p->fullName, 8), onCard.fullName());
            ASSERT_EQ(std::string(p->thumbName, 8), onCard.thumbName());
            ASSERT_EQ(p->fullSize, onCard.fullSize);
            ASSERT_EQ(p->thumbSize, 0x7000u);
            ASSERT_EQ(fetch(p->thumbName, p->thumbSize), cardFile(p->thumbName))
                << std::string(p->thumbName, 8);
        }
        ASSERT_EQ(n, expected);
        ASSERT_EQ(fetch(pictures->fullName, pictures->fullSize), cardFile(pictures->fullName));
    }

    simtest::TempDir dir;
    platform::VirtualClock clock{5000};
    VirtualSerialPorts ports{clock};
    RecordingUi ui;
    RecordingProgress progress;
    FakeCatalogue catalogue;
    std::unique_ptr<sim::Card> card;
    std::unique_ptr<sim::Camera> camera;
    std::unique_ptr<SimSerialPeer> serialPeer;
    std::unique_ptr<SimUsbPeer> usbPeer;
    std::unique_ptr<PeerStillImage> sti;
    std::unique_ptr<camlink::CameraLink> link;
    camlink::CameraPictureList pictures = nullptr;
};

TEST_F(SimLink, SerialCardComesBackByteForByte) {
    start(30, {}, 4); // two groups, some V entries
    link->connectUsb();
    link->linkKind = camlink::LinkNone; // as at start-up: no USB camera on this machine
    sti->devices.clear();
    link->connectSerial();
    ASSERT_EQ(link->linkKind, camlink::LinkSerial);
    EXPECT_EQ(link->portName, "COM2");
    roundTrip(30);
    EXPECT_EQ(camera->transcript().countCommand(camlink::CMD_CATALOGUE), 2u);
    EXPECT_EQ(camera->transcript().countCommand(camlink::CMD_REPEAT_BLOCK), 0u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SimLink, UsbCardComesBackByteForByte) {
    start(30, {}, 4);
    link->connectUsb();
    ASSERT_EQ(link->linkKind, camlink::LinkUsb);
    roundTrip(30);
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_CATALOGUE_BLOCK).size(), 2u);
    EXPECT_FALSE(camera->locked());
    for (const sim::Event* e : camera->transcript().escapes()) {
        EXPECT_TRUE(e->locked);
    }
    EXPECT_EQ(sti->liveEvents, 0);
}

TEST_F(SimLink, DeleteRemovesThePictureOverEitherLink) {
    start(3);
    link->connectSerial();
    ASSERT_EQ(readCatalogue(), 3);
    EXPECT_EQ(link->deleteFileSerial(pictures->fullName), 1);
    EXPECT_FALSE(simtest::fileExists(dir.path() + "/S0000001.JPG"));
    EXPECT_FALSE(simtest::fileExists(dir.path() + "/T0000001.JPG"));

    link->connectUsb();
    ASSERT_EQ(link->linkKind, camlink::LinkUsb);
    ASSERT_EQ(readCatalogue(), 2);
    EXPECT_EQ(link->deleteFileUsb(pictures->next->fullName), 1);
    EXPECT_FALSE(simtest::fileExists(dir.path() + "/S0000003.JPG"));
    ASSERT_EQ(readCatalogue(), 1);
    EXPECT_EQ(std::string(pictures->fullName, 8), "S0000002");
}

TEST_F(SimLink, SerialBlockFaultsAreRepairedByRepeating) {
    sim::Faults faults;
    faults.badTrailerBlock = 55; // the thumbnail's last block
    faults.badTrailerTimes = 2;
    faults.shortBlock = 10;
    faults.shortBlockTimes = 3;
    start(1, faults);
    link->connectSerial();
    ASSERT_EQ(readCatalogue(), 1);
    EXPECT_EQ(fetch(pictures->thumbName, 0x7000), cardFile(pictures->thumbName));
    EXPECT_EQ(camera->transcript().countCommand(camlink::CMD_REPEAT_BLOCK), 5u);
    EXPECT_EQ(camera->transcript().countCommand(camlink::CMD_NEXT_BLOCK), 56u);
}

TEST_F(SimLink, SerialStatusFaultShowsItsMessageAndTheReadGoesOn) {
    sim::Faults faults;
    faults.statusByte = camlink::ST_CARD_ACCESS_FAILED;
    faults.status = {3, 1}; // the catalogue's is 1st, the second block's is 3rd
    start(1, faults);
    link->connectSerial();
    ASSERT_EQ(readCatalogue(), 1);
    EXPECT_EQ(fetch(pictures->thumbName, 0x7000), cardFile(pictures->thumbName));
    EXPECT_THAT(ui.messages, ElementsAre("Access compact flash card failed!"));
}

TEST_F(SimLink, SerialCatalogueFaults) {
    sim::Faults faults;
    faults.groupCount = 0xFF;
    start(3, faults);
    link->connectSerial();
    EXPECT_EQ(readCatalogue(), 0);
    EXPECT_TRUE(ui.messages.empty());

    camera->faults().groupCount.reset();
    camera->faults().duplicateEntry = 1;
    EXPECT_EQ(readCatalogue(), 3); // the repeated entry updates its record

    camera->faults().statusByte = camlink::ST_NO_CARD;
    camera->faults().status = sim::Occurrences::always();
    EXPECT_EQ(readCatalogue(), 0);
    EXPECT_THAT(ui.messages, ElementsAre("Can't find compact flash card!"));
}

TEST_F(SimLink, UsbChunkFaultsWithinThreeAttempts) {
    sim::Faults faults;
    faults.usbReadFail = {2, 2}; // the second chunk fails twice
    start(1, faults);
    link->connectUsb();
    ASSERT_EQ(readCatalogue(), 1);
    EXPECT_EQ(fetch(pictures->thumbName, 0x7000), cardFile(pictures->thumbName));
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_RECOVER).size(), 2u);

    camera->faults().usbReadFail = {camera->faults().usbReadFail.first + 9, 3};
    EXPECT_TRUE(fetch(pictures->thumbName, 0x7000).empty());
    EXPECT_EQ(link->usbBuffer, nullptr);
    EXPECT_FALSE(camera->locked());
}

TEST_F(SimLink, UsbShortChunkIsTakenAndTheReadEndsAfterItsChunks) {
    sim::Faults faults;
    faults.usbReadShort = {1, 1};
    faults.usbShortBytes = 1000;
    start(1, faults);
    link->connectUsb();
    ASSERT_EQ(readCatalogue(), 1);
    const Bytes got = fetch(pictures->thumbName, 0x7000);
    const Bytes want = cardFile(pictures->thumbName);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.begin() + 1000, got.begin()));
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_READ_FILE).size(), 7u);
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_RECOVER).size(), 1u);
}

TEST_F(SimLink, UsbCatalogueLengthAndBlockCountFaults) {
    sim::Faults faults;
    faults.catalogueSize = 512 + 5; // a last block with only its head is not read
    start(40, faults);
    link->connectUsb();
    EXPECT_EQ(readCatalogue(), 25);
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_CATALOGUE_BLOCK).size(), 1u);
    camera->faults().catalogueSize = 512 + 13;
    EXPECT_EQ(readCatalogue(), 40);
    EXPECT_EQ(camera->transcript().escapes(camlink::CAM_ESC_CATALOGUE_BLOCK).size(), 3u);

    camera->faults().catalogueSize.reset();
    camera->faults().usbBlockCount = 26;
    EXPECT_EQ(readCatalogue(), 0);
    EXPECT_FALSE(camera->locked());
}

TEST_F(SimLink, UsbDeviceCallFaults) {
    sim::Faults faults;
    faults.lockFail = {1, 1};
    faults.statusQueryFail = {1, 1};
    start(2, faults);
    link->connectUsb();
    EXPECT_EQ(readCatalogue(), 0); // not lockable
    EXPECT_EQ(readCatalogue(), 0); // status query failed
    EXPECT_FALSE(camera->locked());
    EXPECT_EQ(readCatalogue(), 2);
}

TEST_F(SimLink, UnpluggedCameraIsFoundOnNeitherLink) {
    sim::Faults faults;
    faults.unplugged = true;
    start(1, faults);
    link->connectUsb();
    link->connectSerial();
    EXPECT_EQ(link->linkKind, camlink::LinkNone);
    EXPECT_EQ(ports.openPorts(), 0u);
}

TEST_F(SimLink, PacedSerialThumbnailAddsNoWaitsOfItsOwn) {
    sim::Faults faults;
    faults.paced = true;
    start(1, faults);
    link->connectSerial();
    ASSERT_EQ(readCatalogue(), 1);
    const std::uint32_t before = clock.nowMs();
    const std::size_t sentBefore = camera->transcript().cameraBytes().size();
    ASSERT_EQ(fetch(pictures->thumbName, 0x7000), cardFile(pictures->thumbName));
    const std::uint32_t elapsed = clock.nowMs() - before;
    const std::size_t sent = camera->transcript().cameraBytes().size() - sentBefore;
    // 56 x (ack + status + 512 + trailer) + the two selection acknowledgements.
    EXPECT_EQ(sent, 56u * 515 + 2);
    const double wireMs = double(sent) * 11 * 1000 / 115200;
    // Virtual time moves in whole milliseconds: at most one lost per exchange.
    EXPECT_GE(elapsed, wireMs);
    EXPECT_LE(elapsed, wireMs + 58);
}

} // namespace
