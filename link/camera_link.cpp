// Opening and closing the two links, and the raw serial primitives.
#include "link/camera_link.h"

#include "link/protocol.h"
#include "platform/memory.h"

#include <cstring>

namespace camlink {

const char kMsgNoCameraAtStart[] =
    "Can not find digital camera!\nTIP:\n(1)Please restart your computer.\n(2)Check if digital "
    "camera is powered on already.\n(3)Check if the USB cable is connected properly.\n(4)Turn "
    "off camera. Reset and plug it again.";
const char kMsgNoUsbCamera[] = "Can't find DSC connected to USB!";
const char kMsgNoSerialCamera[] = "Can't find DSC on the COM1 and COM2!";
const char kMsgCantFindCamera[] = "Can't find camera!";
const char kMsgOutOfMemory[] =
    "Virtual Memory is not enough.  \nHave any problem.  \nPlease contact agency.  ";
const char kMsgDownloadError[] = "Download Error!";
const char kCameraDescription[] = "LUMIVERA LV2700c5";

namespace {
// Room for a converted description, terminator included.
constexpr int kDescriptionBytes = 128;
} // namespace

void freePictures(CameraPictureList& list) {
    while (list != nullptr) {
        CameraPicture* next = list->next;
        platform::processHeapFree(list);
        list = next;
    }
}

CameraLink::CameraLink(platform::SerialPorts& ports, platform::StillImageService& stillImageService,
                       platform::UserInterface& ui, PictureCatalogue& catalogue)
    : ports_(ports), sti_(stillImageService), ui_(ui), catalogue_(catalogue) {}

CameraLink::~CameraLink() {
    closeSerialPort();
    releaseStillDevice();
    if (deviceList != nullptr) {
        sti_.localFree(deviceList);
        deviceList = nullptr;
    }
    freeUsbBuffer();
}

void CameraLink::releaseStillDevice() {
    if (stiDevice != nullptr) {
        stiDevice->release();
        stiDevice = nullptr;
    }
    if (stillImage != nullptr) {
        stillImage->release();
        stillImage = nullptr;
    }
}

int CameraLink::openStillDevice() {
    releaseStillDevice();

    if (!platform::stiSucceeded(sti_.createInstance(platform::kStiVersion, &stillImage)) ||
        stillImage == nullptr) {
        stillImage = nullptr;
        return 0;
    }

    // The list from an earlier connect is replaced by this one.
    if (deviceList != nullptr) {
        sti_.localFree(deviceList);
        deviceList = nullptr;
    }
    std::uint32_t count = 0;
    if (!platform::stiSucceeded(stillImage->getDeviceList(0, 0, &count, &deviceList))) {
        stillImage->release();
        stillImage = nullptr;
        return 0;
    }
    if (count == 0 || deviceList == nullptr) {
        return 0;
    }

    const char16_t* internalName = nullptr;
    for (std::uint32_t i = 0; i < count; ++i) {
        const char16_t* description = sti_.deviceDescription(deviceList, i);
        if (description == nullptr) {
            continue;
        }
        char ansi[kDescriptionBytes] = {};
        if (sti_.toAnsiCodePage(description, ansi, kDescriptionBytes) == 0) {
            continue;
        }
        ansi[kDescriptionBytes - 1] = '\0';
        if (std::strcmp(ansi, kCameraDescription) == 0) {
            internalName = sti_.deviceInternalName(deviceList, i);
            break;
        }
    }
    if (internalName == nullptr) {
        return 0;
    }

    if (!platform::stiSucceeded(
            stillImage->createDevice(internalName, platform::kStiDeviceCreateData, &stiDevice)) ||
        stiDevice == nullptr) {
        stiDevice = nullptr;
        stillImage->release();
        stillImage = nullptr;
        return 0;
    }
    return 1;
}

bool CameraLink::connectAtStart() {
    connectUsb();
    if (linkKind == LinkNone) {
        connectSerial();
    }
    if (linkKind == LinkNone) {
        ui_.messageBox(kMsgNoCameraAtStart);
        return false;
    }
    return true;
}

void CameraLink::showLinkState() {
    ui_.setButtonState(kSerialButton, linkKind == LinkSerial);
}

void CameraLink::connectUsb() {
    if (openStillDevice() != 0) {
        closeSerialPort();
        linkKind = LinkUsb;
        ui_.setButtonState(kSerialButton, false);
        return;
    }
    ui_.invalidateControl(kSerialButton, true);
    if (linkKind != LinkNone) {
        ui_.messageBox(kMsgNoUsbCamera);
    }
}

platform::PortHandle CameraLink::probeSerialPort(const char* name) {
    platform::PortHandle port = ports_.open(name);
    if (port == platform::kInvalidPort) {
        return platform::kInvalidPort;
    }

    platform::CommState state;
    ports_.getCommState(port, state);
    state.baudRate = 115200;
    state.byteSize = 8;
    state.parity = platform::kNoParity;
    state.stopBits = platform::kTwoStopBits;
    if (!ports_.setCommState(port, state)) {
        ports_.close(port);
        return platform::kInvalidPort;
    }

    std::uint8_t byte = CMD_PROBE;
    std::uint32_t done = 0;
    serialWrite(port, &byte, 1, &done, kByteTimeoutMs);
    serialRead(port, &byte, 1, &done, kByteTimeoutMs);
    if (byte == RSP_PROBE_OK) {
        return port;
    }
    ports_.close(port);
    return platform::kInvalidPort;
}

void CameraLink::connectSerial() {
    if (portHandle != platform::kInvalidPort) {
        return;
    }
    portName = "COM1";
    portHandle = probeSerialPort(portName.c_str());
    if (portHandle == platform::kInvalidPort) {
        portName = "COM2";
        portHandle = probeSerialPort(portName.c_str());
    }
    if (portHandle == platform::kInvalidPort) {
        ui_.invalidateControl(kUsbButton, true);
        if (linkKind != LinkNone) {
            ui_.messageBox(kMsgNoSerialCamera);
        }
        return;
    }
    releaseStillDevice();
    linkKind = LinkSerial;
    ui_.setButtonState(kSerialButton, true);
}

void CameraLink::closeSerialPort() {
    if (portHandle != platform::kInvalidPort) {
        ports_.close(portHandle);
        portHandle = platform::kInvalidPort;
    }
}

int CameraLink::serialWrite(platform::PortHandle port, const void* bytes, std::uint32_t count,
                            std::uint32_t* done, std::uint32_t timeoutMs) {
    platform::CommTimeouts timeouts;
    timeouts.writeTotalTimeoutMultiplier = kTimeoutPerByteMs;
    timeouts.writeTotalTimeoutConstant = timeoutMs;
    ports_.setCommTimeouts(port, timeouts);
    *done = 0;
    return ports_.write(port, bytes, count, done) ? 1 : 0;
}

void CameraLink::serialRead(platform::PortHandle port, void* bytes, std::uint32_t count,
                            std::uint32_t* done, std::uint32_t timeoutMs) {
    platform::CommTimeouts timeouts;
    timeouts.readIntervalTimeout = 0;
    timeouts.readTotalTimeoutMultiplier = kTimeoutPerByteMs;
    timeouts.readTotalTimeoutConstant = timeoutMs;
    ports_.setCommTimeouts(port, timeouts);
    *done = 0;
    if (!ports_.read(port, bytes, count, done)) {
        *done = 0;
    }
}

bool CameraLink::readByte(std::uint8_t& byte, std::uint32_t timeoutMs) {
    std::uint32_t done = 0;
    serialRead(portHandle, &byte, 1, &done, timeoutMs);
    return done == 1;
}

bool CameraLink::writeByte(std::uint8_t byte) {
    std::uint32_t done = 0;
    return serialWrite(portHandle, &byte, 1, &done, kByteTimeoutMs) != 0;
}

void CameraLink::freeUsbBuffer() {
    if (usbBuffer != nullptr) {
        platform::virtualFree(usbBuffer);
    }
    usbBuffer = nullptr;
    usbBufferSize = 0;
}

void CameraLink::outOfMemory() {
    ui_.messageBox(kMsgOutOfMemory);
    ui_.requestClose();
}

} // namespace camlink
