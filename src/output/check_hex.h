// How the store checker writes numbers in its findings: node ids, offsets
// and sizes in lower-case hex with a 0x prefix.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace bm {

inline std::string CheckHex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

}  // namespace bm
