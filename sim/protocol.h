// The camera's command protocol as the camera sees it: command bytes it answers on the
// serial line, the status and trailer bytes it sends, the Still Image escape codes, and the
// fixed layouts of the wire records.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// Serial command bytes (host to camera).
constexpr std::uint8_t CMD_PROBE = 0xB1;
constexpr std::uint8_t CMD_CATALOGUE = 0xC1;
constexpr std::uint8_t CMD_SELECT_FILE = 0xC2;
constexpr std::uint8_t CMD_DELETE_FILE = 0xC3;
constexpr std::uint8_t CMD_NEXT_BLOCK = 0xC4;
constexpr std::uint8_t CMD_REPEAT_BLOCK = 0xC5;

// Serial reply bytes (camera to host).
constexpr std::uint8_t RSP_PROBE_OK = 0xD1;
constexpr std::uint8_t ST_NO_CARD = 0xE1;
constexpr std::uint8_t ST_FORMAT_FAILED = 0xE2;
constexpr std::uint8_t ST_CARD_ACCESS_FAILED = 0xE3;
constexpr std::uint8_t ST_DATA = 0xF2;
constexpr std::uint8_t ST_MORE = 0xF3;
constexpr std::uint8_t ST_BLOCK_OK = 0xF4;

// Bytes whose value the host never examines; these are this camera's choices.
constexpr std::uint8_t RSP_ACK = 0x06;          // acknowledgement of every command
constexpr std::uint8_t ST_CATALOGUE_END = 0xF4; // trailer of the last catalogue group
constexpr std::uint8_t ST_BLOCK_BAD = 0x15;     // trailer of a block spoilt on the way

// Still Image escape codes (IStiDevice::Escape).
constexpr std::uint32_t CAM_ESC_CATALOGUE_SIZE = 0x1002;
constexpr std::uint32_t CAM_ESC_CATALOGUE_BLOCK = 0x1003;
constexpr std::uint32_t CAM_ESC_READ_FILE = 0x1004;
constexpr std::uint32_t CAM_ESC_RECOVER = 0x1009;
constexpr std::uint32_t CAM_ESC_DELETE_FILE = 0x1010;

// Sizes.
constexpr std::size_t kEntrySize = 20; // one catalogue entry, both links
constexpr std::size_t kGroupMax = 25;  // entries in one serial group or USB block
constexpr std::size_t kCatalogueBlockSize = 512;
constexpr std::size_t kCatalogueBlockHead = 12;
constexpr std::size_t kEscapeRequestSize = 24;
constexpr std::size_t kSelectNameSize = 12; // 8 name characters, "JPG", one space
constexpr std::size_t kSerialBlockSize = 512;
constexpr std::uint32_t kThumbFileSize = 0x7000;
constexpr std::uint32_t kThumbJpegOffset = 2123;

// Serial line: 115200 baud, 8 data bits, no parity, 2 stop bits = 11 bit times a byte.
constexpr std::uint32_t kBaud = 115200;
constexpr std::uint32_t kBitsPerByte = 11;

inline std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline void writeLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
    writeLe16(p, v);
    writeLe16(p + 2, v >> 16);
}

} // namespace sim
