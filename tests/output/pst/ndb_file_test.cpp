// The writer's output file: what is appended in pieces, dropped from the
// page cache behind the writer and partly written over afterwards reads
// back as written.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>

#include "output/pst/ndb_file.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::mt19937 rng(seed);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

// Enough for the file to pass several of the pieces after which the written
// bytes leave the page cache (8 MiB each).
constexpr std::size_t kFileSize = 26u << 20;

// Whether every file page of [from, to) is in the page cache.
bool Cached(const std::filesystem::path& path, std::uint64_t from, std::uint64_t to) {
    const long page = ::sysconf(_SC_PAGESIZE);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    const std::size_t size = std::filesystem::file_size(path);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, ::fileno(f), 0);
    std::fclose(f);
    if (map == MAP_FAILED) return false;
    std::vector<unsigned char> resident((size + page - 1) / page);
    const bool ok = ::mincore(map, size, resident.data()) == 0;
    ::munmap(map, size);
    if (!ok) return false;
    for (std::uint64_t p = from / page; p < (to + page - 1) / page; ++p) {
        if ((resident[p] & 1) == 0) return false;
    }
    return true;
}

// Ranges the writer will write over at the end, as the map pages of each
// allocation-map interval: at the start, across the boundary of two pieces
// (512 KiB), long ones, and some in the middle of the appends, before and
// after the first 16 MiB (which stay in the page cache anyway).
struct KeptRange {
    std::uint64_t offset;
    std::uint64_t length;
};
const std::vector<KeptRange> kKept = {
    {0, 0x4400},          {(512u << 10) - 700, 1400}, {(3u << 20) + 100, 9000},  {(9u << 20) + 0x4400, 1536},
    {(17u << 20) + 512, 512}, {(18u << 20) - 700, 1400}, {(21u << 20) + 100, 9000}, {(23u << 20) + 0x4400, 1536},
};

TEST(NdbFile, AFileLargerThanSeveralWrittenPiecesReadsBackWithEveryByteAndEveryLaterOverwrite) {
    const auto path = bmtest::ScratchDir("ndb_file_pieces") / "out.bin";
    Bytes expected;
    expected.reserve(kFileSize);
    {
        bm::pst::NdbFile file(path);
        for (const KeptRange& r : kKept) file.keepCached(r.offset, r.length);
        std::uint32_t seed = 1;
        while (expected.size() < kFileSize) {
            // Appends of every kind and of uneven sizes, so that pieces end
            // in the middle of a block and of a page.
            const Bytes copied = Pattern(7000 + seed % 5000, seed);
            file.append(copied);
            expected.insert(expected.end(), copied.begin(), copied.end());

            const Bytes placed = Pattern(8192 - seed % 700, seed + 100000);
            const std::span<std::uint8_t> slot = file.appendInPlace(placed.size());
            std::copy(placed.begin(), placed.end(), slot.begin());
            expected.insert(expected.end(), placed.begin(), placed.end());

            if (seed % 16 == 0) {
                file.appendZeros(4096 + seed);
                expected.resize(expected.size() + 4096 + seed, 0);
            }
            ++seed;
            EXPECT_EQ(file.end(), expected.size());
        }
        // Where the pieces went past the page cache, the kept ranges did not:
        // they are cached before anything is written over them, and the
        // rest of the file past its first 16 MiB is not.
        file.sync();
        if (file.directWrites() > 0) {
            for (const KeptRange& r : kKept) EXPECT_TRUE(Cached(path, r.offset, r.offset + r.length)) << r.offset;
            EXPECT_FALSE(Cached(path, 20u << 20, (20u << 20) + 4096));
        }
        // Written over once the first pieces have long left the cache: the
        // start, the middle of a page in an early piece, a range across the
        // boundary of two pieces, and the last bytes.
        const auto overwrite = [&](std::uint64_t at, std::size_t size, std::uint32_t seedOf) {
            const Bytes bytes = Pattern(size, seedOf);
            file.writeAt(at, bytes);
            std::copy(bytes.begin(), bytes.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
        };
        overwrite(0, 512, 7);
        overwrite((1u << 20) + 1234, 3000, 8);
        overwrite((8u << 20) - 2000, 6000, 9);
        overwrite(expected.size() - 100, 100, 10);
        std::uint32_t seedOf = 20;
        for (const KeptRange& r : kKept) overwrite(r.offset, static_cast<std::size_t>(r.length), seedOf++);
        file.sync();
        file.close();
    }
    const Bytes actual = bmtest::ReadWholeFile(path);
    ASSERT_EQ(actual.size(), expected.size());
    // Compared piece by piece so that a fault names where it is.
    constexpr std::size_t kPiece = 1u << 20;
    for (std::size_t at = 0; at < actual.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, actual.size() - at);
        ASSERT_TRUE(std::equal(actual.begin() + static_cast<std::ptrdiff_t>(at),
                               actual.begin() + static_cast<std::ptrdiff_t>(at + n),
                               expected.begin() + static_cast<std::ptrdiff_t>(at)))
            << "the MiB at offset " << at << " differs";
    }
    std::filesystem::remove(path);
}

// Appends far quicker than the disk takes them: each piece is handed over
// while the one before is still being written. The buffers written are
// taken again, so three serve the whole file, and it reads back whole.
TEST(NdbFile, PiecesHandedOverFasterThanTheyAreWrittenGoThroughThreeBuffers) {
    const auto path = bmtest::ScratchDir("ndb_file_buffers") / "out.bin";
    const Bytes chunk = Pattern(256u << 10, 3);
    constexpr std::size_t kChunks = 160;  // 40 MiB, 80 pieces
    {
        bm::pst::NdbFile file(path);
        for (std::size_t i = 0; i < kChunks; ++i) file.append(chunk);
        file.sync();
        EXPECT_LE(file.buffersMade(), 3u);
        file.close();
    }
    const Bytes actual = bmtest::ReadWholeFile(path);
    ASSERT_EQ(actual.size(), chunk.size() * kChunks);
    for (std::size_t i = 0; i < kChunks; ++i)
        ASSERT_TRUE(std::equal(chunk.begin(), chunk.end(), actual.begin() + static_cast<std::ptrdiff_t>(i * chunk.size())))
            << "chunk " << i;
    std::filesystem::remove(path);
}

// The name reserved for a store is swapped for a link to another file
// before the writer opens it: the writer writes through the descriptor
// reserved with the name, never through the link, and the name is given
// to the store only while it still names the reserved file.
TEST(ReservedOutputFile, AReservedNameSwappedForALinkNeverLeadsTheWriterToTheLinkedFile) {
    const auto dir = bmtest::ScratchDir("ndb-reserved-swapped");
    const auto reservedName = dir / "store.pst.partial";
    const auto victim = dir / "precious.txt";
    { std::ofstream(victim) << "precious"; }
    auto reserved = bm::pst::ReservedOutputFile::Create(reservedName);
    ASSERT_NE(reserved, nullptr);
    EXPECT_EQ(bm::pst::ReservedOutputFile::Create(reservedName), nullptr) << "the name is taken";
    std::filesystem::remove(reservedName);
    std::filesystem::create_symlink(victim, reservedName);

    const Bytes bytes = Pattern(1u << 20, 7);
    {
        bm::pst::NdbFile file(reservedName);
        file.append(bytes);
        file.close();
    }
    EXPECT_EQ(bmtest::ReadWholeFile(victim), Bytes({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_FALSE(reserved->StillNamed());
    const std::string refused = reserved->MoveTo(dir / "store.pst");
    EXPECT_NE(refused.find("replaced"), std::string::npos) << refused;
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir / "store.pst")));
}

// Without the link the same reservation is written and then named, and a
// name that is taken meanwhile is never replaced.
TEST(ReservedOutputFile, AReservedFileIsWrittenThroughItsDescriptorAndNamedWithoutReplacingAFile) {
    const auto dir = bmtest::ScratchDir("ndb-reserved-named");
    auto reserved = bm::pst::ReservedOutputFile::Create(dir / "store.pst.partial");
    ASSERT_NE(reserved, nullptr);
    const Bytes bytes = Pattern(3u << 20, 9);
    {
        bm::pst::NdbFile file(dir / "store.pst.partial");
        file.append(bytes);
        file.close();
    }
    { std::ofstream(dir / "taken.pst") << "mine"; }
    EXPECT_FALSE(reserved->MoveTo(dir / "taken.pst").empty());
    EXPECT_EQ(bmtest::ReadWholeFile(dir / "taken.pst"), Bytes({'m', 'i', 'n', 'e'}));
    EXPECT_EQ(reserved->MoveTo(dir / "store.pst"), "");
    EXPECT_EQ(bmtest::ReadWholeFile(dir / "store.pst"), bytes);
    EXPECT_FALSE(std::filesystem::exists(dir / "store.pst.partial"));
}

}  // namespace
