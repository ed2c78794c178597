// The HTML an RTF body encapsulates (\fromhtml1): Outlook keeps a mail
// received as HTML in RTF form, with the original tags in
// {\*\htmltag...} groups and the RTF-only formatting between \htmlrtf and
// \htmlrtf0. Reading the tags and the unsuppressed text back in order gives
// the HTML again.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace bm::mime {

// The HTML in UTF-8, or nullopt when the RTF encapsulates no HTML.
std::optional<std::string> HtmlFromRtf(std::span<const std::uint8_t> rtf);

}  // namespace bm::mime
