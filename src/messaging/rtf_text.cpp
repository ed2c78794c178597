#include "messaging/rtf_text.h"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/byte_reader.h"
#include "common/utf.h"

namespace bm {

namespace {

enum class KeywordKind : std::uint8_t { Character, Destination, Property, Special, Unicode };

// Special keywords and the Unicode pair, by index.
enum SpecialAction : int { kBin, kHex, kSkipUnknown, kUnicodeChar, kUnicodeSkip, kAnsiCodePage };

struct Keyword {
    std::string_view text;
    int defaultParameter;
    bool useDefault;
    KeywordKind kind;
    int index;  // character value, special action, or property number
};

constexpr int kNbsp = 0xA0;
constexpr long long kParameterLimit = 1'000'000'000'000LL;

// Looked up by exact, case-sensitive comparison; the first entry wins.
constexpr Keyword kKeywords[] = {
    // Property keywords: formatting only, never output.
    {"b", 1, false, KeywordKind::Property, 0},
    {"ul", 1, false, KeywordKind::Property, 1},
    {"i", 1, false, KeywordKind::Property, 2},
    {"li", 0, false, KeywordKind::Property, 3},
    {"ri", 0, false, KeywordKind::Property, 4},
    {"fi", 0, false, KeywordKind::Property, 5},
    {"cols", 1, false, KeywordKind::Property, 6},
    {"sbknone", 0, true, KeywordKind::Property, 7},
    {"sbkcol", 1, true, KeywordKind::Property, 7},
    {"sbkeven", 2, true, KeywordKind::Property, 7},
    {"sbkodd", 3, true, KeywordKind::Property, 7},
    {"sbkpage", 4, true, KeywordKind::Property, 7},
    {"pgnx", 0, false, KeywordKind::Property, 8},
    {"pgny", 0, false, KeywordKind::Property, 9},
    {"pgndec", 0, true, KeywordKind::Property, 10},
    {"pgnucrm", 1, true, KeywordKind::Property, 10},
    {"pgnlcrm", 2, true, KeywordKind::Property, 10},
    {"pgnucltr", 3, true, KeywordKind::Property, 10},
    {"pgnlcltr", 4, true, KeywordKind::Property, 10},
    {"qc", 1, true, KeywordKind::Property, 11},
    {"ql", 0, true, KeywordKind::Property, 11},
    {"qr", 2, true, KeywordKind::Property, 11},
    {"qj", 3, true, KeywordKind::Property, 11},
    {"paperw", 12240, false, KeywordKind::Property, 12},
    {"paperh", 15480, false, KeywordKind::Property, 13},
    {"margl", 1800, false, KeywordKind::Property, 14},
    {"margr", 1800, false, KeywordKind::Property, 15},
    {"margt", 1440, false, KeywordKind::Property, 16},
    {"margb", 1440, false, KeywordKind::Property, 17},
    {"pgnstart", 1, true, KeywordKind::Property, 18},
    {"facingp", 1, true, KeywordKind::Property, 19},
    {"landscape", 1, true, KeywordKind::Property, 20},
    // \uN is the Unicode escape, \ucN the count of its fallback characters;
    // \ansicpgN names the code page of the document's 8-bit text.
    {"u", 0, false, KeywordKind::Unicode, kUnicodeChar},
    {"uc", 1, false, KeywordKind::Unicode, kUnicodeSkip},
    {"ansicpg", 1252, false, KeywordKind::Unicode, kAnsiCodePage},
    // Characters.
    {"par", 0, false, KeywordKind::Character, '\n'},
    {"line", 0, false, KeywordKind::Character, '\n'},
    {"tab", 0, false, KeywordKind::Character, '\t'},
    {"ldblquote", 0, false, KeywordKind::Character, '"'},
    {"rdblquote", 0, false, KeywordKind::Character, '"'},
    {"lquote", 0, false, KeywordKind::Character, 0x2018},
    {"rquote", 0, false, KeywordKind::Character, 0x2019},
    {"emdash", 0, false, KeywordKind::Character, 0x2014},
    {"endash", 0, false, KeywordKind::Character, 0x2013},
    {"bullet", 0, false, KeywordKind::Character, 0x2022},
    {"~", 0, false, KeywordKind::Character, kNbsp},
    {"_", 0, false, KeywordKind::Character, '-'},
    {"{", 0, false, KeywordKind::Character, '{'},
    {"}", 0, false, KeywordKind::Character, '}'},
    {"\\", 0, false, KeywordKind::Character, '\\'},
    // Specials.
    {"bin", 0, false, KeywordKind::Special, kBin},
    {"'", 0, false, KeywordKind::Special, kHex},
    {"*", 0, false, KeywordKind::Special, kSkipUnknown},
    // Destinations: the rest of the group is skipped.
    {"author", 0, false, KeywordKind::Destination, 0},
    {"buptim", 0, false, KeywordKind::Destination, 0},
    {"colortbl", 0, false, KeywordKind::Destination, 0},
    {"comment", 0, false, KeywordKind::Destination, 0},
    {"creatim", 0, false, KeywordKind::Destination, 0},
    {"doccomm", 0, false, KeywordKind::Destination, 0},
    {"fonttbl", 0, false, KeywordKind::Destination, 0},
    {"footer", 0, false, KeywordKind::Destination, 0},
    {"footerf", 0, false, KeywordKind::Destination, 0},
    {"footerl", 0, false, KeywordKind::Destination, 0},
    {"footerr", 0, false, KeywordKind::Destination, 0},
    {"footnote", 0, false, KeywordKind::Destination, 0},
    {"ftncn", 0, false, KeywordKind::Destination, 0},
    {"ftnsep", 0, false, KeywordKind::Destination, 0},
    {"ftnsepc", 0, false, KeywordKind::Destination, 0},
    {"header", 0, false, KeywordKind::Destination, 0},
    {"headerf", 0, false, KeywordKind::Destination, 0},
    {"headerl", 0, false, KeywordKind::Destination, 0},
    {"headerr", 0, false, KeywordKind::Destination, 0},
    {"info", 0, false, KeywordKind::Destination, 0},
    {"keywords", 0, false, KeywordKind::Destination, 0},
    {"operator", 0, false, KeywordKind::Destination, 0},
    {"pict", 0, false, KeywordKind::Destination, 0},
    {"printim", 0, false, KeywordKind::Destination, 0},
    {"private1", 0, false, KeywordKind::Destination, 0},
    {"revtim", 0, false, KeywordKind::Destination, 0},
    {"rxe", 0, false, KeywordKind::Destination, 0},
    {"stylesheet", 0, false, KeywordKind::Destination, 0},
    {"subject", 0, false, KeywordKind::Destination, 0},
    {"tc", 0, false, KeywordKind::Destination, 0},
    {"title", 0, false, KeywordKind::Destination, 0},
    {"txe", 0, false, KeywordKind::Destination, 0},
    {"xe", 0, false, KeywordKind::Destination, 0},
    // HTML kept inside RTF; normally marked with \*, skipped even when not.
    {"htmltag", 0, false, KeywordKind::Destination, 0},
    {"mhtmltag", 0, false, KeywordKind::Destination, 0},
};

const Keyword* FindKeyword(std::string_view text) {
    static const std::unordered_map<std::string_view, const Keyword*> index = [] {
        std::unordered_map<std::string_view, const Keyword*> m;
        for (const Keyword& k : kKeywords) m.try_emplace(k.text, &k);
        return m;
    }();
    const auto it = index.find(text);
    return it == index.end() ? nullptr : it->second;
}

enum class Destination : std::uint8_t { Normal, Skip };
enum class Input : std::uint8_t { Normal, Binary, Hex };

struct GroupState {
    Destination destination = Destination::Normal;
    Input input = Input::Normal;
    int unicodeSkip = 1;  // \ucN in force
};

bool IsLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class RtfReader {
public:
    RtfReader(std::span<const std::uint8_t> rtf, std::string& out) : in_(rtf), out_(out) {}

    int Run() {
        int rc = Loop();
        FlushBytes();
        return rc;
    }

private:
    int Loop() {
        while (in_.remaining() > 0) {
            const std::uint8_t c = in_.readU8();
            if (state_.input == Input::Binary) {
                OutputByte(c);
                continue;
            }
            switch (c) {
                case '{':
                    stack_.push_back(state_);
                    state_.input = Input::Normal;
                    fallbackLeft_ = 0;
                    break;
                case '}':
                    if (stack_.empty()) return kRtfStackUnderflow;
                    state_ = stack_.back();
                    stack_.pop_back();
                    fallbackLeft_ = 0;
                    break;
                case '\\': {
                    const int rc = ControlWord();
                    if (rc != kRtfOk) return rc;
                    break;
                }
                case '\r':
                case '\n':
                    break;
                default:
                    if (state_.input == Input::Normal) {
                        OutputByte(c);
                    } else if (state_.input == Input::Hex) {
                        const int digit = HexValue(c);
                        if (digit < 0) return kRtfInvalidHex;
                        hexValue_ = hexValue_ * 16 + digit;
                        if (++hexDigits_ == 2) {
                            state_.input = Input::Normal;
                            OutputByte(static_cast<std::uint8_t>(hexValue_));
                        }
                    } else {
                        return kRtfBadInputState;
                    }
                    break;
            }
        }
        if (!stack_.empty()) return kRtfUnmatchedBrace;
        return kRtfOk;
    }

    int ControlWord() {
        if (in_.remaining() == 0) return kRtfEndOfFile;
        std::uint8_t c = in_.readU8();
        std::string keyword;
        bool hasParameter = false;
        long long parameter = 0;
        if (!IsLetter(c)) {
            keyword.push_back(static_cast<char>(c));
        } else {
            while (true) {
                if (keyword.size() + 1 < kRtfKeywordBuffer) keyword.push_back(static_cast<char>(c));
                if (in_.remaining() == 0) return Translate(keyword, false, 0);
                c = in_.readU8();
                if (!IsLetter(c)) break;
            }
            bool negative = false;
            std::size_t kept = 0;
            if (c == '-') {
                negative = true;
                ++kept;
                if (in_.remaining() == 0) return kRtfEndOfFile;
                c = in_.readU8();
            }
            bool atEnd = false;
            while (IsDigit(c)) {
                hasParameter = true;
                if (kept + 1 < kRtfParameterBuffer) {
                    // Digits past what any parameter means saturate the value.
                    if (parameter < kParameterLimit) parameter = parameter * 10 + (c - '0');
                    ++kept;
                }
                if (in_.remaining() == 0) {
                    atEnd = true;
                    break;
                }
                c = in_.readU8();
            }
            if (negative) parameter = -parameter;
            // The delimiter is consumed when it is a space, else read again.
            if (!atEnd && c != ' ') in_.seek(in_.position() - 1);
        }
        return Translate(keyword, hasParameter, parameter);
    }

    int Translate(const std::string& text, bool hasParameter, long long parameter) {
        const Keyword* keyword = FindKeyword(text);
        if (keyword == nullptr) {
            if (skipUnknown_) state_.destination = Destination::Skip;
            skipUnknown_ = false;
            EndFallback();
            return kRtfOk;
        }
        skipUnknown_ = false;
        if (!(keyword->kind == KeywordKind::Special && keyword->index == kHex)) EndFallback();
        switch (keyword->kind) {
            case KeywordKind::Character:
                OutputCodePoint(static_cast<char32_t>(keyword->index));
                return kRtfOk;
            case KeywordKind::Destination:
                state_.destination = Destination::Skip;
                return kRtfOk;
            case KeywordKind::Property:
                return kRtfOk;  // formatting never changes the text
            case KeywordKind::Unicode:
                Unicode(keyword->index, hasParameter, hasParameter ? parameter : keyword->defaultParameter);
                return kRtfOk;
            case KeywordKind::Special:
                return Special(keyword->index, hasParameter ? parameter : 0);
        }
        return kRtfBadKeywordEntry;
    }

    int Special(int action, long long parameter) {
        switch (action) {
            case kBin:
                if (parameter > 0) {
                    binaryLeft_ = static_cast<std::uint64_t>(parameter);
                    state_.input = Input::Binary;
                }
                return kRtfOk;
            case kHex:
                if (state_.destination == Destination::Skip) return kRtfOk;
                state_.input = Input::Hex;
                hexValue_ = 0;
                hexDigits_ = 0;
                return kRtfOk;
            case kSkipUnknown:
                if (state_.destination == Destination::Skip) return kRtfOk;
                skipUnknown_ = true;
                return kRtfOk;
            default:
                return kRtfBadKeywordEntry;
        }
    }

    void Unicode(int action, bool hasParameter, long long parameter) {
        if (action == kAnsiCodePage) {
            FlushBytes();
            if (parameter > 0 && parameter < 65536) codePage_ = static_cast<unsigned>(parameter);
            return;
        }
        if (action == kUnicodeSkip) {
            if (parameter >= 0 && parameter < 256) state_.unicodeSkip = static_cast<int>(parameter);
            return;
        }
        // \u without a number is not the Unicode escape.
        if (!hasParameter || state_.destination == Destination::Skip) return;
        // A signed 16-bit number: negative values stand for units above 0x7FFF.
        auto unit = static_cast<char32_t>(parameter < 0 ? (parameter + 65536) & 0xFFFF : parameter);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            FlushBytes();
            highSurrogate_ = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF && highSurrogate_ != 0) {
            const char32_t cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00);
            highSurrogate_ = 0;
            OutputCodePoint(cp);
        } else {
            OutputCodePoint(unit);
        }
        fallbackLeft_ = state_.unicodeSkip;
    }

    // A control word other than \' ends the fallback characters of \uN.
    void EndFallback() { fallbackLeft_ = 0; }

    // One byte of the document: text, a \'hh escape, or binary data.
    void OutputByte(std::uint8_t c) {
        if (state_.input == Input::Binary) {
            if (--binaryLeft_ == 0) state_.input = Input::Normal;
        }
        if (c == 0 || state_.destination == Destination::Skip) return;
        if (fallbackLeft_ > 0) {
            --fallbackLeft_;
            return;
        }
        pendingBytes_.push_back(c);
    }

    void OutputCodePoint(char32_t cp) {
        if (state_.destination == Destination::Skip || cp == 0) return;
        FlushBytes();
        if (highSurrogate_ != 0 && !(cp >= 0xDC00 && cp <= 0xDFFF)) {
            AppendUtf8(out_, 0xFFFD);  // a high surrogate left alone
            highSurrogate_ = 0;
        }
        AppendUtf8(out_, cp);
    }

    // Document bytes are decoded together, so a double-byte code page keeps
    // its character pairs.
    void FlushBytes() {
        if (pendingBytes_.empty()) return;
        out_ += CodePageToUtf8(pendingBytes_, codePage_);
        pendingBytes_.clear();
    }

    ByteReader in_;
    std::string& out_;
    GroupState state_;
    std::vector<GroupState> stack_;
    bool skipUnknown_ = false;
    std::uint64_t binaryLeft_ = 0;
    int hexValue_ = 0;
    int hexDigits_ = 0;
    int fallbackLeft_ = 0;
    char32_t highSurrogate_ = 0;
    unsigned codePage_ = 1252;
    std::vector<std::uint8_t> pendingBytes_;
};

}  // namespace

int RtfToText(std::span<const std::uint8_t> rtf, std::string& out) {
    RtfReader reader(rtf, out);
    return reader.Run();
}

int RtfToText(std::FILE* in, std::string& out) {
    if (in == nullptr) return kRtfOk;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[8192];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    return RtfToText(bytes, out);
}

}  // namespace bm
