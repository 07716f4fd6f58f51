// Test doubles for the link's seams: a screen that records, serial ports on virtual time
// that talk to a camera peer, and a Still Image service over a camera peer.
#pragma once

#include "link/picture.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/still_image.h"
#include "platform/ui.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

class RecordingUi : public platform::UserInterface {
public:
    int messageBox(const char* text, unsigned) override {
        messages.push_back(text);
        events.push_back(std::string("message ") + text);
        return platform::kIdOk;
    }
    void requestClose() override {
        ++closeRequests;
        events.push_back("requestClose");
    }
    void setButtonState(int id, bool pushed) override {
        events.push_back("state " + std::to_string(id) + (pushed ? " pushed" : " up"));
    }
    void invalidateControl(int id, bool erase) override {
        events.push_back("invalidate " + std::to_string(id) + (erase ? " erase" : ""));
    }
    std::vector<std::string> messages;
    std::vector<std::string> events;
    int closeRequests = 0;
};

class RecordingProgress : public platform::Progress {
public:
    void setRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    void setStep(int step) override { calls.push_back("step " + std::to_string(step)); }
    void show() override { calls.push_back("show"); }
    void stepIt() override { ++steps; }
    void setText(const char* text) override { texts.push_back(text); }
    void hide() override { calls.push_back("hide"); }
    std::vector<std::string> calls;
    std::vector<std::string> texts;
    int steps = 0;
};

class FakeCatalogue : public camlink::PictureCatalogue {
public:
    int clear() override {
        ++clears;
        return 1;
    }
    int clears = 0;
};

// What a camera looks like from the serial line; sim::Camera has the same two calls.
class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    virtual void serialFromHost(const std::uint8_t* data, std::size_t count,
                                std::uint32_t atMs) = 0;
    // Bytes that have arrived at the host by `byMs`, at most `max`; `lastAtMs` receives the
    // arrival time of the last one handed over.
    virtual std::size_t serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                                     std::uint32_t* lastAtMs) = 0;
};

// A peer whose answers a test writes: `onBytes` sees every write and queues replies.
class ScriptedPeer : public SerialPeer {
public:
    using Handler = std::function<void(ScriptedPeer&, const Bytes&, std::uint32_t atMs)>;
    explicit ScriptedPeer(Handler handler = nullptr) : onBytes(std::move(handler)) {}

    void serialFromHost(const std::uint8_t* data, std::size_t count, std::uint32_t atMs) override {
        Bytes bytes(data, data + count);
        received.insert(received.end(), bytes.begin(), bytes.end());
        if (onBytes) {
            onBytes(*this, bytes, atMs);
        }
    }
    std::size_t serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                             std::uint32_t* lastAtMs) override {
        std::size_t n = 0;
        while (n < max && !queue_.empty() && queue_.front().first <= byMs) {
            out[n++] = queue_.front().second;
            *lastAtMs = queue_.front().first;
            queue_.pop_front();
        }
        return n;
    }
    void send(const Bytes& bytes, std::uint32_t atMs) {
        for (std::uint8_t b : bytes) {
            queue_.emplace_back(atMs, b);
        }
    }
    Handler onBytes;
    Bytes received;

private:
    std::deque<std::pair<std::uint32_t, std::uint8_t>> queue_;
};

// Serial ports on virtual time. Each named port leads to a peer; transfers take the time
// the peer's bytes need to arrive, or the whole time-out when they do not.
class VirtualSerialPorts : public platform::SerialPorts {
public:
    explicit VirtualSerialPorts(platform::VirtualClock& clock) : clock_(clock) {}

    void attach(const std::string& name, SerialPeer* peer) { peers_[name] = peer; }
    bool failSetCommState = false;

    platform::PortHandle open(const char* name) override {
        calls.push_back(std::string("open ") + name);
        auto found = peers_.find(name);
        if (found == peers_.end()) {
            return platform::kInvalidPort;
        }
        platform::PortHandle handle = next_++;
        open_[handle] = found->second;
        return handle;
    }
    bool getCommState(platform::PortHandle port, platform::CommState& state) override {
        if (open_.count(port) == 0) {
            return false;
        }
        // A port as the system left it: 9600 7E1 with settings of its own beyond those.
        state.baudRate = 9600;
        state.byteSize = 7;
        state.parity = 2;
        state.stopBits = 0;
        for (std::size_t i = 0; i < sizeof state.native; ++i) {
            state.native[i] = static_cast<unsigned char>(0xA0 + i);
        }
        return true;
    }
    bool setCommState(platform::PortHandle port, const platform::CommState& state) override {
        lastState = state;
        calls.push_back("setCommState");
        return open_.count(port) != 0 && !failSetCommState;
    }
    bool setCommTimeouts(platform::PortHandle port, const platform::CommTimeouts& t) override {
        timeouts[port] = t;
        return open_.count(port) != 0;
    }
    bool purge(platform::PortHandle port, std::uint32_t flags) override {
        calls.push_back("purge " + std::to_string(flags));
        auto found = open_.find(port);
        if (found == open_.end()) {
            return false;
        }
        std::uint8_t trash[4096];
        std::uint32_t last = 0;
        while (found->second->serialToHost(trash, sizeof trash, clock_.nowMs(), &last) != 0) {
        }
        return true;
    }
    bool read(platform::PortHandle port, void* bytes, std::uint32_t count,
              std::uint32_t* done) override {
        auto found = open_.find(port);
        if (found == open_.end()) {
            return false;
        }
        const platform::CommTimeouts& t = timeouts[port];
        const std::uint32_t start = clock_.nowMs();
        const std::uint32_t deadline =
            start + t.readTotalTimeoutMultiplier * count + t.readTotalTimeoutConstant;
        std::uint32_t last = start;
        *done = static_cast<std::uint32_t>(
            found->second->serialToHost(static_cast<std::uint8_t*>(bytes), count, deadline, &last));
        if (*done == count) {
            clock_.advance(last > start ? last - start : 0);
        } else {
            clock_.advance(deadline - start);
        }
        ++reads;
        return true;
    }
    bool write(platform::PortHandle port, const void* bytes, std::uint32_t count,
               std::uint32_t* done) override {
        auto found = open_.find(port);
        if (found == open_.end()) {
            return false;
        }
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        written[port].insert(written[port].end(), p, p + count);
        found->second->serialFromHost(p, count, clock_.nowMs());
        *done = count;
        return true;
    }
    void close(platform::PortHandle port) override {
        calls.push_back("close");
        open_.erase(port);
    }

    std::size_t openPorts() const { return open_.size(); }

    std::vector<std::string> calls;
    std::map<platform::PortHandle, platform::CommTimeouts> timeouts;
    std::map<platform::PortHandle, Bytes> written;
    platform::CommState lastState;
    long reads = 0;

private:
    platform::VirtualClock& clock_;
    std::map<std::string, SerialPeer*> peers_;
    std::map<platform::PortHandle, SerialPeer*> open_;
    platform::PortHandle next_ = 0x100;
};

// What a camera looks like through its Still Image driver; sim::Camera has these calls.
class UsbPeer {
public:
    virtual ~UsbPeer() = default;
    virtual bool escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                        std::uint32_t outSize, std::uint32_t* delivered) = 0;
    virtual bool lockDevice(std::uint32_t timeoutMs) = 0;
    virtual bool unlockDevice() = 0;
    virtual bool subscribe() = 0;
    virtual bool unsubscribe() = 0;
    virtual bool resetDevice() = 0;
    virtual bool getStatus() = 0;
};

// A USB peer whose escapes a test writes.
class ScriptedUsbPeer : public UsbPeer {
public:
    using Escape = std::function<bool(std::uint32_t code, const Bytes& in, std::uint8_t* out,
                                      std::uint32_t outSize, std::uint32_t* delivered)>;
    bool escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* delivered) override {
        const auto* p = static_cast<const std::uint8_t*>(in);
        Bytes request = p == nullptr ? Bytes() : Bytes(p, p + inSize);
        requests.emplace_back(code, request);
        outSizes.push_back(outSize);
        return onEscape
                   ? onEscape(code, request, static_cast<std::uint8_t*>(out), outSize, delivered)
                   : false;
    }
    bool lockDevice(std::uint32_t) override { return lockOk; }
    bool unlockDevice() override { return true; }
    bool subscribe() override { return true; }
    bool unsubscribe() override { return true; }
    bool resetDevice() override { return true; }
    bool getStatus() override { return statusOk; }

    Escape onEscape;
    bool lockOk = true;
    bool statusOk = true;
    std::vector<std::pair<std::uint32_t, Bytes>> requests;
    std::vector<std::uint32_t> outSizes;
};

// The Still Image service with a device list a test sets, over a USB peer. Every call is
// logged; objects count their references so tests see each one given back.
class PeerStillImage : public platform::StillImageService {
public:
    struct Device {
        std::u16string description;
        std::u16string internalName;
    };

    explicit PeerStillImage(UsbPeer* peer) : peer_(peer) {}

    std::vector<Device> devices;
    bool createInstanceOk = true;
    bool getDeviceListOk = true;
    bool createDeviceOk = true;
    std::vector<std::string> log;
    int liveInstances = 0;
    int liveDevices = 0;
    int liveLists = 0;
    int liveEvents = 0;
    std::vector<platform::StiSubscribe> subscriptions;
    std::vector<platform::StiDeviceStatus> statusQueries;

    platform::StiResult createInstance(std::uint32_t version,
                                       platform::StillImage** instance) override {
        log.push_back("StiCreateInstanceW " + std::to_string(version));
        if (!createInstanceOk) {
            return platform::kStiFail;
        }
        ++liveInstances;
        *instance = &instance_;
        return platform::kStiOk;
    }
    const char16_t* deviceDescription(const void* list, std::uint32_t i) override {
        return static_cast<const ListCopy*>(list)->at(i).description.c_str();
    }
    const char16_t* deviceInternalName(const void* list, std::uint32_t i) override {
        return static_cast<const ListCopy*>(list)->at(i).internalName.c_str();
    }
    void localFree(void* list) override {
        log.push_back("LocalFree");
        --liveLists;
        delete static_cast<ListCopy*>(list);
    }
    int toAnsiCodePage(const char16_t* text, char* out, int outBytes) override {
        int n = 0;
        for (const char16_t* p = text;; ++p) {
            if (n == outBytes) {
                return 0;
            }
            out[n++] = *p < 0x80 ? static_cast<char>(*p) : '?';
            if (*p == 0) {
                return n;
            }
        }
    }
    platform::EventHandle createEvent() override {
        ++liveEvents;
        log.push_back("CreateEvent");
        return 0xE0 + static_cast<platform::EventHandle>(liveEvents);
    }
    void closeEvent(platform::EventHandle) override {
        --liveEvents;
        log.push_back("CloseEvent");
    }

private:
    using ListCopy = std::vector<Device>;

    class Instance : public platform::StillImage {
    public:
        explicit Instance(PeerStillImage& owner) : owner_(owner) {}
        platform::StiResult getDeviceList(std::uint32_t type, std::uint32_t flags,
                                          std::uint32_t* count, void** list) override {
            owner_.log.push_back("GetDeviceList " + std::to_string(type) + " " +
                                 std::to_string(flags));
            if (!owner_.getDeviceListOk) {
                return platform::kStiFail;
            }
            *count = static_cast<std::uint32_t>(owner_.devices.size());
            *list = new ListCopy(owner_.devices);
            ++owner_.liveLists;
            return platform::kStiOk;
        }
        platform::StiResult createDevice(const char16_t* name, std::uint32_t mode,
                                         platform::StiDevice** device) override {
            std::string narrow;
            for (const char16_t* p = name; *p != 0; ++p) {
                narrow += static_cast<char>(*p);
            }
            owner_.log.push_back("CreateDevice " + narrow + " " + std::to_string(mode));
            if (!owner_.createDeviceOk) {
                return platform::kStiFail;
            }
            ++owner_.liveDevices;
            *device = &owner_.device_;
            return platform::kStiOk;
        }
        std::uint32_t release() override {
            owner_.log.push_back("Release instance");
            return static_cast<std::uint32_t>(--owner_.liveInstances);
        }

    private:
        PeerStillImage& owner_;
    };

    class DeviceObject : public platform::StiDevice {
    public:
        explicit DeviceObject(PeerStillImage& owner) : owner_(owner) {}
        platform::StiResult lockDevice(std::uint32_t timeoutMs) override {
            owner_.log.push_back("LockDevice " + std::to_string(timeoutMs));
            return result(owner_.peer_->lockDevice(timeoutMs));
        }
        platform::StiResult unLockDevice() override {
            owner_.log.push_back("UnLockDevice");
            return result(owner_.peer_->unlockDevice());
        }
        platform::StiResult subscribe(const platform::StiSubscribe& s) override {
            owner_.log.push_back("Subscribe");
            owner_.subscriptions.push_back(s);
            return result(owner_.peer_->subscribe());
        }
        platform::StiResult unSubscribe() override {
            owner_.log.push_back("UnSubscribe");
            return result(owner_.peer_->unsubscribe());
        }
        platform::StiResult deviceReset() override {
            owner_.log.push_back("DeviceReset");
            return result(owner_.peer_->resetDevice());
        }
        platform::StiResult getStatus(platform::StiDeviceStatus& status) override {
            owner_.log.push_back("GetStatus");
            owner_.statusQueries.push_back(status);
            return result(owner_.peer_->getStatus());
        }
        platform::StiResult escape(std::uint32_t code, const void* in, std::uint32_t inSize,
                                   void* out, std::uint32_t outSize,
                                   std::uint32_t* delivered) override {
            char text[32];
            std::snprintf(text, sizeof text, "Escape 0x%04X", code);
            owner_.log.push_back(text);
            *delivered = 0;
            return result(owner_.peer_->escape(code, in, inSize, out, outSize, delivered));
        }
        std::uint32_t release() override {
            owner_.log.push_back("Release device");
            return static_cast<std::uint32_t>(--owner_.liveDevices);
        }

    private:
        static platform::StiResult result(bool ok) {
            return ok ? platform::kStiOk : platform::kStiFail;
        }
        PeerStillImage& owner_;
    };

    UsbPeer* peer_;
    Instance instance_{*this};
    DeviceObject device_{*this};
};

} // namespace linktest
