// Small file and message helpers for the engine tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/analysis_run.h"
#include "engine/saving_run.h"

#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace bmtest {

inline void WriteTextFile(const std::filesystem::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

inline std::string ReadTextFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A message with only its class and subject.
inline bm::pst::Message MessageOf(const std::string& cls, const std::string& subject) {
    bm::pst::Message m;
    m.properties.SetString(bm::pst::tags::kMessageClass, cls);
    m.properties.SetString(bm::pst::tags::kSubject, subject);
    return m;
}

// Starts `run` on the store at `path` and waits for it to end; its outcome.
inline bm::AnalysisOutcome AnalyseToEnd(bm::AnalysisRun& run, const std::filesystem::path& path) {
    bm::AnalysisSource source;
    source.sourcePath = path.string();
    EXPECT_TRUE(run.Start(source));
    run.Wait();
    return run.outcome();
}

// What a saving run of `folders` of `source` into `destination` gave.
struct SavedRun {
    bm::AnalysisOutcome outcome = bm::AnalysisOutcome::Failed;
    std::vector<std::filesystem::path> outputStores;
    bm::Reconciliation account;
};

inline SavedRun SaveFolders(const std::filesystem::path& source, const std::filesystem::path& destination,
                            const std::vector<std::string>& folders) {
    class Quiet : public bm::SavingObserver {} observer;
    bm::SavingRun run(observer, nullptr);
    bm::SavingSource s;
    s.sourcePath = source.string();
    s.destination = destination;
    s.selected.SelectAll(folders);
    EXPECT_TRUE(run.Start(s));
    run.Wait();
    return {run.outcome(), run.outputStores(), run.reconciliation()};
}

}  // namespace bmtest
