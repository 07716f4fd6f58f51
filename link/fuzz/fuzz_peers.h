// Shared by the link's fuzz targets: camera peers that answer from the fuzz input on virtual
// time, so no input costs real waiting, and that count their exchanges with the link. An
// input must end within a bounded number of them; past the bound the peer aborts, since a
// link that keeps asking would hang the browser. Once the input runs out the serial camera
// goes silent and every USB call fails: the link must give up soon after.
#pragma once

#include "link/camera_link.h"
#include "link/protocol.h"
#include "link/tests/fakes.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace linkfuzz {

// Reads the fuzz input front to back; past its end every read gives zero.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t le16() { return byte() | std::uint32_t(byte()) << 8; }
    std::uint32_t le32() { return le16() | le16() << 16; }
    // Up to `max` bytes as they are; how many were there.
    std::size_t take(std::uint8_t* out, std::size_t max) {
        const std::size_t n = max < size_ - at_ ? max : size_ - at_;
        if (n != 0) {
            std::memcpy(out, data_ + at_, n);
        }
        at_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Counts exchanges in all and since the camera fell silent (the input ran out and nothing
// it sent is still on its way), aborting past either bound.
class ExchangeBound {
public:
    ExchangeBound(std::uint32_t total, std::uint32_t afterSilence)
        : total_(total), afterSilence_(afterSilence) {}
    void count(bool silent, const char* what) {
        ++exchanges_;
        silentExchanges_ += silent ? 1 : 0;
        if (exchanges_ > total_ || silentExchanges_ > afterSilence_) {
            std::fprintf(stderr, "link fuzz: %s: %u exchanges, %u with the camera silent\n", what,
                         exchanges_, silentExchanges_);
            std::abort();
        }
    }
    std::uint32_t exchanges() const { return exchanges_; }

private:
    std::uint32_t total_;
    std::uint32_t afterSilence_;
    std::uint32_t exchanges_ = 0;
    std::uint32_t silentExchanges_ = 0;
};

// The serial camera. Every write of the link is one exchange, answered by one reply from
// the input: a delay byte (4 ms a step, so replies fall on both sides of the 500 ms
// time-outs), a 16-bit length (10 bits used) and that many bytes.
class SerialPeer : public linktest::SerialPeer {
public:
    SerialPeer(Input& input, ExchangeBound& bound) : input_(input), bound_(bound) {}

    void serialFromHost(const std::uint8_t*, std::size_t, std::uint32_t atMs) override {
        bound_.count(input_.empty() && count_ == 0, "serial");
        if (input_.empty()) {
            return;
        }
        const std::uint32_t at = atMs + input_.byte() * 4u;
        std::uint8_t reply[1024];
        const std::size_t n = input_.take(reply, input_.le16() & 0x3FF);
        for (std::size_t i = 0; i < n; ++i) {
            queue_[(head_ + count_) % kQueue] = {at, reply[i]};
            if (count_ == kQueue) {
                head_ = (head_ + 1) % kQueue; // a full line drops its oldest byte
            } else {
                ++count_;
            }
        }
    }
    std::size_t serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                             std::uint32_t* lastAtMs) override {
        std::size_t n = 0;
        while (n < max && count_ != 0 && queue_[head_].at <= byMs) {
            out[n++] = queue_[head_].byte;
            *lastAtMs = queue_[head_].at;
            head_ = (head_ + 1) % kQueue;
            --count_;
        }
        return n;
    }

private:
    struct Pending {
        std::uint32_t at;
        std::uint8_t byte;
    };
    static constexpr std::size_t kQueue = 8192;
    Input& input_;
    ExchangeBound& bound_;
    Pending queue_[kQueue] = {};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

// The camera behind its Still Image driver. Each escape is one exchange: a flags byte
// (bit 0 success; bits 1-2 what it claims to deliver: the bytes it wrote, the size asked
// for, the whole output buffer, or a 32-bit number from the input), a 16-bit count of
// output bytes taken from the input, and those bytes. Lock, status and the other device
// calls succeed unless `deviceFlags` says otherwise; locks must pair with unlocks.
class UsbPeer : public linktest::UsbPeer {
public:
    UsbPeer(Input& input, ExchangeBound& bound) : input_(input), bound_(bound) {}
    std::uint8_t deviceFlags = 0; // bit 0: lock fails, bit 1: status query fails
    int lockDepth = 0;

    bool escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* delivered) override {
        (void)code;
        if (out == nullptr && outSize != 0) {
            std::abort(); // an output size with no buffer behind it
        }
        if (lockDepth != 1) {
            std::abort(); // every escape is inside a transaction
        }
        bound_.count(input_.empty(), "usb");
        if (input_.empty()) {
            return false;
        }
        const std::uint8_t flags = input_.byte();
        const std::uint32_t wanted = input_.le16();
        const std::size_t written =
            input_.take(static_cast<std::uint8_t*>(out), wanted < outSize ? wanted : outSize);
        std::uint32_t asked = outSize;
        if (inSize >= camlink::kEscapeRequestSize) {
            asked = camlink::readLe32(static_cast<const std::uint8_t*>(in) + 8);
            if (asked > outSize) {
                std::abort(); // the link asks for more than its buffer holds
            }
        }
        switch ((flags >> 1) & 3) {
        case 0:
            *delivered = static_cast<std::uint32_t>(written);
            break;
        case 1:
            *delivered = asked;
            break;
        case 2:
            *delivered = outSize;
            break;
        default:
            *delivered = input_.le32();
            break;
        }
        return (flags & 1) != 0;
    }
    bool lockDevice(std::uint32_t) override {
        if ((deviceFlags & 1) != 0) {
            return false;
        }
        ++lockDepth;
        return true;
    }
    bool unlockDevice() override {
        --lockDepth;
        return true;
    }
    bool subscribe() override { return true; }
    bool unsubscribe() override { return true; }
    bool resetDevice() override { return true; }
    bool getStatus() override { return (deviceFlags & 2) == 0; }

private:
    Input& input_;
    ExchangeBound& bound_;
};

// A user interface that says nothing.
class SilentUi : public platform::UserInterface {
public:
    int messageBox(const char*, unsigned) override { return platform::kIdOk; }
    void requestClose() override {}
    void setButtonState(int, bool) override {}
    void invalidateControl(int, bool) override {}
};

// A camera link over both peers, the serial port opened on COM1 and the USB device held,
// `linkKind` as asked.
class Rig {
public:
    Rig(const std::uint8_t* data, std::size_t size, std::uint32_t totalBound,
        std::uint32_t afterEndBound)
        : input(data, size), bound(totalBound, afterEndBound) {
        sti.devices.push_back({u"LUMIVERA LV2700c5", u"camera"});
        ports.attach("COM1", &serial);
    }
    void openSerial() {
        link.portHandle = ports.open("COM1");
        link.linkKind = camlink::LinkSerial;
    }
    void openUsb() {
        link.connectUsb();
        if (link.linkKind != camlink::LinkUsb) {
            std::abort();
        }
    }
    // Nothing left held after an operation: no lock, no subscription event.
    void checkReleased() const {
        if (usb.lockDepth != 0 || sti.liveEvents != 0) {
            std::abort();
        }
    }

    Input input;
    ExchangeBound bound;
    platform::VirtualClock clock{1000};
    linktest::VirtualSerialPorts ports{clock};
    SerialPeer serial{input, bound};
    UsbPeer usb{input, bound};
    linktest::PeerStillImage sti{&usb};
    SilentUi ui;
    linktest::FakeCatalogue catalogue;
    camlink::CameraLink link{ports, sti, ui, catalogue};
};

} // namespace linkfuzz
