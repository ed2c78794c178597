// How the store checker writes its findings: numbers in lower-case hex with
// a 0x prefix, and a rule's finding as "node N: rule: expected E, found F".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "check/check_report.h"

namespace bm {

inline std::string CheckHex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

// One error of a client rule about node `nid`; past the report's cap it is
// only counted.
inline void AddRuleFinding(CheckReport& report, std::uint64_t at, std::uint32_t nid, const char* rule,
                           const std::string& expected, const std::string& found) {
    AddFinding(report, FindingSeverity::Error, FindingKind::ClientRule, at,
               "node " + CheckHex(nid) + ": " + rule + ": expected " + expected + ", found " + found);
}

}  // namespace bm
