// What the item list shows for a folder: the list kind chosen by the
// selected path, the columns of each kind, and the rows built from the
// analysis results. Pure data, so the list worker can build it off the
// user-interface thread.
#pragma once

#include <QLocale>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/analysis_results.h"
#include "engine/item_preview.h"

namespace bmui {

// The kind of list goes by the selected folder's full path (see
// engine/item_preview.h), as the preview's does.
using bm::ListKind;
using bm::ListKindOf;

struct ListColumn {
    std::string_view title;
    int width;
};
std::span<const ListColumn> ColumnsOf(ListKind kind);

// Rows a mail fill adds at most (the counter runs 0..50 inclusive).
inline constexpr int kMailRowLimit = 51;
// Longer journal subjects and note texts are shown cut...
inline constexpr int kLongTextLimit = 254;
// ...to this many characters and "...".
inline constexpr int kLongTextKept = 200;

struct ItemRow {
    int icon = 0;
    QStringList cells;
    // Where the row's item sits in the results (the folder's messages, or
    // the list of contacts, tasks, notes, journal items or appointments):
    // the list may be sorted, the preview still finds its item.
    int source = -1;
    // The column showing a time, and that time as a FILETIME (sorting by
    // that column goes by time, not by text); -1 and 0 when none.
    int timeColumn = -1;
    std::int64_t timeKey = 0;
    // What is damaged in the item, one line per part, when the analysis
    // read it from damaged blocks; empty for a sound item.
    std::vector<std::string> damage{};
};

struct ItemRows {
    ListKind kind = ListKind::Mail;
    std::string path;            // the selected path the rows were built for
    std::vector<ItemRow> rows;   // in list order
    bool cancelled = false;
};

// Control characters (tab, line breaks, 3, 15-17, 23-27) become blanks;
// every other character, letters such as å or Í included, is kept.
std::string CleanCell(std::string_view text);
// Tab, line feed and carriage return become blanks.
std::string CleanNewlines(std::string_view text);
// A subject or text longer than 254 characters: its first 200 and "...".
QString CutLongText(const QString& text);
// An item time (UTC) in the user's time zone and locale, as the list
// (short form) and the cards (long form) show it; empty when the value is
// not a FILETIME.
QString LocaleTime(std::int64_t fileTime, QLocale::FormatType format = QLocale::LongFormat);
QString ListTimeText(const bm::Bytes& fileTime);
// The FILETIME of an 8-byte value, 0 when it is none (a sort key).
inline std::int64_t TimeKey(const bm::Bytes& fileTime) { return bm::FileTimeKey(fileTime); }

// Builds the rows of `path`; stops early (cancelled set) when `cancel`
// turns true between rows.
ItemRows BuildItemRows(const bm::AnalysisData& data, const std::string& path, const std::atomic<bool>& cancel);

}  // namespace bmui

Q_DECLARE_METATYPE(bmui::ItemRows)
