// One picture on the card as the system keeps it after a catalogue read, and the list of
// them. Records come from the process heap, zero-filled, and the caller gives them back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace camlink {

struct CameraPicture {
    char fullName[8];  // "S" + entry name bytes 1-7, not terminated
    char thumbName[8]; // "T" + entry name bytes 1-7, not terminated
    std::uint16_t extraWord1;
    std::uint16_t extraWord2;
    std::uint32_t fullSize;
    std::uint32_t thumbSize; // always 0x7000
    CameraPicture* next;
};

static_assert(offsetof(CameraPicture, fullName) == 0, "record layout");
static_assert(offsetof(CameraPicture, thumbName) == 8, "record layout");
static_assert(offsetof(CameraPicture, extraWord1) == 16, "record layout");
static_assert(offsetof(CameraPicture, extraWord2) == 18, "record layout");
static_assert(offsetof(CameraPicture, fullSize) == 20, "record layout");
static_assert(offsetof(CameraPicture, thumbSize) == 24, "record layout");
// The camera's fields keep their places in every build; only the link grows with the
// pointer: 32 bytes on 32 bits, and on 64 bits the 8-byte link on its natural boundary.
static_assert(offsetof(CameraPicture, next) == 28 || sizeof(void*) != 4, "record layout");
static_assert(sizeof(CameraPicture) == 32 || sizeof(void*) != 4, "32-byte record on 32 bits");
static_assert(offsetof(CameraPicture, next) == 32 || sizeof(void*) != 8, "record layout");
static_assert(sizeof(CameraPicture) == 40 || sizeof(void*) != 8, "40-byte record on 64 bits");

// Head of the records in catalogue order.
using CameraPictureList = CameraPicture*;

// Gives every record of the list back to the process heap and empties the list.
void freePictures(CameraPictureList& list);

// The browser's picture catalogue, which a catalogue read empties first.
class PictureCatalogue {
public:
    virtual ~PictureCatalogue() = default;
    virtual int clear() = 0;
};

} // namespace camlink
