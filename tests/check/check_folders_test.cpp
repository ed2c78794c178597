// The checker's folder-table checks: stores of our writer pass strictly,
// stores whose tables and node tree disagree give findings naming the
// nodes, damaged copies give findings and never a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "check/check_folders.h"
#include "check/store_checker.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_templates.h"
#include "output/pst/store_writer.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

namespace pst = bm::pst;

std::string Dump(const bm::CheckReport& r) {
    std::string out;
    for (const auto& f : r.findings) out += bm::FormatFinding(f) + "\n";
    return out;
}

std::size_t Count(const bm::CheckReport& r, bm::FindingSeverity severity, const std::string& text) {
    return static_cast<std::size_t>(std::count_if(r.findings.begin(), r.findings.end(), [&](const bm::Finding& f) {
        return f.severity == severity && f.text.find(text) != std::string::npos;
    }));
}

std::string Hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

constexpr bm::CheckOptions kStrict{.strictReferenceCounts = true, .strictFolderTables = true};

// Passes everything on to the file, except that it can leave out the node
// of one message and add one folder node that no hierarchy table lists.
class DamagingSink final : public pst::NodeSink {
public:
    explicit DamagingSink(const std::filesystem::path& path)
        : inner_(pst::NdbWriter::Create(path, {false, bm::CryptMethod::Permute})) {}

    int dropMessage = -1;          // this message node (0 the first) is not written
    pst::Nid dropped = 0;          // the message left out
    pst::Nid strayFolderUnder = 0; // a folder node appears under this one
    pst::Nid strayFolder = 0;      // the added folder, once written

    pst::Bid WriteData(std::span<const std::uint8_t> bytes) override { return inner_.WriteData(bytes); }
    pst::Bid WriteDataBlocks(const std::vector<std::vector<std::uint8_t>>& pieces) override {
        return inner_.WriteDataBlocks(pieces);
    }
    pst::Bid WriteDataStream(std::uint64_t size,
                             const std::function<std::size_t(std::span<std::uint8_t>)>& read) override {
        return inner_.WriteDataStream(size, read);
    }
    pst::Bid WriteDataTree(const std::vector<pst::NdbWriter::DataPiece>& pieces) override {
        return inner_.WriteDataTree(pieces);
    }
    pst::Bid WriteSubnodes(std::vector<pst::NdbWriter::Subnode> entries) override {
        return inner_.WriteSubnodes(std::move(entries));
    }
    void SetNode(pst::Nid nid, pst::Bid data, pst::Bid subnodes, pst::Nid parent) override {
        if ((nid & 0x1F) == static_cast<pst::Nid>(pst::NidType::NormalMessage) && messages_++ == dropMessage) {
            dropped = nid;
            return;
        }
        if (nid == strayFolderUnder) strayData_ = data;
        inner_.SetNode(nid, data, subnodes, parent);
    }
    pst::Nid NewNid(pst::NidType type) override { return inner_.NewNid(type); }
    void Finish() override {
        if (strayFolderUnder != 0) {
            strayFolder = inner_.NewNid(pst::NidType::NormalFolder);
            inner_.SetNode(strayFolder, strayData_, 0, strayFolderUnder);
        }
        inner_.Finish();
    }
    std::uint64_t FileSize() const override { return inner_.FileSize(); }

private:
    pst::NdbNodeSink inner_;
    pst::Bid strayData_ = 0;
    int messages_ = 0;
};

pst::Message Mail(const std::string& subject) {
    pst::Message m;
    m.properties.SetString(pst::tags::kMessageClass, "IPM.Note");
    m.properties.SetString(pst::tags::kSubject, subject);
    m.properties.SetString(pst::tags::kBody, "body of " + subject);
    return m;
}

// Three levels of folders with mail at each level.
struct SampleStore {
    pst::FolderId inbox = 0, projects = 0, archive = 0;
    std::vector<pst::Nid> inboxMail;
};

SampleStore Fill(pst::PstStore& store) {
    SampleStore s;
    s.inbox = store.CreateFolder(store.ipmSubtree(), "Inbox");
    s.projects = store.CreateFolder(s.inbox, "Projects");
    s.archive = store.CreateFolder(s.projects, "Archive");
    store.CreateFolder(store.ipmSubtree(), "Contacts", "IPF.Contact");
    for (int i = 0; i < 5; ++i) s.inboxMail.push_back(store.AddMessage(s.inbox, Mail("inbox " + std::to_string(i))));
    for (int i = 0; i < 3; ++i) store.AddMessage(s.archive, Mail("archive " + std::to_string(i)));
    store.AddMessage(store.deletedItems(), Mail("deleted"));
    return s;
}

TEST(FolderTables, AStoreOfOurWriterPassesStrictly) {
    const auto path = bmtest::ScratchDir("folders_clean") / "clean.pst";
    auto store = pst::PstStore::Create(path, {});
    Fill(*store);
    store->Finish();
    const auto report = bm::CheckStore(path, kStrict);
    EXPECT_TRUE(report.folderTablesChecked);
    EXPECT_TRUE(report.findings.empty()) << Dump(report);
}

TEST(FolderTables, AFolderNoHierarchyTableListsIsFound) {
    const auto path = bmtest::ScratchDir("folders_stray") / "stray.pst";
    auto sink = std::make_unique<DamagingSink>(path);
    DamagingSink& damage = *sink;
    auto store = pst::PstStore::CreateOn(std::move(sink), {});
    const SampleStore s = Fill(*store);
    damage.strayFolderUnder = s.archive;  // Archive has no subfolders of its own
    store->Finish();
    ASSERT_NE(damage.strayFolder, 0u);

    const auto report = bm::CheckStore(path, kStrict);
    EXPECT_TRUE(report.folderTablesChecked);
    const std::string table = "hierarchy table of folder " + Hex(s.archive) + " (node " + Hex((s.archive & ~0x1Fu) | 0x0D) + ")";
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, table + " lacks rows for " + Hex(damage.strayFolder)), 1u)
        << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error,
                    "folder " + Hex(s.archive) + " gives PR_SUBFOLDERS false but has 1 subfolder(s)"),
              1u)
        << Dump(report);
    // The stray folder has no tables of its own.
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, "folder " + Hex(damage.strayFolder) + " has no hierarchy table"),
              1u)
        << Dump(report);
    // The other folders are not blamed.
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, "folder " + Hex(s.inbox)), 0u) << Dump(report);

    // A third-party store may deviate: without the strict option these are warnings.
    const auto lenient = bm::CheckStore(path);
    EXPECT_EQ(lenient.errorCount(), 0u) << Dump(lenient);
    EXPECT_EQ(Count(lenient, bm::FindingSeverity::Warning, table + " lacks rows"), 1u) << Dump(lenient);
}

TEST(FolderTables, AContentsRowWithoutItsMessageIsFound) {
    const auto path = bmtest::ScratchDir("folders_extra_row") / "extra.pst";
    auto sink = std::make_unique<DamagingSink>(path);
    DamagingSink& damage = *sink;
    auto store = pst::PstStore::CreateOn(std::move(sink), {});
    // The third mail of the inbox gets a contents row but no node.
    damage.dropMessage = 2;
    const pst::FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    std::vector<pst::Nid> mail;
    for (int i = 0; i < 5; ++i) mail.push_back(store->AddMessage(inbox, Mail("mail " + std::to_string(i))));
    store->Finish();
    const pst::Nid dropped = damage.dropped;
    ASSERT_EQ(dropped, mail[2]);

    const auto report = bm::CheckStore(path, kStrict);
    const std::string table = "contents table of folder " + Hex(inbox) + " (node " + Hex((inbox & ~0x1Fu) | 0x0E) + ")";
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error,
                    table + " lists nodes that are not the folder's: " + Hex(dropped)),
              1u)
        << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error,
                    "folder " + Hex(inbox) + " gives content count 5 but holds 4 message(s)"),
              1u)
        << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, "lacks rows"), 0u) << Dump(report);
}

TEST(FolderTables, InAContentsTableOfManyBlocksARowWithoutItsMessageIsFound) {
    // Enough mail that the row matrix and the heap span several blocks; the
    // dropped mail's row lies in a middle block of the matrix.
    constexpr int kMail = 600;
    ASSERT_GT(std::size_t{kMail} * pst::ContentsTableLayout().rowSize(), std::size_t{4} * 8176);
    const auto path = bmtest::ScratchDir("folders_long_table") / "long.pst";
    auto sink = std::make_unique<DamagingSink>(path);
    DamagingSink& damage = *sink;
    auto store = pst::PstStore::CreateOn(std::move(sink), {});
    damage.dropMessage = 450;
    const pst::FolderId inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    std::vector<pst::Nid> mail;
    for (int i = 0; i < kMail; ++i) mail.push_back(store->AddMessage(inbox, Mail("mail " + std::to_string(i))));
    store->Finish();
    ASSERT_EQ(damage.dropped, mail[450]);

    const auto report = bm::CheckStore(path, kStrict);
    const std::string table = "contents table of folder " + Hex(inbox) + " (node " + Hex((inbox & ~0x1Fu) | 0x0E) + ")";
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error,
                    table + " lists nodes that are not the folder's: " + Hex(damage.dropped)),
              1u)
        << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error,
                    "folder " + Hex(inbox) + " gives content count 600 but holds 599 message(s)"),
              1u)
        << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, "lacks rows"), 0u) << Dump(report);
    EXPECT_EQ(Count(report, bm::FindingSeverity::Error, "twice"), 0u) << Dump(report);
}

TEST(FolderTables, DamagedCopiesGiveFindingsNotCrashes) {
    const auto dir = bmtest::ScratchDir("folders_random");
    const auto clean = dir / "clean.pst";
    auto store = pst::PstStore::Create(clean, {.crypt = bm::CryptMethod::None});
    Fill(*store);
    store->Finish();
    const auto whole = bmtest::ReadWholeFile(clean);
    std::mt19937 rng(11);
    int roundsWithErrors = 0;
    for (int round = 0; round < 30; ++round) {
        std::vector<std::uint8_t> bytes = whole;
        // Runs of garbage after the header, so the walks reach the damage.
        for (int n = 0; n < 12; ++n) {
            const std::size_t at = 0x4400 + rng() % (bytes.size() - 0x4400);
            for (std::size_t i = at; i < std::min(bytes.size(), at + 1 + rng() % 48); ++i)
                bytes[i] = static_cast<std::uint8_t>(rng());
        }
        const auto damaged = dir / "damaged.pst";
        std::ofstream(damaged, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        const auto report = bm::CheckStore(damaged, kStrict);
        if (report.errorCount() > 0) ++roundsWithErrors;
    }
    // Garbage that falls into free space or block padding changes nothing
    // a reader uses; most rounds hit something.
    EXPECT_GE(roundsWithErrors, 15);
}

}  // namespace
