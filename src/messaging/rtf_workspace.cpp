#include "messaging/rtf_workspace.h"

#include <unistd.h>

#include <string>
#include <system_error>

namespace bm {

RtfWorkspace& RtfWorkspace::Shared() {
    static RtfWorkspace workspace;
    return workspace;
}

void RtfWorkspace::SetDirectory(const std::filesystem::path& directory) {
    const std::lock_guard<std::mutex> lock(pathMutex_);
    directory_ = directory;
}

std::filesystem::path RtfWorkspace::TempFilePath() const {
    std::filesystem::path dir;
    {
        const std::lock_guard<std::mutex> lock(pathMutex_);
        dir = directory_;
    }
    if (dir.empty()) {
        std::error_code ec;
        dir = std::filesystem::temp_directory_path(ec) / ("brightmend-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir, ec);
    }
    return dir / kRtfTempFileName;
}

}  // namespace bm
