// The segment loop and the marker handlers.
#include "jpeg/jpeg_decoder.h"

#include "jpeg/out_of_memory.h"
#include "jpeg/scan.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/ui.h"

#include <cstring>

namespace jpeg {

const char* describe(DecodeError error) {
    switch (error) {
    case DecodeError::None:
        return "no error";
    case DecodeError::NotJpeg:
        return "the data does not start with a JPEG start-of-image marker";
    case DecodeError::SegmentTruncated:
        return "a segment runs past the end of the data";
    case DecodeError::UnsupportedMarker:
        return "a marker this decoder does not handle";
    case DecodeError::BadFrame:
        return "a frame header this decoder cannot decode";
    case DecodeError::FrameSize:
        return "zero or too large picture dimensions";
    case DecodeError::BadHuffmanTable:
        return "a malformed Huffman table";
    case DecodeError::BadQuantTable:
        return "a malformed or 16-bit quantisation table";
    case DecodeError::BadScanHeader:
        return "a malformed scan header";
    case DecodeError::ScanWithoutFrame:
        return "picture data without a frame or scan header";
    case DecodeError::UndefinedTable:
        return "the scan uses a table that was never defined";
    case DecodeError::BadHuffmanCode:
        return "a Huffman code that matches no table entry";
    case DecodeError::DcSizeTooLarge:
        return "a DC difference of more than 16 bits";
    case DecodeError::CoefficientOverrun:
        return "coefficients past the end of a block";
    case DecodeError::TruncatedData:
        return "the picture data is truncated";
    case DecodeError::SecondScan:
        return "more than one scan";
    case DecodeError::NoFrame:
        return "no frame header";
    case DecodeError::OutOfMemory:
        return "out of memory";
    case DecodeError::FileUnreadable:
        return "the file cannot be opened or read";
    case DecodeError::FileTooLarge:
        return "the file is too large";
    }
    return "unknown error";
}

namespace {

constexpr std::uint8_t kSoi = 0xD8, kSof0 = 0xC0, kDht = 0xC4, kCom = 0xFE, kDqt = 0xDB,
                       kDri = 0xDD, kEoi = 0xD9, kDnl = 0xDC, kSos = 0xDA;

bool isHandledMarker(std::uint8_t code) {
    switch (code) {
    case kSoi:
    case kSof0:
    case kDht:
    case kCom:
    case kDqt:
    case kDri:
    case kEoi:
    case kDnl:
    case kSos:
        return true;
    default:
        return code >= 0xE0 && code <= 0xEE; // APP0 to APP14
    }
}

std::uint32_t bigEndian16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}

} // namespace

JpegDecoder::JpegDecoder(platform::UserInterface& ui, ScanPath path) : ui_(ui), path_(path) {}

JpegDecoder::~JpegDecoder() {
    releaseBuffers();
    freeHuffmanTables();
}

void JpegDecoder::releaseBuffers() {
    freePixels();
    freeComponentTable();
}

void JpegDecoder::freeHuffmanTables() {
    for (HuffmanTable*& table : huffman_) {
        platform::virtualFree(table);
        table = nullptr;
    }
}

void JpegDecoder::freeComponentTable() {
    platform::virtualFree(componentTable_);
    componentTable_ = nullptr;
    componentCount_ = 0;
}

void JpegDecoder::freePixels() {
    platform::virtualFree(pixels_);
    pixels_ = nullptr;
}

bool JpegDecoder::fail(DecodeError error) {
    error_ = error;
    return false;
}

void JpegDecoder::outOfMemory() {
    error_ = DecodeError::OutOfMemory;
    reportOutOfMemory(ui_);
}

std::uint8_t* JpegDecoder::decodeMemory(const std::uint8_t* data, std::uint32_t length) {
    return decode(data, length, true);
}

std::uint8_t* JpegDecoder::decodeFile(const char* path) {
    const platform::FileContents file = platform::readWholeFile(path, kMaxFileBytes);
    switch (file.status) {
    case platform::FileReadStatus::Ok:
        break;
    case platform::FileReadStatus::CannotOpenOrRead:
        error_ = DecodeError::FileUnreadable;
        return nullptr;
    case platform::FileReadStatus::TooLarge:
        error_ = DecodeError::FileTooLarge;
        return nullptr;
    case platform::FileReadStatus::OutOfMemory:
        // The file buffer is the one allocation whose failure ends only the decode.
        ui_.messageBox(kOutOfMemoryText);
        error_ = DecodeError::OutOfMemory;
        return nullptr;
    }
    std::uint8_t* result = decode(static_cast<const std::uint8_t*>(file.data),
                                  static_cast<std::uint32_t>(file.size), false);
    platform::virtualFree(file.data);
    return result;
}

std::uint8_t* JpegDecoder::decode(const std::uint8_t* data, std::uint32_t length, bool memoryMode) {
    imageHeader_.size = platform::kDibHeaderSize;
    imageHeader_.planes = 1;
    imageHeader_.bitCount = 24;
    imageHeader_.compression = 0;
    imageHeader_.xPelsPerMeter = 2835;
    imageHeader_.yPelsPerMeter = 2835;
    imageHeader_.colorsUsed = 0;
    imageHeader_.colorsImportant = 0;
    freePixels(); // a decoder used twice must not leak the first picture
    done_ = false;
    sawScanHeader_ = false;
    scans_ = 0;
    error_ = DecodeError::None;
    data_ = data;
    dataLength_ = length;

    if (memoryMode && (data == nullptr || length < 2 || data[0] != 0xFF || data[1] != kSoi)) {
        error_ = DecodeError::NotJpeg;
        return nullptr;
    }

    std::uint32_t cursor = 0;
    while (!done_ && cursor < dataLength_) {
        const bool marker =
            data_[cursor] == 0xFF && cursor + 1 < dataLength_ && isHandledMarker(data_[cursor + 1]);
        bool ok = true;
        if (marker) {
            ++cursor;
            switch (data_[cursor]) {
            case kSoi:
                ok = startOfImage(cursor);
                break;
            case kSof0:
                ok = startOfFrame(cursor);
                break;
            case kDht:
                ok = huffmanTables(cursor);
                break;
            case kDqt:
                ok = quantTables(cursor);
                break;
            case kSos:
                ok = startOfScan(cursor);
                break;
            case kEoi:
                done_ = true;
                freeComponentTable();
                break;
            default:
                ok = skipSegment(cursor);
                break; // COM, DRI, DNL, APPn
            }
        } else {
            if (!sawScanHeader_ && data_[cursor] == 0xFF && cursor + 1 < dataLength_) {
                ok = fail(DecodeError::UnsupportedMarker);
            } else {
                ok = decodeScan(cursor);
                if (ok && memoryMode) {
                    done_ = true;
                }
            }
        }
        if (!ok) {
            return nullptr;
        }
    }
    if (pixels_ == nullptr) {
        error_ = DecodeError::NoFrame;
    }
    return pixels_;
}

// Reads the length of the segment whose code byte is at `codePos` and gives the offset of
// the byte after the segment.
bool JpegDecoder::segmentLength(std::uint32_t codePos, std::uint32_t& end) {
    if (dataLength_ - codePos < 3) {
        return fail(DecodeError::SegmentTruncated);
    }
    const std::uint32_t length = bigEndian16(data_ + codePos + 1);
    if (length < 2 || length > dataLength_ - codePos - 1) {
        return fail(DecodeError::SegmentTruncated);
    }
    end = codePos + 1 + length;
    return true;
}

bool JpegDecoder::skipSegment(std::uint32_t& cursor) {
    std::uint32_t end = 0;
    if (!segmentLength(cursor, end)) {
        return false;
    }
    cursor = end;
    return true;
}

bool JpegDecoder::startOfImage(std::uint32_t& cursor) {
    ++cursor;
    freeHuffmanTables();
    return true;
}

bool JpegDecoder::startOfFrame(std::uint32_t& cursor) {
    std::uint32_t end = 0;
    if (!segmentLength(cursor, end)) {
        return false;
    }
    const std::uint8_t* p = data_ + cursor;
    if (end - cursor < 9) {
        return fail(DecodeError::BadFrame);
    }
    const std::uint32_t precision = p[3];
    const std::uint32_t lines = bigEndian16(p + 4);
    const std::uint32_t samples = bigEndian16(p + 6);
    const std::uint32_t count = p[8];
    // Three components at least: the scan reads the table numbers of Y, Cb and Cr.
    if (precision != 8 || count < 3 || 9 + 3 * count > end - cursor) {
        return fail(DecodeError::BadFrame);
    }
    const std::int64_t height = (std::int64_t{lines} + 7) / 8 * 8;
    const std::int64_t width = (std::int64_t{samples} + 15) / 16 * 16;
    if (lines == 0 || samples == 0 || width > kMaxPaddedSide || height > kMaxPaddedSide ||
        width * height > kMaxPaddedPixels) {
        return fail(DecodeError::FrameSize);
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t id = p[9 + 3 * i];
        const std::uint8_t table = p[11 + 3 * i];
        if (id < 1 || id > count || table > 1) {
            return fail(DecodeError::BadFrame);
        }
    }
    freeComponentTable();
    componentTable_ = static_cast<std::uint8_t*>(platform::virtualAlloc(count));
    if (componentTable_ == nullptr) {
        outOfMemory();
        return false;
    }
    componentCount_ = count;
    for (std::uint32_t i = 0; i < count; ++i) {
        componentTable_[p[9 + 3 * i] - 1] = p[11 + 3 * i];
    }
    paddedHeight_ = static_cast<std::int32_t>(height);
    paddedWidth_ = static_cast<std::int32_t>(width);
    imageHeader_.width = paddedWidth_;
    imageHeader_.height = paddedHeight_;
    imageHeader_.imageSize = static_cast<std::uint32_t>(width * height * 3);
    freePixels();
    pixels_ = static_cast<std::uint8_t*>(platform::virtualAlloc(imageHeader_.imageSize));
    if (pixels_ == nullptr) {
        outOfMemory();
        return false;
    }
    cursor = end;
    return true;
}

bool JpegDecoder::huffmanTables(std::uint32_t& cursor) {
    std::uint32_t end = 0;
    if (!segmentLength(cursor, end)) {
        return false;
    }
    std::uint32_t at = cursor + 3;
    while (at < end) {
        if (end - at < 17) {
            return fail(DecodeError::BadHuffmanTable);
        }
        const std::uint32_t tableClass = data_[at] >> 4;
        const std::uint32_t number = data_[at] & 0x0F;
        if (tableClass > 1 || number > 1) {
            return fail(DecodeError::BadHuffmanTable);
        }
        std::uint32_t total = 0;
        for (int k = 0; k < 16; ++k) {
            total += data_[at + 1 + k];
        }
        if (total > end - at - 17) {
            return fail(DecodeError::BadHuffmanTable);
        }
        const std::uint32_t slot = number + 2 * tableClass;
        platform::virtualFree(huffman_[slot]);
        huffman_[slot] = static_cast<HuffmanTable*>(platform::virtualAlloc(sizeof(HuffmanTable)));
        if (huffman_[slot] == nullptr) {
            // Unlike the other buffers, a missing table ends only this decode.
            ui_.messageBox(kOutOfMemoryText);
            return fail(DecodeError::OutOfMemory);
        }
        HuffmanTable& table = *huffman_[slot];
        std::uint32_t code = 0;
        std::uint32_t index = 0;
        bool anyCodes = false;
        for (int k = 0; k < 16; ++k) {
            const std::uint32_t n = data_[at + 1 + k];
            HuffmanRow& row = table.rows[k];
            row.valueIndex = static_cast<std::uint16_t>(index);
            if (n > 0) {
                row.lowest = static_cast<std::uint16_t>(2 * code);
                row.highest = static_cast<std::uint16_t>(2 * code + n - 1);
                code = 2 * code + n;
                anyCodes = true;
            } else {
                row.highest = 0xFFFF;
                if (anyCodes) {
                    code = 2 * code;
                }
            }
            code &= 0xFFFF;
            index += n;
        }
        valuePosition_[slot] = at + 17;
        valuesEnd_[slot] = at + 17 + total;
        at += 17 + total;
    }
    cursor = end;
    return true;
}

bool JpegDecoder::quantTables(std::uint32_t& cursor) {
    std::uint32_t end = 0;
    if (!segmentLength(cursor, end)) {
        return false;
    }
    std::uint32_t at = cursor + 3;
    while (at < end) {
        if (end - at < 65) {
            return fail(DecodeError::BadQuantTable);
        }
        const std::uint32_t precision = data_[at] >> 4;
        const std::uint32_t number = data_[at] & 0x0F;
        if (precision != 0 || number > 1) {
            return fail(DecodeError::BadQuantTable);
        }
        for (int i = 0; i < 64; ++i) {
            quant_[number][detail::kZigZag[i]] = data_[at + 1 + i];
        }
        quantDefined_[number] = true;
        at += 65;
    }
    cursor = end;
    return true;
}

bool JpegDecoder::startOfScan(std::uint32_t& cursor) {
    std::uint32_t end = 0;
    if (!segmentLength(cursor, end)) {
        return false;
    }
    // The selectors of the three components sit at fixed offsets from the code byte.
    if (end - cursor < 10) {
        return fail(DecodeError::BadScanHeader);
    }
    for (int i = 0; i < 3; ++i) {
        const std::uint8_t selectors = data_[cursor + 5 + 2 * i];
        if ((selectors >> 4) > 1 || (selectors & 0x0F) > 1) {
            return fail(DecodeError::BadScanHeader);
        }
        scanSelectors_[i][0] = static_cast<std::uint8_t>(selectors >> 4);
        scanSelectors_[i][1] = static_cast<std::uint8_t>(selectors & 0x0F);
    }
    sawScanHeader_ = true;
    cursor = end;
    return true;
}

bool JpegDecoder::decodeScan(std::uint32_t& cursor) {
    if (++scans_ > 1) {
        return fail(DecodeError::SecondScan);
    }
    if (pixels_ == nullptr || componentTable_ == nullptr || !sawScanHeader_) {
        return fail(DecodeError::ScanWithoutFrame);
    }
    detail::ScanContext scan{};
    scan.data = data_;
    scan.length = dataLength_;
    scan.cursor = cursor;
    for (int c = 0; c < 3; ++c) {
        const int dcSlot = scanSelectors_[c][0];
        const int acSlot = 2 + scanSelectors_[c][1];
        const int quantTable = componentTable_[c];
        // Symbol values are read in place: they must lie inside this decode's data, which
        // tables kept from an earlier decode need not.
        if (huffman_[dcSlot] == nullptr || huffman_[acSlot] == nullptr ||
            valuesEnd_[dcSlot] > dataLength_ || valuesEnd_[acSlot] > dataLength_ ||
            !quantDefined_[quantTable]) {
            return fail(DecodeError::UndefinedTable);
        }
        scan.dc[c] = huffman_[dcSlot];
        scan.ac[c] = huffman_[acSlot];
        scan.dcValues[c] = valuePosition_[dcSlot];
        scan.acValues[c] = valuePosition_[acSlot];
        scan.quant[c] = quant_[quantTable];
    }
    scan.predictors = predictors_;
    scan.pixels = pixels_;
    scan.paddedWidth = paddedWidth_;
    scan.paddedHeight = paddedHeight_;
    // The coefficient buffer; the fast path keeps its look-up tables in the same block.
    const std::size_t coefficientBytes = 256 * sizeof(std::int32_t);
    const std::size_t workspaceBytes =
        path_ == ScanPath::Fast ? detail::fastScanWorkspaceBytes(paddedWidth_, paddedHeight_) : 0;
    auto* block =
        static_cast<std::uint8_t*>(platform::virtualAlloc(coefficientBytes + workspaceBytes));
    if (block == nullptr) {
        outOfMemory();
        return false;
    }
    scan.coefficients = reinterpret_cast<std::int32_t*>(block);
    scan.workspace = workspaceBytes != 0 ? block + coefficientBytes : nullptr;
    const DecodeError result = path_ == ScanPath::Reference ? detail::decodeScanReference(scan)
                                                            : detail::decodeScanFast(scan);
    platform::virtualFree(scan.coefficients);
    cursor = scan.cursor;
    if (result != DecodeError::None) {
        return fail(result);
    }
    return true;
}

} // namespace jpeg
