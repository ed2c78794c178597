// Reading a written store back for the output tests: with this project's
// own reader (every message node through ReadItem, with the path of its
// folder below the top of the personal folders) and with pypff (a small
// script that prints each folder's items as JSON).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "messaging/messaging.h"
#include "store/store.h"
#include "support/command_run.h"
#include "support/test_paths.h"

namespace bmtest {

struct ReadBackItem {
    std::string folder;  // "Inbox\Sub"; "" for the top itself
    std::unique_ptr<bm::ItemRecord> record;
    std::vector<bm::Bytes> attachmentData;  // per attachment, streamed
};

struct ReadBackStore {
    std::map<std::string, std::string> folderClasses;  // path -> container class
    std::vector<ReadBackItem> items;

    std::vector<const ReadBackItem*> In(const std::string& folder) const {
        std::vector<const ReadBackItem*> out;
        for (const ReadBackItem& i : items)
            if (i.folder == folder) out.push_back(&i);
        return out;
    }
};

inline constexpr std::uint32_t kRootFolderNid = 0x122;

inline ReadBackStore ReadBack(const std::filesystem::path& path) {
    ReadBackStore out;
    bm::StoreFile store;
    bm::StoreReader reader;
    bm::RtfWorkspace rtf;
    EXPECT_EQ(bm::OpenStore(store, path, bm::StoreOpenMode::SharedRead), 0) << path;
    EXPECT_EQ(bm::BuildIndexes(store, reader), 0);
    bm::LoadNamedPropertyMap(store);
    std::map<std::uint32_t, std::string> names;
    const auto nameOf = [&](const bm::NodeEntry& n) -> const std::string& {
        auto it = names.find(n.nid);
        if (it == names.end()) {
            auto record = bm::ReadItem(store, n, &reader, &rtf);
            it = names.emplace(n.nid, record ? record->displayName : std::string()).first;
        }
        return it->second;
    };
    // Names below the node that hangs directly under the root folder.
    const auto pathOf = [&](const bm::NodeEntry& folder) {
        std::vector<const bm::NodeEntry*> chain;
        for (const bm::NodeEntry* n = &folder; n != nullptr && n->nid != kRootFolderNid; n = store.forest.Parent(*n))
            chain.push_back(n);
        std::string p;
        for (std::size_t i = chain.size(); i-- > 1;) {  // chain.back() is the top
            const bm::NodeEntry* n = chain[i - 1];
            if (!p.empty()) p += "\\";
            p += nameOf(*n);
        }
        return p;
    };
    for (const bm::NodeEntry& node : store.forest.records()) {
        const std::uint32_t type = node.nid & 0x1F;
        if (type == 0x02 && node.nid != kRootFolderNid && store.forest.Parent(node) != nullptr) {
            auto record = bm::ReadItem(store, node, &reader, &rtf);
            out.folderClasses[pathOf(node)] = record ? record->messageClass : std::string();
        }
        if (type != 0x04 || store.forest.Parent(node) == nullptr) continue;
        ReadBackItem item;
        item.folder = pathOf(*store.forest.Parent(node));
        item.record = bm::ReadItem(store, node, &reader, &rtf);
        if (!item.record) continue;
        for (bm::AttachmentRecord& a : item.record->attachments) {
            bm::Bytes data;
            bm::StreamAttachmentData(store, a, [&](std::span<const std::uint8_t> piece) {
                data.insert(data.end(), piece.begin(), piece.end());
                return true;
            });
            item.attachmentData.push_back(std::move(data));
        }
        out.items.push_back(std::move(item));
    }
    bm::ReleaseStore(store);
    return out;
}

inline std::string SubjectOf(const bm::ItemRecord& r) {
    return r.messageFields && r.messageFields->subject ? r.messageFields->subject->text : std::string();
}

// The pypff view of a store: {"folder path": [{"subject", "class",
// "attachments": [[name, size, sha1]]}, ...]} with paths below the top
// joined by "\".
inline constexpr const char* kPypffDump = R"PY(
import hashlib, json, sys
import pypff

def text(item, prop):
    for rs in item.record_sets:
        for e in rs.entries:
            if e.entry_type == prop and e.data is not None:
                if e.value_type == 0x1f:
                    return e.data.decode('utf-16-le', 'replace').rstrip('\x00')
                return e.data.decode('utf-8', 'replace').rstrip('\x00')
    return None

def attachments(m):
    out = []
    for i in range(m.number_of_attachments):
        a = m.get_attachment(i)
        name = text(a, 0x3707) or text(a, 0x3704) or text(a, 0x3001)
        data = a.read_buffer(a.size) if a.size else b''
        out.append([name, len(data), hashlib.sha1(data).hexdigest()])
    return out

f = pypff.file()
f.open(sys.argv[1])
out = {}
def walk(folder, path):
    for sub in folder.sub_folders:
        p = sub.name if path is None else (path + '\\' + sub.name if path else sub.name)
        items = []
        for m in sub.sub_messages:
            items.append({'subject': text(m, 0x37) or '', 'class': text(m, 0x1a) or '',
                          'attachments': attachments(m)})
        out[p] = items
        walk(sub, p)
top = f.get_root_folder()
for sub in top.sub_folders:
    if sub.name == sys.argv[2]:
        out[''] = [{'subject': text(m, 0x37) or '', 'class': text(m, 0x1a) or '', 'attachments': attachments(m)}
                   for m in sub.sub_messages]
        walk(sub, '')
print(json.dumps(out))
)PY";

inline bool HavePypff() { return std::system("/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") == 0; }

// The pypff view of the folders below the top folder named `top`; when
// the script fails, a string with its output.
inline nlohmann::json PypffDump(const std::filesystem::path& store, const std::string& top = "Top of Personal Folders") {
    const std::filesystem::path script = ScratchDir("pypff-dump") / "dump.py";
    std::ofstream(script) << kPypffDump;
    const std::string command =
        "/usr/bin/python3 '" + script.string() + "' '" + store.string() + "' '" + top + "' 2>&1";
    const CommandRun run = RunCommand(command);
    if (!run.started) return nullptr;
    if (run.status != 0) return run.output;
    nlohmann::json parsed = nlohmann::json::parse(run.output, nullptr, false);
    return parsed.is_discarded() ? nlohmann::json(run.output) : parsed;
}

}  // namespace bmtest
