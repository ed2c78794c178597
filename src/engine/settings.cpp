#include "engine/settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace bm {

namespace fs = std::filesystem;

namespace {

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string EnvValue(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
}

// $XDG_<kind>_HOME, or ~/<fallback> when unset or not absolute.
fs::path XdgDirectory(const char* variable, const char* fallback) {
    const std::string xdg = EnvValue(variable);
    if (!xdg.empty() && fs::path(xdg).is_absolute()) return fs::path(xdg);
    const std::string home = EnvValue("HOME");
    return (home.empty() ? fs::current_path() : fs::path(home)) / fallback;
}

}  // namespace

Settings::Settings(fs::path file) : file_(std::move(file)) { Read(); }

Settings::Settings(const Settings& other) : file_(other.file_) {
    const std::lock_guard lock(other.mutex_);
    values_ = other.values_;
}

fs::path Settings::DefaultFilePath() {
    const std::string named = EnvValue("BRIGHTMEND_CONFIG");
    if (!named.empty()) return fs::path(named);
    return XdgDirectory("XDG_CONFIG_HOME", ".config") / "brightmend" / "brightmend.conf";
}

Settings Settings::LoadDefault() { return Settings(DefaultFilePath()); }

void Settings::Read() {
    std::ifstream in(file_);
    if (!in) return;
    std::string line;
    bool inOurSection = true;  // lines before any section count as ours
    while (std::getline(in, line)) {
        const std::string_view t = Trim(line);
        if (t.empty() || t.front() == '#' || t.front() == ';') continue;
        if (t.front() == '[') {
            const auto close = t.find(']');
            inOurSection = close != std::string_view::npos && t.substr(1, close - 1) == kSettingsSection;
            continue;
        }
        const auto eq = t.find('=');
        if (!inOurSection || eq == std::string_view::npos) continue;
        const std::string_view name = Trim(t.substr(0, eq));
        if (name.empty()) continue;
        values_.insert_or_assign(std::string(name), std::string(Trim(t.substr(eq + 1))));
    }
}

std::string Settings::Value(std::string_view name) const {
    const std::lock_guard lock(mutex_);
    const auto it = values_.find(name);
    return it != values_.end() ? it->second : std::string();
}

bool Settings::SetValue(std::string_view name, std::string_view value) {
    const std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(name), std::string(value));
    return Write();
}

bool Settings::Write() const {
    std::error_code ec;
    if (file_.has_parent_path()) fs::create_directories(file_.parent_path(), ec);
    std::ostringstream text;
    text << '[' << kSettingsSection << "]\n";
    for (const auto& [name, value] : values_) text << name << '=' << value << '\n';
    // Written beside the file and renamed over it, so a reader never sees
    // half a file.
    const fs::path temp = fs::path(file_.string() + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text.str();
        if (!out.flush()) return false;
    }
    fs::rename(temp, file_, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

fs::path ResolveAppDir(const Settings& settings) {
    const std::string configured = settings.Value(kSettingFilePath);
    if (!configured.empty()) return fs::path(configured);
    return XdgDirectory("XDG_DATA_HOME", ".local/share") / "brightmend";
}

}  // namespace bm
