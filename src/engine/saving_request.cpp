#include "engine/saving_request.h"

#include <algorithm>

#include "engine/analysis_run.h"
#include "engine/well_known_counts.h"

namespace bm {

std::variant<SavingSource, SavingRequestRefused> SavingSourceFor(const SavingRequest& request,
                                                                 const AnalysisRun& analysis) {
    std::vector<std::string> tree;
    SavingSource source;
    analysis.results().Read([&](const AnalysisData& d) {
        for (const FolderTreeEntry& e : d.tree) tree.push_back(e.path);
        source.analysisCounts = d.counts;
    });
    // A folder the store does not hold is a mistake to report, not an empty
    // selection to save.
    for (const std::vector<std::string>* named : {&request.folders, &request.trees}) {
        for (const std::string& f : *named) {
            const std::string path = WithFinalBackslash(f);
            if (path != kRootFolderPath && std::find(tree.begin(), tree.end(), path) == tree.end())
                return SavingRequestRefused{path};
        }
    }
    if (request.all) source.selected.SelectAll(tree);
    for (const std::string& f : request.folders) source.selected.Select(f);
    for (const std::string& t : request.trees) source.selected.SelectTree(t, tree);
    if (source.selected.empty()) return SavingRequestRefused{};

    source.sourcePath = request.sourcePath;
    source.destination = request.destination;
    source.outputFile = request.outputFile;
    source.analysisStopped = analysis.outcome() == AnalysisOutcome::Aborted;
    source.deepScan = request.deepScan;
    source.recoverDeleted = request.recoverDeleted;
    source.markDamaged = request.markDamaged;
    source.filter = request.filter;
    source.dedupe = request.dedupe;
    source.storeSizeLimit = request.storeSizeLimit;
    source.splitByYear = request.splitByYear;
    return source;
}

}  // namespace bm
