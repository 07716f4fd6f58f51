// The native serial port over a real pseudo-terminal: line settings, raw bytes, and the
// total time-out of reads and writes. Real time here (a pty has no virtual clock), so the
// time-outs are kept short.
#include "platform/posix/serial_port_posix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

class PosixSerial : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = ptsname(master_);
        // The master side stays raw too, so what the test writes arrives unchanged.
        termios tio{};
        tcgetattr(master_, &tio);
        cfmakeraw(&tio);
        tcsetattr(master_, TCSANOW, &tio);
        platform::mapSerialPort("COM7", slave_.c_str());
    }
    void TearDown() override { close(master_); }

    platform::PortHandle openConfigured() {
        platform::SerialPorts& ports = platform::systemSerialPorts();
        platform::PortHandle port = ports.open("COM7");
        EXPECT_NE(port, platform::kInvalidPort);
        platform::CommState state;
        EXPECT_TRUE(ports.getCommState(port, state));
        state.baudRate = 115200;
        state.byteSize = 8;
        state.parity = platform::kNoParity;
        state.stopBits = platform::kTwoStopBits;
        EXPECT_TRUE(ports.setCommState(port, state));
        return port;
    }

    int master_ = -1;
    std::string slave_;
};

TEST_F(PosixSerial, LineIs115200EightBitsNoParityTwoStopBitsRaw) {
    platform::SerialPorts& ports = platform::systemSerialPorts();
    platform::PortHandle port = openConfigured();
    termios tio{};
    ASSERT_EQ(tcgetattr(static_cast<int>(port), &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);

    platform::CommState state;
    ASSERT_TRUE(ports.getCommState(port, state));
    EXPECT_EQ(state.baudRate, 115200u);
    EXPECT_EQ(state.byteSize, 8);
    EXPECT_EQ(state.stopBits, 2);
    ports.close(port);
}

TEST_F(PosixSerial, EveryByteValuePassesBothWays) {
    platform::SerialPorts& ports = platform::systemSerialPorts();
    platform::PortHandle port = openConfigured();
    platform::CommTimeouts t;
    t.readTotalTimeoutMultiplier = 10;
    t.readTotalTimeoutConstant = 2000;
    t.writeTotalTimeoutMultiplier = 10;
    t.writeTotalTimeoutConstant = 2000;
    ASSERT_TRUE(ports.setCommTimeouts(port, t));

    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    std::uint32_t done = 0;
    ASSERT_TRUE(ports.write(port, all.data(), 256, &done));
    EXPECT_EQ(done, 256u);
    std::vector<std::uint8_t> got(256);
    std::size_t have = 0;
    while (have < 256) {
        ssize_t n = read(master_, got.data() + have, 256 - have);
        ASSERT_GT(n, 0);
        have += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(got, all);

    ASSERT_EQ(write(master_, all.data(), 256), 256);
    std::vector<std::uint8_t> back(256);
    ASSERT_TRUE(ports.read(port, back.data(), 256, &done));
    EXPECT_EQ(done, 256u);
    EXPECT_EQ(back, all);
    ports.close(port);
}

TEST_F(PosixSerial, ReadReturnsWhatCameWhenTheTotalTimeOutRunsOut) {
    platform::SerialPorts& ports = platform::systemSerialPorts();
    platform::PortHandle port = openConfigured();
    platform::CommTimeouts t;
    t.readTotalTimeoutMultiplier = 5;
    t.readTotalTimeoutConstant = 100; // 4 bytes: 120 ms in all
    ASSERT_TRUE(ports.setCommTimeouts(port, t));

    const std::uint8_t two[2] = {0xF2, 0x13};
    ASSERT_EQ(write(master_, two, 2), 2);
    std::uint8_t buffer[4] = {};
    std::uint32_t done = 0;
    const auto start = Steady::now();
    ASSERT_TRUE(ports.read(port, buffer, 4, &done));
    const auto elapsed = Steady::now() - start;
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(buffer[0], 0xF2);
    EXPECT_EQ(buffer[1], 0x13);
    EXPECT_GE(elapsed, std::chrono::milliseconds(115));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
    ports.close(port);
}

TEST_F(PosixSerial, ReadEndsAsSoonAsAllBytesArrived) {
    platform::SerialPorts& ports = platform::systemSerialPorts();
    platform::PortHandle port = openConfigured();
    platform::CommTimeouts t;
    t.readTotalTimeoutMultiplier = 10;
    t.readTotalTimeoutConstant = 5000;
    ASSERT_TRUE(ports.setCommTimeouts(port, t));
    std::thread peer([this] {
        const std::uint8_t a[1] = {0xD1};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        (void)!write(master_, a, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        (void)!write(master_, a, 1);
    });
    std::uint8_t buffer[2] = {};
    std::uint32_t done = 0;
    const auto start = Steady::now();
    ASSERT_TRUE(ports.read(port, buffer, 2, &done));
    peer.join();
    EXPECT_EQ(done, 2u);
    EXPECT_LT(Steady::now() - start, std::chrono::milliseconds(2000));
    ports.close(port);
}

TEST_F(PosixSerial, PurgeDropsWhatWaits) {
    platform::SerialPorts& ports = platform::systemSerialPorts();
    platform::PortHandle port = openConfigured();
    const std::uint8_t junk[3] = {1, 2, 3};
    ASSERT_EQ(write(master_, junk, 3), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(ports.purge(port, platform::kPurgeAll));
    platform::CommTimeouts t;
    t.readTotalTimeoutConstant = 30;
    ports.setCommTimeouts(port, t);
    std::uint8_t byte = 0;
    std::uint32_t done = 9;
    ASSERT_TRUE(ports.read(port, &byte, 1, &done));
    EXPECT_EQ(done, 0u);
    ports.close(port);
}

TEST_F(PosixSerial, MissingDeviceDoesNotOpen) {
    platform::mapSerialPort("COM8", "/nonexistent/tty");
    EXPECT_EQ(platform::systemSerialPorts().open("COM8"), platform::kInvalidPort);
}

} // namespace
