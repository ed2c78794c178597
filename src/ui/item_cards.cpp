#include "ui/item_cards.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

namespace bmui {

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// A card: a title and the fields that have a value, every text escaped
// (what an item says of itself is never read as markup).
class Card {
public:
    explicit Card(const QString& title) {
        html_ = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><h3>") + title.toHtmlEscaped() +
                QStringLiteral("</h3><table cellspacing=\"2\" cellpadding=\"2\">");
    }
    void Field(const char* label, const QString& value) {
        if (value.trimmed().isEmpty()) return;
        html_ += QStringLiteral("<tr><td valign=\"top\"><b>") + QString::fromLatin1(label).toHtmlEscaped() +
                 QStringLiteral("</b></td><td style=\"white-space:pre-wrap\">") + value.toHtmlEscaped() +
                 QStringLiteral("</td></tr>");
    }
    void Field(const char* label, const std::string& value) { Field(label, Q(value)); }
    void Text(const std::string& body) {
        end();
        if (!body.empty())
            html_ += QStringLiteral("<pre style=\"white-space:pre-wrap\">") + Q(body).toHtmlEscaped() +
                     QStringLiteral("</pre>");
    }
    std::string Page() {
        end();
        return (html_ + QStringLiteral("</body></html>")).toStdString();
    }

private:
    void end() {
        if (tableOpen_) html_ += QStringLiteral("</table>");
        tableOpen_ = false;
    }
    QString html_;
    bool tableOpen_ = true;
};

QString Joined(std::initializer_list<const std::string*> parts, const QString& separator = QStringLiteral(" ")) {
    QStringList kept;
    for (const std::string* part : parts)
        if (!part->empty()) kept << Q(*part);
    return kept.join(separator);
}

std::string ContactCard(const bm::ContactFields& c) {
    const QString name = Joined({&c.displayNamePrefix, &c.givenName, &c.middleName, &c.surname, &c.generation});
    Card card(!c.fileAs.empty() ? Q(c.fileAs) : name);
    card.Field("Full name", name);
    card.Field("Nickname", c.nickname);
    card.Field("Company", c.companyName);
    card.Field("Department", c.department);
    card.Field("Job title", c.title);
    card.Field("Profession", c.profession);
    card.Field("Office", c.officeLocation);
    card.Field("E-mail", c.email);
    card.Field("Business phone", c.businessPhone);
    card.Field("Business phone 2", c.business2Phone);
    card.Field("Company phone", c.companyMainPhone);
    card.Field("Home phone", c.homePhone);
    card.Field("Home phone 2", c.home2Phone);
    card.Field("Mobile phone", c.mobilePhone);
    card.Field("Car phone", c.carPhone);
    card.Field("Pager", c.pager);
    card.Field("Other phone", c.otherPhone);
    card.Field("Callback", c.callbackPhone);
    card.Field("Assistant's phone", c.assistantPhone);
    card.Field("Radio phone", c.radioPhone);
    card.Field("ISDN", c.isdnNumber);
    card.Field("TTY/TDD phone", c.ttyTddPhone);
    card.Field("Telex", c.telexNumber);
    card.Field("Business fax", c.businessFax);
    card.Field("Home fax", c.homeFax);
    card.Field("Postal address", c.postalAddress);
    card.Field("Business address", !c.workAddress.empty()
                                        ? Q(c.workAddress)
                                        : Joined({&c.streetAddress, &c.postalCode, &c.locality, &c.stateOrProvince,
                                                  &c.country},
                                                 QStringLiteral(", ")));
    card.Field("Home address", Joined({&c.homeStreet, &c.homePostalCode, &c.homeCity, &c.homeState, &c.homeCountry},
                                      QStringLiteral(", ")));
    card.Field("Other address", !c.otherAddress.empty()
                                     ? Q(c.otherAddress)
                                     : Joined({&c.otherStreet, &c.otherPostalCode, &c.otherCity, &c.otherState,
                                               &c.otherCountry},
                                              QStringLiteral(", ")));
    card.Field("Web page", c.businessHomePage);
    card.Field("Personal web page", c.personalHomePage);
    card.Field("Birthday", LocaleTime(c.birthday));
    card.Field("Anniversary", LocaleTime(c.weddingAnniversary));
    card.Field("Spouse", c.spouseName);
    card.Field("Manager", c.managerName);
    card.Field("Assistant", c.assistant);
    card.Field("Hobbies", c.hobbies);
    return card.Page();
}

QString SubjectText(const bm::MessageFields* message) {
    return message != nullptr && message->subject ? Q(message->subject->text) : QString();
}

const std::string& BodyOf(const bm::MessageFields& message) {
    return !message.bodyText.empty() ? message.bodyText : message.body;
}

std::string AppointmentCard(const bm::CalendarEntry& entry) {
    const bm::MessageFields* m = entry.message.get();
    Card card(SubjectText(m));
    card.Field("Start", LocaleTime(entry.start));
    card.Field("End", LocaleTime(entry.end));
    card.Field("Location", entry.location);
    if (m == nullptr) return card.Page();
    card.Field("Date", LocaleTime(m->deliveryTime));
    card.Field("Organizer", m->sentRepresentingName);
    card.Field("Attendees", m->displayTo);
    card.Field("Optional attendees", m->displayCc);
    card.Text(BodyOf(*m));
    return card.Page();
}

QString TaskStatusText(const bm::TaskFields& state) {
    // A task that never had its state set is not started yet.
    if (!state.status) return state.complete.value_or(false) ? QStringLiteral("Completed") : QStringLiteral("Not started");
    switch (*state.status) {
    case 0: return QStringLiteral("Not started");
    case 1: return QStringLiteral("In progress");
    case 2: return QStringLiteral("Completed");
    case 3: return QStringLiteral("Waiting on someone else");
    case 4: return QStringLiteral("Deferred");
    default: return QString();
    }
}

std::string TaskCard(const bm::MessageFields& task, const bm::TaskFields* state) {
    Card card(SubjectText(&task));
    const bool ownDue = state != nullptr && !state->dueDate.empty();
    card.Field("Due date", LocaleTime(ownDue ? state->dueDate : task.deliveryTime));
    if (state != nullptr) {
        card.Field("Start date", LocaleTime(state->startDate));
        card.Field("Status", TaskStatusText(*state));
        const double done = state->percentComplete.value_or(state->complete.value_or(false) ? 1.0 : 0.0);
        card.Field("% Complete", QString::number(std::clamp(done, 0.0, 1.0) * 100.0, 'f', 0) + QLatin1Char('%'));
        card.Field("Completed on", LocaleTime(state->dateCompleted));
    }
    card.Field("Owner", task.sentRepresentingName);
    card.Field("Assigned to", task.displayTo);
    card.Text(BodyOf(task));
    return card.Page();
}

std::string NoteCard(const bm::NoteEntry& note) {
    Card card(Q(note.subject));
    card.Field("Date", LocaleTime(note.date));
    card.Text(note.bodyText);
    return card.Page();
}

std::string JournalCard(const bm::JournalEntry& entry) {
    Card card(Q(entry.subject));
    card.Field("Entry type", entry.entryType);
    card.Field("Date", LocaleTime(entry.date));
    return card.Page();
}

}  // namespace

std::string CardOf(const bm::AnalysisData& data, ListKind kind, int source) {
    const auto at = [source](const auto& list) -> decltype(&list[0]) {
        if (source < 0 || static_cast<std::size_t>(source) >= list.size()) return nullptr;
        return &list[static_cast<std::size_t>(source)];
    };
    switch (kind) {
    case ListKind::Contacts:
        if (const auto* c = at(data.contacts)) return ContactCard(*c);
        break;
    case ListKind::Calendar:
        if (const auto* e = at(data.calendar)) return AppointmentCard(*e);
        break;
    case ListKind::Tasks:
        if (const auto* t = at(data.tasks))
            return TaskCard(*t, static_cast<std::size_t>(source) < data.taskStates.size()
                                    ? &data.taskStates[static_cast<std::size_t>(source)]
                                    : nullptr);
        break;
    case ListKind::Notes:
        if (const auto* n = at(data.notes)) return NoteCard(*n);
        break;
    case ListKind::Journal:
        if (const auto* j = at(data.journal)) return JournalCard(*j);
        break;
    case ListKind::Mail:
        break;
    }
    return {};
}

}  // namespace bmui
