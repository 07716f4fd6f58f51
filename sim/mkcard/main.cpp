// mkcard: makes a camera card folder from photographs, or a generated test picture.
#include "sim/card.h"
#include "sim/mkcard/image.h"
#include "sim/protocol.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: mkcard [options] CARD_DIR PHOTO...\n"
    "       mkcard --pattern WIDTH HEIGHT SEED OUT.jpg\n"
    "\n"
    "Makes a camera card in CARD_DIR (emptied first) from photographs (JPEG or binary\n"
    "PPM): for each picture a full-size S<7>.JPG, baseline, luma 2x1, one scan, and a\n"
    "thumbnail file T<7>.JPG of 0x7000 bytes holding a 160x120 JPEG 2123 bytes in,\n"
    "plus the order file ORDER.LST. Photographs are centre-cropped to the picture's shape.\n"
    "\n"
    "options:\n"
    "  --count N      make N pictures, going round the photographs (default: one each)\n"
    "  --vga LIST     comma-separated picture numbers (1-based) made 640x480 with entry\n"
    "                 letter V; the others are 1792x1200 with letter S\n"
    "  --first N      number of the first picture's file name (default 1)\n"
    "  --quality Q    JPEG quality of the full pictures (default 85)\n"
    "  --full-size WxH  full pictures of this size instead (small cards for tests)\n"
    "  --help         this text\n"
    "\n"
    "--pattern writes one generated picture (ramps and squares) in the same JPEG form.\n";

int usage(const char* error) {
    std::fprintf(stderr, "mkcard: %s\n\n%s", error, kUsage);
    return 2;
}

bool number(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return *text && !*end && out >= low && out <= high;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

// The thumbnail at the best quality that still fits its file.
std::vector<std::uint8_t> thumbnailJpeg(const mkcard::Image& image) {
    const mkcard::Image small = mkcard::fit(image, 160, 120);
    for (int quality = 85;; quality -= 10) {
        auto bytes = mkcard::encodeJpeg(small, quality);
        if (bytes.size() <= sim::kThumbFileSize - sim::kThumbJpegOffset || quality <= 15)
            return bytes;
    }
}

} // namespace

int main(int argc, char** argv) {
    long count = 0, first = 1, quality = 85, fullWidth = 0, fullHeight = 0;
    std::set<long> vga;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](long low, long high, long& out) {
            return i + 1 < argc && number(argv[++i], low, high, out);
        };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--pattern") {
            long w = 0, h = 0, seed = 0;
            if (argc - i != 5 || !number(argv[i + 1], 1, 4096, w) ||
                !number(argv[i + 2], 1, 4096, h) || !number(argv[i + 3], 0, 1000, seed))
                return usage("--pattern needs WIDTH HEIGHT SEED OUT.jpg");
            const auto bytes =
                mkcard::encodeJpeg(mkcard::pattern(int(w), int(h), unsigned(seed)), 85);
            if (!writeFile(argv[i + 4], bytes)) {
                std::fprintf(stderr, "mkcard: cannot write %s\n", argv[i + 4]);
                return 1;
            }
            return 0;
        } else if (arg == "--count") {
            if (!value(1, 9999, count))
                return usage("--count needs a number from 1 to 9999");
        } else if (arg == "--first") {
            if (!value(0, 9999999, first))
                return usage("--first needs a number from 0 to 9999999");
        } else if (arg == "--quality") {
            if (!value(1, 100, quality))
                return usage("--quality needs a number from 1 to 100");
        } else if (arg == "--full-size") {
            const std::string size = i + 1 < argc ? argv[++i] : "";
            const std::size_t x = size.find('x');
            if (x == std::string::npos || !number(size.substr(0, x).c_str(), 1, 4096, fullWidth) ||
                !number(size.substr(x + 1).c_str(), 1, 4096, fullHeight))
                return usage("--full-size needs WIDTHxHEIGHT");
        } else if (arg == "--vga") {
            if (++i >= argc)
                return usage("--vga needs a list");
            std::string list = argv[i];
            for (std::size_t at = 0; at < list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                long n = 0;
                if (!number(list.substr(at, comma - at).c_str(), 1, 9999, n))
                    return usage("--vga needs picture numbers separated by commas");
                vga.insert(n);
                at = comma + 1;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage(("unknown option " + arg).c_str());
        } else {
            args.push_back(arg);
        }
    }
    if (args.size() < 2)
        return usage("a card folder and at least one photograph are needed");
    const std::vector<std::string> photos(args.begin() + 1, args.end());
    if (count == 0)
        count = long(photos.size());
    if (first + count - 1 > 9999999)
        return usage("picture numbers run past 9999999");

    std::string error;
    auto card = sim::Card::create(args[0], &error);
    if (!card) {
        std::fprintf(stderr, "mkcard: %s\n", error.c_str());
        return 1;
    }
    std::vector<mkcard::Image> images(photos.size());
    for (long n = 1; n <= count; ++n) {
        const std::size_t which = std::size_t(n - 1) % photos.size();
        if (images[which].empty()) {
            images[which] = mkcard::readImage(photos[which], &error);
            if (images[which].empty()) {
                std::fprintf(stderr, "mkcard: %s: %s\n", photos[which].c_str(), error.c_str());
                return 1;
            }
        }
        const bool small = vga.count(n) != 0;
        const int width = fullWidth ? int(fullWidth) : small ? 640 : 1792;
        const int height = fullHeight ? int(fullHeight) : small ? 480 : 1200;
        const mkcard::Image full = mkcard::fit(images[which], width, height);
        char name[32];
        std::snprintf(name, sizeof name, "%c%07ld", small ? 'V' : 'S', first + n - 1);
        if (!card->addPicture(name, mkcard::encodeJpeg(full, int(quality)), thumbnailJpeg(full),
                              &error)) {
            std::fprintf(stderr, "mkcard: %s\n", error.c_str());
            return 1;
        }
        std::printf("%s %s\n", name, photos[which].c_str());
    }
    return 0;
}
