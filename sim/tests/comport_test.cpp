// camsim seen from Windows: COM1 mapped by Wine to camsim's pseudo-terminal, spoken to with
// the plain Win32 serial calls. Run by camsim_wine_test.sh, which starts camsim with
// --bad-trailer=10 on a 60-picture card and says where that card is (LV_SIM_CARD).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace {

std::string cardPath(const std::string& file) {
    const char* card = std::getenv("LV_SIM_CARD");
    return std::string(card ? card : ".") + "\\" + file;
}

Bytes cardFile(const std::string& file) {
    std::ifstream in(cardPath(file), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        port = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << "COM1 is not mapped to camsim";
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = TWOSTOPBITS;
        ASSERT_TRUE(SetCommState(port, &dcb));
        PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    void TearDown() override {
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
    }

    void write(const Bytes& bytes) {
        COMMTIMEOUTS t{};
        t.WriteTotalTimeoutMultiplier = 10;
        t.WriteTotalTimeoutConstant = 500;
        SetCommTimeouts(port, &t);
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(port, bytes.data(), DWORD(bytes.size()), &done, nullptr));
        ASSERT_EQ(done, bytes.size());
    }
    Bytes read(DWORD count, DWORD timeoutMs = 500) {
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutMultiplier = 10;
        t.ReadTotalTimeoutConstant = timeoutMs;
        SetCommTimeouts(port, &t);
        Bytes bytes(count);
        DWORD done = 0;
        if (!ReadFile(port, bytes.data(), count, &done, nullptr))
            done = 0;
        bytes.resize(done);
        return bytes;
    }
    bool select(const std::string& name) {
        write({0xC2});
        if (read(1).size() != 1)
            return false;
        Bytes bytes(name.begin(), name.end());
        bytes.insert(bytes.end(), {'J', 'P', 'G', ' '});
        write(bytes);
        return read(1).size() == 1;
    }

    HANDLE port = INVALID_HANDLE_VALUE;
};

} // namespace

TEST_F(ComPort, ProbeAndSixtyPicturesInThreeGroups) {
    write({0xB1});
    EXPECT_EQ(read(1), Bytes{0xD1});
    std::vector<Bytes> entries;
    std::vector<int> trailers;
    for (int group = 0; group < 3; ++group) {
        write({0xC1});
        const Bytes head = read(3);
        ASSERT_EQ(head.size(), 3u);
        EXPECT_EQ(head[1], 0xF2);
        for (int i = 0; i < head[2]; ++i)
            entries.push_back(read(20));
        trailers.push_back(read(1).at(0));
    }
    EXPECT_EQ(trailers, (std::vector<int>{0xF3, 0xF3, 0xF4}));
    ASSERT_EQ(entries.size(), 60u);
    EXPECT_EQ(std::string(entries[59].begin(), entries[59].begin() + 8), "S0000060");
    EXPECT_EQ(std::string(entries[3].begin(), entries[3].begin() + 8), "V0000004");
    const Bytes full = cardFile("S0000060.JPG");
    EXPECT_EQ(entries[59][16] | entries[59][17] << 8, int(full.size()));
}

TEST_F(ComPort, ThumbnailInFiftySixBlocksWithARepeatAfterTheBadTrailer) {
    ASSERT_TRUE(select("T0000005"));
    Bytes file;
    int repeats = 0;
    std::uint8_t command = 0xC4;
    while (file.size() < 0x7000) {
        write({command});
        const Bytes ack = read(1), status = read(1), data = read(512, 2000), trailer = read(1);
        ASSERT_EQ(status, Bytes{0xF2});
        ASSERT_EQ(data.size(), 512u);
        if (trailer == Bytes{0xF4}) {
            file.insert(file.end(), data.begin(), data.end());
            command = 0xC4;
        } else {
            EXPECT_EQ(file.size(), 10u * 512); // camsim runs with --bad-trailer=10
            PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
            command = 0xC5;
            ++repeats;
        }
    }
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(file, cardFile("T0000005.JPG"));
}

TEST_F(ComPort, DeleteRemovesThePicturesFiles) {
    ASSERT_TRUE(select("S0000007"));
    write({0xC3});
    EXPECT_EQ(read(2).at(1), 0xF2);
    EXPECT_EQ(GetFileAttributesA(cardPath("S0000007.JPG").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesA(cardPath("T0000007.JPG").c_str()), INVALID_FILE_ATTRIBUTES);
}
