// A small camera of the tests' own that speaks the serial protocol, with each reply
// open to tampering so edge cases can be set up byte for byte.
#pragma once

#include "link/protocol.h"
#include "link/tests/fakes.h"

#include <functional>
#include <string>
#include <vector>

namespace linktest {

// A 20-byte catalogue entry.
inline Bytes entry(const std::string& name, std::uint32_t fullSize, std::uint16_t w1 = 0,
                   std::uint16_t w2 = 0) {
    Bytes e(20, 0);
    for (std::size_t i = 0; i < 8 && i < name.size(); ++i) {
        e[i] = static_cast<std::uint8_t>(name[i]);
    }
    e[8] = 0x11; // bytes 8-11 carry nothing the system uses
    e[12] = static_cast<std::uint8_t>(w1);
    e[13] = static_cast<std::uint8_t>(w1 >> 8);
    e[14] = static_cast<std::uint8_t>(w2);
    e[15] = static_cast<std::uint8_t>(w2 >> 8);
    camlink::writeLe32(e.data() + 16, fullSize);
    return e;
}

// How one block reply goes wrong.
struct BlockReply {
    bool ack = true;
    std::uint8_t status = camlink::ST_DATA;
    std::uint32_t dataBytes = 512;
    bool trailer = true;
    std::uint8_t trailerByte = camlink::ST_BLOCK_OK;
};

class SerialCamera : public ScriptedPeer {
public:
    SerialCamera() {
        // Through the peer it is handed, so that a copied camera answers for itself.
        onBytes = [](ScriptedPeer& self, const Bytes& bytes, std::uint32_t at) {
            for (std::uint8_t b : bytes) {
                static_cast<SerialCamera&>(self).take(b, at);
            }
        };
    }

    std::uint8_t probeReply = camlink::RSP_PROBE_OK;
    std::uint8_t ack = 0x06;
    // Catalogue: groups of entries; a group's count byte can be forced.
    std::vector<std::vector<Bytes>> groups;
    std::vector<int> forcedCount; // -1: the real count
    std::uint8_t catalogueStatus = camlink::ST_DATA;
    std::uint32_t statusDelayMs = 0; // status byte comes this long after the ack
    bool catalogueAck = true;
    // The selected file's bytes, served in 512-byte blocks (zero beyond its end).
    Bytes file;
    std::function<BlockReply(std::uint32_t block, int sending)> blockReply;
    // Delete: status byte, or none.
    int deleteStatus = -1;
    bool deleteAck = true;

    std::vector<std::uint8_t> commands;
    std::string selected; // 12 bytes as received
    std::vector<std::uint32_t> blocksSent;

private:
    void take(std::uint8_t b, std::uint32_t at) {
        if (nameBytesLeft_ > 0) {
            selected.push_back(static_cast<char>(b));
            if (--nameBytesLeft_ == 0) {
                send({ack}, at);
                block_ = 0;
                sendings_.clear();
            }
            return;
        }
        commands.push_back(b);
        switch (b) {
        case camlink::CMD_PROBE:
            send({probeReply}, at);
            break;
        case camlink::CMD_CATALOGUE:
            catalogueGroup(at);
            break;
        case camlink::CMD_SELECT_FILE:
            selected.clear();
            send({ack}, at);
            nameBytesLeft_ = 12;
            break;
        case camlink::CMD_DELETE_FILE:
            if (deleteAck) {
                send({ack}, at);
                if (deleteStatus >= 0) {
                    send({static_cast<std::uint8_t>(deleteStatus)}, at);
                }
            }
            break;
        case camlink::CMD_NEXT_BLOCK:
            sendBlock(block_++, at);
            break;
        case camlink::CMD_REPEAT_BLOCK:
            sendBlock(block_ == 0 ? 0 : block_ - 1, at);
            break;
        default:
            break;
        }
    }

    void catalogueGroup(std::uint32_t at) {
        if (!catalogueAck) {
            return;
        }
        send({ack}, at);
        const std::uint32_t statusAt = at + statusDelayMs;
        send({catalogueStatus}, statusAt);
        if (catalogueStatus != camlink::ST_DATA) {
            return;
        }
        const std::size_t g = group_++;
        const std::vector<Bytes> none;
        const std::vector<Bytes>& entries = g < groups.size() ? groups[g] : none;
        const int count = g < forcedCount.size() && forcedCount[g] >= 0
                              ? forcedCount[g]
                              : static_cast<int>(entries.size());
        send({static_cast<std::uint8_t>(count)}, statusAt);
        for (const Bytes& e : entries) {
            send(e, statusAt);
        }
        send({static_cast<std::uint8_t>(g + 1 < groups.size() ? camlink::ST_MORE : 0x00)},
             statusAt);
    }

    void sendBlock(std::uint32_t index, std::uint32_t at) {
        blocksSent.push_back(index);
        const int sending = ++sendings_[index];
        BlockReply reply = blockReply ? blockReply(index, sending) : BlockReply{};
        if (!reply.ack) {
            return;
        }
        send({ack}, at);
        send({reply.status}, at);
        if (reply.status != camlink::ST_DATA) {
            return;
        }
        Bytes data(reply.dataBytes, 0);
        for (std::uint32_t i = 0; i < reply.dataBytes; ++i) {
            const std::size_t at512 = std::size_t(index) * 512 + i;
            data[i] = at512 < file.size() ? file[at512] : 0;
        }
        send(data, at);
        if (reply.trailer) {
            send({reply.trailerByte}, at);
        }
    }

    int nameBytesLeft_ = 0;
    std::size_t group_ = 0;
    std::uint32_t block_ = 0;
    std::map<std::uint32_t, int> sendings_;
};

// Test bytes that tell every offset apart.
inline Bytes pattern(std::size_t size, std::uint32_t seed = 7) {
    Bytes bytes(size);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

} // namespace linktest
