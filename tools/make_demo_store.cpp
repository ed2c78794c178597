// make_demo_store OUTPUT.ost [--intact]    (--help prints the usage)
//
// Writes a small, realistic offline store for trying the recovery: Inbox
// with subfolders, Sent Items, Drafts, Deleted Items, Junk E-mail, Sync
// Issues, Calendar, Contacts, Tasks, Notes and Journal, about 320 items with
// plain, HTML and RTF bodies, Unicode text and attachments (one of several
// MB, one with a non-ASCII name). The same arguments always give the same
// folders, items, texts, times and attachment bytes (the store's own record
// key is chosen by the writer). Unless --intact is given, one B-tree page is damaged afterwards (its
// trailer CRC no longer matches), which the recovery has to live with.
// Prints one line per folder: "<path>\t<items>".
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace {

using namespace bm::pst;
namespace fs = std::filesystem;

constexpr std::int64_t kBaseTime = 1'717'200'000;  // 2024-06-01

class Random {
public:
    std::uint32_t Next() {
        state_ = state_ * 1103515245u + 12345u;
        return state_ >> 8;
    }
    std::size_t Below(std::size_t n) { return Next() % n; }

private:
    std::uint32_t state_ = 20240601;
};

const std::vector<std::string> kPeople = {"Ada Lovelace", "Grace Hopper", "Alan Turing", "Zoë Müller",
                                          "José Álvarez", "Søren Kierkegaard", "李小龍", "Αλέξανδρος Παπαδόπουλος",
                                          "Margaret Hamilton", "Edsger Dijkstra"};
const std::vector<std::string> kTopics = {"Quarterly report", "Lunch on Friday?", "Project Phoenix kickoff",
                                          "Re: Budget 2025", "Invoice #4471", "Déjà vu: the café meeting",
                                          "Travel plans — Zürich", "Code review notes", "Weekly status",
                                          "Ünïcödé test ✓ 日本語"};

std::string Address(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && std::isalpha(u)) out.push_back(static_cast<char>(std::tolower(u)));
        else if (c == ' ') out.push_back('.');
    }
    if (out.empty() || out == ".") out = "user";
    return out + "@example.com";
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return bytes;
}

struct Demo {
    std::unique_ptr<PstStore> store;
    Random random;
    std::map<std::string, std::size_t> counts;
    int serial = 0;

    Message Base(const std::string& messageClass, const std::string& subject) {
        Message m;
        m.properties.SetString(tags::kMessageClass, messageClass);
        m.properties.SetString(tags::kSubject, subject);
        const FileTime when = FileTimeFromUnix(kBaseTime + 3607LL * serial++);
        m.properties.SetSysTime(tags::kClientSubmitTime, when);
        m.properties.SetSysTime(tags::kMessageDeliveryTime, when + 20'000'000);
        m.properties.SetSysTime(tags::kCreationTime, when);
        m.properties.SetSysTime(tags::kLastModificationTime, when);
        return m;
    }

    void Add(FolderId folder, const std::string& path, const Message& m) {
        store->AddMessage(folder, m);
        ++counts[path];
    }

    Message Mail(std::size_t i, const std::string& folderName) {
        const std::string& from = kPeople[random.Below(kPeople.size())];
        const std::string& to = kPeople[random.Below(kPeople.size())];
        Message m = Base("IPM.Note", kTopics[i % kTopics.size()] + " (" + folderName + " " + std::to_string(i) + ")");
        m.properties.SetString(tags::kSenderName, from);
        m.properties.SetString(tags::kSenderEmailAddress, Address(from));
        m.properties.SetString(tags::kSenderAddrType, "SMTP");
        m.properties.SetString(tags::kSentRepresentingName, from);
        m.properties.SetString(tags::kSentRepresentingEmailAddress, Address(from));
        m.properties.SetString(tags::kSentRepresentingAddrType, "SMTP");
        m.properties.SetString(tags::kDisplayTo, to);
        m.AddRecipient(to, Address(to), kRecipientTo);
        const std::string text = "Hello " + to + ",\r\n\r\nThis is message " + std::to_string(i) + " in " +
                                 folderName + ". Grüße, " + from + "\r\n";
        switch (i % 3) {
            case 0:
                m.properties.SetString(tags::kBody, text);
                break;
            case 1:
                m.SetHtmlBody("<html><body><p>" + text + "</p><p><b>Best</b> regards</p></body></html>");
                break;
            default:
                m.SetRtfBody("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Calibri;}}\\f0 " + text +
                             "\\par {\\b bold} text\\par}");
                m.properties.SetString(tags::kBody, text);
                break;
        }
        if (i % 7 == 3) m.attachments.push_back(Attachment::FromBytes("notes-" + std::to_string(i) + ".txt",
                                                                      Pattern(2000 + i * 13, static_cast<std::uint32_t>(i))));
        return m;
    }

    void Mails(FolderId folder, const std::string& path, std::size_t n) {
        const std::string name = path.substr(path.rfind('\\') + 1);
        for (std::size_t i = 0; i < n; ++i) Add(folder, path, Mail(i, name));
    }
};

// Spoils the trailer CRC of the node B-tree's root page. The page's
// entries stay intact, so a reader that checks the CRC loses nothing it
// could not also get by ignoring it.
bool DamageOneBtreePage(const fs::path& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<std::uint8_t> header(0x200);
    if (!file.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()))) return false;
    bm::ByteReader reader(header);
    reader.seek(0xE0);  // BREFNBT.ib of the Unicode header
    const std::uint64_t nbtRoot = reader.readU64();
    if (reader.failed() || nbtRoot == 0) return false;
    const std::uint64_t crcAt = nbtRoot + 512 - 16 + 4;
    std::uint8_t crc[4];
    file.seekg(static_cast<std::streamoff>(crcAt));
    if (!file.read(reinterpret_cast<char*>(crc), 4)) return false;
    for (auto& b : crc) b = static_cast<std::uint8_t>(b ^ 0xA5);
    file.seekp(static_cast<std::streamoff>(crcAt));
    file.write(reinterpret_cast<const char*>(crc), 4);
    return static_cast<bool>(file);
}

constexpr const char* kUsage =
    "usage: make_demo_store OUTPUT.ost [--intact]\n"
    "  writes a small demo offline store (about 320 items in the usual folders)\n"
    "  to OUTPUT.ost, with one B-tree page damaged unless --intact is given, and\n"
    "  prints one line per folder: path, tab, number of items.\n";

}  // namespace

int main(int argc, char** argv) {
    // Options are read in full before anything is written: a mistyped
    // option must not become the name of a new file.
    std::optional<fs::path> output;
    bool intact = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!optionsEnded && (arg == "--help" || arg == "-h")) {
            std::cout << kUsage;
            return 0;
        }
        if (!optionsEnded && arg == "--intact") {
            intact = true;
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if ((optionsEnded || arg.empty() || arg[0] != '-') && !output && !arg.empty()) {
            output = arg;
        } else {
            std::cerr << kUsage;
            return 2;
        }
    }
    if (!output) {
        std::cerr << kUsage;
        return 2;
    }
    const fs::path out = *output;
    try {
        if (out.has_parent_path()) fs::create_directories(out.parent_path());
        Demo d;
        d.store = PstStore::Create(out, {.displayName = "Outlook Data File", .offlineFlavour = true});
        PstStore& s = *d.store;
        const FolderId top = s.ipmSubtree();
        const FolderId inbox = s.CreateFolder(top, "Inbox");
        const FolderId projects = s.CreateFolder(inbox, "Projects");
        const FolderId phoenix = s.CreateFolder(projects, "Phoenix");
        const FolderId receipts = s.CreateFolder(inbox, "Receipts");
        const FolderId sent = s.CreateFolder(top, "Sent Items");
        const FolderId drafts = s.CreateFolder(top, "Drafts");
        const FolderId junk = s.CreateFolder(top, "Junk E-mail");
        const FolderId sync = s.CreateFolder(top, "Sync Issues");
        const FolderId calendar = s.CreateFolder(top, "Calendar", "IPF.Appointment");
        const FolderId contacts = s.CreateFolder(top, "Contacts", "IPF.Contact");
        const FolderId tasks = s.CreateFolder(top, "Tasks", "IPF.Task");
        const FolderId notes = s.CreateFolder(top, "Notes", "IPF.StickyNote");
        const FolderId journal = s.CreateFolder(top, "Journal", "IPF.Journal");

        d.Mails(inbox, "Inbox", 100);
        d.Mails(projects, "Inbox\\Projects", 20);
        d.Mails(phoenix, "Inbox\\Projects\\Phoenix", 10);
        d.Mails(receipts, "Inbox\\Receipts", 20);
        d.Mails(sent, "Sent Items", 40);
        d.Mails(drafts, "Drafts", 10);
        d.Mails(s.deletedItems(), "Deleted Items", 15);
        d.Mails(junk, "Junk E-mail", 10);
        d.Mails(sync, "Sync Issues", 5);

        // Attachments that test the saving: several MB, a non-ASCII name,
        // two of the same name, and a name no file system takes as it is.
        Message big = d.Mail(1000, "Inbox");
        big.properties.SetString(tags::kSubject, "Site photos (large attachment)");
        big.attachments.push_back(Attachment::FromBytes("site-photos.zip", Pattern(6 * 1024 * 1024 + 123, 77)));
        d.Add(inbox, "Inbox", big);
        Message named = d.Mail(1001, "Inbox");
        named.properties.SetString(tags::kSubject, "Übersicht für März");
        named.attachments.push_back(Attachment::FromBytes("Übersicht_März_2024.pdf", Pattern(48'000, 78)));
        named.attachments.push_back(Attachment::FromBytes("scan.png", Pattern(9'000, 79)));
        named.attachments.push_back(Attachment::FromBytes("scan.png", Pattern(9'500, 80)));
        named.attachments.push_back(Attachment::FromBytes("con.txt", Pattern(100, 81)));
        d.Add(inbox, "Inbox", named);

        for (std::size_t i = 0; i < 20; ++i) {
            Message m = d.Base("IPM.Appointment", "Meeting " + std::to_string(i) + ": " + kTopics[i % kTopics.size()]);
            const FileTime start = FileTimeFromUnix(kBaseTime + 86'400LL * static_cast<std::int64_t>(i) + 9 * 3600);
            const FileTime end = start + 3600LL * 10'000'000;
            m.properties.SetSysTime(named::kAppointmentStartWhole, start);
            m.properties.SetSysTime(named::kAppointmentEndWhole, end);
            m.properties.SetSysTime(NamedPropTag{propsets::kAppointment, 0x8235u, PropType::SysTime}, start);
            m.properties.SetSysTime(NamedPropTag{propsets::kAppointment, 0x8236u, PropType::SysTime}, end);
            m.properties.SetString(named::kAppointmentLocation, i % 2 ? "Room 4" : "Café Zentral");
            m.properties.SetString(tags::kBody, "Agenda for meeting " + std::to_string(i));
            d.Add(calendar, "Calendar", m);
        }
        for (std::size_t i = 0; i < 25; ++i) {
            const std::string& who = kPeople[i % kPeople.size()];
            const std::string name = who + " " + std::to_string(i);
            Message m = d.Base("IPM.Contact", name);
            m.properties.SetString(tags::kDisplayName, name);
            m.properties.SetString(tags::kGivenName, who.substr(0, who.find(' ')));
            m.properties.SetString(tags::kSurname, who.substr(who.find(' ') + 1) + " " + std::to_string(i));
            m.properties.SetString(tags::kCompanyName, "Example Corp");
            m.properties.SetString(tags::kMobileTelephoneNumber, "+44 7700 900" + std::to_string(100 + i));
            m.properties.SetString(named::kEmail1EmailAddress, Address(who));
            m.properties.SetString(named::kFileUnder, name);
            d.Add(contacts, "Contacts", m);
        }
        for (std::size_t i = 0; i < 10; ++i) {
            Message m = d.Base("IPM.Task", "Task " + std::to_string(i) + ": follow up");
            m.properties.SetSysTime(named::kTaskDueDate, FileTimeFromUnix(kBaseTime + 86'400LL * (static_cast<std::int64_t>(i) + 3)));
            m.properties.SetString(tags::kBody, "Remember to follow up on item " + std::to_string(i));
            d.Add(tasks, "Tasks", m);
        }
        for (std::size_t i = 0; i < 8; ++i) {
            Message m = d.Base("IPM.StickyNote", "Note " + std::to_string(i) + " — ideas");
            m.properties.SetString(tags::kBody, "Note " + std::to_string(i) + " — ideas\r\nbuy milk, call Zoë");
            d.Add(notes, "Notes", m);
        }
        const NamedPropTag logType{GuidFromText("0006200A-0000-0000-C000-000000000046"), 0x8700u, PropType::Unicode};
        for (std::size_t i = 0; i < 7; ++i) {
            Message m = d.Base("IPM.Activity", "Phone call with " + kPeople[i]);
            m.properties.SetString(logType, "Phone call");
            m.properties.SetString(tags::kBody, "Discussed the schedule.");
            d.Add(journal, "Journal", m);
        }
        s.Finish();
        if (!intact && !DamageOneBtreePage(out)) {
            std::cerr << "make_demo_store: could not damage a B-tree page of " << out << "\n";
            return 1;
        }
        for (const auto& [path, n] : d.counts) std::cout << path << '\t' << n << '\n';
    } catch (const std::exception& e) {
        std::cerr << "make_demo_store: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
