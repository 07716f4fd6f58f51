#include "sim/mkcard/image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <jpeglib.h>
#include <setjmp.h>

namespace mkcard {

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    info->err->format_message(info, error->message);
    longjmp(error->jump, 1);
}

Image readJpeg(const std::vector<std::uint8_t>& bytes, std::string* error) {
    Image image;
    jpeg_decompress_struct info{};
    JpegError jerr{};
    info.err = jpeg_std_error(&jerr.manager);
    jerr.manager.error_exit = onJpegError;
    if (setjmp(jerr.jump)) {
        if (error)
            *error = jerr.message;
        jpeg_destroy_decompress(&info);
        return Image();
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image.width = int(info.output_width);
    image.height = int(info.output_height);
    image.rgb.resize(std::size_t(image.width) * std::size_t(image.height) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.rgb.data() + std::size_t(info.output_scanline) * image.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

Image readPpm(const std::vector<std::uint8_t>& bytes, std::string* error) {
    // P6 <width> <height> <maxval 255>, single whitespace, then the pixels.
    std::size_t at = 2;
    int fields[3] = {0, 0, 0};
    for (int& field : fields) {
        while (at < bytes.size() && (std::isspace(bytes[at]) || bytes[at] == '#')) {
            if (bytes[at] == '#')
                while (at < bytes.size() && bytes[at] != '\n')
                    ++at;
            else
                ++at;
        }
        while (at < bytes.size() && std::isdigit(bytes[at]) && field < 100000)
            field = field * 10 + (bytes[at++] - '0');
    }
    ++at;
    Image image;
    image.width = fields[0];
    image.height = fields[1];
    const std::size_t size = std::size_t(image.width) * std::size_t(image.height) * 3;
    if (image.empty() || fields[2] != 255 || at + size > bytes.size()) {
        if (error)
            *error = "not an 8-bit binary PPM";
        return Image();
    }
    image.rgb.assign(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + size));
    return image;
}

} // namespace

Image readImage(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    if (bytes.size() < 3) {
        if (error)
            *error = "cannot read " + path;
        return Image();
    }
    if (bytes[0] == 0xFF && bytes[1] == 0xD8)
        return readJpeg(bytes, error);
    if (bytes[0] == 'P' && bytes[1] == '6')
        return readPpm(bytes, error);
    if (error)
        *error = path + " is neither JPEG nor PPM";
    return Image();
}

Image fit(const Image& source, int width, int height) {
    // Crop to the target aspect, centred.
    double cropW = source.width, cropH = source.height;
    if (cropW * height > cropH * width)
        cropW = cropH * width / height;
    else
        cropH = cropW * height / width;
    const double left = (source.width - cropW) / 2, top = (source.height - cropH) / 2;
    const double sx = cropW / width, sy = cropH / height;
    Image out;
    out.width = width;
    out.height = height;
    out.rgb.resize(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const int y0 = std::clamp(int(top + y * sy), 0, source.height - 1);
        const int y1 = std::clamp(int(top + (y + 1) * sy), y0 + 1, source.height);
        for (int x = 0; x < width; ++x) {
            const int x0 = std::clamp(int(left + x * sx), 0, source.width - 1);
            const int x1 = std::clamp(int(left + (x + 1) * sx), x0 + 1, source.width);
            unsigned sum[3] = {0, 0, 0};
            for (int v = y0; v < y1; ++v) {
                const std::uint8_t* p = &source.rgb[(std::size_t(v) * source.width + x0) * 3];
                for (int u = x0; u < x1; ++u, p += 3) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const unsigned n = unsigned((y1 - y0) * (x1 - x0));
            std::uint8_t* q = &out.rgb[(std::size_t(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c)
                q[c] = std::uint8_t((sum[c] + n / 2) / n);
        }
    }
    return out;
}

Image pattern(int width, int height, unsigned seed) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.resize(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.rgb[(std::size_t(y) * width + x) * 3];
            const bool square = ((x * 4 / width) + (y * 4 / height) + int(seed)) % 2 == 0;
            p[0] = std::uint8_t(255 * x / std::max(1, width - 1));
            p[1] = std::uint8_t(255 * y / std::max(1, height - 1));
            p[2] = std::uint8_t(square ? 40 + seed * 50 % 200 : 220 - seed * 30 % 200);
        }
    return image;
}

std::vector<std::uint8_t> encodeJpeg(const Image& image, int quality) {
    jpeg_compress_struct info{};
    jpeg_error_mgr jerr{};
    info.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    // The camera's form: luma 2x1 against each chroma component, one baseline scan.
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    for (int c = 1; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    info.restart_interval = 0;
    info.restart_in_rows = 0;
    info.optimize_coding = FALSE;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(&image.rgb[std::size_t(info.next_scanline) * image.width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

} // namespace mkcard
