// The camera link: opening USB (Still Image) or serial, the camera's command protocol over
// either, and whole-file transfer. Owned by the browser dialog, used on its one thread.
#pragma once

#include "link/picture.h"
#include "platform/serial_port.h"
#include "platform/still_image.h"
#include "platform/ui.h"

#include <cstdint>
#include <string>

namespace camlink {

enum LinkKind : std::uint8_t { LinkNone = 0, LinkUsb = 1, LinkSerial = 2 };

// Control identifiers of the two link buttons.
constexpr int kUsbButton = 1011;
constexpr int kSerialButton = 1012;

class CameraLink {
public:
    CameraLink(platform::SerialPorts& ports, platform::StillImageService& stillImageService,
               platform::UserInterface& ui, PictureCatalogue& catalogue);
    // Closes the port, releases the Still Image objects, gives back the device list and the
    // last USB buffer.
    ~CameraLink();
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // Start-up: USB, else serial; with neither, the one combined message. True when a link
    // is open (the browser then reloads).
    bool connectAtStart();
    // What the browser does whenever it paints: the serial-link button shows pushed exactly
    // while the serial link is in use.
    void showLinkState();

    // Transport.
    void connectUsb();
    void connectSerial();
    int openStillDevice();
    platform::PortHandle probeSerialPort(const char* name);
    void closeSerialPort();
    void releaseStillDevice();
    int serialWrite(platform::PortHandle port, const void* bytes, std::uint32_t count,
                    std::uint32_t* done, std::uint32_t timeoutMs);
    void serialRead(platform::PortHandle port, void* bytes, std::uint32_t count,
                    std::uint32_t* done, std::uint32_t timeoutMs);

    // Command protocol. Names are 8 bytes, not terminated.
    int readCatalogueSerial(CameraPictureList& list);
    int readCatalogueUsb(CameraPictureList& list);
    // Whether the last catalogue read, on either link, failed rather than found an empty
    // card. Both return 0, as the browser expects; a tool that must tell them apart asks.
    bool lastCatalogueFailed() const { return catalogueFailed_; }
    int beginUsbTransaction();
    void endUsbTransaction();
    int selectFileSerial(const char* name);
    int deleteFileSerial(const char* name);
    int deleteFileUsb(const char* name);

    // File transfer. The serial buffer belongs to the caller (platform::virtualFree); the
    // USB buffer is `usbBuffer`, valid until the next USB read.
    std::uint8_t* readFileSerial(const char* label, std::uint32_t size,
                                 platform::Progress* progress);
    std::uint8_t* readFileUsb(const char* name, std::uint32_t size, platform::Progress* progress);
    // One picture file over the link in use (select and read on serial). `callerOwns` tells
    // whether the buffer is the caller's to give back with platform::virtualFree (serial)
    // or `usbBuffer` (USB). Null on failure and with no link.
    std::uint8_t* fetchFile(const char* name, std::uint32_t size, platform::Progress* progress,
                            bool* callerOwns);

    // Link state, as the browser reads it.
    std::uint8_t* usbBuffer = nullptr;
    std::uint32_t usbBufferSize = 0;
    std::uint8_t linkKind = LinkNone;
    platform::StillImage* stillImage = nullptr;
    platform::StiDevice* stiDevice = nullptr;
    void* deviceList = nullptr; // STI_DEVICE_INFORMATIONW array of the service
    platform::PortHandle portHandle = platform::kInvalidPort;
    std::string portName;

private:
    bool readByte(std::uint8_t& byte, std::uint32_t timeoutMs);
    bool writeByte(std::uint8_t byte);
    void freeUsbBuffer();
    void outOfMemory();

    platform::SerialPorts& ports_;
    platform::StillImageService& sti_;
    platform::UserInterface& ui_;
    PictureCatalogue& catalogue_;
    platform::EventHandle subscribeEvent_ = 0;
    bool catalogueFailed_ = false;
};

// Texts shown to the user.
extern const char kMsgNoCameraAtStart[];
extern const char kMsgNoUsbCamera[];
extern const char kMsgNoSerialCamera[];
extern const char kMsgCantFindCamera[];
extern const char kMsgOutOfMemory[];
extern const char kMsgDownloadError[];

// The description the camera's Still Image device carries.
extern const char kCameraDescription[];

} // namespace camlink
