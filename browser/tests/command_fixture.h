// The browser's flows on the simulated camera's two faces on virtual time, a recording view
// and real files in scratch folders: the fixture of the command and hand-off tests.
#pragma once

#include "browser/commands.h"
#include "browser/tests/fake_view.h"
#include "link/protocol.h"
#include "link/tests/sim_peers.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace browser::testing {

using Names = std::vector<std::string>;

// Real files, with failures on demand; every call is recorded with its path. A dry run
// touches no disk: nothing exists and every write and move succeeds.
class TestFiles : public platform::FileSystem {
public:
    std::vector<std::string> findFiles(const char* p) override {
        return log("find", p), real.findFiles(p);
    }
    bool exists(const char* p) override { return log("exists", p), !dryRun && real.exists(p); }
    bool writeNewFile(const char* p, const void* d, std::size_t n) override {
        return log("write", p), !failWrite && (dryRun || real.writeNewFile(p, d, n));
    }
    bool moveFile(const char* f, const char* t, bool replace) override {
        log(replace ? "replace" : "move", t);
        return !failMove && (dryRun || real.moveFile(f, t, replace));
    }
    bool deleteFile(const char* p) override {
        return log("delete", p), !failDelete && real.deleteFile(p);
    }
    void log(const char* what, const char* path) {
        calls.push_back(std::string(what) + " " + path);
    }

    platform::FileSystem& real = platform::systemFileSystem();
    bool failWrite = false, failMove = false, failDelete = false, dryRun = false;
    Names calls;
};

class Commands : public ::testing::Test {
protected:
    // A card of `count` pictures behind the camera's two faces, and the browser on it.
    void start(int count, BrowserOptions options = {}, sim::Faults faults = {}) {
        commands.reset(), link.reset();
        card = std::make_unique<sim::Card>(simtest::makeCard(cardDir.path(), count));
        camera = std::make_unique<sim::Camera>(*card, faults);
        camera->setClock(clock);
        serialPeer = std::make_unique<linktest::SimSerialPeer>(*camera);
        usbPeer = std::make_unique<linktest::SimUsbPeer>(*camera);
        sti = std::make_unique<linktest::PeerStillImage>(usbPeer.get());
        sti->devices.push_back({u"LUMIVERA LV2700c5", u"STI\\LV2700C5\\0000"});
        ports.attach("COM1", serialPeer.get());
        link = std::make_unique<camlink::CameraLink>(ports, *sti, view, catalogue);
        commands = std::make_unique<BrowserCommands>(state, view, *link, clock, files, options);
        view.take(), view.messages.clear();
    }
    // Opens the link and loads the card; the view's records start afresh.
    void load(camlink::LinkKind kind = camlink::LinkUsb) {
        if (kind == camlink::LinkSerial) {
            sti->devices.clear();
        }
        commands->connectAndLoad();
        ASSERT_EQ(link->linkKind, kind);
        view.take(), view.messages.clear();
    }
    // A folder of three pictures and a bad file, opened. A save there leaves its folder for
    // the open, and adds a fourth picture.
    void openSource() {
        start(1);
        load();
        const std::string picture = slurp(std::string(SIM_TESTDATA) + "/full-96x64.jpg");
        std::ofstream(src + "a:b|c.jpg", std::ios::binary) << picture;
        std::ofstream(src + "bad.jpg") << "not a picture";
        std::ofstream(src + "d.JPG", std::ios::binary) << picture;
        select({0});
        saveTo(src);
        view.take(), view.messages.clear();
        commands->openFromFolder();
    }
    Names names() {
        Names all;
        state.pictures.rewind();
        for (std::uint32_t i = 0; const PictureEntry* e = state.pictures.entryAfterCursor(i); ++i) {
            all.push_back(e->name + std::string(e->selected ? "*" : ""));
        }
        return all;
    }
    void select(std::initializer_list<int> places) {
        for (int p : places) {
            state.pictures.selectRange(p, p);
        }
    }
    void saveTo(const std::string& folder) {
        view.chosenFolder = folder;
        commands->saveSelected();
    }
    std::string cardFile(const std::string& name) const { return cardDir.path() + "/" + name; }
    std::string slurp(const std::string& path) const {
        const auto bytes = simtest::readFile(path);
        return std::string(bytes.begin(), bytes.end());
    }
    std::size_t reads() const {
        return camera->transcript().escapes(camlink::CAM_ESC_READ_FILE).size();
    }

    simtest::TempDir cardDir, outDir, srcDir;
    const std::string out = outDir.path() + "/", src = srcDir.path() + "/";
    std::vector<linktest::PeerStillImage::Device> devices;
    platform::VirtualClock clock{5000};
    linktest::VirtualSerialPorts ports{clock};
    FakeView view;
    BrowserState state{view};
    ListCatalogue catalogue{state.pictures};
    TestFiles files;
    std::unique_ptr<sim::Card> card;
    std::unique_ptr<sim::Camera> camera;
    std::unique_ptr<linktest::SimSerialPeer> serialPeer;
    std::unique_ptr<linktest::SimUsbPeer> usbPeer;
    std::unique_ptr<linktest::PeerStillImage> sti;
    std::unique_ptr<camlink::CameraLink> link;
    std::unique_ptr<BrowserCommands> commands;
};

} // namespace browser::testing
