// Damaged copies of a store, made deterministically from a sound one, and
// the listing of what the runs' walk reads from a store. Shared by the deep
// recovery tests and the recovery report (bench/recovery_report.cpp).
// Header-only; the including program links the core.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/deep_recovery.h"
#include "engine/mail_subtree.h"
#include "store/blocks.h"
#include "store/btree_walk.h"
#include "store/store.h"
#include "store/store_scan.h"
#include "support/file_bytes.h"

namespace bmtest {

enum class Damage {
    HeaderScrambled,     // magic and both header CRCs overwritten
    RootOffsetsZeroed,   // the header's offsets of both index roots zeroed
    FirstNodeLeaf,       // the node-tree leaf holding the message store node overwritten
    InnerIndexPage,      // the node tree's first inner page (its root) overwritten
    TruncatedAt90,       // the file cut at 90% of its size
    FiveBlocksZeroed,    // five data blocks, spread over the table, zeroed
    OnePercentFlipped,   // 1% of the bytes changed at random positions
};

inline const std::vector<Damage>& AllDamages() {
    static const std::vector<Damage> all{Damage::HeaderScrambled, Damage::RootOffsetsZeroed, Damage::FirstNodeLeaf,
                                         Damage::InnerIndexPage,  Damage::TruncatedAt90,     Damage::FiveBlocksZeroed,
                                         Damage::OnePercentFlipped};
    return all;
}

inline const char* DamageName(Damage d) {
    switch (d) {
    case Damage::HeaderScrambled: return "header magic and CRCs scrambled";
    case Damage::RootOffsetsZeroed: return "header root offsets zeroed";
    case Damage::FirstNodeLeaf: return "first node-tree leaf overwritten";
    case Damage::InnerIndexPage: return "inner index page overwritten";
    case Damage::TruncatedAt90: return "truncated at 90%";
    case Damage::FiveBlocksZeroed: return "5 data blocks zeroed";
    case Damage::OnePercentFlipped: return "1% of bytes flipped";
    }
    return "?";
}

// splitmix64: the same bytes on every machine.
struct DamageRandom {
    std::uint64_t state;
    std::uint64_t Next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

inline void Scribble(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::size_t n, std::uint64_t seed) {
    DamageRandom random{seed};
    for (std::size_t i = 0; i < n && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(random.Next());
}

// One byte changed in every 16 KiB of the file, at a random place in it
// (bit rot, a bad copy). Returns the offsets changed.
inline std::vector<std::uint64_t> RotEvery16KiB(const std::filesystem::path& path, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    std::vector<std::uint64_t> changed;
    DamageRandom random{seed};
    for (std::size_t at = 0; at < bytes.size(); at += 16384) {
        const std::size_t n = std::min<std::size_t>(16384, bytes.size() - at);
        const std::size_t hit = at + random.Next() % n;
        bytes[hit] ^= static_cast<std::uint8_t>(1 + random.Next() % 255);
        changed.push_back(hit);
    }
    WriteWholeFile(path, bytes);
    return changed;
}

// The pages of the sound store's node tree that its walk entered.
struct SoundIndex {
    bm::StoreScan scan;
    std::vector<std::uint64_t> enteredNodePages;
    std::vector<std::pair<std::uint64_t, std::size_t>> dataBlocks;  // offset, extent
    const bm::StoreLayout* layout = nullptr;
};

inline SoundIndex ReadSoundIndex(const std::filesystem::path& path) {
    SoundIndex out;
    bm::StoreFile store;
    bm::StoreReader reader;
    if (bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead) != 0 || store.layout == nullptr) return out;
    store.keepPagesEntered = true;
    bm::BuildIndexes(store, reader);
    out.layout = store.layout;
    out.scan = bm::ScanStoreFile(store.file, *store.layout);
    out.enteredNodePages.assign(store.nbtPagesEntered.begin(), store.nbtPagesEntered.end());
    std::sort(out.enteredNodePages.begin(), out.enteredNodePages.end());
    for (const bm::BlockEntry& e : store.blocks.entries()) {
        if (bm::IsInternalBid(e.bid()) || bm::FindBlock(store, e.bid()) != &e) continue;
        const std::size_t a = store.layout->block.alignment;
        const std::size_t extent = (e.size() + store.layout->block.size + a - 1) / a * a;
        out.dataBlocks.emplace_back(e.offset(), extent);
    }
    return out;
}

// Damages the file at `path` in place. False when the damage has nothing to
// hit (no such page in this store).
inline bool DamageStore(const std::filesystem::path& path, Damage damage) {
    const SoundIndex sound = ReadSoundIndex(path);
    if (sound.layout == nullptr) return false;
    const bm::StoreLayout& layout = *sound.layout;
    std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    const auto entered = [&](std::uint64_t offset) {
        return std::binary_search(sound.enteredNodePages.begin(), sound.enteredNodePages.end(), offset);
    };
    switch (damage) {
    case Damage::HeaderScrambled:
        Scribble(bytes, 0, 8, 1);  // magic and the partial CRC
        if (layout.kind != bm::LayoutKind::Ansi) Scribble(bytes, 524, 4, 2);  // the full CRC
        break;
    case Damage::RootOffsetsZeroed:
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(layout.header.nbtRootOffsetAt), layout.idWidth, 0);
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(layout.header.bbtRootOffsetAt), layout.idWidth, 0);
        break;
    case Damage::FirstNodeLeaf:
    case Damage::InnerIndexPage: {
        const bool leaf = damage == Damage::FirstNodeLeaf;
        const bm::ScannedPage* target = nullptr;
        for (const bm::ScannedPage& page : sound.scan.pages) {
            if (page.type != bm::kNodeTreePageType || !entered(page.offset) || (page.level == 0) != leaf) continue;
            if (leaf) {
                const bool holdsStore = std::any_of(sound.scan.leafNodes.begin(), sound.scan.leafNodes.end(), [&](const bm::ScannedNode& n) {
                    return n.pageOffset == page.offset && n.nid == bm::kMessageStoreNid;
                });
                if (!holdsStore) continue;
            }
            if (target == nullptr || page.level > target->level) target = &page;
        }
        if (target == nullptr) return false;
        Scribble(bytes, target->offset, layout.page.size, 3);
        break;
    }
    case Damage::TruncatedAt90:
        bytes.resize(bytes.size() / 10 * 9);
        break;
    case Damage::FiveBlocksZeroed: {
        if (sound.dataBlocks.size() < 5) return false;
        for (std::size_t i = 0; i < 5; ++i) {
            const auto& [offset, extent] = sound.dataBlocks[(2 * i + 1) * sound.dataBlocks.size() / 10];
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), std::min(extent, bytes.size() - offset), 0);
        }
        break;
    }
    case Damage::OnePercentFlipped: {
        DamageRandom random{4};
        for (std::size_t i = 0; i < bytes.size() / 100; ++i) {
            const std::uint64_t at = random.Next() % bytes.size();
            bytes[at] ^= static_cast<std::uint8_t>(1 + random.Next() % 255);
        }
        break;
    }
    }
    WriteWholeFile(path, bytes);
    return true;
}

// What the runs' walk reads from a store: one line per record, its folder
// path and what identifies it.
struct StoreListing {
    bm::MailSubtreeStatus status = bm::MailSubtreeStatus::OpenFailed;
    std::vector<std::string> lines;
    std::size_t items = 0;    // records that are not folders
    std::size_t folders = 0;
    std::size_t foldersRecordLost = 0;  // folders walked with a made-up record (their own is lost)
    bool deepRecoveryRan = false;
    bm::DeepRecoveryReport report;
};

// `deepScan` asks for the scan; `automatic` lets it run by itself on a
// store that looks incomplete.
inline StoreListing ListStore(const std::filesystem::path& path, bool deepScan, bool automatic = true) {
    StoreListing out;
    bm::StoreFile store;
    bm::StoreReader reader;
    bm::MailSubtreeOptions options;
    options.deepScan = deepScan;
    options.recoverWhenIncomplete = automatic;
    const bm::MailSubtree subtree = bm::OpenMailSubtree(store, path, reader, {}, options);
    out.status = subtree.status;
    out.deepRecoveryRan = subtree.deepRecoveryRan;
    if (const bm::RecoveredItems* r = bm::RecoveryOf(store)) out.report = r->report;
    if (subtree.status != bm::MailSubtreeStatus::Found) return out;
    std::string folderPath = "Personal Folders\\";
    std::vector<std::size_t> stack;
    bm::SubtreeWalk walk;
    walk.goOn = [] { return true; };
    walk.visit = [&](std::unique_ptr<bm::ItemRecord> record, const bm::NodeEntry& node) {
        if (record->folderCounts) {
            ++out.folders;
            if (record->ownRecordLost) ++out.foldersRecordLost;
            stack.push_back(folderPath.size());
            folderPath += record->displayName + "\\";
            out.lines.push_back(folderPath);
            if (node.hasChildren()) return true;
            folderPath.resize(stack.back());
            stack.pop_back();
            return false;
        }
        ++out.items;
        std::string subject = record->messageFields && record->messageFields->subject ? record->messageFields->subject->text : "";
        out.lines.push_back(folderPath + " | " + record->messageClass + " | " + subject + " | " + record->displayName);
        return false;
    };
    walk.leaveFolder = [&] {
        if (stack.empty()) return false;
        folderPath.resize(stack.back());
        stack.pop_back();
        return true;
    };
    bm::WalkMailSubtree(store, *subtree.root, reader, walk);
    bm::ReleaseStore(store);
    return out;
}

// Copies `source` to `copy` (which must not exist) and damages the copy.
// False when the damage has nothing to hit.
inline bool DamagedCopy(const std::filesystem::path& source, const std::filesystem::path& copy, Damage damage) {
    std::filesystem::copy_file(source, copy);
    return DamageStore(copy, damage);
}

}  // namespace bmtest
