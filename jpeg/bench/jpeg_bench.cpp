// Decoding speed of this decoder (fast and plain scan paths) against libjpeg-turbo's islow
// decode to BGR, on the same files in one run, alternating, best of several rounds.
//   jpeg_bench [--seconds S] [--fast-only N] FILE...
#include "jpeg/fast_kernels.h"
#include "jpeg/jpeg_decoder.h"
#include "platform/ui.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef LV_HAVE_LIBJPEG
#include <jpeglib.h>
#endif

namespace {

class NoUi : public platform::UserInterface {
public:
    int messageBox(const char* text, unsigned) override {
        std::fprintf(stderr, "%s\n", text);
        return platform::kIdOk;
    }
    void requestClose() override {}
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}
};

std::vector<std::uint8_t> readFile(const char* path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path, "rb")) {
        std::uint8_t buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        std::fclose(f);
    }
    return bytes;
}

volatile std::uint32_t sink;

bool decodeOurs(const std::vector<std::uint8_t>& file, jpeg::ScanPath path, int& width,
                int& height) {
    NoUi ui;
    jpeg::JpegDecoder decoder(ui, path);
    const std::uint8_t* pixels =
        decoder.decodeMemory(file.data(), static_cast<std::uint32_t>(file.size()));
    if (pixels == nullptr) {
        return false;
    }
    width = decoder.imageHeader().width;
    height = decoder.imageHeader().height;
    sink = pixels[decoder.imageHeader().imageSize / 2];
    decoder.releaseBuffers();
    return true;
}

#ifdef LV_HAVE_LIBJPEG
bool decodeTurbo(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& out, int& width,
                 int& height) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_ISLOW;
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    width = static_cast<int>(info.output_width);
    height = static_cast<int>(info.output_height);
    out.resize(static_cast<std::size_t>(width) * height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.data() + static_cast<std::size_t>(info.output_scanline) * width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    sink = out[out.size() / 2];
    return true;
}
#endif

using Clock = std::chrono::steady_clock;

} // namespace

int main(int argc, char** argv) {
    double seconds = 3.0;
    int onlyFast = 0; // --fast-only N: N decodes with the fast path and nothing else (for perf)
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--fast-only") == 0 && i + 1 < argc) {
            onlyFast = std::atoi(argv[++i]);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: jpeg_bench [--seconds S] FILE...\n");
        return 2;
    }
    std::printf("kernels: %s%s\n", jpeg::detail::fastKernels().name,
#ifdef LV_HAVE_LIBJPEG
                std::getenv("JSIMD_FORCENONE") != nullptr ? "; libjpeg-turbo SIMD off"
                                                          : "; libjpeg-turbo SIMD on"
#else
                "; libjpeg-turbo not built in"
#endif
    );
    for (const char* path : files) {
        const std::vector<std::uint8_t> file = readFile(path);
        int w = 0, h = 0;
        if (file.empty() || !decodeOurs(file, jpeg::ScanPath::Fast, w, h)) {
            std::fprintf(stderr, "%s: cannot decode\n", path);
            return 1;
        }
        if (onlyFast > 0) {
            for (int n = 0; n < onlyFast; ++n) {
                decodeOurs(file, jpeg::ScanPath::Fast, w, h);
            }
            continue;
        }
        double best[3] = {1e30, 1e30, 1e30}; // fast, plain, libjpeg-turbo
        double megapixels = 0;
        std::vector<std::uint8_t> turboOut;
        const auto until = Clock::now() + std::chrono::duration<double>(seconds);
        int rounds = 0;
        while (Clock::now() < until || rounds < 3) {
            ++rounds;
            for (int which = 0; which < 3; ++which) {
                int width = 0, height = 0;
                const auto start = Clock::now();
                if (which == 0) {
                    decodeOurs(file, jpeg::ScanPath::Fast, width, height);
                } else if (which == 1) {
                    if (rounds % 4 != 1) {
                        continue; // the plain path is slow; sample it less often
                    }
                    decodeOurs(file, jpeg::ScanPath::Reference, width, height);
                } else {
#ifdef LV_HAVE_LIBJPEG
                    decodeTurbo(file, turboOut, width, height);
#else
                    continue;
#endif
                }
                const double t = std::chrono::duration<double>(Clock::now() - start).count();
                best[which] = std::min(best[which], t);
                if (which == 2 || megapixels == 0) {
                    megapixels = width * static_cast<double>(height) / 1e6;
                }
            }
        }
#ifdef LV_HAVE_LIBJPEG
        // libjpeg-turbo reports the true size; ours is padded to whole MCUs.
        int tw = 0, th = 0;
        decodeTurbo(file, turboOut, tw, th);
        megapixels = tw * static_cast<double>(th) / 1e6;
#endif
        const char* name = std::strrchr(path, '/');
        name = name != nullptr ? name + 1 : path;
        std::printf("%-28s %8.1f MP/s fast  %7.1f MP/s plain", name, megapixels / best[0],
                    megapixels / best[1]);
        if (best[2] < 1e29) {
            std::printf("  %7.1f MP/s libjpeg-turbo  ratio %.2f", megapixels / best[2],
                        best[2] / best[0]);
        }
        std::printf("  (%d rounds)\n", rounds);
    }
    return 0;
}
