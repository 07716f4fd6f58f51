// The command protocol: wire records, the catalogue over both links, select and delete.
#include "link/tests/fixture.h"

#include <gmock/gmock.h>

using namespace linktest;
using ::testing::ElementsAre;

namespace {

TEST(WireRecords, EscapeRequestForAFileChunk) {
    std::uint8_t request[24];
    camlink::makeEscapeRequest(request, 0x00012345, 4096, "S0000123");
    const std::uint8_t expected[24] = {0,    0,    0,    0,    0x45, 0x23, 0x01, 0x00,
                                       0x00, 0x10, 0x00, 0x00, 'S',  '0',  '0',  '0',
                                       '0',  '1',  '2',  '3',  'J',  'P',  'G',  0};
    EXPECT_EQ(Bytes(request, request + 24), Bytes(expected, expected + 24));
}

TEST(WireRecords, EscapeRequestForACatalogueBlockHasNoName) {
    std::uint8_t request[24];
    std::memset(request, 0xCC, sizeof request);
    camlink::makeEscapeRequest(request, 3 * 512, 512, nullptr);
    const std::uint8_t expected[24] = {0, 0, 0, 0, 0x00, 0x06, 0, 0, 0x00, 0x02, 0, 0,
                                       0, 0, 0, 0, 0,    0,    0, 0, 0,    0,    0, 0};
    EXPECT_EQ(Bytes(request, request + 24), Bytes(expected, expected + 24));
}

TEST(WireRecords, CameraPictureLayout) {
    EXPECT_EQ(offsetof(camlink::CameraPicture, thumbName), 8u);
    EXPECT_EQ(offsetof(camlink::CameraPicture, extraWord1), 16u);
    EXPECT_EQ(offsetof(camlink::CameraPicture, fullSize), 20u);
    EXPECT_EQ(offsetof(camlink::CameraPicture, thumbSize), 24u);
    EXPECT_EQ(offsetof(camlink::CameraPicture, next), sizeof(void*) == 4 ? 28u : 32u);
}

TEST(WireRecords, StatusMessages) {
    EXPECT_STREQ(camlink::statusMessage(0xE1), "Can't find compact flash card!");
    EXPECT_STREQ(camlink::statusMessage(0xE2), "Compact flash card can not be formatted!");
    EXPECT_STREQ(camlink::statusMessage(0xE3), "Access compact flash card failed!");
    EXPECT_STREQ(camlink::statusMessage(0xF2), "Unknown Problem!");
    EXPECT_STREQ(camlink::statusMessage(0x06), "Unknown Problem!");
}

class SerialCatalogue : public LinkTest {};

TEST_F(SerialCatalogue, SeveralGroupsAskAgainOnEachMoreTrailer) {
    openSerial();
    camera.groups = {{entry("S0000001", 1000), entry("S0000002", 2000)},
                     {entry("S0000003", 3000)},
                     {entry("S0000004", 4000)}};
    EXPECT_EQ(link.readCatalogueSerial(pictures), 4);
    EXPECT_THAT(camera.commands, ElementsAre(0xC1, 0xC1, 0xC1));
    EXPECT_EQ(catalogue.clears, 1);
    EXPECT_EQ(ports.calls.back(), "purge 15");
    auto all = records();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(name8(all[3]->fullName), "S0000004");
    EXPECT_EQ(all[3]->fullSize, 4000u);
}

TEST_F(SerialCatalogue, EntryFieldsAndBothNamesFromAVEntry) {
    openSerial();
    camera.groups = {{entry("V0000123", 0x00123456, 0xBEEF, 0x1234)}};
    ASSERT_EQ(link.readCatalogueSerial(pictures), 1);
    const auto& p = *pictures;
    EXPECT_EQ(name8(p.fullName), "S0000123");
    EXPECT_EQ(name8(p.thumbName), "T0000123");
    EXPECT_EQ(p.extraWord1, 0xBEEF);
    EXPECT_EQ(p.extraWord2, 0x1234);
    EXPECT_EQ(p.fullSize, 0x00123456u);
    EXPECT_EQ(p.thumbSize, 0x7000u);
    EXPECT_EQ(p.next, nullptr);
}

TEST_F(SerialCatalogue, EmptyGroupGoesStraightToTheTrailer) {
    openSerial();
    camera.groups = {{}, {entry("S0000009", 9)}};
    EXPECT_EQ(link.readCatalogueSerial(pictures), 1);
    EXPECT_EQ(name8(pictures->fullName), "S0000009");
}

TEST_F(SerialCatalogue, EntriesAgreeingInBytes4To7MergeIntoOne) {
    openSerial();
    camera.groups = {{entry("S0010123", 10), entry("V0020123", 20, 5, 6), entry("S0000777", 30)}};
    EXPECT_EQ(link.readCatalogueSerial(pictures), 2);
    auto all = records();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(name8(all[0]->fullName), "S0020123");
    EXPECT_EQ(name8(all[0]->thumbName), "T0020123");
    EXPECT_EQ(all[0]->fullSize, 20u);
    EXPECT_EQ(all[0]->extraWord1, 5);
    EXPECT_EQ(name8(all[1]->fullName), "S0000777");
}

TEST_F(SerialCatalogue, KeyRepeatedInALaterGroupUpdatesTheFirstRecord) {
    openSerial();
    camera.groups = {{entry("S0000001", 1), entry("S0000002", 2)}, {entry("V9990001", 3)}};
    EXPECT_EQ(link.readCatalogueSerial(pictures), 2);
    auto all = records();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(name8(all[0]->fullName), "S9990001");
    EXPECT_EQ(all[0]->fullSize, 3u);
    EXPECT_EQ(name8(all[1]->fullName), "S0000002");
}

TEST_F(SerialCatalogue, LongestCatalogueIsReadInFull) {
    openSerial();
    const int groups = static_cast<int>(camlink::kMaxCatalogueGroups);
    camera.groups.resize(static_cast<std::size_t>(groups));
    for (int g = 0; g < groups; ++g) {
        for (int e = 0; e < 25; ++e) {
            char name[32];
            // Distinct keys (bytes 4-7): four hex digits.
            std::snprintf(name, sizeof name, "S000%04X", g * 25 + e);
            camera.groups[static_cast<std::size_t>(g)].push_back(entry(name, 1));
        }
    }
    EXPECT_EQ(link.readCatalogueSerial(pictures), groups * 25);
}

TEST_F(SerialCatalogue, NameBytesAreKeptAsTheyCame) {
    openSerial();
    Bytes odd = entry("S0000000", 1);
    const std::uint8_t raw[8] = {'S', 0x00, '/', '\\', 0xFF, '.', '.', 0x7F};
    std::copy(raw, raw + 8, odd.begin());
    camera.groups = {{odd}};
    ASSERT_EQ(link.readCatalogueSerial(pictures), 1);
    EXPECT_EQ(Bytes(pictures->fullName + 1, pictures->fullName + 8), Bytes(raw + 1, raw + 8));
}

TEST_F(SerialCatalogue, GroupCountsOver25Fail) {
    for (int count : {26, 0xFF}) {
        SCOPED_TRACE(count);
        camera = SerialCamera();
        camera.groups = {{entry("S0000001", 1)}};
        camera.forcedCount = {count};
        openSerial();
        EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
        EXPECT_TRUE(ui.messages.empty());
        link.closeSerialPort();
    }
}

TEST_F(SerialCatalogue, FullGroupOf25IsRead) {
    openSerial();
    std::vector<Bytes> group;
    for (int i = 0; i < 25; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "S%07d", i);
        group.push_back(entry(name, static_cast<std::uint32_t>(i)));
    }
    camera.groups = {group};
    EXPECT_EQ(link.readCatalogueSerial(pictures), 25);
}

TEST_F(SerialCatalogue, StatusBytesShowTheirMessage) {
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0xE1, "Can't find compact flash card!"},
        {0xE2, "Compact flash card can not be formatted!"},
        {0xE3, "Access compact flash card failed!"},
        {0x42, "Unknown Problem!"}};
    for (const auto& [status, text] : cases) {
        openSerial();
        camera.catalogueStatus = status;
        ui.messages.clear();
        EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
        EXPECT_THAT(ui.messages, ElementsAre(text));
        link.closeSerialPort();
    }
}

TEST_F(SerialCatalogue, SlowStatusIsWaitedForUpTo100Reads) {
    openSerial();
    camera.groups = {{entry("S0000001", 1)}};
    camera.statusDelayMs = 40000; // within 100 x 510 ms
    EXPECT_EQ(link.readCatalogueSerial(pictures), 1);

    link.closeSerialPort();
    camlink::freePictures(pictures);
    camera = SerialCamera();
    camera.statusDelayMs = 60000;
    openSerial(); // beyond: the acknowledgement is judged as the status
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_THAT(ui.messages, ElementsAre("Unknown Problem!"));
}

TEST_F(SerialCatalogue, NoAcknowledgementMeansNoCamera) {
    openSerial();
    camera.catalogueAck = false;
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_THAT(ui.messages, ElementsAre("Can't find camera!"));
}

TEST_F(SerialCatalogue, ClosedPortReadsNothingButEmptiesTheCatalogue) {
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_EQ(catalogue.clears, 1);
}

TEST_F(SerialCatalogue, EndlessMoreTrailersEndTheRead) {
    openSerial();
    camera.groups.assign(camlink::kMaxCatalogueGroups + 5, {});
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_EQ(camera.commands.size(), camlink::kMaxCatalogueGroups);
}

class SerialFiles : public LinkTest {};

TEST_F(SerialFiles, SelectSendsTheNameWithJpgAndASpace) {
    openSerial();
    EXPECT_EQ(link.selectFileSerial("T0000123"), 1);
    EXPECT_EQ(ports.written[link.portHandle],
              Bytes({0xC2, 'T', '0', '0', '0', '0', '1', '2', '3', 'J', 'P', 'G', ' '}));
}

TEST_F(SerialFiles, SelectWithoutAnswerFails) {
    ScriptedPeer silent([](ScriptedPeer& peer, const Bytes& bytes, std::uint32_t at) {
        if (bytes == Bytes({0xB1})) {
            peer.send({0xD1}, at);
        }
    });
    ports.attach("COM1", &silent);
    link.connectSerial();
    ASSERT_EQ(link.linkKind, camlink::LinkSerial);
    EXPECT_EQ(link.selectFileSerial("T0000123"), 0);
    EXPECT_EQ(silent.received, Bytes({0xB1, 0xC2})); // the name is not sent unasked
}

TEST_F(SerialFiles, DeleteWhoseStatusNeverComesIsDone) {
    openSerial();
    EXPECT_EQ(link.deleteFileSerial("S0000123"), 1);
    EXPECT_EQ(camera.selected, "S0000123JPG ");
    EXPECT_EQ(camera.commands.back(), 0xC3);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SerialFiles, DeleteTheCameraRefusesIsShownAndFails) {
    openSerial();
    camera.deleteStatus = 0xE3;
    EXPECT_EQ(link.deleteFileSerial("S0000123"), 0);
    camera.deleteStatus = 0xF2;
    EXPECT_EQ(link.deleteFileSerial("S0000123"), 1);
    EXPECT_THAT(ui.messages, ElementsAre("Access compact flash card failed!"));
    camera.deleteAck = false;
    EXPECT_EQ(link.deleteFileSerial("S0000123"), 0);
}

class UsbCatalogue : public LinkTest {
protected:
    // A camera whose catalogue has `length` bytes and `perBlock` entries in each block.
    void serve(std::uint32_t length, std::uint8_t perBlock) {
        usb.onEscape = [=](std::uint32_t code, const Bytes& in, std::uint8_t* out,
                           std::uint32_t outSize, std::uint32_t* delivered) {
            if (code == camlink::CAM_ESC_CATALOGUE_SIZE) {
                camlink::writeLe32(out, length);
                *delivered = 4;
                return true;
            }
            if (code == camlink::CAM_ESC_CATALOGUE_BLOCK && outSize == 512) {
                const std::uint32_t block = camlink::readLe32(in.data() + 4) / 512;
                std::memset(out, 0, 512);
                out[10] = perBlock;
                for (std::uint32_t e = 0; e < perBlock && e < 25; ++e) {
                    char name[32];
                    std::snprintf(name, sizeof name, "V%03u%04u", block % 1000, e);
                    Bytes record = entry(name, block * 100 + e);
                    std::copy(record.begin(), record.end(), out + 12 + e * 20);
                }
                *delivered = 512;
                return true;
            }
            return false;
        };
    }
    std::size_t blockRequests() const {
        return static_cast<std::size_t>(
            std::count_if(usb.requests.begin(), usb.requests.end(), [](const auto& r) {
                return r.first == camlink::CAM_ESC_CATALOGUE_BLOCK;
            }));
    }
};

TEST_F(UsbCatalogue, TransactionFrameAroundTheRead) {
    openUsb();
    serve(512 + 100, 2);
    EXPECT_EQ(link.readCatalogueUsb(pictures), 4);
    EXPECT_THAT(sti.log, ElementsAre("LockDevice 2000", "CreateEvent", "Subscribe", "DeviceReset",
                                     "GetStatus", "Escape 0x1002", "Escape 0x1003", "Escape 0x1003",
                                     "UnSubscribe", "UnLockDevice", "CloseEvent"));
    ASSERT_EQ(sti.subscriptions.size(), 1u);
    EXPECT_EQ(sti.subscriptions[0].dwSize, 24u);
    EXPECT_EQ(sti.subscriptions[0].dwFlags, 2u);
    EXPECT_NE(sti.subscriptions[0].hEvent, 0u);
    EXPECT_EQ(sti.subscriptions[0].dwFilter, 0u);
    EXPECT_EQ(sti.subscriptions[0].hWndNotify, 0u);
    EXPECT_EQ(sti.subscriptions[0].uiNotificationMessage, 0u);
    ASSERT_EQ(sti.statusQueries.size(), 1u);
    const platform::StiDeviceStatus& s = sti.statusQueries[0];
    EXPECT_EQ(s.dwSize, 24u);
    EXPECT_EQ(s.StatusMask, 1u);
    EXPECT_EQ(s.dwOnlineState + s.dwHardwareStatusCode + s.dwEventHandlingState +
                  s.dwPollingInterval,
              0u);
    EXPECT_EQ(sti.liveEvents, 0);
    EXPECT_EQ(catalogue.clears, 1);
    // The size escape has no input; block requests carry offset and length only.
    EXPECT_TRUE(usb.requests[0].second.empty());
    const std::uint8_t second[24] = {0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0};
    EXPECT_EQ(usb.requests[2].second, Bytes(second, second + 24));
    auto all = records();
    EXPECT_EQ(name8(all[2]->fullName), "S0010000");
    EXPECT_EQ(name8(all[2]->thumbName), "T0010000");
    EXPECT_EQ(all[2]->fullSize, 100u);
}

TEST_F(UsbCatalogue, LengthRulesForTheLastBlock) {
    openUsb();
    const std::pair<std::uint32_t, std::size_t> cases[] = {
        {512 * 3 + 5, 3}, {512 * 3 + 12, 3}, {512 * 3 + 13, 4}, {512 * 3, 3}, {0, 0},
        {5, 0},           {12, 0},           {13, 1},           {511, 1}};
    for (const auto& [length, blocks] : cases) {
        SCOPED_TRACE(length);
        usb.requests.clear();
        camlink::freePictures(pictures);
        serve(length, 1);
        EXPECT_EQ(link.readCatalogueUsb(pictures), static_cast<int>(blocks));
        EXPECT_EQ(blockRequests(), blocks);
    }
}

TEST_F(UsbCatalogue, RepeatedNamesEachKeepTheirRecord) {
    openUsb();
    usb.onEscape = [](std::uint32_t code, const Bytes&, std::uint8_t* out, std::uint32_t,
                      std::uint32_t* delivered) {
        if (code == camlink::CAM_ESC_CATALOGUE_SIZE) {
            camlink::writeLe32(out, 100);
        } else {
            out[10] = 2;
            Bytes a = entry("S0000001", 1), b = entry("V0000001", 2);
            std::copy(a.begin(), a.end(), out + 12);
            std::copy(b.begin(), b.end(), out + 32);
        }
        *delivered = code == camlink::CAM_ESC_CATALOGUE_SIZE ? 4 : 512;
        return true;
    };
    EXPECT_EQ(link.readCatalogueUsb(pictures), 2);
}

TEST_F(UsbCatalogue, BlockWithMoreThan25EntriesFails) {
    openUsb();
    serve(2 * 512, 26);
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_EQ(blockRequests(), 1u);
    EXPECT_EQ(sti.log.back(), "CloseEvent");
    EXPECT_EQ(sti.log[sti.log.size() - 2], "UnLockDevice");
}

TEST_F(UsbCatalogue, LengthBeyondAnyCardFails) {
    openUsb();
    serve(0xFFFFFFF0u, 1);
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_EQ(blockRequests(), 0u);
    serve(camlink::kMaxCatalogueBytes, 0);
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0); // allowed, though empty
    EXPECT_EQ(blockRequests(), camlink::kMaxCatalogueBytes / 512);
}

TEST_F(UsbCatalogue, OverLongDeliveryFails) {
    openUsb();
    usb.onEscape = [](std::uint32_t code, const Bytes&, std::uint8_t* out, std::uint32_t,
                      std::uint32_t* delivered) {
        if (code == camlink::CAM_ESC_CATALOGUE_SIZE) {
            camlink::writeLe32(out, 512);
            *delivered = 4;
        } else {
            out[10] = 1;
            *delivered = 513;
        }
        return true;
    };
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_EQ(pictures, nullptr);
}

TEST_F(UsbCatalogue, FailuresUnlockAndReport0) {
    openUsb();
    serve(512, 1);
    usb.lockOk = false;
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_THAT(sti.log, ElementsAre("LockDevice 2000"));
    EXPECT_EQ(catalogue.clears, 1); // emptied even though the transaction never began

    usb.lockOk = true;
    usb.statusOk = false;
    sti.log.clear();
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_THAT(sti.log, ElementsAre("LockDevice 2000", "CreateEvent", "Subscribe", "DeviceReset",
                                     "GetStatus", "UnSubscribe", "UnLockDevice", "CloseEvent"));

    usb.statusOk = true;
    usb.onEscape = nullptr; // every escape fails
    sti.log.clear();
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_EQ(sti.log[sti.log.size() - 2], "UnLockDevice");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(UsbCatalogue, DeleteLocksEscapesAndUnlocksOnly) {
    openUsb();
    usb.onEscape = [](std::uint32_t, const Bytes&, std::uint8_t*, std::uint32_t outSize,
                      std::uint32_t* delivered) {
        *delivered = outSize;
        return true;
    };
    EXPECT_EQ(link.deleteFileUsb("S0000123"), 1);
    EXPECT_THAT(sti.log, ElementsAre("LockDevice 2000", "Escape 0x1010", "UnLockDevice"));
    const std::uint8_t request[24] = {0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,
                                      'S', '0', '0', '0', '0', '1', '2', '3', 'J', 'P', 'G', 0};
    EXPECT_EQ(usb.requests[0].second, Bytes(request, request + 24));
    EXPECT_EQ(usb.outSizes[0], 4u);

    usb.onEscape = nullptr;
    EXPECT_EQ(link.deleteFileUsb("S0000123"), 0);
    EXPECT_EQ(sti.log.back(), "UnLockDevice");
}

} // namespace
