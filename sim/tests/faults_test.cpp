#include "sim/faults.h"

#include <gtest/gtest.h>

TEST(Faults, OccurrencesCountFromOne) {
    sim::Occurrences none;
    EXPECT_FALSE(none.hits(1));
    sim::Occurrences third{3, 2};
    EXPECT_FALSE(third.hits(2));
    EXPECT_TRUE(third.hits(3));
    EXPECT_TRUE(third.hits(4));
    EXPECT_FALSE(third.hits(5));
    EXPECT_TRUE(sim::Occurrences::always().hits(1000000));
}

TEST(Faults, TextFormsSetTheirFields) {
    sim::Faults f;
    std::string error;
    ASSERT_TRUE(sim::applyFaults("no-card=2x3, probe-reply=0x55;bad-trailer=55x2,"
                                 "short-block=3:100,empty-catalogue=2,duplicate-entry=4",
                                 f, &error))
        << error;
    EXPECT_EQ(f.statusByte, 0xE1);
    EXPECT_EQ(f.status.first, 2u);
    EXPECT_EQ(f.status.times, 3u);
    EXPECT_EQ(f.probeReply, 0x55);
    EXPECT_EQ(f.badTrailerBlock, 55);
    EXPECT_EQ(f.badTrailerTimes, 2u);
    EXPECT_EQ(f.shortBlock, 3);
    EXPECT_EQ(f.shortBlockTimes, 1u);
    EXPECT_EQ(f.shortBlockBytes, 100u);
    EXPECT_EQ(f.emptyCatalogues, 2u);
    EXPECT_EQ(f.duplicateEntry, 4);

    ASSERT_TRUE(sim::applyFaults("group-count=0xFF@2,usb-block-count=26,catalogue-size=4294967295,"
                                 "file-size=0@1,usb-read-fail=3x0,usb-short=2:10,lock-fail,"
                                 "status-query-fail=2,slow=300,status-delay=9,paced,"
                                 "escape-delay=7,unplugged,unknown-status=0x77@5,no-ack=4",
                                 f, &error))
        << error;
    EXPECT_EQ(*f.groupCount, 0xFF);
    EXPECT_EQ(f.groupCountGroup, 2u);
    EXPECT_EQ(*f.usbBlockCount, 26);
    EXPECT_EQ(f.usbBlockCountBlock, -1);
    EXPECT_EQ(*f.catalogueSize, 0xFFFFFFFFu);
    EXPECT_EQ(*f.fileSize, 0u);
    EXPECT_EQ(f.fileSizeEntry, 1);
    EXPECT_TRUE(f.usbReadFail.hits(1000));
    EXPECT_FALSE(f.usbReadFail.hits(2));
    EXPECT_TRUE(f.usbReadShort.hits(2));
    EXPECT_EQ(f.usbShortBytes, 10u);
    EXPECT_TRUE(f.lockFail.hits(1) && f.lockFail.hits(50));
    EXPECT_TRUE(f.statusQueryFail.hits(2));
    EXPECT_FALSE(f.statusQueryFail.hits(3));
    EXPECT_EQ(f.replyDelayMs, 300u);
    EXPECT_EQ(f.statusDelayMs, 9u);
    EXPECT_TRUE(f.paced);
    EXPECT_EQ(f.escapeDelayMs, 7u);
    EXPECT_TRUE(f.unplugged);
    EXPECT_EQ(f.statusByte, 0x77);
    EXPECT_TRUE(f.status.hits(5));
    EXPECT_FALSE(f.status.hits(4));
    EXPECT_TRUE(f.noAck.hits(4));
    EXPECT_FALSE(f.slowCommands.active());

    ASSERT_TRUE(sim::applyFault("slow=600@2x3", f, &error)) << error;
    EXPECT_EQ(f.replyDelayMs, 600u);
    EXPECT_FALSE(f.slowCommands.hits(1));
    EXPECT_TRUE(f.slowCommands.hits(4));
    EXPECT_FALSE(f.slowCommands.hits(5));
}

TEST(Faults, MalformedTextChangesNothing) {
    const char* bad[] = {"no-such",      "no-card=0",       "probe-reply=256",   "no-ack",
                         "bad-trailer=", "bad-trailer=3x0", "short-block=1:512", "group-count=x",
                         "slow=-1",      "paced=1",         "file-size=1@",      "unplugged=yes",
                         "usb-short=:4", "slow=600@",       "slow=600@0"};
    for (const char* text : bad) {
        sim::Faults f;
        std::string error;
        EXPECT_FALSE(sim::applyFault(text, f, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(f.probeReply, 0xD1) << text;
        EXPECT_FALSE(f.status.active()) << text;
        EXPECT_EQ(f.badTrailerBlock, -1) << text;
    }
}

TEST(Faults, HelpNamesEveryFault) {
    const std::string help = sim::faultHelp();
    for (const char* name : {"unplugged",
                             "no-card",
                             "format-failed",
                             "access-failed",
                             "unknown-status",
                             "probe-reply",
                             "no-ack",
                             "no-name-ack",
                             "bad-trailer",
                             "short-block",
                             "empty-catalogue",
                             "duplicate-entry",
                             "group-count",
                             "usb-block-count",
                             "catalogue-size",
                             "file-size",
                             "usb-read-fail",
                             "usb-short",
                             "lock-fail",
                             "subscribe-fail",
                             "reset-fail",
                             "status-query-fail",
                             "slow",
                             "status-delay",
                             "paced",
                             "escape-delay"})
        EXPECT_NE(help.find(std::string("  ") + name), std::string::npos) << name;
}
