// The mail bridge: creates the new store file and its folders and adds
// mail, appointments, tasks, sticky notes and journal items, every one from
// the plain texts the output writer hands it. It lives for one output store
// (a store switch starts a new one).
//
// Calls, in the order a saving run makes them:
//   Start -> CreateStore(path, display name) -> CreateFolder(path)... ->
//   AddMail / AddAppointment / AddTask / AddNote / AddJournal ... -> Finish
//
// Folder paths are "\\" + display name + "\" + folder names joined by "\";
// the store is reachable under that root from anywhere in the process (the
// contact session finds it there) until Finish. An Add... call for a folder
// that does not exist yet creates it, so an item is never lost for want of
// a folder. Date-time texts are those of FormatItemTime, read as UTC. Every
// failure is a std::exception; nothing ends the process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "messaging/item_record.h"
#include "output/open_output_store.h"

namespace bm {

// Attaches the files of `list` (a JoinFileList list), each under its entry
// of `names`, or its own file name where that entry is missing or empty.
void AddAttachmentFiles(pst::Message& m, const std::optional<std::string>& list,
                        const std::optional<std::string>& names);

class MailBridge {
public:
    MailBridge() = default;
    // A store that was not finished is left as it is (not a valid file);
    // callers finish it, also when a run stops early.
    ~MailBridge();
    MailBridge(const MailBridge&) = delete;
    MailBridge& operator=(const MailBridge&) = delete;

    void Start();
    // Creates the store file and registers it under "\\" + displayName. A
    // second call for the same file before anything was added recreates it
    // under the new name; after content was added, the new name becomes a
    // second way to reach the same store.
    void CreateStore(const std::string& path, const std::string& displayName);
    // Creates the last folder of the path (and any missing parent); an
    // existing folder is left alone. `containerClass` empty: by its name.
    void CreateFolder(const std::string& folderPath, std::string_view containerClass = {});

    // `attachmentList` and `attachmentNames` are file lists (JoinFileList):
    // the files to attach and, entry by entry, the name each is stored
    // under (the file's own name where a name is missing). `messageClass`
    // empty: IPM.Note. `source`, when given, is the item read from the
    // offline store, for what the text arguments cannot carry: its
    // recipient rows (To, Cc and Bcc with their addresses), which take the
    // place of `recipients` (To recipients only) when there are any, and
    // its read and unsent state. Without it a mail is saved as read.
    void AddMail(const std::string& folderPath, const std::string& subject, const std::string& recipients,
                 const std::string& headerFile, const std::string& dateTime,
                 const std::optional<std::string>& attachmentList, const std::optional<std::string>& body,
                 std::int16_t htmlFlag, const std::optional<std::string>& attachmentNames = std::nullopt,
                 const std::optional<std::string>& messageClass = std::nullopt, const ItemRecord* source = nullptr);
    // `start` and `end` are date or date-time texts; the attachment files
    // and names, and the source item (its attendees and state), as for
    // AddMail.
    void AddAppointment(const std::string& folderPath, const std::string& topic, const std::string& body,
                        const std::string& start, const std::string& end, const std::string& location = {},
                        const std::optional<std::string>& attachmentList = std::nullopt,
                        const std::optional<std::string>& attachmentNames = std::nullopt,
                        const ItemRecord* source = nullptr);
    // No folder: the store's "Tasks" folder. `due` is a date-time text or empty.
    // `source`, when given: the task's own state (status, progress, start,
    // due and completion dates) and its read state.
    // The attachment files and names of these three as for AddMail.
    void AddTask(const std::optional<std::string>& folderPath, const std::string& body, const std::string& secondText,
                 const std::string& subject, const std::string& due = {}, const ItemRecord* source = nullptr,
                 const std::optional<std::string>& attachmentList = std::nullopt,
                 const std::optional<std::string>& attachmentNames = std::nullopt);
    void AddNote(const std::string& folderPath, const std::string& subject, const std::string& body,
                 const std::string& dateTime, const std::string& messageClass = {},
                 const std::optional<std::string>& attachmentList = std::nullopt,
                 const std::optional<std::string>& attachmentNames = std::nullopt);
    void AddJournal(const std::string& folderPath, const std::string& subject, const std::string& body,
                    const std::string& dateTime, const std::string& entryType, const std::string& messageClass = {},
                    const std::optional<std::string>& attachmentList = std::nullopt,
                    const std::optional<std::string>& attachmentNames = std::nullopt);
    // Adds an item given whole (copied from the source store) to the folder,
    // creating the folder with `containerClass` when it does not exist.
    void AddItem(const std::string& folderPath, const pst::Message& message, std::string_view containerClass = {});
    // Properties of the folder's own (copied from the source folder) for
    // the folder at `folderPath`, created when missing.
    void SetFolderProperties(const std::string& folderPath, const pst::PropertyBag& properties);
    // The folder at `folderPath` (the top folder for the root path alone)
    // when it was made; nothing is created.
    std::optional<pst::FolderId> FindFolder(const std::string& folderPath);
    // The current store's root folder, above the top folder.
    pst::FolderId StoreRootFolder() const;
    // Folder links of a folder of the current store (see PstStore::SetFolderLinks).
    void SetFolderLinks(pst::FolderId folder, std::vector<pst::PstStore::FolderLink> links);
    // The same into the folder's associated contents.
    void AddAssociatedItem(const std::string& folderPath, const pst::Message& message);
    // Writes the store's folders, tables and index; the file is complete.
    void Finish();

    // The file being written (empty before CreateStore).
    std::filesystem::path storePath() const;
    std::uint64_t storeFileSize() const;

private:
    std::shared_ptr<OpenOutputStore> StoreOf(const OutputFolderPath& path) const;
    // The parts of a folder path; throws std::invalid_argument for one that
    // is not a store folder path. The last one is kept: items come folder
    // by folder.
    const OutputFolderPath& Split(const std::string& folderPath);
    // The folder of a path, made when missing, and its store.
    struct PlacedFolder {
        OpenOutputStore* store = nullptr;
        pst::FolderId folder = 0;
    };
    PlacedFolder Folder(const std::string& folderPath, std::string_view containerClass = {});
    // The folder from the chain of the last path placed: the path itself or
    // one of its parents, or a child of one of them; nullopt otherwise.
    std::optional<PlacedFolder> FolderFromChain(const std::string& folderPath, std::string_view containerClass);
    void Add(const std::string& folderPath, const pst::Message& message, std::string_view containerClass = {});
    void RequireStarted() const;

    bool started_ = false;
    std::shared_ptr<OpenOutputStore> store_;
    std::string splitPath_;
    std::optional<OutputFolderPath> split_;
    // The last path placed and the folder of each of its levels (where the
    // level ends in chainPath_). The walk goes depth first, so a folder's
    // parent is mostly on it: placing the folder then costs one look-up,
    // not one per level, however deep it lies.
    std::shared_ptr<OpenOutputStore> chainStore_;
    std::string chainPath_;
    std::vector<std::pair<std::size_t, pst::FolderId>> chain_;
};

}  // namespace bm
