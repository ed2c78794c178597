#include "output/mime/html_charset.h"

#include <cstring>
#include <string_view>

namespace bm::mime {
namespace {

// ASCII only: the words looked for are ASCII, so no other byte matters.
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Where `word` (lower case, not empty) begins in `text` at or after
// `from`, whatever its case.
std::size_t FindNoCase(std::string_view text, std::string_view word, std::size_t from) {
    const char first = word.front();
    const bool caseless = Lower(first) == first && !(first >= 'a' && first <= 'z');
    for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
        if (caseless) {
            // Most of the text is not the first byte ("<"): memchr skips it.
            const void* hit = std::memchr(text.data() + i, first, text.size() - word.size() + 1 - i);
            if (hit == nullptr) return std::string_view::npos;
            i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        } else if (Lower(text[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < word.size() && Lower(text[i + k]) == word[k]) ++k;
        if (k == word.size()) return i;
    }
    return std::string_view::npos;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

}  // namespace

std::string MetaCharsetToUtf8(std::string html) {
    constexpr std::string_view kUtf8 = "utf-8";
    for (std::size_t at = FindNoCase(html, "<meta", 0); at != std::string::npos; at = FindNoCase(html, "<meta", at + 1)) {
        const std::size_t end = html.find('>', at);
        if (end == std::string::npos) break;
        const std::size_t charset = FindNoCase(std::string_view(html).substr(0, end), "charset", at);
        if (charset == std::string::npos) continue;
        std::size_t i = charset + 7;
        while (i < end && IsSpace(html[i])) ++i;
        if (i >= end || html[i] != '=') continue;
        ++i;
        while (i < end && IsSpace(html[i])) ++i;
        if (i < end && (html[i] == '"' || html[i] == '\'')) ++i;  // charset="x"
        std::size_t valueEnd = i;
        while (valueEnd < end && !IsSpace(html[valueEnd]) && html[valueEnd] != '"' && html[valueEnd] != '\'' &&
               html[valueEnd] != ';' && html[valueEnd] != '/' && html[valueEnd] != '>')
            ++valueEnd;
        if (valueEnd == i) continue;
        html.replace(i, valueEnd - i, kUtf8);
    }
    return html;
}

}  // namespace bm::mime
