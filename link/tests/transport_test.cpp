// Opening and closing the links: Still Image device choice, COM port probing, the link
// state and what the browser is told.
#include "link/tests/fixture.h"
#include "platform/memory.h"

#include <gmock/gmock.h>

using namespace linktest;
using camlink::LinkNone;
using camlink::LinkSerial;
using camlink::LinkUsb;
using ::testing::ElementsAre;

namespace {

class Transport : public LinkTest {};

TEST_F(Transport, UsbOpensTheDeviceWithTheFullCallSequence) {
    link.connectUsb();
    EXPECT_EQ(link.linkKind, LinkUsb);
    EXPECT_THAT(sti.log,
                ElementsAre("StiCreateInstanceW 2", "GetDeviceList 0 0",
                            "CreateDevice {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 2"));
    EXPECT_THAT(ui.events, ElementsAre("state 1012 up"));
    EXPECT_NE(link.stiDevice, nullptr);
    // Not locked by opening: each operation locks for itself.
    EXPECT_EQ(std::count(sti.log.begin(), sti.log.end(), "LockDevice 2000"), 0);
}

TEST_F(Transport, DescriptionMustMatchExactly) {
    for (const char16_t* description : {u"lumivera lv2700c5", u"LUMIVERA LV2700c5 ",
                                        u"LUMIVERA LV2700c", u"LUMIVERA LV2700c5x"}) {
        sti.devices = {{description, u"X"}};
        EXPECT_EQ(link.openStillDevice(), 0);
        EXPECT_EQ(link.stiDevice, nullptr);
    }
    EXPECT_EQ(sti.liveDevices, 0);
}

TEST_F(Transport, FirstOfTwoMatchingDevicesIsOpened) {
    sti.devices = {
        {u"Other scanner", u"A"}, {u"LUMIVERA LV2700c5", u"B"}, {u"LUMIVERA LV2700c5", u"C"}};
    EXPECT_EQ(link.openStillDevice(), 1);
    EXPECT_EQ(sti.log.back(), "CreateDevice B 2");
}

TEST_F(Transport, FailingStepsOfOpeningGiveBackWhatTheyTook) {
    sti.createInstanceOk = false;
    EXPECT_EQ(link.openStillDevice(), 0);
    EXPECT_EQ(sti.liveInstances, 0);

    sti.createInstanceOk = true;
    sti.getDeviceListOk = false;
    EXPECT_EQ(link.openStillDevice(), 0);
    EXPECT_EQ(link.stillImage, nullptr);
    EXPECT_EQ(sti.liveInstances, 0);

    sti.getDeviceListOk = true;
    sti.createDeviceOk = false;
    EXPECT_EQ(link.openStillDevice(), 0);
    EXPECT_EQ(link.stillImage, nullptr);
    EXPECT_EQ(sti.liveInstances, 0);

    sti.devices.clear(); // an empty list ends with 0 too
    sti.createDeviceOk = true;
    EXPECT_EQ(link.openStillDevice(), 0);
}

TEST_F(Transport, DeviceListIsGivenBackWhenReplacedAndAtTheEnd) {
    {
        camlink::CameraLink own(ports, sti, ui, catalogue);
        EXPECT_EQ(own.openStillDevice(), 1);
        EXPECT_EQ(own.openStillDevice(), 1);
        EXPECT_EQ(sti.liveLists, 1);
        EXPECT_EQ(sti.liveDevices, 1);
        EXPECT_EQ(sti.liveInstances, 1);
    }
    EXPECT_EQ(sti.liveLists, 0);
    EXPECT_EQ(sti.liveDevices, 0);
    EXPECT_EQ(sti.liveInstances, 0);
}

TEST_F(Transport, UsbPressedWhileConnectedAndFailingKeepsUsbWithNoDevice) {
    openUsb();
    sti.createDeviceOk = false;
    ui.events.clear();
    link.connectUsb();
    EXPECT_EQ(link.linkKind, LinkUsb);
    EXPECT_EQ(link.stiDevice, nullptr);
    EXPECT_THAT(ui.events,
                ElementsAre("invalidate 1012 erase", "message Can't find DSC connected to USB!"));
    // USB operations yield nothing and call nothing.
    sti.log.clear();
    EXPECT_EQ(link.readCatalogueUsb(pictures), 0);
    EXPECT_EQ(link.readFileUsb("S0000001", 100, nullptr), nullptr);
    EXPECT_EQ(link.deleteFileUsb("S0000001"), 0);
    EXPECT_TRUE(sti.log.empty());
}

TEST_F(Transport, SerialProbeSetsTheLineAndKeepsTheRestOfThePortState) {
    ports.attach("COM1", &camera);
    const platform::PortHandle port = link.probeSerialPort("COM1");
    ASSERT_NE(port, platform::kInvalidPort);
    EXPECT_EQ(ports.lastState.baudRate, 115200u);
    EXPECT_EQ(ports.lastState.byteSize, 8);
    EXPECT_EQ(ports.lastState.parity, 0);
    EXPECT_EQ(ports.lastState.stopBits, 2);
    for (std::size_t i = 0; i < sizeof ports.lastState.native; ++i) {
        ASSERT_EQ(ports.lastState.native[i], static_cast<unsigned char>(0xA0 + i));
    }
    EXPECT_EQ(ports.written[port], Bytes({0xB1}));
    // The read's time-outs were set for it: interval 0, 10 ms a byte, 500 ms constant.
    const platform::CommTimeouts& t = ports.timeouts[port];
    EXPECT_EQ(t.readIntervalTimeout, 0u);
    EXPECT_EQ(t.readTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.readTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.writeTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.writeTotalTimeoutConstant, 0u);
    ports.close(port);
}

TEST_F(Transport, WriteTimeoutsAreSetForEveryWrite) {
    openSerial();
    std::uint32_t done = 0;
    const std::uint8_t bytes[3] = {1, 2, 3};
    EXPECT_NE(link.serialWrite(link.portHandle, bytes, 3, &done, 777), 0);
    EXPECT_EQ(done, 3u);
    const platform::CommTimeouts& t = ports.timeouts[link.portHandle];
    EXPECT_EQ(t.writeTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.writeTotalTimeoutConstant, 777u);
    EXPECT_EQ(t.readTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.readTotalTimeoutConstant, 0u);
}

TEST_F(Transport, SilentReadTakesItsWholeTimeoutAndReportsNothing) {
    openSerial();
    std::uint8_t buffer[4] = {9, 9, 9, 9};
    std::uint32_t done = 123;
    const std::uint32_t before = clock.nowMs();
    link.serialRead(link.portHandle, buffer, 4, &done, 500);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(clock.nowMs() - before, 540u); // 10 ms x 4 bytes + 500
    EXPECT_EQ(buffer[0], 9);
}

TEST_F(Transport, WrongProbeAnswerOnCom1ThenCom2) {
    SerialCamera wrong;
    wrong.probeReply = 0xD2;
    ports.attach("COM1", &wrong);
    ports.attach("COM2", &camera);
    link.linkKind = LinkUsb;
    link.connectSerial();
    EXPECT_EQ(link.linkKind, LinkSerial);
    EXPECT_EQ(link.portName, "COM2");
    EXPECT_EQ(ports.openPorts(), 1u);
    EXPECT_THAT(ports.calls,
                ElementsAre("open COM1", "setCommState", "close", "open COM2", "setCommState"));
    EXPECT_THAT(ui.events, ElementsAre("state 1012 pushed"));
}

TEST_F(Transport, SilentPortAndUnconfigurablePortAreClosed) {
    ScriptedPeer silent;
    ports.attach("COM1", &silent);
    EXPECT_EQ(link.probeSerialPort("COM1"), platform::kInvalidPort);
    ports.failSetCommState = true;
    ports.attach("COM2", &camera);
    EXPECT_EQ(link.probeSerialPort("COM2"), platform::kInvalidPort);
    EXPECT_EQ(ports.openPorts(), 0u);
    EXPECT_TRUE(camera.commands.empty()); // nothing written to a port left unconfigured
}

TEST_F(Transport, SerialPressedWhileAPortIsOpenDoesNothing) {
    openSerial();
    ports.calls.clear();
    ui.events.clear();
    link.connectSerial();
    EXPECT_TRUE(ports.calls.empty());
    EXPECT_TRUE(ui.events.empty());
    EXPECT_TRUE(camera.commands.empty());
}

TEST_F(Transport, SwitchingLinksClosesOrReleasesTheOther) {
    openSerial();
    link.connectUsb();
    EXPECT_EQ(link.linkKind, LinkUsb);
    EXPECT_EQ(link.portHandle, platform::kInvalidPort);
    EXPECT_EQ(ports.openPorts(), 0u);

    link.connectSerial();
    EXPECT_EQ(link.linkKind, LinkSerial);
    EXPECT_EQ(link.stiDevice, nullptr);
    EXPECT_EQ(link.stillImage, nullptr);
    EXPECT_EQ(sti.liveDevices, 0);
    EXPECT_EQ(sti.liveInstances, 0);
}

TEST_F(Transport, FailedConnectsAtStartShowNothingOfTheirOwn) {
    sti.devices.clear();
    link.connectUsb();
    link.connectSerial(); // no ports at all
    EXPECT_EQ(link.linkKind, LinkNone);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_THAT(ui.events, ElementsAre("invalidate 1012 erase", "invalidate 1011 erase"));
}

TEST_F(Transport, FailedSerialConnectWhileOnUsbTellsTheUser) {
    openUsb();
    ui.events.clear();
    link.connectSerial();
    EXPECT_EQ(link.linkKind, LinkUsb);
    EXPECT_NE(link.stiDevice, nullptr);
    EXPECT_THAT(ui.events, ElementsAre("invalidate 1011 erase",
                                       "message Can't find DSC on the COM1 and COM2!"));
}

TEST_F(Transport, StartUpMessageText) {
    EXPECT_STREQ(camlink::kMsgNoCameraAtStart,
                 "Can not find digital camera!\nTIP:\n(1)Please restart your computer.\n(2)Check "
                 "if digital camera is powered on already.\n(3)Check if the USB cable is "
                 "connected properly.\n(4)Turn off camera. Reset and plug it again.");
}

TEST_F(Transport, DestructionClosesThePortOnce) {
    ports.attach("COM1", &camera);
    {
        camlink::CameraLink own(ports, sti, ui, catalogue);
        own.connectSerial();
        ASSERT_EQ(own.linkKind, LinkSerial);
        ports.calls.clear();
    }
    EXPECT_THAT(ports.calls, ElementsAre("close"));
}

} // namespace

namespace {

class StartUp : public LinkTest {};

TEST_F(StartUp, UsbFirstThenSerialThenTheCombinedMessage) {
    EXPECT_TRUE(link.connectAtStart());
    EXPECT_EQ(link.linkKind, LinkUsb);
    EXPECT_TRUE(ui.messages.empty());

    camlink::CameraLink serialOnly(ports, sti, ui, catalogue);
    sti.devices.clear();
    ports.attach("COM1", &camera);
    EXPECT_TRUE(serialOnly.connectAtStart());
    EXPECT_EQ(serialOnly.linkKind, LinkSerial);
    EXPECT_TRUE(ui.messages.empty());

    camlink::CameraLink none(ports, sti, ui, catalogue);
    ScriptedPeer silent;
    ports.attach("COM1", &silent);
    EXPECT_FALSE(none.connectAtStart());
    EXPECT_EQ(none.linkKind, LinkNone);
    EXPECT_THAT(ui.messages, ElementsAre(camlink::kMsgNoCameraAtStart));
}

TEST_F(StartUp, PaintShowsTheSerialButtonPushedOnlyOnSerial) {
    link.showLinkState();
    EXPECT_THAT(ui.events, ElementsAre("state 1012 up"));
    openSerial();
    link.showLinkState();
    EXPECT_THAT(ui.events, ElementsAre("state 1012 pushed"));
    link.connectUsb();
    ui.events.clear();
    link.showLinkState();
    EXPECT_THAT(ui.events, ElementsAre("state 1012 up"));
}

TEST_F(StartUp, FetchChoosesTheLinkAndSaysWhoOwnsTheBuffer) {
    bool callerOwns = true;
    EXPECT_EQ(link.fetchFile("S0000001", 10, nullptr, &callerOwns), nullptr);
    EXPECT_FALSE(callerOwns);

    openSerial();
    camera.file = pattern(700);
    std::uint8_t* serial = link.fetchFile("S0000001", 700, nullptr, &callerOwns);
    ASSERT_NE(serial, nullptr);
    EXPECT_TRUE(callerOwns);
    EXPECT_EQ(camera.selected, "S0000001JPG ");
    EXPECT_EQ(Bytes(serial, serial + 700), camera.file);
    platform::virtualFree(serial);

    usb.onEscape = [](std::uint32_t, const Bytes&, std::uint8_t* out, std::uint32_t,
                      std::uint32_t* delivered) {
        out[0] = 0x5A;
        *delivered = 10;
        return true;
    };
    link.connectUsb();
    std::uint8_t* viaUsb = link.fetchFile("S0000001", 10, nullptr, &callerOwns);
    EXPECT_EQ(viaUsb, link.usbBuffer);
    EXPECT_FALSE(callerOwns);
    ASSERT_NE(viaUsb, nullptr);
    EXPECT_EQ(viaUsb[0], 0x5A);
}

TEST_F(StartUp, SerialFileOperationsOnAClosedPortDoNothing) {
    EXPECT_EQ(link.selectFileSerial("S0000001"), 0);
    EXPECT_EQ(link.deleteFileSerial("S0000001"), 0);
    EXPECT_EQ(link.readFileSerial("S0000001", 512, nullptr), nullptr);
    EXPECT_TRUE(ports.reads == 0 && ui.messages.empty());
}

} // namespace
