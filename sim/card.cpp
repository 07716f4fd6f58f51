#include "sim/card.h"

#include "sim/protocol.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace sim {

namespace {

void fail(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

bool readWholeFile(const fs::path& path, std::vector<std::uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    out.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    if (size > 0)
        in.read(reinterpret_cast<char*>(out.data()), size);
    return bool(in);
}

bool writeWholeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

fs::path filePath(const std::string& folder, const std::string& name) {
    return fs::path(folder) / (name + ".JPG");
}

bool describe(const std::string& folder, CardPicture& picture) {
    std::error_code ec;
    const auto size = fs::file_size(filePath(folder, picture.fullName()), ec);
    if (ec || size > 0xFFFFFFFFu)
        return false;
    picture.fullSize = std::uint32_t(size);
    // The frame header sits near the start; the first 64 KiB are plenty.
    std::ifstream in(filePath(folder, picture.fullName()), std::ios::binary);
    std::vector<std::uint8_t> head(std::min<std::uintmax_t>(size, 65536));
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    if (!jpegDimensions(head.data(), std::size_t(in.gcount()), picture.width, picture.height))
        picture.width = picture.height = 0;
    return true;
}

} // namespace

bool isPictureName(const std::string& name) {
    return name.size() == 8 && std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
           });
}

std::optional<Card> Card::open(const std::string& folder, std::string* error) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        fail(error, "no card folder " + folder);
        return std::nullopt;
    }
    Card card;
    card.folder_ = folder;
    std::vector<std::string> names;
    const fs::path order = fs::path(folder) / kOrderFile;
    if (fs::exists(order, ec)) {
        std::ifstream in(order);
        if (!in) {
            fail(error, "cannot read " + order.string());
            return std::nullopt;
        }
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
                line.pop_back();
            if (line.empty() || line[0] == '#')
                continue;
            if (!isPictureName(line)) {
                fail(error, "bad picture name in order file: " + line);
                return std::nullopt;
            }
            names.push_back(line);
        }
    } else {
        for (const auto& item : fs::directory_iterator(folder, ec)) {
            const std::string file = item.path().filename().string();
            if (file.size() == 12 && file[0] == 'S' && file.compare(8, 4, ".JPG") == 0 &&
                isPictureName(file.substr(0, 8)))
                names.push_back(file.substr(0, 8));
        }
        std::sort(names.begin(), names.end());
    }
    for (const auto& name : names) {
        CardPicture picture;
        picture.entryName = name;
        if (!describe(folder, picture)) {
            fail(error, "missing picture file " + picture.fullName() + ".JPG");
            return std::nullopt;
        }
        card.pictures_.push_back(picture);
    }
    return card;
}

std::optional<Card> Card::create(const std::string& folder, std::string* error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        fail(error, "cannot make card folder " + folder);
        return std::nullopt;
    }
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        const std::string file = item.path().filename().string();
        if (file.size() == 12 && (file[0] == 'S' || file[0] == 'T') &&
            file.compare(8, 4, ".JPG") == 0)
            fs::remove(item.path(), ec);
    }
    Card card;
    card.folder_ = folder;
    if (!card.writeOrder(error))
        return std::nullopt;
    return card;
}

bool Card::addPicture(const std::string& entryName, const std::vector<std::uint8_t>& fullJpeg,
                      const std::vector<std::uint8_t>& thumbJpeg, std::string* error) {
    if (folder_.empty() || !isPictureName(entryName) || find(entryName) >= 0) {
        fail(error, "cannot add picture " + entryName);
        return false;
    }
    CardPicture picture;
    picture.entryName = entryName;
    picture.fullSize = std::uint32_t(fullJpeg.size());
    if (!jpegDimensions(fullJpeg.data(), fullJpeg.size(), picture.width, picture.height))
        picture.width = picture.height = 0;
    const auto thumbFile = makeThumbnailFile(picture.thumbName(), thumbJpeg, picture.fullSize);
    if (thumbFile.empty()) {
        fail(error, "thumbnail of " + entryName + " does not fit its file");
        return false;
    }
    if (!writeWholeFile(filePath(folder_, picture.fullName()), fullJpeg) ||
        !writeWholeFile(filePath(folder_, picture.thumbName()), thumbFile)) {
        fail(error, "cannot write the files of " + entryName);
        return false;
    }
    pictures_.push_back(picture);
    return writeOrder(error);
}

int Card::find(const std::string& name) const {
    if (name.size() != 8 || (name[0] != 'S' && name[0] != 'T'))
        return -1;
    for (std::size_t i = 0; i < pictures_.size(); ++i)
        if (pictures_[i].entryName.compare(1, 7, name, 1, 7) == 0)
            return int(i);
    return -1;
}

bool Card::readFile(const std::string& name, std::vector<std::uint8_t>& out) const {
    if (folder_.empty() || !isPictureName(name))
        return false;
    return readWholeFile(filePath(folder_, name), out);
}

bool Card::removePicture(const std::string& name) {
    const int index = find(name);
    if (index < 0)
        return false;
    const CardPicture picture = pictures_[std::size_t(index)];
    std::error_code ec;
    const bool full = fs::remove(filePath(folder_, picture.fullName()), ec);
    fs::remove(filePath(folder_, picture.thumbName()), ec);
    pictures_.erase(pictures_.begin() + index);
    return writeOrder(nullptr) && full;
}

bool Card::writeOrder(std::string* error) const {
    const fs::path order = fs::path(folder_) / kOrderFile;
    const fs::path temp = fs::path(folder_) / "ORDER.TMP";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << "# LV2700c5 card order: one catalogue entry name a line\n";
        for (const auto& picture : pictures_)
            out << picture.entryName << '\n';
        if (!out) {
            fail(error, "cannot write " + temp.string());
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, order, ec);
    if (ec) {
        fail(error, "cannot write " + order.string());
        return false;
    }
    return true;
}

bool jpegDimensions(const std::uint8_t* data, std::size_t size, std::uint16_t& width,
                    std::uint16_t& height) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return false;
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const std::size_t length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (at + 9 > size || length < 7)
                return false;
            height = std::uint16_t(data[at + 5] << 8 | data[at + 6]);
            width = std::uint16_t(data[at + 7] << 8 | data[at + 8]);
            return true;
        }
        if (marker == 0xD9 || marker == 0xDA || length < 2)
            return false;
        at += 2 + length;
    }
    return false;
}

std::vector<std::uint8_t> makeThumbnailFile(const std::string& thumbName,
                                            const std::vector<std::uint8_t>& jpeg,
                                            std::uint32_t fullSize) {
    if (thumbName.size() != 8 || jpeg.size() > kThumbFileSize - kThumbJpegOffset)
        return {};
    std::vector<std::uint8_t> file(kThumbFileSize, 0);
    std::uint8_t* head = file.data();
    head[0] = 'L';
    head[1] = 'V';
    head[2] = 'T';
    head[3] = 'H';
    writeLe16(head + 4, 1);
    writeLe16(head + 6, kThumbJpegOffset);
    std::copy(thumbName.begin(), thumbName.end(), head + 8);
    writeLe32(head + 16, std::uint32_t(jpeg.size()));
    std::uint16_t width = 0, height = 0;
    jpegDimensions(jpeg.data(), jpeg.size(), width, height);
    writeLe16(head + 20, width);
    writeLe16(head + 22, height);
    writeLe32(head + 24, fullSize);
    std::copy(jpeg.begin(), jpeg.end(), file.begin() + kThumbJpegOffset);
    return file;
}

} // namespace sim
