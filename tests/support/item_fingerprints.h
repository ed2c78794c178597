// What the saving run would write of each item of a store, as one string
// per item node: every property, recipient row and attachment of the item
// copied whole (attachment data read to its end, embedded messages to any
// depth). Two stores whose items have equal fingerprints save the same
// content. Also the folder paths the walk meets, for selecting them all.
// Header-only; the including program links the core.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "engine/mail_subtree.h"
#include "support/folder_path_walk.h"
#include "output/source_copy.h"
#include "store/store.h"

namespace bmtest {

inline void AppendMessage(std::string& out, const bm::pst::Message& m);

inline void AppendBag(std::string& out, const bm::pst::PropertyBag& bag) {
    for (const bm::pst::Property& p : bag.properties()) {
        out += std::to_string(p.key.id) + "/";
        out.append(p.key.propertySet.begin(), p.key.propertySet.end());
        if (const auto* lid = std::get_if<std::uint32_t>(&p.key.name)) out += std::to_string(*lid);
        if (const auto* name = std::get_if<std::u16string>(&p.key.name))
            for (const char16_t c : *name) out += static_cast<char>(c);
        out += ":" + std::to_string(static_cast<unsigned>(p.type)) + "=";
        out.append(p.bytes.begin(), p.bytes.end());
        out += ";";
    }
}

inline void AppendMessage(std::string& out, const bm::pst::Message& m) {
    AppendBag(out, m.properties);
    for (const bm::pst::PropertyBag& r : m.recipients) {
        out += "|recipient:";
        AppendBag(out, r);
    }
    for (const bm::pst::Attachment& a : m.attachments) {
        out += "|attachment:";
        AppendBag(out, a.properties);
        out += a.objectData ? "object:" : "data:";
        if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&a.content)) {
            out.append(bytes->begin(), bytes->end());
        } else if (const auto* stream = std::get_if<bm::pst::StreamSource>(&a.content)) {
            std::vector<std::uint8_t> piece(8192);
            for (std::size_t n; (n = stream->read(piece)) > 0;) out.append(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        } else if (const auto* inner = std::get_if<std::shared_ptr<const bm::pst::Message>>(&a.content)) {
            out += "{";
            if (*inner) AppendMessage(out, **inner);
            out += "}";
        }
    }
}

struct StoreFingerprints {
    bool found = false;                                // the walk found the mail folder subtree
    std::map<std::uint32_t, std::string> items;       // item node -> fingerprint ("" when it cannot be copied)
    std::map<std::uint32_t, std::string> subjects;    // item node -> subject as read
    std::vector<std::string> folders;                  // every folder path, the top one first
};

// The items of the store as the saving run walks it (deep recovery where
// the store looks incomplete, as the run does).
inline StoreFingerprints FingerprintStore(const std::filesystem::path& path) {
    StoreFingerprints out;
    bm::StoreFile store;
    bm::StoreReader reader;
    const bm::MailSubtree subtree = bm::OpenMailSubtree(store, path, reader);
    if (subtree.status != bm::MailSubtreeStatus::Found) return out;
    out.found = true;
    out.folders.push_back("Personal Folders\\");
    FolderPathVisitor visitor;
    visitor.folder = [&](const std::string& folder) { out.folders.push_back(folder); };
    visitor.item = [&](const bm::ItemRecord& record, const bm::NodeEntry& node, const std::string&) {
        if (record.messageFields && record.messageFields->subject)
            out.subjects[node.nid] = record.messageFields->subject->text;
        std::string print;
        if (const auto copy = bm::CopySourceMessage(store, node)) AppendMessage(print, *copy);
        out.items[node.nid] = std::move(print);
    };
    WalkWithFolderPaths(store, *subtree.root, reader, visitor);
    bm::ReleaseStore(store);
    return out;
}

// The item nodes whose fingerprint differs between the two stores (an item
// that the damaged store no longer holds at all is not among them).
inline std::vector<std::uint32_t> ChangedItems(const StoreFingerprints& intact, const StoreFingerprints& damaged) {
    std::vector<std::uint32_t> out;
    for (const auto& [nid, print] : intact.items) {
        const auto after = damaged.items.find(nid);
        if (after != damaged.items.end() && after->second != print) out.push_back(nid);
    }
    return out;
}

}  // namespace bmtest
