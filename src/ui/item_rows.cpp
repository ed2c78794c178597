#include "ui/item_rows.h"

#include <QDateTime>
#include <QTimeZone>

#include <array>

#include "ui/icons.h"

namespace bmui {

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString SubjectOf(const bm::MessageFields& message) {
    return message.subject ? Q(message.subject->text) : QString();
}

template <class Fn>
void Replace(std::string& text, Fn&& isReplaced) {
    for (char& c : text)
        if (isReplaced(static_cast<unsigned char>(c))) c = ' ';
}

constexpr std::array kMailColumns{ListColumn{"From", 150}, ListColumn{"E-mail Subject", 150},
                                  ListColumn{"Received", 150}, ListColumn{"Date", 150}};
constexpr std::array kContactColumns{ListColumn{"Contact Name", 150}, ListColumn{"E-mail Address", 150},
                                     ListColumn{"Mobile Phone", 150}, ListColumn{"Postal Address", 150}};
constexpr std::array kTaskColumns{ListColumn{"Task Subject", 260}, ListColumn{"Due Date", 260}};
constexpr std::array kJournalColumns{ListColumn{"Journal Subject", 260}, ListColumn{"Entry Type", 260}};
constexpr std::array kNoteColumns{ListColumn{"Notes Subject", 150}, ListColumn{"Text", 150},
                                  ListColumn{"Date", 150}};
constexpr std::array kCalendarColumns{ListColumn{"Calendar Subject", 150}, ListColumn{"Location", 150},
                                      ListColumn{"Date", 150}};

// What the analysis found damaged in the item at `index` of a list whose
// nodes are `nids`; empty for a sound one.
std::vector<std::string> DamageOf(const bm::AnalysisData& data, const std::vector<std::uint32_t>& nids,
                                  std::size_t index) {
    if (index >= nids.size()) return {};
    const auto damaged = data.damagedItems.find(nids[index]);
    return damaged != data.damagedItems.end() ? damaged->second : std::vector<std::string>();
}

// Each row of `out` says what is damaged in its item.
void MarkDamage(const bm::AnalysisData& data, const std::vector<std::uint32_t>& nids, ItemRows& out) {
    for (ItemRow& row : out.rows) row.damage = DamageOf(data, nids, static_cast<std::size_t>(row.source));
}

void MailRows(const bm::AnalysisData& data, ItemRows& out, const std::atomic<bool>& cancel) {
    const bm::FolderRecord* folder = nullptr;
    for (const bm::FolderRecord& record : data.folders)
        if (record.path == out.path) {
            folder = &record;
            break;
        }
    if (folder == nullptr) return;
    int shown = 0;
    int source = 0;
    for (const bm::MessageFields& message : folder->messages) {
        if (cancel.load()) {
            out.cancelled = true;
            return;
        }
        if (shown >= kMailRowLimit) break;
        ++shown;
        const std::string from = CleanCell(message.sentRepresentingName);
        const std::string subject = message.subject ? CleanCell(message.subject->text) : std::string();
        const std::string to = CleanCell(message.displayTo);
        ItemRow row{kListMail,
                    {Q(from), subject.empty() ? QStringLiteral("Unspecified") : Q(subject), Q(to),
                     ListTimeText(message.deliveryTime)},
                    source, 3, TimeKey(message.deliveryTime)};
        row.damage = DamageOf(data, folder->messageNids, static_cast<std::size_t>(source));
        ++source;
        out.rows.push_back(std::move(row));
    }
}

}  // namespace

std::span<const ListColumn> ColumnsOf(ListKind kind) {
    switch (kind) {
    case ListKind::Mail:
        return kMailColumns;
    case ListKind::Contacts:
        return kContactColumns;
    case ListKind::Tasks:
        return kTaskColumns;
    case ListKind::Journal:
        return kJournalColumns;
    case ListKind::Notes:
        return kNoteColumns;
    case ListKind::Calendar:
        return kCalendarColumns;
    }
    return kMailColumns;
}

std::string CleanCell(std::string_view text) {
    std::string out(text);
    Replace(out, [](unsigned char c) {
        return c == 9 || c == 10 || c == 13 || c == 3 || (c >= 15 && c <= 17) || (c >= 23 && c <= 27);
    });
    return out;
}

std::string CleanNewlines(std::string_view text) {
    std::string out(text);
    Replace(out, [](unsigned char c) { return c == 9 || c == 10 || c == 13; });
    return out;
}

QString CutLongText(const QString& text) {
    if (text.size() <= kLongTextLimit) return text;
    return text.left(kLongTextKept) + QStringLiteral("...");
}

QString LocaleTime(std::int64_t value, QLocale::FormatType format) {
    if (value == 0) return {};
    // FILETIME counts 100 ns from 1601-01-01 UTC.
    constexpr std::int64_t kUnixEpoch = 116444736000000000LL;
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch((value - kUnixEpoch) / 10000, QTimeZone::utc());
    if (!utc.isValid()) return {};
    return QLocale().toString(utc.toLocalTime(), format);
}

// The list shows times as the cards do, in the user's locale.
QString ListTimeText(const bm::Bytes& fileTime) { return LocaleTime(TimeKey(fileTime), QLocale::ShortFormat); }

ItemRows BuildItemRows(const bm::AnalysisData& data, const std::string& path, const std::atomic<bool>& cancel) {
    ItemRows out;
    out.path = path;
    out.kind = ListKindOf(path);
    auto stop = [&] { return out.cancelled = cancel.load(); };
    switch (out.kind) {
    case ListKind::Mail:
        MailRows(data, out, cancel);
        break;
    case ListKind::Contacts:
        for (std::size_t i = 0; i < data.contacts.size(); ++i) {
            if (stop()) break;
            const bm::ContactFields& c = data.contacts[i];
            out.rows.push_back({kListContact,
                                {Q(CleanNewlines(c.fileAs.empty() ? c.givenName : c.fileAs)), Q(c.email),
                                 Q(c.mobilePhone), Q(CleanNewlines(c.postalAddress))},
                                static_cast<int>(i)});
        }
        MarkDamage(data, data.contactNids, out);
        break;
    case ListKind::Tasks:
        for (std::size_t i = 0; i < data.tasks.size(); ++i) {
            if (stop()) break;
            // The task's own due date, not the time the item was delivered.
            static const bm::Bytes kNoDate;
            const bm::Bytes& due = i < data.taskStates.size() ? data.taskStates[i].dueDate : kNoDate;
            out.rows.insert(out.rows.begin(), {kListTask, {SubjectOf(data.tasks[i]), ListTimeText(due)},
                                               static_cast<int>(i), 1, TimeKey(due)});
        }
        MarkDamage(data, data.taskNids, out);
        break;
    case ListKind::Journal:
        for (std::size_t i = 0; i < data.journal.size(); ++i) {
            if (stop()) break;
            const bm::JournalEntry& entry = data.journal[i];
            out.rows.push_back({kListJournal, {CutLongText(Q(entry.subject)), Q(entry.entryType)}, static_cast<int>(i)});
        }
        MarkDamage(data, data.journalNids, out);
        break;
    case ListKind::Notes:
        for (std::size_t i = 0; i < data.notes.size(); ++i) {
            if (stop()) break;
            const bm::NoteEntry& note = data.notes[i];
            out.rows.insert(out.rows.begin(),
                            {kListNote,
                             {Q(CleanNewlines(note.subject)),
                              CutLongText(Q(note.bodyText)).replace(QLatin1Char('\n'), QLatin1Char(' '))
                                  .replace(QLatin1Char('\r'), QLatin1Char(' '))
                                  .replace(QLatin1Char('\t'), QLatin1Char(' ')),
                              ListTimeText(note.date)},
                             static_cast<int>(i), 2, TimeKey(note.date)});
        }
        MarkDamage(data, data.noteNids, out);
        break;
    case ListKind::Calendar:
        for (std::size_t i = 0; i < data.calendar.size(); ++i) {
            if (stop()) break;
            const bm::CalendarEntry& entry = data.calendar[i];
            // The meeting's start; an item without one shows when it came.
            static const bm::Bytes kNoDate;
            const bm::Bytes& when = TimeKey(entry.start) != 0 ? entry.start
                                    : entry.message        ? entry.message->deliveryTime
                                                           : kNoDate;
            out.rows.push_back({kListAppointment,
                                {entry.message ? SubjectOf(*entry.message) : QString(), Q(entry.location),
                                 ListTimeText(when)},
                                static_cast<int>(i), 2, TimeKey(when)});
        }
        MarkDamage(data, data.calendarNids, out);
        break;
    }
    return out;
}

}  // namespace bmui
