#include "sim/faults.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

namespace sim {

namespace {

bool parseNumber(const std::string& text, std::uint64_t limit, std::uint32_t& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || text[0] == '-' || value > limit)
        return false;
    out = std::uint32_t(value);
    return true;
}

// Splits "A<sep>B" at the first `sep`; B empty when absent.
void split(const std::string& text, char sep, std::string& a, std::string& b) {
    const auto at = text.find(sep);
    a = text.substr(0, at);
    b = at == std::string::npos ? std::string() : text.substr(at + 1);
}

// "K" or "KxN"; an empty text means every occurrence.
bool parseOccurrences(const std::string& text, Occurrences& out) {
    if (text.empty()) {
        out = Occurrences::always();
        return true;
    }
    std::string first, times;
    split(text, 'x', first, times);
    Occurrences occ;
    if (!parseNumber(first, 0xFFFFFFFFu, occ.first) || occ.first == 0)
        return false;
    if (text.find('x') != std::string::npos && !parseNumber(times, 0xFFFFFFFFu, occ.times))
        return false;
    out = occ;
    return true;
}

struct FaultKind {
    const char* name;
    const char* usage;
    const char* help;
    // Applies the value (empty when none was given); false when it is malformed.
    std::function<bool(const std::string&, Faults&)> apply;
};

bool statusFault(std::uint8_t byte, const std::string& value, Faults& f) {
    f.statusByte = byte;
    return parseOccurrences(value, f.status);
}

bool deviceFault(const std::string& value, Occurrences& occ) {
    return parseOccurrences(value, occ);
}

// "V" or "V@W" into a value and an optional position.
bool valueAt(const std::string& value, std::uint64_t limit, std::uint32_t& v, bool& hasAt,
             std::uint32_t& at) {
    std::string a, b;
    split(value, '@', a, b);
    hasAt = value.find('@') != std::string::npos;
    return parseNumber(a, limit, v) && (!hasAt || parseNumber(b, 0xFFFFFFFFu, at));
}

// "BLOCK", "BLOCKxN", optionally ":BYTES".
bool blockFault(const std::string& value, std::int32_t& block, std::uint32_t& times,
                std::uint32_t* bytes) {
    std::string head, tail, index, count;
    split(value, ':', head, tail);
    if (!tail.empty() && (!bytes || !parseNumber(tail, 511, *bytes)))
        return false;
    split(head, 'x', index, count);
    std::uint32_t b = 0, t = 1;
    if (!parseNumber(index, 0x7FFFFFFF, b))
        return false;
    if (head.find('x') != std::string::npos && (!parseNumber(count, 0xFFFFFFFFu, t) || t == 0))
        return false;
    block = std::int32_t(b);
    times = t;
    return true;
}

const std::vector<FaultKind>& kinds() {
    static const std::vector<FaultKind> all = {
        {"unplugged", "unplugged", "device gone: not listed, every USB call fails, no serial reply",
         [](const std::string& v, Faults& f) { return v.empty() && (f.unplugged = true); }},
        {"no-card", "no-card[=K[xN]]",
         "status 0xE1 for ST_DATA: in every status reply, or reply K (N in a row)",
         [](const std::string& v, Faults& f) { return statusFault(0xE1, v, f); }},
        {"format-failed", "format-failed[=K[xN]]", "status 0xE2, likewise",
         [](const std::string& v, Faults& f) { return statusFault(0xE2, v, f); }},
        {"access-failed", "access-failed[=K[xN]]", "status 0xE3, likewise",
         [](const std::string& v, Faults& f) { return statusFault(0xE3, v, f); }},
        {"unknown-status", "unknown-status=BYTE[@K[xN]]", "status BYTE, likewise",
         [](const std::string& v, Faults& f) {
             std::string byte, occ;
             split(v, '@', byte, occ);
             std::uint32_t b = 0;
             return parseNumber(byte, 0xFF, b) && statusFault(std::uint8_t(b), occ, f);
         }},
        {"probe-reply", "probe-reply=BYTE", "answer the probe with BYTE instead of 0xD1",
         [](const std::string& v, Faults& f) {
             std::uint32_t b = 0;
             return parseNumber(v, 0xFF, b) && (f.probeReply = std::uint8_t(b), true);
         }},
        {"no-ack", "no-ack=K[xN]",
         "command K (N in a row; every command byte counts) is carried out, its reply lost",
         [](const std::string& v, Faults& f) {
             return !v.empty() && parseOccurrences(v, f.noAck);
         }},
        {"no-name-ack", "no-name-ack=K[xN]",
         "selection K gets no acknowledgement of its 12 name bytes",
         [](const std::string& v, Faults& f) {
             return !v.empty() && parseOccurrences(v, f.noNameAck);
         }},
        {"bad-trailer", "bad-trailer=BLOCK[xN]",
         "block BLOCK (0-based) has a bad trailer the first N times (default 1) per selection",
         [](const std::string& v, Faults& f) {
             return blockFault(v, f.badTrailerBlock, f.badTrailerTimes, nullptr);
         }},
        {"short-block", "short-block=BLOCK[xN][:BYTES]",
         "block BLOCK sends BYTES (default 256) data bytes, no trailer, first N times",
         [](const std::string& v, Faults& f) {
             return blockFault(v, f.shortBlock, f.shortBlockTimes, &f.shortBlockBytes);
         }},
        {"empty-catalogue", "empty-catalogue=N", "the first N catalogue reads find no pictures",
         [](const std::string& v, Faults& f) {
             return parseNumber(v, 0xFFFFFFFFu, f.emptyCatalogues);
         }},
        {"duplicate-entry", "duplicate-entry=K", "catalogue entry K (0-based) sent twice in a row",
         [](const std::string& v, Faults& f) {
             std::uint32_t k = 0;
             return parseNumber(v, 0x7FFFFFFF, k) && (f.duplicateEntry = std::int32_t(k), true);
         }},
        {"group-count", "group-count=V[@G]",
         "serial group G (1-based, default all) has count byte V and V entries (none for 0xFF)",
         [](const std::string& v, Faults& f) {
             std::uint32_t value = 0, at = 0;
             bool hasAt = false;
             if (!valueAt(v, 0xFF, value, hasAt, at))
                 return false;
             f.groupCount = std::uint8_t(value);
             f.groupCountGroup = hasAt ? at : 0;
             return true;
         }},
        {"usb-block-count", "usb-block-count=V[@B]",
         "USB catalogue block B (0-based, default all) says V entries",
         [](const std::string& v, Faults& f) {
             std::uint32_t value = 0, at = 0;
             bool hasAt = false;
             if (!valueAt(v, 0xFF, value, hasAt, at) || at > 0x7FFFFFFF)
                 return false;
             f.usbBlockCount = std::uint8_t(value);
             f.usbBlockCountBlock = hasAt ? std::int32_t(at) : -1;
             return true;
         }},
        {"catalogue-size", "catalogue-size=V", "USB catalogue length reported as V bytes",
         [](const std::string& v, Faults& f) {
             std::uint32_t value = 0;
             return parseNumber(v, 0xFFFFFFFFu, value) && (f.catalogueSize = value, true);
         }},
        {"file-size", "file-size=V[@K]", "catalogue entry K (0-based, default all) gives size V",
         [](const std::string& v, Faults& f) {
             std::uint32_t value = 0, at = 0;
             bool hasAt = false;
             if (!valueAt(v, 0xFFFFFFFFu, value, hasAt, at) || at > 0x7FFFFFFF)
                 return false;
             f.fileSize = value;
             f.fileSizeEntry = hasAt ? std::int32_t(at) : -1;
             return true;
         }},
        {"usb-read-fail", "usb-read-fail=K[xN]", "read escape K (N in a row) fails",
         [](const std::string& v, Faults& f) {
             return !v.empty() && parseOccurrences(v, f.usbReadFail);
         }},
        {"usb-short", "usb-short=K[xN][:BYTES]",
         "read escape K (N in a row) delivers BYTES (default half the length asked)",
         [](const std::string& v, Faults& f) {
             std::string occ, bytes;
             split(v, ':', occ, bytes);
             if (!bytes.empty() && !parseNumber(bytes, 0xFFFFFFFFu, f.usbShortBytes))
                 return false;
             return !occ.empty() && parseOccurrences(occ, f.usbReadShort);
         }},
        {"lock-fail", "lock-fail[=K[xN]]", "every LockDevice call fails, or call K (N in a row)",
         [](const std::string& v, Faults& f) { return deviceFault(v, f.lockFail); }},
        {"subscribe-fail", "subscribe-fail[=K[xN]]", "Subscribe, likewise",
         [](const std::string& v, Faults& f) { return deviceFault(v, f.subscribeFail); }},
        {"reset-fail", "reset-fail[=K[xN]]", "DeviceReset, likewise",
         [](const std::string& v, Faults& f) { return deviceFault(v, f.resetFail); }},
        {"status-query-fail", "status-query-fail[=K[xN]]", "GetStatus, likewise",
         [](const std::string& v, Faults& f) { return deviceFault(v, f.statusQueryFail); }},
        {"slow", "slow=MS[@K[xN]]",
         "every serial reply, or that of command K (N in a row), starts MS ms after its command",
         [](const std::string& v, Faults& f) {
             std::string ms, occ;
             split(v, '@', ms, occ);
             if (v.find('@') != std::string::npos && occ.empty())
                 return false;
             return parseNumber(ms, 600000, f.replyDelayMs) &&
                    (occ.empty() || parseOccurrences(occ, f.slowCommands));
         }},
        {"status-delay", "status-delay=MS", "status byte MS milliseconds after the acknowledgement",
         [](const std::string& v, Faults& f) { return parseNumber(v, 600000, f.statusDelayMs); }},
        {"paced", "paced", "serial bytes leave at 115200 baud, 8N2 (11 bits a byte)",
         [](const std::string& v, Faults& f) { return v.empty() && (f.paced = true); }},
        {"escape-delay", "escape-delay=MS", "every USB escape takes MS milliseconds",
         [](const std::string& v, Faults& f) { return parseNumber(v, 600000, f.escapeDelayMs); }},
    };
    return all;
}

} // namespace

bool applyFault(const std::string& text, Faults& faults, std::string* error) {
    std::string name, value;
    split(text, '=', name, value);
    for (const auto& kind : kinds()) {
        if (name != kind.name)
            continue;
        if (text.find('=') != std::string::npos && value.empty()) {
            if (error)
                *error = "fault " + name + ": empty value";
            return false;
        }
        Faults changed = faults;
        if (!kind.apply(value, changed)) {
            if (error)
                *error = "fault " + text + ": expected " + kind.usage;
            return false;
        }
        faults = changed;
        return true;
    }
    if (error)
        *error = "unknown fault " + name;
    return false;
}

bool applyFaults(const std::string& list, Faults& faults, std::string* error) {
    std::string item;
    for (std::size_t at = 0; at <= list.size(); ++at) {
        if (at == list.size() || list[at] == ',' || list[at] == ';') {
            if (!item.empty() && !applyFault(item, faults, error))
                return false;
            item.clear();
        } else if (list[at] != ' ') {
            item += list[at];
        }
    }
    return true;
}

std::string faultHelp() {
    std::string text;
    for (const auto& kind : kinds()) {
        std::string usage = kind.usage;
        usage.resize(std::max<std::size_t>(usage.size() + 1, 30), ' ');
        text += "  " + usage + kind.help + "\n";
    }
    text += "  K counts from 1 over the camera's life; xN = N times in a row, x0 = every time from "
            "K on.\n";
    return text;
}

} // namespace sim
