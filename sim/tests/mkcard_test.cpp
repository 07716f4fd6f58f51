// mkcard as a user runs it: the card it writes holds pictures in the camera's JPEG form.
#include "sim/card.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace simtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// What the markers of a JPEG stream say about its form.
struct JpegForm {
    int frameMarker = 0; // 0xC0 baseline, 0xC2 progressive, ...
    int width = 0, height = 0;
    std::vector<int> sampling; // per component, 0xHV
    int scans = 0;
    bool restartInterval = false; // a DRI segment
    int restartMarkers = 0;       // RSTn inside the entropy-coded data
    bool endsWithEoi = false;
};

JpegForm inspect(const Bytes& d) {
    JpegForm f;
    std::size_t at = 2;
    while (at + 2 <= d.size() && d[at] == 0xFF) {
        const int marker = d[at + 1];
        if (marker == 0xD9) {
            f.endsWithEoi = at + 2 == d.size();
            break;
        }
        if (at + 4 > d.size())
            break;
        const std::size_t length = std::size_t(d[at + 2]) << 8 | d[at + 3];
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            f.frameMarker = marker;
            f.height = d[at + 5] << 8 | d[at + 6];
            f.width = d[at + 7] << 8 | d[at + 8];
            for (int c = 0; c < d[at + 9]; ++c)
                f.sampling.push_back(d[at + 11 + 3 * c]);
        } else if (marker == 0xDD) {
            f.restartInterval = true;
        }
        at += 2 + length;
        if (marker == 0xDA) {
            ++f.scans;
            // Entropy-coded data up to the next marker that is not a stuffed byte or RSTn.
            while (at + 1 < d.size() &&
                   !(d[at] == 0xFF && d[at + 1] != 0 && (d[at + 1] < 0xD0 || d[at + 1] > 0xD7))) {
                if (d[at] == 0xFF && d[at + 1] >= 0xD0 && d[at + 1] <= 0xD7)
                    ++f.restartMarkers;
                ++at;
            }
        }
    }
    return f;
}

void expectCameraForm(const Bytes& jpeg, int width, int height, const std::string& what) {
    const JpegForm f = inspect(jpeg);
    EXPECT_EQ(f.frameMarker, 0xC0) << what;
    EXPECT_EQ(f.width, width) << what;
    EXPECT_EQ(f.height, height) << what;
    EXPECT_EQ(f.sampling, (std::vector<int>{0x21, 0x11, 0x11})) << what;
    EXPECT_EQ(f.scans, 1) << what;
    EXPECT_FALSE(f.restartInterval) << what;
    EXPECT_EQ(f.restartMarkers, 0) << what;
    EXPECT_TRUE(f.endsWithEoi) << what;
}

int run(const std::string& args) {
    return std::system((MKCARD_PATH " " + args).c_str());
}

} // namespace

TEST(Mkcard, CardHoldsCameraFormPicturesAndThumbnailFiles) {
    TempDir dir;
    const std::string card = dir.path() + "/card";
    const std::string data = SIM_TESTDATA;
    ASSERT_EQ(run("--count 3 --vga 2 --first 41 " + card + " " + data + "/full-96x64.jpg " + data +
                  "/thumb-160x120.jpg >/dev/null"),
              0);
    auto opened = sim::Card::open(card);
    ASSERT_TRUE(opened);
    const auto& pictures = opened->pictures();
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(pictures[0].entryName, "S0000041");
    EXPECT_EQ(pictures[1].entryName, "V0000042");
    EXPECT_EQ(pictures[2].entryName, "S0000043");
    EXPECT_EQ(pictures[0].width, 1792);
    EXPECT_EQ(pictures[1].width, 640);
    for (const auto& p : pictures) {
        const bool vga = p.entryName[0] == 'V';
        const Bytes full = readFile(card + "/" + p.fullName() + ".JPG");
        expectCameraForm(full, vga ? 640 : 1792, vga ? 480 : 1200, p.fullName());
        EXPECT_EQ(p.fullSize, full.size());
        const Bytes thumb = readFile(card + "/" + p.thumbName() + ".JPG");
        ASSERT_EQ(thumb.size(), 0x7000u);
        EXPECT_EQ(std::string(thumb.begin() + 8, thumb.begin() + 16), p.thumbName());
        const std::uint32_t length = sim::readLe32(&thumb[16]);
        ASSERT_LE(2123 + length, thumb.size());
        expectCameraForm(Bytes(thumb.begin() + 2123, thumb.begin() + 2123 + length), 160, 120,
                         p.thumbName());
    }
}

TEST(Mkcard, PatternPicturesAndBadArguments) {
    TempDir dir;
    const std::string out = dir.path() + "/p.jpg";
    ASSERT_EQ(run("--pattern 33 17 5 " + out), 0);
    expectCameraForm(readFile(out), 33, 17, "pattern");
    EXPECT_NE(run("--pattern 0 17 5 " + out + " 2>/dev/null"), 0);
    EXPECT_NE(run(dir.path() + "/card 2>/dev/null"), 0); // no photographs
    EXPECT_NE(run(dir.path() + "/card " + dir.path() + "/none.jpg 2>/dev/null"), 0);
    EXPECT_NE(run("--vga x " + dir.path() + "/card " + out + " 2>/dev/null"), 0);
    EXPECT_EQ(run("--help >/dev/null"), 0);
}
