// decodePicture: a camera picture or a JPEG file decoded into a packed 24-bit DIB in a
// movable global block, which is either added to the picture catalogue (which makes its
// thumbnail) or handed back to the caller.
#pragma once

#include "platform/dib.h"
#include "platform/memory.h"

#include <cstdint>

namespace platform {
class UserInterface;
}

namespace jpeg {

// The two operations of the picture catalogue that decodePicture needs. The catalogue
// lives above this layer; PictureListSink adapts it.
class PictureSink {
public:
    virtual ~PictureSink() = default;
    // Appends an entry, makes its thumbnail from `picture` (which stays the caller's) and
    // moves the cursor to it. False when no entry could be added.
    virtual bool add(const char* name, std::uint32_t pictureSize, std::uint32_t thumbSize,
                     platform::GlobalHandle picture) = 0;
    // Copies the header into the cursor entry's image information.
    virtual void setCurrentInfo(const platform::BitmapInfoHeader* header) = 0;
};

template <class List> class PictureListSink : public PictureSink {
public:
    explicit PictureListSink(List& list) : list_(list) {}
    bool add(const char* name, std::uint32_t pictureSize, std::uint32_t thumbSize,
             platform::GlobalHandle picture) override {
        return list_.add(name, pictureSize, thumbSize, picture);
    }
    void setCurrentInfo(const platform::BitmapInfoHeader* header) override {
        list_.setCurrentInfo(header);
    }

private:
    List& list_;
};

// In a camera thumbnail file the JPEG stream begins this many bytes in.
constexpr std::uint32_t kThumbnailStreamOffset = 2123;

extern const char kFileErrorText[]; // "JPEG File format error!"

// Nominal size of a camera picture by the first letter of its name ("S" 1792 x 1200,
// "V" 640 x 480); other names keep the decoded size given.
void nominalSize(const char* name, std::int32_t& width, std::int32_t& height);

// data:        the fetched thumbnail or picture file, or null for a file
// pictureSize: size of the full picture file on the camera (0 for a file)
// thumbSize:   size of the camera's thumbnail file; 0 selects file mode (name is a path)
// addToList:   1 adds the picture to `pictures`; 0 returns the DIB in `result`
// Returns 1 on success, 0 on failure (reported by the caller, except a file that cannot be
// opened or read, reported here).
int decodePicture(platform::UserInterface& ui, PictureSink& pictures, const std::uint8_t* data,
                  std::uint32_t pictureSize, std::uint32_t thumbSize, const char* name,
                  int addToList, platform::GlobalHandle* result);

} // namespace jpeg
