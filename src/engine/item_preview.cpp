#include "engine/item_preview.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "common/byte_reader.h"
#include "messaging/item_record.h"
#include "output/save_to_pst.h"

namespace bm {

namespace {

constexpr std::string_view kPageHead = "<html><head><meta charset=\"utf-8\"></head><body>";
constexpr std::string_view kPageEnd = "</body></html>";

bool Blank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

std::string Preformatted(std::string_view text) {
    return "<pre style=\"white-space:pre-wrap\">" + EscapeHtml(text) + "</pre>";
}

// A card: a title and the fields that have a value.
class Card {
public:
    Card(std::string_view title, const CardTimeText& timeText) : timeText_(timeText) {
        html_ = std::string(kPageHead) + "<h3>" + EscapeHtml(title) + "</h3><table cellspacing=\"2\" cellpadding=\"2\">";
    }
    void Field(std::string_view label, std::string_view value) {
        if (Blank(value)) return;
        html_ += "<tr><td valign=\"top\"><b>" + EscapeHtml(label) + "</b></td><td style=\"white-space:pre-wrap\">" +
                 EscapeHtml(value) + "</td></tr>";
    }
    void Time(std::string_view label, const Bytes& fileTime) {
        const std::int64_t value = FileTimeKey(fileTime);
        if (value != 0 && timeText_) Field(label, timeText_(value));
    }
    void Text(std::string_view body) {
        EndTable();
        if (!body.empty()) html_ += Preformatted(body);
    }
    std::string Page() {
        EndTable();
        // Appended rather than concatenated: the optimiser of a Release
        // build warns of overlapping copies in `a + b` here.
        html_.append(kPageEnd);
        return std::move(html_);
    }

private:
    void EndTable() {
        if (tableOpen_) html_ += "</table>";
        tableOpen_ = false;
    }
    const CardTimeText& timeText_;
    std::string html_;
    bool tableOpen_ = true;
};

std::string Joined(std::initializer_list<const std::string*> parts, std::string_view separator = " ") {
    std::string out;
    for (const std::string* part : parts) {
        if (part->empty()) continue;
        if (!out.empty()) out += separator;
        out += *part;
    }
    return out;
}

const std::string& EitherOf(const std::string& whole, const std::string& joined) {
    return !whole.empty() ? whole : joined;
}

std::string ContactCard(const ContactFields& c, const CardTimeText& timeText) {
    const std::string name = Joined({&c.displayNamePrefix, &c.givenName, &c.middleName, &c.surname, &c.generation});
    Card card(!c.fileAs.empty() ? c.fileAs : name, timeText);
    card.Field("Full name", name);
    card.Field("Nickname", c.nickname);
    card.Field("Company", c.companyName);
    card.Field("Department", c.department);
    card.Field("Job title", c.title);
    card.Field("Profession", c.profession);
    card.Field("Office", c.officeLocation);
    card.Field("E-mail", c.email);
    const std::pair<const char*, const std::string*> phones[] = {
        {"Business phone", &c.businessPhone}, {"Business phone 2", &c.business2Phone},
        {"Company phone", &c.companyMainPhone}, {"Home phone", &c.homePhone}, {"Home phone 2", &c.home2Phone},
        {"Mobile phone", &c.mobilePhone}, {"Car phone", &c.carPhone}, {"Pager", &c.pager},
        {"Other phone", &c.otherPhone}, {"Callback", &c.callbackPhone}, {"Assistant's phone", &c.assistantPhone},
        {"Radio phone", &c.radioPhone}, {"ISDN", &c.isdnNumber}, {"TTY/TDD phone", &c.ttyTddPhone},
        {"Telex", &c.telexNumber}, {"Business fax", &c.businessFax}, {"Home fax", &c.homeFax}};
    for (const auto& [label, value] : phones) card.Field(label, *value);
    card.Field("Postal address", c.postalAddress);
    card.Field("Business address",
               EitherOf(c.workAddress,
                        Joined({&c.streetAddress, &c.postalCode, &c.locality, &c.stateOrProvince, &c.country}, ", ")));
    card.Field("Home address",
               Joined({&c.homeStreet, &c.homePostalCode, &c.homeCity, &c.homeState, &c.homeCountry}, ", "));
    card.Field("Other address",
               EitherOf(c.otherAddress,
                        Joined({&c.otherStreet, &c.otherPostalCode, &c.otherCity, &c.otherState, &c.otherCountry}, ", ")));
    card.Field("Web page", c.businessHomePage);
    card.Field("Personal web page", c.personalHomePage);
    card.Time("Birthday", c.birthday);
    card.Time("Anniversary", c.weddingAnniversary);
    card.Field("Spouse", c.spouseName);
    card.Field("Manager", c.managerName);
    card.Field("Assistant", c.assistant);
    card.Field("Hobbies", c.hobbies);
    return card.Page();
}

std::string_view SubjectText(const MessageFields* message) {
    return message != nullptr && message->subject ? std::string_view(message->subject->text) : std::string_view();
}

const std::string& BodyOf(const MessageFields& message) {
    return !message.bodyText.empty() ? message.bodyText : message.body;
}

std::string AppointmentCard(const CalendarEntry& entry, const CardTimeText& timeText) {
    const MessageFields* m = entry.message.get();
    Card card(SubjectText(m), timeText);
    card.Time("Start", entry.start);
    card.Time("End", entry.end);
    card.Field("Location", entry.location);
    if (m == nullptr) return card.Page();
    card.Time("Date", m->deliveryTime);
    card.Field("Organizer", m->sentRepresentingName);
    card.Field("Attendees", m->displayTo);
    card.Field("Optional attendees", m->displayCc);
    card.Text(BodyOf(*m));
    return card.Page();
}

std::string_view TaskStatusText(const TaskFields& state) {
    // A task that never had its state set is not started yet.
    if (!state.status) return state.complete.value_or(false) ? "Completed" : "Not started";
    switch (*state.status) {
    case 0: return "Not started";
    case 1: return "In progress";
    case 2: return "Completed";
    case 3: return "Waiting on someone else";
    case 4: return "Deferred";
    default: return {};
    }
}

std::string TaskCard(const MessageFields& task, const TaskFields* state, const CardTimeText& timeText) {
    Card card(SubjectText(&task), timeText);
    const bool ownDue = state != nullptr && !state->dueDate.empty();
    card.Time("Due date", ownDue ? state->dueDate : task.deliveryTime);
    if (state != nullptr) {
        card.Time("Start date", state->startDate);
        card.Field("Status", TaskStatusText(*state));
        const double done = state->percentComplete.value_or(state->complete.value_or(false) ? 1.0 : 0.0);
        char percent[16];
        std::snprintf(percent, sizeof percent, "%.0f%%", std::clamp(done, 0.0, 1.0) * 100.0);
        card.Field("% Complete", percent);
        card.Time("Completed on", state->dateCompleted);
    }
    card.Field("Owner", task.sentRepresentingName);
    card.Field("Assigned to", task.displayTo);
    card.Text(BodyOf(task));
    return card.Page();
}

std::string NoteCard(const NoteEntry& note, const CardTimeText& timeText) {
    Card card(note.subject, timeText);
    card.Time("Date", note.date);
    card.Text(note.bodyText);
    return card.Page();
}

std::string JournalCard(const JournalEntry& entry, const CardTimeText& timeText) {
    Card card(entry.subject, timeText);
    card.Field("Entry type", entry.entryType);
    card.Time("Date", entry.date);
    return card.Page();
}

template <class List>
auto At(const List& list, int source) -> decltype(&list[0]) {
    if (source < 0 || static_cast<std::size_t>(source) >= list.size()) return nullptr;
    return &list[static_cast<std::size_t>(source)];
}

std::string CardOf(const AnalysisData& data, ListKind kind, int source, const CardTimeText& timeText) {
    switch (kind) {
    case ListKind::Contacts:
        if (const auto* c = At(data.contacts, source)) return ContactCard(*c, timeText);
        break;
    case ListKind::Calendar:
        if (const auto* e = At(data.calendar, source)) return AppointmentCard(*e, timeText);
        break;
    case ListKind::Tasks:
        if (const auto* t = At(data.tasks, source)) return TaskCard(*t, At(data.taskStates, source), timeText);
        break;
    case ListKind::Notes:
        if (const auto* n = At(data.notes, source)) return NoteCard(*n, timeText);
        break;
    case ListKind::Journal:
        if (const auto* j = At(data.journal, source)) return JournalCard(*j, timeText);
        break;
    case ListKind::Mail:
        break;
    }
    return {};
}

// The body the writer saves for `message`, as a page.
std::string MailPage(const MessageFields& message) {
    ItemRecord record;
    record.messageFields = std::make_unique<MessageFields>();
    MessageFields& body = *record.messageFields;
    body.htmlBody = message.htmlBody;
    body.bodyText = message.bodyText;
    body.body = message.body;
    body.rtfFlag = message.rtfFlag;
    body.namedText1 = message.namedText1;
    body.namedText2 = message.namedText2;
    const MailBody chosen = ChooseMailBody(record);
    if (!chosen.text || chosen.text->empty()) return {};
    if (chosen.htmlFlag == 1) return *chosen.text + " ";
    return std::string(kPageHead) + Preformatted(*chosen.text) + std::string(kPageEnd);
}

ItemPreview MailPreview(const AnalysisData& data, std::string_view folderPath, int source) {
    ItemPreview out;
    out.mail = true;
    for (const FolderRecord& folder : data.folders) {
        if (folder.path != folderPath) continue;
        const MessageFields* message = At(folder.messages, source);
        if (message == nullptr) return out;
        if (const std::uint32_t* nid = At(folder.messageNids, source)) out.nid = *nid;
        out.page = MailPage(*message);
        return out;
    }
    return out;
}

}  // namespace

ListKind ListKindOf(std::string_view path) {
    if (path == "Personal Folders\\Contacts\\") return ListKind::Contacts;
    if (path == "Personal Folders\\Tasks\\") return ListKind::Tasks;
    if (path == "Personal Folders\\Journal\\") return ListKind::Journal;
    if (path == "Personal Folders\\Notes\\") return ListKind::Notes;
    if (path == "Personal Folders\\Calendar\\") return ListKind::Calendar;
    return ListKind::Mail;
}

std::int64_t FileTimeKey(std::span<const std::uint8_t> raw) {
    if (raw.size() != 8) return 0;
    ByteReader reader(raw.data(), raw.size());
    const std::uint64_t value = reader.readU64();
    return reader.failed() ? 0 : static_cast<std::int64_t>(value);
}

ItemPreview PreviewItem(const AnalysisData& data, std::string_view folderPath, int source,
                        const CardTimeText& timeText) {
    const ListKind kind = ListKindOf(folderPath);
    if (kind == ListKind::Mail) return MailPreview(data, folderPath, source);
    ItemPreview out;
    out.page = CardOf(data, kind, source, timeText);
    return out;
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace bm
