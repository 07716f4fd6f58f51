// Fuzz target: the USB catalogue read against a Still Image camera answering from the
// input (the catalogue size, then the blocks with their counts and entries; escapes that
// fail or claim any length). The read must end within the link's bound on the catalogue's
// size, release the device, and return what it built.
#include "link/fuzz/fuzz_peers.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The size escape and one a block.
    linkfuzz::Rig rig(data, size, camlink::kMaxCatalogueBytes / camlink::kCatalogueBlockSize + 8,
                      2);
    rig.usb.deviceFlags = rig.input.byte() & 3;
    rig.openUsb();
    camlink::CameraPictureList pictures = nullptr;
    const int count = rig.link.readCatalogueUsb(pictures);
    const bool failed = rig.link.lastCatalogueFailed();
    rig.checkReleased();

    int records = 0;
    for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
        ++records;
        if (p->fullName[0] != 'S' || p->thumbName[0] != 'T' || p->thumbSize != 0x7000 ||
            std::memcmp(p->fullName + 1, p->thumbName + 1, 7) != 0) {
            std::abort();
        }
    }
    const std::uint32_t blocks = rig.bound.exchanges() == 0 ? 0 : rig.bound.exchanges() - 1;
    if (rig.catalogue.clears != 1 || count < 0 || (failed && count != 0) ||
        (!failed && count != records) ||
        std::uint32_t(records) > blocks * camlink::kMaxEntriesPerGroup) {
        std::abort();
    }
    camlink::freePictures(pictures);
    return 0;
}
