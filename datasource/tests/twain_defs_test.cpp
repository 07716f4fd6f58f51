// The TWAIN structures' layouts on Windows (2-byte packing), against hand-computed sizes
// and offsets: a host built with the standard's own header must see the same bytes. Handles,
// addresses and TW_UINTPTR take the pointer's size: 4 bytes on 32-bit, 8 on x86-64.
#include "datasource/twain_defs.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

using namespace twain;

constexpr std::size_t P = sizeof(void*);

struct Layout {
    const char* name;
    std::size_t size, expected;
};

TEST(TwainDefs, StructureSizes) {
    const Layout layouts[] = {
        {"TW_FIX32", sizeof(TW_FIX32), 4},
        {"TW_FRAME", sizeof(TW_FRAME), 16},
        {"TW_VERSION", sizeof(TW_VERSION), 2 * 4 + 34},
        {"TW_IDENTITY", sizeof(TW_IDENTITY), 4 + 42 + 2 + 2 + 4 + 3 * 34},
        {"TW_CAPABILITY", sizeof(TW_CAPABILITY), 2 + 2 + P},
        {"TW_ONEVALUE", sizeof(TW_ONEVALUE), 2 + 4},
        {"TW_EVENT", sizeof(TW_EVENT), P + 2},
        {"TW_IMAGEINFO", sizeof(TW_IMAGEINFO), 4 + 4 + 4 + 4 + 2 + 16 + 2 + 2 + 2 + 2},
        {"TW_IMAGELAYOUT", sizeof(TW_IMAGELAYOUT), 16 + 3 * 4},
        {"TW_PENDINGXFERS", sizeof(TW_PENDINGXFERS), 2 + 4},
        {"TW_STATUS", sizeof(TW_STATUS), 4},
        {"TW_USERINTERFACE", sizeof(TW_USERINTERFACE), 2 + 2 + P},
        {"TW_CALLBACK", sizeof(TW_CALLBACK), P + 4 + 2},
        {"TW_CALLBACK2", sizeof(TW_CALLBACK2), P + P + 2},
        {"TW_ENTRYPOINT", sizeof(TW_ENTRYPOINT), 4 + 5 * P},
    };
    for (const Layout& l : layouts) {
        EXPECT_EQ(l.size, l.expected) << l.name;
    }
    EXPECT_EQ(sizeof(TW_IDENTITY), 156u);
}

TEST(TwainDefs, FieldOffsets) {
    const Layout offsets[] = {
        {"TW_IDENTITY.Version", offsetof(TW_IDENTITY, Version), 4},
        {"TW_IDENTITY.Version.Info", offsetof(TW_IDENTITY, Version.Info), 12},
        {"TW_IDENTITY.ProtocolMajor", offsetof(TW_IDENTITY, ProtocolMajor), 46},
        {"TW_IDENTITY.ProtocolMinor", offsetof(TW_IDENTITY, ProtocolMinor), 48},
        {"TW_IDENTITY.SupportedGroups", offsetof(TW_IDENTITY, SupportedGroups), 50},
        {"TW_IDENTITY.Manufacturer", offsetof(TW_IDENTITY, Manufacturer), 54},
        {"TW_IDENTITY.ProductFamily", offsetof(TW_IDENTITY, ProductFamily), 88},
        {"TW_IDENTITY.ProductName", offsetof(TW_IDENTITY, ProductName), 122},
        {"TW_CAPABILITY.hContainer", offsetof(TW_CAPABILITY, hContainer), 4},
        {"TW_ONEVALUE.Item", offsetof(TW_ONEVALUE, Item), 2},
        {"TW_ARRAY.ItemList", offsetof(TW_ARRAY, ItemList), 6},
        {"TW_ENUMERATION.ItemList", offsetof(TW_ENUMERATION, ItemList), 14},
        {"TW_EVENT.TWMessage", offsetof(TW_EVENT, TWMessage), P},
        {"TW_IMAGEINFO.ImageWidth", offsetof(TW_IMAGEINFO, ImageWidth), 8},
        {"TW_IMAGEINFO.SamplesPerPixel", offsetof(TW_IMAGEINFO, SamplesPerPixel), 16},
        {"TW_IMAGEINFO.BitsPerPixel", offsetof(TW_IMAGEINFO, BitsPerPixel), 34},
        {"TW_IMAGEINFO.Compression", offsetof(TW_IMAGEINFO, Compression), 40},
        {"TW_PENDINGXFERS.EOJ", offsetof(TW_PENDINGXFERS, EOJ), 2},
        {"TW_USERINTERFACE.hParent", offsetof(TW_USERINTERFACE, hParent), 4},
        {"TW_CALLBACK.Message", offsetof(TW_CALLBACK, Message), P + 4},
        {"TW_ENTRYPOINT.DSM_MemUnlock", offsetof(TW_ENTRYPOINT, DSM_MemUnlock), 4 + 4 * P},
    };
    for (const Layout& l : offsets) {
        EXPECT_EQ(l.size, l.expected) << l.name;
    }
}

// A one-value container as bytes: item type, then the 32-bit item right after it.
TEST(TwainDefs, OneValueBytes) {
    TW_ONEVALUE one;
    one.ItemType = TWTY_FIX32;
    one.Item = 0x00000048; // 72.0: Whole 72, Frac 0
    unsigned char bytes[sizeof one];
    std::memcpy(bytes, &one, sizeof one);
    const unsigned char expected[] = {0x07, 0x00, 0x48, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof expected));
}

} // namespace
