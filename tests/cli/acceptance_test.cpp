// Stores saved by brightmend-cli, held to what other readers demand: for
// every shared store and the demo store, `save --all` gives a store that
// Microsoft's open reader (opst-validate) reads without an error, that our
// own checker passes with its strict rules, that pst-extractor opens and
// lists with the same items per folder as pypff, and that readpst and
// pffexport each write out with the same items per folder as they do for
// the source. Each outside reader is optional: the test skips, saying why,
// when it is missing.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "engine/engine_test_helpers.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;
using bmtest::Python;
using bmtest::RunShell;
using bmtest::Shell;

fs::path OpstValidate() {
    const fs::path stores = bmtest::SharedStoresDir();
    if (stores.empty()) return {};
    const fs::path tool = stores.parent_path() / "tools" / "opst-validate";
    return fs::exists(tool) ? tool : fs::path{};
}

// pst-extractor, installed once into the build tree; empty with the reason
// in `why` when it cannot be had.
fs::path PstExtractorModules(std::string& why) {
    const fs::path dir = fs::path(BRIGHTMEND_BINARY_DIR) / "npm-readers";
    const Shell install =
        RunShell("sh " + ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/install_pst_extractor.sh") + " " +
                     ShellQuote(dir.string()),
                 fs::temp_directory_path() / ("bm-npm-install-" + std::to_string(::getpid()) + ".txt"));
    if (install.code != 0) {
        why = "pst-extractor not available: " + install.text;
        return {};
    }
    return dir / "node_modules";
}

std::string SaveAll(const fs::path& store, const fs::path& home) {
    const CliResult r = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    if (r.exitCode != 0) return {};
    const auto j = nlohmann::json::parse(r.out);
    if (j["outputStores"].size() != 1u) {
        ADD_FAILURE() << r.out;
        return {};
    }
    return j["outputStores"][0].get<std::string>();
}

// The crate behind opst-validate stops reading a property context at the
// first value of type PtypObject, so every attachment that holds its data as
// an object (an embedded message, an OLE object) loses the attach method
// that sorts after it: the crate reports each such attachment once, on any
// store, client-written ones included. Those reports are the reader's limit,
// not a fault of the store, as long as there is exactly one per such
// attachment; pypff counts them.
constexpr std::string_view kCrateObjectLimit = ": Missing PidTagAttachMethod on message";

int ObjectAttachments(const fs::path& output, const fs::path& home) {
    const Shell count = RunShell(Python() + " " + ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/list_folders.py") +
                                     " --object-attachments " + ShellQuote(output.string()),
                                 home / "objects.txt");
    if (count.code != 0) return -1;
    return std::stoi(count.text);
}

// opst-validate and check --strict find nothing in a saved store.
void ExpectAcceptedByTheCheckers(const fs::path& output, const fs::path& home) {
    const CliResult check = RunCli({"check", "--strict", output.string()}, home);
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_NE(check.out.find(": 0 error(s), 0 warning(s)"), std::string::npos) << check.out;

    const fs::path tool = OpstValidate();
    if (tool.empty()) GTEST_SKIP() << "opst-validate not present next to the shared stores";
    const Shell v = RunShell(ShellQuote(tool.string()) + " --no-rebuild " + ShellQuote(output.string()), home / "opst.txt");
    int errors = 0;
    int objectLimit = 0;
    std::istringstream lines(v.text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("ERROR ")) continue;
        if (line.starts_with("ERROR [attachment] ") && line.ends_with(kCrateObjectLimit)) {
            ++objectLimit;
        } else {
            ++errors;
        }
    }
    EXPECT_EQ(errors, 0) << v.text;
    EXPECT_NE(v.text.find("SUMMARY "), std::string::npos) << v.text;
    if (objectLimit == 0) {
        EXPECT_EQ(v.code, 0) << v.text;
        EXPECT_NE(v.text.find(" errors=0 "), std::string::npos) << v.text;
        return;
    }
    const int objects = ObjectAttachments(output, home);
    if (objects < 0) GTEST_SKIP() << "pypff is needed to tell opst-validate's object-attachment reports from faults";
    EXPECT_EQ(objectLimit, objects) << v.text;
}

// pst-extractor opens the store and sees the same items per folder as pypff.
void ExpectSameListingInPstExtractorAndPypff(const fs::path& output, const fs::path& home) {
    const Shell pypff = RunShell(Python() + " " + ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/list_folders.py") +
                                     " " + ShellQuote(output.string()),
                                 home / "pypff.txt");
    if (pypff.code == 77) GTEST_SKIP() << pypff.text;
    ASSERT_EQ(pypff.code, 0) << pypff.text;

    std::string why;
    const fs::path modules = PstExtractorModules(why);
    if (modules.empty()) GTEST_SKIP() << why;
    // The reader is bounded in time: a store that sends it into a loop fails.
    const Shell extractor =
        RunShell("timeout 300 node " + ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/list_folders.js") + " " +
                     ShellQuote(modules.string()) + " " + ShellQuote(output.string()),
                 home / "extractor.txt");
    ASSERT_EQ(extractor.code, 0) << "pst-extractor could not read the store:\n" << extractor.text;
    EXPECT_EQ(extractor.text, pypff.text);
    EXPECT_GT(std::count(pypff.text.begin(), pypff.text.end(), '\n'), 2);
}

// readpst and pffexport write out the saved store with the same items per
// folder as the source. Each is compared with itself: what a reader has no
// form for (readpst writes no tasks, sticky notes or distribution lists, and
// neither writes associated items) is left out of both sides alike.
void ExpectTheSourcesItemsPerFolderInReadpstAndPffexport(const fs::path& source, const fs::path& output,
                                                          const fs::path& home) {
    std::string missing;
    for (const std::string reader : {"readpst", "pffexport"}) {
        SCOPED_TRACE(reader);
        const auto list = [&](const fs::path& store, const char* side) {
            return RunShell("timeout 300 " + Python() + " " +
                                ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/list_reader_folders.py") + " " +
                                reader + " " + ShellQuote(store.string()),
                            home / (reader + "-" + side + ".txt"));
        };
        const Shell before = list(source, "source");
        if (before.code == 77) {
            missing += before.text;
            continue;
        }
        ASSERT_EQ(before.code, 0) << before.text;
        const Shell after = list(output, "saved");
        ASSERT_EQ(after.code, 0) << reader << " could not read the saved store:\n" << after.text;
        EXPECT_EQ(after.text, before.text);
        EXPECT_GT(std::count(before.text.begin(), before.text.end(), '\n'), 1);
    }
    if (!missing.empty()) GTEST_SKIP() << missing;
}

class SavedStoreAcceptance : public ::testing::TestWithParam<const char*> {};

TEST_P(SavedStoreAcceptance, SaveAllPassesEveryCheckerAndReadsTheSameInEveryReader) {
    BM_REQUIRE_STORE(store, GetParam());
    const fs::path home = bmtest::ScratchDir("cli-acceptance-" + bmtest::StoreTestName(GetParam()));
    const std::string output = SaveAll(store, home);
    ASSERT_FALSE(output.empty());
    ExpectTheSourcesItemsPerFolderInReadpstAndPffexport(store, output, home);
    ExpectSameListingInPstExtractorAndPypff(output, home);
    ExpectAcceptedByTheCheckers(output, home);
}

INSTANTIATE_TEST_SUITE_P(SharedStores, SavedStoreAcceptance, ::testing::ValuesIn(bmtest::kSharedStoreNames),
                         [](const auto& info) { return bmtest::StoreTestName(info.param); });

TEST(SavedStoreAcceptance, SaveAllOfTheDemoStorePassesEveryCheckerAndReadsTheSameInEveryReader) {
    const fs::path home = bmtest::ScratchDir("cli-acceptance-demo");
    const fs::path store = home / "outlook.ost";
    const std::string make = ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + ShellQuote(store.string()) + " >/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string output = SaveAll(store, home);
    ASSERT_FALSE(output.empty());
    ExpectTheSourcesItemsPerFolderInReadpstAndPffexport(store, output, home);
    ExpectSameListingInPstExtractorAndPypff(output, home);
    ExpectAcceptedByTheCheckers(output, home);
}

// The saved holidays folder once put a B-tree page where the second
// allocation map belongs; the map overwrote it and the store read as empty.
TEST(SavedStoreAcceptance, ASingleFolderSaveWhosePageFallsOnAMapSlotStaysReadable) {
    BM_REQUIRE_STORE(store, "4k-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-acceptance-map-slot");
    const CliResult r = RunCli({"-q", "save", store.string(), "--to", home.string(), "--folder",
                                "Personal Folders\\Calendar\\United States holidays", "--json"},
                               home);
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    const auto j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["outputStores"].size(), 1u);
    const std::string output = j["outputStores"][0].get<std::string>();
    const CliResult list = RunCli({"list", output}, home);
    EXPECT_EQ(list.exitCode, 0) << list.err;
    std::smatch items;
    ASSERT_TRUE(std::regex_search(list.out, items, std::regex(R"((\d+) items)"))) << list.out;
    EXPECT_GT(std::stoi(items[1].str()), 0) << list.out;
    ExpectAcceptedByTheCheckers(output, home);
}

}  // namespace
}  // namespace bm
