#include "ui/attachment_shelf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <utility>


namespace bmui {

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Cuts `text` to at most `bytes` bytes of UTF-8 without splitting a
// character.
QString CutToBytes(const QString& text, qsizetype bytes) {
    QString out = text;
    while (!out.isEmpty() && out.toUtf8().size() > bytes) out.chop(1);
    if (!out.isEmpty() && out.back().isHighSurrogate()) out.chop(1);
    return out;
}

// A fd-owning guard.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

QString SafeAttachmentName(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool bad = u < 0x20 || u == 0x7f || u == '/' || u == '\\' || c.category() == QChar::Other_Format ||
                         (u >= 0x80 && u < 0xa0);
        out += bad ? QLatin1Char('_') : c;
    }
    // Leading dots would hide the file or name the folder or its parent.
    while (!out.isEmpty() && (out.front() == QLatin1Char('.') || out.front().isSpace())) out.remove(0, 1);
    while (!out.isEmpty() && (out.back() == QLatin1Char('.') || out.back().isSpace())) out.chop(1);
    if (out.isEmpty()) out = QStringLiteral("attachment");
    constexpr qsizetype kMaxBytes = 255;
    if (out.toUtf8().size() > kMaxBytes) {
        const qsizetype dot = out.lastIndexOf(QLatin1Char('.'));
        QString extension = dot > 0 && out.size() - dot <= 16 ? out.mid(dot) : QString();
        const qsizetype room = kMaxBytes - extension.toUtf8().size();
        out = CutToBytes(out.left(dot > 0 && !extension.isEmpty() ? dot : out.size()), room) + extension;
    }
    return out;
}

AttachmentSaved CreateInFolder(const fs::path& folder, const QString& name, const std::function<bool(int fd)>& write) {
    AttachmentSaved result;
    Fd dir;
    dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd < 0) {
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString candidate =
            attempt == 1 ? name : SafeAttachmentName(stem + QStringLiteral(" (%1)").arg(attempt) + extension);
        const QByteArray local = candidate.toUtf8();
        Fd file;
        // The name holds no separator: openat keeps it in the folder, and
        // O_EXCL with O_NOFOLLOW neither replaces a file nor follows a link.
        file.fd = ::openat(dir.fd, local.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file.fd < 0) {
            if (errno == EEXIST) continue;
            result.error = QString::fromLocal8Bit(std::strerror(errno));
            return result;
        }
        const bool written = write(file.fd);
        const bool closed = ::close(file.fd) == 0;
        file.fd = -1;
        if (!written || !closed) {
            ::unlinkat(dir.fd, local.constData(), 0);
            result.error = QStringLiteral("the data could not be written");
            return result;
        }
        result.ok = true;
        result.path = folder / fs::path(local.toStdString());
        return result;
    }
    result.error = QStringLiteral("too many files of that name");
    return result;
}

AttachmentShelf::AttachmentShelf(fs::path storePath, bool deepScan, bool recoverDeleted)
    : access_(std::move(storePath), deepScan, recoverDeleted) {}

std::optional<std::vector<AttachmentEntry>> AttachmentShelf::List(std::uint32_t nid) {
    const std::optional<std::vector<bm::AttachmentListing>> listed = access_.List(nid);
    if (!listed) return std::nullopt;
    std::vector<AttachmentEntry> out;
    for (const bm::AttachmentListing& a : *listed) out.push_back({Q(a.name), a.size});
    return out;
}

AttachmentSaved AttachmentShelf::Save(std::uint32_t nid, std::size_t index, const fs::path& folder) {
    std::optional<bm::AttachmentAccess::Opened> attachment = access_.Open(nid, index);
    if (!attachment) {
        AttachmentSaved result;
        result.error = QStringLiteral("the attachment can no longer be read from the store");
        return result;
    }
    return CreateInFolder(folder, SafeAttachmentName(Q(attachment->listing().name)), [&](int fd) {
        return attachment->Stream([fd](std::span<const std::uint8_t> bytes) {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                done += static_cast<std::size_t>(n);
            }
            return true;
        });
    });
}

}  // namespace bmui
