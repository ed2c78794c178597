// The text form of vCard lines (RFC 6350): values escaped, lines folded at
// 75 octets without cutting a UTF-8 sequence, CRLF line ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm::vcard {

// A text value with backslash, comma, semicolon and line breaks escaped.
std::string EscapeText(std::string_view text);

// The components of a structured value (N, ADR) each escaped, joined by ';'.
std::string StructuredValue(const std::vector<std::string>& components);

// A parameter value: quoted when it holds ':', ';' or ',', with the
// characters a parameter cannot hold written in RFC 6868's caret form.
std::string ParameterValue(std::string_view value);

// Bytes in base64 (RFC 4648), unbroken: ContentLine folds it.
std::string Base64(std::string_view bytes);

// One content line, "NAME[;params]:value", folded and ended with CRLF.
// `value` is written as given (escape it first where it is text).
std::string ContentLine(std::string_view nameAndParameters, std::string_view value);

}  // namespace bm::vcard
