// brightmend-cli export, run as a user runs it: every store exports in every
// mail format to files that independent readers (Python's email and
// mailbox, notmuch, python3-icalendar, python3-vobject) read back as the
// account says; the account is save's, on sound and damaged stores; bad
// input is refused with its exit code; a stop leaves only whole files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "support/calendar_and_signed_store.h"
#include "support/inbox_store.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

namespace bmtest {
namespace {

using namespace cli_names;

constexpr const char* kFormats[] = {"mbox", "maildir", "eml"};

// The export's JSON after a run that must end with `exitCode`.
json Export(const fs::path& store, const fs::path& folder, const std::string& format, const fs::path& home,
            int exitCode = 0) {
    const CliResult r =
        RunCli({"-q", "export", store.string(), "--output", folder.string(), "--format", format, "--all", "--json"}, home);
    EXPECT_EQ(r.exitCode, exitCode) << r.out << r.err;
    return json::parse(r.out, nullptr, false);
}

// The export folder read back by the independent readers, held to `account`
// and to what `expected` says particular items must be (see
// check_export.py).
void ExpectReadBack(const fs::path& folder, const std::string& format, const json& account, const fs::path& home,
                    const json& expected = json::object()) {
    const fs::path file = home / (format + "-account.json");
    WriteTextFile(file, account.dump());
    const fs::path expectedFile = home / (format + "-expected.json");
    WriteTextFile(expectedFile, expected.dump());
    const Shell check = RunShell(Python() + " " + ShellQuote(BRIGHTMEND_CLI_TESTS "/check_export.py") + " " +
                                     ShellQuote(folder.string()) + " " + format + " " + ShellQuote(file.string()) +
                                     " " + ShellQuote(expectedFile.string()),
                                 home / (format + "-check.txt"));
    EXPECT_EQ(check.code, 0) << check.text;
}

// Every file below `dir` whose name says it is still being written.
std::vector<std::string> UnfinishedFiles(const fs::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir, ec))
        if (e.path().filename().string().starts_with(".part-")) found.push_back(e.path().string());
    return found;
}

// Items save counts that the export leaves out by design: the associated
// ones, counted apart.
void ExpectTheAccountOfSave(const json& exported, const json& saved) {
    const json& e = exported["reconciliation"]["totals"];
    const json& s = saved["reconciliation"]["totals"];
    EXPECT_EQ(e["saved"].get<long>() + exported["associatedLeftOut"].get<long>(), s["saved"].get<long>());
    EXPECT_EQ(e["notRecovered"], s["notRecovered"]);
    // Of save's damaged items, those the export takes.
    long damagedItems = 0;
    for (const json& d : saved["reconciliation"]["damaged"])
        if ((d["nid"].get<long>() & 0x1f) != 0x08) ++damagedItems;
    EXPECT_EQ(e["damaged"].get<long>(), damagedItems);
    EXPECT_EQ(exported["outcome"], saved["outcome"]);
    const json& w = exported["written"];
    EXPECT_EQ(w["messages"].get<long>() + w["contacts"].get<long>() + w["calendarItems"].get<long>(),
              e["saved"].get<long>());
}

class StoreExport : public ::testing::TestWithParam<const char*> {};

TEST_P(StoreExport, EveryFormatReadsBackInIndependentReadersWithSavesAccount) {
    const fs::path home = ScratchDir(std::string("cli-export-") + GetParam());
    fs::path store;
    if (std::string(GetParam()) == "demo") {
        store = home / "outlook.ost";
        const std::string make = ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + ShellQuote(store.string()) + " >/dev/null";
        ASSERT_EQ(std::system(make.c_str()), 0);
    } else {
        store = SharedStore(GetParam());
        if (store.empty()) GTEST_SKIP() << "shared store " << GetParam() << " not present";
    }
    const CliResult save = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    const json saved = json::parse(save.out, nullptr, false);
    ASSERT_FALSE(saved.is_discarded()) << save.err;
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const fs::path folder = home / (std::string("export-") + format);
        const json exported = Export(store, folder, format, home, save.exitCode);
        ASSERT_FALSE(exported.is_discarded());
        EXPECT_EQ(exported["schema"], "brightmend.export/1");
        EXPECT_EQ(exported["format"], format);
        EXPECT_EQ(fs::path(exported["folder"].get<std::string>()), folder);
        ExpectTheAccountOfSave(exported, saved);
        EXPECT_EQ(UnfinishedFiles(folder), std::vector<std::string>());
        // The report is beside the export folder, never inside it, and
        // names it.
        const std::string report = ReadTextFile(home / ("export-" + std::string(format) + " report.txt"));
        EXPECT_NE(report.find("Brightmend export report\n"), std::string::npos) << report;
        EXPECT_NE(report.find("Export folder: " + folder.string() + "\n"), std::string::npos) << report;
        EXPECT_EQ(json::parse(ReadTextFile(home / ("export-" + std::string(format) + " report.json")))["run"],
                  "export");
        ExpectReadBack(folder, format, exported, home);
    }
}

INSTANTIATE_TEST_SUITE_P(SharedStores, StoreExport,
                         ::testing::Values("demo", "4k-sample.ost", "unicode-sample.ost", "ansi-sample.pst",
                                           "unicode-sample.pst", "unicode-dist-list.pst", "unicode-enron.pst",
                                           "unicode-submessage.pst"),
                         [](const auto& info) { return StoreTestName(info.param); });

// A copy whose header or first index page is broken exports what save
// recovers from it, with the same account.
TEST(CliExport, ADamagedCopyExportsWhatSaveRecovers) {
    BM_REQUIRE_STORE(sound, "unicode-sample.ost");
    for (const Damage damage : {Damage::HeaderScrambled, Damage::InnerIndexPage}) {
        SCOPED_TRACE(DamageName(damage));
        const fs::path home = ScratchDir("cli-export-damaged-" + std::to_string(static_cast<int>(damage)));
        const fs::path store = home / "damaged.ost";
        ASSERT_TRUE(DamagedCopy(sound, store, damage));
        const CliResult save = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
        const json saved = json::parse(save.out, nullptr, false);
        ASSERT_FALSE(saved.is_discarded()) << save.err;
        ASSERT_GT(saved["itemsSaved"].get<long>(), 0);
        const fs::path folder = home / "export";
        const json exported = Export(store, folder, "mbox", home, save.exitCode);
        ASSERT_FALSE(exported.is_discarded());
        ExpectTheAccountOfSave(exported, saved);
        ExpectReadBack(folder, "mbox", exported, home);
    }
}

// A shell command's exit code, its output dropped.
bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Through the command, in every format: the weekly series with a deleted
// and a moved occurrence across the change to summer time expands (with
// python3-dateutil, from the exported VTIMEZONE, RRULE, EXDATE and
// RECURRENCE-ID) to the occurrences its pattern gives, and a signed mail
// keeps its signed entity byte for byte and still verifies with openssl.
TEST(CliExport, ASeriesKeepsItsOccurrencesAndASignedMailStillVerifiesInEveryFormat) {
    if (!Succeeds(Python() + " -c 'import dateutil.rrule'")) GTEST_SKIP() << "python3-dateutil is not installed";
    if (!Succeeds("openssl version")) GTEST_SKIP() << "openssl is not installed";
    const fs::path home = ScratchDir("cli-export-series-signed");
    const std::string d = ShellQuote(home.string()) + "/";
    ASSERT_TRUE(Succeeds("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=signer -days 2 -keyout " + d +
                         "key.pem -out " + d + "cert.pem"));
    // A line that starts "From ": the MBOX quotes it, and a reader must get
    // the signed bytes back as they were.
    const std::string content = "Signed text, gr\xc3\xbc\xc3\x9f" "e.\r\nFrom here on, a second line.\r\n";
    WriteTextFile(home / "body.txt", content);
    ASSERT_TRUE(Succeeds("openssl smime -sign -text -in " + d + "body.txt -signer " + d + "cert.pem -inkey " + d +
                         "key.pem -out " + d + "signed.eml"));
    const std::string signedMail = ReadTextFile(home / "signed.eml");
    // What a store keeps: the multipart/signed entity without the mail's own headers.
    const auto type = signedMail.find("Content-Type:");
    ASSERT_NE(type, std::string::npos) << signedMail;
    const fs::path entity = home / "entity.txt";
    WriteTextFile(entity, signedMail.substr(type));
    const fs::path store = WriteCalendarAndSignedStore(home / "source.pst", "signed mail", ReadTextFile(entity));
    const json expected = {
        {"series", {{"Weekly review", {{"zone", "Europe/Berlin"}, {"occurrences", WeeklyReviewOccurrences()}}}}},
        {"signed", {{"signed mail", {{"entity", entity.string()}, {"content", content}}}}},
    };
    for (const char* format : kFormats) {
        SCOPED_TRACE(format);
        const fs::path folder = home / (std::string("export-") + format);
        const json exported = Export(store, folder, format, home);
        ASSERT_FALSE(exported.is_discarded());
        EXPECT_EQ(exported["written"]["messages"], 1);
        EXPECT_EQ(exported["written"]["calendarItems"], 1);
        ExpectReadBack(folder, format, exported, home, expected);
    }
}

TEST(CliExport, BadInputIsRefusedWithItsExitCodeAndNothingIsMade) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = ScratchDir("cli-export-refused");
    const fs::path taken = home / "taken";
    fs::create_directories(taken);
    const fs::path fifo = home / "pipe.ost";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path plainFile = home / "plain.txt";
    WriteTextFile(plainFile, "x");
    const std::string s = store.string();
    const struct {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {"missing store", {"export", (home / "none.ost").string(), "--to", home.string(), "--format", "mbox", "--all"}, 1, "none.ost"},
        {"FIFO", {"export", fifo.string(), "--to", home.string(), "--format", "mbox", "--all"}, 1, "pipe.ost"},
        {"folder that exists", {"export", s, "--output", taken.string(), "--format", "mbox", "--all"}, 1, "exists"},
        {"--to is no directory", {"export", s, "--to", plainFile.string(), "--format", "mbox", "--all"}, 1, ""},
        {"unknown format", {"export", s, "--to", home.string(), "--format", "pst", "--all"}, 2, "--format"},
        {"no format", {"export", s, "--to", home.string(), "--all"}, 2, "--format"},
        {"no folders", {"export", s, "--to", home.string(), "--format", "eml"}, 2, "Please Select Any Folder"},
        {"no destination", {"export", s, "--format", "eml", "--all"}, 2, "--to"},
        {"unknown folder", {"export", s, "--to", home.string(), "--format", "eml", "--folder", "Nowhere"}, 1, "Nowhere"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RefusedRun run = RunRefused(c.args, home, c.exitCode);
        EXPECT_NE(run.result.err.find(c.says), std::string::npos) << run.result.err;
        EXPECT_EQ(run.json["schema"], "brightmend.export/1");
    }
    EXPECT_FALSE(fs::exists(home / "Export")) << "a refused export made its folder";
    EXPECT_TRUE(fs::is_empty(taken));
}

TEST(CliExport, SigtermPartWayLeavesOnlyWholeFilesAndTheirAccount) {
    const fs::path home = ScratchDir("cli-export-sigterm");
    const fs::path store = WriteInbox(home / "big.ost", 3000, 16 * 1024);
    const fs::path folder = home / "export";
    const pid_t pid =
        SpawnCli({"-q", "export", store.string(), "--output", folder.string(), "--format", "mbox", "--all", "--json"},
                 home);
    ASSERT_GT(pid, 0);
    // The signal goes once the Inbox's mbox file is being written.
    ASSERT_TRUE(WaitForFileEndingIn(folder / "Mail", "Inbox", std::chrono::seconds(60)));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the export ended before it could be stopped";
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadTextFile(home / "stderr.txt");
    const json exported = json::parse(ReadTextFile(home / "stdout.txt"));
    EXPECT_EQ(exported["outcome"], "aborted");
    EXPECT_LT(exported["written"]["messages"].get<long>(), 3000);
    EXPECT_EQ(UnfinishedFiles(folder), std::vector<std::string>());
    ExpectReadBack(folder, "mbox", exported, home);
}

}  // namespace
}  // namespace bmtest
