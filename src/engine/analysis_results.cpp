#include "engine/analysis_results.h"

namespace bm {

WellKnownCounts AnalysisResults::counts() const {
    return Read([](const AnalysisData& d) { return d.counts; });
}

std::vector<FolderSummary> AnalysisResults::folderSummaries() const {
    return Read([](const AnalysisData& d) {
        std::vector<FolderSummary> out;
        out.reserve(d.folders.size());
        for (const FolderRecord& f : d.folders) out.push_back({f.path, f.nid, f.count});
        return out;
    });
}

std::vector<FolderTreeEntry> AnalysisResults::tree() const {
    return Read([](const AnalysisData& d) { return d.tree; });
}

void AnalysisResults::Clear() {
    Modify([](AnalysisData& d) { d = AnalysisData(); });
}

}  // namespace bm
