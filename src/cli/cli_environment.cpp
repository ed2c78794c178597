#include "cli/cli_environment.h"

#include <cstdio>
#include <ctime>

#include "engine/shipped_pages.h"

namespace bm::cli {

CliEnvironment::CliEnvironment(bool quietFlag, bool jsonFlag)
    : quiet(quietFlag),
      json(jsonFlag),
      progressMode(ChooseProgressMode(quietFlag)),
      settings(Settings::LoadDefault()),
      appDir(ResolveAppDir(settings)) {
    PrepareAppDir(appDir);
}

const ActivityLog& CliEnvironment::Log() {
    if (!log_) {
        log_ = std::make_unique<ActivityLog>(settings, appDir);
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        log_->WriteStartBanner(local);
    }
    return *log_;
}

void PrintError(const std::string& text) { std::fprintf(stderr, "brightmend-cli: %s\n", text.c_str()); }

std::string NoSuchFolderMessage(const std::string& path) {
    return "No folder \"" + path + "\" in this store (\"brightmend-cli list STORE\" shows its folder paths)";
}

}  // namespace bm::cli
