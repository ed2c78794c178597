// save and export with filters, duplicates left out, the part size and
// parts by year:
// options that are wrong are refused before anything is written, and the
// account of a filtered run adds up (found = saved + left out + duplicates
// + not recovered) in the JSON, the text and the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "support/synced_store.h"
#include "support/test_paths.h"

namespace bmtest {
namespace {

using namespace cli_names;

TEST(CliFilters, WrongFilterAndPartSizeOptionsAreUsageErrorsAndWriteNothing) {
    const fs::path home = ScratchDir("cli-filter-usage");
    const fs::path store = WriteSyncedStore(home / "synced.ost");
    const fs::path out = home / "out";
    fs::create_directories(out);
    struct Case {
        std::vector<std::string> options;
        const char* said;
    };
    const Case cases[] = {
        {{"--since", "2021-02-30"}, "--since 2021-02-30: not a date"},
        {{"--until", "yesterday"}, "--until yesterday: not a date"},
        {{"--since", "2021-01-02", "--until", "2021-01-01"}, "is not after --since"},
        {{"--from", ""}, "--from needs an address"},
        {{"--class", ""}, "--class needs a message class"},
        {{"--split-size", "10M"}, "--split-size 10M: give a size from 100M to 50G"},
        {{"--split-size", "51G"}, "--split-size 51G"},
        {{"--split-size", "4X"}, "--split-size 4X"},
        {{"--split-by", "month"}, "--split-by month: the one way to split is by year"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-q", "save", store.string(), "--to", out.string(), "--all"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const CliResult r = RunCli(args, home);
        EXPECT_EQ(r.exitCode, 2) << c.said << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        // The batch refuses them once, before any store's save.
        args[2] = "--batch";
        args.insert(args.begin() + 3, home.string());
        const CliResult batch = RunCli(args, home);
        EXPECT_EQ(batch.exitCode, 2) << c.said << batch.err;
    }
    const CliResult exported =
        RunCli({"-q", "export", store.string(), "--to", out.string(), "--format", "mbox", "--all", "--until", "x"}, home);
    EXPECT_EQ(exported.exitCode, 2) << exported.err;
    EXPECT_TRUE(fs::is_empty(out));
}

TEST(CliFilters, AFilteredSaveAndExportWithoutCopiesAccountForEveryItem) {
    const fs::path home = ScratchDir("cli-filter-run");
    const fs::path store = WriteSyncedStore(home / "synced.ost");
    // Of the Inbox's nine, the two contacts were created in 2018 and two
    // mails are copies; the Archive's one mail is kept.
    const std::vector<std::string> filter{"--all", "--since", "2019-01-01", "--dedupe", "--split-size", "700M"};
    std::vector<std::string> save{"-q", "save", store.string(), "--output", (home / "new.pst").string(), "--json"};
    save.insert(save.end(), filter.begin(), filter.end());
    const CliResult saved = RunCli(save, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.out << saved.err;
    const json s = json::parse(saved.out);
    EXPECT_EQ(s["outcome"], "completed");
    EXPECT_EQ(s["itemsSaved"], 6);
    EXPECT_EQ(s["itemsLeftOutByFilter"], 2);
    EXPECT_EQ(s["itemsDuplicate"], 2);
    const json& totals = s["reconciliation"]["totals"];
    EXPECT_EQ(totals["foundByIndex"], 10);
    EXPECT_EQ(totals["saved"].get<int>() + totals["leftOutByFilter"].get<int>() + totals["duplicates"].get<int>() +
                  totals["notRecovered"].get<int>(),
              10);
    EXPECT_EQ(s["reconciliation"]["duplicates"].size(), 2u);
    ExpectStrictlyClean(home / "new.pst");
    const std::string report = ReadTextFile(s["report"].get<std::string>());
    EXPECT_NE(report.find("Filter: since 2019-01-01, duplicates left out"), std::string::npos) << report;
    EXPECT_NE(report.find("left out by the filter 2, duplicates left out 2"), std::string::npos) << report;
    EXPECT_NE(report.find("Duplicates left out: 2"), std::string::npos) << report;

    // The export goes through the same run, with the same account.
    std::vector<std::string> exporting{"-q", "export", store.string(), "--output", (home / "mail").string(),
                                       "--format", "mbox", "--json"};
    exporting.insert(exporting.end(), filter.begin(), filter.end() - 2);
    const CliResult exported = RunCli(exporting, home);
    ASSERT_EQ(exported.exitCode, 0) << exported.out << exported.err;
    const json e = json::parse(exported.out);
    EXPECT_EQ(e["reconciliation"]["totals"], totals);
    // Without the options the copies and the old contacts are there too.
    const CliResult plain = RunCli({"-q", "save", store.string(), "--output", (home / "all.pst").string(), "--all",
                                    "--json"}, home);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(json::parse(plain.out)["itemsSaved"], 10);

    // By year: three stores named after the one asked for, which is not
    // written itself; the report beside them has its name.
    const CliResult byYear = RunCli({"-q", "save", store.string(), "--output", (home / "years.pst").string(), "--all",
                                     "--split-by", "year", "--json"}, home);
    ASSERT_EQ(byYear.exitCode, 0) << byYear.err;
    const json y = json::parse(byYear.out);
    std::vector<std::string> names;
    for (const json& p : y["outputStores"]) {
        names.push_back(fs::path(p.get<std::string>()).filename().string());
        ExpectStrictlyClean(p.get<std::string>());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"years (2018).pst", "years (2019).pst", "years (2020).pst"}));
    EXPECT_EQ(y["itemsSaved"], 10);
    EXPECT_EQ(fs::path(y["report"].get<std::string>()).filename(), "years report.txt");
    EXPECT_FALSE(fs::exists(home / "years.pst"));
}

}  // namespace
}  // namespace bmtest
