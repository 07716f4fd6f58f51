// USB fetch cost under Wine through the Still Image stand-in (sti.dll beside the program,
// WINEDLLOVERRIDES=sti=n, LV_STI_CARD the card): CPU time of the process per thumbnail
// fetch (7 chunks) and per full picture, as GetProcessTimes counts it. The stand-in's own
// work (the simulated camera) is in the figure. Run by run-usb-bench.
#include "link/camera_link.h"
#include "platform/console_ui.h"

#include <windows.h>

#include <cstdio>

namespace {

class NoCatalogue : public camlink::PictureCatalogue {
public:
    int clear() override { return 1; }
};

double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

double wallSeconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int main() {
    platform::ConsoleUi ui("message");
    NoCatalogue catalogue;
    camlink::CameraLink link(platform::systemSerialPorts(), platform::systemStillImage(), ui,
                             catalogue);
    link.connectUsb();
    camlink::CameraPictureList pictures = nullptr;
    if (link.linkKind != camlink::LinkUsb || link.readCatalogueUsb(pictures) == 0) {
        std::fprintf(stderr, "no camera through the Still Image service\n");
        return 1;
    }
    camlink::CameraPicture* largest = pictures;
    for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
        if (p->fullSize > largest->fullSize) {
            largest = p;
        }
    }
    struct Case {
        const char* what;
        const char* name;
        std::uint32_t size;
        int rounds;
    } cases[] = {{"thumbnail (7 chunks)", pictures->thumbName, pictures->thumbSize, 20000},
                 {"full picture", largest->fullName, largest->fullSize, 5000}};
    int result = 0;
    for (const Case& c : cases) {
        const double cpu = cpuSeconds(), wall = wallSeconds();
        for (int r = 0; r < c.rounds && result == 0; ++r) {
            if (link.readFileUsb(c.name, c.size, nullptr) == nullptr) {
                std::fprintf(stderr, "read failed\n");
                result = 1;
            }
        }
        std::printf("usb %s, %u bytes, %u chunks: %.1f us CPU, %.1f us wall a fetch\n", c.what,
                    c.size, (c.size + 4095) / 4096, (cpuSeconds() - cpu) / c.rounds * 1e6,
                    (wallSeconds() - wall) / c.rounds * 1e6);
    }
    camlink::freePictures(pictures);
    return result;
}
