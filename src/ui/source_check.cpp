#include "ui/source_check.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "common/byte_reader.h"
#include "store/store_file.h"
#include "ui/ui_texts.h"

namespace bmui {

namespace {

constexpr std::uint32_t kStoreHeaderMagic = 0x4E444221;  // "!BDN"

QString OpenFailure(const std::string& path, int error) {
    const QString shown = QString::fromStdString(path);
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Text(kSourceMissing).arg(shown);
    case EACCES:
    case EPERM:
        return Text(kSourcePermissionDenied).arg(shown);
    default:
        return Text(kSourceUnreadable).arg(shown, QString::fromLocal8Bit(std::strerror(error)));
    }
}

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
    bm::ByteReader reader(head.data(), static_cast<std::size_t>(got));
    const std::uint32_t magic = reader.readU32();
    return !reader.failed() && magic == kStoreHeaderMagic;
}

}  // namespace

QString SourceFileProblem(const std::string& path) {
    if (path.empty()) return Text(kNotValidOst);
    if (const std::optional<std::string> what = bm::NotARegularFile(path)) return QString::fromStdString(*what);
    const std::optional<bool> header = HasStoreHeader(path);
    if (!header) return OpenFailure(path, errno);
    const bool namedOst = QString::fromStdString(path).toUpper().endsWith(QStringLiteral("OST"));
    if (!*header && !namedOst) return Text(kNotValidOst);
    return {};
}

}  // namespace bmui
