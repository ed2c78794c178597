// brightmend-cli search: the store-file search, one line per file with the
// four columns of the search page's result list, separated by tabs (or
// one JSON object with --json).
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/json_output.h"
#include "engine/file_finder.h"
#include "engine/log_texts.h"

namespace bm::cli {

int RunSearch(CliEnvironment& env, const std::string& directory, bool subdirectories) {
    std::error_code ec;
    if (directory.empty() || !std::filesystem::is_directory(directory, ec)) {
        PrintError(std::string(kSearchInvalidDirectory));
        if (env.json) PrintJson(FailureJson("search", std::string(kSearchInvalidDirectory)));
        return kExitFailure;
    }
    LogSearchStarted(env.Log(), directory);

    ProgressReporter progress(env.progressMode, "Searching");
    CFileFinder finder;
    FileFinderOptions options;
    options.baseDirectory = directory;
    options.searchSubdirectories = subdirectories;
    std::size_t found = 0;
    OrderedJson files = OrderedJson::array();
    {
        InterruptStop interrupt(finder.stopFlag());
        found = finder.FindFiles(
            options,
            [&](std::size_t foundSoFar, const std::string& dir) { progress.Status(fmt::format("({}) - {}", foundSoFar, dir)); },
            [&](const std::string& path) {
                const FoundFileRow row = DescribeFoundFile(path);
                if (env.json) {
                    files.push_back(OrderedJson{{"path", path},
                                                {"name", row.name},
                                                {"inFolder", row.inFolder},
                                                {"size", row.size},
                                                {"modified", row.modified}});
                    return;
                }
                std::printf("%s\t%s\t%s\t%s\n", row.name.c_str(), row.inFolder.c_str(), row.size.c_str(),
                            row.modified.c_str());
                std::fflush(stdout);
            });
    }
    progress.Status(fmt::format("{} items found", found));  // the search page's own words
    progress.Finish();
    const bool stopped = InterruptStop::Received();
    if (env.json) {
        OrderedJson out = JsonObject("search");
        out["outcome"] = stopped ? "aborted" : "completed";
        out["message"] = stopped ? "Search stopped before the end of the directory tree" : "";
        out["directory"] = directory;
        out["files"] = std::move(files);
        PrintJson(out);
    }
    return stopped ? kExitInterrupted : kExitSuccess;
}

}  // namespace bm::cli
