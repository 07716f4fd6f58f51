// Native serial ports: termios devices, with the Win32 port names mapped to device paths.
#pragma once

#include "platform/serial_port.h"

namespace platform {

// Makes open("COM1") open `device` (a USB-serial adapter, a pseudo-terminal). Names that
// are not mapped are opened as paths.
void mapSerialPort(const char* name, const char* device);

} // namespace platform
