// Fuzz target: one file fetched over the serial or the USB link against a camera answering
// from the input (serial: selection acknowledgements, block statuses, short blocks,
// trailers, late bytes; USB: chunks that fail, come short or claim more than asked), then
// optionally a delete. The read must end within its retry rules, hand back a buffer of the
// file's size or none, and leave the USB device released.
#include "link/fuzz/fuzz_peers.h"
#include "platform/memory.h"

#include <cstdlib>
#include <cstring>

namespace {

volatile std::uint8_t sink;

// Checks what the progress window is told: serial lines "P% of S0000001" with P below 100,
// USB the file's name, and never more USB steps than chunks.
class CheckedProgress : public platform::Progress {
public:
    explicit CheckedProgress(bool usb) : usb_(usb) {}
    void setRange(int low, int high) override {
        if (low != 1 || high < 0) {
            std::abort();
        }
        high_ = high;
    }
    void setStep(int) override {}
    void show() override {}
    void stepIt() override {
        if (usb_ && ++steps_ > high_) {
            std::abort();
        }
    }
    void setText(const char* text) override {
        if (usb_) {
            if (std::strcmp(text, "S0000001") != 0) {
                std::abort();
            }
            return;
        }
        char* end = nullptr;
        const long percent = std::strtol(text, &end, 10);
        if (end == text || percent < 0 || percent > 99 || std::strcmp(end, "% of S0000001") != 0) {
            std::abort();
        }
    }
    void hide() override {}

private:
    bool usb_;
    int high_ = 0;
    int steps_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    linkfuzz::Rig rig(data, size, 0, 0);
    // Mode: bit 0 USB, bit 1 delete afterwards, bit 2 a size past 64 KiB, bit 3 a size past
    // the link's limit, bits 4-5 the USB device calls that fail. Sizes are mostly small, so
    // that an input spends its time on replies rather than on a silent camera's retries.
    const std::uint8_t mode = rig.input.byte();
    std::uint32_t fileSize = (rig.input.le16() & 0x1FFF) + ((mode & 4) != 0 ? 0x10000u : 0u);
    if ((mode & 8) != 0) {
        fileSize += camlink::kMaxFileSize + 1 - 0x10000u;
    }
    const bool usb = (mode & 1) != 0;
    // Serial: the selection's two writes, at most ten attempts a block, the delete's three.
    // USB: a read and a recovery escape per attempt, three attempts a chunk, one delete.
    const std::uint32_t blocks = (fileSize + 511) / 512;
    const std::uint32_t chunks = (fileSize + 4095) / 4096;
    const std::uint32_t limit = fileSize > camlink::kMaxFileSize ? 0
                                : usb                            ? 6 * chunks
                                                                 : 2 + 10 * blocks;
    // A silent camera fails a serial block ten times, a USB chunk three times.
    rig.bound = linkfuzz::ExchangeBound(limit + 8, 12);
    if (usb) {
        rig.usb.deviceFlags = (mode >> 4) & 3;
        rig.openUsb();
    } else {
        rig.openSerial();
    }

    bool callerOwns = false;
    CheckedProgress progress(usb);
    std::uint8_t* file = rig.link.fetchFile("S0000001", fileSize, &progress, &callerOwns);
    if (file != nullptr) {
        std::uint32_t sum = 0;
        for (std::uint32_t i = 0; i < fileSize; ++i) {
            sum += file[i];
        }
        sink = static_cast<std::uint8_t>(sum);
    }
    if (usb) {
        rig.checkReleased();
        if (callerOwns || file != rig.link.usbBuffer ||
            (file != nullptr && rig.link.usbBufferSize != fileSize)) {
            std::abort();
        }
    } else {
        if (callerOwns != (file != nullptr)) {
            std::abort();
        }
        if (file != nullptr) {
            platform::virtualFree(file);
        }
    }
    if ((mode & 2) != 0) {
        if (usb) {
            rig.link.deleteFileUsb("S0000001");
            rig.checkReleased();
        } else {
            rig.link.deleteFileSerial("S0000001");
        }
    }
    return 0;
}
