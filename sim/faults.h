// Faults the simulated camera can be told to commit, per test or from a command line.
// Counts ("the k-th command") start at 1 and run over the camera's whole life.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

// Which occurrences of an event a fault hits: number `first` and the `times - 1` after it;
// times 0 = every occurrence from `first` on; first 0 = never.
struct Occurrences {
    std::uint32_t first = 0;
    std::uint32_t times = 1;

    bool hits(std::uint32_t n) const {
        return first != 0 && n >= first && (times == 0 || n - first < times);
    }
    bool active() const { return first != 0; }
    static Occurrences always() { return {1, 0}; }
};

struct Faults {
    // Device gone: absent from the device list, every USB call fails, the line is silent.
    bool unplugged = false;

    // Status byte sent in place of ST_DATA (serial) for the status replies it hits
    // (catalogue, block and delete replies, counted together); over USB the catalogue,
    // read and delete escapes it hits fail. 0xE1 no card, 0xE2 format failed, 0xE3 card
    // access failed, anything else an unknown status.
    std::uint8_t statusByte = 0;
    Occurrences status;

    // Byte answered to CMD_PROBE.
    std::uint8_t probeReply = 0xD1;
    // Commands (every command byte received counts) carried out with their whole reply lost.
    Occurrences noAck;
    // Selections whose second acknowledgement (after the 12 name bytes) is lost.
    Occurrences noNameAck;

    // Serial block `badTrailerBlock` (0-based index in the file) carries a bad trailer the
    // first `badTrailerTimes` times it is sent after each selection.
    std::int32_t badTrailerBlock = -1;
    std::uint32_t badTrailerTimes = 1;
    // Serial block `shortBlock` sends only `shortBlockBytes` data bytes and no trailer the
    // first `shortBlockTimes` times it is sent after each selection.
    std::int32_t shortBlock = -1;
    std::uint32_t shortBlockTimes = 1;
    std::uint32_t shortBlockBytes = 256;

    // The first n catalogue reads (serial: a CMD_CATALOGUE that starts over; USB:
    // CAM_ESC_CATALOGUE_SIZE) find an empty card.
    std::uint32_t emptyCatalogues = 0;
    // Entry `duplicateEntry` (0-based) is sent twice in a row.
    std::int32_t duplicateEntry = -1;
    // Serial group count byte forced to this value in group `groupCountGroup` (1-based
    // within one catalogue read, 0 = every group). The group then carries that many
    // entries (taken on from its place, round the card again when it runs out), none for
    // 0xFF.
    std::optional<std::uint8_t> groupCount;
    std::uint32_t groupCountGroup = 0;
    // USB catalogue block count byte (byte 10) forced in block `usbBlockCountBlock`
    // (0-based, -1 = every block); the block's entries stay as they are.
    std::optional<std::uint8_t> usbBlockCount;
    std::int32_t usbBlockCountBlock = -1;
    // Catalogue length reported by CAM_ESC_CATALOGUE_SIZE. Blocks past the real catalogue
    // come back with no entries.
    std::optional<std::uint32_t> catalogueSize;
    // File size sent in catalogue entry `fileSizeEntry` (0-based, -1 = every entry).
    std::optional<std::uint32_t> fileSize;
    std::int32_t fileSizeEntry = -1;

    // CAM_ESC_READ_FILE calls that fail, and that succeed delivering a short chunk of
    // `usbShortBytes` (0 = half the length asked for).
    Occurrences usbReadFail;
    Occurrences usbReadShort;
    std::uint32_t usbShortBytes = 0;
    // Device calls that fail.
    Occurrences lockFail;
    Occurrences subscribeFail;
    Occurrences resetFail;
    Occurrences statusQueryFail;

    // Timing. Serial: every reply starts `replyDelayMs` after its command, the status byte
    // comes `statusDelayMs` after the acknowledgement, and with `paced` each byte takes 11
    // bit times at 115200 baud. USB: every escape takes `escapeDelayMs` of the camera's clock.
    std::uint32_t replyDelayMs = 0;
    // The commands (counted as for noAck) whose replies `replyDelayMs` delays; none set = all.
    Occurrences slowCommands;
    std::uint32_t statusDelayMs = 0;
    bool paced = false;
    std::uint32_t escapeDelayMs = 0;
};

// Sets one fault from its text form, NAME or NAME=VALUE (see faultHelp); false with a
// reason in *error when the name is unknown or the value malformed.
bool applyFault(const std::string& text, Faults& faults, std::string* error = nullptr);
// Several faults separated by commas or semicolons.
bool applyFaults(const std::string& list, Faults& faults, std::string* error = nullptr);
// One line a fault: its text form and what it does.
std::string faultHelp();

} // namespace sim
