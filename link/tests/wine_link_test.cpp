// The link on the real Win32 calls under Wine: COM ports mapped to camsim's
// pseudo-terminals, and the Still Image stand-in serving the same card over "USB". Every
// file read must equal the card's file byte for byte. Run by wine_link_test.sh, which
// starts the cameras and says where the card is (LV_TEST_CARD, LV_TEST_PICTURES).
#include "link/camera_link.h"
#include "link/tests/fakes.h"
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace linktest;

namespace {

Bytes cardFile(const char* name) {
    const char* card = std::getenv("LV_TEST_CARD");
    std::ifstream in(std::string(card == nullptr ? "." : card) + "/" + std::string(name, 8) +
                         ".JPG",
                     std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int expectedPictures() {
    const char* count = std::getenv("LV_TEST_PICTURES");
    return count == nullptr ? -1 : std::atoi(count);
}

class WineLink : public ::testing::Test {
protected:
    ~WineLink() override { camlink::freePictures(pictures); }

    Bytes fetch(const char* name, std::uint32_t size) {
        bool callerOwns = false;
        std::uint8_t* data = link.fetchFile(name, size, &progress, &callerOwns);
        if (data == nullptr) {
            return Bytes();
        }
        Bytes bytes(data, data + size);
        if (callerOwns) {
            platform::virtualFree(data);
        }
        return bytes;
    }

    void catalogueAndFiles() {
        const int count = link.linkKind == camlink::LinkUsb ? link.readCatalogueUsb(pictures)
                                                            : link.readCatalogueSerial(pictures);
        ASSERT_EQ(count, expectedPictures());
        ASSERT_EQ(catalogue.clears, 1);
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
            const Bytes want = cardFile(p->thumbName);
            ASSERT_EQ(want.size(), 0x7000u);
            ASSERT_EQ(fetch(p->thumbName, p->thumbSize), want) << std::string(p->thumbName, 8);
        }
        // The largest full picture, so that a USB read spans many chunks.
        camlink::CameraPicture* largest = pictures;
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
            if (p->fullSize > largest->fullSize) {
                largest = p;
            }
        }
        const Bytes want = cardFile(largest->fullName);
        ASSERT_EQ(want.size(), largest->fullSize);
        ASSERT_EQ(fetch(largest->fullName, largest->fullSize), want);
        EXPECT_TRUE(ui.messages.empty());
    }

    RecordingUi ui;
    RecordingProgress progress;
    FakeCatalogue catalogue;
    camlink::CameraLink link{platform::systemSerialPorts(), platform::systemStillImage(), ui,
                             catalogue};
    camlink::CameraPictureList pictures = nullptr;
};

// COM1 answers the probe with the wrong byte; the camera is on COM2.
TEST_F(WineLink, SerialOverComPorts) {
    link.connectSerial();
    ASSERT_EQ(link.linkKind, camlink::LinkSerial);
    EXPECT_EQ(link.portName, "COM2");
    catalogueAndFiles();
}

TEST_F(WineLink, UsbOverTheStillImageStandIn) {
    link.connectUsb();
    ASSERT_EQ(link.linkKind, camlink::LinkUsb);
    catalogueAndFiles();
    std::uint8_t* again = link.readFileUsb(pictures->thumbName, 0x7000, nullptr);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Bytes(again, again + 0x7000), cardFile(pictures->thumbName));
}

} // namespace

namespace {

std::string readText(const char* path) {
    std::ifstream in(path == nullptr ? "" : path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Run with devices "Other scanner|Lumivera LV2700C5|LUMIVERA LV2700c5 Digital Camera|
// LUMIVERA LV2700c5|LUMIVERA LV2700c5": the first exact description is the fourth entry.
TEST_F(WineLink, UsbDeviceIsTheFirstExactDescription) {
    link.connectUsb();
    ASSERT_EQ(link.linkKind, camlink::LinkUsb);
    const std::string transcript = readText(std::getenv("LV_STI_TRANSCRIPT"));
    EXPECT_NE(transcript.find("CreateDevice {6BDD1FC6-810F-11D0-BEC7-08002BE10318}\\0003 mode 2"),
              std::string::npos)
        << transcript;
    EXPECT_EQ(transcript.find("\\0004"), std::string::npos) << transcript;
    EXPECT_GT(link.readCatalogueUsb(pictures), 0);
    link.releaseStillDevice();
    link.connectUsb(); // a second connect re-creates both objects
    EXPECT_EQ(link.linkKind, camlink::LinkUsb);
    EXPECT_NE(link.stiDevice, nullptr);
}

} // namespace
