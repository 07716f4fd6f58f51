// A catalogue read tells a failure from an empty card: both return 0, and
// lastCatalogueFailed says which it was, on either link.
#include "link/tests/fixture.h"

#include <functional>

using namespace linktest;

namespace {

struct Outcome {
    const char* name;
    std::function<void(SerialCamera&, ScriptedUsbPeer&)> setUp;
    int count;
    bool failed;
};

void PrintTo(const Outcome& row, std::ostream* out) {
    *out << row.name;
}

std::string nameOf(const ::testing::TestParamInfo<Outcome>& info) {
    return info.param.name;
}

class SerialOutcome : public LinkTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(SerialOutcome, TellsFailureFromEmptyCard) {
    openSerial();
    GetParam().setUp(camera, usb);
    EXPECT_EQ(link.readCatalogueSerial(pictures), GetParam().count);
    EXPECT_EQ(link.lastCatalogueFailed(), GetParam().failed);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, SerialOutcome,
    ::testing::Values(
        Outcome{"EmptyCard", [](SerialCamera&, ScriptedUsbPeer&) {}, 0, false},
        Outcome{"TwoPictures",
                [](SerialCamera& c, ScriptedUsbPeer&) {
                    c.groups = {{entry("S0000001", 10), entry("S0000002", 20)}};
                },
                2, false},
        Outcome{"NoCard", [](SerialCamera& c, ScriptedUsbPeer&) { c.catalogueStatus = 0xE1; }, 0,
                true},
        Outcome{"UnknownStatus",
                [](SerialCamera& c, ScriptedUsbPeer&) { c.catalogueStatus = 0x42; }, 0, true},
        Outcome{"CountOf26",
                [](SerialCamera& c, ScriptedUsbPeer&) {
                    c.groups = {{entry("S0000001", 10)}};
                    c.forcedCount = {26};
                },
                0, true},
        Outcome{"NoAcknowledgement",
                [](SerialCamera& c, ScriptedUsbPeer&) { c.catalogueAck = false; }, 0, true},
        Outcome{"SecondGroupTorn",
                [](SerialCamera& c, ScriptedUsbPeer&) {
                    c.groups = {{entry("S0000001", 10)}, {entry("S0000002", 20)}};
                    c.forcedCount = {-1, 2}; // says 2, sends 1: the read runs out mid-entry
                },
                0, true}),
    nameOf);

TEST_F(LinkTest, ClosedPortIsAFailedRead) {
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_TRUE(link.lastCatalogueFailed());
}

// The USB camera's catalogue: `length` bytes, one entry a block.
void serveUsb(ScriptedUsbPeer& usb, std::uint32_t length, std::uint8_t count = 1) {
    usb.onEscape = [=](std::uint32_t code, const Bytes&, std::uint8_t* out, std::uint32_t,
                       std::uint32_t* delivered) {
        if (code == camlink::CAM_ESC_CATALOGUE_SIZE) {
            camlink::writeLe32(out, length);
            *delivered = 4;
            return true;
        }
        std::memset(out, 0, 512);
        out[10] = count;
        const Bytes record = entry("S0000001", 10);
        std::copy(record.begin(), record.end(), out + 12);
        *delivered = 512;
        return true;
    };
}

class UsbOutcome : public LinkTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(UsbOutcome, TellsFailureFromEmptyCard) {
    openUsb();
    GetParam().setUp(camera, usb);
    EXPECT_EQ(link.readCatalogueUsb(pictures), GetParam().count);
    EXPECT_EQ(link.lastCatalogueFailed(), GetParam().failed);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, UsbOutcome,
    ::testing::Values(
        Outcome{"EmptyCard", [](SerialCamera&, ScriptedUsbPeer& u) { serveUsb(u, 0); }, 0, false},
        Outcome{"TwoBlocks", [](SerialCamera&, ScriptedUsbPeer& u) { serveUsb(u, 1024); }, 2,
                false},
        Outcome{"LockFails",
                [](SerialCamera&, ScriptedUsbPeer& u) {
                    serveUsb(u, 512);
                    u.lockOk = false;
                },
                0, true},
        Outcome{"SizeEscapeFails", [](SerialCamera&, ScriptedUsbPeer& u) { u.onEscape = nullptr; },
                0, true},
        Outcome{"CountOf26", [](SerialCamera&, ScriptedUsbPeer& u) { serveUsb(u, 512, 26); }, 0,
                true}),
    nameOf);

// A failed read followed by a good one of an empty card: the second is no failure.
TEST_F(LinkTest, EachReadSaysForItself) {
    openSerial();
    camera.catalogueStatus = 0xE3;
    link.readCatalogueSerial(pictures);
    ASSERT_TRUE(link.lastCatalogueFailed());
    camera.catalogueStatus = camlink::ST_DATA;
    EXPECT_EQ(link.readCatalogueSerial(pictures), 0);
    EXPECT_FALSE(link.lastCatalogueFailed());
}

} // namespace
