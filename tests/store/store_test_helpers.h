// Helpers shared by the store reader's tests: write an image to a scratch
// file and open it the way the runs do.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/store.h"
#include "support/store_image.h"
#include "support/test_paths.h"

namespace bmtest {

// Saves `image` under a fresh scratch directory and opens it for reading.
inline ::testing::AssertionResult OpenImage(bm::StoreFile& store, const StoreImage& image, const std::string& name) {
    const auto path = ScratchDir(name) / "store.pst";
    image.Save(path);
    if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0)
        return ::testing::AssertionFailure() << "cannot open " << path;
    return ::testing::AssertionSuccess();
}

// Opens and builds in one step; returns BuildIndexes' result.
inline int OpenAndBuild(bm::StoreFile& store, const StoreImage& image, const std::string& name) {
    bm::StoreReader reader;
    if (!OpenImage(store, image, name)) return -100;
    return bm::BuildIndexes(store, reader);
}

// A small store: the message store node 0x21 with a heap, the root folder
// 0x122 and the IPM subtree 0x8022 under it.
inline StoreBuilder SmallStore(const bm::StoreLayout& layout) {
    StoreBuilder b(layout);
    b.AddDataBlock(4, MinimalHeap());
    b.AddDataBlock(8, MinimalHeap(32));
    b.AddNode(0x21, 4, 0, 0);
    b.AddNode(0x122, 8, 0, 0x122);
    b.AddNode(0x8022, 8, 0, 0x122);
    return b;
}

// A layout's name as a test name ("Unicode 4K" -> "Unicode4K").
inline std::string LayoutTestName(const bm::StoreLayout& layout) {
    std::string name;
    for (const char* c = layout.name; *c != 0; ++c)
        if (*c != ' ') name += *c;
    return name;
}

}  // namespace bmtest
