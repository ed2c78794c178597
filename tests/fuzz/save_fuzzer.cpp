// libFuzzer target over the saving path: a mutated source store is
// analysed (for its folder tree, as the command line does), every folder is
// saved into a new store in a private temporary folder, and that store is
// read by the store checker. A crash, a sanitizer report, a hang, or an
// output store the checker finds an error in is a finding; the checker's
// findings are printed before the run aborts. Inputs are mutated as the
// reading target's are (store_mutation.h).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/saving_run.h"
#include "check/store_checker.h"
#include "store_mutation.h"

namespace {

namespace fs = std::filesystem;

// One private folder for the whole fuzzing process, removed at exit.
class Workspace {
public:
    Workspace() {
        std::string pattern = (fs::exists("/dev/shm") ? std::string("/dev/shm") : fs::temp_directory_path().string()) +
                              "/brightmend-save-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        dir_ = pattern;
        fs::create_directories(dir_ / "app");
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    const fs::path& dir() const { return dir_; }
    fs::path input() const { return dir_ / "input.ost"; }
    fs::path output() const { return dir_ / "Repair"; }

private:
    fs::path dir_;
};

Workspace& TheWorkspace() {
    static Workspace workspace;
    return workspace;
}

bool WriteInput(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    return ok;
}

class Quiet : public bm::AnalysisObserver {};
class QuietSaving : public bm::SavingObserver {};

}  // namespace

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed) {
    return bmfuzz::MutateStoreInput(data, size, maxSize, seed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Workspace& ws = TheWorkspace();
    if (!WriteInput(ws.input(), data, size)) return 0;

    std::vector<std::string> tree;
    bool analysisStopped = false;
    bm::WellKnownCounts analysisCounts;
    {
        Quiet observer;
        bm::AnalysisRun analysis(observer, nullptr, ws.dir() / "app");
        bm::AnalysisSource source;
        source.sourcePath = ws.input().string();
        const bm::AnalysisOutcome outcome = analysis.AnalyzeStore(source);
        if (outcome == bm::AnalysisOutcome::Failed) return 0;
        analysisStopped = outcome == bm::AnalysisOutcome::Aborted;
        analysis.results().Read([&](const bm::AnalysisData& d) {
            for (const bm::FolderTreeEntry& e : d.tree) tree.push_back(e.path);
            analysisCounts = d.counts;
        });
    }

    std::error_code ec;
    fs::remove_all(ws.output(), ec);
    fs::create_directories(ws.output(), ec);
    std::vector<fs::path> stores;
    {
        QuietSaving observer;
        bm::SavingRun run(observer, nullptr);
        bm::SavingSource source;
        source.sourcePath = ws.input().string();
        source.selected.SelectAll(tree);
        source.selected.Select("Personal Folders\\");
        source.destination = ws.output();
        source.analysisStopped = analysisStopped;
        source.analysisCounts = analysisCounts;
        if (!run.Start(std::move(source))) std::abort();
        run.Wait();
        stores = run.outputStores();
    }
    for (const fs::path& store : stores) {
        const bm::CheckReport report = bm::CheckStore(store);
        if (report.errorCount() == 0) continue;
        std::fprintf(stderr, "save_fuzzer: the saved store %s fails the checker:\n", store.c_str());
        for (const bm::Finding& f : report.findings) std::fprintf(stderr, "  %s\n", bm::FormatFinding(f).c_str());
        std::abort();
    }
    fs::remove_all(ws.output(), ec);
    return 0;
}
