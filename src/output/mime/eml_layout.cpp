#include <memory>
#include <stdexcept>
#include <string>

#include "output/mime/layouts.h"
#include "output/mime/mail_names.h"
#include "output/mime/part_file.h"

namespace bm::mime {
namespace {

// Room for " (n)" and ".eml" within the bound of a file name.
constexpr std::size_t kSubjectBytes = 100;

class EmlLayout final : public MailLayout {
public:
    explicit EmlLayout(std::filesystem::path root) : root_(std::move(root)) {}

    void OpenFolder(const std::vector<std::string>& path) override {
        if (path.empty()) throw std::invalid_argument("a folder path needs a name");
        mapped_ = names_.Map(path);
        current_ = root_;
        for (const std::string& part : mapped_) current_ /= part;
        std::filesystem::create_directories(current_);
    }

    void AddMessage(const MailEntry& entry) override {
        if (current_.empty()) throw std::logic_error("no folder is open");
        const std::string base = SafeName(entry.subject.empty() ? "(no subject)" : entry.subject, kSubjectBytes);
        // Claimed among the folder's subfolders too: a message never takes
        // the name of a directory.
        waiting_.Write(std::make_unique<PartFile>(current_, names_.Siblings(mapped_).Claim(base, ".eml")), entry.bytes,
                       entry.deliveryTime);
    }

    void CloseFolder() override {
        current_.clear();
        waiting_.Flush();
    }

private:
    std::filesystem::path root_;
    FolderNames names_;
    std::vector<std::string> mapped_;
    std::filesystem::path current_;
    PartFileBatch waiting_;  // dropped, not put in place, should no CloseFolder come
};

}  // namespace

std::unique_ptr<MailLayout> CreateEmlLayout(const std::filesystem::path& root) {
    return std::make_unique<EmlLayout>(root);
}

}  // namespace bm::mime
