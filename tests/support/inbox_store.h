// A store of one Inbox with many mails, written with the project's writer:
// big enough that a run over it can be stopped part-way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "output/pst/store_writer.h"

namespace bmtest {

// An Inbox of `mails` mails, each with an attachment of `attachmentBytes`.
inline std::filesystem::path WriteInbox(const std::filesystem::path& path, int mails, std::size_t attachmentBytes) {
    auto store = bm::pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    for (int i = 0; i < mails; ++i) {
        bm::pst::Message m = MessageOf("IPM.Note", "mail " + std::to_string(i));
        if (attachmentBytes > 0) {
            std::vector<std::uint8_t> data(attachmentBytes);
            for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k * 13 + i);
            m.attachments.push_back(bm::pst::Attachment::FromBytes("part.bin", data));
        }
        store->AddMessage(inbox, m);
    }
    store->Finish();
    return path;
}

}  // namespace bmtest
