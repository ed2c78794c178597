#include "output/vcard/vcard_text.h"

#include <algorithm>
#include <cstdint>

namespace bm::vcard {
namespace {

constexpr std::size_t kMaxLineOctets = 75;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string EscapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\': out += "\\\\"; break;
            case ',': out += "\\,"; break;
            case ';': out += "\\;"; break;
            case '\r':
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                out += "\\n";
                break;
            case '\n': out += "\\n"; break;
            default:
                // Other control bytes have no place in a line.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t') continue;
                out += c;
        }
    }
    return out;
}

std::string StructuredValue(const std::vector<std::string>& components) {
    std::string out;
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i > 0) out += ';';
        out += EscapeText(components[i]);
    }
    return out;
}

std::string ParameterValue(std::string_view value) {
    std::string out;
    bool quote = false;
    for (const char c : value) {
        if (c == '^') {
            out += "^^";
        } else if (c == '"') {
            out += "^'";
        } else if (c == '\n') {
            out += "^n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            continue;
        } else {
            quote = quote || c == ':' || c == ';' || c == ',';
            out += c;
        }
    }
    return quote ? '"' + out + '"' : out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string ContentLine(std::string_view nameAndParameters, std::string_view value) {
    const std::string line = std::string(nameAndParameters) + ':' + std::string(value);
    std::string out;
    out.reserve(line.size() + line.size() / kMaxLineOctets * 3 + 2);
    std::size_t lineOctets = 0;
    for (std::size_t i = 0; i < line.size();) {
        std::size_t length = 1;
        while (i + length < line.size() && IsContinuationByte(line[i + length])) ++length;
        // A character never spans a fold; a folded line's leading space
        // counts toward its length.
        if (lineOctets + length > kMaxLineOctets) {
            out += "\r\n ";
            lineOctets = 1;
        }
        out.append(line, i, length);
        lineOctets += length;
        i += length;
    }
    out += "\r\n";
    return out;
}

}  // namespace bm::vcard
