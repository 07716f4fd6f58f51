// A camera card kept in a folder of the host machine.
//
// Layout of the folder:
//   S<7>.JPG   the full-size picture (a baseline JPEG file)
//   T<7>.JPG   its thumbnail file: exactly 0x7000 bytes, the JPEG stream 2123 bytes in,
//              a head of our own before it (see makeThumbnailFile) and zero bytes after
//   ORDER.LST  the camera's catalogue order: one 8-character entry name a line, blank
//              lines and lines starting with '#' ignored. The entry name is what the
//              catalogue sends; its first letter tells the picture size ("S" 1792x1200,
//              "V" 640x480), characters 2-8 name the files. Without an order file the
//              card lists every S<7>.JPG in name order.
// Deleting a picture removes both files and its order line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct CardPicture {
    std::string entryName;      // 8 characters, as sent in the catalogue
    std::uint32_t fullSize = 0; // byte size of the full-size file
    std::uint16_t width = 0;    // of the full picture, from its frame header (0 if unknown)
    std::uint16_t height = 0;

    std::string fullName() const { return "S" + entryName.substr(1); }
    std::string thumbName() const { return "T" + entryName.substr(1); }
};

class Card {
public:
    static constexpr const char* kOrderFile = "ORDER.LST";

    // An empty card that belongs to no folder.
    Card() = default;

    // Reads the card in `folder`. Fails (with a reason in *error) when the folder or the
    // order file cannot be read, or the order file names a picture badly.
    static std::optional<Card> open(const std::string& folder, std::string* error = nullptr);
    // Makes `folder` (and its parents) and an empty order file; an existing card is emptied.
    static std::optional<Card> create(const std::string& folder, std::string* error = nullptr);

    // Writes the two files of a new picture and appends it to the order.
    bool addPicture(const std::string& entryName, const std::vector<std::uint8_t>& fullJpeg,
                    const std::vector<std::uint8_t>& thumbJpeg, std::string* error = nullptr);

    const std::string& folder() const { return folder_; }
    const std::vector<CardPicture>& pictures() const { return pictures_; }

    // Index of the picture one of whose files is `name` (8 characters, "S..." or "T..."),
    // or -1.
    int find(const std::string& name) const;
    // Reads the file `name`.JPG (8-character name) from the folder; false when it is not
    // there or the name is not a plain 8-character file name.
    bool readFile(const std::string& name, std::vector<std::uint8_t>& out) const;
    // Removes the picture one of whose files is `name`: both files and its order line.
    bool removePicture(const std::string& name);

private:
    bool writeOrder(std::string* error) const;

    std::string folder_;
    std::vector<CardPicture> pictures_;
};

// True when `name` is 8 characters of letters, digits or '_' (safe as a file name).
bool isPictureName(const std::string& name);

// Width and height from the first frame header of a JPEG stream; false when there is none.
bool jpegDimensions(const std::uint8_t* data, std::size_t size, std::uint16_t& width,
                    std::uint16_t& height);

// The 0x7000-byte thumbnail file around a thumbnail JPEG stream, or an empty vector when
// the stream does not fit. Head (little-endian): "LVTH", u16 version 1, u16 head size
// 2123, 8-character thumbnail name, u32 stream length, u16 width, u16 height, u32 full
// picture size, zero bytes to offset 2123.
std::vector<std::uint8_t> makeThumbnailFile(const std::string& thumbName,
                                            const std::vector<std::uint8_t>& jpeg,
                                            std::uint32_t fullSize);

} // namespace sim
