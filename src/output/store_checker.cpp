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
#include "output/store_checker.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <unordered_set>

#include "output/check_text.h"
#include "common/byte_reader.h"
#include "common/format_tables.h"
#include "output/check_block_list.h"
#include "output/check_file_reader.h"
#include "output/check_folders.h"
#include "output/check_search_nodes.h"
#include "output/check_store_rules.h"
#include "output/pst/ndb_layout.h"
#include "output/pst/ndb_types.h"
#include "store/layout.h"

namespace bm {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Header bytes kept: more than any layout's header and CRC ranges.
constexpr std::size_t kHeaderBytes = 1024;

// Where the fields the checker reads sit in the ANSI, Unicode and 4 KiB
// layouts. The reader's description of each layout (store/layout.h) gives
// page and block geometry; the checker adds the header fields and page
// trailer fields the reader does not need.
struct CheckLayout {
    const StoreLayout& reader;
    bool unicode;
    std::size_t idSize;  // BIDs, file offsets, NID fields
    // header
    std::size_t headerSize, fileEofAt, amapLastAt, amapFreeAt, nbtRootAt, bbtRootAt, amapValidAt, sentinelAt,
        cryptAt, crcFullAt;
    // pages: entry area, footer, trailer
    std::size_t pageSize, entriesSize, countWidth, cEntAt, cEntMaxAt, cbEntAt, cLevelAt, ptypeAt, sigAt, crcAt,
        bidAt, crcCovers;
    std::size_t branchEntry, bbtEntry, nbtEntry;
    std::size_t bbtCbAt, bbtInflatedAt, bbtRefAt;  // within a block B-tree leaf entry
    std::size_t amapBitsAt;
    // blocks
    std::size_t blockAlign, maxBlockSize, blockTrailer, blockCrcAt, blockBidAt;
    std::size_t subnodeHeader, slEntry, siEntry;
    // Whether the allocation maps are compared with the space in use (their
    // geometry in the 4 KiB layout is not settled).
    bool mapsChecked;
};

const CheckLayout kAnsi{kAnsiLayout, false, 4,
                        512, 168, 172, 176, 184, 192, 200, 460, 461, kNone,
                        512, 496, 1, 496, 497, 498, 499, 500, 502, 508, 504, 500,
                        12, 12, 16,
                        8, kNone, 10,
                        4,
                        pst::kBlockAlign, pst::kMaxBlockSize, 12, 8, 4,
                        4, 12, 8,
                        true};
const CheckLayout kUnicode{kUnicodeLayout, true, 8,
                           pst::hdr::kSize, pst::hdr::kFileEof, pst::hdr::kAMapLast, pst::hdr::kAMapFree,
                           pst::hdr::kNbtRoot, pst::hdr::kBbtRoot, pst::hdr::kAMapValidFlag, pst::hdr::kSentinelAt,
                           pst::hdr::kCryptMethod, pst::hdr::kCrcFull,
                           512, 488, 1, 488, 489, 490, 491, 496, 498, 500, 504, 496,
                           24, 24, 32,
                           16, kNone, 18,
                           0,
                           pst::kBlockAlign, pst::kMaxBlockSize, 16, 4, 8,
                           8, 24, 16,
                           true};
// 4 KiB pages: the footer's counts are 16 bits wide, the trailer is 24
// bytes; blocks are aligned to 512 bytes, may hold up to 64 KiB and may be
// deflated (the block B-tree gives the inflated size beside the stored one).
const CheckLayout k4k{kUnicode4kLayout, true, 8,
                      pst::hdr::kSize, pst::hdr::kFileEof, pst::hdr::kAMapLast, pst::hdr::kAMapFree,
                      pst::hdr::kNbtRoot, pst::hdr::kBbtRoot, pst::hdr::kAMapValidFlag, pst::hdr::kSentinelAt,
                      pst::hdr::kCryptMethod, pst::hdr::kCrcFull,
                      4096, 4056, 2, 4056, 4058, 4060, 4061, 4072, 4074, 4076, 4080, 4072,
                      24, 24, 32,
                      16, 18, 20,
                      0,
                      512, 65536, 24, 4, 8,
                      8, 24, 16,
                      false};

std::string Hex(std::uint64_t v) { return CheckHex(v); }

constexpr std::uint64_t AlignUp(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

// Used space, one bit per 64-byte unit from the first AMap to the end.
class UsedSpace {
public:
    explicit UsedSpace(std::uint64_t end)
        : bits_((end > pst::kFirstAMapOffset ? (end - pst::kFirstAMapOffset) / 64 : 0) + 1, false) {}
    // False when some unit was already taken.
    bool mark(std::uint64_t ib, std::uint64_t length) {
        bool clean = true;
        for (std::uint64_t u = unit(ib); u < unit(ib + length + 63) && u < bits_.size(); ++u) {
            if (bits_[u]) clean = false;
            bits_[u] = true;
        }
        return clean;
    }
    bool used(std::uint64_t ib) const { return unit(ib) < bits_.size() && bits_[unit(ib)]; }

private:
    static std::uint64_t unit(std::uint64_t ib) { return (ib - pst::kFirstAMapOffset) / 64; }
    std::vector<bool> bits_;
};

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
    void error(std::uint64_t at, std::string text) { add(FindingSeverity::Error, at, std::move(text)); }
    void warning(std::uint64_t at, std::string text) { add(FindingSeverity::Warning, at, std::move(text)); }
    void add(FindingSeverity s, std::uint64_t at, std::string text) {
        if (report_.findings.size() >= kMaxCheckFindings) {
            ++report_.findingsDropped;
            return;
        }
        report_.findings.push_back({s, at, std::move(text)});
    }

    std::uint64_t id(ByteReader& r) const { return r.readUint(layout_->idSize); }
    // A header field; zero past the end of a short file.
    std::uint64_t fieldAt(std::size_t offset, std::size_t width) const {
        return ByteReader(header_).peekAt(offset, width).value_or(0);
    }
    // A node B-tree leaf entry: the references it holds are counted now.
    void noteNode(const PendingNode& node);

    bool checkHeader();
    void walkTree(pst::PageType type, std::uint64_t rootBid, std::uint64_t rootIb);
    bool checkPageTrailer(std::span<const std::uint8_t> page, std::uint64_t ib, pst::PageType type,
                          std::uint64_t bid, bool signedPage, const char* name, bool crcIsError = true);
    void checkBlocks();
    void checkInternalBlock(std::size_t block, std::span<const std::uint8_t> data);
    // A data-tree block's lcbTotal, as its check read it (0 when it was not
    // read as one).
    std::uint32_t treeTotal(std::size_t block);
    // Counts a reference; false (and an error) when the block is not listed.
    bool countReference(std::uint64_t bid, std::uint64_t at, const std::string& from);
    void missingBlock(std::uint64_t bid, std::uint64_t at, const std::string& from);
    void checkReferences();
    void checkMaps();
    void markUsed(std::uint64_t ib, std::uint64_t length, const std::string& what);

    CheckFileReader& file_;
    std::vector<std::uint8_t> header_;  // the first bytes, up to the largest header
    const CheckOptions& options_;
    CheckReport& report_;
    const CheckLayout* layout_ = nullptr;

    CheckBlockList blocks_;
    std::vector<PendingNode> pendingNodes_;
    std::uint64_t nodeCount_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pages_;  // B-tree page ib, length
    std::uint64_t fileEof_ = 0;
    UsedSpace used_{0};
};

bool Checker::run() {
    if (!checkHeader()) return false;
    used_ = UsedSpace(std::max<std::uint64_t>(fileEof_, file_.size()));
    const std::size_t nbtAt = layout_->nbtRootAt, bbtAt = layout_->bbtRootAt, w = layout_->idSize;
    walkTree(pst::PageType::BlockBTree, fieldAt(bbtAt, w), fieldAt(bbtAt + w, w));
    blocks_.index();
    walkTree(pst::PageType::NodeBTree, fieldAt(nbtAt, w), fieldAt(nbtAt + w, w));
    checkBlocks();
    checkReferences();
    checkMaps();
    return true;
}

bool Checker::checkHeader() {
    header_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file_.size(), kHeaderBytes)));
    if (!header_.empty()) {
        const ByteReader head = file_.read(0, header_.size());
        if (head.failed()) {
            error(0, "the store header cannot be read");
            return false;
        }
        std::copy(head.data().begin(), head.data().end(), header_.begin());
    }
    if (file_.size() < 12) {
        error(0, "file too short for a store header (" + std::to_string(file_.size()) + " bytes)");
        return false;
    }
    if (fieldAt(0, 4) != pst::kHeaderMagic) {
        error(0, "header magic is not !BDN");
        return false;
    }
    const auto version = static_cast<std::uint16_t>(fieldAt(10, 2));
    report_.version = version;
    if (version == 14 || version == 15) {
        layout_ = &kAnsi;
    } else if (version == 23) {
        layout_ = &kUnicode;
    } else if (version == 36) {
        layout_ = &k4k;
    } else {
        error(10, "unknown format version wVer " + std::to_string(version));
        return false;
    }
    if (file_.size() < layout_->headerSize) {
        error(0, "file too short for its header");
        return false;
    }
    const std::uint64_t client = fieldAt(8, 2);
    if (client != pst::kMagicClientPst && client != pst::kMagicClientOst && client != 0x4241) {
        warning(8, "unexpected wMagicClient " + Hex(client));
    }
    const std::span<const std::uint8_t> header(header_);
    const std::uint32_t partial = ComputeCrc(header.subspan(8, pst::hdr::kCrcPartialLength));
    if (partial != fieldAt(4, 4)) error(4, "header partial CRC mismatch");
    if (layout_->crcFullAt != kNone) {
        const std::uint32_t full = ComputeCrc(header.subspan(8, pst::hdr::kCrcFullLength));
        if (full != fieldAt(layout_->crcFullAt, 4)) error(layout_->crcFullAt, "header full CRC mismatch");
    }
    if (fieldAt(layout_->sentinelAt, 1) != pst::kSentinel) error(layout_->sentinelAt, "bSentinel is not 0x80");
    const std::uint64_t crypt = fieldAt(layout_->cryptAt, 1);
    if (crypt > 2) error(layout_->cryptAt, "unknown bCryptMethod " + std::to_string(crypt));
    fileEof_ = fieldAt(layout_->fileEofAt, layout_->idSize);
    if (fileEof_ > file_.size()) {
        error(layout_->fileEofAt, "ibFileEof " + Hex(fileEof_) + " lies beyond the end of the file (" +
                                      Hex(file_.size()) + ")");
        fileEof_ = file_.size();
    }
    return true;
}

bool Checker::checkPageTrailer(std::span<const std::uint8_t> page, std::uint64_t ib, pst::PageType type,
                               std::uint64_t bid, bool signedPage, const char* name, bool crcIsError) {
    const CheckLayout& L = *layout_;
    ByteReader r(page);
    bool ok = true;
    const auto ptype = static_cast<std::uint8_t>(r.peekAt(L.ptypeAt, 1).value_or(0));
    const auto repeat = static_cast<std::uint8_t>(r.peekAt(L.ptypeAt + 1, 1).value_or(0));
    if (ptype != static_cast<std::uint8_t>(type) || repeat != ptype) {
        error(ib, std::string(name) + " page has ptype " + Hex(ptype) + "/" + Hex(repeat) + ", expected " +
                      Hex(static_cast<std::uint8_t>(type)));
        return false;
    }
    const std::uint64_t pageBid = r.peekAt(L.bidAt, L.idSize).value_or(0);
    if (pageBid != bid) {
        error(ib, std::string(name) + " page bid " + Hex(pageBid) + " differs from " + Hex(bid));
        ok = false;
    }
    const std::uint64_t sig = r.peekAt(L.sigAt, 2).value_or(0);
    const std::uint64_t expectedSig = signedPage ? ComputeSignature(ib, pageBid) : 0;
    if (sig != expectedSig) {
        error(ib, std::string(name) + " page signature " + Hex(sig) + ", expected " + Hex(expectedSig));
        ok = false;
    }
    const std::uint32_t crc = ComputeCrc(page.first(L.crcCovers));
    if (crc != r.peekAt(L.crcAt, 4).value_or(0)) {
        add(crcIsError ? FindingSeverity::Error : FindingSeverity::Warning, ib,
            std::string(name) + " page CRC mismatch");
        ok = false;
    }
    return ok;
}

void Checker::walkTree(pst::PageType type, std::uint64_t rootBid, std::uint64_t rootIb) {
    const CheckLayout& L = *layout_;
    const bool blockTree = type == pst::PageType::BlockBTree;
    const char* name = blockTree ? "block B-tree" : "node B-tree";
    const std::size_t leafSize = blockTree ? L.bbtEntry : L.nbtEntry;
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
            error(v.ib, std::string(name) + " page referenced twice");
            continue;
        }
        ByteReader page = file_.read(v.ib, L.pageSize);
        if (page.failed() || v.ib < pst::kFirstAMapOffset) {
            error(v.ib, std::string(name) + " page offset " + Hex(v.ib) + " lies outside the file");
            continue;
        }
        ++report_.pagesChecked;
        pages_.emplace_back(v.ib, L.pageSize);
        if (v.ib % L.pageSize != 0) {
            warning(v.ib, std::string(name) + " page not aligned to " + std::to_string(L.pageSize) + " bytes");
        }
        if (!checkPageTrailer(page.data(), v.ib, type, v.bid, true, name)) continue;
        const auto cEnt = static_cast<std::size_t>(page.peekAt(L.cEntAt, L.countWidth).value_or(0));
        const auto cEntMax = static_cast<std::size_t>(page.peekAt(L.cEntMaxAt, L.countWidth).value_or(0));
        const auto cbEnt = static_cast<std::size_t>(page.peekAt(L.cbEntAt, 1).value_or(0));
        const auto cLevel = static_cast<int>(page.peekAt(L.cLevelAt, 1).value_or(0));
        if (v.level >= 0 && cLevel != v.level) {
            error(v.ib, std::string(name) + " page cLevel " + std::to_string(cLevel) + ", expected " +
                            std::to_string(v.level));
            continue;
        }
        if (cLevel > 8) {
            error(v.ib, std::string(name) + " page cLevel " + std::to_string(cLevel) + " is implausible");
            continue;
        }
        const std::size_t entrySize = cLevel > 0 ? L.branchEntry : leafSize;
        if (cbEnt != entrySize || cEntMax != L.entriesSize / entrySize || cEnt > cEntMax) {
            error(v.ib, std::string(name) + " page footer inconsistent: cEnt " + std::to_string(cEnt) +
                            ", cEntMax " + std::to_string(cEntMax) + ", cbEnt " + std::to_string(cbEnt));
            continue;
        }
        if (cEnt == 0 && v.level >= 0) warning(v.ib, std::string(name) + " page without entries");
        ByteReader entries = page.sub(0, L.entriesSize);
        std::vector<Visit> children;
        std::uint64_t previous = 0;
        for (std::size_t i = 0; i < cEnt; ++i) {
            const std::uint64_t at = v.ib + i * entrySize;
            ByteReader e = entries.sub(i * entrySize, entrySize);
            std::uint64_t key = id(e);
            if (!blockTree) key &= 0xFFFFFFFFu;
            if (i > 0 && key <= previous) {
                error(at, std::string(name) + " keys out of order: " + Hex(key) + " after " + Hex(previous));
            }
            if (v.level >= 0 && (key < v.low || (v.bounded && key >= v.high))) {
                error(at, std::string(name) + " key " + Hex(key) + " outside the range its parent gives");
            }
            if (i == 0 && v.level >= 0 && key != v.low) {
                warning(at, std::string(name) + " first key " + Hex(key) + " differs from the parent's " +
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
                error(at, std::string(name) + " leaf keys out of order across pages");
            }
            anyLeafKey = true;
            lastLeafKey = key;
            if (blockTree) {
                const std::uint64_t ib = id(e);
                const auto cb = static_cast<std::uint16_t>(e.peekAt(L.bbtCbAt, 2).value_or(0));
                const auto inflated = L.bbtInflatedAt == kNone
                                          ? cb
                                          : static_cast<std::uint16_t>(e.peekAt(L.bbtInflatedAt, 2).value_or(0));
                blocks_.append(key, ib, cb, inflated, static_cast<std::uint16_t>(e.peekAt(L.bbtRefAt, 2).value_or(0)));
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
    bool pending = n.data != 0 && pst::IsInternalBid(n.data);
    for (const std::uint64_t bid : {n.data, n.subnodes}) {
        if (bid == 0) continue;
        const std::size_t block = blocks_.find(bid);
        if (block == CheckBlockList::kAbsent) pending = true;
        else blocks_.addReference(block);
    }
    if (pending) pendingNodes_.push_back(n);
}

void Checker::checkBlocks() {
    const CheckLayout& L = *layout_;
    const std::uint64_t maxData = L.maxBlockSize - L.blockTrailer;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        ++report_.blocksChecked;
        const std::uint64_t listedBid = blocks_.bid(i), ib = blocks_.ib(i);
        const std::uint16_t listedCb = blocks_.cb(i);
        const std::string what = "block " + Hex(listedBid);
        if (listedCb > maxData) {
            error(ib, what + " has cb " + std::to_string(listedCb) + ", more than a block holds");
            continue;
        }
        const std::uint64_t span = AlignUp(listedCb + L.blockTrailer, L.blockAlign);
        ByteReader block = file_.read(ib, span);
        if (block.failed() || ib < pst::kFirstAMapOffset) {
            error(ib, what + " lies outside the file");
            continue;
        }
        if (ib % L.blockAlign != 0) error(ib, what + " is not aligned to " + std::to_string(L.blockAlign) + " bytes");
        markUsed(ib, span, what);
        ByteReader trailer = block.sub(span - L.blockTrailer, L.blockTrailer);
        const std::uint16_t cb = trailer.readU16();
        const std::uint16_t sig = trailer.readU16();
        const std::uint64_t crc = trailer.peekAt(L.blockCrcAt, 4).value_or(0);
        const std::uint64_t bid = trailer.peekAt(L.blockBidAt, L.idSize).value_or(0);
        bool sound = true;
        if (cb != listedCb) {
            error(ib, what + " trailer cb " + std::to_string(cb) + " differs from the block B-tree's " +
                          std::to_string(listedCb));
            sound = false;
        }
        if ((bid & ~std::uint64_t{1}) != (listedBid & ~std::uint64_t{1})) {
            error(ib, what + " trailer names bid " + Hex(bid));
            sound = false;
        }
        if (sig != ComputeSignature(ib, bid)) {
            error(ib, what + " trailer signature mismatch");
            sound = false;
        }
        const auto data = block.data().first(listedCb);
        if (ComputeCrc(data) != crc) {
            error(ib, what + " CRC mismatch");
            sound = false;
        }
        blocks_.setSound(i, sound);
        // A deflated internal block is not looked into.
        if (sound && pst::IsInternalBid(listedBid) && blocks_.inflated(i) == listedCb) checkInternalBlock(i, data);
    }
    // Data trees: a level-2 block's total is the sum of its XBLOCKs' totals.
    std::vector<std::uint8_t> xxblock;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        if (!blocks_.sound(i) || !pst::IsInternalBid(blocks_.bid(i)) || blocks_.level(i) != 2) continue;
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
        if (sum != total) error(blocks_.ib(i), "XXBLOCK " + Hex(blocks_.bid(i)) + " lcbTotal " + std::to_string(total) +
                                                   " differs from its XBLOCKs' " + std::to_string(sum));
    }
}

std::uint32_t Checker::treeTotal(std::size_t b) {
    // checkInternalBlock read lcbTotal (offset 4) of every sound, stored
    // internal block of the data-tree type.
    if (!blocks_.sound(b) || !pst::IsInternalBid(blocks_.bid(b)) || blocks_.inflated(b) != blocks_.cb(b) ||
        blocks_.type(b) != pst::kBlockTypeData)
        return 0;
    ByteReader r(file_.read(blocks_.ib(b), blocks_.cb(b)).data());
    r.skip(4);
    return r.readU32();
}

void Checker::checkInternalBlock(std::size_t b, std::span<const std::uint8_t> data) {
    const CheckLayout& L = *layout_;
    const std::uint64_t ib = blocks_.ib(b);
    ByteReader r(data);
    const std::uint8_t btype = r.readU8();
    const std::uint8_t level = r.readU8();
    const std::uint16_t count = r.readU16();
    blocks_.setInternal(b, level, btype);
    const std::string what = "internal block " + Hex(blocks_.bid(b));
    if (btype == pst::kBlockTypeData) {
        const std::uint32_t total = r.readU32();
        if (level != 1 && level != 2) {
            error(ib, what + " has data-tree level " + std::to_string(level));
            return;
        }
        if (!r.canRead(std::size_t{count} * L.idSize)) {
            error(ib, what + " lists more entries than it holds");
            return;
        }
        std::uint64_t sum = 0;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::uint64_t child = id(r);
            countReference(child, ib, what);
            const std::size_t listed = blocks_.find(child);
            if (level == 1 && listed != CheckBlockList::kAbsent) {
                if (pst::IsInternalBid(child)) error(ib, what + " (XBLOCK) lists internal block " + Hex(child));
                sum += blocks_.inflated(listed);
            } else if (level == 2 && !pst::IsInternalBid(child)) {
                error(ib, what + " (XXBLOCK) lists data block " + Hex(child));
            }
        }
        if (level == 1 && sum != total) {
            error(ib, what + " lcbTotal " + std::to_string(total) + " differs from its blocks' " + std::to_string(sum));
        }
        return;
    }
    if (btype != pst::kBlockTypeSubnode || level > 1) {
        error(ib, what + " has unknown type " + Hex(btype) + " level " + std::to_string(level));
        return;
    }
    r.seek(L.subnodeHeader);
    const std::size_t entrySize = level == 0 ? L.slEntry : L.siEntry;
    if (!r.canRead(std::size_t{count} * entrySize)) {
        error(ib, what + " lists more entries than it holds");
        return;
    }
    std::uint64_t previous = 0;
    for (std::uint16_t i = 0; i < count; ++i) {
        ByteReader e = r.sub(r.position() + std::size_t{i} * entrySize, entrySize);
        const std::uint64_t nid = id(e) & 0xFFFFFFFFu;
        if (i > 0 && nid <= previous) error(ib, what + " subnode NIDs out of order");
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
    error(at, from + " refers to block " + Hex(bid) + ", which the block B-tree does not list");
}

void Checker::checkReferences() {
    // The nodes' references were counted as the node B-tree was walked;
    // what they found amiss is told here, after the blocks' findings.
    for (const PendingNode& n : pendingNodes_) {
        const std::string what = "node " + Hex(n.nid);
        if (n.data != 0 && pst::IsInternalBid(n.data)) {
            const std::size_t block = blocks_.find(n.data);
            if (block != CheckBlockList::kAbsent && blocks_.type(block) == pst::kBlockTypeSubnode) {
                error(n.at, what + " data names subnode block " + Hex(n.data));
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
            add(options_.strictReferenceCounts ? FindingSeverity::Error : FindingSeverity::Warning, blocks_.ib(i),
                "block " + Hex(blocks_.bid(i)) + " cRef " + std::to_string(blocks_.cRef(i)) + ", expected " +
                    std::to_string(refs + 1) + " for " + std::to_string(refs) + " reference(s)");
        }
    }
    if (unreferenced > 0) {
        add(options_.strictReferenceCounts ? FindingSeverity::Error : FindingSeverity::Warning, firstUnreferenced,
            std::to_string(unreferenced) + " block(s) listed in the block B-tree without any reference");
    }
}

}  // namespace

void Checker::markUsed(std::uint64_t ib, std::uint64_t length, const std::string& what) {
    if (ib < pst::kFirstAMapOffset) return;
    if (!used_.mark(ib, length)) error(ib, what + " overlaps another page or block");
}

void Checker::checkMaps() {
    const CheckLayout& L = *layout_;
    for (const auto& [ib, length] : pages_) markUsed(ib, length, "B-tree page at " + Hex(ib));
    if (!L.mapsChecked) {
        warning(0, std::string("allocation maps of the ") + L.reader.name + " layout are not compared");
        return;
    }
    const std::uint64_t valid = fieldAt(L.amapValidAt, 1);
    if (valid == 0) {
        warning(L.amapValidAt, "fAMapValid is 0: allocation maps not compared");
        return;
    }
    const std::uint64_t end = fileEof_;
    if (end <= pst::kFirstAMapOffset) {
        error(L.fileEofAt, "ibFileEof " + Hex(end) + " leaves no room for an allocation map");
        return;
    }
    const std::uint64_t intervals = (end - pst::kFirstAMapOffset + pst::kAMapCoverage - 1) / pst::kAMapCoverage;
    if ((end - pst::kFirstAMapOffset) % pst::kAMapCoverage != 0) {
        warning(L.fileEofAt, "ibFileEof " + Hex(end) + " does not end an allocation-map interval");
    }
    const std::uint64_t amapLast = fieldAt(L.amapLastAt, L.idSize);
    if (amapLast != pst::IntervalStart(intervals - 1)) {
        warning(L.amapLastAt, "ibAMapLast " + Hex(amapLast) + ", expected " + Hex(pst::IntervalStart(intervals - 1)));
    }
    std::uint64_t freeBytes = 0, freePageBytes = 0;
    std::uint64_t allocatedUnused = 0, firstAllocatedUnused = 0;
    for (std::uint64_t k = 0; k < intervals; ++k) {
        const std::uint64_t base = pst::IntervalStart(k);
        const std::uint64_t mapsEnd = base + pst::MapPagesSize(k);
        // A copy: the pages read after it may move the file window on.
        std::array<std::uint8_t, pst::kPageSize> amapPage{};
        {
            const ByteReader amap = file_.read(base, pst::kPageSize);
            if (amap.failed()) {
                error(base, "AMap page missing (file ends)");
                break;
            }
            std::copy(amap.data().begin(), amap.data().end(), amapPage.begin());
        }
        const ByteReader amap(amapPage);
        // Map pages and, where present, the PMap/FMap/FPMap pages.
        checkPageTrailer(amap.data(), base, pst::PageType::AllocationMap, base, false, "AMap");
        std::uint64_t at = base + pst::kPageSize;
        if (pst::HasPMap(k)) {
            ByteReader p = file_.read(at, pst::kPageSize);
            if (!p.failed()) {
                checkPageTrailer(p.data(), at, pst::PageType::PageMap, at, false, "PMap");
                // One bit per page, over the next eight intervals.
                const auto pageBits = p.data().subspan(L.amapBitsAt, pst::kPageDataSize);
                for (std::uint64_t bit = 0; bit < pst::kAMapBits; ++bit) {
                    if (base + bit * pst::kPageSize >= end) break;
                    if ((pageBits[bit / 8] & (0x80u >> (bit % 8))) == 0) freePageBytes += pst::kPageSize;
                }
            }
            at += pst::kPageSize;
        }
        if (pst::HasFMap(k) || pst::HasFPMap(k)) {
            ByteReader p = file_.read(at, pst::kPageSize);
            const auto type = pst::HasFMap(k) ? pst::PageType::FreeMap : pst::PageType::FreePageMap;
            if (!p.failed()) checkPageTrailer(p.data(), at, type, at, false, pst::HasFMap(k) ? "FMap" : "FPMap");
        }
        used_.mark(base, mapsEnd - base);
        const auto bits = amap.data().subspan(L.amapBitsAt, pst::kPageDataSize);
        for (std::uint64_t bit = 0; bit < pst::kAMapBits; ++bit) {
            const std::uint64_t ib = base + bit * pst::kAMapUnit;
            if (ib >= end) break;
            const bool allocated = (bits[bit / 8] & (0x80u >> (bit % 8))) != 0;
            const bool used = used_.used(ib);
            if (!allocated) freeBytes += pst::kAMapUnit;
            if (used && !allocated) {
                error(ib, "space in use by a page or block is marked free in the AMap at " + Hex(base));
            } else if (allocated && !used) {
                if (allocatedUnused++ == 0) firstAllocatedUnused = ib;
            }
        }
    }
    if (allocatedUnused > 0) {
        warning(firstAllocatedUnused, std::to_string(allocatedUnused * pst::kAMapUnit) +
                                          " bytes marked allocated in the AMaps are used by no page or block");
    }
    // The header's free-space counters hold what the maps give, byte for
    // byte, as in every client-written store at hand (offline stores
    // included): an error under the client's rules, else a warning, since
    // other writers may keep a running count. cbPMapFree follows cbAMapFree
    // in the header.
    const auto counterFinding = [&](std::size_t at, const char* name, std::uint64_t held, std::uint64_t recomputed,
                                    const char* maps) {
        if (held == recomputed) return;
        add(options_.clientRules ? FindingSeverity::Error : FindingSeverity::Warning, at,
            std::string(name) + " " + std::to_string(held) + " differs from the " + maps + "' " +
                std::to_string(recomputed) + " free bytes");
    };
    counterFinding(L.amapFreeAt, "cbAMapFree", fieldAt(L.amapFreeAt, L.idSize), freeBytes, "AMaps");
    counterFinding(L.amapFreeAt + L.idSize, "cbPMapFree", fieldAt(L.amapFreeAt + L.idSize, L.idSize), freePageBytes,
                   "PMaps");
    if (L.unicode) {
        ByteReader dlist = file_.read(pst::kDListOffset, pst::kPageSize);
        if (!dlist.failed() && dlist.peekAt(L.ptypeAt, 1) == static_cast<std::uint8_t>(pst::PageType::DensityList)) {
            const std::uint64_t bid = dlist.peekAt(L.bidAt, 8).value_or(0);
            const bool signedPage = dlist.peekAt(L.sigAt, 2).value_or(0) != 0;
            checkPageTrailer(dlist.data(), pst::kDListOffset, pst::PageType::DensityList, bid, signedPage,
                             "density list", false);
        }
    }
}

}  // namespace bm

namespace bm {

std::size_t CheckReport::errorCount() const {
    return static_cast<std::size_t>(std::count_if(findings.begin(), findings.end(), [](const Finding& f) {
        return f.severity == FindingSeverity::Error;
    }));
}
std::size_t CheckReport::warningCount() const { return findings.size() - errorCount(); }

CheckReport CheckStore(const std::filesystem::path& path, const CheckOptions& options) {
    CheckReport report;
    CheckFileReader file(path);
    if (!file.opened()) {
        report.findings.push_back({FindingSeverity::Error, 0, "cannot open " + path.string() + ": " + file.error()});
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
