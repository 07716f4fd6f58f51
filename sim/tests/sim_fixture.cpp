#include "sim/tests/sim_fixture.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace simtest {

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<std::uint8_t> readTestFile(const std::string& name) {
    return readFile(std::string(SIM_TESTDATA) + "/" + name);
}

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = (fs::temp_directory_path() /
             ("simcard-" + std::to_string(stamp) + "-" + std::to_string(serial++)))
                .string();
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

sim::Card makeCard(const std::string& folder, int count, int vgaEvery) {
    static const char* const fulls[] = {"full-96x64.jpg", "full-40x24.jpg"};
    const auto thumb = readTestFile("thumb-160x120.jpg");
    std::string error;
    auto card = sim::Card::create(folder, &error);
    if (!card)
        throw std::runtime_error(error);
    for (int i = 1; i <= count; ++i) {
        char name[16];
        const bool vga = vgaEvery > 0 && i % vgaEvery == 0;
        std::snprintf(name, sizeof name, "%c%07d", vga ? 'V' : 'S', i % 10000000);
        if (!card->addPicture(name, readTestFile(fulls[i % 2]), thumb, &error))
            throw std::runtime_error(error);
    }
    return *card;
}

std::vector<std::uint8_t> SerialHost::read(std::size_t count, std::uint32_t timeoutMs) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t last = now_;
    const std::size_t got = camera_.serialToHost(bytes.data(), count, now_ + timeoutMs, &last);
    bytes.resize(got);
    now_ = got == count ? std::max(now_, last) : now_ + timeoutMs;
    return bytes;
}

} // namespace simtest
