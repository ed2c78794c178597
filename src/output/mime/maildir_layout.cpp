#include <sys/time.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "output/mime/layouts.h"
#include "output/mime/mail_names.h"
#include "output/mime/part_file.h"

namespace bm::mime {
namespace {

void MakeMaildir(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    for (const char* sub : {"cur", "new", "tmp"}) std::filesystem::create_directory(dir / sub);
}

// The host part of a unique name, with "/" and ":" written as the
// convention asks.
std::string HostPart() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
    std::string out;
    for (const char* p = host; *p; ++p) {
        if (*p == '/')
            out += "\\057";
        else if (*p == ':')
            out += "\\072";
        else
            out += *p;
    }
    return out;
}

std::string InfoPart(const MailFlags& f) {
    std::string flags = ":2,";  // in ASCII order, as readers expect
    if (f.draft) flags += 'D';
    if (f.flagged) flags += 'F';
    if (f.forwarded) flags += 'P';
    if (f.replied) flags += 'R';
    if (f.seen) flags += 'S';
    return flags;
}

class MaildirLayout final : public MailLayout {
public:
    explicit MaildirLayout(std::filesystem::path root) : root_(std::move(root)), host_(HostPart()) {
        MakeMaildir(root_);
    }

    void OpenFolder(const std::vector<std::string>& path) override {
        if (path.empty()) throw std::invalid_argument("a folder path needs a name");
        std::string name;
        for (const std::string& part : names_.Map(path)) name += "." + part;
        current_ = root_ / name;
        MakeMaildir(current_);
        // Marks a Maildir++ subfolder for the readers that look for it.
        if (!std::filesystem::exists(current_ / "maildirfolder"))
            PartFile(current_, std::string("maildirfolder")).Commit();
    }

    void AddMessage(const MailEntry& entry) override {
        if (current_.empty()) throw std::logic_error("no folder is open");
        struct timeval now {};
        ::gettimeofday(&now, nullptr);
        const std::string unique = std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) + "P" +
                                   std::to_string(::getpid()) + "Q" + std::to_string(++counter_) + "." + host_;
        // Into cur/ with the others of its batch, each on disk first.
        waiting_.Write(std::make_unique<PartFile>(current_ / "tmp" / unique,
                                                  current_ / "cur" / (unique + InfoPart(entry.flags))),
                       entry.bytes, entry.deliveryTime);
    }

    void CloseFolder() override {
        current_.clear();
        waiting_.Flush();
    }

private:
    std::filesystem::path root_;
    std::string host_;
    FolderNames names_{"."};
    std::filesystem::path current_;
    std::uint64_t counter_ = 0;
    PartFileBatch waiting_;  // dropped, not put in place, should no CloseFolder come
};

}  // namespace

std::unique_ptr<MailLayout> CreateMaildirLayout(const std::filesystem::path& root) {
    return std::make_unique<MaildirLayout>(root);
}

}  // namespace bm::mime
