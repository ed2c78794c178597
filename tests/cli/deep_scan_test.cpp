// --deep-scan from the command line: a sound store lists and analyses the
// same with and without it, and a store whose index roots are lost is
// analysed, saved into a clean store and read again with what the scan
// brought back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "check/store_checker.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

TEST(CliDeepScan, ASoundStoreListsAndAnalysesTheSameWithAndWithoutIt) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-deep-sound");
    const auto plain = RunCli({"-q", "list", "--json", store.string()}, home);
    const auto deep = RunCli({"-q", "list", "--json", "--deep-scan", store.string()}, home);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_EQ(json::parse(deep.out), json::parse(plain.out));

    const auto analysed = RunCli({"-q", "analyze", "--json", store.string()}, home);
    const auto deepAnalysed = RunCli({"-q", "analyze", "--json", "--deep-scan", store.string()}, home);
    ASSERT_EQ(deepAnalysed.exitCode, 0) << deepAnalysed.err;
    EXPECT_EQ(json::parse(deepAnalysed.out)["mailFolders"], json::parse(analysed.out)["mailFolders"]);
}

TEST(CliDeepScan, AStoreWithoutIndexRootsIsAnalysedAndSavedCleanly) {
    BM_REQUIRE_STORE(sound, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-deep-damaged");
    const fs::path store = home / "damaged.ost";
    ASSERT_TRUE(bmtest::DamagedCopy(sound, store, bmtest::Damage::RootOffsetsZeroed));

    const auto soundAnalysis = RunCli({"-q", "analyze", "--json", sound.string()}, home);
    ASSERT_EQ(soundAnalysis.exitCode, 0) << soundAnalysis.err;
    // The scan runs by itself: the index walk finds nothing.
    const auto damagedAnalysis = RunCli({"-q", "analyze", "--json", store.string()}, home);
    // An item whose block the scan cannot find either is listed, and the
    // exit code says some were not recovered.
    const json damagedJson = json::parse(damagedAnalysis.out);
    const json& account = damagedJson["reconciliation"];
    const long lost = account["totals"]["notRecovered"].get<long>();
    EXPECT_EQ(account["notRecovered"].size(), static_cast<std::size_t>(lost));
    ASSERT_EQ(damagedAnalysis.exitCode, lost > 0 ? 3 : 0) << damagedAnalysis.err << damagedAnalysis.out;
    EXPECT_GT(account["totals"]["foundByScan"].get<long>(), 0);
    const long soundMail = MailItemsOf(json::parse(soundAnalysis.out));
    const long recoveredMail = MailItemsOf(damagedJson);
    EXPECT_GE(recoveredMail * 100, soundMail * 95) << damagedAnalysis.out;

    const auto saved = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--deep-scan", "--json"}, home);
    const json result = json::parse(saved.out);
    // The save loses what the analysis could not read, and nothing else.
    EXPECT_EQ(result["reconciliation"]["totals"]["notRecovered"].get<long>(), lost) << saved.out;
    ASSERT_EQ(saved.exitCode, lost > 0 ? 3 : 0) << saved.err << saved.out;
    // Items lost make the run a partial one, not a completed one.
    EXPECT_EQ(result["outcome"], lost > 0 ? "partial" : "completed");
    ASSERT_EQ(result["outputStores"].size(), 1u);
    const fs::path output = result["outputStores"][0].get<std::string>();
    bmtest::ExpectStrictlyClean(output);

    // Every mail the damaged store gave back is in the new store.
    const auto reread = RunCli({"-q", "analyze", "--json", output.string()}, home);
    ASSERT_EQ(reread.exitCode, 0) << reread.err;
    EXPECT_EQ(MailItemsOf(json::parse(reread.out)), recoveredMail);
}

}  // namespace
}  // namespace bm
