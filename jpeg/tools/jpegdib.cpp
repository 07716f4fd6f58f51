// jpegdib: decodes a JPEG file with the system's decoder and writes the packed DIB it
// makes, so anyone can look at the result.
//
//   jpegdib [--memory | --thumbnail-file] [--bmp] [--thumb OUT2] INPUT OUTPUT
//
//   (default)         file mode: the decoder reads INPUT itself
//   --memory          memory mode: INPUT is read first and must start with FF D8
//   --thumbnail-file  INPUT is a camera thumbnail file: the stream starts 2123 bytes in
//   --bmp             write OUTPUT (and OUT2) as .bmp files instead of bare packed DIBs
//   --thumb OUT2      also write the thumbnail the picture list would make of the picture
#include "jpeg/decode_picture.h"
#include "jpeg/jpeg_decoder.h"
#include "platform/console_ui.h"
#include "platform/dib.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/thumbnail.h"
#include "platform/ui.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

bool writeDib(const char* path, const std::vector<std::uint8_t>& dib, bool bmp) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return false;
    }
    if (bmp) {
        std::vector<std::uint8_t> fileHeader{'B', 'M'};
        put32(fileHeader, static_cast<std::uint32_t>(14 + dib.size()));
        put32(fileHeader, 0);
        put32(fileHeader, 14 + platform::kDibHeaderSize);
        std::fwrite(fileHeader.data(), 1, fileHeader.size(), f);
    }
    const bool ok = std::fwrite(dib.data(), 1, dib.size(), f) == dib.size();
    return std::fclose(f) == 0 && ok;
}

// The thumbnail the picture list makes of the picture, by the same rule.
std::vector<std::uint8_t> thumbnailOf(const std::vector<std::uint8_t>& dib) {
    platform::BitmapInfoHeader source;
    std::memcpy(&source, dib.data(), sizeof source);
    const auto w = static_cast<std::uint32_t>(source.width);
    const auto h = static_cast<std::uint32_t>(source.height);
    const platform::ThumbnailGeometry g = platform::thumbnailGeometry(w, h);
    const platform::BitmapInfoHeader header = platform::thumbnailHeader(g);
    std::vector<std::uint8_t> out(40 + static_cast<std::size_t>(header.imageSize), 0);
    std::memcpy(out.data(), &header, 40);
    platform::decimatePixels(dib.data() + 40, w, h, g, out.data() + 40);
    return out;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: jpegdib [--memory | --thumbnail-file] [--bmp] [--thumb OUT2] INPUT OUTPUT\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    enum { File, Memory, ThumbnailFile } mode = File;
    bool bmp = false;
    const char* thumbOut = nullptr;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--memory") == 0) {
            mode = Memory;
        } else if (std::strcmp(argv[i], "--thumbnail-file") == 0) {
            mode = ThumbnailFile;
        } else if (std::strcmp(argv[i], "--bmp") == 0) {
            bmp = true;
        } else if (std::strcmp(argv[i], "--thumb") == 0 && i + 1 < argc) {
            thumbOut = argv[++i];
        } else if (argv[i][0] == '-') {
            return usage();
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2) {
        return usage();
    }

    platform::ConsoleUi ui("message");
    jpeg::JpegDecoder decoder(ui);
    const std::uint8_t* pixels = nullptr;
    platform::FileContents input;
    if (mode == File) {
        pixels = decoder.decodeFile(paths[0]);
    } else {
        input = platform::readWholeFile(paths[0], jpeg::kMaxFileBytes);
        if (input.status != platform::FileReadStatus::Ok) {
            std::fprintf(stderr, "cannot read %s\n", paths[0]);
            return 1;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(input.data);
        const auto size = static_cast<std::uint32_t>(input.size);
        if (mode == Memory) {
            pixels = decoder.decodeMemory(bytes, size);
        } else if (size > jpeg::kThumbnailStreamOffset) {
            pixels = decoder.decodeMemory(bytes + jpeg::kThumbnailStreamOffset,
                                          size - jpeg::kThumbnailStreamOffset);
        } else {
            std::fprintf(stderr, "decode failed: a thumbnail file of %u bytes holds no stream\n",
                         size);
            return 1;
        }
    }
    if (pixels == nullptr) {
        std::fprintf(stderr, "decode failed: %s\n", jpeg::describe(decoder.lastError()));
        platform::virtualFree(input.data);
        return 1;
    }
    const platform::BitmapInfoHeader& header = decoder.imageHeader();
    std::printf("width %d height %d\n", header.width, header.height);
    std::vector<std::uint8_t> dib(40 + static_cast<std::size_t>(header.imageSize));
    std::memcpy(dib.data(), &header, 40);
    std::memcpy(dib.data() + 40, pixels, header.imageSize);
    decoder.releaseBuffers();
    platform::virtualFree(input.data);

    bool ok = writeDib(paths[1], dib, bmp);
    if (thumbOut != nullptr) {
        const std::vector<std::uint8_t> thumb = thumbnailOf(dib);
        std::printf("thumbnail width %u height %u\n", thumb[4] | thumb[5] << 8,
                    thumb[8] | thumb[9] << 8);
        ok = writeDib(thumbOut, thumb, bmp) && ok;
    }
    return ok ? 0 : 1;
}
