// The export sink driven the way the saving walk drives an output: folders
// opened parent first, each folder's items handed over by record. Mail
// lands in the chosen layout (Python's mailbox counts each folder, notmuch
// indexes every message of the Maildir), contacts in a vCard file and
// calendar items in an iCalendar file per folder, associated items are
// left out and counted, and two folders of one name stay apart.
#include "output/export/export_sink.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "output/mime/mail_check.h"
#include "output/pst/props_tags.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
namespace tags = pst::tags;

struct SourceFolder {
    std::vector<std::string> path;  // below the top
    std::string containerClass;
    std::vector<pst::Message> items;
    std::vector<pst::Message> associated;
};

pst::Message Item(std::string_view cls, std::string_view subject) {
    pst::Message m = bmtest::Mail(subject, "text of " + std::string(subject));
    m.properties.SetString(tags::kMessageClass, cls);
    return m;
}

pst::Message Contact(std::string_view name) {
    pst::Message m = Item("IPM.Contact", name);
    m.properties.SetString(tags::kDisplayName, name);
    return m;
}

std::vector<SourceFolder> Source() {
    pst::Message read = Item("IPM.Note", "read mail");
    read.properties.SetInt32(tags::kMessageFlags, pst::kMessageFlagRead);
    pst::Message unread = Item("IPM.Note", "unread mail");
    unread.properties.SetInt32(tags::kMessageFlags, 0);
    return {
        {{"Inbox"}, "IPF.Note", {read, unread}, {Item("IPM.Microsoft.FolderDesign", "view")}},
        {{"Inbox", "Projects"}, "IPF.Note", {Item("IPM.Note", "in a project")}, {}},
        // Two folders of one name under one parent.
        {{"Projects"}, "IPF.Note", {Item("IPM.Note", "first projects")}, {}},
        {{"Projects"}, "IPF.Note", {Item("IPM.Note", "second projects"), Contact("Mixed In")}, {}},
        {{"Contacts"}, "IPF.Contact", {Contact("Zoë Ångström"), Contact("Jan Novák")}, {}},
        {{"Calendar"}, "IPF.Appointment", {Item("IPM.Appointment", "Dentist"), Item("IPM.Task", "Pay the bill")}, {}},
        // Named like the folder that the top's own items go to.
        {{"Top of the store"}, "IPF.Note", {Item("IPM.Note", "in a folder of that name")}, {}},
    };
}

struct Exported {
    fs::path root;
    ExportCounts counts;
    std::uint64_t written = 0;
};

// Writes the source with the project's writer, reads it back and hands it
// to an export sink as the walk would.
Exported Export(mime::MailFormat format, const std::string& name) {
    bmtest::WrittenStore store(name);
    std::map<std::vector<std::string>, pst::FolderId> byPath;
    struct Written {
        std::uint32_t folderNid;
        std::string name;
        std::vector<std::string> parentPath;
        std::vector<std::uint32_t> items, associated;
    };
    std::vector<Written> folders;
    for (const SourceFolder& f : Source()) {
        const std::vector<std::string> parentPath(f.path.begin(), f.path.end() - 1);
        const pst::FolderId parent = parentPath.empty() ? store.writer().ipmSubtree() : byPath.at(parentPath);
        const pst::FolderId id = store.writer().CreateFolder(parent, f.path.back(), f.containerClass);
        byPath[f.path] = id;  // the second of a name shadows the first for its children
        Written w{static_cast<std::uint32_t>(id), f.path.back(), parentPath, {}, {}};
        for (const pst::Message& m : f.items) w.items.push_back(store.writer().AddMessage(id, m));
        for (const pst::Message& m : f.associated) w.associated.push_back(store.writer().AddAssociatedMessage(id, m));
        folders.push_back(std::move(w));
    }
    const std::uint32_t atTop = store.writer().AddMessage(store.writer().ipmSubtree(), Item("IPM.Note", "at the top"));
    StoreFile& source = store.Open();
    std::map<std::uint32_t, const NodeEntry*> nodes;
    for (const NodeEntry& n : source.forest.records()) nodes[n.nid] = &n;

    Exported out;
    out.root = bmtest::ScratchDir(name + "-out");
    ExportSink sink(format, out.root);
    std::map<std::vector<std::string>, OutputFolderHandle> handles;
    for (const Written& w : folders) {
        SinkFolder folder;
        folder.sourceNid = w.folderNid;
        folder.name = w.name;
        folder.parent = w.parentPath.empty() ? kTopOutputFolder : handles.at(w.parentPath);
        std::vector<std::string> path = w.parentPath;
        path.push_back(w.name);
        const OutputFolderHandle handle = sink.OpenFolder(folder, source);
        handles[path] = handle;
        for (const std::uint32_t nid : w.items) {
            ItemRecord item;
            item.sourceNode = nodes.at(nid);
            EXPECT_TRUE(sink.AddItem(item, source, handle)) << nid;
        }
        for (const std::uint32_t nid : w.associated) {
            ItemRecord item;
            item.sourceNode = nodes.at(nid);
            EXPECT_FALSE(sink.AddAssociatedItem(item, source, handle));
        }
    }
    ItemRecord top;
    top.sourceNode = nodes.at(atTop);
    EXPECT_TRUE(sink.AddItem(top, source, kTopOutputFolder));
    sink.Finish();
    out.counts = sink.counts();
    out.written = sink.itemsWritten();
    return out;
}

std::set<std::string> FilesBelow(const fs::path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory()) out.insert(fs::relative(e.path(), root).string());
    return out;
}

void ExpectCounts(const Exported& e) {
    EXPECT_EQ(e.counts.messages, 7u);
    EXPECT_EQ(e.counts.contacts, 3u);
    EXPECT_EQ(e.counts.calendarItems, 2u);
    EXPECT_EQ(e.counts.associatedLeftOut, 1u);
    EXPECT_EQ(e.written, 12u);
}

// Each folder's cards and calendar read back whole.
void ExpectCardsAndCalendars(const fs::path& root) {
    const fs::path side = root / ExportSink::kCardsAndCalendarsFolder;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(side)) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"Contacts.vcf", "Projects (2).vcf", "Calendar.ics"}));
    const json cards = json::array(
        {{{"file", (side / "Contacts.vcf").string()}, {"cards", json::array({{{"fn", "Zoë Ångström"}}, {{"fn", "Jan Novák"}}})}},
         {{"file", (side / "Projects (2).vcf").string()}, {"cards", json::array({{{"fn", "Mixed In"}}})}}});
    EXPECT_EQ(bmtest::RunChecker("output/vcard/check_vcard.py", "", cards), "");
    const json calendar = json::array(
        {{{"file", (side / "Calendar.ics").string()},
          {"components", {{"Dentist", {{"kind", "VEVENT"}}}, {"Pay the bill", {{"kind", "VTODO"}}}}}}});
    EXPECT_EQ(bmtest::RunChecker("output/ics/check_ics.py", "", calendar), "");
}

TEST(ExportSink, MaildirHoldsEveryMailNotmuchIndexesItAndCardsAndCalendarsSitBeside) {
    if (!bmtest::HavePythonModules("email.policy, mailbox, vobject, icalendar, dateutil"))
        GTEST_SKIP() << "the Python readers are not installed";
    const Exported e = Export(mime::MailFormat::Maildir, "export-maildir");
    ExpectCounts(e);
    const fs::path mail = e.root / ExportSink::kMailFolder;
    const json expected = {{"folders", {{"", 0}, {"Inbox", 2}, {"Inbox.Projects", 1}, {"Projects", 1}, {"Projects (2)", 1},
                                    {"Top of the store", 1}, {"Top of the store (2)", 1}}},
                       {"flags", {{"read mail", "S"}, {"unread mail", ""}}}};
    EXPECT_EQ(bmtest::CheckMail("maildir", mail, expected), "");
    ExpectCardsAndCalendars(e.root);
    for (const std::string& f : FilesBelow(e.root)) EXPECT_EQ(f.find(".part-"), std::string::npos) << f;

    if (std::system("notmuch --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "notmuch is not installed";
    const fs::path config = bmtest::ScratchDir("export-notmuch") / "config";
    bmtest::WriteFile(config, "[database]\npath=" + mail.string() + "\n[new]\ntags=new\n");
    const std::string env = "NOTMUCH_CONFIG='" + config.string() + "' ";
    ASSERT_EQ(std::system((env + "notmuch new >/dev/null 2>&1").c_str()), 0);
    std::unique_ptr<FILE, int (*)(FILE*)> count(::popen((env + "notmuch count '*'").c_str(), "r"), ::pclose);
    char buffer[32] = {};
    ASSERT_NE(std::fgets(buffer, sizeof buffer, count.get()), nullptr);
    EXPECT_EQ(std::stoi(buffer), 7);
}

TEST(ExportSink, MboxAndEmlMirrorTheTreeWithFoldersOfOneNameApart) {
    if (!bmtest::HavePythonModules("email.policy, mailbox, vobject, icalendar, dateutil"))
        GTEST_SKIP() << "the Python readers are not installed";
    const Exported mbox = Export(mime::MailFormat::Mbox, "export-mbox");
    ExpectCounts(mbox);
    const json expected = {{"folders", {{"Inbox", 2}, {"Inbox.sbd/Projects", 1}, {"Projects", 1}, {"Projects (2)", 1},
                                    {"Top of the store", 1}, {"Top of the store (2)", 1}}},
                       {"flags", {{"read mail", "RO"}, {"unread mail", "O"}}}};
    EXPECT_EQ(bmtest::CheckMail("mbox", mbox.root / ExportSink::kMailFolder, expected), "");
    ExpectCardsAndCalendars(mbox.root);

    const Exported eml = Export(mime::MailFormat::Eml, "export-eml");
    ExpectCounts(eml);
    const std::set<std::string> files = FilesBelow(eml.root / ExportSink::kMailFolder);
    EXPECT_EQ(files, (std::set<std::string>{"Inbox/read mail.eml", "Inbox/unread mail.eml",
                                            "Inbox/Projects/in a project.eml", "Projects/first projects.eml",
                                            "Projects (2)/second projects.eml", "Top of the store/at the top.eml",
                                            "Top of the store (2)/in a folder of that name.eml"}));
}

}  // namespace
}  // namespace bm
