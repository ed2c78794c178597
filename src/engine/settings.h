// The tool's settings: one INI file of named text values.
//
//   $BRIGHTMEND_CONFIG, when set, names the file; otherwise
//   $XDG_CONFIG_HOME/brightmend/brightmend.conf (default ~/.config/...).
//
// The file holds "name=value" lines, optionally under a "[Brightmend]"
// section; lines starting with '#' or ';' are comments. A value that is
// missing reads as the empty string. The names are the five below.
//
// Values are read once when the object is made and kept in memory; SetValue
// changes the memory copy and writes the whole file again. Any thread may
// read while another writes.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace bm {

inline constexpr std::string_view kSettingFilePath = "FilePath";        // application directory
inline constexpr std::string_view kSettingLogPath = "LogPath";          // directory of the activity log
inline constexpr std::string_view kSettingLanguageFile = "LngFile";
inline constexpr std::string_view kSettingReportFile = "RPTFile";       // report shown by "View Report"
inline constexpr std::string_view kSettingRecoveryLog = "Recovery Log"; // directory of the recovery log

inline constexpr std::string_view kSettingsSection = "Brightmend";

class Settings {
public:
    // Settings that start empty and are written to `file` when changed.
    explicit Settings(std::filesystem::path file);
    // Reads the file named by the environment (see the top of this file).
    static Settings LoadDefault();
    // Where the environment says the settings file is.
    static std::filesystem::path DefaultFilePath();

    Settings(const Settings& other);
    Settings& operator=(const Settings&) = delete;

    std::string Value(std::string_view name) const;
    // Keeps the value and rewrites the file (creating its directory); false
    // when the file cannot be written (the memory copy is changed anyway).
    bool SetValue(std::string_view name, std::string_view value);

    const std::filesystem::path& file() const { return file_; }

private:
    void Read();
    bool Write() const;

    std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> values_;
};

// The application directory: "FilePath" when it is set, otherwise
// $XDG_DATA_HOME/brightmend (default ~/.local/share/brightmend).
std::filesystem::path ResolveAppDir(const Settings& settings);

}  // namespace bm
