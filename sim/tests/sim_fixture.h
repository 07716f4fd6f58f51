// Test helpers: cards in temporary folders built from the committed test pictures, and a
// host side that speaks to a Camera's serial face on virtual time.
#pragma once

#include "sim/camera.h"
#include "sim/card.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

std::vector<std::uint8_t> readTestFile(const std::string& name);

// A folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A card of `count` pictures named S0000001.. (every `vgaEvery`-th one V..., 0 = none),
// full pictures going round the committed test JPEGs.
sim::Card makeCard(const std::string& folder, int count, int vgaEvery = 0);

// Reads a whole file from a folder.
std::vector<std::uint8_t> readFile(const std::string& path);
bool fileExists(const std::string& path);

// The host end of the serial line on virtual milliseconds.
class SerialHost {
public:
    explicit SerialHost(sim::Camera& camera) : camera_(camera) {}
    std::uint32_t now() const { return now_; }
    void advance(std::uint32_t ms) { now_ += ms; }
    void write(std::vector<std::uint8_t> bytes) {
        camera_.serialFromHost(bytes.data(), bytes.size(), now_);
    }
    // Takes up to `count` bytes, waiting at most `timeoutMs` for them; time moves to the
    // arrival of the last byte taken (or by the whole time-out when fewer came).
    std::vector<std::uint8_t> read(std::size_t count, std::uint32_t timeoutMs = 500);
    // Everything that arrives within `ms`.
    std::vector<std::uint8_t> drain(std::uint32_t ms = 5000) { return read(1u << 24, ms); }

private:
    sim::Camera& camera_;
    std::uint32_t now_ = 1000;
};

} // namespace simtest
