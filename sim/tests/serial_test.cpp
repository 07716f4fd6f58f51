// The camera's serial face, driven byte by byte as the host would on virtual time.
#include "sim/camera.h"
#include "sim/tests/sim_fixture.h"

#include <gtest/gtest.h>

using namespace simtest;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Group {
    Bytes head; // ack, status and count
    std::vector<Bytes> entries;
    int trailer = -1;
};

Group readGroup(SerialHost& host) {
    Group g;
    host.write({0xC1});
    g.head = host.read(3);
    if (g.head.size() == 3 && g.head[1] == 0xF2) {
        const std::size_t n = g.head[2] == 0xFF ? 0 : g.head[2];
        for (std::size_t i = 0; i < n; ++i)
            g.entries.push_back(host.read(20));
        const Bytes t = host.read(1);
        g.trailer = t.empty() ? -1 : t[0];
    }
    return g;
}

bool select(SerialHost& host, const std::string& name) {
    host.write({0xC2});
    if (host.read(1) != Bytes{0x06})
        return false;
    Bytes bytes(name.begin(), name.end());
    bytes.insert(bytes.end(), {'J', 'P', 'G', ' '});
    host.write(bytes);
    return host.read(1) == Bytes{0x06};
}

struct Block {
    Bytes ack, status, data, trailer;
};

Block readBlock(SerialHost& host, std::uint8_t command) {
    Block b;
    host.write({command});
    b.ack = host.read(1);
    b.status = host.read(1);
    if (b.status == Bytes{0xF2}) {
        b.data = host.read(512, 2000);
        b.trailer = host.read(1);
    }
    return b;
}

// Reads a selected file as the host does: CMD_NEXT_BLOCK, CMD_REPEAT_BLOCK after a failure.
Bytes readFileSerial(SerialHost& host, std::size_t size, int* repeats = nullptr) {
    Bytes file;
    std::uint8_t command = 0xC4;
    for (std::size_t i = 0; i < (size + 511) / 512;) {
        const Block b = readBlock(host, command);
        if (b.ack.size() == 1 && b.status == Bytes{0xF2} && b.data.size() == 512 &&
            b.trailer == Bytes{0xF4}) {
            file.insert(file.end(), b.data.begin(), b.data.end());
            command = 0xC4;
            ++i;
        } else {
            host.drain(100);
            command = 0xC5;
            if (repeats)
                ++*repeats;
        }
    }
    file.resize(size);
    return file;
}

class SerialCamera : public ::testing::Test {
protected:
    void SetUp() override { card = makeCard(dir.path(), 60, 4); }
    TempDir dir;
    sim::Card card;
};

} // namespace

TEST_F(SerialCamera, ProbeIsAnsweredWithD1OrTheFaultedByte) {
    sim::Camera camera(card);
    SerialHost host(camera);
    host.write({0xB1});
    EXPECT_EQ(host.read(1), Bytes{0xD1});
    camera.faults().probeReply = 0x00;
    host.write({0xB1});
    EXPECT_EQ(host.read(1), Bytes{0x00});
    camera.faults().unplugged = true;
    host.write({0xB1});
    EXPECT_TRUE(host.read(1).empty());
    EXPECT_EQ(camera.transcript().hostBytes(), (Bytes{0xB1, 0xB1, 0xB1}));
    EXPECT_EQ(camera.transcript().cameraBytes(), (Bytes{0xD1, 0x00}));
}

TEST_F(SerialCamera, SixtyPicturesComeInThreeGroupsWithStMore) {
    sim::Camera camera(card);
    SerialHost host(camera);
    const Group g1 = readGroup(host), g2 = readGroup(host), g3 = readGroup(host);
    EXPECT_EQ(g1.head, (Bytes{0x06, 0xF2, 25}));
    EXPECT_EQ(g1.trailer, 0xF3);
    EXPECT_EQ(g2.head, (Bytes{0x06, 0xF2, 25}));
    EXPECT_EQ(g2.trailer, 0xF3);
    EXPECT_EQ(g3.head, (Bytes{0x06, 0xF2, 10}));
    EXPECT_NE(g3.trailer, 0xF3);
    // Entry 1: S0000001, place 1, 40x24, 847 bytes; entry 28 (V, every fourth): V0000028,
    // 96x64, 1446 bytes.
    EXPECT_EQ(g1.entries[0], (Bytes{'S', '0', '0',  '0', '0',  '0', '0',  '1',  1, 0,
                                    0,   0,   0x28, 0,   0x18, 0,   0x4F, 0x03, 0, 0}));
    EXPECT_EQ(g2.entries[2], (Bytes{'V', '0', '0',  '0', '0',  '0', '2',  '8',  28, 0,
                                    0,   0,   0x60, 0,   0x40, 0,   0xA6, 0x05, 0,  0}));
    EXPECT_EQ(g3.entries[9][7], '0'); // S0000060
    EXPECT_EQ(g3.entries[9][6], '6');
    // Nothing is left on the line, and the next catalogue read starts over.
    EXPECT_TRUE(host.drain(1000).empty());
    const Group again = readGroup(host);
    EXPECT_EQ(again.head, (Bytes{0x06, 0xF2, 25}));
    EXPECT_EQ(again.entries[0], g1.entries[0]);
    EXPECT_EQ(camera.transcript().countCommand(0xC1), 4u);
}

TEST_F(SerialCamera, LateContinuationOrOtherCommandStartsTheCatalogueOver) {
    sim::Camera camera(card);
    SerialHost host(camera);
    readGroup(host);
    host.advance(401);
    EXPECT_EQ(readGroup(host).entries[0][7], '1'); // group 1 again, not group 2
    host.write({0xB1});
    host.read(1);
    EXPECT_EQ(readGroup(host).entries[0][7], '1');
    host.advance(400);
    EXPECT_EQ(readGroup(host).entries[0][6], '2'); // S0000026: group 2
}

TEST_F(SerialCamera, ThumbnailIsFiftySixBlocksAndBadTrailerIsRepeated) {
    sim::Faults faults;
    faults.badTrailerBlock = 10;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "T0000005"));
    int repeats = 0;
    const Bytes file = readFileSerial(host, 0x7000, &repeats);
    EXPECT_EQ(file, readFile(dir.path() + "/T0000005.JPG"));
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(camera.transcript().countCommand(0xC4), 56u);
    EXPECT_EQ(camera.transcript().countCommand(0xC5), 1u);
    // The repeat came right after the eleventh block, whose trailer was 0x15.
    const Bytes commands = camera.transcript().commands();
    ASSERT_EQ(commands.size(), 1u + 56 + 1);
    EXPECT_EQ(commands[11], 0xC4);
    EXPECT_EQ(commands[12], 0xC5);
    const Bytes sent = camera.transcript().cameraBytes();
    // ack, ack, then per block ack F2 data trailer: block 10's trailer is byte 2 + 11*515 - 1.
    EXPECT_EQ(sent[2 + 11 * 515 - 1], 0x15);
    EXPECT_EQ(sent[2 + 12 * 515 - 1], 0xF4);
}

TEST_F(SerialCamera, BadTrailerOnTheLastBlockSeveralTimesInARow) {
    sim::Faults faults;
    faults.badTrailerBlock = 55;
    faults.badTrailerTimes = 3;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "T0000001"));
    int repeats = 0;
    EXPECT_EQ(readFileSerial(host, 0x7000, &repeats), readFile(dir.path() + "/T0000001.JPG"));
    EXPECT_EQ(repeats, 3);
    // A new selection arms the fault again.
    ASSERT_TRUE(select(host, "T0000001"));
    repeats = 0;
    readFileSerial(host, 0x7000, &repeats);
    EXPECT_EQ(repeats, 3);
}

TEST_F(SerialCamera, ShortBlockSendsPartOfTheDataAndNoTrailer) {
    sim::Faults faults;
    faults.shortBlock = 0;
    faults.shortBlockBytes = 100;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "S0000002"));
    const Block b = readBlock(host, 0xC4);
    EXPECT_EQ(b.status, Bytes{0xF2});
    EXPECT_EQ(b.data.size(), 100u);
    EXPECT_TRUE(b.trailer.empty());
    const Block again = readBlock(host, 0xC5);
    EXPECT_EQ(again.data.size(), 512u);
    EXPECT_EQ(again.trailer, Bytes{0xF4});
    const Bytes full = readFile(dir.path() + "/S0000002.JPG");
    EXPECT_TRUE(std::equal(again.data.begin(), again.data.end(), full.begin()));
}

TEST(SerialBlocks, FileSizesAroundBlockMultiplesAndTheEndOfTheFile) {
    TempDir dir;
    auto card = *sim::Card::create(dir.path());
    Bytes exact(1024), plusOne(1025);
    for (std::size_t i = 0; i < plusOne.size(); ++i)
        plusOne[i] = std::uint8_t(i * 7 + 3);
    std::copy_n(plusOne.begin(), 1024, exact.begin());
    const Bytes thumb = readTestFile("thumb-160x120.jpg");
    ASSERT_TRUE(card.addPicture("S0000001", exact, thumb));
    ASSERT_TRUE(card.addPicture("S0000002", plusOne, thumb));
    sim::Camera camera(card);
    SerialHost host(camera);

    ASSERT_TRUE(select(host, "S0000001"));
    EXPECT_EQ(readFileSerial(host, 1024), exact);
    EXPECT_EQ(readBlock(host, 0xC4).status, Bytes{0xE3}); // past the end

    ASSERT_TRUE(select(host, "S0000002"));
    readBlock(host, 0xC4);
    readBlock(host, 0xC4);
    const Block last = readBlock(host, 0xC4);
    ASSERT_EQ(last.data.size(), 512u);
    EXPECT_EQ(last.data[0], plusOne[1024]);
    EXPECT_EQ(std::count(last.data.begin() + 1, last.data.end(), 0), 511); // zero padding
    // Repeat sends the last block asked for again.
    EXPECT_EQ(readBlock(host, 0xC5).data, last.data);
}

TEST_F(SerialCamera, BlocksWithoutASelectionAnswerCardAccessFailed) {
    sim::Camera camera(card);
    SerialHost host(camera);
    EXPECT_EQ(readBlock(host, 0xC4).status, Bytes{0xE3});
    ASSERT_TRUE(select(host, "S0000099")); // both bytes are acknowledged all the same
    EXPECT_EQ(readBlock(host, 0xC4).status, Bytes{0xE3});
}

TEST_F(SerialCamera, DeleteRemovesTheFilesAndTheCatalogueEntry) {
    sim::Camera camera(card);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "S0000002"));
    host.write({0xC3});
    EXPECT_EQ(host.read(2), (Bytes{0x06, 0xF2}));
    EXPECT_FALSE(fileExists(dir.path() + "/S0000002.JPG"));
    EXPECT_FALSE(fileExists(dir.path() + "/T0000002.JPG"));
    EXPECT_EQ(sim::Card::open(dir.path())->pictures().size(), 59u);
    const Group g = readGroup(host);
    EXPECT_EQ(g.entries[1][7], '3');
    // Deleting again: the selection is gone.
    host.write({0xC3});
    EXPECT_EQ(host.read(2), (Bytes{0x06, 0xE3}));
}

TEST_F(SerialCamera, StatusFaultsReplaceStData) {
    for (std::uint8_t status : {0xE1, 0xE2, 0xE3, 0x77}) {
        sim::Faults faults;
        faults.statusByte = status;
        faults.status = sim::Occurrences::always();
        sim::Camera camera(card, faults);
        SerialHost host(camera);
        host.write({0xC1});
        EXPECT_EQ(host.drain(), (Bytes{0x06, status}));
        ASSERT_TRUE(select(host, "S0000001"));
        host.write({0xC4});
        EXPECT_EQ(host.drain(), (Bytes{0x06, status}));
        host.write({0xC3});
        EXPECT_EQ(host.drain(), (Bytes{0x06, status}));
        EXPECT_TRUE(fileExists(dir.path() + "/S0000001.JPG"));
    }
}

TEST_F(SerialCamera, StatusFaultOnTheSecondStatusReplyOnly) {
    sim::Faults faults;
    ASSERT_TRUE(sim::applyFault("no-card=2", faults));
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "S0000002")); // 1446 bytes: three blocks
    EXPECT_EQ(readBlock(host, 0xC4).status, Bytes{0xF2});
    EXPECT_EQ(readBlock(host, 0xC4).status, Bytes{0xE1});
    const Block b = readBlock(host, 0xC5); // the block that failed, not the one after
    EXPECT_EQ(b.status, Bytes{0xF2});
    const Bytes full = readFile(dir.path() + "/S0000002.JPG");
    EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), full.begin() + 512));
}

TEST_F(SerialCamera, NoAckSilencesOneCommandWhichStillTakesEffect) {
    sim::Faults faults;
    faults.noAck = {3, 1}; // probe, select, then the first block
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    host.write({0xB1});
    EXPECT_EQ(host.read(1), Bytes{0xD1});
    ASSERT_TRUE(select(host, "S0000001"));
    host.write({0xC4});
    EXPECT_TRUE(host.drain().empty());
    const Block b = readBlock(host, 0xC5);
    EXPECT_EQ(b.trailer, Bytes{0xF4});
    const Bytes full = readFile(dir.path() + "/S0000001.JPG");
    EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), full.begin()));
}

TEST_F(SerialCamera, NoAckToTheCatalogueAndToTheNameBytes) {
    sim::Faults faults;
    faults.noAck = {1, 1};
    faults.noNameAck = {1, 1};
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    host.write({0xC1});
    EXPECT_TRUE(host.drain().empty());
    host.write({0xC2});
    EXPECT_EQ(host.read(1), Bytes{0x06});
    host.write({'S', '0', '0', '0', '0', '0', '0', '1', 'J', 'P', 'G', ' '});
    EXPECT_TRUE(host.drain().empty());
    EXPECT_TRUE(select(host, "S0000001"));
}

TEST_F(SerialCamera, AbandonedNameLetsTheNextCommandThrough) {
    sim::Camera camera(card);
    SerialHost host(camera);
    host.write({0xC2});
    host.read(1);
    host.write({'S', '0', '0'});
    host.write({0xB1}); // a command byte ends the name
    EXPECT_EQ(host.read(1), Bytes{0xD1});
    host.write({0xC2});
    host.read(1);
    host.write({'S', '0', '0'});
    host.advance(1001);
    host.write({'S'}); // too late: taken as an unknown command, no reply
    EXPECT_TRUE(host.drain(1000).empty());
    EXPECT_EQ(camera.transcript().commands(), (Bytes{0xC2, 0xB1, 0xC2, 'S'}));
}

TEST_F(SerialCamera, EmptyCatalogueForTheFirstReads) {
    sim::Faults faults;
    faults.emptyCatalogues = 2;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    for (int i = 0; i < 2; ++i) {
        const Group g = readGroup(host);
        EXPECT_EQ(g.head, (Bytes{0x06, 0xF2, 0}));
        EXPECT_EQ(g.trailer, 0xF4);
    }
    EXPECT_EQ(readGroup(host).head[2], 25);
}

TEST_F(SerialCamera, DuplicateEntryIsSentTwiceInARow) {
    sim::Faults faults;
    faults.duplicateEntry = 24;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    const Group g1 = readGroup(host), g2 = readGroup(host), g3 = readGroup(host);
    EXPECT_EQ(g2.entries[0], g1.entries[24]);
    EXPECT_EQ(g3.head[2], 11);
}

TEST_F(SerialCamera, GroupCountFaults) {
    struct Case {
        std::uint8_t count;
        std::size_t entryBytes;
    };
    for (const Case c : {Case{0, 0}, Case{25, 500}, Case{26, 520}, Case{0xFF, 0}}) {
        sim::Faults faults;
        faults.groupCount = c.count;
        faults.groupCountGroup = 1;
        sim::Camera camera(card, faults);
        SerialHost host(camera);
        host.write({0xC1});
        const Bytes reply = host.drain();
        ASSERT_EQ(reply.size(), 3 + c.entryBytes + 1) << int(c.count);
        EXPECT_EQ(reply[2], c.count);
        if (c.count == 26) { // the 26th is the next picture
            EXPECT_EQ(reply[3 + 25 * 20 + 6], '2');
        }
    }
}

TEST_F(SerialCamera, FileSizeFaultOnOneEntry) {
    sim::Faults faults;
    faults.fileSize = 0xFFFFFFFF;
    faults.fileSizeEntry = 1;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    const Group g = readGroup(host);
    EXPECT_EQ(Bytes(g.entries[1].begin() + 16, g.entries[1].end()),
              (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(g.entries[0][16], 0x4F);
}

TEST_F(SerialCamera, SlowRepliesAndStatusDelay) {
    sim::Faults faults;
    faults.replyDelayMs = 300;
    faults.statusDelayMs = 2000;
    sim::Camera camera(card, faults);
    std::uint8_t byte = 0;
    std::uint32_t at = 0;
    camera.serialFromHost(&sim::CMD_CATALOGUE, 1, 5000);
    EXPECT_EQ(camera.serialToHost(&byte, 1, 5299, &at), 0u);
    ASSERT_EQ(camera.serialToHost(&byte, 1, 5300, &at), 1u);
    EXPECT_EQ(at, 5300u);
    EXPECT_EQ(camera.serialToHost(&byte, 1, 7299, &at), 0u);
    ASSERT_EQ(camera.serialToHost(&byte, 1, 7300, &at), 1u);
    EXPECT_EQ(byte, 0xF2);
    EXPECT_EQ(at, 7300u);
}

TEST_F(SerialCamera, PacedLineTakesElevenBitTimesAByte) {
    sim::Faults faults;
    faults.paced = true;
    sim::Camera camera(card, faults);
    SerialHost host(camera);
    ASSERT_TRUE(select(host, "T0000001"));
    const std::uint32_t start = host.now();
    host.write({0xC4});
    // 515 bytes (ack, status, 512 data, trailer) at 95.49 us each: 49.18 ms, so the
    // trailer is there at 50 ms and not at 49 ms.
    std::uint8_t bytes[600];
    std::uint32_t at = 0;
    EXPECT_EQ(camera.serialToHost(bytes, 600, start + 49, &at), 513u); // 49 ms / 95.49 us
    EXPECT_EQ(camera.serialToHost(bytes, 600, start + 50, &at), 2u);
    EXPECT_EQ(at, start + 50);
    // A whole thumbnail: 56 such replies of 49.18 ms line time each; every command here is
    // sent on the millisecond after the last trailer, so each reply takes 50 ms.
    std::uint32_t t = start + 50;
    for (int i = 1; i < 56; ++i) {
        camera.serialFromHost(&sim::CMD_NEXT_BLOCK, 1, t);
        std::size_t got = 0;
        while (got < 515) {
            const std::size_t n = camera.serialToHost(bytes, 600, t + 1000, &at);
            ASSERT_GT(n, 0u);
            got += n;
        }
        t = at;
    }
    EXPECT_EQ(t - start, 56u * 50);
}

TEST(SerialTime, MillisecondClockWrapsAround) {
    TempDir dir;
    auto card = makeCard(dir.path(), 1);
    sim::Faults faults;
    faults.replyDelayMs = 10;
    sim::Camera camera(card, faults);
    std::uint8_t byte = 0;
    std::uint32_t at = 0;
    camera.serialFromHost(&sim::CMD_PROBE, 1, 0xFFFFFFFA);
    EXPECT_EQ(camera.serialToHost(&byte, 1, 0xFFFFFFFF, &at), 0u);
    ASSERT_EQ(camera.serialToHost(&byte, 1, 4, &at), 1u);
    EXPECT_EQ(at, 4u);
    EXPECT_EQ(byte, 0xD1);
}
