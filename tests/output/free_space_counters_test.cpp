// The header's free-space counters against the allocation maps: the writer
// sets cbAMapFree and cbPMapFree to what its maps give; the strict check
// holds a store to that byte for byte, with one finding for a store broken
// in that one place; the client's own stores pass.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"
#include "check/store_checker.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

namespace pst = bm::pst;
namespace hdr = pst::hdr;

constexpr bm::CheckOptions kStrict{.strictReferenceCounts = true, .strictFolderTables = true, .clientRules = true};

std::string Dump(const bm::CheckReport& r) {
    std::string out;
    for (const auto& f : r.findings) out += bm::FormatFinding(f) + "\n";
    return out;
}

// Free bytes by the maps of a Unicode store: AMap bits of 64 bytes, PMap
// bits of 512, up to ibFileEof.
struct MapFree {
    std::uint64_t amap = 0, pmap = 0;
};
MapFree FreeByMaps(const std::vector<std::uint8_t>& f) {
    MapFree out;
    const std::uint64_t eof = bm::ByteReader(f).peekAt(hdr::kFileEof, 8).value_or(0);
    for (std::uint64_t k = 0; pst::IntervalStart(k) < eof; ++k) {
        const std::uint64_t base = pst::IntervalStart(k);
        for (std::uint64_t bit = 0; bit < pst::kAMapBits; ++bit) {
            const bool taken = (f[base + bit / 8] & (0x80u >> (bit % 8))) != 0;
            if (base + bit * pst::kAMapUnit < eof && !taken) out.amap += pst::kAMapUnit;
            const bool pageTaken = (f[base + pst::kPageSize + bit / 8] & (0x80u >> (bit % 8))) != 0;
            if (pst::HasPMap(k) && base + bit * pst::kPageSize < eof && !pageTaken) out.pmap += pst::kPageSize;
        }
    }
    return out;
}

// A store with a few folders and messages, some of its space free: a
// replaced folder table leaves its old blocks behind.
std::filesystem::path WriteStore(const std::string& name) {
    const auto path = bmtest::ScratchDir(name) / "counters.pst";
    auto store = pst::PstStore::Create(path, {});
    const pst::Nid inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 0; i < 30; ++i) {
        pst::Message m;
        m.properties.SetString(pst::tags::kSubject, "message " + std::to_string(i));
        m.properties.SetString(pst::tags::kBody, std::string(200 + 97 * i, 'x'));
        store->AddMessage(i % 3 ? inbox : store->ipmSubtree(), m);
    }
    store->Finish();
    return path;
}

std::filesystem::path Broken(const std::filesystem::path& sound, const std::string& name, std::size_t field,
                             std::int64_t delta) {
    auto f = bmtest::ReadWholeFile(sound);
    const std::uint64_t held = bm::ByteReader(f).peekAt(field, 8).value_or(0);
    bm::PutLe(&f[field], static_cast<std::uint64_t>(static_cast<std::int64_t>(held) + delta), 8);
    bm::PutLe(&f[hdr::kCrcPartial], bm::ComputeCrc(std::span(f).subspan(hdr::kMagicClient, hdr::kCrcPartialLength)), 4);
    bm::PutLe(&f[hdr::kCrcFull], bm::ComputeCrc(std::span(f).subspan(hdr::kMagicClient, hdr::kCrcFullLength)), 4);
    const auto path = bmtest::ScratchDir(name) / "broken.pst";
    bmtest::WriteWholeFile(path, f);
    return path;
}

TEST(FreeSpaceCounters, TheWriterHoldsWhatItsMapsGive) {
    const auto path = WriteStore("counters-written");
    const auto f = bmtest::ReadWholeFile(path);
    const MapFree maps = FreeByMaps(f);
    EXPECT_GT(maps.amap, 0u);
    EXPECT_EQ(bm::ByteReader(f).peekAt(hdr::kAMapFree, 8).value_or(0), maps.amap);
    EXPECT_EQ(bm::ByteReader(f).peekAt(hdr::kPMapFree, 8).value_or(0), maps.pmap);
    const auto report = bm::CheckStore(path, kStrict);
    EXPECT_TRUE(report.findings.empty()) << Dump(report);
}

TEST(FreeSpaceCounters, ACounterOffByOneUnitIsOneFinding) {
    const auto sound = WriteStore("counters-sound");
    const std::uint64_t amap = FreeByMaps(bmtest::ReadWholeFile(sound)).amap;
    for (const std::int64_t delta : {64, -64}) {
        const auto path = Broken(sound, "counters-amap" + std::to_string(delta), hdr::kAMapFree, delta);
        const auto report = bm::CheckStore(path, kStrict);
        ASSERT_EQ(report.findings.size(), 1u) << Dump(report);
        EXPECT_EQ(report.findings[0].severity, bm::FindingSeverity::Error);
        EXPECT_EQ(report.findings[0].offset, hdr::kAMapFree);
        EXPECT_EQ(report.findings[0].text, "cbAMapFree " + std::to_string(amap + delta) + " differs from the AMaps' " +
                                               std::to_string(amap) + " free bytes");
        // Outside the strict check a store of another writer may drift: a warning.
        const auto lenient = bm::CheckStore(path);
        EXPECT_EQ(lenient.errorCount(), 0u) << Dump(lenient);
        EXPECT_EQ(lenient.warningCount(), 1u) << Dump(lenient);
    }
    const auto path = Broken(sound, "counters-pmap", hdr::kPMapFree, 512);
    const auto report = bm::CheckStore(path, kStrict);
    ASSERT_EQ(report.findings.size(), 1u) << Dump(report);
    EXPECT_EQ(report.findings[0].offset, hdr::kPMapFree);
    EXPECT_NE(report.findings[0].text.find("cbPMapFree 512 differs from the PMaps' 0 free bytes"), std::string::npos)
        << report.findings[0].text;
}

TEST(FreeSpaceCounters, TheClientsOwnStoresHoldExactCounters) {
    for (const char* name : {"ansi-sample.pst", "unicode-sample.pst", "unicode-submessage.pst",
                             "unicode-dist-list.pst", "unicode-enron.pst", "unicode-sample.ost"}) {
        BM_REQUIRE_STORE(path, name);
        const auto report = bm::CheckStore(path, kStrict);
        for (const auto& finding : report.findings) {
            EXPECT_EQ(finding.text.find("MapFree"), std::string::npos) << name << ": " << bm::FormatFinding(finding);
        }
        if (std::string(name).rfind("unicode", 0) == 0) {
            const auto f = bmtest::ReadWholeFile(path);
            const MapFree maps = FreeByMaps(f);
            EXPECT_EQ(bm::ByteReader(f).peekAt(hdr::kAMapFree, 8).value_or(0), maps.amap) << name;
            EXPECT_EQ(bm::ByteReader(f).peekAt(hdr::kPMapFree, 8).value_or(0), maps.pmap) << name;
        }
    }
}

}  // namespace
