#include "output/mime/html_charset.h"

#include <cctype>
#include <string_view>

namespace bm::mime {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Where `word` begins in `text` at or after `from`, whatever its case.
std::size_t FindNoCase(std::string_view text, std::string_view word, std::size_t from) {
    for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
        std::size_t k = 0;
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
