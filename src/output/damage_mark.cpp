#include "output/damage_mark.h"

#include <algorithm>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "common/utf.h"
#include "output/pst/props_tags.h"

namespace bm {

namespace {

// The strings of a multi-valued string property as stored (a count, the
// offsets of the values, then the values); nothing when the form is broken.
std::vector<std::string> StoredStrings(const pst::Property& p) {
    std::vector<std::string> out;
    const bool wide = p.type == pst::PropType::MvUnicode;
    if (!wide && p.type != pst::PropType::MvString8) return out;
    const ByteReader r(p.bytes);
    const auto count = r.peekAt(0, 4);
    if (!count || *count > p.bytes.size() / 4) return out;
    for (std::size_t i = 0; i < *count; ++i) {
        const auto begin = r.peekAt(4 + 4 * i, 4);
        const auto end = i + 1 < *count ? r.peekAt(8 + 4 * i, 4) : std::optional<std::uint64_t>(p.bytes.size());
        if (!begin || !end || *begin > *end || *end > p.bytes.size()) return {};
        const std::span<const std::uint8_t> value(p.bytes.data() + *begin, static_cast<std::size_t>(*end - *begin));
        std::string text = wide ? Utf16LeToUtf8(value) : std::string(value.begin(), value.end());
        while (!text.empty() && text.back() == '\0') text.pop_back();
        out.push_back(std::move(text));
    }
    return out;
}

}  // namespace

void AddCategory(pst::PropertyBag& properties, std::string_view category) {
    std::vector<std::string> categories;
    if (const pst::Property* kept = properties.Find(pst::KeyOf(pst::named::kKeywords))) categories = StoredStrings(*kept);
    if (std::find(categories.begin(), categories.end(), category) != categories.end()) return;
    categories.emplace_back(category);
    properties.SetMultiString(pst::named::kKeywords, categories);
}

}  // namespace bm
