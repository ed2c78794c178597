#include "output/pst/ndb_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bm::pst {

namespace {
constexpr std::size_t kBufferSize = 8u << 20;
}

NdbFile::NdbFile(const std::filesystem::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot create");
    buffer_.reserve(kBufferSize);
}

NdbFile::~NdbFile() {
    if (fd_ >= 0) ::close(fd_);
}

void NdbFile::fail(const char* what) const {
    throw std::runtime_error(std::string(what) + " " + path_.string() + ": " + std::strerror(errno));
}

void NdbFile::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (buffer_.size() == kBufferSize) flush();
        const std::size_t n = std::min(bytes.size(), kBufferSize - buffer_.size());
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    }
}

void NdbFile::appendZeros(std::uint64_t count) {
    while (count > 0) {
        if (buffer_.size() == kBufferSize) flush();
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, kBufferSize - buffer_.size()));
        buffer_.resize(buffer_.size() + n, 0);
        count -= n;
    }
}

void NdbFile::flush() {
    if (fd_ < 0) throw std::runtime_error("write to closed file " + path_.string());
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::pwrite(fd_, buffer_.data() + done, buffer_.size() - done,
                                   static_cast<off_t>(flushed_ + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    flushed_ += buffer_.size();
    buffer_.clear();
}

void NdbFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    flush();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
}

void NdbFile::sync() {
    flush();
    if (::fdatasync(fd_) != 0) fail("cannot sync");
}

void NdbFile::close() {
    flush();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close");
}

}  // namespace bm::pst
