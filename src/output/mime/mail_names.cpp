#include "output/mime/mail_names.h"

#include <glib.h>

#include <memory>
#include <utility>

namespace bm::mime {
namespace {

std::string Lower(std::string_view s) {
    std::unique_ptr<gchar, decltype(&g_free)> folded(g_utf8_casefold(s.data(), static_cast<gssize>(s.size())), &g_free);
    return folded.get();
}

bool IsReservedDeviceName(std::string_view name) {
    const std::string stem = Lower(name.substr(0, name.find('.')));
    static const char* const kReserved[] = {"con", "prn", "aux", "nul", "clock$"};
    for (const char* r : kReserved)
        if (stem == r) return true;
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '0' && stem[3] <= '9';
}

// The longest prefix of `s` of at most `max` bytes that ends on a
// character boundary.
std::string_view CutUtf8(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

}  // namespace

std::string SafeName(std::string_view name, std::size_t maxBytes, std::string_view extra) {
    std::unique_ptr<gchar, decltype(&g_free)> valid(g_utf8_make_valid(name.data(), static_cast<gssize>(name.size())),
                                                    &g_free);
    std::string out;
    for (const char c : std::string_view(valid.get())) {
        const auto u = static_cast<unsigned char>(c);
        const bool bad = u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos ||
                         extra.find(c) != std::string_view::npos;
        out += bad ? '_' : c;
    }
    // Leading dots hide a file (or name "." and ".."); trailing dots and
    // spaces vanish on Windows file systems.
    while (!out.empty() && (out.front() == '.' || out.front() == ' ')) out.erase(0, 1);
    out = std::string(CutUtf8(out, maxBytes));
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
    if (out.empty()) return "_";
    if (IsReservedDeviceName(out)) {
        // Built anew rather than inserted into: the optimiser of a Release
        // build warns of overlapping copies in insert(0, ...).
        std::string prefixed(1, '_');
        prefixed += out;
        out = std::move(prefixed);
    }
    return out;
}

std::string UniqueNames::Claim(const std::string& base, std::string_view extension) {
    std::string name = base + std::string(extension);
    for (int n = 2; !taken_.insert(Lower(name)).second; ++n)
        name = base + " (" + std::to_string(n) + ")" + std::string(extension);
    return name;
}

std::vector<std::string> FolderNames::Map(const std::vector<std::string>& path) {
    if (path.empty()) return {};
    if (const auto found = mapped_.find(path); found != mapped_.end()) return found->second;
    const std::vector<std::string> parent = Map({path.begin(), path.end() - 1});
    std::string name = SafeName(path.back(), kMaxNameBytes, extra_);
    for (const std::string& suffix : reservedSuffixes_)
        if (Lower(name).ends_with(suffix)) name += '_';
    std::vector<std::string> mapped = parent;
    mapped.push_back(siblings_[parent].Claim(name));
    mapped_.emplace(path, mapped);
    return mapped;
}

}  // namespace bm::mime
