// The MIME body of one message: its texts and its attachments as GMime
// parts (see message_to_mime.h for what goes where).
#pragma once

#include <string>

#include "output/mime/gmime_ptr.h"
#include "output/pst/message.h"

namespace bm::mime {

// The message's MIME part tree; `depth` counts the messages around it.
GPtr<GMimeObject> BuildBody(const pst::Message& message, int depth);

// The headers and body of the message; `depth` as above.
GPtr<GMimeMessage> BuildMessage(const pst::Message& message, int depth);

}  // namespace bm::mime
