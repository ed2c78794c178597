// The words brightmend-cli uses where a message was wrong for the situation
// it reported: each case gives the command line, the exit code, a text the
// message must hold and one it must not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "engine/engine_test_helpers.h"
#include "output/pst/store_writer.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

// An Inbox with one mail that has one attachment.
fs::path OneMailStore(const fs::path& path) {
    auto store = pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    pst::Message m = bmtest::MessageOf("IPM.Note", "the one mail");
    m.attachments.push_back(pst::Attachment::FromBytes("a.txt", {'a'}));
    store->AddMessage(inbox, m);
    store->Finish();
    return path;
}

TEST(CliWords, EachMessageFitsTheSituationItReports) {
    const fs::path home = bmtest::ScratchDir("cli-words");
    const std::string store = OneMailStore(home / "one.ost").string();
    // A destination whose "Repair" cannot be made: a file is in its place.
    const fs::path blocked = home / "blocked";
    fs::create_directories(blocked);
    { std::ofstream(blocked / "Repair") << "a file"; }

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string says;
        std::string never;
    };
    const std::vector<Case> cases = {
        {{"save", store}, 2, "--to DIR or --output FILE is required", "Please Select Any Folder"},
        {{"save", store, "--to", home.string()}, 2, "Please Select Any Folder (--all, --folder PATH or --tree PATH)", ""},
        {{"save", store, "--all", "--output", "/no/such/dir/x.pst"}, 1, "/no/such/dir: no such directory",
         "Saving path doesn't exist"},
        {{"save", store, "--all", "--output", home.string()}, 1, "is a directory", "exists already"},
        {{"save", store, "--all", "--to", blocked.string()}, 1, "cannot create the folder", "filesystem error"},
        {{"-V"}, 2, "unknown option -V", "A subcommand is required"},
        {{"bogus", store}, 2, "unknown command \"bogus\"", "A subcommand is required"},
        {{}, 2, "A subcommand is required", ""},  // when there is no command at all, it is
        {{"analyze", "/dev/null"}, 1, "is a character device", ""},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        const CliResult r = RunCli(c.args, home);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        if (!c.never.empty()) {
            EXPECT_EQ(r.err.find(c.never), std::string::npos) << r.err;
        }
    }
    // A store that cannot be read prints its message and no table of zeros.
    EXPECT_EQ(RunCli({"-q", "analyze", "/dev/null"}, home).out, "");
}

TEST(CliWords, CountsGoWithTheirNounInTheSingularToo) {
    const fs::path home = bmtest::ScratchDir("cli-words-counts");
    const std::string store = OneMailStore(home / "one.ost").string();
    const CliResult r = RunCli({"-q", "list", store}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("the one mail  [1 attachment]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 1 item, 1 attachment\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("1 items"), std::string::npos) << r.out;
}

TEST(CliWords, SearchPrintsOneJsonObjectWithJson) {
    const fs::path home = bmtest::ScratchDir("cli-words-search");
    fs::create_directories(home / "tree" / "deeper");
    OneMailStore(home / "tree" / "deeper" / "found.ost");
    const CliResult r = RunCli({"-q", "search", "--json", (home / "tree").string()}, home);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["schema"], "brightmend.search/1");
    EXPECT_EQ(j["outcome"], "completed");
    ASSERT_EQ(j["files"].size(), 1u) << r.out;
    EXPECT_EQ(j["files"][0]["path"], (home / "tree" / "deeper" / "found.ost").string());
    EXPECT_EQ(j["files"][0]["name"], "found.ost");

    const CliResult missing = RunCli({"-q", "search", "--json", (home / "nowhere").string()}, home);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(json::parse(missing.out)["outcome"], "failed");
}

}  // namespace
}  // namespace bm
