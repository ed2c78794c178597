#include "output/store_checker.h"

#include <algorithm>
#include <cstdio>

namespace bm {

std::size_t CheckReport::errorCount() const {
    return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
        return f.severity == FindingSeverity::Error;
    }));
}
std::size_t CheckReport::warningCount() const { return findings.size() - errorCount(); }

CheckReport CheckStore(const std::filesystem::path&) {
    CheckReport report;
    report.notChecked = true;
    return report;
}

std::string FormatFinding(const Finding& finding) {
    char where[32];
    std::snprintf(where, sizeof where, "0x%08llx", static_cast<unsigned long long>(finding.offset));
    return std::string(finding.severity == FindingSeverity::Error ? "error" : "warning") + " at " + where + ": " +
           finding.text;
}

}  // namespace bm
