// The export as an output of the saving walk: one ItemSink that sends each
// item where its kind belongs. Mail (and every other message: reports,
// meeting requests, posts) goes as MIME into the chosen mail layout (MBOX,
// Maildir or .eml files, see mail_layout.h), in the folder it came from;
// contacts and distribution lists go into one vCard file per folder,
// appointments, tasks, journal items and sticky notes into one iCalendar
// file per folder. The mail tree is "Mail/" in the output folder, so it
// can be copied into a mail program's folders as it is (a mail program
// would take any other file there for a folder); the cards and calendars
// are in "Contacts and calendars/", named after the folder path with its
// names joined by "." ("Contacts.vcf", "Calendar.Holidays.ics"). A
// folder's associated items (views, rules, settings) are not exported;
// they are counted apart.
//
// Two source folders of one name under one parent stay apart: the second
// gets " (2)" in the output. The walk hands a folder's items over together;
// a folder whose mail comes again after another folder's is an error for
// MBOX (an mbox file is written once) and goes on in the same folder for
// the other layouts. Every file is written under a temporary name and
// renamed when complete, so a stop leaves whole files only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/ics/ics_calendar.h"
#include "output/item_sink.h"
#include "output/mime/mail_layout.h"
#include "output/mime/mail_names.h"
#include "output/mime/part_file.h"

namespace bm {

struct ExportCounts {
    std::uint64_t messages = 0;
    std::uint64_t contacts = 0;
    std::uint64_t calendarItems = 0;
    std::uint64_t associatedLeftOut = 0;
};

class ExportSink final : public ItemSink {
public:
    // `root` must exist; nothing is written outside it.
    static constexpr const char* kMailFolder = "Mail";
    static constexpr const char* kCardsAndCalendarsFolder = "Contacts and calendars";
    ExportSink(mime::MailFormat format, std::filesystem::path root);
    ~ExportSink() override;  // unfinished files are dropped, whole ones stay

    OutputFolderHandle OpenFolder(const SinkFolder& folder, StoreFile& store) override;
    bool AddItem(ItemRecord& item, StoreFile& store, OutputFolderHandle folder) override;
    bool AddAssociatedItem(const ItemRecord& item, StoreFile& store, OutputFolderHandle folder) override;
    void Finish() override;
    std::uint64_t itemsWritten() const override { return written_; }
    std::size_t currentPart() const override { return 0; }
    std::vector<std::uint16_t> TakeUnnamedValues() override;

    const ExportCounts& counts() const { return counts_; }
    // The vCard and iCalendar files written so far, by name.
    const std::vector<std::filesystem::path>& cardAndCalendarFiles() const { return sideFiles_; }

private:
    struct Folder {
        std::vector<std::string> path;  // below the top, each name unique among its siblings
    };
    // The vCard or iCalendar file of the folder being written.
    struct SideFile {
        std::unique_ptr<mime::PartFile> file;
        std::filesystem::path name;
    };

    // Closes what the previous folder had open when `folder` is another.
    void SwitchTo(OutputFolderHandle folder);
    void CloseSideFiles();
    // The folder's file of that kind, made (and given `header`) on first use.
    SideFile& Side(SideFile& side, const char* extension, std::string_view header);
    void AddMail(const pst::Message& message);
    mime::MailLayout& Layout();

    mime::MailFormat format_;
    std::filesystem::path root_;
    std::unique_ptr<mime::MailLayout> layout_;
    std::vector<Folder> folders_;  // by handle; 0 is the top
    // The names handed out under each parent, whatever their case.
    std::map<OutputFolderHandle, mime::UniqueNames> childNames_;
    mime::UniqueNames sideNames_;
    std::optional<OutputFolderHandle> current_;
    bool mailOpen_ = false;
    SideFile cards_;
    SideFile calendarFile_;
    std::optional<ics::Calendar> calendar_;
    std::vector<std::filesystem::path> sideFiles_;
    std::vector<std::uint16_t> unnamed_;
    ExportCounts counts_;
    std::uint64_t written_ = 0;
    bool finished_ = false;
};

}  // namespace bm
