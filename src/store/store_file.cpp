#include "store/store_file.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>

#include "common/byte_reader.h"
#include "common/file_reads.h"

namespace bm {

StoreFileHandle::~StoreFileHandle() { Close(); }

StoreFileHandle::StoreFileHandle(StoreFileHandle&& other) noexcept { *this = std::move(other); }

StoreFileHandle& StoreFileHandle::operator=(StoreFileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        other.path_.clear();
        size_ = std::exchange(other.size_, 0);
        mtimeNs_ = std::exchange(other.mtimeNs_, 0);
        device_ = std::exchange(other.device_, 0);
        inode_ = std::exchange(other.inode_, 0);
        changed_.store(other.changed_.exchange(false));
        shortReadAt_.store(other.shortReadAt_.exchange(0));
    }
    return *this;
}

namespace {
std::int64_t MtimeNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
}  // namespace

bool StoreFileHandle::Open(const std::filesystem::path& path, Lock lock) {
    Close();
    // O_NONBLOCK: a FIFO or a device named as the store must not hold the
    // open up; it is refused below as no regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    const int op = (lock == Lock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, op) != 0) {
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    path_ = path;
    size_ = static_cast<std::uint64_t>(st.st_size);
    mtimeNs_ = MtimeNs(st);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    changed_.store(false);
    shortReadAt_.store(0);
    return true;
}

std::optional<std::string> NotARegularFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;  // missing: the usual message
    const char* what = nullptr;
    if (S_ISREG(st.st_mode)) return std::nullopt;
    if (S_ISFIFO(st.st_mode)) what = "a FIFO (named pipe)";
    else if (S_ISCHR(st.st_mode)) what = "a character device";
    else if (S_ISBLK(st.st_mode)) what = "a block device";
    else if (S_ISSOCK(st.st_mode)) what = "a socket";
    else if (S_ISDIR(st.st_mode)) what = "a directory";
    else what = "not a regular file";
    return path.string() + " is " + what + ", not a store file";
}

bool StoreFileHandle::IsFile(const std::filesystem::path& path) const {
    struct stat open {};
    struct stat named {};
    if (fd_ < 0 || ::fstat(fd_, &open) != 0 || ::stat(path.c_str(), &named) != 0) return false;
    return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void StoreFileHandle::Close() {
    if (fd_ >= 0) ::close(fd_);  // closing drops the lock
    fd_ = -1;
    path_.clear();
    size_ = 0;
    changed_.store(false);
    shortReadAt_.store(0);
}

bool StoreFileHandle::CheckUnchanged() const {
    if (fd_ < 0) return true;
    struct stat open {};
    struct stat named {};
    const bool same = ::fstat(fd_, &open) == 0 && static_cast<std::uint64_t>(open.st_size) == size_ &&
                      MtimeNs(open) == mtimeNs_ && ::stat(path_.c_str(), &named) == 0 &&
                      named.st_dev == device_ && named.st_ino == inode_;
    if (!same) changed_.store(true);
    return same;
}

std::string StoreFileHandle::ChangeDescription() const {
    if (!changed()) return {};
    struct stat open {};
    struct stat named {};
    if (fd_ >= 0 && ::stat(path_.c_str(), &named) == 0 &&
        (named.st_dev != device_ || named.st_ino != inode_))
        return "another file was put in its place";
    if (fd_ >= 0 && ::fstat(fd_, &open) == 0 && static_cast<std::uint64_t>(open.st_size) != size_)
        return "it is now " + std::to_string(open.st_size) + " bytes long, " + std::to_string(size_) +
               " when it was opened";
    if (const std::uint64_t at = shortReadAt_.load(); at != 0)
        return "a read at offset " + std::to_string(at - 1) + " came back short";
    return "it was modified";
}

std::size_t StoreFileHandle::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    constexpr auto kLast = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (fd_ < 0 || offset > kLast) return 0;
    // Bytes past the largest offset the system can name are not asked for.
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), kLast - offset + 1));
    const std::size_t got = ReadFully(fd_, out.data(), n, offset);
    // Reads past the end the open saw are expected (damaged offsets); a
    // range inside it that does not come back whole is not.
    if (got < n && offset + got < size_ && !changed_.exchange(true)) shortReadAt_.store(offset + got + 1);
    return got;
}

std::vector<std::pair<const char*, std::uint64_t>> DamageCounters::Items() const {
    return {
        {"pages unreadable", pagesUnreadable},
        {"pages rejected", pagesRejected},
        {"pages revisited", pagesRevisited},
        {"page CRC mismatches", pageCrcMismatches},
        {"root pages unusable", rootPagesUnusable},
        {"blocks missing", blocksMissing},
        {"blocks unreadable", blocksUnreadable},
        {"block CRC mismatches", blockCrcMismatches},
        {"data trees incomplete", dataTreesIncomplete},
        {"subnode blocks rejected", subnodeBlocksRejected},
        {"nodes without data", nodesWithoutData},
        {"orphan nodes", orphanNodes},
    };
}

std::uint64_t DamageCounters::Total() const {
    std::uint64_t sum = 0;
    for (const auto& item : Items()) sum += item.second;
    return sum;
}

int OpenStore(StoreFile& store, const std::filesystem::path& path, StoreOpenMode mode) {
    // Opening the file already open here (the saving run after the
    // analysis) keeps the handle: a second lock on it would fail.
    if (!store.file.IsFile(path)) {
        StoreFileHandle handle;
        const auto lock =
            mode == StoreOpenMode::Exclusive ? StoreFileHandle::Lock::Exclusive : StoreFileHandle::Lock::Shared;
        if (!handle.Open(path, lock)) return -1;
        store.file = std::move(handle);
    }

    store.recentBlocks.clear();
    std::array<std::uint8_t, kHeaderReadLength> header{};
    store.file.ReadAt(0, header);  // missing bytes stay zero
    const ByteReader reader(header.data(), header.size());

    store.formatVersion = static_cast<std::uint32_t>(reader.peekAt(10, 2).value_or(0));
    store.layout = LayoutForVersion(store.formatVersion);
    if (store.layout != nullptr) {
        const StoreLayout& layout = *store.layout;
        store.nbtRootOffset = reader.peekAt(layout.header.nbtRootOffsetAt, layout.idWidth).value_or(0);
        store.bbtRootOffset = reader.peekAt(layout.header.bbtRootOffsetAt, layout.idWidth).value_or(0);
        store.headerCryptMethod = static_cast<std::uint8_t>(reader.peekAt(layout.header.cryptMethodAt, 1).value_or(0));
    }

    store.bbtLeafDepth = kLeafDepthUnknown;
    store.nbtLeafDepth = kLeafDepthUnknown;
    store.bbtLeafSeen = false;
    store.nbtLeafSeen = false;
    store.bbtPagesEntered.clear();
    store.nbtPagesEntered.clear();
    store.cryptMethod = 1;
    return 0;
}

void ReleaseStore(StoreFile& store) {
    store.recovery.reset();
    store.forest.Clear();
    store.blocks.Clear();
    store.namedPropertyMap.reset();
    store.file.Close();
    store.bbtRootOffset = 0;
    store.nbtRootOffset = 0;
    store.bbtLeafDepth = kLeafDepthUnknown;
    store.nbtLeafDepth = kLeafDepthUnknown;
    store.cryptMethod = 1;
    store.bbtLeafSeen = false;
    store.nbtLeafSeen = false;
    store.formatVersion = 0;
    store.layout = nullptr;
    store.headerCryptMethod = 0;
    store.damage = DamageCounters{};
    store.bbtPagesEntered.clear();
    store.nbtPagesEntered.clear();
    store.recentBlocks.enable(false);
    store.contentDamage = nullptr;
    // The index of a large store is millions of small records; the pages
    // they leave free in the middle of the heap go back to the system, so a
    // run that opens the store again does not hold both.
    malloc_trim(0);
}

}  // namespace bm
