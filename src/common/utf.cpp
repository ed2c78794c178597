#include "common/utf.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <map>
#include <mutex>

namespace bm {

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// The code point of the units at i (a surrogate pair takes two; a lone
// surrogate reads as U+FFFD), and how many units it took.
template <typename NextUnit>
char32_t CodePointAt(std::size_t count, NextUnit unitAt, std::size_t i, std::size_t& used) {
    const char16_t u = unitAt(i);
    used = 1;
    if (u < 0xD800 || u > 0xDFFF) return u;
    if (u <= 0xDBFF && i + 1 < count) {
        const char16_t v = unitAt(i + 1);
        if (v >= 0xDC00 && v <= 0xDFFF) {
            used = 2;
            return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00);
        }
    }
    return 0xFFFD;
}

std::size_t Utf8Length(char32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }

char* PutUtf8(char* o, char32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

// Two passes: the exact UTF-8 length first, then the bytes, so a long body
// is converted without growing the string step by step. Units below U+0800
// outside the surrogates (nearly all text) take the short way.
template <typename NextUnit>
std::string DecodeUtf16(std::size_t count, NextUnit unitAt) {
    std::size_t end = 0;
    std::size_t length = 0;
    while (end < count) {
        const char16_t u = unitAt(end);
        if (u == 0) break;
        if (u < 0x80) {
            ++length;
            ++end;
        } else if (u < 0x800) {
            length += 2;
            ++end;
        } else {
            std::size_t used = 0;
            length += Utf8Length(CodePointAt(count, unitAt, end, used));
            end += used;
        }
    }
    std::string out(length, '\0');
    char* o = out.data();
    std::size_t i = 0;
    while (i < end) {
        const char16_t u = unitAt(i);
        if (u < 0x80) {
            *o++ = static_cast<char>(u);
            ++i;
        } else if (u < 0x800) {
            *o++ = static_cast<char>(0xC0 | (u >> 6));
            *o++ = static_cast<char>(0x80 | (u & 0x3F));
            ++i;
        } else {
            std::size_t used = 0;
            o = PutUtf8(o, CodePointAt(count, unitAt, i, used));
            i += used;
        }
    }
    return out;
}

// Decodes one UTF-8 sequence at text[i]; advances i. Invalid input gives U+FFFD.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i++]);
    if (b0 < 0x80) return b0;
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) { extra = 1; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { extra = 2; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { extra = 3; cp = b0 & 0x07; min = 0x10000; }
    else return 0xFFFD;
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) return 0xFFFD;
        const auto b = static_cast<unsigned char>(text[i]);
        if ((b & 0xC0) != 0x80) return 0xFFFD;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    return cp;
}

std::string IconvName(unsigned codePage) {
    switch (codePage) {
        case 20127: return "ASCII";
        case 28591: return "ISO-8859-1";
        case 28592: return "ISO-8859-2";
        case 28595: return "ISO-8859-5";
        case 28597: return "ISO-8859-7";
        case 28605: return "ISO-8859-15";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 932: return "CP932";
        case 936: return "CP936";
        case 949: return "CP949";
        case 950: return "CP950";
        case 54936: return "GB18030";
        case 50220: return "ISO-2022-JP";
        case 51932: return "EUC-JP";
        case 51949: return "EUC-KR";
        case 10000: return "MACINTOSH";
        default: return "CP" + std::to_string(codePage);
    }
}

bool IsSingleByte(unsigned codePage) {
    return !(codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 54936 ||
             codePage == 50220 || codePage == 51932 || codePage == 51949 || codePage == 65001);
}

// Conversion with iconv; empty optional-like flag when the code page is unknown.
bool IconvToUtf8(std::span<const std::uint8_t> bytes, unsigned codePage, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.clear();
    std::size_t pos = 0;
    std::array<char, 4096> buf{};
    while (pos < bytes.size()) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data() + pos));
        std::size_t inLeft = bytes.size() - pos;
        char* o = buf.data();
        std::size_t oLeft = buf.size();
        const std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(buf.data(), buf.size() - oLeft);
        pos = bytes.size() - inLeft;
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or incomplete sequence: one replacement, then go on.
            AppendUtf8(out, 0xFFFD);
            ++pos;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return true;
}

bool IconvKnows(unsigned codePage) {
    iconv_t cd = iconv_open("UTF-8", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

using ByteTable = std::array<char32_t, 256>;

const ByteTable& SingleByteTable(unsigned codePage) {
    static std::mutex mutex;
    static std::map<unsigned, ByteTable> tables;
    std::lock_guard lock(mutex);
    auto it = tables.find(codePage);
    if (it != tables.end()) return it->second;
    const unsigned source = IconvKnows(codePage) ? codePage : 1252;  // unknown pages read as Windows-1252
    ByteTable table{};
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t byte = static_cast<std::uint8_t>(b);
        std::string utf8;
        char32_t cp = 0xFFFD;
        if (IconvToUtf8(std::span(&byte, 1), source, utf8) && !utf8.empty()) {
            std::size_t i = 0;
            cp = NextCodePoint(utf8, i);
        } else if (b < 0x80) {
            cp = b;
        }
        table[b] = cp;
    }
    return tables.emplace(codePage, table).first->second;
}

}  // namespace

std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
    return DecodeUtf16(bytes.size() / 2, [&](std::size_t i) {
        return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    });
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return DecodeUtf16(text.size(), [&](std::size_t i) { return text[i]; });
}

namespace {

// Calls put for each UTF-16 code unit of the text.
template <typename Put>
void EachUtf16Unit(std::string_view text, Put put) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            put(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        const char32_t cp = NextCodePoint(text, i);
        if (cp >= 0x10000) {
            put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            put(static_cast<char16_t>(cp));
        }
    }
}

}  // namespace

// UTF-8 never takes fewer bytes than UTF-16 takes units, so text.size()
// units always suffice.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    char16_t* o = out.data();
    EachUtf16Unit(text, [&o](char16_t u) { *o++ = u; });
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string Utf8ToUtf16LeBytes(std::string_view text) {
    std::string out(text.size() * 2, '\0');
    char* o = out.data();
    EachUtf16Unit(text, [&o](char16_t u) {
        *o++ = static_cast<char>(u & 0xFF);
        *o++ = static_cast<char>(u >> 8);
    });
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const char32_t cp = NextCodePoint(text, i);
        if (cp == 0xFFFD && text.substr(start, i - start) != "\xEF\xBF\xBD") return false;
    }
    return true;
}

char32_t CodePageByteToCodePoint(std::uint8_t byte, unsigned codePage) {
    if (codePage == 65001 || !IsSingleByte(codePage)) return byte < 0x80 ? byte : 0xFFFD;
    if (codePage == 0) codePage = 1252;
    return SingleByteTable(codePage)[byte];
}

std::string CodePageToUtf8(std::span<const std::uint8_t> bytes, unsigned codePage) {
    if (codePage == 65001) {
        std::string s(bytes.begin(), bytes.end());
        if (IsValidUtf8(s)) return s;
        codePage = 1252;
    }
    if (codePage == 0) codePage = 1252;
    if (!IsSingleByte(codePage)) {
        std::string out;
        if (IconvToUtf8(bytes, codePage, out)) return out;
        codePage = 1252;
    }
    const ByteTable* table = &SingleByteTable(codePage);
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) AppendUtf8(out, (*table)[b]);
    return out;
}

std::string EscapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto hex = [&out](unsigned char c) {
        static constexpr char kDigits[] = "0123456789abcdef";
        out += "\\x";
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls arrive in UTF-8 as C2 80..C2 9F; they act like ESC sequences.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F) {
            hex(c);
        } else if (c1) {
            hex(static_cast<unsigned char>(text[i + 1]));
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace bm
