// brightmend-cli save --resume: a save that was killed (SIGKILL, a crash, a
// power cut) goes on from its journal (see save_journal.h). The journal
// holds the request of that save; it is saved again, the same way, into the
// same store: the parts it finished are kept and the run goes on from the
// first item after them. A source that changed since is refused.
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "cli/cli_runs.h"
#include "cli/commands.h"
#include "engine/journal_request.h"
#include "output/save_to_pst.h"

namespace bm::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCommand = "save";

// The journal that `given` names: the journal itself, the store (or its
// ".partial") it belongs to, or the folder the only unfinished save is in.
std::variant<fs::path, std::string> FindJournal(const std::string& given) {
    std::error_code ec;
    const fs::path path(given);
    if (fs::is_directory(path, ec)) {
        std::vector<fs::path> found;
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().filename().string().ends_with(kJournalSuffix) && it->is_regular_file(ec))
                found.push_back(it->path());
        std::sort(found.begin(), found.end());
        if (found.empty()) return given + ": no save that was cut off is there (no .journal file)";
        if (found.size() > 1) {
            std::string names;
            for (const fs::path& f : found) names += "\n  " + f.string();
            return given + ": several saves were cut off there; name the journal of one:" + names;
        }
        return found.front();
    }
    if (given.ends_with(kJournalSuffix)) return path;
    std::string store = given;
    if (store.ends_with(kPartialSuffix)) store.resize(store.size() - kPartialSuffix.size());
    const fs::path journal = JournalPath(store);
    if (fs::is_regular_file(journal, ec)) return journal;
    return given + ": no journal of a save that was cut off (looked for " + journal.string() + ")";
}

}  // namespace

std::string JournalRequestOf(const CliEnvironment& env, const SaveRequest& request) {
    std::error_code ec;
    JournalRequest out;
    out.store = fs::absolute(request.store, ec).string();
    out.folders = request.folders;
    out.trees = request.trees;
    out.all = request.all;
    out.deepScan = env.deepScan;
    out.recoverDeleted = env.recoverDeleted;
    out.markDamaged = request.markDamaged;
    out.since = request.since;
    out.until = request.until;
    out.senders = request.senders;
    out.classes = request.classes;
    out.dedupe = request.dedupe;
    out.splitSize = request.splitSize;
    return JournalRequestText(out);
}

std::optional<SaveRequest> RequestOfJournal(const std::string& text, bool& deepScan, bool& recoverDeleted) {
    const std::optional<JournalRequest> in = JournalRequestOfText(text);
    if (!in) return std::nullopt;
    SaveRequest request;
    request.store = in->store;
    request.folders = in->folders;
    request.trees = in->trees;
    request.all = in->all;
    deepScan = in->deepScan;
    recoverDeleted = in->recoverDeleted;
    request.markDamaged = in->markDamaged;
    request.since = in->since;
    request.until = in->until;
    request.senders = in->senders;
    request.classes = in->classes;
    request.dedupe = in->dedupe;
    request.splitSize = in->splitSize;
    return request;
}

int RunResumedSave(CliEnvironment& env, const SaveRequest& given) {
    // The journal says what to save and where: nothing else is asked.
    if (!given.store.empty() || !given.to.empty() || !given.output.empty() || given.all || !given.folders.empty() ||
        !given.trees.empty() || !given.splitSize.empty() || !given.splitBy.empty() || !given.since.empty() ||
        !given.until.empty() || !given.senders.empty() || !given.classes.empty() || given.dedupe ||
        given.markDamaged || env.deepScan || env.recoverDeleted)
        return FailCommand(env, kCommand, "--resume takes no STORE, destination or other option: the save goes on as it was asked",
                           kExitUsage);
    const std::variant<fs::path, std::string> found = FindJournal(given.resume);
    if (const std::string* why = std::get_if<std::string>(&found)) return FailCommand(env, kCommand, *why);
    const fs::path journalPath = std::get<fs::path>(found);
    std::variant<SaveJournal, std::string> read = ReadSaveJournal(journalPath);
    if (const std::string* why = std::get_if<std::string>(&read)) return FailCommand(env, kCommand, *why);
    ResumedSave resume{std::move(std::get<SaveJournal>(read)), journalPath};
    bool deepScan = false;
    bool recoverDeleted = false;
    std::optional<SaveRequest> request = RequestOfJournal(resume.journal.request, deepScan, recoverDeleted);
    if (!request) return FailCommand(env, kCommand, journalPath.string() + ": its record of the request is damaged");
    // The same store.
    request->output = resume.journal.firstPart.string();
    env.deepScan = deepScan;
    env.recoverDeleted = recoverDeleted;
    return RunSave(env, *request, &resume);
}

}  // namespace bm::cli
