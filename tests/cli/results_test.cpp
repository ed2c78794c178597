// What brightmend-cli says about a run: a damaged copy's unreadable items
// are listed, one by one, in the JSON, the report files and the activity
// log, and the exit code says some were lost; an output file chosen by name
// is never replaced; a stop signal leaves a valid store and exit code 130;
// and every command's --json output has the shape docs/json.md gives it,
// also when the command fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "engine/log_texts.h"
#include "engine/engine_test_helpers.h"
#include "check/store_checker.h"
#include "support/store_damage.h"
#include "support/test_paths.h"

extern char** environ;

namespace bm {
namespace {

using namespace bmtest::cli_names;

// ---------------------------------------------------------------------------
// The documented shapes (docs/json.md), checked key by key: each listed key
// must be there with its type; keys not listed are allowed (later versions
// of a schema only add keys).

enum class T { String, Integer, Boolean, Array, Object, StringOrNull, IntegerOrNull };

bool HasType(const json& v, T t) {
    switch (t) {
    case T::String: return v.is_string();
    case T::Integer: return v.is_number_integer();
    case T::Boolean: return v.is_boolean();
    case T::Array: return v.is_array();
    case T::Object: return v.is_object();
    case T::StringOrNull: return v.is_string() || v.is_null();
    case T::IntegerOrNull: return v.is_number_integer() || v.is_null();
    }
    return false;
}

using Shape = std::vector<std::pair<const char*, T>>;

void ExpectShape(const json& j, const Shape& shape, const std::string& where) {
    ASSERT_TRUE(j.is_object()) << where << ": " << j.dump();
    for (const auto& [key, type] : shape) {
        ASSERT_TRUE(j.contains(key)) << where << ": no key " << key << " in " << j.dump().substr(0, 400);
        EXPECT_TRUE(HasType(j[key], type)) << where << "." << key << " = " << j[key].dump().substr(0, 200);
    }
}

const char* const kOutcomes[] = {"completed", "partial", "aborted", "failed"};

void ExpectEnvelope(const json& j, const std::string& command) {
    ExpectShape(j, {{"schema", T::String}, {"outcome", T::String}, {"message", T::String}}, command);
    EXPECT_EQ(j["schema"], "brightmend." + command + (command == "save" ? "/2" : "/1"));
    // "partial" (some items lost) is a saving run's alone.
    if (command != "save") {
        EXPECT_NE(j["outcome"], "partial");
    }
    EXPECT_NE(std::find(std::begin(kOutcomes), std::end(kOutcomes), j["outcome"].get<std::string>()),
              std::end(kOutcomes))
        << j["outcome"];
}

const Shape kTallyShape = {{"foundByIndex", T::Integer},
                           {"foundByScan", T::Integer},
                           {"read", T::Integer},
                           {"saved", T::Integer},
                           {"notRecovered", T::Integer},
                           {"associatedCount", T::Integer},
                           {"notReached", T::Integer}};

void ExpectCounts(const json& counts, const std::string& where) {
    const char* const keys[] = {"inbox",    "outbox",  "drafts",  "sentItems", "deletedItems", "tasks",
                                "contacts", "junkEmail", "notes", "journal",   "calendar",     "syncIssues"};
    ASSERT_TRUE(counts.is_object()) << where;
    EXPECT_EQ(counts.size(), std::size(keys)) << where << ": " << counts.dump();
    for (const char* key : keys) {
        ASSERT_TRUE(counts.contains(key)) << where << ": " << key;
        EXPECT_TRUE(counts[key].is_number_integer()) << where << "." << key;
    }
}

// The reconciliation: totals are the sums of the folders, and each folder's
// found items are read or lost, its read ones saved or lost (when saving).
void ExpectReconciliation(const json& r, bool saving) {
    ExpectShape(r, {{"totals", T::Object}, {"folders", T::Array}, {"notRecovered", T::Array}}, "reconciliation");
    ExpectShape(r["totals"], kTallyShape, "reconciliation.totals");
    std::map<std::string, long> sums;
    for (const json& f : r["folders"]) {
        ExpectShape(f, kTallyShape, "reconciliation.folders[]");
        ExpectShape(f, {{"path", T::String}}, "reconciliation.folders[]");
        for (const auto& [key, type] : kTallyShape) sums[key] += f[key].get<long>();
        const long found = f["foundByIndex"].get<long>() + f["foundByScan"].get<long>();
        EXPECT_LE(f["associatedCount"].get<long>(), found) << f.dump();
        if (saving)
            EXPECT_EQ(found, f["saved"].get<long>() + f["notRecovered"].get<long>()) << f.dump();
        else
            EXPECT_EQ(found, f["read"].get<long>() + f["notRecovered"].get<long>()) << f.dump();
    }
    for (const auto& [key, type] : kTallyShape) EXPECT_EQ(r["totals"][key].get<long>(), sums[key]) << key;
    EXPECT_EQ(r["notRecovered"].size(), static_cast<std::size_t>(r["totals"]["notRecovered"].get<long>()));
    const std::set<std::string> reasons = {"missingBlock", "unreadableNode", "unreadableFolder", "writeFailed",
                                           "notWritten", "outputUnusable"};
    for (const json& item : r["notRecovered"]) {
        ExpectShape(item,
                    {{"nid", T::Integer},
                     {"folder", T::String},
                     {"subject", T::StringOrNull},
                     {"reason", T::String},
                     {"detail", T::StringOrNull}},
                    "reconciliation.notRecovered[]");
        EXPECT_TRUE(reasons.count(item["reason"].get<std::string>())) << item.dump();
    }
}

void ExpectAnalyzeShape(const json& j) {
    ExpectEnvelope(j, "analyze");
    if (j["outcome"] == "failed") return;
    ExpectShape(j,
                {{"store", T::String},
                 {"formatVersion", T::Integer},
                 {"tree", T::Array},
                 {"mailFolders", T::Array},
                 {"counts", T::Object},
                 {"contacts", T::Integer},
                 {"tasks", T::Integer},
                 {"notes", T::Integer},
                 {"journal", T::Integer},
                 {"calendar", T::Integer},
                 {"reconciliation", T::Object}},
                "analyze");
    for (const json& f : j["mailFolders"])
        ExpectShape(f,
                    {{"path", T::String},
                     {"nid", T::Integer},
                     {"messageCount", T::Integer},
                     {"associatedCount", T::Integer}},
                    "mailFolders[]");
    ExpectCounts(j["counts"], "analyze.counts");
    ExpectReconciliation(j["reconciliation"], false);
}

void ExpectSaveShape(const json& j) {
    ExpectEnvelope(j, "save");
    if (j["outcome"] == "failed" && !j.contains("outputStores")) return;
    ExpectShape(j,
                {{"store", T::String},
                 {"destination", T::String},
                 {"outputStores", T::Array},
                 {"report", T::StringOrNull},
                 {"reportJson", T::StringOrNull},
                 {"selectedFolders", T::Array},
                 {"savedCounts", T::Object},
                 {"itemsSaved", T::Integer},
                 {"itemsNotRecovered", T::Integer},
                 {"failedItems", T::Integer},
                 {"reconciliation", T::Object}},
                "save");
    ExpectCounts(j["savedCounts"], "save.savedCounts");
    ExpectReconciliation(j["reconciliation"], true);
    EXPECT_EQ(j["itemsSaved"], j["reconciliation"]["totals"]["saved"]);
    EXPECT_EQ(j["itemsNotRecovered"], j["reconciliation"]["totals"]["notRecovered"]);
}

void ExpectListShape(const json& j) {
    ExpectEnvelope(j, "list");
    if (j["outcome"] == "failed" && !j.contains("folders")) return;
    ExpectShape(j, {{"store", T::String}, {"folders", T::Array}, {"summary", T::Object}}, "list");
    ExpectShape(j["summary"],
                {{"folders", T::Integer}, {"items", T::Integer}, {"attachments", T::Integer},
                 {"unreadableItems", T::Integer}, {"associatedCount", T::Integer}},
                "list.summary");
    long associated = 0;
    for (const json& f : j["folders"]) {
        ExpectShape(f, {{"path", T::String}, {"nid", T::Integer}, {"items", T::Array}, {"associatedCount", T::Integer}},
                    "list.folders[]");
        long flagged = 0;
        for (const json& item : f["items"]) flagged += item.value("associated", false) ? 1 : 0;
        EXPECT_EQ(f["associatedCount"].get<long>(), flagged) << f["path"];
        associated += flagged;
        for (const json& item : f["items"]) {
            ExpectShape(item, {{"nid", T::Integer}}, "list.folders[].items[]");
            if (!item.contains("unreadable"))
                ExpectShape(item, {{"messageClass", T::String}, {"attachments", T::Array}}, "list.folders[].items[]");
        }
    }
    EXPECT_EQ(j["summary"]["associatedCount"].get<long>(), associated);
}

void ExpectCheckShape(const json& j) {
    ExpectEnvelope(j, "check");
    ExpectShape(j, {{"verdict", T::String}, {"errors", T::Integer}, {"warnings", T::Integer}, {"findings", T::Array},
                    {"findingsByKind", T::Object}},
                "check");
    // Every finding is counted under one kind, those past the list's limit too.
    long byKind = 0;
    for (const auto& [kind, count] : j["findingsByKind"].items()) byKind += count.get<long>();
    EXPECT_EQ(byKind, j["errors"].get<long>() + j["warnings"].get<long>() + j["findingsNotShown"].get<long>());
}

// ---------------------------------------------------------------------------

fs::path MakeDemoStore(const fs::path& home, const std::string& name = "outlook.ost") {
    const fs::path store = home / name;
    const std::string make = bmtest::ShellQuote(BRIGHTMEND_MAKE_DEMO_STORE) + " " + bmtest::ShellQuote(store.string()) +
                             " --intact >/dev/null";
    EXPECT_EQ(std::system(make.c_str()), 0);
    return store;
}

std::set<std::uint32_t> NidsOf(const json& items) {
    std::set<std::uint32_t> out;
    for (const json& item : items) out.insert(item["nid"].get<std::uint32_t>());
    return out;
}

std::string ReadAll(const fs::path& p) { return bmtest::ReadTextFile(p); }

TEST(CliResults, ADamagedCopyListsExactlyTheItemsItCouldNotReadAndExitsThree) {
    BM_REQUIRE_STORE(sound, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-results-damaged");
    const fs::path store = home / "damaged.ost";
    // Cut short, the copy loses an item's block and a whole folder.
    ASSERT_TRUE(bmtest::DamagedCopy(sound, store, bmtest::Damage::TruncatedAt90));

    // The listing reads each node on its own and marks the items it cannot
    // read; a folder whose own record is lost is listed as a folder (never
    // as an item), marked recordLost, with what can be read of its items.
    const CliResult listed = RunCli({"-q", "list", "--json", store.string()}, home);
    EXPECT_EQ(listed.exitCode, 3);
    const json listing = json::parse(listed.out);
    ExpectListShape(listing);
    std::set<std::uint32_t> unreadable;
    std::size_t readable = 0;
    for (const json& f : listing["folders"]) {
        for (const json& item : f["items"]) {
            const auto nid = item["nid"].get<std::uint32_t>();
            EXPECT_NE(nid & 0x1F, 0x02u) << "a folder listed as an item: " << nid;
            if (!item.contains("unreadable")) {
                ++readable;
                continue;
            }
            unreadable.insert(nid);
        }
    }
    ASSERT_GT(unreadable.size(), 0u) << "the damage must hit some items: " << listed.out.substr(0, 2000);

    const CliResult r = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    EXPECT_EQ(r.exitCode, 3) << r.err;
    const json j = json::parse(r.out);
    ExpectSaveShape(j);
    // Items were lost: the outcome and the closing words say so.
    EXPECT_EQ(j["outcome"], "partial");
    // Items saved from blocks the damage reached are named too.
    const std::int64_t damaged = j["itemsDamaged"].get<std::int64_t>();
    EXPECT_EQ(j["message"], fmt::format("{} of {} items were saved; {} could not be recovered{} \u2014 see the report",
                                        readable, readable + unreadable.size(), unreadable.size(),
                                        damaged > 0 ? fmt::format("; {} of them damaged", damaged) : ""));
    const json& account = j["reconciliation"];
    // Exactly the items the listing could not read are not recovered.
    EXPECT_EQ(NidsOf(account["notRecovered"]), unreadable) << account["notRecovered"].dump();
    EXPECT_EQ(j["itemsNotRecovered"].get<std::size_t>(), unreadable.size());
    // Every readable item is saved, and the new store holds them all.
    EXPECT_EQ(j["itemsSaved"].get<std::size_t>(), readable);
    ASSERT_EQ(j["outputStores"].size(), 1u);
    const fs::path output = j["outputStores"][0].get<std::string>();
    bmtest::ExpectStrictlyClean(output);
    const json reread = json::parse(RunCli({"-q", "list", "--json", output.string()}, home).out);
    EXPECT_EQ(reread["summary"]["items"].get<std::size_t>(), readable);
    EXPECT_EQ(reread["summary"]["unreadableItems"], 0);

    // The report beside the output store says the same, as JSON and as text.
    ASSERT_TRUE(j["reportJson"].is_string());
    const fs::path reportJson = j["reportJson"].get<std::string>();
    EXPECT_EQ(reportJson.parent_path(), output.parent_path());
    const json report = json::parse(ReadAll(reportJson));
    EXPECT_EQ(report["schema"], "brightmend.report/2");
    EXPECT_EQ(report["run"], "saving");
    EXPECT_EQ(report["outcome"], "partial");
    EXPECT_EQ(report["message"], j["message"]);
    EXPECT_EQ(report["reconciliation"], account);
    ExpectReconciliation(report["reconciliation"], true);
    const std::string text = ReadAll(j["report"].get<std::string>());
    const std::string totals = fmt::format("read {}, saved {}, not recovered {}", readable + 0, readable,
                                           unreadable.size());
    EXPECT_NE(text.find(totals), std::string::npos) << text.substr(0, 1000);
    for (const std::uint32_t nid : unreadable) EXPECT_NE(text.find(fmt::format("0x{:x}  ", nid)), std::string::npos);

    // The activity log has the totals and each lost item.
    const std::string log = ReadAll(home / "data" / "brightmend" / std::string(kActivityLogFileName));
    EXPECT_NE(log.find(totals), std::string::npos);
    for (const std::uint32_t nid : unreadable)
        EXPECT_NE(log.find(fmt::format("Not recovered: 0x{:x}  ", nid)), std::string::npos) << nid;
}

TEST(CliResults, ASoundStoreSavesEveryItemAndExitsZero) {
    const fs::path home = bmtest::ScratchDir("cli-results-sound");
    const fs::path store = MakeDemoStore(home);
    const CliResult r = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ExpectSaveShape(j);
    EXPECT_EQ(j["itemsNotRecovered"], 0);
    EXPECT_GT(j["itemsSaved"].get<long>(), 0);
    // The text result ends with the same account.
    const CliResult t = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all"}, home);
    EXPECT_EQ(t.exitCode, 0) << t.err;
    EXPECT_NE(t.out.find(fmt::format("saved {}, not recovered 0", j["itemsSaved"].get<long>())), std::string::npos)
        << t.out;
}

TEST(CliResults, OutputNamesNeverReplaceAFile) {
    const fs::path home = bmtest::ScratchDir("cli-results-names");
    const fs::path demo = MakeDemoStore(home);
    // The store's extension goes whatever its case, also below a backup's.
    for (const char* name : {"OUTLOOK.OST", "outlook.ost.bak", "x.pst"}) {
        const fs::path store = home / name;
        fs::copy_file(demo, store, fs::copy_options::overwrite_existing);
        const CliResult r =
            RunCli({"-q", "save", store.string(), "--to", home.string(), "--folder", "Personal Folders\\Tasks\\", "--json"},
                   home);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const fs::path out = json::parse(r.out)["outputStores"][0].get<std::string>();
        const std::string stem = fs::path(name).stem().string() == "outlook.ost" ? "outlook" : fs::path(name).stem().string();
        EXPECT_EQ(out.filename().string().rfind(stem, 0), 0u) << out;
        EXPECT_EQ(out.extension(), ".pst") << out;
        EXPECT_EQ(out.filename().string().find(".ost"), std::string::npos) << out;
        EXPECT_EQ(out.filename().string().find(".OST"), std::string::npos) << out;
        EXPECT_EQ(out.filename().string().find(".bak"), std::string::npos) << out;
    }

    // Two saves one after the other give two files, the first one kept.
    const auto save = [&](const char* folder) {
        const CliResult r = RunCli({"-q", "save", demo.string(), "--to", home.string(), "--folder", folder, "--json"}, home);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return fs::path(json::parse(r.out)["outputStores"][0].get<std::string>());
    };
    const fs::path calendar = save("Personal Folders\\Calendar\\");
    const fs::path tasks = save("Personal Folders\\Tasks\\");
    EXPECT_NE(calendar, tasks);
    const json calendarList = json::parse(RunCli({"-q", "list", "--json", calendar.string()}, home).out);
    bool hasCalendar = false;
    for (const json& f : calendarList["folders"])
        if (f["path"].get<std::string>().ends_with("Calendar\\")) hasCalendar = !f["items"].empty();
    EXPECT_TRUE(hasCalendar) << "the first save's file is intact";

    // A file chosen with --output that exists is refused and left alone.
    const fs::path taken = home / "mine.pst";
    { std::ofstream(taken) << "precious"; }
    const CliResult refused = RunCli({"-q", "save", demo.string(), "--output", taken.string(), "--all", "--json"}, home);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("mine.pst"), std::string::npos) << refused.err;
    const json failure = json::parse(refused.out);
    ExpectSaveShape(failure);
    EXPECT_EQ(failure["outcome"], "failed");
    EXPECT_EQ(ReadAll(taken), "precious");

    // A free name is used as it is, its report beside it; a file that has
    // the report's name is left alone too.
    const fs::path chosen = home / "chosen" / "mine.pst";
    fs::create_directories(chosen.parent_path());
    { std::ofstream(chosen.parent_path() / "mine report.txt") << "my notes"; }
    const CliResult made = RunCli({"-q", "save", demo.string(), "--output", chosen.string(), "--all", "--json"}, home);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    const json madeJson = json::parse(made.out);
    ASSERT_EQ(madeJson["outputStores"].size(), 1u);
    EXPECT_EQ(fs::path(madeJson["outputStores"][0].get<std::string>()), fs::absolute(chosen));
    EXPECT_EQ(ReadAll(chosen.parent_path() / "mine report.txt"), "my notes");
    EXPECT_FALSE(fs::exists(chosen.parent_path() / "mine report.json"));
    EXPECT_EQ(fs::path(madeJson["report"].get<std::string>()), fs::absolute(chosen.parent_path() / "mine report (2).txt"));
    EXPECT_EQ(json::parse(ReadAll(chosen.parent_path() / "mine report (2).json"))["schema"], "brightmend.report/2");
    bmtest::ExpectStrictlyClean(chosen);
}

TEST(CliResults, SigtermDuringASaveLeavesAValidStoreAndExits130) {
    BM_REQUIRE_STORE(store, "4k-sample.ost");
    for (const int signal : {SIGTERM, SIGHUP}) {
        const fs::path home = bmtest::ScratchDir(fmt::format("cli-results-signal-{}", signal));
        const pid_t pid = SpawnCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
        ASSERT_GT(pid, 0);
        // The signal goes once the output store is being written: the walk
        // is under way.
        ASSERT_TRUE(bmtest::WaitForFileEndingIn(home / "Repair", ".pst.partial", std::chrono::seconds(60)));
        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 130) << ReadAll(home / "stderr.txt");
        const json j = json::parse(ReadAll(home / "stdout.txt"));
        ExpectSaveShape(j);
        EXPECT_EQ(j["outcome"], "aborted");
        ASSERT_EQ(j["outputStores"].size(), 1u);
        const fs::path output = j["outputStores"][0].get<std::string>();
        const CliResult check = RunCli({"check", output.string()}, home);
        EXPECT_EQ(check.exitCode, 0) << check.out;
        EXPECT_LT(j["itemsSaved"].get<long>(), j["reconciliation"]["totals"]["foundByIndex"].get<long>() + 1);
    }
}

// Folder path below the top folder ("Inbox\\") -> associated items, from
// a "path<TAB>count" listing or from the folders of a command's JSON.
std::map<std::string, long> AssociatedByPypff(const fs::path& store, const fs::path& home, bool& skipped) {
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    const fs::path out = home / "associated.txt";
    const std::string command = python + " " +
                                bmtest::ShellQuote(BRIGHTMEND_SOURCE_DIR "/tools/readers/list_folders.py") +
                                " --associated " + bmtest::ShellQuote(store.string()) + " >" +
                                bmtest::ShellQuote(out.string()) + " 2>&1";
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    skipped = code == 77;
    std::map<std::string, long> counts;
    std::istringstream lines(bmtest::ReadTextFile(out));
    EXPECT_TRUE(code == 0 || skipped) << bmtest::ReadTextFile(out);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos) counts[line.substr(0, tab)] = std::stol(line.substr(tab + 1));
    }
    return counts;
}

std::map<std::string, long> AssociatedInJson(const json& folders, const char* key) {
    const std::string top = "Personal Folders\\";
    std::map<std::string, long> counts;
    for (const json& f : folders) {
        const long n = f[key].get<long>();
        std::string path = f["path"].get<std::string>();
        if (path.starts_with(top)) path.erase(0, top.size());
        if (n > 0) counts[path] += n;
    }
    return counts;
}

// A folder's associated items (views, rules, settings) are counted apart in
// every command's JSON, folder by folder and in the totals, as many as pypff
// finds beside each folder's contents table; the mail counts leave them out.
TEST(CliResults, AssociatedItemsAreCountedApartInEveryCommandsJson) {
    BM_REQUIRE_STORE(store, "unicode-sample.ost");
    const fs::path home = bmtest::ScratchDir("cli-results-associated");
    bool skipped = false;
    const std::map<std::string, long> expected = AssociatedByPypff(store, home, skipped);
    if (skipped) GTEST_SKIP() << "pypff is needed to count the associated items";
    ASSERT_FALSE(expected.empty()) << "the store was chosen for its associated items";
    long total = 0;
    for (const auto& [path, n] : expected) total += n;

    const CliResult analyzed = RunCli({"-q", "analyze", "--json", store.string()}, home);
    ASSERT_EQ(analyzed.exitCode, 0) << analyzed.err;
    const json analysis = json::parse(analyzed.out);
    ExpectAnalyzeShape(analysis);
    EXPECT_EQ(AssociatedInJson(analysis["reconciliation"]["folders"], "associatedCount"), expected);
    EXPECT_EQ(analysis["reconciliation"]["totals"]["associatedCount"], total);
    const json inbox = [&] {
        for (const json& f : analysis["mailFolders"])
            if (f["path"] == "Personal Folders\\Inbox\\") return f;
        return json();
    }();
    ASSERT_FALSE(inbox.is_null());
    EXPECT_EQ(inbox["associatedCount"], expected.at("Inbox\\"));
    // The Inbox holds only mail: its message count is its contents alone,
    // the associated items are given beside it, and the account has both.
    for (const json& t : analysis["reconciliation"]["folders"]) {
        if (t["path"] == inbox["path"]) {
            EXPECT_EQ(inbox["messageCount"].get<long>() + inbox["associatedCount"].get<long>(),
                      t["foundByIndex"].get<long>());
        }
    }

    const CliResult listed = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const json listing = json::parse(listed.out);
    ExpectListShape(listing);
    EXPECT_EQ(AssociatedInJson(listing["folders"], "associatedCount"), expected);
    EXPECT_EQ(listing["summary"]["associatedCount"], total);

    const CliResult saved = RunCli({"-q", "save", store.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    const json result = json::parse(saved.out);
    ExpectSaveShape(result);
    EXPECT_EQ(AssociatedInJson(result["reconciliation"]["folders"], "associatedCount"), expected);
    EXPECT_EQ(result["reconciliation"]["totals"]["associatedCount"], total);

    // The saved store holds them where the source did.
    bool outputSkipped = false;
    const fs::path output = result["outputStores"][0].get<std::string>();
    EXPECT_EQ(AssociatedByPypff(output, home, outputSkipped), expected);
}

TEST(CliResults, EveryCommandsJsonHasItsDocumentedShapeAlsoOnFailure) {
    const fs::path home = bmtest::ScratchDir("cli-results-json");
    const fs::path store = MakeDemoStore(home);
    const fs::path junk = home / "junk.ost";
    { std::ofstream(junk) << std::string(8192, 'x'); }
    const fs::path missing = home / "missing.ost";

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        void (*expect)(const json&);
    };
    const std::string dir = home.string();
    const std::vector<Case> cases = {
        {{"analyze", "--json", store.string()}, 0, ExpectAnalyzeShape},
        {{"analyze", "--json", junk.string()}, 1, ExpectAnalyzeShape},
        {{"analyze", "--json", missing.string()}, 1, ExpectAnalyzeShape},
        {{"list", "--json", store.string()}, 0, ExpectListShape},
        {{"list", "--json", junk.string()}, 1, ExpectListShape},
        {{"list", "--json", "--folder", "Personal Folders\\Nowhere\\", store.string()}, 1, ExpectListShape},
        {{"check", "--json", store.string()}, 0, ExpectCheckShape},
        {{"check", "--json", junk.string()}, 1, ExpectCheckShape},
        {{"save", "--json", store.string(), "--to", dir, "--all"}, 0, ExpectSaveShape},
        {{"save", "--json", junk.string(), "--to", dir, "--all"}, 1, ExpectSaveShape},
        {{"save", "--json", store.string(), "--to", dir}, 2, ExpectSaveShape},
        {{"save", "--json", store.string(), "--to", dir, "--folder", "Personal Folders\\Nowhere\\"}, 1, ExpectSaveShape},
        {{"save", "--json", store.string(), "--to", (home / "no-such-dir").string(), "--all"}, 1, ExpectSaveShape},
        {{"save", "--json", store.string(), "--all", "--bogus"}, 2, ExpectSaveShape},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult r = RunCli(args, home);
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        // Exactly one object on stdout.
        json j;
        ASSERT_NO_THROW(j = json::parse(r.out)) << r.out.substr(0, 500);
        c.expect(j);
        if (c.exitCode != 0 && j.contains("outcome")) {
            EXPECT_EQ(j["outcome"], "failed");
            EXPECT_FALSE(j["message"].get<std::string>().empty());
        }
    }
}

}  // namespace
}  // namespace bm
