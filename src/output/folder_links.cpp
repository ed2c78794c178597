#include "output/folder_links.h"

#include <algorithm>
#include <span>
#include <utility>

#include "common/byte_reader.h"
#include "store/entry_id.h"

namespace bm {

namespace {

using Bytes = std::vector<std::uint8_t>;
using pst::PropType;

constexpr std::uint16_t kPtBinaryType = 0x0102;
constexpr std::uint16_t kPtMvBinaryType = 0x1102;
constexpr std::uint16_t kAdditionalRenEntryIds = 0x36D8;
constexpr std::uint16_t kAdditionalRenEntryIdsEx = 0x36D9;
// Persisted blocks of 0x36D9: an id and a size, then elements of an id
// and a size each; a block of id 0 ends the list.
constexpr std::uint16_t kPersistSentinel = 0;
constexpr std::uint16_t kElementEntryId = 0x0003;

void PutU16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An Exchange entry id of a folder: 4 flag bytes, the provider's 16-byte
// id, a 2-byte folder type, the database's 16-byte GUID, the 6-byte global
// counter (most significant first) and 2 bytes of padding.
constexpr std::size_t kExchangeEntryIdSize = 46;
constexpr std::size_t kExchangeCounterAt = 38;

// The targets an entry id can be resolved by: the saved folders by source
// node, and the source nodes by global counter.
struct LinkTargets {
    const SavedFolderOf& saved;
    const FolderNidOfCounter& byCounter;
};

// The saved folder an entry id names, when it names a folder at all.
std::optional<pst::FolderId> TargetOf(std::span<const std::uint8_t> entryId, const LinkTargets& to) {
    if (entryId.size() == kExchangeEntryIdSize) {
        if (!to.byCounter) return std::nullopt;
        std::uint64_t counter = 0;
        for (std::size_t i = 0; i < 6; ++i) counter = counter << 8 | entryId[kExchangeCounterAt + i];
        const std::optional<std::uint32_t> nid = to.byCounter(counter);
        return nid ? to.saved(*nid) : std::nullopt;
    }
    const std::optional<std::uint32_t> nid = FolderNidOfEntryId(entryId);
    return nid ? to.saved(*nid) : std::nullopt;
}

// 0x36D8: the entry ids in their places; nullopt for a value that does not
// read as a list or names no saved folder.
std::optional<std::vector<std::optional<pst::FolderId>>> ListTargets(const Bytes& value, const LinkTargets& saved) {
    ByteReader r(value);
    const std::uint32_t count = r.readU32();
    if (r.failed() || count > value.size() / 4) return std::nullopt;
    std::vector<std::uint32_t> offsets(count);
    for (std::uint32_t& o : offsets) o = r.readU32();
    if (r.failed()) return std::nullopt;
    std::vector<std::optional<pst::FolderId>> targets;
    bool any = false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? offsets[i + 1] : value.size();
        if (offsets[i] > end || end > value.size()) return std::nullopt;
        targets.push_back(TargetOf(std::span(value).subspan(offsets[i], end - offsets[i]), saved));
        any = any || targets.back().has_value();
    }
    if (!any) return std::nullopt;
    return targets;
}

// 0x36D9: each block as it is, with the saved folder of its entry id; the
// blocks whose entry id names no saved folder are left out.
struct PersistBlock {
    Bytes bytes;  // the whole block, its entry id at `entryIdAt`
    std::size_t entryIdAt = 0;
    pst::FolderId target = 0;
};

std::optional<std::vector<PersistBlock>> PersistTargets(const Bytes& value, const LinkTargets& saved) {
    ByteReader r(value);
    std::vector<PersistBlock> blocks;
    while (r.canRead(4)) {
        const std::size_t start = r.position();
        const std::uint16_t id = r.readU16();
        const std::uint16_t size = r.readU16();
        if (id == kPersistSentinel || !r.canRead(size)) break;
        const ByteReader elements = r.sub(r.position(), size);
        r.skip(size);
        ByteReader e = elements;
        std::optional<pst::FolderId> target;
        std::size_t entryIdAt = 0;
        while (e.canRead(4)) {
            const std::uint16_t elementId = e.readU16();
            const std::uint16_t elementSize = e.readU16();
            if (!e.canRead(elementSize)) break;
            if (elementId == kElementEntryId) {
                entryIdAt = 4 + e.position();
                target = TargetOf(e.data().subspan(e.position(), elementSize), saved);
            }
            e.skip(elementSize);
        }
        if (!target) continue;
        const auto whole = std::span(value).subspan(start, 4 + size);
        blocks.push_back({Bytes(whole.begin(), whole.end()), entryIdAt, *target});
    }
    if (blocks.empty()) return std::nullopt;
    return blocks;
}

}  // namespace

std::optional<pst::PstStore::FolderLink> MakeFolderLinkAnew(const SourceFolderLink& link, const SavedFolderOf& savedFolder,
                                                           const FolderNidOfCounter& byCounter) {
    const LinkTargets saved{savedFolder, byCounter};
    pst::PstStore::FolderLink out;
    out.id = link.id;
    if (link.id == kAdditionalRenEntryIds && link.type == kPtMvBinaryType) {
        auto targets = ListTargets(link.bytes, saved);
        if (!targets) return std::nullopt;
        out.type = PropType::MvBinary;
        out.make = [targets = std::move(*targets)](const pst::PstStore::EntryIdOf& entryIdOf) {
            std::vector<Bytes> ids;
            for (const auto& t : targets) ids.push_back(t ? entryIdOf(*t) : Bytes());
            Bytes value;
            PutU32(value, static_cast<std::uint32_t>(ids.size()));
            std::uint32_t at = static_cast<std::uint32_t>(4 + 4 * ids.size());
            for (const Bytes& id : ids) {
                PutU32(value, at);
                at += static_cast<std::uint32_t>(id.size());
            }
            for (const Bytes& id : ids) value.insert(value.end(), id.begin(), id.end());
            return value;
        };
        return out;
    }
    if (link.type != kPtBinaryType) return std::nullopt;
    out.type = PropType::Binary;
    if (link.id == kAdditionalRenEntryIdsEx) {
        auto blocks = PersistTargets(link.bytes, saved);
        if (!blocks) return std::nullopt;
        out.make = [blocks = std::move(*blocks)](const pst::PstStore::EntryIdOf& entryIdOf) {
            Bytes value;
            for (const PersistBlock& b : blocks) {
                Bytes block = b.bytes;
                const Bytes id = entryIdOf(b.target);
                std::copy(id.begin(), id.end(), block.begin() + static_cast<std::ptrdiff_t>(b.entryIdAt));
                value.insert(value.end(), block.begin(), block.end());
            }
            PutU16(value, kPersistSentinel);
            PutU16(value, 0);
            return value;
        };
        return out;
    }
    const std::optional<pst::FolderId> target = TargetOf(link.bytes, saved);
    if (!target) return std::nullopt;
    out.make = [target = *target](const pst::PstStore::EntryIdOf& entryIdOf) { return entryIdOf(target); };
    return out;
}

void FolderLinks::Saved(std::uint32_t nid, OutputFolderHandle folder, std::optional<std::uint64_t> counter) {
    saved_.insert_or_assign(nid, folder);
    if (!counter) return;
    // A counter two folders claim names neither for sure.
    const auto [it, added] = byCounter_.try_emplace(*counter, nid);
    if (!added && it->second != nid) it->second = 0;
}

void FolderLinks::Hold(OutputFolderHandle folder, std::vector<SourceFolderLink> links) {
    if (links.empty()) {
        held_.erase(folder);
        return;
    }
    held_.insert_or_assign(folder, std::move(links));
}

void FolderLinks::HoldOnStoreRoot(std::uint32_t nid, std::vector<SourceFolderLink> links) {
    storeRootNid_ = nid;
    storeRootLinks_ = std::move(links);
}

void FolderLinks::Apply(OpenOutputStore& store, const FolderInPart& folderInPart) const {
    const SavedFolderOf saved = [&](std::uint32_t nid) -> std::optional<pst::FolderId> {
        if (storeRootNid_ != 0 && nid == storeRootNid_) return store.rootFolder();
        const auto it = saved_.find(nid);
        if (it == saved_.end()) return std::nullopt;
        return folderInPart(it->second);
    };
    const FolderNidOfCounter byCounter = [&](std::uint64_t counter) -> std::optional<std::uint32_t> {
        const auto it = byCounter_.find(counter);
        if (it == byCounter_.end() || it->second == 0) return std::nullopt;
        return it->second;
    };
    const auto anew = [&](const std::vector<SourceFolderLink>& links) {
        std::vector<pst::PstStore::FolderLink> out;
        for (const SourceFolderLink& link : links)
            if (auto made = MakeFolderLinkAnew(link, saved, byCounter)) out.push_back(std::move(*made));
        return out;
    };
    if (!storeRootLinks_.empty()) store.SetFolderLinks(store.rootFolder(), anew(storeRootLinks_));
    for (const auto& [folder, links] : held_) {
        const std::optional<pst::FolderId> holder = folderInPart(folder);
        if (holder) store.SetFolderLinks(*holder, anew(links));
    }
}

}  // namespace bm
