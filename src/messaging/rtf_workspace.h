// Where RTF bodies are turned into text: the temporary RTF file and the
// shared RTF text buffer. One process-wide workspace; a mapping that
// decompresses an RTF body holds its lock until it has read the text back,
// so mappings on two threads never see each other's body.
#pragma once

#include <filesystem>
#include <mutex>
#include <string>

namespace bm {

class RtfWorkspace {
public:
    static RtfWorkspace& Shared();

    // The folder that holds "temp.rtf" (the installation folder). Until it
    // is set, a folder of this process under the system's temporary folder.
    void SetDirectory(const std::filesystem::path& directory);
    std::filesystem::path TempFilePath() const;

    // Guards the file and the text buffer.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(mutex_); }
    // Use only while holding Lock().
    std::string& textBuffer() { return text_; }

private:
    mutable std::mutex pathMutex_;
    std::filesystem::path directory_;
    std::mutex mutex_;
    std::string text_;
};

inline constexpr const char* kRtfTempFileName = "temp.rtf";

}  // namespace bm
