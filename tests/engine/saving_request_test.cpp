// The save request both faces make: the folders it names are checked
// against the analysis's tree before anything is written, and the options
// reach the saving run's source.
#include <gtest/gtest.h>

#include <variant>

#include "engine/analysis_run.h"
#include "engine/saving_request.h"
#include "support/test_paths.h"

namespace bm {
namespace {

struct RequestCase {
    const char* name;
    std::vector<std::string> folders;
    std::vector<std::string> trees;
    bool all;
    // The selected paths, or the folder refused ("" and no paths: nothing selected).
    std::vector<std::string> selected;
    std::string refused;
};

TEST(SavingRequest, NamedFoldersAreCheckedAgainstTheAnalysisAndSelectedAsAsked) {
    const std::vector<std::string> tree = {"Personal Folders\\Inbox\\", "Personal Folders\\Inbox\\Sub\\",
                                           "Personal Folders\\Inbox2\\"};
    AnalysisObserver observer;
    AnalysisRun analysis(observer, nullptr, bmtest::ScratchDir("saving-request"));
    analysis.results().Modify([&](AnalysisData& d) {
        for (const std::string& path : tree) d.tree.push_back({path, "IPF.Note"});
        d.counts[WellKnownCategory::Inbox] = 7;
    });
    const std::vector<RequestCase> cases = {
        {"one folder, its final backslash left out", {"Personal Folders\\Inbox"}, {}, false,
         {"Personal Folders\\Inbox\\"}, ""},
        {"a tree, not its namesakes", {}, {"Personal Folders\\Inbox\\"}, false,
         {"Personal Folders\\Inbox\\", "Personal Folders\\Inbox\\Sub\\"}, ""},
        {"all: the top folder first", {}, {}, true,
         {"Personal Folders\\", "Personal Folders\\Inbox\\", "Personal Folders\\Inbox\\Sub\\",
          "Personal Folders\\Inbox2\\"},
         ""},
        {"the top folder is always known", {"Personal Folders\\"}, {}, false, {"Personal Folders\\"}, ""},
        {"a folder the store lacks", {"Personal Folders\\Inbox\\", "Personal Folders\\Outbox"}, {}, false, {},
         "Personal Folders\\Outbox\\"},
        {"a tree the store lacks", {}, {"Personal Folders\\Inbox\\Sub\\Deep"}, false, {},
         "Personal Folders\\Inbox\\Sub\\Deep\\"},
        {"nothing named", {}, {}, false, {}, ""},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        SavingRequest request;
        request.sourcePath = "/stores/outlook.ost";
        request.folders = c.folders;
        request.trees = c.trees;
        request.all = c.all;
        request.destination = "/out/Repair";
        request.markDamaged = true;
        request.deepScan = true;
        const auto made = SavingSourceFor(request, analysis);
        if (c.selected.empty()) {
            ASSERT_TRUE(std::holds_alternative<SavingRequestRefused>(made));
            EXPECT_EQ(std::get<SavingRequestRefused>(made).unknownFolder, c.refused);
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<SavingSource>(made));
        const SavingSource& source = std::get<SavingSource>(made);
        EXPECT_EQ(source.selected.paths(), c.selected);
        EXPECT_EQ(source.sourcePath, "/stores/outlook.ost");
        EXPECT_EQ(source.destination, "/out/Repair");
        EXPECT_TRUE(source.markDamaged);
        EXPECT_TRUE(source.deepScan);
        EXPECT_FALSE(source.recoverDeleted);
        EXPECT_EQ(source.analysisCounts[WellKnownCategory::Inbox], 7);
    }
}

}  // namespace
}  // namespace bm
