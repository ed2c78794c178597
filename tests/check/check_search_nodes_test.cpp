// The spam search folder's nodes: stores the writer makes hold what every
// client-written store holds there (and the checker finds nothing on the
// client's own stores); a store written without one of the nodes, or with
// one lacking part of its contents, gives exactly one finding naming it.
#include "check/check_search_nodes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "check/store_checker.h"
#include "common/byte_reader.h"
#include "messaging/property_reader.h"
#include "store/btree_walk.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/ltp_pc.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"
#include "output/pst/store_writer.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"
#include "store/tables.h"
#include "support/test_paths.h"

namespace {

namespace pst = bm::pst;

constexpr pst::Nid kSearchFolder = 0x2223;
constexpr pst::Nid kUpdateQueue = 0x2226;
constexpr pst::Nid kCriteria = 0x2227;
constexpr pst::Nid kRootHierarchy = 0x12D;

// Forwards to the store's own sink, except for the nodes a test breaks:
// those it drops, or writes with other contents.
class BreakingSink final : public pst::NodeSink {
public:
    BreakingSink(std::unique_ptr<pst::NodeSink> inner, std::set<pst::Nid> dropped, std::set<pst::Nid> emptied)
        : inner_(std::move(inner)), dropped_(std::move(dropped)), emptied_(std::move(emptied)) {}
    pst::Bid WriteData(std::span<const std::uint8_t> bytes) override { return inner_->WriteData(bytes); }
    pst::Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override {
        return inner_->WriteDataBlocks(pieces);
    }
    pst::Bid WriteDataStream(std::uint64_t size,
                             const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        return inner_->WriteDataStream(size, read);
    }
    pst::Bid WriteDataTree(const std::vector<pst::NdbWriter::DataPiece>& pieces) override {
        return inner_->WriteDataTree(pieces);
    }
    pst::Bid WriteSubnodes(std::vector<pst::NdbWriter::Subnode> entries) override {
        return inner_->WriteSubnodes(std::move(entries));
    }
    void SetNode(pst::Nid nid, pst::Bid data, pst::Bid subnodes, pst::Nid parent) override {
        if (dropped_.count(nid)) return;
        if (emptied_.count(nid)) {
            // A table without rows, or a property context holding another property.
            pst::LocalSubnodes local(*inner_);
            if (nid == kRootHierarchy) {
                local.WriteNode(nid, pst::BuildTableContext(pst::HierarchyTableLayout(), {}, local.Sink()), parent);
            } else {
                const std::vector<pst::PcValue> other{{0x6600, pst::PropType::Int32, {0, 0, 0, 0}, std::nullopt}};
                local.WriteNode(nid, pst::BuildPropertyContext(other, local.Sink()), parent);
            }
            return;
        }
        inner_->SetNode(nid, data, subnodes, parent);
    }
    pst::Nid NewNid(pst::NidType type) override { return inner_->NewNid(type); }
    void SetUnique(std::uint32_t unique) override { inner_->SetUnique(unique); }
    void Finish() override { inner_->Finish(); }
    std::uint64_t FileSize() const override { return inner_->FileSize(); }

private:
    std::unique_ptr<pst::NodeSink> inner_;
    std::set<pst::Nid> dropped_, emptied_;
};

std::filesystem::path Write(const std::string& name, std::set<pst::Nid> dropped = {},
                            std::set<pst::Nid> emptied = {}) {
    const auto path = bmtest::ScratchDir(name) / "search.pst";
    auto sink = std::make_unique<BreakingSink>(
        std::make_unique<pst::NdbNodeSink>(pst::NdbWriter::Create(path, {false, bm::CryptMethod::Permute})),
        std::move(dropped), std::move(emptied));
    auto store = pst::PstStore::CreateOn(std::move(sink), {});
    const pst::Nid inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    pst::Message m;
    m.properties.SetString(pst::tags::kSubject, "hello");
    store->AddMessage(inbox, m);
    store->Finish();
    return path;
}

std::vector<std::string> Findings(const std::filesystem::path& path) {
    bm::CheckReport report;
    bm::CheckSearchNodes(path, report);
    std::vector<std::string> out;
    for (const auto& f : report.findings) out.push_back(f.text);
    return out;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

// The node's parent, its property IDs (a property context) and whether it has data.
struct NodeView {
    bool present = false;
    std::uint32_t parent = 0;
    bool hasData = false;
    std::set<std::uint32_t> ids;
};

NodeView View(const std::filesystem::path& path, std::uint32_t nid) {
    NodeView view;
    bm::StoreFile store;
    bm::StoreReader reader;
    if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0) return view;
    if (bm::BuildIndexes(store, reader) == 0) {
        if (const bm::NodeEntry* node = bm::FindNode(store, nid)) {
            view.present = true;
            view.parent = node->nidParent;
            view.hasData = node->dataBlock() != nullptr;
            if (node->dataBlock() != nullptr) {
                bm::SubnodeList subnodes;
                auto list = bm::ReadPropertyObject(store, *node->dataBlock(), &subnodes);
                if (list && !list->chunks.empty())
                    for (const auto& v : list->chunks.front().entries) view.ids.insert(v.id);
            }
        }
    }
    bm::ReleaseStore(store);
    return view;
}

TEST(SearchNodes, AWrittenStoreHoldsWhatClientStoresHold) {
    const auto path = Write("search-written");
    EXPECT_EQ(Joined(Findings(path)), "");
    const NodeView folder = View(path, kSearchFolder);
    ASSERT_TRUE(folder.present);
    EXPECT_EQ(folder.parent, 0x122u);
    EXPECT_EQ(folder.ids, (std::set<std::uint32_t>{0x3001, 0x3602, 0x3603, 0x360A}));
    const NodeView queue = View(path, kUpdateQueue);
    ASSERT_TRUE(queue.present);
    EXPECT_FALSE(queue.hasData);
    EXPECT_EQ(View(path, kCriteria).ids, (std::set<std::uint32_t>{0x660B}));
    // The whole strict check has nothing to say of it either.
    const auto report = bm::CheckStore(path, {.strictReferenceCounts = true, .strictFolderTables = true,
                                              .clientRules = true});
    std::string all;
    for (const auto& f : report.findings) all += bm::FormatFinding(f) + "\n";
    EXPECT_EQ(report.errorCount(), 0u) << all;
}

TEST(SearchNodes, EachMissingNodeIsOneFinding) {
    for (const pst::Nid nid : {kSearchFolder, kUpdateQueue, kCriteria}) {
        const auto path = Write("search-missing-" + std::to_string(nid), {nid});
        const auto found = Findings(path);
        ASSERT_EQ(found.size(), 1u) << Joined(found);
        char name[16];
        std::snprintf(name, sizeof name, "node 0x%x: ", nid);
        EXPECT_EQ(found[0].rfind(std::string(name) + bm::kRuleSearchNodes + ": expected ", 0), 0u) << found[0];
        EXPECT_NE(found[0].find("node, found none"), std::string::npos) << found[0];
    }
    const auto all = Findings(Write("search-missing-all", {kSearchFolder, kUpdateQueue, kCriteria}));
    EXPECT_EQ(all.size(), 3u) << Joined(all);
}

TEST(SearchNodes, ANodeLackingItsContentsIsOneFinding) {
    auto found = Findings(Write("search-criteria-other", {}, {kCriteria}));
    ASSERT_EQ(found.size(), 1u) << Joined(found);
    EXPECT_EQ(found[0],
              "node 0x2227: search folder nodes: expected the search criteria object with 0x660B, found it lacks them");

    found = Findings(Write("search-folder-other", {}, {kSearchFolder}));
    ASSERT_EQ(found.size(), 1u) << Joined(found);
    EXPECT_NE(found[0].find("0x3001 (display name), 0x3602 (content count), 0x3603 (unread count), 0x360A "
                            "(subfolders)"),
              std::string::npos)
        << found[0];

    found = Findings(Write("search-folder-unlisted", {}, {kRootHierarchy}));
    ASSERT_EQ(found.size(), 1u) << Joined(found);
    EXPECT_EQ(found[0],
              "node 0x2223: search folder nodes: expected a row in the hierarchy table of its parent folder 0x122 "
              "(node 0x12d), found no row");
}

TEST(SearchNodes, TheClientsOwnStoresGiveNoFinding) {
    for (const char* name :
         {"unicode-sample.pst", "unicode-submessage.pst", "unicode-dist-list.pst", "unicode-enron.pst",
          "unicode-sample.ost"}) {
        BM_REQUIRE_STORE(path, name);
        EXPECT_EQ(Joined(Findings(path)), "") << name;
        EXPECT_TRUE(View(path, kUpdateQueue).present) << name;
    }
}

}  // namespace
