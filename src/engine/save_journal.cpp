#include "engine/save_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/format_tables.h"

namespace bm {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMagic = "brightmend-save-journal 1";
constexpr std::size_t kHeadBytes = 64 * 1024;

std::uint32_t CrcOf(std::string_view text) {
    return ComputeCrc(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\t': out += "%09"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            unsigned value = 0;
            const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (ec == std::errc() && end == text.data() + i + 3) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

template <typename T>
bool Number(std::string_view& rest, T& value) {
    const std::size_t space = rest.find(' ');
    const std::string_view field = rest.substr(0, space);
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (ec != std::errc() || end != field.data() + field.size() || field.empty()) return false;
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return true;
}

std::string Hex8(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return out;
}

}  // namespace

fs::path JournalPath(const fs::path& firstPart) { return fs::path(firstPart.string() + std::string(kJournalSuffix)); }

std::optional<SourceIdentity> IdentifySource(const fs::path& source) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::ifstream in(source, std::ios::binary);
    if (!in) return std::nullopt;
    std::string head(kHeadBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    SourceIdentity id;
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.headCrc = CrcOf(head);
    return id;
}

std::variant<SaveJournal, std::string> ReadSaveJournal(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return path.string() + ": cannot be read";
    SaveJournal journal;
    bool magic = false;
    bool source = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t tab = line.rfind('\t');
        // A line cut short or damaged is the one being written when the
        // run ended: what came before it stands.
        if (tab == std::string::npos || line.size() - tab != 9) break;
        const std::string_view text(line.data(), tab);
        std::uint32_t crc = 0;
        const auto [end, ec] = std::from_chars(line.data() + tab + 1, line.data() + line.size(), crc, 16);
        if (ec != std::errc() || end != line.data() + line.size() || crc != CrcOf(text)) break;
        if (!magic) {
            if (text != kMagic) return path.string() + ": not the journal of a save";
            magic = true;
            continue;
        }
        const std::size_t space = text.find(' ');
        const std::string_view key = text.substr(0, space);
        std::string_view rest = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (key == "source") {
            if (!Number(rest, journal.source.size) || !Number(rest, journal.source.modifiedNs) ||
                !Number(rest, journal.source.headCrc))
                return path.string() + ": its record of the source is damaged";
            journal.sourcePath = Unescape(rest);
            source = true;
        } else if (key == "first") {
            journal.firstPart = Unescape(rest);
        } else if (key == "clock") {
            journal.timestamp = Unescape(rest);
        } else if (key == "request") {
            journal.request = Unescape(rest);
        } else if (key == "part" || key == "last") {
            JournalPart part;
            part.last = key == "last";
            if (!Number(rest, part.itemsThrough)) return path.string() + ": a record of a finished part is damaged";
            part.path = Unescape(rest);
            journal.parts.push_back(std::move(part));
        }
    }
    if (!magic) return path.string() + ": not the journal of a save";
    if (!source || journal.firstPart.empty()) return path.string() + ": the journal was cut short before its first records";
    return journal;
}

std::optional<UnfinishedSave> UnfinishedSaveOf(const fs::path& folder, const fs::path& source) {
    const std::optional<SourceIdentity> id = IdentifySource(source);
    if (!id) return std::nullopt;
    std::error_code ec;
    std::vector<fs::path> journals;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().ends_with(kJournalSuffix) && it->is_regular_file(ec))
            journals.push_back(it->path());
    std::sort(journals.begin(), journals.end());
    for (const fs::path& path : journals) {
        std::variant<SaveJournal, std::string> read = ReadSaveJournal(path);
        SaveJournal* journal = std::get_if<SaveJournal>(&read);
        if (journal == nullptr || !(journal->source == *id) ||
            fs::path(journal->sourcePath).filename() != source.filename())
            continue;
        return UnfinishedSave{path, std::move(*journal)};
    }
    return std::nullopt;
}

std::unique_ptr<SaveJournalWriter> SaveJournalWriter::Open(const fs::path& path, const SaveJournal& head, bool resuming,
                                                           std::string& error) {
    const int flags = resuming ? O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW
                               : O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        error = "cannot create the save's journal " + path.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<SaveJournalWriter> writer(new SaveJournalWriter(path, fd));
    if (resuming) return writer;
    const SourceIdentity& s = head.source;
    const bool written = writer->Append(std::string(kMagic)) &&
                         writer->Append("source " + std::to_string(s.size) + " " + std::to_string(s.modifiedNs) + " " +
                                        std::to_string(s.headCrc) + " " + Escape(head.sourcePath)) &&
                         writer->Append("first " + Escape(head.firstPart.string())) &&
                         writer->Append("clock " + Escape(head.timestamp)) &&
                         writer->Append("request " + Escape(head.request)) && ::fsync(fd) == 0;
    if (!written) {
        error = "cannot write the save's journal " + path.string() + ": " + std::strerror(errno);
        writer->Remove();
        return nullptr;
    }
    return writer;
}

SaveJournalWriter::~SaveJournalWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool SaveJournalWriter::Append(const std::string& record) {
    const std::string line = record + "\t" + Hex8(CrcOf(record)) + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool SaveJournalWriter::AddPart(const JournalPart& part) {
    return Append((part.last ? "last " : "part ") + std::to_string(part.itemsThrough) + " " + Escape(part.path.string())) && ::fsync(fd_) == 0;
}

void SaveJournalWriter::Remove() {
    ::unlink(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace bm
