// Mail that sits directly in the top folder is saved into the new store's
// top folder, and the run's account shows nothing lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

std::set<std::string> SubjectsIn(const json& listing, const std::string& path) {
    std::set<std::string> out;
    for (const json& f : listing["folders"])
        if (f["path"] == path)
            for (const json& i : f["items"]) out.insert(i["subject"].get<std::string>());
    return out;
}

TEST(CliTopFolder, ItemsInTheTopFolderAreSavedThereAndNothingIsLost) {
    const fs::path home = bmtest::ScratchDir("cli-top-folder");
    const fs::path store = home / "top.ost";
    {
        auto writer = pst::PstStore::Create(store, {});
        for (int i = 0; i < 7; ++i)
            writer->AddMessage(writer->ipmSubtree(), bmtest::MessageOf("IPM.Note", "top " + std::to_string(i)));
        writer->AddMessage(writer->CreateFolder(writer->ipmSubtree(), "Inbox"), bmtest::MessageOf("IPM.Note", "in"));
        writer->Finish();
    }
    const auto saved = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    const json result = json::parse(saved.out);
    EXPECT_EQ(result["reconciliation"]["totals"]["saved"], 8) << saved.out;
    EXPECT_EQ(result["reconciliation"]["totals"]["notRecovered"], 0);
    EXPECT_TRUE(result["reconciliation"]["notRecovered"].empty());

    const fs::path output = result["outputStores"][0].get<std::string>();
    bmtest::ExpectStrictlyClean(output);
    const auto listed = RunCli({"-q", "list", "--json", output.string()}, home);
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const json listing = json::parse(listed.out);
    std::set<std::string> expected;
    for (int i = 0; i < 7; ++i) expected.insert("top " + std::to_string(i));
    EXPECT_EQ(SubjectsIn(listing, "Personal Folders\\"), expected);
    EXPECT_EQ(SubjectsIn(listing, "Personal Folders\\Inbox\\"), std::set<std::string>{"in"});
}

}  // namespace
}  // namespace bm
