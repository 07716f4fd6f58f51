// The simulated LV2700c5: the camera's side of the command protocol over its serial face
// (a byte stream each way, with the camera's timing) and its USB face (one call per Still
// Image escape and device call), serving a Card, committing the Faults it is given, and
// keeping a Transcript of everything.
//
// Serial behaviour, beyond the bytes the host relies on:
// - every command is acknowledged with RSP_ACK; unknown command bytes get no reply;
// - a CMD_CATALOGUE continues the catalogue read (next group) only when the previous group
//   ended with ST_MORE, no other command came between, and it arrives within
//   kCatalogueContinueMs of that trailer; otherwise it starts a new read at the first
//   picture. The last group ends with ST_CATALOGUE_END;
// - after CMD_SELECT_FILE the next 12 bytes are the name; a gap of more than kNameGapMs,
//   or a byte of 0x80 or above (a command), abandons the name;
// - CMD_NEXT_BLOCK sends the block after the last one asked for (block 0 after a
//   selection), CMD_REPEAT_BLOCK the last one asked for again; blocks past the end of the
//   file, and blocks or deletes with no file selected, answer ST_CARD_ACCESS_FAILED;
// - a delete removes the picture whose file is selected (both files) and answers ST_DATA.
// USB behaviour: escapes work whether or not the device is locked (the transcript says
// which); a second LockDevice without UnLockDevice fails. A catalogue block asked for past
// the catalogue comes back with no entries; a read past the end of a file fails.
// Catalogue entries: bytes 8-11 the picture's 1-based place on the card, extraWord1 and
// extraWord2 the full picture's width and height. USB block head: bytes 0-1 block number,
// 2-3 block count, 4-5 entry count of the catalogue, 6-9 "LVCB", 11 1 when more blocks
// follow.
// Not thread-safe: one thread drives a camera.
#pragma once

#include "platform/clock.h"
#include "sim/card.h"
#include "sim/faults.h"
#include "sim/protocol.h"
#include "sim/transcript.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Camera {
public:
    static constexpr std::uint32_t kCatalogueContinueMs = 400;
    static constexpr std::uint32_t kNameGapMs = 1000;

    Camera(Card& card, Faults faults = {});

    // Serial face. Host bytes arrive at `atMs`; bytes to the host become available at the
    // times the camera decides (at once, slowly, or paced at 115200 baud 8N2 = 11 bits/byte).
    void serialFromHost(const std::uint8_t* data, std::size_t count, std::uint32_t atMs);
    // Copies at most `max` bytes the camera has sent by `byMs`; *lastAtMs = arrival time of
    // the last byte copied (unchanged when none). Returns the count copied.
    std::size_t serialToHost(std::uint8_t* out, std::size_t max, std::uint32_t byMs,
                             std::uint32_t* lastAtMs);
    // Arrival time of the next byte not yet taken; false when none is waiting.
    bool nextSerialAt(std::uint32_t* atMs) const;

    // USB face: one Still Image escape; false = the call failed; *delivered = bytes written
    // to out.
    bool escape(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                std::uint32_t outSize, std::uint32_t* delivered);
    bool lockDevice(std::uint32_t timeoutMs);
    bool unlockDevice();
    bool subscribe();
    bool unsubscribe();
    bool resetDevice();
    bool getStatus();
    bool present() const; // false when unplugged
    bool locked() const { return locked_; }

    const Transcript& transcript() const; // every byte and escape in order
    void clearTranscript() { transcript_.clear(); }
    // Adds a Call event for a front end (e.g. "CreateDevice <name>").
    void note(const std::string& what, bool ok = true);

    // Faults may be changed at any time (unplug the camera, clear a fault).
    Faults& faults() { return faults_; }
    Card& card() { return card_; }
    // The clock that USB escape delays sleep on and that dates USB events.
    void setClock(platform::Clock& clock) { clock_ = &clock; }

private:
    using Entry = std::array<std::uint8_t, kEntrySize>;
    struct Pending {
        std::uint8_t byte;
        std::uint64_t readyUs;
    };

    // Time: host milliseconds (wrapping) to microseconds since the first one seen.
    std::uint64_t usAt(std::uint32_t ms);
    std::uint32_t msOf(std::uint64_t us) const;
    // Queues reply bytes from `fromUs` on (after what is already on the line); returns the
    // arrival time of the last one. Nothing is queued while the reply is muted.
    std::uint64_t send(const std::vector<std::uint8_t>& bytes, std::uint64_t fromUs);

    void onHostByte(std::uint8_t byte, std::uint64_t us);
    void onCommand(std::uint8_t command, std::uint64_t us);
    void onCatalogue(std::uint64_t us);
    void onNameComplete(std::uint64_t us);
    void onDelete(std::uint64_t us);
    void onBlock(bool repeat, std::uint64_t us);
    // How long the reply to the command being served waits (the slow fault).
    std::uint64_t replyDelayUs() const;
    // Sends the acknowledgement and returns when the status byte may follow.
    std::uint64_t acknowledge(std::uint64_t us);
    // Next status reply: the faulted status byte, or 0 when none applies.
    std::uint8_t nextStatusFault();

    std::vector<Entry> buildCatalogue(bool empty) const;
    bool usbCatalogue(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                      std::uint32_t outSize, std::uint32_t* delivered);
    bool usbReadFile(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                     std::uint32_t outSize, std::uint32_t* delivered);
    bool usbDelete(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                   std::uint32_t outSize, std::uint32_t* delivered);
    bool deviceCall(const char* what, const Occurrences& fault, std::uint32_t& calls, bool allowed);

    Card& card_;
    Faults faults_;
    Transcript transcript_;
    platform::Clock* clock_;

    // Serial time and line.
    bool timeKnown_ = false;
    std::uint32_t baseMs_ = 0;
    std::uint32_t lastMs_ = 0;
    std::uint64_t lastTotalMs_ = 0;
    std::deque<Pending> out_;
    std::uint64_t lineFreeUs_ = 0;
    bool muted_ = false;

    // Serial protocol state.
    bool nameMode_ = false;
    std::vector<std::uint8_t> name_;
    std::uint64_t lastHostByteUs_ = 0;
    std::uint32_t commands_ = 0;
    std::uint32_t statusReplies_ = 0;
    std::uint32_t selections_ = 0;
    std::uint32_t catalogueReads_ = 0;
    bool catalogueOpen_ = false;
    std::uint64_t catalogueTrailerUs_ = 0;
    std::vector<Entry> catalogue_;
    std::size_t place_ = 0;
    std::uint32_t group_ = 0;
    bool selected_ = false;
    std::string selectedName_;
    std::vector<std::uint8_t> selectedData_;
    std::int64_t lastBlock_ = -1;
    std::map<std::int64_t, std::uint32_t> blockSends_;

    // USB state.
    bool locked_ = false;
    bool subscribed_ = false;
    std::uint32_t lockCalls_ = 0;
    std::uint32_t subscribeCalls_ = 0;
    std::uint32_t resetCalls_ = 0;
    std::uint32_t statusCalls_ = 0;
    std::uint32_t readEscapes_ = 0;
    std::vector<Entry> usbCatalogue_;
    bool usbCatalogueRead_ = false;
    std::string cachedName_;
    std::vector<std::uint8_t> cachedData_;
};

} // namespace sim
