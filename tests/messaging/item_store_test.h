// What the item reading tests share: a store opened for reading with its
// index built (released after the test), and the reader and RTF workspace
// its items are read with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>

#include "messaging/messaging.h"
#include "store/store.h"

namespace bm {

template <class TestBase>
class ItemStoreTest : public TestBase {
protected:
    void TearDown() override { ReleaseStore(store_); }

    // Opens the store at `path`: a store that does not open, or has no
    // usable index, is a fatal failure.
    void Open(const std::filesystem::path& path) {
        ASSERT_EQ(OpenStore(store_, path, StoreOpenMode::SharedRead), 0);
        ASSERT_EQ(BuildIndexes(store_, reader_), 0);
    }

    // The item of node `nid`; null when there is no such node.
    std::unique_ptr<ItemRecord> Read(std::uint32_t nid) {
        const NodeEntry* node = FindNode(store_, nid);
        if (node == nullptr) return nullptr;
        return ReadItem(store_, *node, &reader_, &rtf_);
    }

    StoreFile store_;
    StoreReader reader_;
    RtfWorkspace rtf_;
};

}  // namespace bm
