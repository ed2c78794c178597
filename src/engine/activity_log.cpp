#include "engine/activity_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "engine/log_texts.h"

namespace bm {

namespace fs = std::filesystem;

namespace {

// One lock for every log of the process; the file lock covers other
// processes.
std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// A read-only log is made writable again, like resetting its attributes.
void MakeWritable(const fs::path& path) {
    std::error_code ec;
    if (fs::exists(path, ec))
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The entry as the log takes it: up to its first NUL, at most the line
// limit, never ending inside a UTF-8 sequence; one that is cut ends in
// "…", so the reader knows there was more.
std::string EntryText(std::string_view text) {
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.size() <= kLogLineLimit) return std::string(text);
    constexpr std::string_view kCutMark = "\u2026";
    std::size_t n = kLogLineLimit - kCutMark.size();
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return std::string(text.substr(0, n)) + std::string(kCutMark);
}

}  // namespace

ActivityLog::ActivityLog(const Settings& settings, fs::path appDir) : settings_(settings), appDir_(std::move(appDir)) {}

fs::path ActivityLog::PathOf(LogChannel channel) const {
    const bool recovery = channel == LogChannel::RecoveryLog;
    const std::string configured = settings_.Value(recovery ? kSettingRecoveryLog : kSettingLogPath);
    std::error_code ec;
    const fs::path dir = !configured.empty() && fs::is_directory(configured, ec) ? fs::path(configured) : appDir_;
    return dir / std::string(recovery ? kRecoveryLogFileName : kActivityLogFileName);
}

int ActivityLog::AppendLogLine(LogChannel channel, std::string_view text) const {
    const fs::path path = PathOf(channel);
    const std::lock_guard lock(LogMutex());
    MakeWritable(path);
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.valid()) return 0;
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) return 0;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return 0;
    if (static_cast<std::uint64_t>(st.st_size) > kLogResetSize) {
        // The log starts again with this entry; older entries go at once.
        if (::ftruncate(fd.get(), 0) != 0) return 0;
    }
    if (::lseek(fd.get(), 0, SEEK_END) < 0) return 0;
    std::string entry(kLogLineBreak);
    entry.append(EntryText(text));
    return WriteAll(fd.get(), entry) ? 1 : 0;
}

bool ActivityLog::ClearActivityLog() const {
    const fs::path path = PathOf(LogChannel::ActivityLog);
    const std::lock_guard lock(LogMutex());
    MakeWritable(path);
    std::error_code ec;
    fs::remove(path, ec);
    return !fs::exists(path, ec);
}

std::string FormatBannerTime(const std::tm& t) {
    return fmt::format("{}-{}-{} {}:{}:{}", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

void ActivityLog::WriteStartBanner(const std::tm& localTime) const {
    Append(kLogBannerStart);
    Append(kLogProductName);
    Append(kLogProductVersion);
    Append(FormatBannerTime(localTime));
    Append(kLogLineBreak);
}

void LogAnalysisStart(const ActivityLog& log) {
    log.Append(kLogLineBreak);
    log.Append(kLogAnalysisStart);
}

void LogSavingStart(const ActivityLog& log, std::string_view targetDirectory) {
    log.Append(kLogLineBreak);
    log.Append(kLogSavingStart);
    log.Append(std::string(kLogTargetPath) + std::string(targetDirectory));
}

void LogSavingEnd(const ActivityLog& log, std::string_view summary, std::string_view closing) {
    std::string entry(summary);
    entry += kLogLineBreak;
    entry += closing;
    log.Append(entry);
}

void LogSourceChosen(const ActivityLog& log, std::string_view path) {
    log.Append(kLogLineBreak);
    log.Append(kLogStep1);
    log.Append(std::string(kLogSelectSourcePath) + std::string(path));
}

void LogSearchStarted(const ActivityLog& log, std::string_view directory) {
    log.Append(kLogLineBreak);
    log.Append(kLogFindNow);
    log.Append(directory);
}

}  // namespace bm
