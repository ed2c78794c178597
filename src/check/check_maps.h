// The allocation maps against the space the pages and blocks take: every
// unit in use must be marked allocated in its AMap, the PMaps, FMaps and
// FPMaps carry sound trailers, and the header's free-space counters hold
// what the maps give. The density list's trailer is checked where the
// layout has one.
#pragma once

#include <cstdint>
#include <span>

#include "check/check_file_reader.h"
#include "check/check_pages.h"
#include "check/check_report.h"
#include "store/layout.h"

namespace bm {

struct MapCheckInput {
    const StoreLayout& layout;
    std::span<const std::uint8_t> header;  // the header's bytes
    std::uint64_t fileEof;                 // ibFileEof, within the file
};

void CheckAllocationMaps(CheckFileReader& file, const MapCheckInput& input, UsedSpace& used,
                         const CheckOptions& options, CheckReport& report);

}  // namespace bm
