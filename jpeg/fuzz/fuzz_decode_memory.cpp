// Fuzz target: decodeMemory on arbitrary bytes, through both scan paths, which must agree
// on the outcome, the reason for a failure, the header and every pixel byte. The fast
// path's kernel set (portable, SSE2, AVX2, as the processor has them) varies with the input.
#include "fuzz_support.h"
#include "jpeg/fast_kernels.h"
#include "jpeg/jpeg_decoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    jpeg::fuzz::installKeepRunning();
    if (size > 1u << 20) {
        return 0;
    }
    const auto length = static_cast<std::uint32_t>(size);
    const jpeg::detail::Kernels* const* kernels = nullptr;
    const int kernelSets = jpeg::detail::availableKernels(&kernels);
    jpeg::detail::useKernels(kernels[size % static_cast<std::size_t>(kernelSets)]);
    jpeg::fuzz::SilentUi ui;
    jpeg::JpegDecoder reference(ui, jpeg::ScanPath::Reference);
    jpeg::JpegDecoder fast(ui, jpeg::ScanPath::Fast);
    const std::uint8_t* a = reference.decodeMemory(data, length);
    const std::uint8_t* b = fast.decodeMemory(data, length);
    if ((a == nullptr) != (b == nullptr) || reference.lastError() != fast.lastError()) {
        std::abort();
    }
    if (a != nullptr) {
        const platform::BitmapInfoHeader& h = reference.imageHeader();
        if (std::memcmp(&h, &fast.imageHeader(), sizeof h) != 0 ||
            std::memcmp(a, b, h.imageSize) != 0) {
            std::abort();
        }
    }
    reference.releaseBuffers();
    fast.releaseBuffers();
    return 0;
}
