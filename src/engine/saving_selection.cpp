#include "engine/saving_selection.h"

#include "engine/well_known_counts.h"

#include <spawn.h>
#include <sys/wait.h>

#include <system_error>

extern char** environ;

namespace bm {

std::string WithFinalBackslash(std::string_view path) {
    std::string p(path);
    if (!p.ends_with('\\')) p.push_back('\\');
    return p;
}

void SelectedFolders::Select(std::string_view path) {
    std::string p = WithFinalBackslash(path);
    if (set_.insert(p).second) paths_.push_back(std::move(p));
}

void SelectedFolders::SelectTree(std::string_view path, const std::vector<std::string>& folders) {
    const std::string top = WithFinalBackslash(path);
    Select(top);
    for (const std::string& folder : folders)
        if (folder.starts_with(top)) Select(folder);
}

void SelectedFolders::SelectAll(const std::vector<std::string>& folders) {
    // The top folder holds items of its own, saved into the new store's top
    // folder; the folder tree lists only the folders below it.
    Select(kRootFolderPath);
    for (const std::string& folder : folders) Select(folder);
}

void SelectedFolders::Clear() {
    paths_.clear();
    set_.clear();
}

bool SelectedFolders::IsSelected(std::string_view path) const { return set_.contains(path); }

std::filesystem::path MakeSaveDestination(const std::filesystem::path& chosen) {
    std::string dir = chosen.string();
    while (dir.size() > 1 && dir.ends_with('/')) dir.pop_back();
    return std::filesystem::path(dir) / kSaveFolderName;
}

MailClientCheck CheckMailClient(const std::filesystem::path& appDir) {
    const std::filesystem::path program = appDir / kMailClientCheckProgram;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(program, ec)) return MailClientCheck::Passed;
    std::string self = program.string();
    std::string empty;
    char* argv[] = {self.data(), empty.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) return MailClientCheck::Passed;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return MailClientCheck::Passed;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? MailClientCheck::Missing : MailClientCheck::Passed;
}

}  // namespace bm
