// The attachments of a previewed mail, as the page shows them: listed by
// name and size, and saved, one at a time, into a folder the user picked,
// under a name that keeps it there. The store side (the store opened on
// demand and kept until Release) is the engine's AttachmentAccess.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/attachment_access.h"

namespace bmui {

struct AttachmentEntry {
    QString name;       // as the mail names it (shown as text)
    std::int64_t size;  // bytes, as the attachment table gives them
};

struct AttachmentSaved {
    bool ok = false;
    std::filesystem::path path;  // where it went, when ok
    QString error;               // why not, otherwise
};

// A file name for an attachment that stays inside the folder it is saved
// into: no directory separators, control characters, leading or trailing
// dots and blanks; never empty, ".", ".."; at most 255 bytes, the extension
// kept.
QString SafeAttachmentName(const QString& name);

// Creates `name` (already safe) inside `folder`, or "stem (2).ext" and so on
// when taken; never follows a link planted under that name and never
// replaces an existing file. `write` gets the open descriptor; false from it
// removes the partial file.
AttachmentSaved CreateInFolder(const std::filesystem::path& folder, const QString& name,
                               const std::function<bool(int fd)>& write);

class AttachmentShelf {
public:
    AttachmentShelf(std::filesystem::path storePath, bool deepScan, bool recoverDeleted = false);
    AttachmentShelf(const AttachmentShelf&) = delete;
    AttachmentShelf& operator=(const AttachmentShelf&) = delete;

    // The attachments of the message node `nid`; nullopt when the store or
    // the node cannot be read.
    std::optional<std::vector<AttachmentEntry>> List(std::uint32_t nid);
    // Saves attachment `index` (as List numbers them) of `nid` into `folder`.
    AttachmentSaved Save(std::uint32_t nid, std::size_t index, const std::filesystem::path& folder);
    // Closes the store (opened again when next asked).
    void Release() { access_.Release(); }

private:
    bm::AttachmentAccess access_;
};

}  // namespace bmui
