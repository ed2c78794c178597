// The HTML body is written in UTF-8 whatever charset it was stored in, so
// the charset its <meta> tags name (<meta charset="windows-1252">, or
// <meta http-equiv="Content-Type" content="text/html; charset=...">) must
// say so too: a browser or mail program that follows the tag over the MIME
// header would read the text wrongly, and so would anyone who saves the
// part as a file.
#pragma once

#include <string>

namespace bm::mime {

// The HTML with the charset of each <meta> tag made "utf-8".
std::string MetaCharsetToUtf8(std::string html);

}  // namespace bm::mime
