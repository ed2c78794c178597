#include "output/mime/part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace bm::mime {

PartFile::PartFile(const std::filesystem::path& directory, const std::string& name)
    : PartFile(directory / (".part-" + name), directory / name) {}

PartFile::PartFile(std::filesystem::path temporary, std::filesystem::path final)
    : temporary_(std::move(temporary)), final_(std::move(final)) {
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) Fail(temporary_);
}

PartFile::~PartFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

void PartFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(temporary_);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PartFile::Commit(std::optional<std::int64_t> modified) {
    if (modified) {
        const struct timespec times[2] = {{static_cast<time_t>(*modified), 0}, {static_cast<time_t>(*modified), 0}};
        ::futimens(fd_, times);  // a time that cannot be set costs nothing of the mail
    }
    const int fd = fd_;
    fd_ = -1;
    // On disk before it gets its name, so a crash never leaves a name over
    // missing bytes.
    int error = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(temporary_.c_str());
        throw std::system_error(error, std::generic_category(), temporary_.string());
    }
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        throw std::system_error(error, std::generic_category(), final_.string());
    }
    // The rename itself lasts once the directory is on disk.
    const int dir = ::open(final_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void PartFile::Fail(const std::filesystem::path& path) {
    throw std::system_error(errno, std::generic_category(), path.string());
}

}  // namespace bm::mime
