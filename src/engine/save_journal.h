// The journal of a save, beside its first part: "<first part>.journal".
// A save that is killed (SIGKILL, a crash, a power cut) leaves its parts
// under their ".partial" names and this journal; `save --resume` reads it
// and goes on: the parts it names as finished are kept, the one that was
// being written is begun again from its first item.
//
// The file is text, one record per line, each line ending in a tab and the
// CRC-32 of what comes before it ("source ...\t1a2b3c4d"). Records are only
// ever appended, and the file is flushed to the disk after each finished
// part, so a run that dies at any moment leaves a readable journal: a last
// line cut short or with a wrong CRC is the record that was being written
// and is not taken.
//
//   brightmend-save-journal 1
//   source <size> <modification time, ns> <CRC-32 of its first 64 KiB> <path>
//   first <the first part's name>
//   clock <the timestamp the store names and display names carry>
//   request <what the caller needs to ask for the same save again>
//   part <items written through the end of the part> <the part's name>
//   last <items written in all> <the last part's name>
//
// Fields that may hold any byte (paths, the request) have '%', tab, CR and
// LF written as %25, %09, %0D and %0A.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace bm {

inline constexpr std::string_view kJournalSuffix = ".journal";
std::filesystem::path JournalPath(const std::filesystem::path& firstPart);

// What says that a source is the one a journal was written for.
struct SourceIdentity {
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::uint32_t headCrc = 0;
    bool operator==(const SourceIdentity&) const = default;
};
// nullopt when the file cannot be read.
std::optional<SourceIdentity> IdentifySource(const std::filesystem::path& source);

struct JournalPart {
    // Items the writer had written when the part was finished, counted from
    // the first item of the save.
    std::uint64_t itemsThrough = 0;
    std::filesystem::path path;  // the part's own name (its file is "<path>.partial")
    // The last part: every item was written, the run was ending.
    bool last = false;
};

struct SaveJournal {
    std::string sourcePath;
    SourceIdentity source;
    std::filesystem::path firstPart;
    std::string timestamp;
    std::string request;
    std::vector<JournalPart> parts;
};

// The journal at `path`, or why it cannot be used.
std::variant<SaveJournal, std::string> ReadSaveJournal(const std::filesystem::path& path);

// A save of `source` that was cut off in `folder`: its journal there, read,
// written for this same file (its name, size, modification time and first
// bytes). The first by name when there are several; nullopt when none.
struct UnfinishedSave {
    std::filesystem::path journalPath;
    SaveJournal journal;
};
std::optional<UnfinishedSave> UnfinishedSaveOf(const std::filesystem::path& folder,
                                               const std::filesystem::path& source);

class SaveJournalWriter {
public:
    // A new journal with `head` (its parts ignored), created exclusively and
    // never through a link; or, with `resuming`, the journal of `head` read
    // before, appended to. The text of the failure in `error`.
    static std::unique_ptr<SaveJournalWriter> Open(const std::filesystem::path& path, const SaveJournal& head,
                                                   bool resuming, std::string& error);
    ~SaveJournalWriter();
    SaveJournalWriter(const SaveJournalWriter&) = delete;
    SaveJournalWriter& operator=(const SaveJournalWriter&) = delete;

    // Appends the record of a finished part and flushes the journal to the
    // disk; false when it could not be written.
    bool AddPart(const JournalPart& part);
    // The save has ended (finished, stopped or failed) and needs no resume.
    void Remove();
    const std::filesystem::path& path() const { return path_; }

private:
    SaveJournalWriter(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    bool Append(const std::string& record);
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace bm
