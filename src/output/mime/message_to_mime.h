// One source message as an RFC 5322/MIME message, built with GMime.
//
// Headers: a message that holds its transport headers keeps their fields
// (Message-ID, Received, References, List-*, ...) less the Content-* ones,
// since the body is rebuilt; fields the transport headers lack are made from
// the properties. Other messages get From, Sender, Reply-To (the reply
// recipients' entries), To, Cc, Bcc, Date, Subject, Message-ID,
// In-Reply-To and References from their properties.
// An address known only in its Exchange form (no SMTP address stored) is
// written as an empty group under its display name ("Jan Novak:;", which
// RFC 6854 allows in From and Sender too), and the legacy address goes into
// X-Brightmend-Exchange-<Field>: "name <legacy address>", one per party.
//
// Body: plain text and HTML side by side in multipart/alternative; a body
// kept only as RTF gives the HTML it encapsulates, else its plain text (the
// RTF itself is not attached: both readings keep the text, and RTF
// formatting alone is what a mail program would not show anyway).
// Attachments with a content id that the HTML refers to go with it into
// multipart/related; the others follow in multipart/mixed with their names
// (RFC 2231 parameters) and MIME types. Embedded messages become
// message/rfc822 parts, to kMaxEmbeddingDepth; OLE objects
// application/octet-stream. All text is UTF-8, encoded as 7-bit, quoted-
// printable or base64, whichever fits it.
//
// Signed or encrypted mail (class IPM.Note.SMIME...) is written from its
// stored MIME content byte for byte, so its signature still verifies.
#pragma once

#include <string>

#include "output/pst/message.h"

namespace bm::mime {

// The message's bytes, lines ending in LF. Attachment data held as a
// stream is read once: convert a message once.
std::string MessageToMime(const pst::Message& message);

}  // namespace bm::mime
