#include "cli/json_output.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

#include <fmt/format.h>

#include "format/properties.h"

namespace bm::cli {

std::optional<std::string> FileTimeToIso(std::span<const std::uint8_t> filetime) {
    if (filetime.size() != 8) return std::nullopt;
    std::uint64_t ticks = 0;
    for (int i = 7; i >= 0; --i) ticks = (ticks << 8) | filetime[static_cast<std::size_t>(i)];
    const auto seconds = static_cast<std::time_t>(UnixFromFileTime(ticks));
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) == nullptr) return std::nullopt;
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}Z", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                       utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::string DumpJson(const OrderedJson& value) {
    return value.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

void PrintJson(const OrderedJson& value) {
    const std::string text = DumpJson(value);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

std::string_view FolderName(std::string_view path) {
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    const auto slash = path.rfind('\\');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

int FolderDepth(std::string_view path) {
    return std::max(0, static_cast<int>(std::count(path.begin(), path.end(), '\\')) - 1);
}

std::string CountOf(std::size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string SchemaName(std::string_view command) {
    // save's outcome tells a run that lost items ("partial") from one that
    // saved them all since version 2.
    const char* version = command == "save" ? "/2" : "/1";
    return "brightmend." + std::string(command) + version;
}

OrderedJson JsonObject(std::string_view command) {
    OrderedJson out = OrderedJson::object();
    out["schema"] = SchemaName(command);
    return out;
}

OrderedJson FailureJson(std::string_view command, const std::string& message) {
    OrderedJson out = JsonObject(command);
    out["outcome"] = "failed";
    out["message"] = message;
    return out;
}

std::string TrimLabel(std::string_view label) {
    while (!label.empty() && label.back() == ' ') label.remove_suffix(1);
    return std::string(label);
}

}  // namespace bm::cli
