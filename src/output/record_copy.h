// An item written from its record: for the few items whose node cannot be
// read whole as a property context (see source_copy.h), what the item
// mapping read is put back property by property. The message keeps what
// the record holds and nothing is made up beyond the default class of its
// kind: class, subject, bodies, sender, recipient rows and display lists,
// times, read and unsent state, Internet identity, a meeting's times,
// place and recurrence, a task's state, a journal entry's type, a
// contact's fields, and every attachment with its data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "messaging/item_record.h"
#include "output/pst/message.h"
#include "store/store_file.h"

namespace bm {

struct MailBody {
    std::optional<std::string> text;
    std::int16_t htmlFlag = 0;  // 1: text is HTML
};
// The HTML body when there is one, else the plain text of an RTF body,
// else the plain text (see PlainBodyText). Bodies of any length are kept.
MailBody ChooseMailBody(const ItemRecord& item);
// The longer of the RTF body's text and PR_BODY (the later on a tie), or
// the longer of the two named texts when neither is present.
std::string PlainBodyText(const MessageFields& fields);

// The item as a message. Attachment data the record does not hold is read
// from `store` (the node's data subnode) into the message.
pst::Message MessageFromRecord(const ItemRecord& item, StoreFile& store);

// The item as every output writes it: copied whole from its node where
// that can be read (the ids of named values without a name go to
// `unnamed`), else from its record, whose left-out parts (bodies,
// recipient rows) are read first.
pst::Message ItemAsMessage(ItemRecord& item, StoreFile& store, std::vector<std::uint16_t>* unnamed);

}  // namespace bm
