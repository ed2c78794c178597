// What a caller hands the store for one item: the message's properties, its
// recipients (one property bag each) and its attachments, whose content is
// bytes in memory, a file, a stream of any size, or another message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/pst/props.h"

namespace bm::pst {

struct Message;

// Fills the span with the next bytes and returns how many it put there.
using StreamReader = std::function<std::size_t(std::span<std::uint8_t>)>;

struct StreamSource {
    std::uint64_t size = 0;
    StreamReader read;
};

// An attachment without data (by reference, or one whose data was lost):
// no PR_ATTACH_DATA_BIN is written.
struct NoContent {};

struct Attachment {
    // File name, MIME type and the like; the writer adds the method,
    // rendering position and data unless they are set here, and always
    // sets the size.
    PropertyBag properties;
    std::variant<std::vector<std::uint8_t>, std::filesystem::path, StreamSource, std::shared_ptr<const Message>,
                 NoContent>
        content;
    // The bytes are an OLE object's storage: written as PR_ATTACH_DATA_OBJ
    // (an object kept in a subnode of the attachment) instead of
    // PR_ATTACH_DATA_BIN.
    bool objectData = false;

    // By value; the name goes into the file name, long file name and
    // display name.
    static Attachment FromBytes(std::string_view fileName, std::vector<std::uint8_t> bytes);
    static Attachment FromFile(std::string_view fileName, std::filesystem::path path);
    static Attachment FromStream(std::string_view fileName, std::uint64_t size, StreamReader read);
    // An embedded message, shown under displayName.
    static Attachment FromMessage(std::string_view displayName, Message message);
};

enum class RtfStorage { Compressed, Uncompressed };

struct Message {
    PropertyBag properties;
    std::vector<PropertyBag> recipients;
    std::vector<Attachment> attachments;

    // Sets PR_RTF_COMPRESSED from RTF text.
    void SetRtfBody(std::string_view rtf, RtfStorage storage = RtfStorage::Compressed);
    // Sets PR_HTML from HTML text (UTF-8) and marks the code page as UTF-8.
    void SetHtmlBody(std::string_view html);
    // A recipient with display name, SMTP address and type (kRecipientTo...).
    void AddRecipient(std::string_view displayName, std::string_view smtpAddress, std::int32_t type);
    // A recipient whose address is of `addressType` ("SMTP", "EX", ...);
    // `smtpAddress` is written as PR_SMTP_ADDRESS when not empty.
    void AddRecipient(std::string_view displayName, std::string_view address, std::string_view addressType,
                      std::string_view smtpAddress, std::int32_t type);
};

}  // namespace bm::pst
