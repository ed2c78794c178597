#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "output/mime/layouts.h"
#include "output/mime/mail_names.h"
#include "output/mime/part_file.h"

namespace bm::mime {
namespace {

constexpr int kMozillaRead = 0x0001;
constexpr int kMozillaReplied = 0x0002;
constexpr int kMozillaMarked = 0x0004;
constexpr int kMozillaForwarded = 0x1000;

std::string SeparatorLine(const MailEntry& entry) {
    const bool usable =
        !entry.envelopeSender.empty() && entry.envelopeSender.find_first_of(" \t\r\n") == std::string::npos;
    const std::time_t t = static_cast<std::time_t>(entry.deliveryTime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char date[64];
    std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
    return "From " + (usable ? entry.envelopeSender : std::string("MAILER-DAEMON")) + " " + date + "\n";
}

std::string StatusFields(const MailFlags& f) {
    std::string x;
    if (f.replied) x += 'A';
    if (f.flagged) x += 'F';
    if (f.draft) x += 'T';
    const int mozilla = (f.seen ? kMozillaRead : 0) | (f.replied ? kMozillaReplied : 0) |
                        (f.flagged ? kMozillaMarked : 0) | (f.forwarded ? kMozillaForwarded : 0);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", mozilla);
    std::string out = std::string("Status: ") + (f.seen ? "RO" : "O") + "\n";
    if (!x.empty()) out += "X-Status: " + x + "\n";
    out += std::string("X-Mozilla-Status: ") + hex + "\nX-Mozilla-Status2: 00000000\n";
    return out;
}

// mboxrd: a line that reads "From " after any number of ">" gets one more,
// so no line of the message can pass for a separator and a reader that
// removes one ">" gets the message back exactly. Appended to `out`, with a
// line end after a last line that has none.
void AppendQuoted(std::string& out, std::string_view bytes) {
    std::size_t copied = 0;  // bytes[0, copied) are in `out`
    for (std::size_t start = 0; start < bytes.size();) {
        const char first = bytes[start];
        if (first == 'F' || first == '>') {
            const std::size_t quotes = bytes.find_first_not_of('>', start);
            if (quotes != std::string_view::npos && bytes.substr(quotes, 5) == "From ") {
                out.append(bytes.data() + copied, start - copied);
                out += '>';
                copied = start;
            }
        }
        const void* end = std::memchr(bytes.data() + start, '\n', bytes.size() - start);
        if (end == nullptr) break;
        start = static_cast<std::size_t>(static_cast<const char*>(end) - bytes.data()) + 1;
    }
    out.append(bytes.data() + copied, bytes.size() - copied);
    if (bytes.empty() || bytes.back() != '\n') out += '\n';
}

// What goes to the open mbox file in one write, at least.
constexpr std::size_t kWriteBytes = 1 << 20;

class MboxLayout final : public MailLayout {
public:
    explicit MboxLayout(std::filesystem::path root) : root_(std::move(root)) {}
    ~MboxLayout() override = default;  // an open folder is dropped, not committed

    void OpenFolder(const std::vector<std::string>& path) override {
        CloseFolder();
        pending_.clear();
        if (path.empty()) throw std::invalid_argument("a folder path needs a name");
        const std::vector<std::string> mapped = names_.Map(path);
        std::filesystem::path dir = root_;
        for (std::size_t i = 0; i + 1 < mapped.size(); ++i) {
            Placeholder(dir, mapped[i]);
            dir /= mapped[i] + ".sbd";
            std::filesystem::create_directory(dir);
        }
        const std::filesystem::path file = dir / mapped.back();
        if (!written_.insert(file).second) throw std::logic_error("folder opened twice: " + file.string());
        open_.emplace(dir, mapped.back());
    }

    void AddMessage(const MailEntry& entry) override {
        if (!open_) throw std::logic_error("no folder is open");
        pending_ += SeparatorLine(entry);
        pending_ += StatusFields(entry.flags);
        AppendQuoted(pending_, entry.bytes);
        pending_ += '\n';
        if (pending_.size() >= kWriteBytes) {
            open_->Write(pending_);
            pending_.clear();
        }
    }

    void CloseFolder() override {
        if (!open_) return;
        open_->Write(pending_);
        pending_.clear();
        open_->Commit();
        open_.reset();
    }

private:
    // An empty mbox for a parent folder that has none yet; the folder's own
    // messages, should it be opened later, replace it.
    void Placeholder(const std::filesystem::path& dir, const std::string& name) {
        const std::filesystem::path file = dir / name;
        if (written_.count(file) || placeholders_.count(file)) return;
        PartFile empty(dir, name);
        empty.Commit();
        placeholders_.insert(file);
    }

    std::filesystem::path root_;
    FolderNames names_{{}, {".sbd", ".msf"}};
    std::optional<PartFile> open_;
    std::string pending_;  // the open file's bytes not yet written
    std::set<std::filesystem::path> written_;
    std::set<std::filesystem::path> placeholders_;
};

}  // namespace

std::unique_ptr<MailLayout> CreateMboxLayout(const std::filesystem::path& root) {
    return std::make_unique<MboxLayout>(root);
}

}  // namespace bm::mime
