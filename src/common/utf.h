// Text conversions. All text inside the program is UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bm {

// UTF-16LE bytes to UTF-8. Stops at the first NUL code unit; an odd last
// byte is ignored; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16 code units; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-8 to UTF-16LE bytes, without terminator.
std::string Utf8ToUtf16LeBytes(std::string_view text);

// Appends the UTF-8 form of a code point (invalid ones as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// Windows code page text (1250-1258, 874, 932/936/949/950 partially, 20127,
// 28591, 65001) to UTF-8. Unknown code pages are read as Windows-1252.
std::string CodePageToUtf8(std::span<const std::uint8_t> bytes, unsigned codePage);
// One byte of a single-byte code page as a code point.
char32_t CodePageByteToCodePoint(std::uint8_t byte, unsigned codePage);

// Whether a string is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// Text read from a store, made safe for a terminal or a text report: control
// bytes (ESC among them) and C1 controls become "\xHH", so no folder name or
// subject can drive the terminal. Everything else is kept as it is.
std::string EscapeForTerminal(std::string_view text);

}  // namespace bm
