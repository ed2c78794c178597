#include "output/export/export_sink.h"

#include <stdexcept>
#include <utility>

#include "output/mime/message_to_mime.h"
#include "output/record_copy.h"
#include "output/vcard/contact_to_vcard.h"

namespace bm {
namespace {

// Where items kept in the top folder itself go: the layouts write folders
// below the top only.
constexpr const char* kTopItemsFolder = "Top of the store";

std::string SideBase(const std::vector<std::string>& path) {
    std::string base;
    for (const std::string& name : path) {
        if (!base.empty()) base += '.';
        base += mime::SafeName(name);
    }
    return base;
}

}  // namespace

ExportSink::ExportSink(mime::MailFormat format, std::filesystem::path root)
    : format_(format), root_(std::move(root)) {
    // Made when the first item needs them, so an export of nothing but
    // mail has no empty folder beside it.
    folders_.push_back({});  // the top
    // The top's own items have a folder of this name: a folder of the
    // store named so goes beside it as " (2)".
    childNames_[kTopOutputFolder].Claim(kTopItemsFolder);
}

mime::MailLayout& ExportSink::Layout() {
    if (!layout_) {
        std::filesystem::create_directory(root_ / kMailFolder);
        layout_ = mime::CreateMailLayout(format_, root_ / kMailFolder);
    }
    return *layout_;
}

ExportSink::~ExportSink() = default;

OutputFolderHandle ExportSink::OpenFolder(const SinkFolder& folder, StoreFile& /*store*/) {
    if (folder.parent >= folders_.size()) throw std::invalid_argument("unknown parent folder");
    Folder f;
    f.path = folders_[folder.parent].path;
    const std::string name = folder.name.empty() ? std::string("(no name)") : std::string(folder.name);
    // Siblings of one name stay apart; the layout then makes each name safe.
    f.path.push_back(childNames_[folder.parent].Claim(name));
    folders_.push_back(std::move(f));
    return static_cast<OutputFolderHandle>(folders_.size() - 1);
}

void ExportSink::SwitchTo(OutputFolderHandle folder) {
    if (folder >= folders_.size()) throw std::invalid_argument("unknown folder");
    if (current_ == folder) return;
    if (mailOpen_) Layout().CloseFolder();
    mailOpen_ = false;
    CloseSideFiles();
    current_ = folder;
}

void ExportSink::CloseSideFiles() {
    if (calendarFile_.file) {
        calendarFile_.file->Write(calendar_->End());
        calendarFile_.file->Commit();
        sideFiles_.push_back(calendarFile_.name);
    }
    if (cards_.file) {
        cards_.file->Commit();
        sideFiles_.push_back(cards_.name);
    }
    calendarFile_ = {};
    cards_ = {};
    calendar_.reset();
}

ExportSink::SideFile& ExportSink::Side(SideFile& side, const char* extension, std::string_view header) {
    if (side.file) return side;
    std::vector<std::string> path = folders_[*current_].path;
    if (path.empty()) path.push_back(kTopItemsFolder);
    side.name = sideNames_.Claim(SideBase(path), extension);
    const std::filesystem::path dir = root_ / kCardsAndCalendarsFolder;
    std::filesystem::create_directory(dir);
    side.file = std::make_unique<mime::PartFile>(dir, side.name.string());
    side.file->Write(header);
    return side;
}

void ExportSink::AddMail(const pst::Message& message) {
    if (!mailOpen_) {
        std::vector<std::string> path = folders_[*current_].path;
        if (path.empty()) path.push_back(kTopItemsFolder);
        Layout().OpenFolder(path);
        mailOpen_ = true;
    }
    const std::string bytes = mime::MessageToMime(message);
    Layout().AddMessage(mime::MailEntryOf(message, bytes));
}

bool ExportSink::AddItem(ItemRecord& item, StoreFile& store, OutputFolderHandle folder) {
    if (finished_) throw std::logic_error("AddItem after Finish");
    const pst::Message message = ItemAsMessage(item, store, &unnamed_);
    SwitchTo(folder);
    if (vcard::IsContact(message) || vcard::IsDistributionList(message)) {
        Side(cards_, ".vcf", {}).file->Write(vcard::ItemToVcard(message));
        ++counts_.contacts;
    } else if (ics::IsCalendarItem(message)) {
        if (!calendar_) calendar_.emplace();
        const std::string components = calendar_->Components(message);
        Side(calendarFile_, ".ics", ics::Calendar::Begin()).file->Write(components);
        ++counts_.calendarItems;
    } else {
        AddMail(message);
        ++counts_.messages;
    }
    ++written_;
    return true;
}

bool ExportSink::AddAssociatedItem(const ItemRecord& /*item*/, StoreFile& /*store*/, OutputFolderHandle /*folder*/) {
    ++counts_.associatedLeftOut;
    return false;
}

void ExportSink::Finish() {
    if (finished_) return;
    finished_ = true;
    if (mailOpen_) Layout().CloseFolder();
    mailOpen_ = false;
    CloseSideFiles();
}

std::vector<std::uint16_t> ExportSink::TakeUnnamedValues() { return std::exchange(unnamed_, {}); }

}  // namespace bm
