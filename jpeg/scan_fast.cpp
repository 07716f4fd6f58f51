#include "jpeg/scan.h"

namespace jpeg {
namespace detail {

DecodeError decodeScanFast(ScanContext& scan) {
    return decodeScanReference(scan);
}

} // namespace detail
} // namespace jpeg
