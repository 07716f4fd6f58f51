// camctl: the camera link over a native serial device (a USB-serial adapter or camsim's
// pseudo-terminal). Probes the camera, lists the card, fetches and deletes pictures, and
// prints the link's messages instead of showing them.
#include "link/camera_link.h"
#include "link/protocol.h"
#include "platform/console_ui.h"
#include "platform/memory.h"
#include "platform/posix/serial_port_posix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: camctl [--com2 DEVICE2] DEVICE COMMAND\n"
    "  DEVICE is the serial device the camera is on (tried as COM1); with --com2,\n"
    "  DEVICE2 is tried as COM2 when nothing answers on DEVICE.\n"
    "commands:\n"
    "  probe              check that the camera answers\n"
    "  list               list the pictures: names and sizes\n"
    "  thumb NAME FILE    fetch the thumbnail file of picture NAME into FILE\n"
    "  full NAME FILE     fetch the full-size picture file of NAME into FILE\n"
    "  delete NAME        delete picture NAME from the card\n"
    "NAME is 8 characters (S0000123, T0000123: the first one does not matter);\n"
    "bytes that cannot be typed are written \\xHH, as list shows them.\n"
    "Exit status: 0 done; 1 no camera, the card's catalogue not read, or the command\n"
    "failed; 2 bad arguments.\n";

// The progress line, redrawn in place on a terminal.
class ConsoleProgress : public platform::Progress {
public:
    void setRange(int, int) override {}
    void setStep(int) override {}
    void show() override {}
    void stepIt() override {}
    void setText(const char* text) override {
        if (terminal_) {
            std::fprintf(stderr, "\r%-40s", text);
        }
    }
    void hide() override {
        if (terminal_) {
            std::fprintf(stderr, "\n");
        }
    }

private:
    bool terminal_ = isatty(fileno(stderr)) != 0;
};

// No Still Image service natively: USB finds no camera.
class NoStillImage : public platform::StillImageService {
public:
    platform::StiResult createInstance(std::uint32_t, platform::StillImage** instance) override {
        *instance = nullptr;
        return platform::kStiFail;
    }
    const char16_t* deviceDescription(const void*, std::uint32_t) override { return nullptr; }
    const char16_t* deviceInternalName(const void*, std::uint32_t) override { return nullptr; }
    void localFree(void*) override {}
    int toAnsiCodePage(const char16_t*, char*, int) override { return 0; }
    platform::EventHandle createEvent() override { return 0; }
    void closeEvent(platform::EventHandle) override {}
};

// The console, counting the messages shown: a delete whose status the camera reports as
// failed still returns 1 to the link's callers, and only its message tells.
class CountingUi : public platform::ConsoleUi {
public:
    using ConsoleUi::ConsoleUi;
    int messageBox(const char* text, unsigned type) override {
        ++messages;
        return ConsoleUi::messageBox(text, type);
    }
    int messages = 0;
};

class NoCatalogue : public camlink::PictureCatalogue {
public:
    int clear() override { return 1; }
};

// Camera names may hold any byte; show the ones that cannot be printed as \xHH.
std::string printable(const char* name) {
    std::string text;
    for (std::size_t i = 0; i < camlink::kNameLength; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c >= 0x21 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    return text;
}

bool parseName(const char* text, char (&name)[camlink::kNameLength]) {
    std::size_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (n == camlink::kNameLength) {
            return false;
        }
        if (p[0] == '\\' && p[1] == 'x' && std::strlen(p) >= 4) {
            char hex[3] = {p[2], p[3], 0};
            char* end = nullptr;
            const long value = std::strtol(hex, &end, 16);
            if (end != hex + 2) {
                return false;
            }
            name[n++] = static_cast<char>(value);
            p += 3;
        } else {
            name[n++] = *p;
        }
    }
    return n == camlink::kNameLength;
}

camlink::CameraPicture* findPicture(camlink::CameraPictureList list, const char* name) {
    for (camlink::CameraPicture* p = list; p != nullptr; p = p->next) {
        if (std::memcmp(p->fullName + 1, name + 1, camlink::kNameLength - 1) == 0) {
            return p;
        }
    }
    return nullptr;
}

bool writeFile(const char* path, const std::uint8_t* bytes, std::uint32_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    const bool ok = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

int run(int argc, char** argv) {
    const char* second = nullptr;
    if (argc >= 2 && std::strcmp(argv[1], "--com2") == 0) {
        if (argc < 3) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        second = argv[2];
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = argv[2];
    const int wanted = command == "probe" || command == "list"   ? 3
                       : command == "delete"                     ? 4
                       : command == "thumb" || command == "full" ? 5
                                                                 : -1;
    if (wanted != argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    char name[camlink::kNameLength] = {};
    if (argc >= 4 && !parseName(argv[3], name)) {
        std::fprintf(stderr, "camctl: a picture name is 8 characters\n");
        return 2;
    }

    // The link tries COM1, then COM2. Without a second device COM2 leads nowhere (an empty
    // path cannot be opened), so a camera that is silent or wrong is probed once.
    platform::mapSerialPort("COM1", argv[1]);
    platform::mapSerialPort("COM2", second != nullptr ? second : "");
    CountingUi ui("camctl");
    NoStillImage noStillImage;
    NoCatalogue catalogue;
    camlink::CameraLink link(platform::systemSerialPorts(), noStillImage, ui, catalogue);
    link.connectSerial();
    if (link.linkKind != camlink::LinkSerial) {
        if (second != nullptr) {
            std::fprintf(stderr, "camctl: no camera answers on %s or %s\n", argv[1], second);
        } else {
            std::fprintf(stderr, "camctl: no camera answers on %s\n", argv[1]);
        }
        return 1;
    }
    const char* device = link.portName == "COM2" ? second : argv[1];
    if (command == "probe") {
        std::printf("camera answers on %s\n", device);
        return 0;
    }

    camlink::CameraPictureList pictures = nullptr;
    const int count = link.readCatalogueSerial(pictures);
    int result = 1;
    // A read that failed is no empty card: the link's message has been printed, and
    // nothing of a partial list is shown or acted on.
    if (link.lastCatalogueFailed()) {
        std::fprintf(stderr, "camctl: the card's catalogue could not be read\n");
    } else if (command == "list") {
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
            std::printf("%s %10u  %s %10u\n", printable(p->fullName).c_str(), p->fullSize,
                        printable(p->thumbName).c_str(), p->thumbSize);
        }
        std::printf("%d pictures\n", count);
        result = 0;
    } else if (camlink::CameraPicture* picture = findPicture(pictures, name)) {
        if (command == "delete") {
            const int shown = ui.messages;
            result = link.deleteFileSerial(picture->fullName) != 0 && ui.messages == shown ? 0 : 1;
        } else {
            const bool thumb = command == "thumb";
            const char* file = thumb ? picture->thumbName : picture->fullName;
            const std::uint32_t size = thumb ? picture->thumbSize : picture->fullSize;
            char label[camlink::kNameLength + 1] = {};
            std::memcpy(label, file, camlink::kNameLength);
            ConsoleProgress progress;
            std::uint8_t* bytes = nullptr;
            if (link.selectFileSerial(file) != 0) {
                bytes = link.readFileSerial(label, size, &progress);
            }
            if (bytes != nullptr) {
                result = writeFile(argv[4], bytes, size) ? 0 : 1;
                platform::virtualFree(bytes);
            } else {
                std::fprintf(stderr, "camctl: %s not read\n", printable(file).c_str());
            }
        }
    } else {
        std::fprintf(stderr, "camctl: no picture %s on the card\n", printable(name).c_str());
    }
    camlink::freePictures(pictures);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
