// Serial-port seam: the Win32 communications calls the camera link makes, one for one.
// On Windows they are CreateFileA, GetCommState/SetCommState, SetCommTimeouts, PurgeComm,
// ReadFile/WriteFile and CloseHandle on a COM port; natively a termios implementation with
// the same total time-out semantics; in tests a port on virtual time.
#pragma once

#include <cstdint>

namespace platform {

// A port handle as the system keeps it: on Windows the HANDLE value itself.
using PortHandle = std::uintptr_t;
constexpr PortHandle kInvalidPort = ~PortHandle(0); // INVALID_HANDLE_VALUE

// The fields of DCB that the link sets. Every other field of the port's state travels
// untouched in `native` from getCommState to setCommState.
struct CommState {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;   // NOPARITY 0
    std::uint8_t stopBits = 0; // ONESTOPBIT 0, TWOSTOPBITS 2
    alignas(8) unsigned char native[64] = {};
};

constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kTwoStopBits = 2;

// COMMTIMEOUTS, field for field.
struct CommTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 0;
    std::uint32_t writeTotalTimeoutMultiplier = 0;
    std::uint32_t writeTotalTimeoutConstant = 0;
};

// PurgeComm flags.
constexpr std::uint32_t kPurgeTxAbort = 0x1;
constexpr std::uint32_t kPurgeRxAbort = 0x2;
constexpr std::uint32_t kPurgeTxClear = 0x4;
constexpr std::uint32_t kPurgeRxClear = 0x8;
constexpr std::uint32_t kPurgeAll = 0x0F;

class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // CreateFileA(name, GENERIC_READ | GENERIC_WRITE, no sharing, no security, OPEN_EXISTING,
    // ordinary synchronous I/O). kInvalidPort on failure.
    virtual PortHandle open(const char* name) = 0;
    virtual bool getCommState(PortHandle port, CommState& state) = 0;
    virtual bool setCommState(PortHandle port, const CommState& state) = 0;
    virtual bool setCommTimeouts(PortHandle port, const CommTimeouts& timeouts) = 0;
    virtual bool purge(PortHandle port, std::uint32_t flags) = 0;
    // Blocking transfers bounded by the time-outs set last: they return when `count` bytes
    // have moved or the total time-out ran out, with `done` telling how many moved.
    virtual bool read(PortHandle port, void* bytes, std::uint32_t count, std::uint32_t* done) = 0;
    virtual bool write(PortHandle port, const void* bytes, std::uint32_t count,
                       std::uint32_t* done) = 0;
    virtual void close(PortHandle port) = 0;
};

// The machine's serial ports (Win32 COM ports on Windows; termios devices natively, where
// a port name may be mapped to a device path, see serial_port_posix.h).
SerialPorts& systemSerialPorts();

} // namespace platform
