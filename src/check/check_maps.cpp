// The allocation maps are read in the order they lie in the file, one
// interval at a time; a map page is copied out of the file window before the
// pages after it are read, as those reads may move the window on.
#include "check/check_maps.h"

#include <algorithm>
#include <string>
#include <vector>

#include "check/check_text.h"
#include "common/byte_reader.h"

namespace bm {

void CheckAllocationMaps(CheckFileReader& file, const MapCheckInput& input, UsedSpace& used,
                         const CheckOptions& options, CheckReport& report) {
    const StoreLayout& L = input.layout;
    const auto error = [&](std::uint64_t at, std::string text) {
        AddFinding(report, FindingSeverity::Error, FindingKind::AllocationMap, at, std::move(text));
    };
    const auto warning = [&](std::uint64_t at, std::string text) {
        AddFinding(report, FindingSeverity::Warning, FindingKind::AllocationMap, at, std::move(text));
    };
    const auto fieldAt = [&](std::size_t offset, std::size_t width) {
        return ByteReader(input.header).peekAt(offset, width).value_or(0);
    };
    const auto trailer = [&](std::span<const std::uint8_t> page, std::uint64_t at, PageType type, std::uint64_t bid,
                             bool signedPage, const char* name,
                             FindingSeverity crcSeverity = FindingSeverity::Error) {
        CheckPageTrailer(L, page, at, {type, bid, signedPage, name, FindingKind::AllocationMap, crcSeverity}, report);
    };
    if (!L.maps.settled) {
        warning(0, std::string("allocation maps of the ") + L.name + " layout are not compared");
        return;
    }
    const std::uint64_t valid = fieldAt(L.header.amapValidAt, 1);
    if (valid == 0) {
        warning(L.header.amapValidAt, "fAMapValid is 0: allocation maps not compared");
        return;
    }
    const std::uint64_t end = input.fileEof;
    if (end <= L.maps.firstAt) {
        error(L.header.fileEofAt, "ibFileEof " + CheckHex(end) + " leaves no room for an allocation map");
        return;
    }
    const std::uint64_t intervalSize = MapIntervalSize(L);
    const std::uint64_t intervals = (end - L.maps.firstAt + intervalSize - 1) / intervalSize;
    if ((end - L.maps.firstAt) % intervalSize != 0) {
        warning(L.header.fileEofAt, "ibFileEof " + CheckHex(end) + " does not end an allocation-map interval");
    }
    const std::uint64_t amapLast = fieldAt(L.header.amapLastAt, L.idWidth);
    if (amapLast != MapIntervalStart(L, intervals - 1)) {
        warning(L.header.amapLastAt, "ibAMapLast " + CheckHex(amapLast) + ", expected " + CheckHex(MapIntervalStart(L, intervals - 1)));
    }
    const std::size_t mapBytes = L.maps.bitsPerMap / 8;
    std::uint64_t freeBytes = 0, freePageBytes = 0;
    std::uint64_t allocatedUnused = 0, firstAllocatedUnused = 0;
    for (std::uint64_t k = 0; k < intervals; ++k) {
        const std::uint64_t base = MapIntervalStart(L, k);
        const std::uint64_t mapsEnd = base + MapPagesSize(L, k);
        // A copy: the pages read after it may move the file window on.
        std::vector<std::uint8_t> amapPage(L.page.size);
        {
            const ByteReader amap = file.read(base, L.page.size);
            if (amap.failed()) {
                error(base, "AMap page missing (file ends)");
                break;
            }
            std::copy(amap.data().begin(), amap.data().end(), amapPage.begin());
        }
        const ByteReader amap(amapPage);
        // Map pages and, where present, the PMap/FMap/FPMap pages.
        trailer(amap.data(), base, PageType::AllocationMap, base, false, "AMap");
        std::uint64_t at = base + L.page.size;
        if (HasPageMap(L, k)) {
            ByteReader p = file.read(at, L.page.size);
            if (!p.failed()) {
                trailer(p.data(), at, PageType::PageMap, at, false, "PMap");
                // One bit per page, over the next eight intervals.
                const auto pageBits = p.data().subspan(L.maps.bitsAt, mapBytes);
                for (std::uint64_t bit = 0; bit < L.maps.bitsPerMap; ++bit) {
                    if (base + bit * L.page.size >= end) break;
                    if ((pageBits[bit / 8] & (0x80u >> (bit % 8))) == 0) freePageBytes += L.page.size;
                }
            }
            at += L.page.size;
        }
        if (HasFreeMap(L, k) || HasFreePageMap(L, k)) {
            ByteReader p = file.read(at, L.page.size);
            const auto type = HasFreeMap(L, k) ? PageType::FreeMap : PageType::FreePageMap;
            if (!p.failed()) trailer(p.data(), at, type, at, false, HasFreeMap(L, k) ? "FMap" : "FPMap");
        }
        used.mark(base, mapsEnd - base);
        const auto bits = amap.data().subspan(L.maps.bitsAt, mapBytes);
        for (std::uint64_t bit = 0; bit < L.maps.bitsPerMap; ++bit) {
            const std::uint64_t ib = base + bit * L.maps.unit;
            if (ib >= end) break;
            const bool allocated = (bits[bit / 8] & (0x80u >> (bit % 8))) != 0;
            const bool inUse = used.used(ib);
            if (!allocated) freeBytes += L.maps.unit;
            if (inUse && !allocated) {
                error(ib, "space in use by a page or block is marked free in the AMap at " + CheckHex(base));
            } else if (allocated && !inUse) {
                if (allocatedUnused++ == 0) firstAllocatedUnused = ib;
            }
        }
    }
    if (allocatedUnused > 0) {
        warning(firstAllocatedUnused, std::to_string(allocatedUnused * L.maps.unit) +
                                          " bytes marked allocated in the AMaps are used by no page or block");
    }
    // The header's free-space counters hold what the maps give, byte for
    // byte, as in every client-written store at hand (offline stores
    // included): an error under the client's rules, else a warning, since
    // other writers may keep a running count. cbPMapFree follows cbAMapFree
    // in the header.
    const auto counterFinding = [&](std::size_t at, const char* name, std::uint64_t held, std::uint64_t recomputed,
                                    const char* maps) {
        if (held == recomputed) return;
        AddFinding(report, options.clientRules ? FindingSeverity::Error : FindingSeverity::Warning,
                   FindingKind::AllocationMap, at, std::string(name) + " " + std::to_string(held) + " differs from the " + maps + "' " +
                std::to_string(recomputed) + " free bytes");
    };
    counterFinding(L.header.amapFreeAt, "cbAMapFree", fieldAt(L.header.amapFreeAt, L.idWidth), freeBytes, "AMaps");
    counterFinding(L.header.amapFreeAt + L.idWidth, "cbPMapFree", fieldAt(L.header.amapFreeAt + L.idWidth, L.idWidth), freePageBytes,
                   "PMaps");
    if (L.maps.densityListAt != kNoField) {
        ByteReader dlist = file.read(L.maps.densityListAt, L.page.size);
        if (!dlist.failed() && dlist.peekAt(L.page.typeAt, 1) == static_cast<std::uint8_t>(PageType::DensityList)) {
            const std::uint64_t bid = dlist.peekAt(L.page.bidAt, 8).value_or(0);
            const bool signedPage = dlist.peekAt(L.page.signatureAt, 2).value_or(0) != 0;
            trailer(dlist.data(), L.maps.densityListAt, PageType::DensityList, bid, signedPage,
                    "density list", FindingSeverity::Warning);
        }
    }
}

}  // namespace bm
