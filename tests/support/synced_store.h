// A store written in the test as years of syncing leave one: copies of
// the same mail in the Inbox (with and without a Message-ID, and near
// copies whose body, attachment or class differ), contacts with no
// delivery time, and the same mail in the Archive.
#pragma once

#include <filesystem>
#include <utility>
#include <vector>

#include "engine/engine_test_helpers.h"
#include "engine/item_filter.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace bmtest {

inline bm::FileTime Time(const char* date) {
    return static_cast<bm::FileTime>(bm::ParseFilterDate(date, false).value());
}

struct Mail {
    const char* subject;
    const char* cls = "IPM.Note";
    const char* messageId = nullptr;
    const char* delivered = nullptr;
    const char* created = nullptr;
    const char* sender = "";
    const char* body = "";
    const char* attachment = nullptr;  // its bytes, as text
};

inline bm::pst::Message MessageOfMail(const Mail& m) {
    bm::pst::Message message = MessageOf(m.cls, m.subject);
    if (m.messageId) message.properties.SetString(bm::pst::tags::kInternetMessageId, m.messageId);
    if (m.delivered) message.properties.SetSysTime(bm::pst::tags::kMessageDeliveryTime, Time(m.delivered));
    if (m.created) message.properties.SetSysTime(bm::pst::tags::kCreationTime, Time(m.created));
    message.properties.SetString(bm::pst::tags::kSentRepresentingEmailAddress, m.sender);
    if (*m.body) message.properties.SetString(bm::pst::tags::kBody, m.body);
    if (m.attachment) {
        const std::string data(m.attachment);
        message.attachments.push_back(bm::pst::Attachment::FromBytes("a.txt", {data.begin(), data.end()}));
    }
    return message;
}

// Inbox and Archive; years of syncing left copies in both.
inline std::filesystem::path WriteSyncedStore(const std::filesystem::path& path) {
    auto store = bm::pst::PstStore::Create(path, {});
    const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
    const auto archive = store->CreateFolder(store->ipmSubtree(), "Archive");
    const Mail a{"a", "IPM.Note", "<a@x>", "2019-06-01", nullptr, "alice@example.com", "one", "att"};
    const std::vector<std::pair<bm::pst::FolderId, Mail>> mails = {
        {inbox, a},
        {inbox, a},                                                                        // a copy
        {inbox, {"a", "IPM.Note", "<a@x>", "2019-06-01", nullptr, "alice@example.com", "two", "att"}},  // other body
        {inbox, {"a", "IPM.Note", "<a@x>", "2019-06-01", nullptr, "alice@example.com", "one", "ATT"}},  // other attachment
        {inbox, {"a", "IPM.Appointment", "<a@x>", "2019-06-01", nullptr, "alice@example.com", "one", "att"}},
        {inbox, {"b", "IPM.Note", nullptr, "2020-03-01", nullptr, "bob@other.org", "hi"}},
        {inbox, {"b", "IPM.Note", nullptr, "2020-03-01", nullptr, "bob@other.org", "hi"}},  // a copy without an id
        {inbox, {"c", "IPM.Contact", nullptr, nullptr, "2018-05-05", "", ""}},
        {inbox, {"c", "IPM.Contact", nullptr, nullptr, "2018-05-05", "", ""}},  // no id, no delivery: kept
        {archive, a},  // another folder: kept
    };
    for (const auto& [folder, mail] : mails) store->AddMessage(folder, MessageOfMail(mail));
    store->Finish();
    return path;
}

}  // namespace bmtest
