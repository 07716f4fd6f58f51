// termios serial ports with the semantics the camera link expects of COM ports: raw bytes,
// exclusive open, and reads and writes bounded by a total time-out of
// multiplier x bytes + constant milliseconds.
#include "platform/posix/serial_port_posix.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

static_assert(sizeof(termios) <= sizeof(CommState::native), "termios fits the native state");

speed_t speedOf(std::uint32_t baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

std::uint32_t baudOf(speed_t speed) {
    switch (speed) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

using Steady = std::chrono::steady_clock;

class PosixSerialPorts : public SerialPorts {
public:
    void map(const char* name, const char* device) {
        std::lock_guard<std::mutex> lock(mutex_);
        aliases_[name] = device;
    }

    PortHandle open(const char* name) override {
        std::string path = name;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto alias = aliases_.find(path);
            if (alias != aliases_.end()) {
                path = alias->second;
            }
        }
        int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return kInvalidPort;
        }
        // No sharing, as CreateFileA with share mode 0.
        if (isatty(fd) && ioctl(fd, TIOCEXCL) != 0) {
            ::close(fd);
            return kInvalidPort;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        timeouts_[fd] = CommTimeouts{};
        return static_cast<PortHandle>(fd);
    }

    bool getCommState(PortHandle port, CommState& state) override {
        termios tio{};
        if (tcgetattr(fdOf(port), &tio) != 0) {
            return false;
        }
        state.baudRate = baudOf(cfgetospeed(&tio));
        switch (tio.c_cflag & CSIZE) {
        case CS5:
            state.byteSize = 5;
            break;
        case CS6:
            state.byteSize = 6;
            break;
        case CS7:
            state.byteSize = 7;
            break;
        default:
            state.byteSize = 8;
            break;
        }
        state.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 1 : 2) : kNoParity;
        state.stopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : 0;
        std::memcpy(state.native, &tio, sizeof tio);
        return true;
    }

    bool setCommState(PortHandle port, const CommState& state) override {
        termios tio{};
        std::memcpy(&tio, state.native, sizeof tio);
        // Raw bytes: the protocol's values (0x11, 0x13, 0x0D...) must pass untouched.
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        switch (state.byteSize) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        case 8:
            tio.c_cflag |= CS8;
            break;
        default:
            return false;
        }
        if (state.parity == 1) {
            tio.c_cflag |= PARENB | PARODD;
        } else if (state.parity == 2) {
            tio.c_cflag |= PARENB;
        } else if (state.parity != kNoParity) {
            return false;
        }
        if (state.stopBits == kTwoStopBits) {
            tio.c_cflag |= CSTOPB;
        }
        const speed_t speed = speedOf(state.baudRate);
        if (speed == B0) {
            return false;
        }
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        return tcsetattr(fdOf(port), TCSANOW, &tio) == 0;
    }

    bool setCommTimeouts(PortHandle port, const CommTimeouts& timeouts) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = timeouts_.find(fdOf(port));
        if (found == timeouts_.end()) {
            return false;
        }
        found->second = timeouts;
        return true;
    }

    bool purge(PortHandle port, std::uint32_t flags) override {
        const bool rx = (flags & (kPurgeRxAbort | kPurgeRxClear)) != 0;
        const bool tx = (flags & (kPurgeTxAbort | kPurgeTxClear)) != 0;
        if (!rx && !tx) {
            return true;
        }
        return tcflush(fdOf(port), rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0;
    }

    bool read(PortHandle port, void* bytes, std::uint32_t count, std::uint32_t* done) override {
        const CommTimeouts t = timeoutsOf(port);
        const auto total = std::chrono::milliseconds(
            std::uint64_t(t.readTotalTimeoutMultiplier) * count + t.readTotalTimeoutConstant);
        return transfer(fdOf(port), static_cast<std::uint8_t*>(bytes), nullptr, count, done, total);
    }

    bool write(PortHandle port, const void* bytes, std::uint32_t count,
               std::uint32_t* done) override {
        const CommTimeouts t = timeoutsOf(port);
        const auto total = std::chrono::milliseconds(
            std::uint64_t(t.writeTotalTimeoutMultiplier) * count + t.writeTotalTimeoutConstant);
        return transfer(fdOf(port), nullptr, static_cast<const std::uint8_t*>(bytes), count, done,
                        total);
    }

    void close(PortHandle port) override {
        const int fd = fdOf(port);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            timeouts_.erase(fd);
        }
        ::close(fd);
    }

private:
    static int fdOf(PortHandle port) { return static_cast<int>(port); }

    CommTimeouts timeoutsOf(PortHandle port) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = timeouts_.find(fdOf(port));
        return found == timeouts_.end() ? CommTimeouts{} : found->second;
    }

    // Moves bytes until `count` have gone or the deadline passed. A total time-out of 0
    // means, as for COM ports, no time-out at all.
    static bool transfer(int fd, std::uint8_t* in, const std::uint8_t* out, std::uint32_t count,
                         std::uint32_t* done, std::chrono::milliseconds total) {
        *done = 0;
        const bool unbounded = total.count() == 0;
        const auto deadline = Steady::now() + total;
        while (*done < count) {
            int waitMs = -1;
            if (!unbounded) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
                if (left.count() <= 0) {
                    return true;
                }
                waitMs = static_cast<int>(left.count()) + 1;
            }
            pollfd p{fd, static_cast<short>(in != nullptr ? POLLIN : POLLOUT), 0};
            const int ready = poll(&p, 1, waitMs);
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (ready == 0) {
                continue; // the deadline is checked above
            }
            if ((p.revents & (POLLERR | POLLNVAL)) != 0) {
                return false;
            }
            const ssize_t moved = in != nullptr ? ::read(fd, in + *done, count - *done)
                                                : ::write(fd, out + *done, count - *done);
            if (moved < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    continue;
                }
                if (errno == EIO) {
                    // A pseudo-terminal whose other side is closed: nothing will come.
                    pollWait(deadline, unbounded);
                    return true;
                }
                return false;
            }
            if (moved == 0) {
                pollWait(deadline, unbounded);
                return true;
            }
            *done += static_cast<std::uint32_t>(moved);
        }
        return true;
    }

    // Lets the time-out run out as a COM port would when nothing can arrive.
    static void pollWait(Steady::time_point deadline, bool unbounded) {
        if (unbounded) {
            return;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() > 0) {
            poll(nullptr, 0, static_cast<int>(left.count()));
        }
    }

    std::mutex mutex_;
    std::map<std::string, std::string> aliases_;
    std::map<int, CommTimeouts> timeouts_;
};

PosixSerialPorts& ports() {
    static PosixSerialPorts instance;
    return instance;
}

} // namespace

SerialPorts& systemSerialPorts() {
    return ports();
}

void mapSerialPort(const char* name, const char* device) {
    ports().map(name, device);
}

} // namespace platform
