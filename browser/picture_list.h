// The picture catalogue's container: a doubly linked list of entries in a private heap, with
// a cursor and its 1-based position, a selection flag per picture and a thumbnail made once
// when the picture is added.
//
// Places, counts and the n arguments are full 32-bit values, so a card of any size pages and
// selects the right pictures.
#pragma once

#include "platform/dib.h"
#include "platform/memory.h"

#include <cstddef>
#include <cstdint>

namespace browser {

// Room for a name: 259 characters and the terminating NUL.
constexpr std::size_t kPictureNameSize = 260;

struct PictureEntry {
    PictureEntry* prev;
    // Camera picture: the 8-character name of its full-size file; folder picture: full path.
    char name[kPictureNameSize];
    std::int32_t selected;                   // 1 selected, 0 not
    platform::BitmapInfoHeader sourceHeader; // header of the picture the thumbnail came from
    platform::BitmapInfoHeader imageInfo;    // header handed out for the data source
    std::uint32_t pictureSize; // bytes of the full picture file on the camera; 0 for a file
    std::uint32_t thumbSize;   // bytes of the camera's thumbnail file; 0 marks a folder picture
    platform::GlobalHandle thumbnail; // packed DIB owned by the entry; may be null
    PictureEntry* next;
};

// Reduces a packed 24-bit DIB to a new thumbnail DIB of at most 94 x 70 pixels by taking
// every e-th pixel of every e-th row. Copies the source's 40-byte header to `headerCopy`
// (when not null) once the source could be locked. Returns null, and makes nothing, when
// the source cannot be locked, is not a 24-bit bottom-up DIB with a non-zero width and
// height, is shorter than its header says, or the new block cannot be allocated.
platform::GlobalHandle makeThumbnail(platform::GlobalHandle dib,
                                     platform::BitmapInfoHeader* headerCopy);

class PictureList {
public:
    PictureList();
    ~PictureList();
    PictureList(const PictureList&) = delete;
    PictureList& operator=(const PictureList&) = delete;

    // Appends a picture and makes its thumbnail from `picture`, which stays the caller's;
    // cursor and position move to the new entry. False, with nothing changed, for a null
    // name, a name of 260 characters or more, or when the entry cannot be allocated. A
    // picture whose thumbnail cannot be made is still added, with a null thumbnail.
    bool add(const char* name, std::uint32_t pictureSize, std::uint32_t thumbSize,
             platform::GlobalHandle picture);

    // Removes the cursor entry and its thumbnail. The cursor moves to the following entry,
    // or to the preceding one when the tail went. False when there is no cursor.
    bool removeCurrent();
    // Removes every entry. Always true.
    bool clear();

    // Moves the cursor to the first entry named exactly `name`; when none matches the cursor
    // ends null (position 0). A null name or an empty list gives false and changes nothing.
    bool findByName(const char* name);
    // thumbSize of the first entry named `name` (non-zero: a camera picture), 0 when none.
    // The cursor stays where it was.
    std::uint32_t isCameraPictureNamed(const char* name);

    // The cursor entry's fields; null or 0 without a cursor.
    const char* currentName() const;
    std::uint32_t currentSize() const;
    std::uint32_t currentThumbSize() const;
    platform::GlobalHandle currentThumbnail() const;
    const platform::BitmapInfoHeader* currentInfo() const;
    // Copies 40 bytes into the cursor entry's imageInfo; nothing without a cursor or header.
    void setCurrentInfo(const platform::BitmapInfoHeader* header);

    // Selection flag of the entry n places after the cursor; 0 past the tail or no cursor.
    std::int32_t selectedAt(std::uint32_t n) const;
    // Flips the selection of the entry n places after the cursor; nothing past the tail.
    void toggleAt(std::uint32_t n);
    // Selects the entries at 0-based places from..to inclusive, stopping at the tail.
    void selectRange(std::uint32_t from, std::uint32_t to);

    // Moves the cursor n places on. False, cursor unchanged, without a cursor or when fewer
    // than n entries follow it.
    bool forward(std::uint32_t n);
    // Moves the cursor back up to n places, stopping at the head. False without a cursor.
    bool back(std::uint32_t n);
    // Cursor to the head, position 1. False when it is there already (or the list is empty).
    bool rewind();

    std::uint32_t selectedCount() const;
    void selectAll();
    void clearSelection();
    // Cursor to the first selected entry; unchanged, false, when none is selected.
    bool firstSelected();
    // Cursor to the next selected entry after it; unchanged, false, when none follows.
    bool nextSelected();
    // Removes every selected entry. The cursor stays on its entry, or when that went, on the
    // nearest survivor after it (else before it); position is its place. True when any went.
    bool removeSelected();

    std::uint32_t count() const { return count_; }
    // 1-based place of the cursor; 0 when there is no cursor.
    std::uint32_t position() const { return position_; }

    // The entry n places after the cursor, or null; for painting a page without moving it.
    const PictureEntry* entryAfterCursor(std::uint32_t n) const;

private:
    static PictureEntry* after(PictureEntry* from, std::uint32_t n); // null past the tail
    void unlink(PictureEntry* entry);
    void freeEntry(PictureEntry* entry);
    std::uint32_t placeOf(const PictureEntry* entry) const; // 1-based

    PictureEntry* head_ = nullptr;
    PictureEntry* tail_ = nullptr;
    PictureEntry* cursor_ = nullptr;
    std::uint32_t count_ = 0;
    std::uint32_t position_ = 0;
    platform::HeapHandle heap_ = nullptr;
};

} // namespace browser
