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
            std::snprintf(cell, sizeof cell, "%s", "..");
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
    char line[160];
    for (const auto& e : events_) {
        switch (e.kind) {
        case Event::Kind::FromHost:
            std::snprintf(line, sizeof line, "%8u host  ->", unsigned(e.atMs));
            out += line + hex(e.bytes);
            break;
        case Event::Kind::Command:
            std::snprintf(line, sizeof line, "%8u command %02X", unsigned(e.atMs),
                          e.bytes.empty() ? 0u : unsigned(e.bytes[0]));
            out += line;
            break;
        case Event::Kind::ToHost:
            std::snprintf(line, sizeof line, "%8u camera<- (%zu)", unsigned(e.atMs),
                          e.bytes.size());
            out += line + hex(e.bytes);
            break;
        case Event::Kind::Escape:
            std::snprintf(line, sizeof line, "%8u escape 0x%04X out %u delivered %u %s%s in",
                          unsigned(e.atMs), unsigned(e.code), unsigned(e.outSize),
                          unsigned(e.delivered), e.ok ? "ok" : "FAILED",
                          e.locked ? "" : " unlocked");
            out += line + hex(e.bytes);
            break;
        case Event::Kind::Call:
            std::snprintf(line, sizeof line, "%8u call %s %s", unsigned(e.atMs), e.what.c_str(),
                          e.ok ? "ok" : "FAILED");
            out += line;
            break;
        }
        out += '\n';
    }
    return out;
}

} // namespace sim
