// Opening a store: header fields per layout, locking, damaged headers.
#include <gtest/gtest.h>

#include <fstream>

#include "store_test_helpers.h"

namespace {

TEST(OpenStore, ReadsTheRootOffsetsWhereEachLayoutKeepsThem) {
    struct Case {
        const bm::StoreLayout* layout;
        std::uint16_t version;
        std::size_t nbtAt, bbtAt, width;
    };
    for (const Case c : {Case{&bm::kAnsiLayout, 14, 188, 196, 4}, Case{&bm::kAnsiLayout, 15, 188, 196, 4},
                         Case{&bm::kUnicodeLayout, 23, 224, 240, 8}}) {
        bmtest::StoreImage image(*c.layout, c.version);
        image.Put(10, c.version, 2);
        image.Put(c.nbtAt, 0x12345600, c.width);
        image.Put(c.bbtAt, 0x654321, c.width);
        image.Put(0, 0xDEADBEEF, 4);  // wrong magic: still opens
        bm::StoreFile store;
        ASSERT_TRUE(bmtest::OpenImage(store, image, "header"));
        EXPECT_EQ(store.formatVersion, c.version);
        EXPECT_EQ(store.nbtRootOffset, 0x12345600u) << c.version;
        EXPECT_EQ(store.bbtRootOffset, 0x654321u) << c.version;
        EXPECT_EQ(store.cryptMethod, 1u);
    }
}

TEST(OpenStore, AMissingFileFailsAndLeavesTheStoreAlone) {
    bm::StoreFile store;
    EXPECT_EQ(bm::OpenStore(store, bmtest::ScratchDir("missing") / "none.ost"), -1);
    EXPECT_FALSE(store.file.isOpen());
    EXPECT_EQ(store.formatVersion, 0u);
}

TEST(OpenStore, FailsWhileAnotherHolderHasTheFileExclusively) {
    const auto path = bmtest::ScratchDir("locked") / "store.ost";
    bmtest::SmallStore(bm::kUnicodeLayout).Build().image.Save(path);
    bm::StoreFile first;
    ASSERT_EQ(bm::OpenStore(first, path), 0);
    bm::StoreFile second;
    EXPECT_EQ(bm::OpenStore(second, path), -1);
    EXPECT_EQ(bm::OpenStore(second, path, bm::StoreOpenMode::SharedRead), -1);
    EXPECT_EQ(bm::OpenStore(first, path), 0) << "the holder itself may open it again";
    bm::ReleaseStore(first);
    EXPECT_EQ(bm::OpenStore(second, path), 0);
}

TEST(OpenStore, AFileShorterThanTheHeaderOpensAndBuildsNothing) {
    const auto path = bmtest::ScratchDir("short") / "store.ost";
    const char header[] = {'!', 'B', 'D', 'N', 0, 0, 0, 0, 'S', 'O', 23, 0};
    std::ofstream(path, std::ios::binary).write(header, sizeof header);
    bm::StoreFile store;
    ASSERT_EQ(bm::OpenStore(store, path), 0);
    EXPECT_EQ(store.formatVersion, 23u);
    bm::StoreReader reader;
    EXPECT_EQ(bm::BuildIndexes(store, reader), 2);
    EXPECT_TRUE(store.blocks.empty());
}

// A read past the end the open saw is expected of a damaged store; a read
// inside it that comes back short is a file that changed under the reader.
TEST(StoreFileHandle, AShortReadInsideTheSizeSeenAtTheOpenMeansTheFileChanged) {
    const auto path = bmtest::ScratchDir("handle-shrinks") / "store.ost";
    std::ofstream(path, std::ios::binary) << std::string(64 * 1024, 'x');
    bm::StoreFileHandle handle;
    ASSERT_TRUE(handle.Open(path, bm::StoreFileHandle::Lock::Shared));
    std::vector<std::uint8_t> buffer(8192);
    EXPECT_EQ(handle.ReadAt(60 * 1024, buffer), 4096u);
    EXPECT_EQ(handle.ReadAt(1u << 20, buffer), 0u);
    EXPECT_FALSE(handle.changed()) << "reads past the end are no change";
    EXPECT_TRUE(handle.CheckUnchanged());

    std::filesystem::resize_file(path, 4096);
    EXPECT_EQ(handle.ReadAt(8192, buffer), 0u);
    EXPECT_TRUE(handle.changed());
    EXPECT_NE(handle.ChangeDescription().find("4096 bytes long, 65536 when it was opened"), std::string::npos)
        << handle.ChangeDescription();
}

TEST(StoreFileHandle, AnotherFileUnderTheNameIsAChangeToo) {
    const auto dir = bmtest::ScratchDir("handle-replaced");
    std::ofstream(dir / "store.ost", std::ios::binary) << std::string(8192, 'x');
    bm::StoreFileHandle handle;
    ASSERT_TRUE(handle.Open(dir / "store.ost", bm::StoreFileHandle::Lock::Shared));
    std::ofstream(dir / "other.ost", std::ios::binary) << std::string(8192, 'y');
    std::filesystem::rename(dir / "other.ost", dir / "store.ost");
    EXPECT_FALSE(handle.CheckUnchanged());
    EXPECT_TRUE(handle.changed());
    EXPECT_EQ(handle.ChangeDescription(), "another file was put in its place");
}

}  // namespace
