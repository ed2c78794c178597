// RTF to plain text: a character-level reader with a group stack and a
// keyword table, as RTF's own documentation describes a reader. Only the
// characters of the main text reach the output; destinations (font and
// colour tables, headers, pictures, ...) are skipped, formatting keywords
// change nothing that is output.
//
// Text comes out as UTF-8: bytes of the document (literal 8-bit characters
// and \'hh escapes) are decoded in the document's \ansicpg code page
// (Windows-1252 when it names none), \uN gives the Unicode character and
// skips the \ucN fallback characters that follow it (one by default).
// RTF that encapsulates HTML or plain text (\fromhtml1, \fromtext) keeps its
// HTML tags in {\*\htmltag...} groups, which are skipped like every
// unknown destination marked with \*, so only the readable text remains.
//
// Keywords and parameters are read into bounded buffers; longer ones are
// cut. Nothing in the input can make the reader fail other than by one of
// the result codes below; the text produced before an error stays in `out`.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace bm {

enum RtfTextResult : int {
    kRtfOk = 0,
    kRtfStackUnderflow = 1,   // a "}" with no open group
    kRtfUnmatchedBrace = 3,   // groups still open at the end
    kRtfInvalidHex = 4,       // \' not followed by two hexadecimal digits
    kRtfBadKeywordEntry = 5,  // a keyword table entry of no known kind
    kRtfBadInputState = 6,
    kRtfEndOfFile = 7,        // end of input inside a control word
};

inline constexpr std::size_t kRtfKeywordBuffer = 32;    // letters kept of a control word, with terminator
inline constexpr std::size_t kRtfParameterBuffer = 20;  // characters kept of a parameter, with terminator

// Appends the plain text of `rtf` to `out`; returns an RtfTextResult.
int RtfToText(std::span<const std::uint8_t> rtf, std::string& out);
// The same for an open file, read from its current position to its end.
int RtfToText(std::FILE* in, std::string& out);

}  // namespace bm
