#include "browser/picture_list.h"

#include "browser/layout.h"
#include "platform/thumbnail.h"

#include <cstring>

namespace browser {

using platform::BitmapInfoHeader;
using platform::GlobalHandle;

namespace {

constexpr std::size_t kHeapInitialBytes = 512;
static_assert(platform::kThumbnailMaxWidth == kThumbMaxWidth &&
                  platform::kThumbnailMaxHeight == kThumbMaxHeight,
              "the layout leaves room for the largest thumbnail");

// Locks a global block for the lifetime of the guard.
class Locked {
public:
    explicit Locked(GlobalHandle block)
        : block_(block), bytes_(static_cast<unsigned char*>(platform::globalLock(block))) {}
    ~Locked() {
        if (bytes_ != nullptr) {
            platform::globalUnlock(block_);
        }
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    unsigned char* bytes() const { return bytes_; }

private:
    GlobalHandle block_;
    unsigned char* bytes_;
};

} // namespace

GlobalHandle makeThumbnail(GlobalHandle dib, BitmapInfoHeader* headerCopy) {
    Locked source(dib);
    if (source.bytes() == nullptr) {
        return nullptr;
    }
    const std::size_t sourceBytes = platform::globalSize(dib);
    if (sourceBytes < platform::kDibHeaderSize) {
        return nullptr;
    }
    BitmapInfoHeader header;
    std::memcpy(&header, source.bytes(), sizeof header);
    if (headerCopy != nullptr) {
        *headerCopy = header;
    }
    // A zero or negative size would divide by zero below, or mean a top-down layout.
    if (header.width <= 0 || header.height <= 0 || header.bitCount != 24) {
        return nullptr;
    }
    const std::uint64_t width = static_cast<std::uint32_t>(header.width);
    const std::uint64_t height = static_cast<std::uint32_t>(header.height);
    const std::uint64_t sourceStride = ((width * 24 + 31) / 32) * 4;
    if (sourceStride * height > sourceBytes - platform::kDibHeaderSize) {
        return nullptr; // the block is shorter than its header claims
    }

    const platform::ThumbnailGeometry geometry = platform::thumbnailGeometry(
        static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    if (geometry.width == 0 || geometry.height == 0) {
        return nullptr; // a sliver narrower than one factor: nothing to show
    }
    const BitmapInfoHeader out = platform::thumbnailHeader(geometry);
    const std::size_t imageBytes = out.imageSize;

    GlobalHandle thumb = platform::globalAlloc(platform::kDibHeaderSize + imageBytes);
    if (thumb == nullptr) {
        return nullptr;
    }
    Locked target(thumb);
    if (target.bytes() == nullptr) {
        platform::globalFree(thumb);
        return nullptr;
    }

    std::memcpy(target.bytes(), &out, sizeof out);
    platform::decimatePixels(source.bytes() + platform::kDibHeaderSize,
                             static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                             geometry, target.bytes() + platform::kDibHeaderSize);
    return thumb;
}

PictureList::PictureList() : heap_(platform::heapCreate(kHeapInitialBytes)) {}

PictureList::~PictureList() {
    clear();
    if (heap_ != nullptr) {
        platform::heapDestroy(heap_);
    }
}

bool PictureList::add(const char* name, std::uint32_t pictureSize, std::uint32_t thumbSize,
                      GlobalHandle picture) {
    if (name == nullptr) {
        return false;
    }
    const void* end = std::memchr(name, '\0', kPictureNameSize);
    if (end == nullptr) {
        return false; // 260 characters or more: it would not be this picture's name
    }
    if (heap_ == nullptr) {
        heap_ = platform::heapCreate(kHeapInitialBytes); // failed at construction; try again
        if (heap_ == nullptr) {
            return false;
        }
    }
    auto* entry = static_cast<PictureEntry*>(platform::heapAlloc(heap_, sizeof(PictureEntry)));
    if (entry == nullptr) {
        return false;
    }
    std::memcpy(entry->name, name, static_cast<const char*>(end) - name + 1);
    entry->pictureSize = pictureSize;
    entry->thumbSize = thumbSize;
    entry->thumbnail = makeThumbnail(picture, &entry->sourceHeader);

    entry->prev = tail_;
    if (tail_ != nullptr) {
        tail_->next = entry;
    } else {
        head_ = entry;
    }
    tail_ = entry;
    ++count_;
    cursor_ = entry;
    position_ = count_;
    return true;
}

void PictureList::unlink(PictureEntry* entry) {
    if (entry->prev != nullptr) {
        entry->prev->next = entry->next;
    } else {
        head_ = entry->next;
    }
    if (entry->next != nullptr) {
        entry->next->prev = entry->prev;
    } else {
        tail_ = entry->prev;
    }
    --count_;
}

void PictureList::freeEntry(PictureEntry* entry) {
    if (entry->thumbnail != nullptr) {
        platform::globalFree(entry->thumbnail);
    }
    platform::heapFree(heap_, entry);
}

bool PictureList::removeCurrent() {
    PictureEntry* gone = cursor_;
    if (gone == nullptr) {
        return false;
    }
    unlink(gone);
    if (gone->next != nullptr) {
        cursor_ = gone->next; // same position
    } else {
        cursor_ = gone->prev;
        position_ = cursor_ != nullptr ? position_ - 1 : 0;
    }
    freeEntry(gone);
    return true;
}

bool PictureList::clear() {
    cursor_ = head_;
    position_ = head_ != nullptr ? 1 : 0;
    while (removeCurrent()) {
    }
    return true;
}

bool PictureList::findByName(const char* name) {
    if (name == nullptr || head_ == nullptr) {
        return false;
    }
    std::uint32_t place = 1;
    for (PictureEntry* e = head_; e != nullptr; e = e->next, ++place) {
        if (std::strcmp(e->name, name) == 0) {
            cursor_ = e;
            position_ = place;
            return true;
        }
    }
    cursor_ = nullptr;
    position_ = 0;
    return false;
}

std::uint32_t PictureList::isCameraPictureNamed(const char* name) {
    PictureEntry* const savedCursor = cursor_;
    const std::uint32_t savedPosition = position_;
    const std::uint32_t size = findByName(name) ? cursor_->thumbSize : 0;
    cursor_ = savedCursor;
    position_ = savedPosition;
    return size;
}

const char* PictureList::currentName() const {
    return cursor_ ? cursor_->name : nullptr;
}
std::uint32_t PictureList::currentSize() const {
    return cursor_ ? cursor_->pictureSize : 0;
}
std::uint32_t PictureList::currentThumbSize() const {
    return cursor_ ? cursor_->thumbSize : 0;
}
GlobalHandle PictureList::currentThumbnail() const {
    return cursor_ ? cursor_->thumbnail : nullptr;
}
const BitmapInfoHeader* PictureList::currentInfo() const {
    return cursor_ ? &cursor_->imageInfo : nullptr;
}

void PictureList::setCurrentInfo(const BitmapInfoHeader* header) {
    if (cursor_ != nullptr && header != nullptr) {
        std::memcpy(&cursor_->imageInfo, header, sizeof cursor_->imageInfo);
    }
}

PictureEntry* PictureList::after(PictureEntry* from, std::uint32_t n) {
    for (; from != nullptr && n > 0; --n) {
        from = from->next;
    }
    return from;
}

const PictureEntry* PictureList::entryAfterCursor(std::uint32_t n) const {
    return after(cursor_, n);
}

std::int32_t PictureList::selectedAt(std::uint32_t n) const {
    const PictureEntry* e = entryAfterCursor(n);
    return e != nullptr ? e->selected : 0;
}

void PictureList::toggleAt(std::uint32_t n) {
    if (PictureEntry* e = after(cursor_, n)) {
        e->selected = e->selected != 0 ? 0 : 1;
    }
}

void PictureList::selectRange(std::uint32_t from, std::uint32_t to) {
    if (from >= count_) {
        return;
    }
    PictureEntry* e = head_;
    std::uint32_t place = 0;
    for (; place < from; ++place) {
        e = e->next;
    }
    // place stays below count, so it cannot wrap before the tail ends the walk
    for (; e != nullptr && place <= to; e = e->next, ++place) {
        e->selected = 1;
    }
}

bool PictureList::forward(std::uint32_t n) {
    PictureEntry* target = after(cursor_, n);
    if (target == nullptr) {
        return false;
    }
    cursor_ = target;
    position_ += n;
    return true;
}

bool PictureList::back(std::uint32_t n) {
    if (cursor_ == nullptr) {
        return false;
    }
    for (; n > 0 && cursor_->prev != nullptr; --n) {
        cursor_ = cursor_->prev;
        --position_;
    }
    return true;
}

bool PictureList::rewind() {
    if (cursor_ == head_) {
        return false;
    }
    cursor_ = head_;
    position_ = 1;
    return true;
}

std::uint32_t PictureList::selectedCount() const {
    std::uint32_t n = 0;
    for (const PictureEntry* e = head_; e != nullptr; e = e->next) {
        n += e->selected != 0 ? 1 : 0;
    }
    return n;
}

void PictureList::selectAll() {
    for (PictureEntry* e = head_; e != nullptr; e = e->next) {
        e->selected = 1;
    }
}

void PictureList::clearSelection() {
    for (PictureEntry* e = head_; e != nullptr; e = e->next) {
        e->selected = 0;
    }
}

bool PictureList::firstSelected() {
    std::uint32_t place = 1;
    for (PictureEntry* e = head_; e != nullptr; e = e->next, ++place) {
        if (e->selected != 0) {
            cursor_ = e;
            position_ = place;
            return true;
        }
    }
    return false;
}

bool PictureList::nextSelected() {
    if (cursor_ == nullptr) {
        return false;
    }
    std::uint32_t place = position_ + 1;
    for (PictureEntry* e = cursor_->next; e != nullptr; e = e->next, ++place) {
        if (e->selected != 0) {
            cursor_ = e;
            position_ = place;
            return true;
        }
    }
    return false;
}

std::uint32_t PictureList::placeOf(const PictureEntry* entry) const {
    std::uint32_t place = 1;
    for (const PictureEntry* e = head_; e != nullptr && e != entry; e = e->next) {
        ++place;
    }
    return place;
}

bool PictureList::removeSelected() {
    PictureEntry* kept = cursor_;
    bool removed = false;
    PictureEntry* e = head_;
    while (e != nullptr) {
        PictureEntry* following = e->next;
        if (e->selected != 0) {
            if (e == kept) {
                kept = e->next != nullptr ? e->next : e->prev;
            }
            unlink(e);
            freeEntry(e);
            removed = true;
        }
        e = following;
    }
    cursor_ = kept;
    position_ = kept != nullptr ? placeOf(kept) : 0;
    return removed;
}

} // namespace browser
