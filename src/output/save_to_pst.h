// The output store writer: turns the item records a saving run hands it
// into a new .pst through the mail bridge (store, folders, mail,
// appointments, tasks, sticky notes, journal items) and a contact session
// (contacts). One writer serves one saving run, on the run's thread:
//
//   CreateOutputStore(dir) -> { PrepareFolder(path) | SaveMail | SaveContact
//   | SaveAppointment | SaveTask | SaveNote | SaveJournal }... -> Finish
//
// Names: every part is written as "<its name>.partial" (created
// exclusively, never through a link, and written through that descriptor)
// and renamed to its name, never replacing a file, once it is finished (or,
// with publishAfterCheck, when the caller says so); a name whose ".partial"
// exists is taken. The output file is the source file's stem (its store extension
// removed whatever its case, and of "outlook.ost.bak" both extensions),
// the local timestamp "d-m-yyyy h-m-s" and ".pst". An existing file is never
// replaced: a taken name becomes "<name> (2).pst", "<name> (3).pst" ...; a
// file chosen by name (SaveOptions::outputFile) that exists is refused.
// The store's display name is "Brightmend_Personal_Folder" + timestamp and
// its root path "\\" + display name. Folder paths of the source
// ("Personal Folders\Inbox\") become "\\<display name>\Inbox".
//
// Store switch: after each mail the file size is compared with the limit;
// past it the store is finished and the next item goes into a new part next
// to the first, "<first name> (part 2).pst", "(part 3)" ..., its root path
// carrying "(n)" (n the store count), with the current folder prepared there
// again. The mail that passed the limit stays in the part it was written
// to: each item is in exactly one part. storeSwitched() is raised only
// while a new part is being opened, never after a save returns.
//
// Failures are exceptions and never end the process. A writer destroyed
// before Finish finishes its store, so the file is always complete.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "messaging/item_record.h"
#include "output/folder_links.h"
#include "output/item_time.h"
#include "output/mail_bridge.h"
#include "output/output_texts.h"
#include "output/pst/ndb_file.h"
#include "output/pst/props.h"
#include "store/store_file.h"

namespace bm {

struct SaveOptions {
    // The source store's file name (name only).
    std::string sourceFileName;
    // Used when CreateOutputStore is given no directory.
    std::filesystem::path defaultDirectory;
    // The output file chosen by name; empty: the default name in the
    // directory. An existing file is refused, never replaced.
    std::filesystem::path outputFile;
    std::uint64_t storeSizeLimit = kDefaultStoreSizeLimit;
    // Where attachment files and the header file are put; empty: the
    // system's temporary directory. The writer works in a private
    // directory below it and removes it at the end.
    std::filesystem::path tempDirectory;
    // The local clock for the timestamp; empty: the system's.
    std::function<std::tm()> localClock;
    // Items copied from blocks the store's damage account (content_damage.h)
    // found damaged get this category (see damage_mark.h); empty: none.
    std::string damagedCategory;
    // The parts keep their ".partial" names after Finish until PublishPart
    // gives them their own (the saving run checks them first); false:
    // every finished part gets its name at once.
    bool publishAfterCheck = false;
};

// The writer's private folder for attachment and header files is
// "<temporary directory>/brightmend-save-<pid>-XXXXXX".
inline constexpr std::string_view kSaveDirectoryPrefix = "brightmend-save-";
// Removes such folders in `parent` whose process is gone (a run that was
// killed leaves its folder behind); how many were removed.
std::size_t RemoveStaleSaveDirectories(const std::filesystem::path& parent);

// SIGXFSZ ignored for the process: a write past a file-size limit fails
// (EFBIG) and is reported like a full disk. Every writer does this when it
// is made; programs call it at start as well.
void IgnoreFileSizeSignal();

// Where a store is written until it is finished: "<store>.partial".
inline constexpr std::string_view kPartialSuffix = ".partial";
std::filesystem::path PartialPath(const std::filesystem::path& store);

// "d-m-yyyy h-m-s", numbers without leading zeros.
std::string OutputTimestamp(const std::tm& localTime);
// The source file name without its store extension (any case; of
// "outlook.ost.bak" both): "OUTLOOK.OST" -> "OUTLOOK".
std::string OutputStem(std::string_view sourceFileName);
// The default output file name: stem, timestamp, ".pst".
std::string OutputStoreName(std::string_view sourceFileName, std::string_view timestamp);
// `wanted` when nothing exists there, else the first free
// "<stem> (n)<extension>" from n = 2.
std::filesystem::path FreeOutputPath(const std::filesystem::path& wanted);
// The name of part `part` (2, 3, ...) of a store whose first part is
// `firstPart`: "<stem> (part n).pst" in the same directory.
std::filesystem::path StorePartPath(const std::filesystem::path& firstPart, int part);
// A source folder path in the new store: one final "\" removed and every
// "Personal Folders" replaced by the root path.
std::string ToOutputFolderPath(std::string_view folderPath, std::string_view rootPath);

struct MailBody {
    std::optional<std::string> text;
    std::int16_t htmlFlag = 0;  // 1: text is HTML
};
// The HTML body when there is one, else the plain text of an RTF body,
// else the plain text (see PlainBodyText). Bodies of any length are kept.
MailBody ChooseMailBody(const ItemRecord& item);
// The longer of the RTF body's text and PR_BODY (the later on a tie), or
// the longer of the two named texts when neither is present.
std::string PlainBodyText(const MessageFields& fields);

class USave_to_PST_Format {
public:
    explicit USave_to_PST_Format(SaveOptions options);
    ~USave_to_PST_Format();
    USave_to_PST_Format(const USave_to_PST_Format&) = delete;
    USave_to_PST_Format& operator=(const USave_to_PST_Format&) = delete;

    // Starts the components and creates the store file in `directory`
    // (the default directory when empty). The message for the user when it
    // fails, nullopt on success.
    std::optional<std::string> CreateOutputStore(const std::filesystem::path& directory);
    // Creates every level of the folder below the root (never the root
    // itself) and makes it current. std::invalid_argument for an empty path.
    // `containerClass` applies to the last level.
    void PrepareFolder(std::string_view folderPath, std::string_view containerClass = {});
    // Gives the folder at `folderPath` (prepared before) the source
    // folder's own properties (see CopySourceFolderProperties), and again
    // whenever PrepareFolder makes it in another store. The top folder keeps
    // the new store's own. false when the source folder cannot be read.
    bool KeepFolderProperties(std::string_view folderPath, const NodeEntry& sourceFolder, StoreFile& store);
    // The links to special folders that the source store's root folder and
    // top folder `top` hold (see folder_links.h): made anew, for the folders
    // saved, in each part of the output as it is finished.
    void KeepStoreFolderLinks(const NodeEntry& top, StoreFile& store);
    // The same for a source folder given by its levels in the new store
    // (see source_folders.h), so that same-named siblings, names holding
    // "\" and untitled folders each stay one folder of their own.
    // `sourcePath` is what currentSourceFolder() reports afterwards.
    void PrepareSourceFolder(std::string_view sourcePath, const OutputFolderLevels& levels,
                             std::string_view containerClass = {});

    void SaveMail(ItemRecord& item, StoreFile& store, std::string_view folderPath);
    // A mail into the folder of these levels (see PrepareSourceFolder).
    void SaveMailInFolder(ItemRecord& item, StoreFile& store, const OutputFolderLevels& levels);
    // Writes the item's attachments to temporary files and fills the
    // attachment list and the list of their names.
    void SaveAttachmentsToTemp(ItemRecord& item, StoreFile& store);
    // An associated item of the folder (a view, rule or setting), copied
    // whole into the folder's associated contents. An item whose node
    // cannot be read whole is not written (false).
    bool SaveAssociated(const ItemRecord& item, StoreFile& store, std::string_view folderPath);
    // The same into the folder of these levels (see PrepareSourceFolder).
    bool SaveAssociatedInFolder(const ItemRecord& item, StoreFile& store, const OutputFolderLevels& levels);
    // These write into the current folder.
    void SaveContact(const ItemRecord& item);
    void SaveAppointment(const ItemRecord& item);
    void SaveTask(const ItemRecord& item);
    void SaveNote(const ItemRecord& item);
    void SaveJournal(const ItemRecord& item);
    // The same with the item's attachments (read from `store` when their
    // data is not in the record).
    void SaveContact(ItemRecord& item, StoreFile& store);
    void SaveAppointment(ItemRecord& item, StoreFile& store);
    void SaveTask(ItemRecord& item, StoreFile& store);
    void SaveNote(ItemRecord& item, StoreFile& store);
    void SaveJournal(ItemRecord& item, StoreFile& store);
    // Closes the store file; a second call does nothing.
    void Finish();
    // With publishAfterCheck: gives finished part `index` its name (fsync,
    // then a rename that never replaces), sets it apart under `name`
    // instead, or removes it. The text of a failure, empty on success.
    std::string PublishPart(std::size_t index);
    std::string SetPartApart(std::size_t index, const std::filesystem::path& name);
    void RemovePart(std::size_t index);
    // Where part `index` is on the disk now: its ".partial" file until it
    // has its name.
    std::filesystem::path partPath(std::size_t index) const;

    // Sets the item date and time texts; see bm::FormatItemTime.
    std::time_t FormatItemTime(FileTime time);

    const std::string& itemDateText() const { return itemTexts_.date; }
    const std::string& itemTimeText() const { return itemTexts_.time; }
    const std::filesystem::path& outputStorePath() const { return outputStorePath_; }
    // Every store file this writer created, in order.
    const std::vector<std::filesystem::path>& outputStores() const { return outputStores_; }
    const std::string& storeRootPath() const { return storeRootPath_; }
    const std::string& currentFolderPath() const { return currentFolderPath_; }
    // The source folder path PrepareFolder was last given.
    const std::string& currentSourceFolder() const { return currentSourceFolder_; }
    const std::string& attachmentList() const { return attachmentList_; }
    const std::string& attachmentNames() const { return attachmentNames_; }
    const std::filesystem::path& headerFilePath() const { return headerFilePath_; }
    const std::filesystem::path& temporaryDirectory() const { return tempDir_; }
    bool storeSwitched() const { return storeSwitched_; }
    // Items the writer has taken so far (every kind, every part).
    std::uint64_t itemsWritten() const { return itemsWritten_; }
    void ClearStoreSwitch() { storeSwitched_ = false; }
    // The ids of the named values the copies since the last call left out
    // for want of a name (see CopySourceMessage); the list starts afresh.
    std::vector<std::uint16_t> TakeUnnamedValues() { return std::exchange(unnamedValues_, {}); }

    // Stores created in this process so far; never reset.
    static std::uint32_t StoreCount();

private:
    std::tm LocalNow() const;
    void OpenStoreFile(const std::filesystem::path& path, std::unique_ptr<pst::ReservedOutputFile> reserved);
    static void ThrowIfNotPublished(const std::string& failure);
    void CheckStoreSize();
    // SaveMail into a folder path of the new store.
    void SaveMailAt(ItemRecord& item, StoreFile& store, const std::string& folder);
    bool SaveAssociatedAt(const ItemRecord& item, StoreFile& store, const std::string& folder);
    void SwitchStore();
    // The links to special folders, made anew in the current part.
    void ApplyFolderLinks();
    void RemoveTemporaryFiles();
    // Writes the item's attachments to temporary files, runs `write` (told
    // whether there are any) and removes the files again, also on failure.
    void WithAttachmentFiles(ItemRecord& item, StoreFile& store, const std::function<void(bool)>& write);
    // Writes the item copied whole from its node in `store` (every
    // property, recipient row and attachment; see source_copy.h) into
    // `folder`. false when the record names no node or the node cannot be
    // read as a whole item: the caller then writes it from what the item
    // mapping read.
    bool SaveCopy(const ItemRecord& item, StoreFile& store, const std::string& folder,
                  std::string_view containerClass);
    void WriteContact(const ItemRecord& item, bool withAttachments);
    void WriteAppointment(const ItemRecord& item, bool withAttachments);
    void WriteTask(const ItemRecord& item, bool withAttachments);
    void WriteNote(const ItemRecord& item, bool withAttachments);
    void WriteJournal(const ItemRecord& item, bool withAttachments);
    std::string DateTimeText(const Bytes& raw);
    std::string ItemDateTimeText(const MessageFields& fields);

    SaveOptions options_;
    std::unique_ptr<MailBridge> bridge_;
    std::filesystem::path tempDir_;
    std::filesystem::path headerFilePath_;
    std::filesystem::path outputStorePath_;
    std::vector<std::filesystem::path> outputStores_;
    // The ".partial" file of each part until it has its name.
    std::vector<std::unique_ptr<pst::ReservedOutputFile>> parts_;
    std::string storeRootPath_;
    std::string currentFolderPath_;
    std::string currentSourceFolder_;
    // The folders' own properties, for the folders KeepFolderProperties was
    // given, by the folder's place below the store root (FolderPropertiesKey).
    std::unordered_map<std::string, pst::PropertyBag> folderProperties_;
    std::string FolderPropertiesKey(const std::string& outputPath) const;
    void ApplyKeptFolderProperties();
    std::string currentFolderClass_;
    std::string attachmentList_;
    std::string attachmentNames_;
    std::vector<std::filesystem::path> attachmentFiles_;
    ItemTimeTexts itemTexts_;
    bool storeSwitched_ = false;
    std::vector<std::uint16_t> unnamedValues_;
    FolderLinks folderLinks_;
    std::uint64_t itemsWritten_ = 0;
};

}  // namespace bm
