// A file written whole or not at all: the bytes go to ".part-<name>" in
// the file's own directory, and Commit renames it to <name>. A PartFile
// dropped before Commit removes its temporary file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace bm::mime {

class PartFile {
public:
    // Throws std::system_error when the file cannot be created.
    PartFile(const std::filesystem::path& directory, const std::string& name);
    // Written at `temporary`, renamed to `final` (the Maildir way: tmp/ to cur/).
    PartFile(std::filesystem::path temporary, std::filesystem::path final);
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    ~PartFile();

    void Write(std::string_view bytes);
    // Closes the file, gives it `modified` as its time (Unix seconds) when
    // set, and renames it into place.
    void Commit(std::optional<std::int64_t> modified = std::nullopt);

private:
    [[noreturn]] void Fail(const std::filesystem::path& path);

    std::filesystem::path temporary_;
    std::filesystem::path final_;
    int fd_ = -1;
};

}  // namespace bm::mime
