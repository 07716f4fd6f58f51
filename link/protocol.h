// The camera's command set: serial command and reply bytes, USB escape codes, and the wire
// records both links carry. Numbers on the wire are little-endian.
#pragma once

#include <cstdint>

namespace camlink {

// Serial command and reply bytes.
constexpr std::uint8_t CMD_PROBE = 0xB1;
constexpr std::uint8_t RSP_PROBE_OK = 0xD1;
constexpr std::uint8_t CMD_CATALOGUE = 0xC1;
constexpr std::uint8_t CMD_SELECT_FILE = 0xC2;
constexpr std::uint8_t CMD_DELETE_FILE = 0xC3;
constexpr std::uint8_t CMD_NEXT_BLOCK = 0xC4;
constexpr std::uint8_t CMD_REPEAT_BLOCK = 0xC5;
constexpr std::uint8_t ST_NO_CARD = 0xE1;
constexpr std::uint8_t ST_FORMAT_FAILED = 0xE2;
constexpr std::uint8_t ST_CARD_ACCESS_FAILED = 0xE3;
constexpr std::uint8_t ST_DATA = 0xF2;
constexpr std::uint8_t ST_MORE = 0xF3;
constexpr std::uint8_t ST_BLOCK_OK = 0xF4;

// USB escape codes (IStiDevice::Escape).
constexpr std::uint32_t CAM_ESC_CATALOGUE_SIZE = 0x1002;
constexpr std::uint32_t CAM_ESC_CATALOGUE_BLOCK = 0x1003;
constexpr std::uint32_t CAM_ESC_READ_FILE = 0x1004;
constexpr std::uint32_t CAM_ESC_RECOVER = 0x1009;
constexpr std::uint32_t CAM_ESC_DELETE_FILE = 0x1010;

// Wire records.
constexpr std::uint32_t kCatalogueEntrySize = 20;
constexpr std::uint32_t kCatalogueBlockSize = 512;
constexpr std::uint32_t kCatalogueBlockCountOffset = 10;
constexpr std::uint32_t kCatalogueBlockEntriesOffset = 12;
constexpr std::uint32_t kMaxEntriesPerGroup = 25;
constexpr std::uint32_t kEscapeRequestSize = 24;
constexpr std::uint32_t kNameLength = 8;

// Transfer units.
constexpr std::uint32_t kSerialBlockSize = 512;
constexpr std::uint32_t kUsbChunkSize = 4096;
constexpr std::uint32_t kThumbnailSize = 0x7000;

// Time-outs, milliseconds.
constexpr std::uint32_t kByteTimeoutMs = 500;
constexpr std::uint32_t kBlockTimeoutMs = 2000;
constexpr std::uint32_t kTimeoutPerByteMs = 10;
constexpr std::uint32_t kLockTimeoutMs = 2000;

// Bounds on what the camera may claim. A card of the camera's time holds far less than
// this; anything larger is a broken or hostile peer and fails the read instead of making
// the system allocate or loop without end.
constexpr std::uint32_t kMaxFileSize = 64u << 20;          // one picture file
constexpr std::uint32_t kMaxCatalogueBytes = 2048u * 512u; // 51200 entries over USB
constexpr std::uint32_t kMaxCatalogueGroups = 2048;        // serial ST_MORE groups

// EscapeRequest: the 24-byte input of the escapes that name a file or a range.
//   0: 0 (4)   4: offset (4)   8: length (4)   12: name (8)   20: "JPG\0" or zero (4)
// `name` null gives the all-zero name and extension of catalogue blocks.
void makeEscapeRequest(std::uint8_t (&request)[kEscapeRequestSize], std::uint32_t offset,
                       std::uint32_t length, const char* name);

inline std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// The message shown for a serial status byte other than ST_DATA.
const char* statusMessage(std::uint8_t status);

} // namespace camlink
