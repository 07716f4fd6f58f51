// A camera link wired to test doubles: serial ports on virtual time with a scripted camera
// on COM1, and a Still Image service with a scripted USB camera.
#pragma once

#include "link/camera_link.h"
#include "link/tests/fakes.h"
#include "link/tests/script_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace linktest {

class LinkTest : public ::testing::Test {
protected:
    LinkTest() {
        sti.devices.push_back(
            {u"LUMIVERA LV2700c5", u"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000"});
    }
    ~LinkTest() override { camlink::freePictures(pictures); }

    // Opens the serial link on COM1 as start-up would.
    void openSerial() {
        ports.attach("COM1", &camera);
        link.connectSerial();
        ASSERT_EQ(link.linkKind, camlink::LinkSerial);
        ports.written.clear();
        camera.commands.clear();
        ui.events.clear();
    }
    void openUsb() {
        link.connectUsb();
        ASSERT_EQ(link.linkKind, camlink::LinkUsb);
        sti.log.clear();
        ui.events.clear();
    }
    std::vector<camlink::CameraPicture*> records() const {
        std::vector<camlink::CameraPicture*> all;
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
            all.push_back(p);
        }
        return all;
    }
    static std::string name8(const char* name) { return std::string(name, 8); }

    platform::VirtualClock clock{1000};
    VirtualSerialPorts ports{clock};
    SerialCamera camera;
    ScriptedUsbPeer usb;
    PeerStillImage sti{&usb};
    RecordingUi ui;
    FakeCatalogue catalogue;
    camlink::CameraLink link{ports, sti, ui, catalogue};
    camlink::CameraPictureList pictures = nullptr;
};

} // namespace linktest
