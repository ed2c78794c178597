// The file layouts of the export: MBOX (Thunderbird's local folders),
// Maildir (Maildir++ subfolders) and one .eml file per message. The export
// drives any of them the same way:
//
//   auto layout = CreateMailLayout(MailFormat::Mbox, outputDir);
//   layout->OpenFolder({"Inbox", "Projects"});
//   layout->AddMessage({.bytes = mime, .flags = flags, .deliveryTime = t});
//   layout->CloseFolder();
//
// Folder paths name the folders below the store's top folder. Each name is
// made safe for a file name (see mail_names.h) and unique among its
// siblings, so whatever the store holds, nothing is written outside the
// output folder. Every file is written under a temporary name in its own
// directory, flushed to disk and renamed when complete (Maildir and .eml
// files in batches, see PartFileBatch): a stop or a crash leaves whole files
// and, at worst, a temporary one whose name starts with ".part-".
//
// Write failures throw std::system_error naming the file; what was already
// renamed into place stays.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/mime/message_fields.h"
#include "output/pst/message.h"

namespace bm::mime {

enum class MailFormat { Mbox, Maildir, Eml };

struct MailEntry {
    std::string_view bytes;  // the RFC 5322 message, lines ending in LF
    MailFlags flags;
    std::int64_t deliveryTime = 0;  // Unix seconds
    std::string envelopeSender;     // the sender's address for the MBOX separator line; may be empty
    std::string subject;            // UTF-8, for the .eml file name
};

// The entry of a converted message: its state, when it arrived, the
// sender's SMTP address (the sender's, else the one it was sent for) and
// its subject, from the source message's properties.
MailEntry MailEntryOf(const pst::Message& message, std::string_view bytes);

class MailLayout {
public:
    virtual ~MailLayout() = default;
    // Starts writing the folder at `path` (at least one name); a folder
    // opened before is closed first. Parents need not have been opened.
    virtual void OpenFolder(const std::vector<std::string>& path) = 0;
    virtual void AddMessage(const MailEntry& entry) = 0;
    // Puts what the open folder got in place; nothing when none is open.
    virtual void CloseFolder() = 0;
};

// The layout writing below `root`, which must exist.
std::unique_ptr<MailLayout> CreateMailLayout(MailFormat format, const std::filesystem::path& root);

}  // namespace bm::mime
