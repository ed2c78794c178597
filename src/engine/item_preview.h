// What the preview shows for an item of the list: a mail's page, or the
// card of a contact, an appointment, a task, a note or a journal item (a
// title and the fields that have a value). Both are HTML pages in which
// everything an item says of itself is escaped (never read as markup),
// except a mail's own HTML body, which the preview pane loads without
// scripts, images or anything else it names.
//
// A mail's page holds the body the writer saves (ChooseMailBody): the HTML
// body as it is, else the plain text, shown as text. Which of the two a
// listed item gets goes by the listed folder's full path alone (ListKindOf):
// a folder called "Calendar" below another folder is a mail folder like
// any other.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "engine/analysis_results.h"

namespace bm {

enum class ListKind { Mail, Contacts, Tasks, Journal, Notes, Calendar };

// The kind of list for a folder's full path: the special folders at the
// top of the store list their own kind; every other folder, their
// subfolders and folders of the same name further down included, lists
// mail.
ListKind ListKindOf(std::string_view folderPath);

// The FILETIME of an 8-byte value; 0 when it is none.
std::int64_t FileTimeKey(std::span<const std::uint8_t> raw);

// A FILETIME (never 0) as the card shows it; the wizard writes it in the
// user's time zone and locale. An empty text leaves the field out.
using CardTimeText = std::function<std::string(std::int64_t fileTime)>;

struct ItemPreview {
    // A mail: its sender, recipients and subject show above the page.
    bool mail = false;
    // The page; empty when the item has nothing of its own to show (the
    // fixed preview page shows instead of a card, the last page stays
    // above a mail without a body).
    std::string page;
    // A mail's node, whose attachments are read from the store; 0 when none.
    std::uint32_t nid = 0;
};

// The preview of item `source` (where the list's row names it) of the list
// of `folderPath`.
ItemPreview PreviewItem(const AnalysisData& data, std::string_view folderPath, int source,
                        const CardTimeText& timeText);

// A text as HTML shows it literally.
std::string EscapeHtml(std::string_view text);

}  // namespace bm
