// The layouts behind CreateMailLayout, one file each.
#pragma once

#include <filesystem>
#include <memory>

#include "output/mime/mail_layout.h"

namespace bm::mime {

// Thunderbird's local folders: a folder is an mbox file (mboxrd quoting),
// its subfolders are in "<name>.sbd/". A parent that gets no messages of
// its own still gets an empty mbox file, so mail programs show the tree.
// The separator line carries the sender's address and the delivery time;
// Status/X-Status (mutt and others) and X-Mozilla-Status/-Status2
// (Thunderbird) carry the read, replied, flagged and draft state.
std::unique_ptr<MailLayout> CreateMboxLayout(const std::filesystem::path& root);

// Maildir++: `root` is a maildir of its own (left empty) and a folder is
// the maildir "." + its names joined by "." (a "." in a name becomes "_").
// A message is written in tmp/ and renamed into cur/ under a unique name
// (time, microseconds, process, counter, host) with its flags in the
// ":2," info part: D draft, F flagged, P forwarded, R replied, S seen.
std::unique_ptr<MailLayout> CreateMaildirLayout(const std::filesystem::path& root);

// One directory per folder, one "<subject>.eml" per message.
std::unique_ptr<MailLayout> CreateEmlLayout(const std::filesystem::path& root);

}  // namespace bm::mime
