// --recover-deleted from the command line: a message deleted from a copy
// is listed under "Recovered Items\Deleted\<folder>\" and saved there, with
// its attachments, into a clean store; without the option nothing changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"
#include "support/deleted_store.h"
#include "support/test_paths.h"

namespace bm {
namespace {

using namespace bmtest::cli_names;

// The first item with attachments in a folder below the top, from `list --json`.
const json* ItemWithAttachments(const json& listing, std::string& folder) {
    for (const json& f : listing["folders"]) {
        if (f["path"] == "Personal Folders\\") continue;
        for (const json& i : f["items"]) {
            if (!i["attachments"].empty() && i["subject"].is_string() && !i["subject"].get<std::string>().empty()) {
                folder = f["path"].get<std::string>();
                return &i;
            }
        }
    }
    return nullptr;
}

const json* FolderAt(const json& listing, const std::string& path) {
    for (const json& f : listing["folders"])
        if (f["path"] == path) return &f;
    return nullptr;
}

TEST(CliRecoverDeleted, ADeletedMessageIsListedAndSavedUnderDeleted) {
    BM_REQUIRE_STORE(sound, "unicode-enron.pst");
    const fs::path home = bmtest::ScratchDir("cli-recover-deleted");
    const fs::path store = home / "deleted.pst";
    fs::copy_file(sound, store);
    fs::permissions(store, fs::perms::owner_read | fs::perms::owner_write);

    const auto before = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(before.exitCode, 0) << before.err;
    const json listed = json::parse(before.out);
    std::string folder;
    const json* picked = ItemWithAttachments(listed, folder);
    ASSERT_NE(picked, nullptr);
    const json target = *picked;
    ASSERT_TRUE(bmtest::DeleteMessage(store, target["nid"].get<std::uint32_t>(), bmtest::Deletion::StalePage));

    // Without the option the account has no deleted part.
    const auto analysed = RunCli({"-q", "analyze", "--json", store.string()}, home);
    ASSERT_EQ(analysed.exitCode, 0) << analysed.err;
    EXPECT_FALSE(json::parse(analysed.out)["reconciliation"].contains("deleted")) << analysed.out;

    const auto plain = RunCli({"-q", "list", "--json", store.string()}, home);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out.find("Recovered Items"), std::string::npos);

    const std::string name = folder.substr(folder.rfind('\\', folder.size() - 2) + 1);
    const std::string deletedPath = "Personal Folders\\Recovered Items\\Deleted\\" + name;
    const auto recovered = RunCli({"-q", "list", "--json", "--recover-deleted", store.string()}, home);
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    const json recoveredListing = json::parse(recovered.out);
    const json* deleted = FolderAt(recoveredListing, deletedPath);
    ASSERT_NE(deleted, nullptr) << recovered.out;
    ASSERT_EQ((*deleted)["items"].size(), 1u);
    EXPECT_EQ((*deleted)["items"][0], target);

    const auto saved = RunCli(
        {"-q", "save", store.string(), "--to", home.string(), "--all", "--recover-deleted", "--json"}, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    const json result = json::parse(saved.out);
    ASSERT_EQ(result["outputStores"].size(), 1u);
    // The account says where it came from, and that nothing of it is missing.
    const json& deletedAccount = result["reconciliation"]["deleted"];
    EXPECT_EQ(deletedAccount["fromStalePages"], 1) << saved.out;
    EXPECT_EQ(deletedAccount["fromStaleSlots"], 0);
    EXPECT_TRUE(deletedAccount["incomplete"].empty());
    EXPECT_EQ(result["reconciliation"]["totals"]["notRecovered"], 0);
    const fs::path output = result["outputStores"][0].get<std::string>();
    bmtest::ExpectStrictlyClean(output);
    const auto reread = RunCli({"-q", "list", "--json", output.string()}, home);
    ASSERT_EQ(reread.exitCode, 0) << reread.err;
    const json savedListing = json::parse(reread.out);
    const json* savedFolder = FolderAt(savedListing, deletedPath);
    ASSERT_NE(savedFolder, nullptr) << reread.out;
    ASSERT_EQ((*savedFolder)["items"].size(), 1u);
    json back = (*savedFolder)["items"][0];
    json expected = target;
    back.erase("nid");  // the new store gives it a node of its own
    expected.erase("nid");
    EXPECT_EQ(back, expected);
}

}  // namespace
}  // namespace bm

namespace bm {
namespace {

// A store without deleted items (one this tool wrote, which leaves no
// earlier pages or unnamed data behind) lists the same with the option.
TEST(CliRecoverDeleted, AStoreWithoutDeletedItemsListsTheSameWithTheOption) {
    BM_REQUIRE_STORE(sound, "unicode-enron.pst");
    const fs::path home = bmtest::ScratchDir("cli-recover-deleted-none");
    const auto saved = RunCli({"-q", "save", sound.string(), "--to", home.string(), "--all", "--json"}, home);
    ASSERT_EQ(saved.exitCode, 0) << saved.err << saved.out;
    const fs::path written = json::parse(saved.out)["outputStores"][0].get<std::string>();
    const auto plain = RunCli({"-q", "list", "--json", written.string()}, home);
    const auto recovered = RunCli({"-q", "list", "--json", "--recover-deleted", written.string()}, home);
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_EQ(json::parse(recovered.out), json::parse(plain.out));
    const auto analysed = RunCli({"-q", "analyze", "--json", "--recover-deleted", written.string()}, home);
    ASSERT_EQ(analysed.exitCode, 0) << analysed.err;
    const json analysis = json::parse(analysed.out);
    const json& deleted = analysis["reconciliation"]["deleted"];
    EXPECT_EQ(deleted["fromStalePages"], 0);
    EXPECT_EQ(deleted["fromStaleSlots"], 0);
    EXPECT_EQ(deleted["fromFreeSpace"], 0);
}

}  // namespace
}  // namespace bm
