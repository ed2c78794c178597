// The chunked array the index tables keep their records in: records stay
// where they were put across chunk boundaries, iterate in order, and the
// standard algorithms the tables use (binary search, stable sort) see a
// random-access range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/chunked_array.h"

namespace {

struct Record {
    std::uint32_t key = 0;
    std::uint32_t order = 0;
};

TEST(ChunkedArray, RecordsStayPutAcrossChunksAndIterateInOrder) {
    bm::ChunkedArray<Record, 4> array;
    std::vector<const Record*> where;
    for (std::uint32_t i = 0; i < 11; ++i) where.push_back(&array.emplace_back(Record{i * 10, i}));
    ASSERT_EQ(array.size(), 11u);
    for (std::uint32_t i = 0; i < 11; ++i) {
        EXPECT_EQ(where[i], &array[i]) << "moved when later chunks came";
        EXPECT_EQ(array[i].key, i * 10);
    }
    std::vector<std::uint32_t> seen;
    for (const Record& r : array) seen.push_back(r.order);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(array.back().key, 100u);
    EXPECT_EQ(array.end() - array.begin(), 11);

    const auto found = std::lower_bound(array.begin(), array.end(), 45u,
                                        [](const Record& r, std::uint32_t k) { return r.key < k; });
    EXPECT_EQ(found - array.begin(), 5) << "a binary search over the chunks";

    bm::ChunkedArray<Record, 4> moved(std::move(array));
    EXPECT_EQ(moved.size(), 11u);
    EXPECT_EQ(&moved[7], where[7]) << "a move keeps the records where they are";
    EXPECT_TRUE(array.empty());  // NOLINT(bugprone-use-after-move): a moved-from array is empty
}

TEST(ChunkedArray, AStableSortAndATruncationKeepWhatTheWriterDropsDuplicatesWith) {
    bm::ChunkedArray<Record, 3> array;
    const std::uint32_t keys[] = {7, 3, 7, 1, 3, 9, 1, 7};
    for (std::uint32_t i = 0; i < 8; ++i) array.push_back(Record{keys[i], i});
    std::stable_sort(array.begin(), array.end(), [](const Record& a, const Record& b) { return a.key < b.key; });
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sorted;
    for (const Record& r : array) sorted.emplace_back(r.key, r.order);
    EXPECT_EQ(sorted, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                          {1, 3}, {1, 6}, {3, 1}, {3, 4}, {7, 0}, {7, 2}, {7, 7}, {9, 5}}))
        << "equal keys keep the order they were added in";

    array.truncate(4);
    EXPECT_EQ(array.size(), 4u);
    EXPECT_EQ(array.back().order, 4u);
    array.truncate(9);
    EXPECT_EQ(array.size(), 4u) << "truncating never grows";
    array.push_back(Record{42, 42});
    EXPECT_EQ(array[4].key, 42u) << "a record after a truncation takes the freed place, with its own values";
    array.clear();
    EXPECT_TRUE(array.empty());
    EXPECT_EQ(array.begin(), array.end());
}

}  // namespace
