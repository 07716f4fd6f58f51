// Shared helpers of the decoder tests.
#pragma once

#include "platform/memory.h"
#include "platform/ui.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace jpeg {
namespace testing {

class RecordingUi : public platform::UserInterface {
public:
    int messageBox(const char* text, unsigned type) override {
        messages.emplace_back(text);
        types.push_back(type);
        return platform::kIdOk;
    }
    void requestClose() override {}
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}
    std::vector<std::string> messages;
    std::vector<unsigned> types;
};

// Allocation failures can be injected only into the portable memory seam.
inline bool canInjectAllocationFailures() {
    platform::memcheck::failAllocationsAfter(0);
    void* probe = platform::virtualAlloc(1);
    platform::memcheck::stopFailingAllocations();
    platform::virtualFree(probe);
    return probe == nullptr;
}

inline std::string dataPath(const std::string& name) {
    return std::string(LV_JPEG_TEST_DATA) + "/" + name;
}

inline std::vector<std::uint8_t> readFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        int c;
        while ((c = std::fgetc(f)) != EOF) {
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        std::fclose(f);
    }
    return bytes;
}

inline std::uint64_t fnv1a(const void* data, std::size_t size,
                           std::uint64_t hash = 0xcbf29ce484222325ull) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ p[i]) * 0x100000001b3ull;
    }
    return hash;
}

} // namespace testing
} // namespace jpeg
