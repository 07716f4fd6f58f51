#include "sim/transcript.h"

#include <cstdio>

namespace sim {

namespace {

std::vector<std::uint8_t> collect(const std::vector<Event>& events, Event::Kind kind) {
    std::vector<std::uint8_t> out;
    for (const auto& e : events)
        if (e.kind == kind)
            out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes.size() > 48 && i == 24) {
            out += " ..";
            i = bytes.size() - 16;
        }
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        out += ' ';
        out += cell;
    }
    return out;
}

} // namespace

std::vector<std::uint8_t> Transcript::hostBytes() const {
    return collect(events_, Event::Kind::FromHost);
}

std::vector<std::uint8_t> Transcript::cameraBytes() const {
    return collect(events_, Event::Kind::ToHost);
}

std::vector<std::uint8_t> Transcript::commands() const {
    return collect(events_, Event::Kind::Command);
}

std::size_t Transcript::countCommand(std::uint8_t command) const {
    std::size_t n = 0;
    for (const auto& e : events_)
        if (e.kind == Event::Kind::Command && !e.bytes.empty() && e.bytes[0] == command)
            ++n;
    return n;
}

std::vector<const Event*> Transcript::escapes() const {
    std::vector<const Event*> out;
    for (const auto& e : events_)
        if (e.kind == Event::Kind::Escape)
            out.push_back(&e);
    return out;
}

std::vector<const Event*> Transcript::escapes(std::uint32_t code) const {
    std::vector<const Event*> out;
    for (const auto& e : events_)
        if (e.kind == Event::Kind::Escape && e.code == code)
            out.push_back(&e);
    return out;
}

std::vector<std::string> Transcript::calls() const {
    std::vector<std::string> out;
    char text[32];
    for (const auto& e : events_) {
        if (e.kind == Event::Kind::Call) {
            out.push_back(e.what);
        } else if (e.kind == Event::Kind::Escape) {
            std::snprintf(text, sizeof text, "Escape 0x%04X", unsigned(e.code));
            out.push_back(text);
        }
    }
    return out;
}

std::string Transcript::dump() const {
    std::string out;
    for (const auto& e : events_)
        out += line(e) + '\n';
    return out;
}

std::string Transcript::line(const Event& e) {
    char head[160];
    switch (e.kind) {
    case Event::Kind::FromHost:
        std::snprintf(head, sizeof head, "%8u host  ->", unsigned(e.atMs));
        return head + hex(e.bytes);
    case Event::Kind::Command:
        std::snprintf(head, sizeof head, "%8u command %02X", unsigned(e.atMs),
                      e.bytes.empty() ? 0u : unsigned(e.bytes[0]));
        return head;
    case Event::Kind::ToHost:
        std::snprintf(head, sizeof head, "%8u camera<- (%u)", unsigned(e.atMs),
                      unsigned(e.bytes.size()));
        return head + hex(e.bytes);
    case Event::Kind::Escape:
        std::snprintf(head, sizeof head, "%8u escape 0x%04X out %u delivered %u %s%s in",
                      unsigned(e.atMs), unsigned(e.code), unsigned(e.outSize),
                      unsigned(e.delivered), e.ok ? "ok" : "FAILED", e.locked ? "" : " unlocked");
        return head + hex(e.bytes);
    case Event::Kind::Call:
        std::snprintf(head, sizeof head, "%8u call ", unsigned(e.atMs));
        return head + e.what + (e.ok ? " ok" : " FAILED");
    }
    return std::string();
}

} // namespace sim
