#include "output/mime/rtf_html.h"

#include <string_view>
#include <vector>

#include "common/byte_reader.h"
#include "output/mime/message_fields.h"

namespace bm::mime {
namespace {

// Deeper nesting than this is no real mail; the groups beyond it are read
// as if they were one.
constexpr std::size_t kMaxGroups = 512;
constexpr std::size_t kMaxHeaderScan = 1024;

struct Group {
    bool skip = false;        // a destination whose text is not HTML (font table, ...)
    bool htmlTag = false;     // inside {\*\htmltag...}: always output
    bool suppressed = false;  // \htmlrtf on: RTF-only text
    int unicodeSkip = 1;      // \ucN
};

class Decoder {
public:
    explicit Decoder(std::span<const std::uint8_t> rtf) : in_(rtf) { groups_.push_back({}); }

    std::string Run() {
        while (in_.remaining() > 0) {
            const std::uint8_t c = in_.readU8();
            if (c == '{') {
                if (groups_.size() < kMaxGroups) groups_.push_back(groups_.back());
                pendingDestination_ = false;
            } else if (c == '}') {
                if (groups_.size() > 1) groups_.pop_back();
            } else if (c == '\\') {
                ControlWord();
            } else if (c == '\r' || c == '\n') {
                // Line breaks of the RTF file itself are no text.
            } else {
                Byte(c);
            }
        }
        Flush();
        return std::move(out_);
    }

private:
    Group& top() { return groups_.back(); }
    bool emitting() {
        const Group& g = groups_.back();
        return !g.skip && (g.htmlTag || !g.suppressed);
    }
    void Byte(std::uint8_t c) {
        if (skipFallback_ > 0) {
            --skipFallback_;
            return;
        }
        if (emitting()) bytes_.push_back(static_cast<char>(c));
    }
    void Flush() {
        if (bytes_.empty()) return;
        out_ += ToUtf8(bytes_, charset_);
        bytes_.clear();
    }
    void Text(std::string_view utf8) {
        if (!emitting()) return;
        Flush();
        out_ += utf8;
    }

    void ControlWord() {
        if (in_.remaining() == 0) return;
        const auto next = static_cast<char>(in_.peekAt(in_.position(), 1).value_or(0));
        if (!IsAlpha(next)) {
            in_.skip(1);
            ControlSymbol(next);
            return;
        }
        std::string word;
        while (in_.remaining() > 0 && word.size() < 32) {
            const auto c = static_cast<char>(*in_.peekAt(in_.position(), 1));
            if (!IsAlpha(c)) break;
            word += c;
            in_.skip(1);
        }
        bool hasParam = false;
        long param = 0;
        bool negative = false;
        if (in_.remaining() > 0 && *in_.peekAt(in_.position(), 1) == '-') {
            negative = true;
            in_.skip(1);
        }
        for (int digits = 0; in_.remaining() > 0 && digits < 10; ++digits) {
            const auto c = static_cast<char>(*in_.peekAt(in_.position(), 1));
            if (c < '0' || c > '9') break;
            param = param * 10 + (c - '0');
            hasParam = true;
            in_.skip(1);
        }
        if (negative) param = -param;
        if (in_.remaining() > 0 && *in_.peekAt(in_.position(), 1) == ' ') in_.skip(1);
        Keyword(word, hasParam, param);
    }

    void ControlSymbol(char c) {
        switch (c) {
            case '\'': {
                if (in_.remaining() < 2) return;
                const auto hex = in_.readBytes(2);
                const int hi = HexValue(static_cast<char>(hex[0]));
                const int lo = HexValue(static_cast<char>(hex[1]));
                if (hi >= 0 && lo >= 0) Byte(static_cast<std::uint8_t>(hi * 16 + lo));
                return;
            }
            case '*':
                pendingDestination_ = true;
                return;
            case '{':
            case '}':
            case '\\':
                Byte(static_cast<std::uint8_t>(c));
                return;
            case '~':
                Text("\xC2\xA0");
                return;
            case '\r':
            case '\n':
                Text("\r\n");
                return;
            default:
                return;
        }
    }

    void Keyword(const std::string& word, bool hasParam, long param) {
        const bool destination = pendingDestination_;
        pendingDestination_ = false;
        if (word == "fromhtml") {
            fromHtml_ = !hasParam || param != 0;
        } else if (word == "ansicpg" && hasParam && param > 0) {
            Flush();
            charset_ = CharsetOfCodePage(static_cast<std::uint32_t>(param));
        } else if (word == "htmltag" || word == "mhtmltag") {
            top().htmlTag = true;
            top().skip = false;
        } else if (word == "htmlrtf") {
            top().suppressed = !hasParam || param != 0;
        } else if (word == "par" || word == "line") {
            Text("\r\n");
        } else if (word == "tab") {
            Text("\t");
        } else if (word == "uc" && hasParam) {
            top().unicodeSkip = static_cast<int>(param < 0 ? 0 : param > 8 ? 8 : param);
        } else if (word == "u" && hasParam) {
            long code = param < 0 ? param + 65536 : param;
            if (code <= 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
            Text(Utf8Of(static_cast<std::uint32_t>(code)));
            skipFallback_ = top().unicodeSkip;
        } else if (destination || word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info" ||
                   word == "pict" || word == "header" || word == "footer") {
            if (!top().htmlTag) top().skip = true;
        }
    }

    static bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static int HexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    static std::string Utf8Of(std::uint32_t c) {
        std::string s;
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
        return s;
    }

public:
    bool fromHtml_ = false;

private:
    ByteReader in_;
    std::vector<Group> groups_;
    std::string bytes_;
    std::string out_;
    std::string charset_ = "CP1252";
    bool pendingDestination_ = false;
    int skipFallback_ = 0;
};

}  // namespace

std::optional<std::string> HtmlFromRtf(std::span<const std::uint8_t> rtf) {
    // \fromhtml1 sits in the document's header, before any text.
    const std::string_view head(reinterpret_cast<const char*>(rtf.data()), std::min(rtf.size(), kMaxHeaderScan));
    if (head.find("\\fromhtml") == std::string_view::npos) return std::nullopt;
    Decoder decoder(rtf);
    std::string html = decoder.Run();
    if (!decoder.fromHtml_) return std::nullopt;
    return html;
}

}  // namespace bm::mime
