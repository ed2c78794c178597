// The writer's output file: what is appended in pieces, dropped from the
// page cache behind the writer and partly written over afterwards reads
// back as written.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "output/pst/ndb_file.h"
#include "support/test_paths.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::mt19937 rng(seed);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Enough for the file to pass several of the pieces after which the written
// bytes leave the page cache (8 MiB each).
constexpr std::size_t kFileSize = 26u << 20;

TEST(NdbFile, AFileLargerThanSeveralWrittenPiecesReadsBackWithEveryByteAndEveryLaterOverwrite) {
    const auto path = bmtest::ScratchDir("ndb_file_pieces") / "out.bin";
    Bytes expected;
    expected.reserve(kFileSize);
    {
        bm::pst::NdbFile file(path);
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
        file.sync();
        file.close();
    }
    const Bytes actual = ReadWhole(path);
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

}  // namespace
