// The output store writer: the .pst output of the saving walk (see
// item_sink.h). Each item is copied whole from its node (every property,
// recipient row and attachment; see source_copy.h); an item whose node
// cannot be read whole is written from its record (see record_copy.h).
// One writer serves one saving run, on the run's thread:
//
//   CreateOutputStore(dir) -> { OpenFolder | AddItem | AddAssociatedItem }...
//   -> Finish
//
// Folders: every OpenFolder makes one folder of the new store below the
// folder of its parent handle, named as the source names it (a folder
// without a name gets kUntitledFolderName). The first folder of a name
// under a parent may be one the new store starts with (Deleted Items);
// every later one is a folder of its own. A folder keeps the source
// folder's own properties (see CopySourceFolderProperties) and its links
// to special folders (see folder_links.h), made anew for the folders
// saved.
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
// The store's display name is "Brightmend_Personal_Folder" + timestamp.
//
// Store switch: after each item the file size is compared with the limit;
// past it the store is finished and the next item goes into a new part next
// to the first, "<first name> (part 2).pst", "(part 3)" ..., its display
// name carrying "(n)" (n the store count). A folder is made again in the
// new part (with its parents, class and properties) when an item goes
// into it there, the folder the last item went to at once. The item that
// passed the limit stays in the part it was written to: each item is in
// exactly one part.
//
// Parts by year (SaveOptions::partYear): each item goes into the part of
// its year, "<name> (2019).pst", an item without a time into
// "<name> (undated).pst"; each is made when its first item comes and goes
// on past the size limit as "<name> (2019) (part 2).pst". A folder is made
// in each part an item of it goes into; a folder no item went into is made
// at Finish in the undated part, else in the latest year's, so every folder
// saved is somewhere. The
// report's name is made from "<name>.pst" itself (see baseStorePath).
//
// Going on after a run that was killed (SaveOptions::resume): the parts
// that run finished are taken over as they are, under their ".partial"
// names, and the part it was writing is begun again. The items of the
// finished parts come again and are read as before (so that what the run
// says of them is the same) but not written; the item after the last of
// them begins the new part, as it did in the run that was killed.
//
// Failures are exceptions and never end the process. A writer destroyed
// before Finish finishes its store, so the file is always complete.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "messaging/item_record.h"
#include "output/folder_links.h"
#include "output/item_sink.h"
#include "output/open_output_store.h"
#include "output/output_texts.h"
#include "output/pst/ndb_file.h"
#include "output/pst/props.h"
#include "output/record_copy.h"
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
    // Where earlier versions kept their private folders (see
    // RemoveStaleSaveDirectories); empty: the system's temporary directory.
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
    // The year each item's part is for (nullopt: undated); empty: the parts
    // follow one another by size only.
    std::function<std::optional<int>(const ItemRecord&)> partYear;
    // The parts a killed run finished (their names, in order; outputFile is
    // the first part's name) and how many items it had written at the end
    // of each; empty: a new save.
    struct FinishedPart {
        std::filesystem::path path;
        std::uint64_t itemsThrough = 0;
    };
    std::optional<std::vector<FinishedPart>> resume;
    // The killed run had finished its last part too (it was being checked).
    bool resumeEnded = false;
    // Called when a part is finished and on the disk, before the next is
    // begun (or, `last`, when the store is finished): its index, its name
    // and the items written through its end.
    std::function<void(std::size_t, const std::filesystem::path&, std::uint64_t, bool last)> partFinished;
};

// Earlier versions wrote attachment and header files into a private folder
// "<temporary directory>/brightmend-save-<pid>-XXXXXX"; a run that was
// killed left it behind.
inline constexpr std::string_view kSaveDirectoryPrefix = "brightmend-save-";
// Removes such folders in `parent` whose process is gone (every writer
// does so when it creates its store); how many were removed.
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
// The name a folder without a name is saved under.
inline constexpr std::string_view kUntitledFolderName = "Untitled Folder";

class USave_to_PST_Format : public ItemSink {
public:
    explicit USave_to_PST_Format(SaveOptions options);
    ~USave_to_PST_Format() override;
    USave_to_PST_Format(const USave_to_PST_Format&) = delete;
    USave_to_PST_Format& operator=(const USave_to_PST_Format&) = delete;

    // Starts the components and creates the store file in `directory`
    // (the default directory when empty). The message for the user when it
    // fails, nullopt on success.
    std::optional<std::string> CreateOutputStore(const std::filesystem::path& directory);
    // The links to special folders that the source store's root folder and
    // top folder `top` hold (see folder_links.h): made anew, for the folders
    // saved, in each part of the output as it is finished. The top folder
    // is kTopOutputFolder; it keeps the new store's own properties.
    void KeepStoreFolderLinks(const NodeEntry& top, StoreFile& store);

    // ItemSink. A handle the writer never gave is std::invalid_argument;
    // any call before CreateOutputStore std::logic_error.
    OutputFolderHandle OpenFolder(const SinkFolder& folder, StoreFile& store) override;
    bool AddItem(ItemRecord& item, StoreFile& store, OutputFolderHandle folder) override;
    bool AddAssociatedItem(const ItemRecord& item, StoreFile& store, OutputFolderHandle folder) override;
    // Closes the store file; a second call does nothing.
    void Finish() override;
    std::uint64_t itemsWritten() const override { return itemsWritten_; }
    std::size_t currentPart() const override { return partIndex_; }
    std::size_t lastItemPart() const override { return lastItemPart_; }
    // See CopySourceMessage.
    std::vector<std::uint16_t> TakeUnnamedValues() override { return std::exchange(unnamedValues_, {}); }

    // With publishAfterCheck: gives finished part `index` its name (fsync,
    // then a rename that never replaces), sets it apart under `name`
    // instead, or removes it. The text of a failure, empty on success.
    std::string PublishPart(std::size_t index);
    std::string SetPartApart(std::size_t index, const std::filesystem::path& name);
    void RemovePart(std::size_t index);
    // Where part `index` is on the disk now: its ".partial" file until it
    // has its name.
    std::filesystem::path partPath(std::size_t index) const;

    const std::filesystem::path& outputStorePath() const { return outputStorePath_; }
    // The name the store's report is made from: the first part, or with
    // parts by year "<name>.pst" (no such file is written).
    std::filesystem::path baseStorePath() const;
    // Every store file this writer created, in order.
    const std::vector<std::filesystem::path>& outputStores() const { return outputStores_; }
    // The display name of the part being written.
    const std::string& storeDisplayName() const { return displayName_; }
    bool storeSwitched() const { return storeSwitched_; }
    void ClearStoreSwitch() { storeSwitched_ = false; }

    // Items of a resumed save that are read again but not written (they are
    // in the parts taken over).
    std::uint64_t itemsTakenOver() const { return skipThrough_; }

    // Stores created in this process so far; never reset.
    static std::uint32_t StoreCount();

private:
    // What the writer keeps of each folder it opened, to make it again in
    // a later part.
    struct Folder {
        OutputFolderHandle parent = kTopOutputFolder;
        std::string name;
        // Which folder of that name under its parent (0: the first, which
        // may be one the new store starts with).
        std::uint32_t sibling = 0;
        std::string containerClass;
        std::optional<pst::PropertyBag> properties;
    };

    // The part being written for one year, while items of another year
    // go into theirs.
    struct Lane {
        std::unique_ptr<OpenOutputStore> store;
        std::vector<pst::FolderId> inPart;
        std::size_t partIndex = 0;
        std::filesystem::path firstPart;
        std::string displayName;
        int part = 1;
    };
    // Lanes are keyed by year; this one holds the undated items.
    static constexpr int kUndatedLane = std::numeric_limits<int>::min();

    std::tm LocalNow() const;
    bool byYear() const { return static_cast<bool>(options_.partYear); }
    // Makes the part of `lane`'s year current: the one left open for it,
    // else a new one.
    void EnterLane(int lane);
    std::filesystem::path LanePath(int lane) const;
    // " (2019)", " (undated)".
    static std::string LaneSuffix(int lane);
    int LaneOf(const ItemRecord& item) const;
    void RequireStore() const;
    void OpenStoreFile(const std::filesystem::path& path, std::unique_ptr<pst::ReservedOutputFile> reserved);
    // Takes over the parts of SaveOptions::resume and begins the next; the
    // message for the user when it cannot.
    std::optional<std::string> TakeOverParts(const std::filesystem::path& first);
    // Whether the next item is one of the parts taken over; if so it is
    // counted into its part and not written.
    bool TakenOver(OutputFolderHandle folder);
    static void ThrowIfNotPublished(const std::string& failure);
    void CheckStoreSize();
    void SwitchStore();
    // The folder of `handle` in the part being written, made (with its
    // parents) when it is not there yet.
    pst::FolderId FolderInPart(OutputFolderHandle handle);
    // The links to special folders, made anew in the current part.
    void ApplyFolderLinks();
    // The item copied whole from its node in `store` (every property,
    // recipient row and attachment; see source_copy.h), else from its
    // record; the damage category added when its blocks were damaged.
    pst::Message ItemMessage(ItemRecord& item, StoreFile& store);

    SaveOptions options_;
    std::unique_ptr<OpenOutputStore> store_;
    std::filesystem::path outputStorePath_;
    // With parts by year: "<name>.pst", the lane being written and the
    // others left open; whether CreateOutputStore has run.
    std::filesystem::path base_;
    int lane_ = kUndatedLane;
    std::map<int, Lane> lanes_;
    bool created_ = false;
    bool finished_ = false;
    // Which part of its lane (1, 2 ...) the open part is.
    int lanePart_ = 1;
    // The first part of the lane being written; the part open and the one
    // the last item went into (indexes of outputStores_).
    std::filesystem::path laneFirst_;
    std::size_t partIndex_ = 0;
    std::size_t lastItemPart_ = 0;
    // A resumed save: the items through the end of each part taken over.
    std::vector<std::uint64_t> takenThrough_;
    std::uint64_t skipThrough_ = 0;
    // Which folders are made in some part (index: the handle).
    std::vector<bool> madeSomewhere_;
    std::vector<std::filesystem::path> outputStores_;
    // The ".partial" file of each part until it has its name.
    std::vector<std::unique_ptr<pst::ReservedOutputFile>> parts_;
    std::string displayName_;
    // Folder `handle` is folders_[handle - 1].
    std::vector<Folder> folders_;
    // The folder of each handle in the part being written (index: the
    // handle; 0: not made there yet).
    std::vector<pst::FolderId> inPart_;
    // How many folders of a name each parent holds so far ("\0"-joined key).
    std::unordered_map<std::string, std::uint32_t> namesTaken_;
    OutputFolderHandle lastFolder_ = kTopOutputFolder;
    bool storeSwitched_ = false;
    std::vector<std::uint16_t> unnamedValues_;
    FolderLinks folderLinks_;
    std::uint64_t itemsWritten_ = 0;
};

}  // namespace bm
