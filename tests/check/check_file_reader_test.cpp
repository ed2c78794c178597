#include "check/check_file_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "support/child_process.h"
#include "support/file_bytes.h"
#include "support/test_paths.h"

namespace {

// A file whose every byte tells where it lies.
std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 8));
    return bytes;
}

std::filesystem::path WriteFile(const std::string& dir, const std::vector<std::uint8_t>& bytes) {
    const auto path = bmtest::ScratchDir(dir) / "store.bin";
    bmtest::WriteWholeFile(path, bytes);
    return path;
}

bool SameAsFile(const bm::ByteReader& r, const std::vector<std::uint8_t>& file, std::uint64_t at, std::size_t n) {
    if (r.failed() || r.size() != n) return false;
    return std::equal(r.data().begin(), r.data().end(), file.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(CheckFileReader, ReadsAcrossWindowBoundariesGiveTheFileBytes) {
    const auto file = Pattern(200'000);
    const auto path = WriteFile("check_reader_window", file);
    bm::CheckFileReader reader(path, 16384);
    ASSERT_TRUE(reader.opened()) << reader.error();
    EXPECT_EQ(reader.size(), file.size());

    // The first read fills the smallest window (4 KiB); a block that starts
    // inside it and ends past it must come whole and right.
    EXPECT_TRUE(SameAsFile(reader.read(0, 512), file, 0, 512));
    EXPECT_TRUE(SameAsFile(reader.read(4000, 8192), file, 4000, 8192));
    // Ending exactly on the window's end, then one byte past it.
    EXPECT_TRUE(SameAsFile(reader.read(12000, 192), file, 12000, 192));
    EXPECT_TRUE(SameAsFile(reader.read(12100, 200), file, 12100, 200));
    // A read longer than the window is served whole.
    EXPECT_TRUE(SameAsFile(reader.read(30000, 65536), file, 30000, 65536));
    // Backwards, and the last bytes of the file.
    EXPECT_TRUE(SameAsFile(reader.read(100, 300), file, 100, 300));
    EXPECT_TRUE(SameAsFile(reader.read(file.size() - 24, 24), file, file.size() - 24, 24));
    EXPECT_TRUE(reader.read(5, 0).ok());
}

TEST(CheckFileReader, ReadsPastTheEndFailAndNothingIsMadeUp) {
    const auto file = Pattern(10'000);
    const auto path = WriteFile("check_reader_end", file);
    bm::CheckFileReader reader(path, 4096);
    ASSERT_TRUE(reader.opened());
    EXPECT_TRUE(reader.read(9'500, 512).failed());  // a page running past the end
    EXPECT_TRUE(reader.read(10'000, 1).failed());   // starting at the end
    EXPECT_TRUE(reader.read(1ull << 40, 512).failed());
    EXPECT_TRUE(reader.read(~0ull - 10, 512).failed());  // offset + n wraps
    EXPECT_TRUE(SameAsFile(reader.read(9'488, 512), file, 9'488, 512));

    bm::CheckFileReader missing(bmtest::ScratchDir("check_reader_missing") / "none.pst");
    EXPECT_FALSE(missing.opened());
    EXPECT_FALSE(missing.error().empty());
    EXPECT_TRUE(missing.read(0, 1).failed());
}

TEST(CheckFileReader, AFileCutShortAfterOpeningGivesFailedReadsNotStaleBytes) {
    const auto file = Pattern(100'000);
    const auto path = WriteFile("check_reader_truncated", file);
    bm::CheckFileReader reader(path, 8192);
    ASSERT_TRUE(reader.opened());
    EXPECT_TRUE(SameAsFile(reader.read(0, 512), file, 0, 512));
    std::filesystem::resize_file(path, 50'000);
    // Still inside the size seen at opening, but no longer in the file.
    EXPECT_TRUE(reader.read(60'000, 512).failed());
    EXPECT_TRUE(reader.read(49'900, 512).failed());  // runs past the new end
    EXPECT_TRUE(SameAsFile(reader.read(49'000, 512), file, 49'000, 512));
}

TEST(CheckFileReader, ForwardReadsShareRefillsAndJumpsReadLittle) {
    const auto file = Pattern(1 << 20);
    const auto path = WriteFile("check_reader_refills", file);
    bm::CheckFileReader reader(path, 65536);
    ASSERT_TRUE(reader.opened());
    for (std::uint64_t at = 0; at + 512 <= file.size(); at += 512) {
        ASSERT_TRUE(SameAsFile(reader.read(at, 512), file, at, 512)) << at;
    }
    // 2,048 pages: the window grows to 64 KiB, so a few dozen refills do.
    EXPECT_LT(reader.refills(), 40u);
    EXPECT_EQ(reader.bytesRead(), file.size());
    // A jump back reads the smallest refill, not a whole window.
    const std::uint64_t before = reader.bytesRead();
    EXPECT_TRUE(SameAsFile(reader.read(1000, 512), file, 1000, 512));
    EXPECT_EQ(reader.bytesRead() - before, bm::CheckFileReader::kSmallestRefill);
}

// One page in every allocation-map interval, as the map check reads them:
// forward, but far apart. The reader takes those pages, not the file
// between them.
TEST(CheckFileReader, ReadsFarApartDoNotReadTheBytesBetweenThem) {
    const auto file = Pattern(std::size_t{16} << 20);
    const auto path = WriteFile("check_reader_sparse", file);
    bm::CheckFileReader reader(path);
    ASSERT_TRUE(reader.opened());
    constexpr std::uint64_t kInterval = 253952;
    std::uint64_t pages = 0;
    for (std::uint64_t at = 0x4400; at + 512 <= file.size(); at += kInterval, ++pages) {
        ASSERT_TRUE(SameAsFile(reader.read(at, 512), file, at, 512)) << at;
        ASSERT_TRUE(SameAsFile(reader.read(at + 512, 512), file, at + 512, 512)) << at;
    }
    EXPECT_LE(reader.bytesRead(), pages * 2 * bm::CheckFileReader::kSmallestRefill);
    EXPECT_EQ(reader.readsAhead(), 0u);
}

// Reads of uneven sizes marching through the file, as the block check
// makes them: most run from one window into the next (their first bytes
// carried over), some jump back or far ahead while the next window is
// being read. Every read gives the file's bytes, and the windows after
// the first few are read ahead: past the page cache where the file system
// allows it (the file ends off a 4 KiB boundary, and the windows start
// anywhere), and through it, as by default for a file this small.
TEST(CheckFileReader, ReadsAheadOfTheCheckerGiveTheFileBytesAcrossWindowsAndJumps) {
    const auto file = Pattern((3u << 20) + 1234);
    const auto path = WriteFile("check_reader_ahead", file);
    const int probe = ::open(path.c_str(), O_RDONLY | O_DIRECT);
    const bool directAllowed = probe >= 0;
    if (probe >= 0) ::close(probe);
    for (const std::uint64_t directFrom :
         {std::uint64_t{0}, bm::CheckFileReader::kNeverDirect, bm::CheckFileReader::kDefaultDirectFrom}) {
        SCOPED_TRACE("direct reads from " + std::to_string(directFrom));
        const bool throughCache = directFrom >= file.size();
        bm::CheckFileReader reader(path, 65536, directFrom);
        ASSERT_TRUE(reader.opened());
        std::uint64_t at = 0;
        std::size_t step = 0;
        while (at < file.size()) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(300 + (step * 7919) % 9000, file.size() - at));
            ASSERT_TRUE(SameAsFile(reader.read(at, n), file, at, n)) << at << " " << n;
            if (step % 97 == 50) {
                // A jump back, then on from where the march was.
                const std::uint64_t back = at / 3;
                ASSERT_TRUE(SameAsFile(reader.read(back, 700), file, back, 700)) << back;
            }
            at += n + (step % 5 == 0 ? 64 : 0);
            ++step;
        }
        EXPECT_GT(reader.readsAhead(), 20u);
        if (throughCache || !directAllowed)
            EXPECT_EQ(reader.directReads(), 0u);
        else
            EXPECT_GT(reader.directReads(), 20u);
        // A read far past the window, with a window read ahead waiting, and
        // one that runs past the end of what was read ahead.
        ASSERT_TRUE(SameAsFile(reader.read(100'000, 4000), file, 100'000, 4000));
        for (std::uint64_t a = 100'000; a < 400'000; a += 4000)
            ASSERT_TRUE(SameAsFile(reader.read(a, 4000), file, a, 4000));
        ASSERT_TRUE(SameAsFile(reader.read(2'000'000, 200'000), file, 2'000'000, 200'000));
        ASSERT_TRUE(SameAsFile(reader.read(file.size() - 70'000, 70'000), file, file.size() - 70'000, 70'000));
        EXPECT_TRUE(reader.read(file.size() - 10, 11).failed());
    }
}
TEST(CheckFileReader, AFifoOrADirectoryIsRefusedAtOnce) {
    const auto dir = bmtest::ScratchDir("check_reader_fifo");
    const auto fifo = dir / "store.pst";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::filesystem::path& path : {fifo, dir}) {
        SCOPED_TRACE(path.string());
        // The child ends 0 when the reader refused the path; an open that
        // waits for a writer on the pipe never returns and is killed.
        const auto refused = bmtest::ExitCodeWithin(
            [&path] {
                const bm::CheckFileReader reader(path);
                return !reader.opened() && reader.error() == "not a regular file" ? 0 : 1;
            },
            std::chrono::seconds(20));
        EXPECT_EQ(refused, 0) << "nullopt: the reader still waited after 20 s";
    }
}

}  // namespace
