#include "check/check_report.h"

#include <algorithm>
#include <utility>

namespace bm {

const char* FindingKindName(FindingKind kind) {
    switch (kind) {
        case FindingKind::File: return "file";
        case FindingKind::Header: return "header";
        case FindingKind::Page: return "page";
        case FindingKind::Block: return "block";
        case FindingKind::InternalBlock: return "internalBlock";
        case FindingKind::Reference: return "reference";
        case FindingKind::Overlap: return "overlap";
        case FindingKind::AllocationMap: return "allocationMap";
        case FindingKind::FolderTable: return "folderTable";
        case FindingKind::ClientRule: return "clientRule";
    }
    return "unknown";
}

void AddFinding(CheckReport& report, FindingSeverity severity, FindingKind kind, std::uint64_t at, std::string text) {
    ++report.kindCounts[static_cast<std::size_t>(kind)];
    if (report.findings.size() >= kMaxCheckFindings) {
        ++report.findingsDropped;
        return;
    }
    report.findings.push_back({severity, kind, at, std::move(text)});
}

std::size_t CheckReport::errorCount() const {
    return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
        return f.severity == FindingSeverity::Error;
    }));
}
std::size_t CheckReport::warningCount() const { return findings.size() - errorCount(); }

}  // namespace bm
