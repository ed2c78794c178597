// The store checker: reads a whole store through ByteReader, a page or a
// block at a time through a bounded window (check_file_reader.h), and
// reports every deviation it finds. What it keeps grows with the number of
// pages, blocks and nodes (a small record each), not with their bytes.
//
// Order of work: header (magic, version, CRCs, root references), the two
// B-trees page by page (trailer, footer, key order, key ranges handed down
// from the parent), every block the block B-tree lists (trailer against the
// entry, signature, CRC, internal-block structure), the references held by
// node entries and internal blocks against each block's cRef (real stores
// keep one more than the references), the node-to-block links, and last the
// allocation maps against the space the pages and blocks occupy.
#include "check/store_checker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <unordered_set>

#include "check/check_block_list.h"
#include "check/check_file_reader.h"
#include "check/check_folders.h"
#include "check/check_maps.h"
#include "check/check_pages.h"
#include "check/check_search_nodes.h"
#include "check/check_store_rules.h"
#include "check/check_text.h"
#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "format/ndb.h"
#include "store/layout.h"

namespace bm {

namespace {

// Header bytes kept: more than any layout's header and CRC ranges.
constexpr std::size_t kHeaderBytes = 1024;

std::string Hex(std::uint64_t v) { return CheckHex(v); }

constexpr std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

// A node whose references cannot be settled while the node B-tree is
// walked: its data block is internal (whether it is a subnode block is
// known once the blocks are checked), or a block it names is not listed.
// The findings about it are given after the blocks' own, in node order.
struct PendingNode {
    std::uint64_t nid;
    std::uint64_t data;
    std::uint64_t subnodes;
    std::uint64_t at;  // offset of the entry
};

class Checker {
public:
    Checker(CheckFileReader& file, const CheckOptions& options, CheckReport& report)
        : file_(file), options_(options), report_(report) {}

    // False when the header leaves nothing to check.
    bool run();

private:
    void error(FindingKind kind, std::uint64_t at, std::string text) {
        AddFinding(report_, FindingSeverity::Error, kind, at, std::move(text));
    }
    void warning(FindingKind kind, std::uint64_t at, std::string text) {
        AddFinding(report_, FindingSeverity::Warning, kind, at, std::move(text));
    }
    // Errors for stores this project wrote, warnings for others'.
    FindingSeverity referenceSeverity() const {
        return options_.strictReferenceCounts ? FindingSeverity::Error : FindingSeverity::Warning;
    }

    std::uint64_t id(ByteReader& r) const { return r.readUint(layout_->idWidth); }
    // A header field; zero past the end of a short file.
    std::uint64_t fieldAt(std::size_t offset, std::size_t width) const {
        return ByteReader(header_).peekAt(offset, width).value_or(0);
    }
    // A node B-tree leaf entry: the references it holds are counted now.
    void noteNode(const PendingNode& node);

    bool checkHeader();
    void walkTree(PageType type, std::uint64_t rootBid, std::uint64_t rootIb);
    void checkBlocks();
    void checkInternalBlock(std::size_t block, std::span<const std::uint8_t> data);
    // A data-tree block's lcbTotal, as its check read it (0 when it was not
    // read as one).
    std::uint32_t treeTotal(std::size_t block);
    // Counts a reference; false (and an error) when the block is not listed.
    bool countReference(std::uint64_t bid, std::uint64_t at, const std::string& from);
    void missingBlock(std::uint64_t bid, std::uint64_t at, const std::string& from);
    void checkReferences();
    void markUsed(std::uint64_t ib, std::uint64_t length, const std::string& what);

    CheckFileReader& file_;
    std::vector<std::uint8_t> header_;  // the first bytes, up to the largest header
    const CheckOptions& options_;
    CheckReport& report_;
    const StoreLayout* layout_ = nullptr;

    CheckBlockList blocks_;
    std::vector<PendingNode> pendingNodes_;
    std::uint64_t nodeCount_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pages_;  // B-tree page ib, length
    std::uint64_t fileEof_ = 0;
    UsedSpace used_;
};

bool Checker::run() {
    if (!checkHeader()) return false;
    used_ = UsedSpace(*layout_, std::max<std::uint64_t>(fileEof_, file_.size()));
    // The root BREFs: the bid, then the offset the layout names.
    const std::size_t w = layout_->idWidth;
    const std::size_t nbtAt = layout_->header.nbtRootOffsetAt - w, bbtAt = layout_->header.bbtRootOffsetAt - w;
    walkTree(PageType::BlockBTree, fieldAt(bbtAt, w), fieldAt(bbtAt + w, w));
    blocks_.index();
    walkTree(PageType::NodeBTree, fieldAt(nbtAt, w), fieldAt(nbtAt + w, w));
    checkBlocks();
    checkReferences();
    for (const auto& [ib, length] : pages_) markUsed(ib, length, "B-tree page at " + Hex(ib));
    CheckAllocationMaps(file_, {*layout_, header_, fileEof_}, used_, options_, report_);
    return true;
}

bool Checker::checkHeader() {
    header_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file_.size(), kHeaderBytes)));
    if (!header_.empty()) {
        const ByteReader head = file_.read(0, header_.size());
        if (head.failed()) {
            error(FindingKind::File, 0, "the store header cannot be read");
            return false;
        }
        std::copy(head.data().begin(), head.data().end(), header_.begin());
    }
    if (file_.size() < 12) {
        error(FindingKind::File, 0, "file too short for a store header (" + std::to_string(file_.size()) + " bytes)");
        return false;
    }
    if (fieldAt(0, 4) != kHeaderMagic) {
        error(FindingKind::Header, 0, "header magic is not !BDN");
        return false;
    }
    const auto version = static_cast<std::uint16_t>(fieldAt(10, 2));
    report_.version = version;
    if (version == 14 || version == 15) {
        layout_ = &kAnsiLayout;
    } else if (version == 23) {
        layout_ = &kUnicodeLayout;
    } else if (version == 36) {
        layout_ = &kUnicode4kLayout;
    } else {
        error(FindingKind::Header, 10, "unknown format version wVer " + std::to_string(version));
        return false;
    }
    if (file_.size() < layout_->header.size) {
        error(FindingKind::File, 0, "file too short for its header");
        return false;
    }
    const std::uint64_t client = fieldAt(8, 2);
    if (client != kMagicClientPst && client != kMagicClientOst && client != 0x4241) {
        warning(FindingKind::Header, 8, "unexpected wMagicClient " + Hex(client));
    }
    const std::span<const std::uint8_t> header(header_);
    const std::uint32_t partial = ComputeCrc(header.subspan(8, layout_->header.crcPartialLength));
    if (partial != fieldAt(4, 4)) error(FindingKind::Header, 4, "header partial CRC mismatch");
    if (layout_->header.crcFullAt != kNoField) {
        const std::uint32_t full = ComputeCrc(header.subspan(8, layout_->header.crcFullLength));
        if (full != fieldAt(layout_->header.crcFullAt, 4)) error(FindingKind::Header, layout_->header.crcFullAt, "header full CRC mismatch");
    }
    if (fieldAt(layout_->header.sentinelAt, 1) != kSentinel) error(FindingKind::Header, layout_->header.sentinelAt, "bSentinel is not 0x80");
    const std::uint64_t crypt = fieldAt(layout_->header.cryptMethodAt, 1);
    if (crypt > 2) error(FindingKind::Header, layout_->header.cryptMethodAt, "unknown bCryptMethod " + std::to_string(crypt));
    fileEof_ = fieldAt(layout_->header.fileEofAt, layout_->idWidth);
    if (fileEof_ > file_.size()) {
        error(FindingKind::Header, layout_->header.fileEofAt, "ibFileEof " + Hex(fileEof_) + " lies beyond the end of the file (" +
                                      Hex(file_.size()) + ")");
        fileEof_ = file_.size();
    }
    return true;
}

void Checker::walkTree(PageType type, std::uint64_t rootBid, std::uint64_t rootIb) {
    const StoreLayout& L = *layout_;
    const bool blockTree = type == PageType::BlockBTree;
    const char* name = blockTree ? "block B-tree" : "node B-tree";
    const std::size_t leafSize = blockTree ? L.bbtLeaf.size : L.nbtLeaf.size;
    struct Visit {
        std::uint64_t bid, ib;
        int level;  // expected cLevel, -1 at the root
        std::uint64_t low, high;
        bool bounded;  // high is an exclusive upper bound
    };
    std::vector<Visit> stack{{rootBid, rootIb, -1, 0, 0, false}};
    std::unordered_set<std::uint64_t> seen;
    std::uint64_t lastLeafKey = 0;
    bool anyLeafKey = false;
    while (!stack.empty()) {
        const Visit v = stack.back();
        stack.pop_back();
        if (!seen.insert(v.ib).second) {
            error(FindingKind::Page, v.ib, std::string(name) + " page referenced twice");
            continue;
        }
        ByteReader page = file_.read(v.ib, L.page.size);
        if (page.failed() || !used_.covers(v.ib)) {
            error(FindingKind::Page, v.ib, std::string(name) + " page offset " + Hex(v.ib) + " lies outside the file");
            continue;
        }
        ++report_.pagesChecked;
        pages_.emplace_back(v.ib, L.page.size);
        if (v.ib % L.page.size != 0) {
            warning(FindingKind::Page, v.ib, std::string(name) + " page not aligned to " + std::to_string(L.page.size) + " bytes");
        }
        if (!CheckPageTrailer(L, page.data(), v.ib, {type, v.bid, true, name, FindingKind::Page}, report_)) continue;
        const auto cEnt = static_cast<std::size_t>(page.peekAt(L.page.footerCountAt, L.page.footerFieldWidth).value_or(0));
        const auto cEntMax = static_cast<std::size_t>(page.peekAt(L.page.footerCapacityAt, L.page.footerFieldWidth).value_or(0));
        const auto cbEnt = static_cast<std::size_t>(page.peekAt(L.page.footerEntrySizeAt, 1).value_or(0));
        const auto cLevel = static_cast<int>(page.peekAt(L.page.levelAt, 1).value_or(0));
        if (v.level >= 0 && cLevel != v.level) {
            error(FindingKind::Page, v.ib, std::string(name) + " page cLevel " + std::to_string(cLevel) + ", expected " +
                            std::to_string(v.level));
            continue;
        }
        if (cLevel > 8) {
            error(FindingKind::Page, v.ib, std::string(name) + " page cLevel " + std::to_string(cLevel) + " is implausible");
            continue;
        }
        const std::size_t entrySize = cLevel > 0 ? L.inner.size : leafSize;
        if (cbEnt != entrySize || cEntMax != L.page.footerCountAt / entrySize || cEnt > cEntMax) {
            error(FindingKind::Page, v.ib, std::string(name) + " page footer inconsistent: cEnt " + std::to_string(cEnt) +
                            ", cEntMax " + std::to_string(cEntMax) + ", cbEnt " + std::to_string(cbEnt));
            continue;
        }
        if (cEnt == 0 && v.level >= 0) warning(FindingKind::Page, v.ib, std::string(name) + " page without entries");
        ByteReader entries = page.sub(0, L.page.footerCountAt);
        std::vector<Visit> children;
        std::uint64_t previous = 0;
        for (std::size_t i = 0; i < cEnt; ++i) {
            const std::uint64_t at = v.ib + i * entrySize;
            ByteReader e = entries.sub(i * entrySize, entrySize);
            std::uint64_t key = id(e);
            if (!blockTree) key &= 0xFFFFFFFFu;
            if (i > 0 && key <= previous) {
                error(FindingKind::Page, at, std::string(name) + " keys out of order: " + Hex(key) + " after " + Hex(previous));
            }
            if (v.level >= 0 && (key < v.low || (v.bounded && key >= v.high))) {
                error(FindingKind::Page, at, std::string(name) + " key " + Hex(key) + " outside the range its parent gives");
            }
            if (i == 0 && v.level >= 0 && key != v.low) {
                warning(FindingKind::Page, at, std::string(name) + " first key " + Hex(key) + " differs from the parent's " +
                                Hex(v.low));
            }
            previous = key;
            if (cLevel > 0) {
                const std::uint64_t bid = id(e);
                const std::uint64_t ib = id(e);
                children.push_back({bid, ib, cLevel - 1, key, 0, false});
                continue;
            }
            if (anyLeafKey && key <= lastLeafKey) {
                error(FindingKind::Page, at, std::string(name) + " leaf keys out of order across pages");
            }
            anyLeafKey = true;
            lastLeafKey = key;
            if (blockTree) {
                const std::uint64_t ib = id(e);
                const auto cb = static_cast<std::uint16_t>(e.peekAt(L.bbtLeaf.cbAt, 2).value_or(0));
                const auto inflated = L.bbtLeaf.inflatedAt == kNoField
                                          ? cb
                                          : static_cast<std::uint16_t>(e.peekAt(L.bbtLeaf.inflatedAt, 2).value_or(0));
                blocks_.append(key, ib, cb, inflated, static_cast<std::uint16_t>(e.peekAt(L.bbtLeaf.refCountAt, 2).value_or(0)));
            } else {
                PendingNode n{};
                n.nid = key;
                n.data = id(e);
                n.subnodes = id(e);
                n.at = at;
                noteNode(n);
            }
        }
        // Each child's keys lie below the next child's first key.
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (i + 1 < children.size()) {
                children[i].high = children[i + 1].low;
                children[i].bounded = true;
            } else {
                children[i].high = v.high;
                children[i].bounded = v.bounded;
            }
        }
        // Visit in key order: push the last child first.
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(*it);
    }
    if (!blockTree) report_.nodesChecked = nodeCount_;
}

void Checker::noteNode(const PendingNode& n) {
    ++nodeCount_;
    bool pending = n.data != 0 && IsInternalBid(n.data);
    for (const std::uint64_t bid : {n.data, n.subnodes}) {
        if (bid == 0) continue;
        const std::size_t block = blocks_.find(bid);
        if (block == CheckBlockList::kAbsent) pending = true;
        else blocks_.addReference(block);
    }
    if (pending) pendingNodes_.push_back(n);
}

void Checker::checkBlocks() {
    const StoreLayout& L = *layout_;
    const std::uint64_t maxData = L.block.maxSize - L.block.size;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        ++report_.blocksChecked;
        const std::uint64_t listedBid = blocks_.bid(i), ib = blocks_.ib(i);
        const std::uint16_t listedCb = blocks_.cb(i);
        const std::string what = "block " + Hex(listedBid);
        if (listedCb > maxData) {
            error(FindingKind::Block, ib, what + " has cb " + std::to_string(listedCb) + ", more than a block holds");
            continue;
        }
        const std::uint64_t span = AlignUp(listedCb + L.block.size, L.block.alignment);
        ByteReader block = file_.read(ib, span);
        if (block.failed() || !used_.covers(ib)) {
            error(FindingKind::Block, ib, what + " lies outside the file");
            continue;
        }
        if (ib % L.block.alignment != 0) error(FindingKind::Block, ib, what + " is not aligned to " + std::to_string(L.block.alignment) + " bytes");
        markUsed(ib, span, what);
        ByteReader trailer = block.sub(span - L.block.size, L.block.size);
        const std::uint16_t cb = trailer.readU16();
        const std::uint16_t sig = trailer.readU16();
        const std::uint64_t crc = trailer.peekAt(L.block.crcAt, 4).value_or(0);
        const std::uint64_t bid = trailer.peekAt(L.block.bidAt, L.idWidth).value_or(0);
        bool sound = true;
        if (cb != listedCb) {
            error(FindingKind::Block, ib, what + " trailer cb " + std::to_string(cb) + " differs from the block B-tree's " +
                          std::to_string(listedCb));
            sound = false;
        }
        if ((bid & ~std::uint64_t{1}) != (listedBid & ~std::uint64_t{1})) {
            error(FindingKind::Block, ib, what + " trailer names bid " + Hex(bid));
            sound = false;
        }
        if (sig != ComputeSignature(ib, bid)) {
            error(FindingKind::Block, ib, what + " trailer signature mismatch");
            sound = false;
        }
        const auto data = block.data().first(listedCb);
        if (ComputeCrc(data) != crc) {
            error(FindingKind::Block, ib, what + " CRC mismatch");
            sound = false;
        }
        blocks_.setSound(i, sound);
        // A deflated internal block is not looked into.
        if (sound && IsInternalBid(listedBid) && blocks_.inflated(i) == listedCb) checkInternalBlock(i, data);
    }
    // Data trees: a level-2 block's total is the sum of its XBLOCKs' totals.
    std::vector<std::uint8_t> xxblock;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        if (!blocks_.sound(i) || !IsInternalBid(blocks_.bid(i)) || blocks_.level(i) != 2) continue;
        // A copy: reading the XBLOCKs' totals moves the file window on.
        const ByteReader bytes = file_.read(blocks_.ib(i), blocks_.cb(i));
        xxblock.assign(bytes.data().begin(), bytes.data().end());
        ByteReader r(xxblock);
        r.skip(2);
        const std::uint16_t count = r.readU16();
        const std::uint32_t total = r.readU32();
        std::uint64_t sum = 0;
        for (std::uint16_t k = 0; k < count && r.ok(); ++k) {
            const std::size_t child = blocks_.find(id(r));
            if (child != CheckBlockList::kAbsent) sum += treeTotal(child);
        }
        if (sum != total) error(FindingKind::InternalBlock, blocks_.ib(i), "XXBLOCK " + Hex(blocks_.bid(i)) + " lcbTotal " + std::to_string(total) +
                                                   " differs from its XBLOCKs' " + std::to_string(sum));
    }
}

std::uint32_t Checker::treeTotal(std::size_t b) {
    // checkInternalBlock read lcbTotal (offset 4) of every sound, stored
    // internal block of the data-tree type.
    if (!blocks_.sound(b) || !IsInternalBid(blocks_.bid(b)) || blocks_.inflated(b) != blocks_.cb(b) ||
        blocks_.type(b) != kBlockTypeData)
        return 0;
    ByteReader r(file_.read(blocks_.ib(b), blocks_.cb(b)).data());
    r.skip(4);
    return r.readU32();
}

void Checker::checkInternalBlock(std::size_t b, std::span<const std::uint8_t> data) {
    const StoreLayout& L = *layout_;
    const std::uint64_t ib = blocks_.ib(b);
    ByteReader r(data);
    const std::uint8_t btype = r.readU8();
    const std::uint8_t level = r.readU8();
    const std::uint16_t count = r.readU16();
    blocks_.setInternal(b, level, btype);
    const std::string what = "internal block " + Hex(blocks_.bid(b));
    if (btype == kBlockTypeData) {
        const std::uint32_t total = r.readU32();
        if (level != 1 && level != 2) {
            error(FindingKind::InternalBlock, ib, what + " has data-tree level " + std::to_string(level));
            return;
        }
        if (!r.canRead(std::size_t{count} * L.idWidth)) {
            error(FindingKind::InternalBlock, ib, what + " lists more entries than it holds");
            return;
        }
        std::uint64_t sum = 0;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t child = id(r);
            countReference(child, ib, what);
            const std::size_t listed = blocks_.find(child);
            if (level == 1 && listed != CheckBlockList::kAbsent) {
                if (IsInternalBid(child)) error(FindingKind::InternalBlock, ib, what + " (XBLOCK) lists internal block " + Hex(child));
                sum += blocks_.inflated(listed);
            } else if (level == 2 && !IsInternalBid(child)) {
                error(FindingKind::InternalBlock, ib, what + " (XXBLOCK) lists data block " + Hex(child));
            }
        }
        if (level == 1 && sum != total) {
            error(FindingKind::InternalBlock, ib, what + " lcbTotal " + std::to_string(total) + " differs from its blocks' " + std::to_string(sum));
        }
        return;
    }
    if (btype != kBlockTypeSubnode || level > 1) {
        error(FindingKind::InternalBlock, ib, what + " has unknown type " + Hex(btype) + " level " + std::to_string(level));
        return;
    }
    r.seek(L.internal.subnodeEntriesAt);
    const std::size_t entrySize = level == 0 ? L.internal.subnodeLeafSize : L.internal.subnodeInnerSize;
    if (!r.canRead(std::size_t{count} * entrySize)) {
        error(FindingKind::InternalBlock, ib, what + " lists more entries than it holds");
        return;
    }
    std::uint64_t previous = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        ByteReader e = r.sub(r.position() + std::size_t{i} * entrySize, entrySize);
        const std::uint64_t nid = id(e) & 0xFFFFFFFFu;
        if (i > 0 && nid <= previous) error(FindingKind::InternalBlock, ib, what + " subnode NIDs out of order");
        previous = nid;
        const std::uint64_t first = id(e);
        countReference(first, ib, what);
        if (level == 0) countReference(id(e), ib, what);
    }
}

bool Checker::countReference(std::uint64_t bid, std::uint64_t at, const std::string& from) {
    if (bid == 0) return true;
    const std::size_t block = blocks_.find(bid);
    if (block == CheckBlockList::kAbsent) {
        missingBlock(bid, at, from);
        return false;
    }
    blocks_.addReference(block);
    return true;
}

void Checker::missingBlock(std::uint64_t bid, std::uint64_t at, const std::string& from) {
    error(FindingKind::Reference, at, from + " refers to block " + Hex(bid) + ", which the block B-tree does not list");
}

void Checker::checkReferences() {
    // The nodes' references were counted as the node B-tree was walked;
    // what they found amiss is told here, after the blocks' findings.
    for (const PendingNode& n : pendingNodes_) {
        const std::string what = "node " + Hex(n.nid);
        if (n.data != 0 && IsInternalBid(n.data)) {
            const std::size_t block = blocks_.find(n.data);
            if (block != CheckBlockList::kAbsent && blocks_.type(block) == kBlockTypeSubnode) {
                error(FindingKind::Reference, n.at, what + " data names subnode block " + Hex(n.data));
            }
        }
        for (const std::uint64_t bid : {n.data, n.subnodes})
            if (bid != 0 && blocks_.find(bid) == CheckBlockList::kAbsent) missingBlock(bid, n.at, what);
    }
    pendingNodes_ = {};
    std::size_t unreferenced = 0;
    std::uint64_t firstUnreferenced = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const std::uint32_t refs = blocks_.references(i);
        if (refs == 0) {
            if (unreferenced++ == 0) firstUnreferenced = blocks_.ib(i);
            continue;
        }
        if (blocks_.cRef(i) != refs + 1) {
            AddFinding(report_, referenceSeverity(), FindingKind::Reference, blocks_.ib(i),
                "block " + Hex(blocks_.bid(i)) + " cRef " + std::to_string(blocks_.cRef(i)) + ", expected " +
                    std::to_string(refs + 1) + " for " + std::to_string(refs) + " reference(s)");
        }
    }
    if (unreferenced > 0) {
        AddFinding(report_, referenceSeverity(), FindingKind::Reference, firstUnreferenced,
            std::to_string(unreferenced) + " block(s) listed in the block B-tree without any reference");
    }
}

void Checker::markUsed(std::uint64_t ib, std::uint64_t length, const std::string& what) {
    if (!used_.mark(ib, length)) error(FindingKind::Overlap, ib, what + " overlaps another page or block");
}

}  // namespace


CheckReport CheckStore(const std::filesystem::path& path, const CheckOptions& options) {
    CheckReport report;
    CheckFileReader file(path);
    if (!file.opened()) {
        AddFinding(report, FindingSeverity::Error, FindingKind::File, 0, "cannot open " + path.string() + ": " + file.error());
        return report;
    }
    if (!Checker(file, options, report).run()) return report;
    // The checks that read the store through the reader share one index.
    StoreFile store;
    if (!OpenForFolderChecks(path, store, report)) return report;
    report.folderTablesChecked = CheckFolderTables(store, options, report);
    if (options.clientRules) {
        CheckStoreRules(store, report);
        CheckSearchNodes(store, report);
    }
    ReleaseStore(store);
    return report;
}

std::string FormatFinding(const Finding& finding) {
    char where[32];
    std::snprintf(where, sizeof where, "0x%08llx", static_cast<unsigned long long>(finding.offset));
    return std::string(finding.severity == FindingSeverity::Error ? "error" : "warning") + " at " + where + ": " +
           finding.text;
}

}  // namespace bm
