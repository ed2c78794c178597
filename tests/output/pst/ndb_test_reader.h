// A small, strict reader of the stores the NDB writer produces, for tests:
// it walks both B-trees, reads and decodes blocks and reassembles data and
// subnode trees, failing the test on anything unexpected.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/ndb_types.h"

namespace bmtest {

struct RawBlock {
    std::uint64_t ib;
    std::uint16_t cb;
    std::uint16_t cRef;
};
struct RawNode {
    std::uint64_t data;
    std::uint64_t subnodes;
    std::uint32_t parent;
};

class NdbTestReader {
public:
    explicit NdbTestReader(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        file_.assign(std::istreambuf_iterator<char>(in), {});
        bm::ByteReader r(file_);
        crypt_ = static_cast<bm::CryptMethod>(r.peekAt(bm::pst::hdr::kCryptMethod, 1).value_or(0));
        walk(r.peekAt(bm::pst::hdr::kBbtRoot + 8, 8).value_or(0), true, 0);
        walk(r.peekAt(bm::pst::hdr::kNbtRoot + 8, 8).value_or(0), false, 0);
    }

    const std::vector<std::uint8_t>& file() const { return file_; }
    std::uint64_t field(std::size_t at, std::size_t width) const {
        return bm::ByteReader(file_).peekAt(at, width).value_or(0xDEADBEEF);
    }
    const std::map<std::uint64_t, RawBlock>& blocks() const { return blocks_; }
    const std::map<std::uint32_t, RawNode>& nodes() const { return nodes_; }
    int nbtDepth() const { return nbtDepth_; }
    int bbtDepth() const { return bbtDepth_; }

    // Decoded contents of one block.
    std::vector<std::uint8_t> block(std::uint64_t bid) const {
        const auto it = blocks_.find(bid);
        if (it == blocks_.end()) {
            ADD_FAILURE() << "block " << bid << " missing";
            return {};
        }
        bm::ByteReader r(file_);
        auto bytes = r.sub(it->second.ib, it->second.cb).data();
        std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
        if (!bm::pst::IsInternalBid(bid)) bm::DecodeBytes(out, crypt_, bid);
        return out;
    }

    // The bytes of a data block or data tree.
    std::vector<std::uint8_t> data(std::uint64_t bid) const {
        std::vector<std::uint8_t> b = block(bid);
        if (!bm::pst::IsInternalBid(bid)) return b;
        bm::ByteReader r(b);
        EXPECT_EQ(r.readU8(), bm::pst::kBlockTypeData);
        const std::uint8_t level = r.readU8();
        const std::uint16_t count = r.readU16();
        const std::uint32_t total = r.readU32();
        std::vector<std::uint8_t> out;
        for (std::uint16_t i = 0; i < count; ++i) {
            const auto child = data(r.readU64());
            if (level == 1) {
                EXPECT_FALSE(child.empty() && count > 1);
            }
            out.insert(out.end(), child.begin(), child.end());
        }
        EXPECT_TRUE(r.ok());
        EXPECT_EQ(out.size(), total);
        return out;
    }

    // The entries of a subnode tree, by NID.
    std::map<std::uint32_t, RawNode> subnodes(std::uint64_t bid) const {
        std::map<std::uint32_t, RawNode> out;
        std::vector<std::uint8_t> b = block(bid);
        bm::ByteReader r(b);
        EXPECT_EQ(r.readU8(), bm::pst::kBlockTypeSubnode);
        const std::uint8_t level = r.readU8();
        const std::uint16_t count = r.readU16();
        r.skip(4);
        for (std::uint16_t i = 0; i < count; ++i) {
            const auto nid = static_cast<std::uint32_t>(r.readU64());
            if (level == 0) {
                const std::uint64_t data = r.readU64();
                out[nid] = {data, r.readU64(), 0};
            } else {
                const auto leaf = subnodes(r.readU64());
                EXPECT_EQ(leaf.begin()->first, nid);
                out.insert(leaf.begin(), leaf.end());
            }
        }
        EXPECT_TRUE(r.ok());
        return out;
    }

private:
    void walk(std::uint64_t ib, bool bbt, int depth) {
        bm::ByteReader page = bm::ByteReader(file_).sub(ib, bm::pst::kPageSize);
        ASSERT_TRUE(page.ok()) << "page at " << ib;
        const auto level = static_cast<int>(page.peekAt(bm::pst::kBTreeCLevel, 1).value_or(0));
        const auto count = static_cast<std::size_t>(page.peekAt(bm::pst::kBTreeCEnt, 1).value_or(0));
        const auto size = static_cast<std::size_t>(page.peekAt(bm::pst::kBTreeCbEnt, 1).value_or(0));
        if (depth == 0) (bbt ? bbtDepth_ : nbtDepth_) = level + 1;
        for (std::size_t i = 0; i < count; ++i) {
            bm::ByteReader e = page.sub(i * size, size);
            const std::uint64_t key = e.readU64();
            if (level > 0) {
                e.readU64();
                walk(e.readU64(), bbt, depth + 1);
            } else if (bbt) {
                const std::uint64_t at = e.readU64();
                const std::uint16_t cb = e.readU16();
                blocks_[key] = {at, cb, e.readU16()};
            } else {
                const std::uint64_t data = e.readU64();
                const std::uint64_t sub = e.readU64();
                nodes_[static_cast<std::uint32_t>(key)] = {data, sub, e.readU32()};
            }
        }
    }

    std::vector<std::uint8_t> file_;
    bm::CryptMethod crypt_ = bm::CryptMethod::None;
    std::map<std::uint64_t, RawBlock> blocks_;
    std::map<std::uint32_t, RawNode> nodes_;
    int nbtDepth_ = 0, bbtDepth_ = 0;
};

}  // namespace bmtest
