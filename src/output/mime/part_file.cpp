#include "output/mime/part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <system_error>
#include <utility>

namespace bm::mime {
namespace {

// The renames into `dir` last once the directory is on disk.
void SyncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

PartFile::PartFile(const std::filesystem::path& directory, const std::string& name)
    : PartFile(directory / (".part-" + name), directory / name) {}

PartFile::PartFile(std::filesystem::path temporary, std::filesystem::path final)
    : temporary_(std::move(temporary)), final_(std::move(final)) {
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) Fail(temporary_);
}

PartFile::~PartFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!renamed_) ::unlink(temporary_.c_str());
}

void PartFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(temporary_);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PartFile::Complete(std::optional<std::int64_t> modified) {
    if (modified) {
        const struct timespec times[2] = {{static_cast<time_t>(*modified), 0}, {static_cast<time_t>(*modified), 0}};
        ::futimens(fd_, times);  // a time that cannot be set costs nothing of the mail
    }
    // Only a start: Sync waits for it. A file system without it syncs all
    // in Sync.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void PartFile::Sync() {
    const int fd = fd_;
    fd_ = -1;
    // On disk before it gets its name, so a crash never leaves a name over
    // missing bytes.
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) Drop(error, temporary_);
}

void PartFile::Rename() {
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) Drop(errno, final_);
    renamed_ = true;
}

void PartFile::Commit(std::optional<std::int64_t> modified) {
    Complete(modified);
    Sync();
    Rename();
    SyncDirectory(final_.parent_path());
}

void PartFileBatch::Add(std::unique_ptr<PartFile> file, std::optional<std::int64_t> modified) {
    file->Complete(modified);
    waiting_.push_back(std::move(file));
    if (waiting_.size() >= filesPerBatch_) Flush();
}

void PartFileBatch::Flush() {
    // Dropped, whatever happens: a file that failed is gone, the others
    // are either in place or removed with their temporary names.
    // A file that cannot be synced is dropped; every other one of the
    // batch still goes into place, so one failure costs one message.
    std::vector<std::unique_ptr<PartFile>> files = std::move(waiting_);
    waiting_.clear();
    std::optional<std::system_error> failure;
    std::vector<std::filesystem::path> directories;
    for (auto& f : files) {
        try {
            f->Sync();
            f->Rename();
        } catch (const std::system_error& e) {
            if (!failure) failure = e;
            continue;
        }
        std::filesystem::path dir = f->finalPath().parent_path();
        if (directories.empty() || directories.back() != dir) directories.push_back(std::move(dir));
    }
    for (const std::filesystem::path& dir : directories) SyncDirectory(dir);
    if (failure) throw *failure;
}

void PartFile::Drop(int error, const std::filesystem::path& path) {
    ::unlink(temporary_.c_str());
    renamed_ = true;  // nothing left to remove
    throw std::system_error(error, std::generic_category(), path.string());
}

void PartFile::Fail(const std::filesystem::path& path) {
    throw std::system_error(errno, std::generic_category(), path.string());
}

}  // namespace bm::mime
