#include "output/attachment_names.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace bm {
namespace {

constexpr std::size_t kNameLimit = 256;
constexpr std::string_view kForbidden = "\"*/:<>?\\|";
constexpr std::string_view kFallbackName = "attachment";

bool IsForbiddenChar(unsigned char c) { return c < 0x20 || kForbidden.find(static_cast<char>(c)) != std::string_view::npos; }

bool IsDeviceName(std::string_view name) {
    if (name.starts_with(".")) return false;
    const std::string_view stem = name.substr(0, name.find('.'));
    std::string upper(stem);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    static constexpr std::array<std::string_view, 5> kPlain = {"AUX", "CON", "NUL", "PRN", "CLOCK$"};
    if (std::find(kPlain.begin(), kPlain.end(), upper) != kPlain.end()) return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
           upper[3] <= '9';
}

// The longest prefix of at most `limit` bytes that ends at a character
// boundary of UTF-8 text.
std::string_view CutAtBoundary(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

bool IsUsableFileName(std::string_view name) {
    if (name.empty() || name.size() >= kNameLimit) return false;
    if (std::any_of(name.begin(), name.end(), [](char c) { return IsForbiddenChar(static_cast<unsigned char>(c)); }))
        return false;
    if (name.find_first_not_of('.') == std::string_view::npos) return false;
    return !IsDeviceName(name);
}

std::string MakeSafeFileName(std::string_view name) {
    if (IsUsableFileName(name)) return std::string(name);
    std::string safe;
    safe.reserve(name.size());
    for (const char c : name) safe.push_back(IsForbiddenChar(static_cast<unsigned char>(c)) ? '_' : c);
    if (safe.find_first_not_of('.') == std::string::npos) return std::string(kFallbackName);
    if (IsDeviceName(safe)) safe.insert(safe.begin(), '_');
    if (safe.size() >= kNameLimit) {
        const std::size_t dot = safe.rfind('.');
        std::string_view extension;
        if (dot != std::string::npos && dot > 0 && safe.size() - dot <= 16) extension = std::string_view(safe).substr(dot);
        const std::string stem(CutAtBoundary(std::string_view(safe).substr(0, safe.size() - extension.size()),
                                             kNameLimit - 1 - extension.size()));
        safe = stem + std::string(extension);
    }
    return safe;
}

std::string UniqueFileName(const std::string& name, std::unordered_set<std::string>& taken) {
    if (taken.insert(name).second) return name;
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    for (std::size_t n = 2;; ++n) {
        std::string candidate = stem + " (" + std::to_string(n) + ")" + extension;
        // Stay below the length limit: shorten the stem, not the number.
        if (candidate.size() >= kNameLimit) {
            const std::string suffix = " (" + std::to_string(n) + ")" + extension;
            candidate = std::string(CutAtBoundary(stem, kNameLimit - 1 - suffix.size())) + suffix;
        }
        if (taken.insert(candidate).second) return candidate;
    }
}

}  // namespace bm
