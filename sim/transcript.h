// Everything that passed between the host and the simulated camera, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Event {
    enum class Kind {
        FromHost, // bytes the host wrote (one event per serialFromHost call)
        Command,  // a command byte the camera took as a command (`bytes` holds it)
        ToHost,   // bytes of one camera reply; atMs is when the first of them arrives
        Escape,   // one Still Image escape
        Call,     // another device call (`what`: LockDevice, UnLockDevice, Subscribe,
                  // UnSubscribe, DeviceReset, GetStatus) or a note from a front end
    };
    Kind kind = Kind::FromHost;
    std::uint32_t atMs = 0;
    std::vector<std::uint8_t> bytes; // serial bytes, or the escape's input
    std::uint32_t code = 0;          // escape code
    std::uint32_t outSize = 0;       // escape output buffer size
    std::uint32_t delivered = 0;     // escape bytes delivered
    bool ok = true;                  // the call succeeded
    bool locked = false;             // the device was locked during the escape
    std::string what;
};

class Transcript {
public:
    void add(Event event) { events_.push_back(std::move(event)); }
    void clear() { events_.clear(); }
    const std::vector<Event>& events() const { return events_; }

    // All bytes the host wrote, and all bytes the camera sent, each in order.
    std::vector<std::uint8_t> hostBytes() const;
    std::vector<std::uint8_t> cameraBytes() const;
    // The command bytes the camera acted on, in order.
    std::vector<std::uint8_t> commands() const;
    std::size_t countCommand(std::uint8_t command) const;
    // Escapes, all or with one code.
    std::vector<const Event*> escapes() const;
    std::vector<const Event*> escapes(std::uint32_t code) const;
    // Names of the device calls and escapes in order: "LockDevice", "Escape 0x1002", ...
    std::vector<std::string> calls() const;
    // A readable listing, one event a line, bytes in hex (long runs shortened).
    std::string dump() const;
    // One line of that listing, without its line break.
    static std::string line(const Event& event);

private:
    std::vector<Event> events_;
};

} // namespace sim
