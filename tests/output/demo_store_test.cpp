// The demo store of tools/make_demo_store: the same file every time, its
// damaged page seen and survived by the reader, and every item it lists
// readable. Skips when the tool was not built next to the tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "output_readback.h"
#include "support/command_run.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = fs::path(BRIGHTMEND_BINARY_DIR) / "tools" / "make_demo_store";

// Runs the tool; its stdout ("<path>\t<items>" lines) as a map.
std::map<std::string, std::size_t> Generate(const fs::path& out, const std::string& extra = {}) {
    const std::string command = "'" + kTool.string() + "' '" + out.string() + "' " + extra;
    std::map<std::string, std::size_t> counts;
    const bmtest::CommandRun run = bmtest::RunCommand(command);
    if (!run.started) return counts;
    EXPECT_EQ(run.status, 0);
    std::istringstream lines(run.output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) counts[line.substr(0, tab)] = std::stoul(line.substr(tab + 1));
    }
    return counts;
}

class DemoStore : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kTool)) GTEST_SKIP() << "make_demo_store not built in " << kTool.parent_path();
        dir_ = bmtest::ScratchDir("demo-store");
    }
    fs::path dir_;
};

// Everything but the store's record key, which the writer picks itself.
std::vector<std::string> ContentOf(const fs::path& store) {
    std::vector<std::string> out;
    const auto back = bmtest::ReadBack(store);
    for (const auto& item : back.items) {
        const ItemRecord& r = *item.record;
        std::string line = item.folder + "|" + r.messageClass + "|" + bmtest::SubjectOf(r);
        if (r.messageFields) {
            const MessageFields& m = *r.messageFields;
            line += "|" + m.body + "|" + std::string(m.htmlBody.begin(), m.htmlBody.end()) + "|" +
                    std::string(m.deliveryTime.begin(), m.deliveryTime.end()) + "|" + m.sentRepresentingName;
        }
        for (std::size_t i = 0; i < r.attachments.size(); ++i)
            line += "|" + r.attachments[i].longFileName + ":" +
                    std::string(item.attachmentData[i].begin(), item.attachmentData[i].end());
        out.push_back(std::move(line));
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(DemoStore, TheSameArgumentsGiveTheSameContent) {
    Generate(dir_ / "a.ost");
    Generate(dir_ / "b.ost");
    const auto a = ContentOf(dir_ / "a.ost");
    EXPECT_GE(a.size(), 300u);
    EXPECT_TRUE(a == ContentOf(dir_ / "b.ost")) << "two runs differ";
    EXPECT_EQ(fs::file_size(dir_ / "a.ost"), fs::file_size(dir_ / "b.ost"));
}

TEST_F(DemoStore, EveryListedItemIsReadDespiteTheDamagedPage) {
    const auto counts = Generate(dir_ / "outlook.ost");
    std::size_t total = 0;
    for (const auto& [path, n] : counts) total += n;
    EXPECT_GE(total, 300u);
    EXPECT_EQ(counts.size(), 14u);

    StoreFile store;
    StoreReader reader;
    ASSERT_EQ(OpenStore(store, dir_ / "outlook.ost", StoreOpenMode::SharedRead), 0);
    ASSERT_EQ(BuildIndexes(store, reader), 0);
    EXPECT_EQ(store.damage.pageCrcMismatches, 1u) << "the one damaged page is seen";
    ReleaseStore(store);

    const auto back = bmtest::ReadBack(dir_ / "outlook.ost");
    std::map<std::string, std::size_t> found;
    for (const auto& item : back.items) ++found[item.folder];
    EXPECT_EQ(found, counts);
    // The attachments that test the saving are there with their names.
    std::set<std::string> names;
    std::size_t largest = 0;
    for (const auto& item : back.items) {
        for (std::size_t i = 0; i < item.record->attachments.size(); ++i) {
            names.insert(item.record->attachments[i].longFileName);
            largest = std::max(largest, item.attachmentData[i].size());
        }
    }
    EXPECT_TRUE(names.contains("Übersicht_März_2024.pdf"));
    EXPECT_TRUE(names.contains("con.txt"));
    EXPECT_GT(largest, 5u * 1024 * 1024);
}

}  // namespace
}  // namespace bm
