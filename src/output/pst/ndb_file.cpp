#include "output/pst/ndb_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace bm::pst {

namespace {
// Appends go out in pieces of this size: sequential writes, large enough
// for the disk, small enough to stay in the core's cache when one is
// copied into the page cache.
constexpr std::size_t kBufferSize = PieceBuffer::kCapacity;
// Cached writes: the disk writes are started once this much has been written since the
// last start: a few large requests to the disk rather than many small ones.
constexpr std::uint64_t kWritebackPiece = 8u << 20;
// The first bytes of the file go through the page cache and stay there: a
// small store is then read back from memory by the check that follows the
// save, and only a larger one is written past the cache.
constexpr std::uint64_t kDirectFrom = 16u << 20;

// The descriptors of the reserved files, by path.
std::mutex g_reservedMutex;
std::unordered_map<std::string, int>& Reserved() {
    static std::unordered_map<std::string, int> reserved;
    return reserved;
}

bool SameFile(int fd, const std::filesystem::path& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// A second description of the open file `fd` for direct writes, made from
// the descriptor (never from the name, which may meanwhile name another
// file); -1 where the file system refuses direct writes.
int OpenDirect([[maybe_unused]] int fd) {
#ifdef O_DIRECT
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int direct = ::open(self.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
    if (direct < 0) return -1;
    struct stat a {};
    struct stat b {};
    if (::fstat(fd, &a) == 0 && ::fstat(direct, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        return direct;
    ::close(direct);
#endif
    return -1;
}

bool WriteAllTo(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) {
            error = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}
}  // namespace

PieceBuffer::PieceBuffer() {
    void* p = ::mmap(nullptr, kCapacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    data_.reset(static_cast<std::uint8_t*>(p));  // page-aligned, as direct writes need
}

void PieceBuffer::Unmap::operator()(std::uint8_t* p) const { ::munmap(p, kCapacity); }

void PieceBuffer::append(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > room()) throw std::logic_error("PieceBuffer: append past the piece");
    if (!bytes.empty()) std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

std::span<std::uint8_t> PieceBuffer::appendZeros(std::size_t count) {
    if (count > room()) throw std::logic_error("PieceBuffer: append past the piece");
    const std::span<std::uint8_t> placed(data_.get() + size_, count);
    std::memset(placed.data(), 0, count);
    size_ += count;
    return placed;
}

std::unique_ptr<ReservedOutputFile> ReservedOutputFile::Create(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return nullptr;
        throw std::system_error(errno, std::generic_category(), "cannot create " + path.string());
    }
    std::unique_ptr<ReservedOutputFile> file(new ReservedOutputFile(path, fd));
    const std::lock_guard lock(g_reservedMutex);
    Reserved()[path.string()] = fd;
    return file;
}

ReservedOutputFile::~ReservedOutputFile() {
    {
        const std::lock_guard lock(g_reservedMutex);
        const auto it = Reserved().find(path_.string());
        if (it != Reserved().end() && it->second == fd_) Reserved().erase(it);
    }
    ::close(fd_);
}

bool ReservedOutputFile::StillNamed() const { return SameFile(fd_, path_); }

std::string ReservedOutputFile::MoveTo(const std::filesystem::path& target) {
    if (::fsync(fd_) != 0) return "cannot write " + path_.string() + " to the disk: " + std::strerror(errno);
    if (!StillNamed()) return path_.string() + " was replaced by another file while it was written";
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        return "cannot rename " + path_.string() + " to " + target.filename().string() + ": " +
               (error == EEXIST ? std::string("a file of that name appeared meanwhile") : std::strerror(error));
    }
    // The new name is on the disk only once its folder is.
    const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    const std::lock_guard lock(g_reservedMutex);
    const auto it = Reserved().find(path_.string());
    if (it != Reserved().end() && it->second == fd_) Reserved().erase(it);
    path_ = target;
    Reserved()[path_.string()] = fd_;
    return {};
}

std::unique_ptr<ReservedOutputFile> ReservedOutputFile::TakeOver(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<ReservedOutputFile> file(new ReservedOutputFile(path, fd));
    const std::lock_guard lock(g_reservedMutex);
    Reserved()[path.string()] = fd;
    return file;
}

bool ReservedOutputFile::Sync() const { return ::fsync(fd_) == 0; }

void ReservedOutputFile::Remove() {
    if (StillNamed()) ::unlink(path_.c_str());
}

int ReservedOutputFile::DescriptorOf(const std::filesystem::path& path) {
    const std::lock_guard lock(g_reservedMutex);
    const auto it = Reserved().find(path.string());
    return it == Reserved().end() ? -1 : it->second;
}

NdbFile::NdbFile(const std::filesystem::path& path) : path_(path) {
    const int reserved = ReservedOutputFile::DescriptorOf(path);
    if (reserved >= 0) {
        fd_ = ::fcntl(reserved, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) fail("cannot create");
        if (::ftruncate(fd_, 0) != 0) fail("cannot create");
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd_ < 0) fail("cannot create");
    }
    directFd_ = OpenDirect(fd_);
    thread_ = std::thread(&NdbFile::WriteBehind, this);
}

NdbFile::~NdbFile() {
    stopThread();
    if (directFd_ >= 0) ::close(directFd_);
    if (fd_ >= 0) ::close(fd_);
}

void NdbFile::stopThread() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

const std::string& NdbFile::recordFailure(const char* what, int error) {
    if (failure_.empty()) failure_ = std::string(what) + " " + path_.string() + ": " + std::strerror(error);
    return failure_;
}

void NdbFile::fail(const char* what) {
    const int error = errno;
    const std::lock_guard lock(mutex_);
    throw OutputWriteError(recordFailure(what, error));
}

void NdbFile::throwIfFailed() const {
    const std::lock_guard lock(mutex_);
    if (!failure_.empty()) throw OutputWriteError(failure_);
}

std::uint64_t NdbFile::directWrites() const {
    const std::lock_guard lock(mutex_);
    return directWrites_;
}

std::uint64_t NdbFile::buffersMade() const {
    const std::lock_guard lock(mutex_);
    return buffersMade_;
}

void NdbFile::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (buffer_->full()) handOver(true);
        const std::size_t n = std::min(bytes.size(), buffer_->room());
        buffer_->append(bytes.first(n));
        bytes = bytes.subspan(n);
    }
}

void NdbFile::appendZeros(std::uint64_t count) {
    while (count > 0) {
        if (buffer_->full()) handOver(true);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer_->room()));
        buffer_->appendZeros(n);
        count -= n;
    }
}

std::span<std::uint8_t> NdbFile::appendInPlace(std::size_t count) {
    if (count > kBufferSize) throw std::invalid_argument("NdbFile: piece larger than the write buffer");
    if (count > buffer_->room()) handOver(true);
    if (count > buffer_->room()) handOver(false);
    throwIfFailed();
    return buffer_->appendZeros(count);
}

bool NdbFile::writeAll(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) {
    return WriteAllTo(fd_, data, size, offset, error);
}

bool NdbFile::writePiece(const PieceBuffer& piece, std::uint64_t at, int& error) {
    constexpr std::size_t kAlign = PieceBuffer::kAlignment;
    if (directFd_ >= 0 && at < kDirectFrom) return writeAll(piece.data(), piece.size(), at, error);
    if (directFd_ >= 0 && at % kAlign == 0 && piece.size() % kAlign == 0) {
        // The stretches between the ranges to keep cached directly, the
        // ranges (which handOver cut to the piece) through the cache.
        bool refused = false;
        const auto put = [&](std::uint64_t from, std::uint64_t to, bool cached) {
            if (to <= from) return true;
            const std::uint8_t* data = piece.data() + (from - at);
            if (cached) return writeAll(data, to - from, from, error);
            if (!WriteAllTo(directFd_, data, to - from, from, error)) {
                refused = error == EINVAL;
                return false;
            }
            const std::lock_guard lock(mutex_);
            ++directWrites_;
            return true;
        };
        std::uint64_t from = at;
        bool written = true;
        for (const PieceBuffer::Range& range : piece.cached) {
            written = put(from, range.start, false) && put(range.start, range.end, true);
            if (!written) break;
            from = range.end;
        }
        if (written && put(from, at + piece.size(), false)) return true;
        if (!refused) return false;
        // The file system takes no direct writes after all: from here on
        // every piece goes through the page cache (this one whole again).
        ::close(directFd_);
        directFd_ = -1;
    }
    if (!writeAll(piece.data(), piece.size(), at, error)) return false;
    startWriteback(at + piece.size());
    return true;
}

void NdbFile::flush() { handOver(false); }

void NdbFile::handOver(bool keepUnalignedTail) {
    // The bytes past the last 4 KiB boundary of the file stay for the next
    // piece, so that the pieces start and end where a direct write can.
    const std::size_t keep =
        keepUnalignedTail ? static_cast<std::size_t>((handedOver_ + buffer_->size()) % PieceBuffer::kAlignment) : 0;
    if (buffer_->size() == keep) {
        throwIfFailed();
        return;
    }
    if (fd_ < 0) throw std::runtime_error("write to closed file " + path_.string());
    std::unique_ptr<PieceBuffer> next;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !pieceWaiting_ || !failure_.empty(); });
        if (!failure_.empty()) throw OutputWriteError(failure_);
        if (!spares_.empty()) {
            next = std::move(spares_.back());
            spares_.pop_back();
        } else {
            ++buffersMade_;
        }
    }
    if (!next) next = std::make_unique<PieceBuffer>();
    const std::size_t handed = buffer_->size() - keep;
    next->append(std::span(buffer_->data() + handed, keep));
    buffer_->truncate(handed);
    // The ranges to keep cached that lie in the piece go with it; one that
    // runs on past it stays, for the rest.
    const std::uint64_t pieceEnd = handedOver_ + handed;
    std::size_t taken = 0;
    for (PieceBuffer::Range& range : toKeepCached_) {
        if (range.start >= pieceEnd) break;
        buffer_->cached.push_back({std::max(range.start, handedOver_), std::min(range.end, pieceEnd)});
        if (range.end > pieceEnd) {
            range.start = pieceEnd;
            break;
        }
        ++taken;
    }
    toKeepCached_.erase(toKeepCached_.begin(), toKeepCached_.begin() + static_cast<std::ptrdiff_t>(taken));
    {
        const std::lock_guard lock(mutex_);
        pieceAt_ = handedOver_;
        piece_ = std::move(buffer_);
        pieceWaiting_ = true;
    }
    changed_.notify_all();
    handedOver_ += handed;
    buffer_ = std::move(next);
}

void NdbFile::WriteBehind() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pieceWaiting_ || stop_; });
        if (stop_) return;  // what still waits is left unwritten
        std::unique_ptr<PieceBuffer> piece = std::move(piece_);
        const std::uint64_t at = pieceAt_;
        pieceWaiting_ = false;
        writing_ = true;
        // After a failed write nothing more is written.
        const bool failedBefore = !failure_.empty();
        lock.unlock();
        changed_.notify_all();
        int error = 0;
        const bool written = !failedBefore && writePiece(*piece, at, error);
        lock.lock();
        if (!failedBefore && !written) recordFailure("cannot write", error);
        piece->clear();
        spares_.push_back(std::move(piece));
        writing_ = false;
        changed_.notify_all();
    }
}

void NdbFile::startWriteback([[maybe_unused]] std::uint64_t written) {
#ifdef SYNC_FILE_RANGE_WRITE
    // Start writing what was written to the disk now, without waiting for
    // it, so that the sync at the end finds little left to do. Only hints: a
    // write that fails shows up in the sync.
    //
    // The piece started before is waited for and dropped from the page
    // cache. The store is written once and not read again while it is being
    // written, and keeping it cached costs more than the disk writes: each
    // page the kernel takes anew for the file is slow to fill the first
    // time, so the copy into the page cache grows dearer the larger the
    // store. Pages dropped behind the writer come back to it for the next
    // pieces, and a large store no longer pushes the source out of the
    // cache.
    if (written - writebackStarted_ < kWritebackPiece) return;
    if (writebackStarted_ > released_) {
        const auto from = static_cast<off_t>(released_);
        const auto length = static_cast<off_t>(writebackStarted_ - released_);
        ::sync_file_range(fd_, from, length,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        ::posix_fadvise(fd_, from, length, POSIX_FADV_DONTNEED);
        released_ = writebackStarted_;
    }
    ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_), static_cast<off_t>(written - writebackStarted_),
                      SYNC_FILE_RANGE_WRITE);
    writebackStarted_ = written;
#endif
}

void NdbFile::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pieceWaiting_ && !writing_; });
    if (!failure_.empty()) throw OutputWriteError(failure_);
}

void NdbFile::writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    flush();
    drain();
    if (fd_ < 0) throw std::runtime_error("write to closed file " + path_.string());
    int error = 0;
    if (writeAll(bytes.data(), bytes.size(), offset, error)) return;
    const std::lock_guard lock(mutex_);
    throw OutputWriteError(recordFailure("cannot write", error));
}

void NdbFile::keepCached(std::uint64_t offset, std::uint64_t length) {
    constexpr std::uint64_t kAlign = PieceBuffer::kAlignment;
    PieceBuffer::Range range{offset / kAlign * kAlign, (offset + length + kAlign - 1) / kAlign * kAlign};
    if (!toKeepCached_.empty() && toKeepCached_.back().end >= range.start) {
        toKeepCached_.back().end = std::max(toKeepCached_.back().end, range.end);
        return;
    }
    toKeepCached_.push_back(range);
}

void NdbFile::sync() {
    flush();
    drain();
    if (::fdatasync(fd_) != 0) fail("cannot sync");
}

void NdbFile::close() {
    flush();
    drain();
    stopThread();
    if (directFd_ >= 0) ::close(directFd_);
    directFd_ = -1;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot close");
}

}  // namespace bm::pst
