// COM ports through the Win32 communications calls, one call for each seam operation.
#include "platform/serial_port.h"

#include <windows.h>

#include <cstring>

namespace platform {
namespace {

static_assert(sizeof(DCB) <= sizeof(CommState::native), "the whole DCB travels in the state");

HANDLE handleOf(PortHandle port) {
    return reinterpret_cast<HANDLE>(port);
}

class Win32SerialPorts : public SerialPorts {
public:
    PortHandle open(const char* name) override {
        HANDLE port =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<PortHandle>(port);
    }

    bool getCommState(PortHandle port, CommState& state) override {
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handleOf(port), &dcb)) {
            return false;
        }
        state.baudRate = dcb.BaudRate;
        state.byteSize = dcb.ByteSize;
        state.parity = dcb.Parity;
        state.stopBits = dcb.StopBits;
        std::memcpy(state.native, &dcb, sizeof dcb);
        return true;
    }

    bool setCommState(PortHandle port, const CommState& state) override {
        // Everything but the four line fields stays as GetCommState gave it.
        DCB dcb;
        std::memcpy(&dcb, state.native, sizeof dcb);
        dcb.BaudRate = state.baudRate;
        dcb.ByteSize = state.byteSize;
        dcb.Parity = state.parity;
        dcb.StopBits = state.stopBits;
        return SetCommState(handleOf(port), &dcb) != FALSE;
    }

    bool setCommTimeouts(PortHandle port, const CommTimeouts& t) override {
        COMMTIMEOUTS timeouts;
        timeouts.ReadIntervalTimeout = t.readIntervalTimeout;
        timeouts.ReadTotalTimeoutMultiplier = t.readTotalTimeoutMultiplier;
        timeouts.ReadTotalTimeoutConstant = t.readTotalTimeoutConstant;
        timeouts.WriteTotalTimeoutMultiplier = t.writeTotalTimeoutMultiplier;
        timeouts.WriteTotalTimeoutConstant = t.writeTotalTimeoutConstant;
        return SetCommTimeouts(handleOf(port), &timeouts) != FALSE;
    }

    bool purge(PortHandle port, std::uint32_t flags) override {
        return PurgeComm(handleOf(port), flags) != FALSE;
    }

    bool read(PortHandle port, void* bytes, std::uint32_t count, std::uint32_t* done) override {
        DWORD moved = 0;
        const BOOL ok = ReadFile(handleOf(port), bytes, count, &moved, nullptr);
        *done = moved;
        return ok != FALSE;
    }

    bool write(PortHandle port, const void* bytes, std::uint32_t count,
               std::uint32_t* done) override {
        DWORD moved = 0;
        const BOOL ok = WriteFile(handleOf(port), bytes, count, &moved, nullptr);
        *done = moved;
        return ok != FALSE;
    }

    void close(PortHandle port) override { CloseHandle(handleOf(port)); }
};

static_assert((PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) == kPurgeAll,
              "purge flags");
static_assert(NOPARITY == kNoParity && TWOSTOPBITS == kTwoStopBits, "line constants");

} // namespace

SerialPorts& systemSerialPorts() {
    static Win32SerialPorts ports;
    return ports;
}

} // namespace platform
