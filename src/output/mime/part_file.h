// A file written whole or not at all: the bytes go to ".part-<name>" in
// the file's own directory, and Commit renames it to <name>. A PartFile
// dropped before Commit removes its temporary file.
//
// PartFileBatch puts many such files in place together, for layouts that
// write a file per message: each is synced to disk before it is renamed,
// as with Commit, but the syncs of a batch run one after another once the
// disk has been writing all of them, so they share the journal's commits,
// and each directory is synced once a batch instead of once a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bm::mime {

class PartFile {
public:
    // Throws std::system_error when the file cannot be created.
    PartFile(const std::filesystem::path& directory, const std::string& name);
    // Written at `temporary`, renamed to `final` (the Maildir way: tmp/ to cur/).
    PartFile(std::filesystem::path temporary, std::filesystem::path final);
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();

    void Write(std::string_view bytes);
    // Closes the file, gives it `modified` as its time (Unix seconds) when
    // set, and renames it into place.
    void Commit(std::optional<std::int64_t> modified = std::nullopt);

    // Commit in its steps, for PartFileBatch. Complete: the bytes are all
    // written; gives the file its time and starts writing it to disk.
    void Complete(std::optional<std::int64_t> modified);
    // Waits until the file is on disk and closes it.
    void Sync();
    // Renames the synced file into place; its directory is not synced.
    void Rename();
    const std::filesystem::path& finalPath() const { return final_; }

private:
    [[noreturn]] void Fail(const std::filesystem::path& path);
    // Unlinks the temporary file and throws `error` naming `path`.
    [[noreturn]] void Drop(int error, const std::filesystem::path& path);

    std::filesystem::path temporary_;
    std::filesystem::path final_;
    int fd_ = -1;
    bool renamed_ = false;
};

class PartFileBatch {
public:
    explicit PartFileBatch(std::size_t filesPerBatch = kFilesPerBatch) : filesPerBatch_(filesPerBatch) {}
    PartFileBatch(const PartFileBatch&) = delete;
    PartFileBatch& operator=(const PartFileBatch&) = delete;
    // Files not yet put in place are dropped with their temporary names.
    ~PartFileBatch() = default;

    // Takes a file whose bytes are all written; it is put in place by the
    // next Flush, which runs here once `filesPerBatch` files wait.
    void Add(std::unique_ptr<PartFile> file, std::optional<std::int64_t> modified);
    // Writes `bytes` into `file` and takes it as Add does.
    void Write(std::unique_ptr<PartFile> file, std::string_view bytes, std::optional<std::int64_t> modified) {
        file->Write(bytes);
        Add(std::move(file), modified);
    }
    // Syncs every waiting file, renames each into place, then syncs each
    // directory they went into. A file that cannot be synced or renamed is
    // dropped, the others still go into place; std::system_error then
    // names the first that failed.
    void Flush();

    // Open files held at most: each waits with its descriptor.
    static constexpr std::size_t kFilesPerBatch = 128;

private:
    std::size_t filesPerBatch_;
    std::vector<std::unique_ptr<PartFile>> waiting_;
};

}  // namespace bm::mime
