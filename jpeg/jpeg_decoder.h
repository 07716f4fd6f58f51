// JpegDecoder: one baseline JPEG stream as the camera writes it (three components, luma
// sampled 2x1, one scan, no restarts) into a bottom-up 24-bit BGR pixel buffer and its
// 40-byte bitmap header. Input comes from memory (a picture fetched from the camera) or
// from a file. Everything the stream says is checked before it is used: a stream that
// would make the decoder read or write outside its buffers is refused.
#pragma once

#include "platform/dib.h"

#include <cstddef>
#include <cstdint>

namespace platform {
class UserInterface;
}

namespace jpeg {

// Largest frame accepted, after rounding up to whole MCUs: 8192 on either side and at most
// 16 megapixels (a 48 MiB pixel buffer), far above the camera's 1792 x 1200.
constexpr std::int32_t kMaxPaddedSide = 8192;
constexpr std::int64_t kMaxPaddedPixels = 16 * 1024 * 1024;
// Largest JPEG file read in file mode.
constexpr std::size_t kMaxFileBytes = 64 * 1024 * 1024;

// Why the last decode failed (None after a success).
enum class DecodeError : std::uint8_t {
    None,
    NotJpeg,            // memory mode: no data, or it does not start with FF D8
    SegmentTruncated,   // a segment's length runs past the data, or is below 2
    UnsupportedMarker,  // a marker this decoder has no handler for, before the scan
    BadFrame,           // SOF0: precision, component count or layout not decodable
    FrameSize,          // SOF0: zero or absurd dimensions
    BadHuffmanTable,    // DHT: class or number above 1, counts past the segment
    BadQuantTable,      // DQT: 16-bit entries, number above 1, entries past the segment
    BadScanHeader,      // SOS: too short for its selectors, table numbers above 1
    ScanWithoutFrame,   // entropy-coded data with no SOF0 or no SOS before it
    UndefinedTable,     // the scan selects a Huffman or quantisation table never defined
    BadHuffmanCode,     // a code that matches no table row within 12 (DC) / 16 (AC) bits
    DcSizeTooLarge,     // a DC difference of more than 16 bits
    CoefficientOverrun, // a run of zeros or a value that would pass position 63
    TruncatedData,      // the scan ran past the end of the data
    SecondScan,         // file mode: entropy-coded data again after the scan
    NoFrame,            // the stream ended without a SOF0
    OutOfMemory,        // working memory could not be allocated
    FileUnreadable,     // file mode: the file cannot be opened or read
    FileTooLarge,       // file mode: larger than kMaxFileBytes
};

const char* describe(DecodeError error);

// The plain transcription of the scan decoder, or the table-driven one that must give the
// same bytes on every input. Production uses Fast; tests hold one against the other.
enum class ScanPath { Reference, Fast };

// One row per code length 1..16.
struct HuffmanRow {
    std::uint16_t valueIndex; // codes shorter than this length; only the low byte is used
    std::uint16_t lowest;
    std::uint16_t highest; // 0xFFFF: no code of this length
};
struct HuffmanTable {
    HuffmanRow rows[16];
};
static_assert(sizeof(HuffmanTable) == 96, "a Huffman table is 96 bytes");

class JpegDecoder {
public:
    explicit JpegDecoder(platform::UserInterface& ui, ScanPath path = ScanPath::Fast);
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    // The pixel buffer (owned by the decoder until releaseBuffers), or null on failure.
    std::uint8_t* decodeMemory(const std::uint8_t* data, std::uint32_t length);
    std::uint8_t* decodeFile(const char* path);

    const platform::BitmapInfoHeader& imageHeader() const { return imageHeader_; }
    void releaseBuffers();

    DecodeError lastError() const { return error_; }
    // The file could not be opened or read (the caller reports that itself).
    bool fileUnreadable() const { return error_ == DecodeError::FileUnreadable; }

private:
    std::uint8_t* decode(const std::uint8_t* data, std::uint32_t length, bool memoryMode);
    bool fail(DecodeError error);
    bool segmentLength(std::uint32_t codePos, std::uint32_t& end);
    bool startOfImage(std::uint32_t& cursor);
    bool startOfFrame(std::uint32_t& cursor);
    bool huffmanTables(std::uint32_t& cursor);
    bool quantTables(std::uint32_t& cursor);
    bool startOfScan(std::uint32_t& cursor);
    bool skipSegment(std::uint32_t& cursor);
    bool decodeScan(std::uint32_t& cursor);
    void freeHuffmanTables();
    void freeComponentTable();
    void freePixels();
    void outOfMemory();

    platform::UserInterface& ui_;
    ScanPath path_;

    const std::uint8_t* data_ = nullptr;
    std::uint32_t dataLength_ = 0;
    bool done_ = false;
    std::int32_t paddedWidth_ = 0;
    std::int32_t paddedHeight_ = 0;
    HuffmanTable* huffman_[4] = {};
    std::uint8_t quant_[2][64] = {};
    std::uint8_t* componentTable_ = nullptr;
    std::uint32_t componentCount_ = 0;
    std::uint8_t* pixels_ = nullptr;
    std::uint32_t valuePosition_[4] = {};
    std::uint32_t valuesEnd_[4] = {}; // one past the last symbol value of each slot
    std::uint8_t scanSelectors_[3][2] = {};
    std::int32_t predictors_[3] = {};
    platform::BitmapInfoHeader imageHeader_ = {};

    bool quantDefined_[2] = {};
    bool sawScanHeader_ = false;
    int scans_ = 0;
    DecodeError error_ = DecodeError::None;
};

} // namespace jpeg
