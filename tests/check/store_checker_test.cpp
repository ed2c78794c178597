#include "check/store_checker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/ndb_writer.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

namespace pst = bm::pst;
using pst::MakeNid;
using pst::NidType;

std::uint64_t Le(const std::vector<std::uint8_t>& f, std::size_t at, std::size_t width) {
    return bm::ByteReader(f).peekAt(at, width).value_or(0);
}

void FixPageCrc(std::vector<std::uint8_t>& f, std::uint64_t ib) {
    bm::PutLe(&f[ib + pst::kTrailerCrc], bm::ComputeCrc(std::span(f).subspan(ib, pst::kPageDataSize)), 4);
}

bool HasError(const bm::CheckReport& r, const std::string& text, std::uint64_t at) {
    return std::any_of(r.findings.begin(), r.findings.end(), [&](const bm::Finding& f) {
        return f.severity == bm::FindingSeverity::Error && f.offset == at && f.text.find(text) != std::string::npos;
    });
}

std::string Dump(const bm::CheckReport& r) {
    std::string out;
    for (const auto& f : r.findings) out += bm::FormatFinding(f) + "\n";
    return out;
}

// The marker sits in one unencoded data block, so a test can find it.
const std::string kMarker = "checker-test-marker-block";
// The node layer only: no folder, so the folder tables are not compared.
constexpr pst::Nid kSharedNid = 0x161;

std::filesystem::path WriteSmallStore(const std::string& name) {
    const auto path = bmtest::ScratchDir(name) / "small.pst";
    auto w = pst::NdbWriter::Create(path, {false, bm::CryptMethod::None});
    std::vector<std::uint8_t> marker(kMarker.begin(), kMarker.end());
    w->SetNode(0x21, w->WriteData(marker), 0, 0);
    std::vector<pst::NdbWriter::Subnode> subs;
    for (std::uint32_t i = 1; i <= 500; ++i) {
        subs.push_back({MakeNid(NidType::Ltp, i), w->WriteData(std::vector<std::uint8_t>(i, 7)), 0});
    }
    const auto shared = w->WriteData(std::vector<std::uint8_t>(100, 1));
    w->SetNode(kSharedNid, shared, w->WriteSubnodes(subs), 0);
    for (int i = 0; i < 60; ++i) {
        const auto nid = w->NewNid(NidType::NormalMessage);
        w->SetNode(nid, i % 3 == 0 ? shared : w->WriteData(std::vector<std::uint8_t>(9000 + i, 3)), 0, kSharedNid);
    }
    w->Finish();
    return path;
}

TEST(StoreChecker, UndamagedRealStoresHaveNoErrors) {
    for (const char* name : {"ansi-sample.pst", "unicode-sample.pst", "unicode-submessage.pst",
                             "unicode-dist-list.pst", "unicode-sample.ost", "unicode-enron.pst"}) {
        BM_REQUIRE_STORE(path, name);
        const auto report = bm::CheckStore(path);
        EXPECT_FALSE(report.notChecked) << name;
        EXPECT_EQ(report.errorCount(), 0u) << name << "\n" << Dump(report);
        EXPECT_GT(report.blocksChecked, 30u) << name;
        EXPECT_GT(report.nodesChecked, 40u) << name;
        EXPECT_TRUE(report.folderTablesChecked) << name;
    }
}

TEST(StoreChecker, AFourKibStoreIsCheckedPageByPage) {
    BM_REQUIRE_STORE(path, "4k-sample.ost");
    const auto report = bm::CheckStore(path);
    EXPECT_FALSE(report.notChecked);
    EXPECT_EQ(report.version, 36);
    EXPECT_EQ(report.errorCount(), 0u) << Dump(report);
    EXPECT_TRUE(report.ok());
    EXPECT_TRUE(report.folderTablesChecked);
    EXPECT_GT(report.pagesChecked, 2u);
    EXPECT_GT(report.blocksChecked, 30u);
    EXPECT_GT(report.nodesChecked, 40u);
}

// Damage to a copy of the 4 KiB sample: a byte of a B-tree page's entries
// and a byte of a data block are found at their offsets.
TEST(StoreChecker, DamageInAFourKibStoreIsFound) {
    BM_REQUIRE_STORE(path, "4k-sample.ost");
    const std::vector<std::uint8_t> clean = bmtest::ReadWholeFile(path);
    constexpr std::size_t kPage = 4096, kLevelAt = 4061, kCountAt = 4056;
    // The first block of the block B-tree: down the first entries to a leaf.
    std::uint64_t page = Le(clean, pst::hdr::kBbtRoot + 8, 8);
    for (int depth = 0; depth < 8 && page + kPage <= clean.size() && clean[page + kLevelAt] > 0; ++depth) {
        page = Le(clean, page + 16, 8);
    }
    ASSERT_LE(page + kPage, clean.size());
    ASSERT_EQ(clean[page + kLevelAt], 0);
    ASSERT_GT(Le(clean, page + kCountAt, 2), 0u);
    const std::uint64_t blockAt = Le(clean, page + 8, 8);
    ASSERT_GT(Le(clean, page + 16, 2), 2u);
    ASSERT_LT(blockAt, clean.size());

    const auto copy = bmtest::ScratchDir("check_4k_damage") / "damaged.ost";
    std::vector<std::uint8_t> bytes = clean;
    bytes[blockAt + 1] ^= 0x40;
    bmtest::WriteWholeFile(copy, bytes);
    auto report = bm::CheckStore(copy);
    EXPECT_TRUE(HasError(report, "CRC mismatch", blockAt)) << Dump(report);

    bytes = clean;
    bytes[page + 30] ^= 0x01;  // inside the second entry
    bmtest::WriteWholeFile(copy, bytes);
    report = bm::CheckStore(copy);
    EXPECT_TRUE(HasError(report, "page CRC mismatch", page)) << Dump(report);
}

TEST(StoreChecker, AStoreOfOurWriterPassesWithoutAnyFinding) {
    const auto report = bm::CheckStore(WriteSmallStore("check_clean"), {true});
    EXPECT_TRUE(report.findings.empty()) << Dump(report);
    EXPECT_EQ(report.nodesChecked, 62u);
    EXPECT_GT(report.pagesChecked, 5u);
}

class DamagedStore : public ::testing::Test {
protected:
    void SetUp() override {
        clean_ = WriteSmallStore(::testing::UnitTest::GetInstance()->current_test_info()->name());
        bytes_ = bmtest::ReadWholeFile(clean_);
        damaged_ = clean_.parent_path() / "damaged.pst";
    }
    bm::CheckReport check() {
        bmtest::WriteWholeFile(damaged_, bytes_);
        return bm::CheckStore(damaged_, {true});
    }
    std::uint64_t nbtRoot() const { return Le(bytes_, pst::hdr::kNbtRoot + 8, 8); }
    std::uint64_t markerAt() const {
        const auto it = std::search(bytes_.begin(), bytes_.end(), kMarker.begin(), kMarker.end());
        EXPECT_NE(it, bytes_.end());
        return static_cast<std::uint64_t>(it - bytes_.begin());
    }

    std::filesystem::path clean_, damaged_;
    std::vector<std::uint8_t> bytes_;
};

TEST_F(DamagedStore, AFlippedByteInABlockIsACrcError) {
    const std::uint64_t at = markerAt();
    bytes_[at + 3] ^= 0x10;
    const auto report = check();
    EXPECT_TRUE(HasError(report, "CRC mismatch", at)) << Dump(report);
    EXPECT_EQ(report.errorCount(), 1u) << Dump(report);
}

TEST_F(DamagedStore, ADamagedPageIsACrcError) {
    // The NBT root is a branch page; a byte of its entries changes.
    const std::uint64_t root = nbtRoot();
    bytes_[root + 5] ^= 0x01;
    const auto report = check();
    EXPECT_TRUE(HasError(report, "page CRC mismatch", root)) << Dump(report);
}

TEST_F(DamagedStore, AMissingBlockIsNamedWithTheNodeThatNeedsIt) {
    // Point the first node (0x21) at a BID the block B-tree does not hold,
    // with a page CRC that matches, so only the missing block is wrong.
    std::uint64_t page = nbtRoot();
    while (bytes_[page + pst::kBTreeCLevel] > 0) page = Le(bytes_, page + 16, 8);
    ASSERT_EQ(Le(bytes_, page, 8), 0x21u);
    bm::PutLe(&bytes_[page + 8], 0xFFFF0, 8);
    FixPageCrc(bytes_, page);
    const auto report = check();
    EXPECT_TRUE(HasError(report, "refers to block 0xffff0, which the block B-tree does not list", page)) << Dump(report);
    // The marker block lost its only reference.
    EXPECT_TRUE(HasError(report, "without any reference", markerAt() & ~std::uint64_t{63})) << Dump(report);
}

TEST_F(DamagedStore, SpaceInUseThatTheAMapMarksFreeIsAnError) {
    const std::uint64_t at = markerAt() & ~std::uint64_t{63};
    const std::uint64_t interval = (at - pst::kFirstAMapOffset) / pst::kAMapCoverage;
    const std::uint64_t amap = pst::IntervalStart(interval);
    const std::uint64_t bit = (at - amap) / 64;
    bytes_[amap + bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
    FixPageCrc(bytes_, amap);
    const auto report = check();
    EXPECT_TRUE(HasError(report, "marked free in the AMap", at)) << Dump(report);
}

TEST_F(DamagedStore, HeaderDamageIsFound) {
    bytes_[pst::hdr::kNbtRoot + 9] ^= 0x01;
    auto report = check();
    EXPECT_TRUE(HasError(report, "header partial CRC mismatch", 4)) << Dump(report);
    EXPECT_TRUE(HasError(report, "header full CRC mismatch", pst::hdr::kCrcFull)) << Dump(report);
    bytes_[0] = 'X';
    report = check();
    EXPECT_TRUE(HasError(report, "magic", 0)) << Dump(report);
}

// The checker knows the layout from the reader's description, not from the
// writer's constants: a store as a writer with one wrong constant would
// write it (the field a few bytes off, every CRC made to match) fails the
// check, under the kind of finding the misplaced field belongs to.
TEST_F(DamagedStore, AWriterWithAWrongLayoutConstantIsCaught) {
    const auto fixHeaderCrcs = [](std::vector<std::uint8_t>& f) {
        bm::PutLe(&f[pst::hdr::kCrcPartial], bm::ComputeCrc(std::span(f).subspan(8, pst::hdr::kCrcPartialLength)), 4);
        bm::PutLe(&f[pst::hdr::kCrcFull], bm::ComputeCrc(std::span(f).subspan(8, pst::hdr::kCrcFullLength)), 4);
    };
    // Moves `width` bytes from `from` to `to`, zeroing what they leave.
    const auto move = [](std::vector<std::uint8_t>& f, std::size_t from, std::size_t to, std::size_t width) {
        const std::vector<std::uint8_t> field(f.begin() + from, f.begin() + from + width);
        std::fill_n(f.begin() + from, width, 0);
        std::copy(field.begin(), field.end(), f.begin() + to);
    };
    struct Case {
        const char* constant;
        std::function<void(std::vector<std::uint8_t>&, std::uint64_t nbtRoot)> write;
        bm::FindingKind kind;
    };
    const std::vector<Case> cases = {
        {"ibFileEof 8 bytes early",
         [&](auto& f, auto) {
             move(f, pst::hdr::kFileEof, pst::hdr::kFileEof - 8, 8);
             fixHeaderCrcs(f);
         },
         bm::FindingKind::AllocationMap},
        {"the node B-tree root 8 bytes late",
         [&](auto& f, auto) {
             move(f, pst::hdr::kNbtRoot + 8, pst::hdr::kNbtRoot + 16, 8);
             move(f, pst::hdr::kNbtRoot, pst::hdr::kNbtRoot + 8, 8);
             fixHeaderCrcs(f);
         },
         bm::FindingKind::Page},
        {"bSentinel one byte early",
         [&](auto& f, auto) {
             move(f, pst::hdr::kSentinelAt, pst::hdr::kSentinelAt - 1, 1);
             fixHeaderCrcs(f);
         },
         bm::FindingKind::Header},
        {"cLevel in the footer's padding",
         [&](auto& f, std::uint64_t root) {
             move(f, root + pst::kBTreeCLevel, root + pst::kBTreeCLevel + 1, 1);
             FixPageCrc(f, root);
         },
         bm::FindingKind::Page},
        {"the page CRC over the entries only",
         [&](auto& f, std::uint64_t root) {
             const auto entries = std::span(f).subspan(root, pst::kBTreeEntriesSize);
             bm::PutLe(&f[root + pst::kTrailerCrc], bm::ComputeCrc(entries), 4);
         },
         bm::FindingKind::Page},
        {"AMap bits least significant first",
         [&](auto& f, auto) {
             for (std::size_t i = 0; i < pst::kPageDataSize; ++i) {
                 std::uint8_t b = f[pst::kFirstAMapOffset + i], r = 0;
                 for (int bit = 0; bit < 8; ++bit) r = static_cast<std::uint8_t>(r | (((b >> bit) & 1) << (7 - bit)));
                 f[pst::kFirstAMapOffset + i] = r;
             }
             FixPageCrc(f, pst::kFirstAMapOffset);
         },
         bm::FindingKind::AllocationMap},
    };
    const std::vector<std::uint8_t> sound = bytes_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.constant);
        bytes_ = sound;
        c.write(bytes_, nbtRoot());
        const auto report = check();
        EXPECT_GT(report.errorCount(), 0u) << Dump(report);
        EXPECT_GT(report.count(c.kind), 0u) << Dump(report);
    }
}

TEST_F(DamagedStore, TruncatedCopiesGiveErrorsNotCrashes) {
    const std::vector<std::uint8_t> whole = bytes_;
    for (const std::size_t keep : {std::size_t{0}, std::size_t{3}, std::size_t{300}, std::size_t{0x4300},
                                   whole.size() / 3, whole.size() / 2, whole.size() - 512}) {
        bytes_.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        const auto report = check();
        EXPECT_GT(report.errorCount(), 0u) << "kept " << keep;
    }
}

TEST_F(DamagedStore, RandomBytesNeverCrashTheChecker) {
    std::mt19937 rng(4);
    const std::vector<std::uint8_t> whole = bytes_;
    for (int round = 0; round < 40; ++round) {
        bytes_ = whole;
        // Scramble runs across the file: pages, blocks and maps alike.
        for (int n = 0; n < 30; ++n) {
            const std::size_t at = rng() % bytes_.size();
            for (std::size_t i = at; i < std::min(bytes_.size(), at + 1 + rng() % 64); ++i) {
                bytes_[i] = static_cast<std::uint8_t>(rng());
            }
        }
        if (round % 2 == 0) {  // keep the header sound so the walk goes deep
            std::copy_n(whole.begin(), pst::hdr::kSize, bytes_.begin());
        }
        (void)check();
    }
    for (const std::size_t size : {std::size_t{600}, std::size_t{70000}}) {
        bytes_.resize(size);
        for (auto& b : bytes_) b = static_cast<std::uint8_t>(rng());
        std::copy_n(whole.begin(), 12, bytes_.begin());  // magic and wVer 23
        EXPECT_GT(check().errorCount(), 0u);
    }
}

TEST(StoreChecker, AMissingFileIsOneError) {
    const auto report = bm::CheckStore("/nonexistent/store.pst");
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_NE(report.findings[0].text.find("cannot open"), std::string::npos);
}

}  // namespace
