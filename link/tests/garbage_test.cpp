// A camera that answers with noise: whatever it sends, the link stays inside its buffers
// (the sanitizers watch), allocates within bounds and comes to an end.
#include "link/tests/fixture.h"
#include "platform/memory.h"

#include <algorithm>
#include <random>

using namespace linktest;

namespace {

class Noise : public LinkTest {
protected:
    // Answers every write after the probe with noise, or with a reply of the right shape
    // spoilt here and there.
    void noisySerial(std::uint32_t seed) {
        rng.seed(seed);
        peer = ScriptedPeer(); // nothing left over from the seed before
        peer.onBytes = [this](ScriptedPeer& self, const Bytes& bytes, std::uint32_t at) {
            if (bytes == Bytes{camlink::CMD_PROBE}) {
                self.send({camlink::RSP_PROBE_OK}, at);
                return;
            }
            Bytes reply = rng() % 2 == 0 ? noise(rng() % 601) : spoilt(bytes.back());
            self.send(reply, at + rng() % 3);
        };
        ports.attach("COM1", &peer);
    }

    Bytes noise(std::size_t n) {
        static const std::uint8_t likely[] = {0x06, 0xD1, 0xF2, 0xF3, 0xF4,
                                              0x19, 0x00, 0xFF, 0xE1, 0x01};
        Bytes bytes(n);
        for (auto& b : bytes) {
            b = rng() % 3 == 0 ? likely[rng() % sizeof likely] : static_cast<std::uint8_t>(rng());
        }
        return bytes;
    }
    // A reply of the right shape for the command, with a length, a count or a trailer
    // now and then wrong.
    Bytes spoilt(std::uint8_t command) {
        Bytes reply = {0x06};
        if (command == camlink::CMD_CATALOGUE) {
            reply.push_back(rng() % 8 == 0 ? camlink::ST_NO_CARD : camlink::ST_DATA);
            const std::uint8_t count = static_cast<std::uint8_t>(rng() % 28);
            reply.push_back(count);
            std::size_t size = count * 20u;
            if (rng() % 4 == 0) {
                size -= std::min<std::size_t>(size, rng() % 30);
            }
            Bytes entries = noise(size);
            reply.insert(reply.end(), entries.begin(), entries.end());
            reply.push_back(rng() % 3 == 0 ? 0x00 : camlink::ST_MORE);
        } else if (command == camlink::CMD_NEXT_BLOCK || command == camlink::CMD_REPEAT_BLOCK) {
            reply.push_back(rng() % 8 == 0 ? camlink::ST_CARD_ACCESS_FAILED : camlink::ST_DATA);
            Bytes data = noise(rng() % 4 == 0 ? rng() % 513 : 512);
            reply.insert(reply.end(), data.begin(), data.end());
            reply.push_back(rng() % 4 == 0 ? 0x15 : camlink::ST_BLOCK_OK);
        } else if (rng() % 2 == 0) {
            reply.push_back(static_cast<std::uint8_t>(rng()));
        }
        return reply;
    }

    std::mt19937 rng;
    ScriptedPeer peer;
};

TEST_F(Noise, SerialOperationsEndWhateverComes) {
    int catalogues = 0;
    int files = 0;
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        SCOPED_TRACE(seed);
        noisySerial(seed);
        link.closeSerialPort();
        link.portHandle = link.probeSerialPort("COM1");
        ASSERT_NE(link.portHandle, platform::kInvalidPort);
        catalogues += link.readCatalogueSerial(pictures) > 0 ? 1 : 0;
        for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
            ASSERT_EQ(p->thumbSize, 0x7000u);
        }
        camlink::freePictures(pictures);
        if (link.selectFileSerial("S0000001") != 0) {
            if (std::uint8_t* data = link.readFileSerial("S0000001", 1500, nullptr)) {
                ++files;
                platform::virtualFree(data);
            }
        }
        link.deleteFileSerial("S0000001");
    }
    // The noise reached the end of both reads now and then.
    EXPECT_GT(catalogues, 0);
    EXPECT_GT(files, 0);
}

TEST_F(Noise, UsbOperationsEndWhateverComes) {
    openUsb();
    int catalogues = 0;
    int files = 0;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        rng.seed(seed);
        usb.onEscape = [this](std::uint32_t, const Bytes& in, std::uint8_t* out,
                              std::uint32_t outSize, std::uint32_t* delivered) {
            // Fill what fits with noise.
            for (std::uint32_t i = 0; i < outSize && i < 4096; ++i) {
                out[i] = static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() % 30 : rng());
            }
            if (rng() % 2 == 0) {
                // Half the answers keep to the form, so the reads get to their end.
                if (outSize == 4) {
                    camlink::writeLe32(out, rng() % 3000);
                } else if (outSize == 512) {
                    out[10] = static_cast<std::uint8_t>(rng() % 26);
                }
                const std::uint32_t asked = in.size() == 24 ? camlink::readLe32(&in[8]) : outSize;
                *delivered = std::min(asked == 0 ? outSize : asked, outSize);
                return true;
            }
            // The other half claims anything.
            const std::uint32_t claims[] = {0,
                                            1,
                                            4,
                                            511,
                                            512,
                                            513,
                                            4095,
                                            4096,
                                            4097,
                                            outSize,
                                            outSize + 1,
                                            0xFFFFFFFFu,
                                            static_cast<std::uint32_t>(rng())};
            *delivered = claims[rng() % (sizeof claims / sizeof claims[0])];
            return rng() % 5 != 0;
        };
        catalogues += link.readCatalogueUsb(pictures) > 0 ? 1 : 0;
        camlink::freePictures(pictures);
        files += link.readFileUsb("S0000001", 3 * 4096 + 7, nullptr) != nullptr ? 1 : 0;
        link.deleteFileUsb("S0000001");
        usb.requests.clear();
        usb.outSizes.clear();
    }
    EXPECT_EQ(sti.liveEvents, 0);
    EXPECT_GT(catalogues, 0);
    EXPECT_GT(files, 0);
}

} // namespace
