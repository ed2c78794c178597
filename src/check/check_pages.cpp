#include "check/check_pages.h"

#include <string>

#include "check/check_text.h"
#include "common/byte_reader.h"
#include "common/format_tables.h"

namespace bm {

bool CheckPageTrailer(const StoreLayout& L, std::span<const std::uint8_t> page, std::uint64_t ib,
                      const PageExpectation& expected, CheckReport& report) {
    const auto error = [&](std::string text) {
        AddFinding(report, FindingSeverity::Error, expected.kind, ib, std::string(expected.name) + " page " + text);
    };
    ByteReader r(page);
    bool ok = true;
    const auto ptype = static_cast<std::uint8_t>(r.peekAt(L.page.typeAt, 1).value_or(0));
    const auto repeat = static_cast<std::uint8_t>(r.peekAt(L.page.typeAt + 1, 1).value_or(0));
    const auto type = static_cast<std::uint8_t>(expected.type);
    if (ptype != type || repeat != ptype) {
        error("has ptype " + CheckHex(ptype) + "/" + CheckHex(repeat) + ", expected " + CheckHex(type));
        return false;
    }
    const std::uint64_t pageBid = r.peekAt(L.page.bidAt, L.idWidth).value_or(0);
    if (pageBid != expected.bid) {
        error("bid " + CheckHex(pageBid) + " differs from " + CheckHex(expected.bid));
        ok = false;
    }
    const std::uint64_t sig = r.peekAt(L.page.signatureAt, 2).value_or(0);
    const std::uint64_t expectedSig = expected.signedPage ? ComputeSignature(ib, pageBid) : 0;
    if (sig != expectedSig) {
        error("signature " + CheckHex(sig) + ", expected " + CheckHex(expectedSig));
        ok = false;
    }
    const std::uint32_t crc = ComputeCrc(page.first(L.page.crcCovers));
    if (crc != r.peekAt(L.page.crcAt, 4).value_or(0)) {
        AddFinding(report, expected.crcSeverity, expected.kind, ib, std::string(expected.name) + " page CRC mismatch");
        ok = false;
    }
    return ok;
}

UsedSpace::UsedSpace(const StoreLayout& layout, std::uint64_t end)
    : first_(layout.maps.firstAt), unit_(layout.maps.unit),
      bits_((end > first_ ? (end - first_) / unit_ : 0) + 1, false) {}

bool UsedSpace::mark(std::uint64_t ib, std::uint64_t length) {
    if (ib < first_) return true;
    bool clean = true;
    for (std::uint64_t u = unit(ib); u < unit(ib + length + unit_ - 1) && u < bits_.size(); ++u) {
        if (bits_[u]) clean = false;
        bits_[u] = true;
    }
    return clean;
}

}  // namespace bm
