#include "engine/duplicate_items.h"

#include <algorithm>
#include <cctype>

#include "messaging/item_reader.h"
#include "store/nid_types.h"

namespace bm {

namespace {

// A length before each field, so that no two different sequences of
// fields make the same text.
void Field(std::string& out, std::string_view value) {
    out += std::to_string(value.size());
    out += ':';
    out += value;
}

void Field(std::string& out, const Bytes& value) {
    Field(out, std::string_view(reinterpret_cast<const char*>(value.data()), value.size()));
}

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return text;
}

// 64-bit FNV-1a, kept as the running state of a digest.
struct Fnv {
    std::uint64_t h = 14695981039346656037ULL;
    void Add(std::span<const std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) h = (h ^ b) * 1099511628211ULL;
    }
};

}  // namespace

std::optional<std::string> DuplicateKey(const ItemRecord& item, std::uint32_t nid, const std::string& folder) {
    if (IsAssociatedMessageNid(nid)) return std::nullopt;
    const MessageFields* m = item.messageFields.get();
    if (m == nullptr) return std::nullopt;
    std::string key;
    Field(key, folder);
    // Message classes are not case-sensitive.
    Field(key, Lowered(item.messageClass));
    if (!m->internetMessageId.empty()) {
        key += 'm';
        Field(key, m->internetMessageId);
        return key;
    }
    const Bytes& time = !m->deliveryTime.empty() ? m->deliveryTime : m->submitTime;
    if (time.empty()) return std::nullopt;
    key += 't';
    Field(key, m->sentRepresentingAddress);
    Field(key, m->sentRepresentingName);
    Field(key, time);
    Field(key, m->subject ? m->subject->text : std::string());
    return key;
}

std::string DuplicateItems::ContentDigest(const NodeEntry& node) {
    // Read apart from the item being saved: what this read meets is no
    // damage of that item.
    ContentDamage* damage = store_.contentDamage;
    store_.contentDamage = nullptr;
    std::string digest;
    if (std::unique_ptr<ItemRecord> whole = ReadItem(store_, node)) {
        digest += 'r';
        if (const MessageFields* m = whole->messageFields.get()) {
            Field(digest, m->body);
            Field(digest, m->htmlBody);
            Field(digest, m->bodyText);
        }
        Field(digest, std::to_string(whole->attachments.size()));
        for (AttachmentRecord& a : whole->attachments) {
            Field(digest, AttachmentShownName(a));
            Field(digest, std::to_string(a.method) + "/" + std::to_string(a.attachSize));
            Fnv data;
            std::uint64_t size = 0;
            StreamAttachmentData(store_, a, [&](std::span<const std::uint8_t> bytes) {
                data.Add(bytes);
                size += bytes.size();
                return true;
            });
            Field(digest, std::to_string(size) + "/" + std::to_string(data.h));
        }
    }
    store_.contentDamage = damage;
    return digest;
}

DuplicateItems::Check DuplicateItems::CheckItem(const ItemRecord& item, const NodeEntry& node,
                                                const std::string& folder) {
    Check check;
    // The folder by a number of its own: a key is kept for every item saved.
    const std::uint32_t folderId =
        folders_.try_emplace(folder, static_cast<std::uint32_t>(folders_.size())).first->second;
    check.key = DuplicateKey(item, node.nid, std::to_string(folderId));
    if (!check.key) return check;
    const auto found = kept_.find(*check.key);
    if (found == kept_.end()) return check;
    const std::string mine = ContentDigest(node);
    last_ = {&node, mine};
    // An item that cannot be read whole is kept: nothing shows it is a copy.
    if (mine.empty()) return check;
    for (Kept& k : found->second) {
        if (!k.digest) k.digest = ContentDigest(*k.node);
        if (*k.digest == mine) {
            check.copyOf = k.node->nid;
            break;
        }
    }
    return check;
}

void DuplicateItems::Saved(const Check& check, const NodeEntry& node) {
    if (!check.key) return;
    kept_[*check.key].push_back(Kept{&node, last_.node == &node ? std::optional(last_.digest) : std::nullopt});
}

}  // namespace bm
