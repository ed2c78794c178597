#include "engine/source_file_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>

#include "common/byte_reader.h"
#include "store/store_file.h"

namespace bm {

namespace {

constexpr std::uint32_t kStoreHeaderMagic = 0x4E444221;  // "!BDN"

// Whether the file starts with a store header; nullopt with errno set when
// it cannot be opened or read.
std::optional<bool> HasStoreHeader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::array<std::uint8_t, 4> head{};
    ssize_t got = 0;
    do {
        got = ::read(fd, head.data(), head.size());
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (got < 0) {
        errno = error;
        return std::nullopt;
    }
    ByteReader reader(head.data(), static_cast<std::size_t>(got));
    const std::uint32_t magic = reader.readU32();
    return !reader.failed() && magic == kStoreHeaderMagic;
}

bool NamedAsOfflineStore(const std::string& path) {
    if (path.size() < 3) return false;
    std::string end = path.substr(path.size() - 3);
    std::transform(end.begin(), end.end(), end.begin(), [](unsigned char c) { return std::tolower(c); });
    return end == "ost";
}

}  // namespace

SourceFileCheck CheckSourceFile(const std::string& path) {
    SourceFileCheck out;
    if (path.empty()) {
        out.verdict = SourceFileCheck::Verdict::NotAStore;
        return out;
    }
    if (std::optional<std::string> what = NotARegularFile(path)) {
        out.verdict = SourceFileCheck::Verdict::NotARegularFile;
        out.what = std::move(*what);
        return out;
    }
    const std::optional<bool> header = HasStoreHeader(path);
    if (!header) {
        out.verdict = SourceFileCheck::Verdict::Unreadable;
        out.error = errno;
        return out;
    }
    if (!*header && !NamedAsOfflineStore(path)) out.verdict = SourceFileCheck::Verdict::NotAStore;
    return out;
}

}  // namespace bm
