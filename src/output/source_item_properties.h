// What the mail bridge keeps of the item read from the offline store
// beyond its text arguments: the recipient rows, the read and unsent state,
// importance and Internet identity, a meeting's recurrence and a task's
// state. Each setter writes only what the source has.
#pragma once

#include <string_view>
#include <vector>

#include "messaging/item_record.h"
#include "output/pst/message.h"
#include "output/pst/props.h"

namespace bm {

// Sets a text property unless the text is empty.
void SetTextIfAny(pst::PropertyBag& bag, pst::PropTag tag, std::string_view text);

// The recipient rows (To, Cc, Bcc with their addresses), and the display
// lists (names joined by "; ") a mail client shows for each type.
void SetRecipientRows(pst::Message& m, const std::vector<RecipientRecord>& rows);

// Read and unsent state (the writer adds the attachment flag itself),
// importance, conversation topic, Internet headers, message ID and the IDs
// the item answers.
void SetSourceState(pst::Message& m, const ItemRecord& source);

// An all-day mark, and a recurring series as the source stores it.
void SetRecurrence(pst::Message& m, const AppointmentFields& a);

// A task's status, progress and dates.
void SetTaskState(pst::Message& m, const TaskFields& t);

}  // namespace bm
