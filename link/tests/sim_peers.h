// The simulated camera behind the test seams: its serial face as a SerialPeer on the test
// ports' virtual time, its USB face as the peer of the Still Image stand-in.
#pragma once

#include "link/tests/fakes.h"
#include "sim/camera.h"

namespace linktest {

class SimSerialPeer : public SerialPeer {
public:
    explicit SimSerialPeer(sim::Camera& camera) : camera_(camera) {}
    void serialFromHost(const std::uint8_t* data, std::size_t count, std::uint32_t atMs) override {
        camera_.serialFromHost(data, count, atMs);
    }
    std::size_t serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                             std::uint32_t* lastAtMs) override {
        return camera_.serialToHost(out, max, byMs, lastAtMs);
    }

private:
    sim::Camera& camera_;
};

class SimUsbPeer : public UsbPeer {
public:
    explicit SimUsbPeer(sim::Camera& camera) : camera_(camera) {}
    bool escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* delivered) override {
        return camera_.escape(code, in, inSize, out, outSize, delivered);
    }
    bool lockDevice(std::uint32_t timeoutMs) override { return camera_.lockDevice(timeoutMs); }
    bool unlockDevice() override { return camera_.unlockDevice(); }
    bool subscribe() override { return camera_.subscribe(); }
    bool unsubscribe() override { return camera_.unsubscribe(); }
    bool resetDevice() override { return camera_.resetDevice(); }
    bool getStatus() override { return camera_.getStatus(); }

private:
    sim::Camera& camera_;
};

} // namespace linktest
