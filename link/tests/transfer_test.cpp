// Whole-file transfer: serial blocks with their retry rule and progress, USB chunks.
#include "link/tests/fixture.h"
#include "platform/memory.h"

#include <gmock/gmock.h>

using namespace linktest;
using ::testing::ElementsAre;

namespace {

// Allocation failure can be injected only into the portable memory seam.
#ifdef _WIN32
#define SKIP_WITHOUT_ALLOCATION_FAULTS() GTEST_SKIP() << "real VirtualAlloc"
#else
#define SKIP_WITHOUT_ALLOCATION_FAULTS() (void)0
#endif

class SerialTransfer : public LinkTest {
protected:
    // Selects and reads the camera's file as the browser's fetch does.
    std::uint8_t* fetch(std::uint32_t size, platform::Progress* progress = nullptr) {
        if (link.selectFileSerial("S0000001") == 0) {
            return nullptr;
        }
        camera.commands.clear();
        return link.readFileSerial("S0000001", size, progress);
    }
    std::size_t count(std::uint8_t command) const {
        return static_cast<std::size_t>(
            std::count(camera.commands.begin(), camera.commands.end(), command));
    }
};

TEST_F(SerialTransfer, WholeBlocksAndOneMore) {
    for (std::uint32_t size : {3u * 512, 3u * 512 + 1}) {
        SCOPED_TRACE(size);
        openSerial();
        camera.file = pattern(size);
        std::uint8_t* buffer = fetch(size);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(Bytes(buffer, buffer + size), camera.file);
        EXPECT_EQ(count(camlink::CMD_NEXT_BLOCK), (size + 511) / 512);
        EXPECT_EQ(count(camlink::CMD_REPEAT_BLOCK), 0u);
        platform::virtualFree(buffer);
        link.closeSerialPort();
    }
}

TEST_F(SerialTransfer, ProgressOfThreeBlocks) {
    openSerial();
    camera.file = pattern(1500);
    RecordingProgress progress;
    std::uint8_t* buffer = fetch(1500, &progress);
    ASSERT_NE(buffer, nullptr);
    EXPECT_THAT(progress.calls, ElementsAre("range 1 3", "step 1", "show", "hide"));
    EXPECT_THAT(progress.texts,
                ElementsAre("0% of S0000001", "33% of S0000001", "66% of S0000001"));
    EXPECT_EQ(progress.steps, 3);
    platform::virtualFree(buffer);
}

TEST_F(SerialTransfer, BadTrailerOnTheLastBlockReadsItAgain) {
    openSerial();
    camera.file = pattern(1024);
    camera.blockReply = [](std::uint32_t block, int sending) {
        BlockReply reply;
        if (block == 1 && sending == 1) {
            reply.trailerByte = 0x00;
        }
        return reply;
    };
    std::uint8_t* buffer = fetch(1024);
    ASSERT_NE(buffer, nullptr);
    EXPECT_THAT(camera.commands, ElementsAre(0xC4, 0xC4, 0xC5));
    EXPECT_THAT(camera.blocksSent, ElementsAre(0, 1, 1));
    EXPECT_EQ(ports.calls.back(), "purge 15");
    EXPECT_EQ(Bytes(buffer, buffer + 1024), camera.file);
    platform::virtualFree(buffer);
}

TEST_F(SerialTransfer, NineFailuresThenAGoodBlockGoesOn) {
    openSerial();
    camera.file = pattern(3 * 512);
    camera.blockReply = [](std::uint32_t block, int sending) {
        BlockReply reply;
        if (block == 1 && sending <= 9) {
            switch (sending % 3) {
            case 0:
                reply.ack = false;
                break;
            case 1:
                reply.dataBytes = 100;
                reply.trailer = false;
                break;
            default:
                reply.status = camlink::ST_NO_CARD;
                break;
            }
        }
        if (block == 2 && sending <= 9) {
            reply.dataBytes = 511;
            reply.trailer = false;
        }
        return reply;
    };
    std::uint8_t* buffer = fetch(3 * 512);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(Bytes(buffer, buffer + 3 * 512), camera.file);
    EXPECT_EQ(count(camlink::CMD_REPEAT_BLOCK), 18u);
    EXPECT_EQ(ui.messages.size(), 3u); // the three no-card replies
    EXPECT_EQ(ui.messages[0], "Can't find compact flash card!");
    platform::virtualFree(buffer);
}

TEST_F(SerialTransfer, TenFailuresInARowEndTheRead) {
    openSerial();
    camera.file = pattern(2048);
    camera.blockReply = [](std::uint32_t block, int) {
        BlockReply reply;
        reply.ack = block != 2;
        return reply;
    };
    RecordingProgress progress;
    EXPECT_EQ(fetch(2048, &progress), nullptr);
    EXPECT_EQ(count(camlink::CMD_NEXT_BLOCK), 3u);
    EXPECT_EQ(count(camlink::CMD_REPEAT_BLOCK), 9u);
    EXPECT_THAT(ui.messages, ElementsAre("Download Error!"));
    EXPECT_EQ(progress.calls.back(), "hide");
}

TEST_F(SerialTransfer, ACameraThatNeverSendsAGoodTrailerCannotHoldTheRead) {
    openSerial();
    camera.file = pattern(512);
    camera.blockReply = [](std::uint32_t, int) {
        BlockReply reply;
        reply.trailerByte = camlink::ST_MORE;
        return reply;
    };
    EXPECT_EQ(fetch(512), nullptr);
    EXPECT_EQ(camera.commands.size(), 10u);
    EXPECT_THAT(ui.messages, ElementsAre("Download Error!"));
}

TEST_F(SerialTransfer, ThumbnailSizedReadIsFiftySixBlocks) {
    openSerial();
    camera.file = pattern(0x7000);
    std::uint8_t* buffer = fetch(0x7000);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(camera.commands.size(), 56u);
    EXPECT_EQ(Bytes(buffer, buffer + 0x7000), camera.file);
    platform::virtualFree(buffer);
}

TEST_F(SerialTransfer, BufferThatCannotBeCommittedClosesTheBrowser) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    openSerial();
    platform::memcheck::failAllocationsAfter(0);
    std::uint8_t* buffer = link.readFileSerial("S0000001", 1000, nullptr);
    platform::memcheck::stopFailingAllocations();
    EXPECT_EQ(buffer, nullptr);
    EXPECT_THAT(ui.events,
                ElementsAre("message Virtual Memory is not enough.  \nHave any problem.  \nPlease "
                            "contact agency.  ",
                            "requestClose"));
    EXPECT_TRUE(camera.commands.empty());
}

TEST_F(SerialTransfer, SizeBeyondAnyCardIsRefused) {
    openSerial();
    EXPECT_EQ(link.readFileSerial("S0000001", 0xFFFFFF00u, nullptr), nullptr);
    EXPECT_THAT(ui.messages, ElementsAre("Download Error!"));
    EXPECT_TRUE(camera.commands.empty());
}

TEST_F(SerialTransfer, SilentBlockWaitsItsFullTimeOut) {
    openSerial();
    camera.file = pattern(512);
    camera.blockReply = [](std::uint32_t, int sending) {
        BlockReply reply;
        if (sending == 1) {
            reply.dataBytes = 0;
            reply.trailer = false;
        }
        return reply;
    };
    const std::uint32_t start = clock.nowMs();
    std::uint8_t* buffer = fetch(512);
    ASSERT_NE(buffer, nullptr);
    // The first sending's data read waits 10 ms a byte plus the 2000 ms constant.
    EXPECT_EQ(clock.nowMs() - start, 512u * 10 + 2000);
    platform::virtualFree(buffer);
}

class UsbTransfer : public LinkTest {
protected:
    void SetUp() override {
        openUsb();
        usb.onEscape = [this](std::uint32_t code, const Bytes& in, std::uint8_t* out,
                              std::uint32_t outSize, std::uint32_t* delivered) {
            if (code == camlink::CAM_ESC_RECOVER) {
                return true;
            }
            if (code != camlink::CAM_ESC_READ_FILE) {
                return false;
            }
            const std::uint32_t offset = camlink::readLe32(in.data() + 4);
            std::uint32_t length = camlink::readLe32(in.data() + 8);
            ++calls;
            if (failCalls.count(calls) != 0) {
                return false;
            }
            if (shortCalls.count(calls) != 0) {
                length = shortCalls[calls];
            }
            if (overLongCalls.count(calls) != 0) {
                *delivered = length + 1;
                return true;
            }
            for (std::uint32_t i = 0; i < length && i < outSize; ++i) {
                out[i] = offset + i < file.size() ? file[offset + i] : 0;
            }
            *delivered = length;
            return true;
        };
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads() const {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> all;
        for (const auto& r : usb.requests) {
            if (r.first == camlink::CAM_ESC_READ_FILE) {
                all.emplace_back(camlink::readLe32(r.second.data() + 4),
                                 camlink::readLe32(r.second.data() + 8));
            }
        }
        return all;
    }
    std::size_t recovers() const {
        return static_cast<std::size_t>(
            std::count_if(usb.requests.begin(), usb.requests.end(), [](const auto& r) {
                return r.first == camlink::CAM_ESC_RECOVER && r.second == Bytes({1, 0, 0, 0});
            }));
    }

    Bytes file;
    int calls = 0;
    std::set<int> failCalls;
    std::map<int, std::uint32_t> shortCalls;
    std::set<int> overLongCalls;
};

TEST_F(UsbTransfer, ChunksOf4096AndTheRest) {
    const std::uint32_t size = 3 * 4096 + 100;
    file = pattern(size);
    RecordingProgress progress;
    std::uint8_t* buffer = link.readFileUsb("S0000042", size, &progress);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer, link.usbBuffer);
    EXPECT_EQ(link.usbBufferSize, size);
    EXPECT_EQ(Bytes(buffer, buffer + size), file);
    EXPECT_THAT(reads(), ElementsAre(std::make_pair(0u, 4096u), std::make_pair(4096u, 4096u),
                                     std::make_pair(8192u, 4096u), std::make_pair(12288u, 100u)));
    EXPECT_THAT(usb.outSizes, ElementsAre(size, size - 4096, size - 8192, size - 12288));
    const std::uint8_t first[24] = {0,   0,   0,   0,   0,   0,   0,   0,   0,   0x10, 0,   0,
                                    'S', '0', '0', '0', '0', '0', '4', '2', 'J', 'P',  'G', 0};
    EXPECT_EQ(usb.requests[0].second, Bytes(first, first + 24));
    EXPECT_THAT(progress.calls, ElementsAre("range 1 4", "step 1", "show", "hide"));
    EXPECT_THAT(progress.texts, ElementsAre("S0000042"));
    EXPECT_EQ(progress.steps, 4);
    EXPECT_EQ(sti.log.front(), "LockDevice 2000");
    EXPECT_EQ(sti.log[sti.log.size() - 2], "UnLockDevice");
    EXPECT_EQ(recovers(), 0u);
}

TEST_F(UsbTransfer, ThumbnailIsSevenChunks) {
    file = pattern(0x7000);
    ASSERT_NE(link.readFileUsb("T0000001", 0x7000, nullptr), nullptr);
    EXPECT_EQ(reads().size(), 7u);
}

TEST_F(UsbTransfer, ShortChunkReportedGoodIsTakenAsDelivered) {
    file = pattern(3 * 4096);
    shortCalls[2] = 1000;
    std::uint8_t* buffer = link.readFileUsb("S0000001", 3 * 4096, nullptr);
    ASSERT_NE(buffer, nullptr);
    EXPECT_THAT(reads(), ElementsAre(std::make_pair(0u, 4096u), std::make_pair(4096u, 4096u),
                                     std::make_pair(5096u, 4096u)));
    EXPECT_EQ(recovers(), 1u);
    // What came lands where it was asked for; the end of the buffer stays zero.
    EXPECT_EQ(Bytes(buffer, buffer + 9192), Bytes(file.begin(), file.begin() + 9192));
    EXPECT_EQ(Bytes(buffer + 9192, buffer + 3 * 4096), Bytes(3 * 4096 - 9192, 0));
}

TEST_F(UsbTransfer, TwoFailuresThenSuccessAndThreeFailuresEnd) {
    file = pattern(8192);
    failCalls = {1, 2};
    ASSERT_NE(link.readFileUsb("S0000001", 8192, nullptr), nullptr);
    EXPECT_EQ(recovers(), 2u);

    calls = 0;
    failCalls = {2, 3, 4};
    usb.requests.clear();
    RecordingProgress progress;
    EXPECT_EQ(link.readFileUsb("S0000001", 8192, &progress), nullptr);
    EXPECT_EQ(link.usbBuffer, nullptr);
    EXPECT_EQ(link.usbBufferSize, 0u);
    EXPECT_EQ(reads().size(), 4u);
    EXPECT_EQ(recovers(), 3u);
    EXPECT_EQ(sti.log[sti.log.size() - 2], "UnLockDevice");
    EXPECT_EQ(progress.calls.back(), "hide");
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(UsbTransfer, DeliveryLongerThanAskedIsAFailedAttempt) {
    file = pattern(4096 + 10);
    overLongCalls = {2, 3, 4};
    EXPECT_EQ(link.readFileUsb("S0000001", 4096 + 10, nullptr), nullptr);
    EXPECT_EQ(reads().size(), 4u);

    calls = 0;
    overLongCalls = {1};
    usb.requests.clear();
    ASSERT_NE(link.readFileUsb("S0000001", 4096 + 10, nullptr), nullptr);
    EXPECT_THAT(reads(), ElementsAre(std::make_pair(0u, 4096u), std::make_pair(0u, 4096u),
                                     std::make_pair(4096u, 10u)));
}

TEST_F(UsbTransfer, EachReadReplacesTheLastBuffer) {
    file = pattern(5000);
    ASSERT_NE(link.readFileUsb("S0000001", 5000, nullptr), nullptr);
    ASSERT_NE(link.readFileUsb("S0000001", 300, nullptr), nullptr);
    EXPECT_EQ(link.usbBufferSize, 300u);
    EXPECT_EQ(Bytes(link.usbBuffer, link.usbBuffer + 300), Bytes(file.begin(), file.begin() + 300));
}

TEST_F(UsbTransfer, BufferThatCannotBeCommittedClosesTheBrowser) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    file = pattern(5000);
    ASSERT_NE(link.readFileUsb("S0000001", 5000, nullptr), nullptr);
    sti.log.clear();
    usb.requests.clear();
    platform::memcheck::failAllocationsAfter(0);
    std::uint8_t* buffer = link.readFileUsb("S0000001", 5000, nullptr);
    platform::memcheck::stopFailingAllocations();
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(link.usbBuffer, nullptr);
    EXPECT_EQ(ui.closeRequests, 1);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(reads().empty());
    EXPECT_EQ(sti.log[sti.log.size() - 2], "UnLockDevice");
}

TEST_F(UsbTransfer, SizeBeyondAnyCardIsRefused) {
    EXPECT_EQ(link.readFileUsb("S0000001", camlink::kMaxFileSize + 1, nullptr), nullptr);
    EXPECT_TRUE(sti.log.empty());
}

} // namespace
