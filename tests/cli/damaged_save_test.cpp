// brightmend-cli save on a store with a damaged item: the run names it,
// says so in its JSON and exits 3; the same store intact exits 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli_runner.h"
#include "support/damaged_mail_store.h"
#include "support/test_paths.h"

namespace bmtest {
namespace {

using json = nlohmann::json;

TEST(CliSaveDamaged, AnItemSavedFromADamagedBlockIsNamedAndTheRunExitsThree) {
    const fs::path home = ScratchDir("cli-save-damaged");
    const fs::path store = WriteMailStore(home);
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "intact");
        if (damaged) Damage(store, Spot::BodyByte, "long body");
        const fs::path out = home / (damaged ? "out-damaged" : "out-intact");
        fs::create_directories(out);
        const CliResult r =
            RunCli({"save", store.string(), "--all", "--to", out.string(), "--json", "--mark-damaged"}, home);
        ASSERT_EQ(r.exitCode, damaged ? 3 : 0) << r.out << r.err;
        const json j = json::parse(r.out);
        // An item saved with changed content makes the run no whole one.
        EXPECT_EQ(j["outcome"], damaged ? "partial" : "completed");
        EXPECT_EQ(j["message"], damaged ? "4 of 4 items were saved, 1 of them damaged \u2014 see the report"
                                        : "Saving completed successfully");
        EXPECT_EQ(j["itemsSaved"], 4);
        EXPECT_EQ(j["itemsNotRecovered"], 0);
        EXPECT_EQ(j["itemsDamaged"], damaged ? 1 : 0);
        EXPECT_EQ(j["reconciliation"]["totals"]["damaged"], damaged ? 1 : 0);
        ASSERT_EQ(j["reconciliation"]["damaged"].size(), damaged ? 1u : 0u);
        if (!damaged) continue;
        const json& item = j["reconciliation"]["damaged"][0];
        EXPECT_EQ(item["subject"], "long body");
        EXPECT_EQ(item["folder"], "Personal Folders\\Inbox\\");
        EXPECT_EQ(item["damage"], json::array({"body: 1 block failed its checksum"}));
        EXPECT_TRUE(item["wholeCopyFolder"].is_null());
    }
}

}  // namespace
}  // namespace bmtest
