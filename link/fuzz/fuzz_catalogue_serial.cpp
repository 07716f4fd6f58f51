// Fuzz target: the serial catalogue read against a camera answering from the input (groups,
// counts, entries, trailers, statuses, late and missing bytes). The read must end within
// the link's group bound, and what it returns must agree with the list it built.
#include "link/fuzz/fuzz_peers.h"

#include <cstdlib>
#include <cstring>
#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One exchange a group, and the read gives up at the link's bound on groups.
    linkfuzz::Rig rig(data, size, camlink::kMaxCatalogueGroups + 8, 2);
    rig.openSerial();
    camlink::CameraPictureList pictures = nullptr;
    const int count = rig.link.readCatalogueSerial(pictures);
    const bool failed = rig.link.lastCatalogueFailed();

    int records = 0;
    std::set<std::uint32_t> keys;
    for (camlink::CameraPicture* p = pictures; p != nullptr; p = p->next) {
        ++records;
        if (p->fullName[0] != 'S' || p->thumbName[0] != 'T' || p->thumbSize != 0x7000 ||
            std::memcmp(p->fullName + 1, p->thumbName + 1, 7) != 0) {
            std::abort();
        }
        // Entries that share name bytes 4-7 are one picture.
        if (!keys.insert(camlink::readLe32(reinterpret_cast<std::uint8_t*>(p->fullName) + 4))
                 .second) {
            std::abort();
        }
    }
    if (rig.catalogue.clears != 1 || count < 0 || (failed && count != 0) ||
        (!failed && count != records)) {
        std::abort();
    }
    camlink::freePictures(pictures);
    return 0;
}
