// Link benchmark.
//
// Serial: one 0x7000-byte thumbnail read through the native serial port over a
// pseudo-terminal, with the simulated camera behind a line pacer that lets every byte, both
// ways, take 11 bit times at 115200 baud (8N2). The figure is the read's real time against
// the wire minimum: all bytes of the exchange x 11 bits / 115200.
//
// USB: CPU time of one thumbnail fetch (7 chunks) and of one 1792x1200 picture file, with
// the simulated camera in the same process behind a Still Image service of its own.
#include "link/camera_link.h"
#include "link/protocol.h"
#include "platform/console_ui.h"
#include "platform/memory.h"
#include "platform/posix/serial_port_posix.h"
#include "sim/camera.h"
#include "sim/card.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kByteUs = 11.0 * 1e6 / 115200.0; // 95.49 us

std::uint64_t nowUs() {
    return std::uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The camera's end of the line: host bytes reach the camera one byte time after the line
// is free, and its replies leave one byte time apart, at microsecond precision.
class LinePacer {
public:
    LinePacer(int master, sim::Camera& camera) : master_(master), camera_(camera) {
        thread_ = std::thread([this] { run(); });
    }
    ~LinePacer() {
        stop_ = true;
        thread_.join();
    }
    void resetCounts() {
        toCamera_ = 0;
        toHost_ = 0;
    }
    std::uint64_t bytesOnWire() const { return toCamera_ + toHost_; }

private:
    struct Timed {
        double atUs;
        std::uint8_t byte;
    };
    std::uint32_t cameraMs(double us) const {
        return 1000 + static_cast<std::uint32_t>((us - double(start_)) / 1000.0);
    }

    void run() {
        start_ = nowUs();
        std::deque<Timed> rx, tx;
        double rxFree = 0, txFree = 0;
        std::uint8_t buffer[4096];
        while (!stop_) {
            const double now = double(nowUs());
            ssize_t n = read(master_, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                rxFree = std::max(now, rxFree) + kByteUs;
                rx.push_back({rxFree, buffer[i]});
            }
            while (!rx.empty() && rx.front().atUs <= now) {
                const double at = rx.front().atUs;
                camera_.serialFromHost(&rx.front().byte, 1, cameraMs(at));
                rx.pop_front();
                ++toCamera_;
                std::uint32_t last = 0;
                std::size_t got = camera_.serialToHost(buffer, sizeof buffer, cameraMs(at), &last);
                for (std::size_t i = 0; i < got; ++i) {
                    txFree = std::max(at, txFree) + kByteUs;
                    tx.push_back({txFree, buffer[i]});
                }
            }
            std::size_t due = 0;
            while (due < tx.size() && due < sizeof buffer && tx[due].atUs <= now) {
                buffer[due] = tx[due].byte;
                ++due;
            }
            if (due > 0) {
                ssize_t written = write(master_, buffer, due);
                for (ssize_t i = 0; i < written; ++i) {
                    tx.pop_front();
                }
                toHost_ += std::uint64_t(std::max<ssize_t>(written, 0));
            }
            double next = now + 1000;
            if (!rx.empty()) {
                next = std::min(next, rx.front().atUs);
            }
            if (!tx.empty()) {
                next = std::min(next, tx.front().atUs);
            }
            const double waitUs = std::max(0.0, next - double(nowUs()));
            pollfd p{master_, POLLIN, 0};
            timespec t{0, static_cast<long>(waitUs * 1000)};
            ppoll(&p, 1, &t, nullptr);
        }
    }

    int master_;
    sim::Camera& camera_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> toCamera_{0}, toHost_{0};
    std::uint64_t start_ = 0;
};

class NoCatalogue : public camlink::PictureCatalogue {
public:
    int clear() override { return 1; }
};

// A lean Still Image service over the simulated camera (no logging, no checks).
class SimStillImage : public platform::StillImageService,
                      platform::StillImage,
                      platform::StiDevice {
public:
    explicit SimStillImage(sim::Camera& camera) : camera_(camera) {}
    platform::StiResult createInstance(std::uint32_t, platform::StillImage** instance) override {
        *instance = this;
        return platform::kStiOk;
    }
    const char16_t* deviceDescription(const void*, std::uint32_t) override {
        return u"LUMIVERA LV2700c5";
    }
    const char16_t* deviceInternalName(const void*, std::uint32_t) override { return u"0"; }
    void localFree(void*) override {}
    int toAnsiCodePage(const char16_t* text, char* out, int outBytes) override {
        int n = 0;
        while (n < outBytes) {
            out[n] = static_cast<char>(text[n]);
            if (text[n++] == 0) {
                return n;
            }
        }
        return 0;
    }
    platform::EventHandle createEvent() override { return 1; }
    void closeEvent(platform::EventHandle) override {}

    platform::StiResult getDeviceList(std::uint32_t, std::uint32_t, std::uint32_t* count,
                                      void** list) override {
        *count = 1;
        *list = this;
        return platform::kStiOk;
    }
    platform::StiResult createDevice(const char16_t*, std::uint32_t,
                                     platform::StiDevice** device) override {
        *device = this;
        return platform::kStiOk;
    }
    std::uint32_t release() override { return 0; }

    platform::StiResult lockDevice(std::uint32_t ms) override { return ok(camera_.lockDevice(ms)); }
    platform::StiResult unLockDevice() override { return ok(camera_.unlockDevice()); }
    platform::StiResult subscribe(const platform::StiSubscribe&) override {
        return ok(camera_.subscribe());
    }
    platform::StiResult unSubscribe() override { return ok(camera_.unsubscribe()); }
    platform::StiResult deviceReset() override { return ok(camera_.resetDevice()); }
    platform::StiResult getStatus(platform::StiDeviceStatus&) override {
        return ok(camera_.getStatus());
    }
    platform::StiResult escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                               std::uint32_t outSize, std::uint32_t* delivered) override {
        return ok(camera_.escape(code, in, inSize, out, outSize, delivered));
    }

private:
    static platform::StiResult ok(bool b) { return b ? platform::kStiOk : platform::kStiFail; }
    sim::Camera& camera_;
};

int serialBench(sim::Card& card, int rounds) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    termios tio{};
    tcgetattr(master, &tio);
    cfmakeraw(&tio);
    tcsetattr(master, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    platform::mapSerialPort("COM1", ptsname(master));

    sim::Camera camera(card);
    LinePacer pacer(master, camera);
    platform::ConsoleUi ui("message");
    NoCatalogue catalogue;
    SimStillImage noUsb(camera);
    camlink::CameraLink link(platform::systemSerialPorts(), noUsb, ui, catalogue);
    link.connectSerial();
    if (link.linkKind != camlink::LinkSerial) {
        std::fprintf(stderr, "no camera on the pty\n");
        return 1;
    }
    camlink::CameraPictureList pictures = nullptr;
    if (link.readCatalogueSerial(pictures) == 0) {
        std::fprintf(stderr, "no catalogue\n");
        return 1;
    }
    const Bytes want = readFile(card.folder() + "/" + std::string(pictures->thumbName, 8) + ".JPG");

    std::vector<double> overheads;
    double wireMs = 0;
    for (int r = 0; r < rounds; ++r) {
        pacer.resetCounts();
        const std::uint64_t start = nowUs();
        std::uint8_t* data = nullptr;
        if (link.selectFileSerial(pictures->thumbName) != 0) {
            data = link.readFileSerial("T", 0x7000, nullptr);
        }
        const double elapsedMs = double(nowUs() - start) / 1000.0;
        if (data == nullptr || Bytes(data, data + 0x7000) != want) {
            std::fprintf(stderr, "thumbnail read failed\n");
            return 1;
        }
        platform::virtualFree(data);
        wireMs = double(pacer.bytesOnWire()) * 11.0 * 1000.0 / 115200.0;
        overheads.push_back(elapsedMs / wireMs - 1.0);
        std::printf("serial thumbnail: %.1f ms, wire minimum %.1f ms (%llu bytes), overhead "
                    "%.2f%%\n",
                    elapsedMs, wireMs, static_cast<unsigned long long>(pacer.bytesOnWire()),
                    100.0 * overheads.back());
    }
    std::sort(overheads.begin(), overheads.end());
    std::printf("serial thumbnail: median overhead %.2f%% over %d reads (target <= 2%%)\n",
                100.0 * overheads[overheads.size() / 2], rounds);
    camlink::freePictures(pictures);
    close(master);
    return 0;
}

int usbBench(sim::Card& card) {
    sim::Camera camera(card);
    SimStillImage sti(camera);
    platform::ConsoleUi ui("message");
    NoCatalogue catalogue;
    camlink::CameraLink link(platform::systemSerialPorts(), sti, ui, catalogue);
    link.connectUsb();
    camlink::CameraPictureList pictures = nullptr;
    if (link.linkKind != camlink::LinkUsb || link.readCatalogueUsb(pictures) < 2) {
        std::fprintf(stderr, "no USB catalogue\n");
        return 1;
    }
    struct Case {
        const char* what;
        const char* name;
        std::uint32_t size;
        int rounds;
    } cases[] = {{"thumbnail (7 chunks)", pictures->thumbName, pictures->thumbSize, 2000},
                 {"1792x1200 picture", pictures->next->fullName, pictures->next->fullSize, 200}};
    for (const Case& c : cases) {
        const double start = cpuSeconds();
        for (int r = 0; r < c.rounds; ++r) {
            if (link.readFileUsb(c.name, c.size, nullptr) == nullptr) {
                std::fprintf(stderr, "USB read failed\n");
                return 1;
            }
        }
        const double perFetch = (cpuSeconds() - start) / c.rounds;
        std::printf("usb %s, %u bytes: %.1f us CPU a fetch (link and simulated camera)\n", c.what,
                    c.size, perFetch * 1e6);
    }
    camlink::freePictures(pictures);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string testdata = argc > 1 ? argv[1] : LINK_BENCH_TESTDATA;
    const auto folder =
        std::filesystem::temp_directory_path() / ("link-bench-" + std::to_string(getpid()));
    auto card = sim::Card::create(folder.string());
    if (!card) {
        std::fprintf(stderr, "cannot make a card in %s\n", folder.c_str());
        return 1;
    }
    const Bytes thumb = readFile(testdata + "/thumb-160x120.jpg");
    const Bytes small = readFile(testdata + "/full-96x64.jpg");
    // A picture file the size of a 1792x1200 JPEG of the camera's quality.
    Bytes large = pattern(600000);
    if (thumb.empty() || small.empty() || !card->addPicture("S0000001", small, thumb) ||
        !card->addPicture("S0000002", large, thumb)) {
        std::fprintf(stderr, "cannot fill the card from %s\n", testdata.c_str());
        return 1;
    }
    int result = serialBench(*card, 5);
    if (result == 0) {
        result = usbBench(*card);
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return result;
}
