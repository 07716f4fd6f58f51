// The browser window's timings under Wine, on whatever camera the ports or the Still Image
// service offer (run-browser-bench starts them):
//   browser_bench.exe LABEL LOADS [REPAINTS]
// - load: a fresh window each round, from before `create` (which connects and reloads) to
//   the return of the first WM_PAINT that drew thumbnails, wall and process CPU time;
// - with REPAINTS (over USB): the reload command on an open window, the thumbnail fetches
//   alone through a link of their own, and the NEXT repaint (NEXT, then UpdateWindow).
// Each figure is printed per round and as a "result" line (median and minimum, ms) for the
// runner's table. Process CPU includes the Still Image stand-in, which runs in-process.
#include "browser/win32/tests/browser_host.h"
#include "jpeg/decode_picture.h"
#include "platform/console_ui.h"
#include "platform/memory.h"

#include <objbase.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

double cpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-4;
    };
    return ms(kernel) + ms(user);
}

double wallMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart) * 1e3 / double(frequency.QuadPart);
}

struct Sample {
    double wall;
    double cpu;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0.0 : n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double minimum(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

// One "result" line: NAME LABEL, wall median and minimum, CPU median, minimum and mean (ms),
// COUNT. The process clock ticks coarsely (10 ms under Wine): the CPU mean over all rounds
// says more than a median of ticks.
void result(const char* name, const std::string& label, const std::vector<Sample>& samples,
            unsigned count) {
    std::vector<double> wall, cpu;
    double cpuSum = 0;
    for (const Sample& s : samples) {
        wall.push_back(s.wall);
        cpu.push_back(s.cpu);
        cpuSum += s.cpu;
    }
    std::printf("result %s %s %.3f %.3f %.3f %.3f %.3f %u\n", name, label.c_str(), median(wall),
                minimum(wall), median(cpu), minimum(cpu),
                samples.empty() ? 0.0 : cpuSum / double(samples.size()), count);
    std::fflush(stdout);
}

// Notes when the window's own WM_PAINT returns, seen from a window procedure put in front
// of the dialog's.
WNDPROC gDialogProc = nullptr;
int gPaints = 0;
double gPaintedAt = 0;

LRESULT CALLBACK watchPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT r = CallWindowProcA(gDialogProc, window, message, wParam, lParam);
    if (message == WM_PAINT) {
        ++gPaints;
        gPaintedAt = wallMs();
    }
    return r;
}

void watch(HWND window) {
    gDialogProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watchPaint)));
}

// The page shows thumbnails: its first cell has a picture with a decoded thumbnail.
bool pageHasThumbnails(browsertest::TestBrowser& browser) {
    browser::PageCell cells[browser::kCellCount];
    browser.state.preparePage(cells);
    return cells[0].hasPicture && cells[0].thumbnail != nullptr;
}

void command(browsertest::TestBrowser& browser, int id) {
    SendMessageA(browser.hwnd(), WM_COMMAND, static_cast<WPARAM>(id), 0);
}

class NoCatalogue : public camlink::PictureCatalogue {
public:
    int clear() override { return 1; }
};

// Takes each decoded thumbnail as the picture list would, and keeps nothing.
class NoSink : public jpeg::PictureSink {
public:
    bool add(const char*, std::uint32_t, std::uint32_t, platform::GlobalHandle) override {
        return true;
    }
    void setCurrentInfo(const platform::BitmapInfoHeader*) override {}
};

// The parts of a reload one by one, CPU per picture: the thumbnail fetches through a link
// of their own (the transfer: the link and the stand-in's simulated camera), their decoding
// into DIBs, and the progress dialog's steps.
bool reloadParts(const std::string& label, int rounds) {
    platform::ConsoleUi ui("browser_bench");
    NoCatalogue catalogue;
    camlink::CameraLink link(platform::systemSerialPorts(), platform::systemStillImage(), ui,
                             catalogue);
    link.connectUsb();
    camlink::CameraPictureList pictures = nullptr;
    if (link.linkKind != camlink::LinkUsb || link.readCatalogueUsb(pictures) == 0) {
        std::fprintf(stderr, "browser_bench: no camera through the Still Image service\n");
        return false;
    }
    struct Thumbnail {
        std::string name;
        std::uint32_t fullSize;
        std::vector<std::uint8_t> data;
    };
    std::vector<Thumbnail> thumbnails;
    std::vector<Sample> fetches;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        const double wall = wallMs(), cpu = cpuMs();
        unsigned n = 0;
        for (camlink::CameraPicture* p = pictures; p != nullptr && ok; p = p->next, ++n) {
            const std::uint8_t* data = link.readFileUsb(p->thumbName, p->thumbSize, nullptr);
            ok = data != nullptr;
            if (ok && r == 0) {
                thumbnails.push_back({std::string(p->fullName, sizeof p->fullName), p->fullSize,
                                      std::vector<std::uint8_t>(data, data + p->thumbSize)});
            }
        }
        fetches.push_back({(wallMs() - wall) / n, (cpuMs() - cpu) / n});
    }
    camlink::freePictures(pictures);
    if (!ok) {
        std::fprintf(stderr, "browser_bench: a thumbnail fetch failed\n");
        return false;
    }
    const auto count = static_cast<unsigned>(thumbnails.size());
    result("fetch-per-picture", label, fetches, count);

    NoSink unused;
    std::vector<Sample> decodes;
    for (int r = 0; r < rounds && ok; ++r) {
        const double wall = wallMs(), cpu = cpuMs();
        for (const Thumbnail& t : thumbnails) {
            ok = ok && jpeg::decodePicture(ui, unused, t.data.data(), t.fullSize,
                                           static_cast<std::uint32_t>(t.data.size()),
                                           t.name.c_str(), 1, nullptr) == 1;
        }
        decodes.push_back({(wallMs() - wall) / count, (cpuMs() - cpu) / count});
    }
    if (!ok) {
        std::fprintf(stderr, "browser_bench: a thumbnail did not decode\n");
        return false;
    }
    result("decode-per-picture", label, decodes, count);

    // The progress dialog as a reload drives it: one step and text a picture.
    std::vector<Sample> steps;
    for (int r = 0; r < rounds; ++r) {
        const double wall = wallMs(), cpu = cpuMs();
        {
            browser::win32::CProgDLg progress(176, 333);
            progress.setRange(1, static_cast<int>(count));
            progress.setStep(1);
            progress.show();
            for (unsigned k = 1; k <= count; ++k) {
                char text[32];
                std::snprintf(text, sizeof text, "%u of %u", k, count);
                progress.setText(text);
                progress.stepIt();
            }
            progress.hide();
        }
        browsertest::pumpMessages();
        steps.push_back({(wallMs() - wall) / count, (cpuMs() - cpu) / count});
    }
    result("progress-per-picture", label, steps, count);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: browser_bench LABEL LOADS [REPAINTS]\n");
        return 2;
    }
    const std::string label = argv[1];
    const int loads = std::max(1, std::atoi(argv[2]));
    const int repaints = argc > 3 ? std::atoi(argv[3]) : 0;
    CoInitialize(nullptr);
    framework::Application app;
    int status = 0;

    // Load: a new window on the camera each round, to its first page on screen.
    std::vector<Sample> loadSamples, createSamples, perPicture;
    unsigned pictures = 0;
    for (int r = 0; r < loads && status == 0; ++r) {
        auto browser = std::make_unique<browsertest::TestBrowser>();
        const double wall = wallMs(), cpu = cpuMs();
        if (browser->create(nullptr) == nullptr) {
            std::fprintf(stderr, "browser_bench: the window could not be made\n");
            status = 1;
            break;
        }
        const double created = wallMs();
        watch(browser->hwnd());
        gPaints = 0;
        UpdateWindow(browser->hwnd());
        const double cpuUsed = cpuMs() - cpu;
        pictures = browser->state.pictures.count();
        if (gPaints == 0 || !pageHasThumbnails(*browser)) {
            std::fprintf(stderr, "browser_bench: no page of thumbnails painted (%u pictures)\n",
                         pictures);
            status = 1;
            break;
        }
        loadSamples.push_back({gPaintedAt - wall, cpuUsed});
        createSamples.push_back({created - wall, 0});
        perPicture.push_back({0, cpuUsed / pictures});
        std::printf("load %s round %d: %.1f ms to the first page (create %.1f ms, paint %.1f ms), "
                    "%.1f ms CPU, %u pictures\n",
                    label.c_str(), r + 1, gPaintedAt - wall, created - wall, gPaintedAt - created,
                    cpuUsed, pictures);
        std::fflush(stdout);
        browser->destroyWindow();
        browsertest::pumpMessages();
    }
    if (status == 0) {
        result("load", label, loadSamples, pictures);
        result("create", label, createSamples, pictures);
        result("load-cpu-per-picture", label, perPicture, pictures);
    }

    if (status == 0 && repaints > 0) {
        auto browser = std::make_unique<browsertest::TestBrowser>();
        if (browser->create(nullptr) == nullptr) {
            return 1;
        }
        UpdateWindow(browser->hwnd());
        watch(browser->hwnd());
        browsertest::pumpMessages();

        // The reload command on the open window: no window creation in it.
        std::vector<Sample> reloads;
        for (int r = 0; r < loads; ++r) {
            const double wall = wallMs(), cpu = cpuMs();
            command(*browser, browser::kIdFromCamera);
            UpdateWindow(browser->hwnd());
            const unsigned n = browser->state.pictures.count();
            reloads.push_back({wallMs() - wall, (cpuMs() - cpu) / (n == 0 ? 1 : n)});
        }
        result("reload-per-picture-cpu", label, reloads, pictures);

        // NEXT twice from the first page (places 1, 4, 7 of 14), back to the first untimed.
        std::vector<Sample> nexts;
        for (int r = 0; r < repaints && status == 0; ++r) {
            command(*browser, browser::kIdFirstPage);
            UpdateWindow(browser->hwnd());
            for (int step = 0; step < 2; ++step) {
                const std::uint32_t before = browser->state.pictures.position();
                gPaints = 0;
                const double wall = wallMs(), cpu = cpuMs();
                command(*browser, browser::kIdNext);
                UpdateWindow(browser->hwnd());
                const double took = wallMs() - wall, cpuTook = cpuMs() - cpu;
                if (gPaints == 0 || browser->state.pictures.position() == before) {
                    std::fprintf(stderr, "browser_bench: NEXT did not page and repaint\n");
                    status = 1;
                    break;
                }
                nexts.push_back({took, cpuTook});
            }
        }
        if (status == 0) {
            result("next", label, nexts, static_cast<unsigned>(nexts.size()));
            // The process clock ticks coarsely: the mean over all rounds says more.
            double cpu = 0;
            for (const Sample& s : nexts) {
                cpu += s.cpu;
            }
            std::printf("next %s: %.3f ms CPU a repaint on average over %zu\n", label.c_str(),
                        cpu / double(nexts.size()), nexts.size());
        }
        browser->destroyWindow();
        browsertest::pumpMessages();
        browser.reset();

        if (status == 0 && !reloadParts(label, std::max(repaints, loads))) {
            status = 1;
        }
    }
    CoUninitialize();
    return status;
}
