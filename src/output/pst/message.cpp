#include "output/pst/message.h"

#include "output/pst/message_rtf.h"
#include "output/pst/props_tags.h"

namespace bm::pst {

namespace {
constexpr std::int32_t kCodePageUtf8 = 65001;
constexpr std::int32_t kObjectTypeMailUser = 6;
constexpr std::int32_t kDisplayTypeMailUser = 0;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Attachment Named(std::string_view fileName) {
    Attachment a;
    a.properties.SetString(tags::kAttachFilename, fileName);
    a.properties.SetString(tags::kAttachLongFilename, fileName);
    a.properties.SetString(tags::kDisplayName, fileName);
    return a;
}
}  // namespace

Attachment Attachment::FromBytes(std::string_view fileName, std::vector<std::uint8_t> bytes) {
    Attachment a = Named(fileName);
    a.content = std::move(bytes);
    return a;
}

Attachment Attachment::FromFile(std::string_view fileName, std::filesystem::path path) {
    Attachment a = Named(fileName);
    a.content = std::move(path);
    return a;
}

Attachment Attachment::FromStream(std::string_view fileName, std::uint64_t size, StreamReader read) {
    Attachment a = Named(fileName);
    a.content = StreamSource{size, std::move(read)};
    return a;
}

Attachment Attachment::FromMessage(std::string_view displayName, Message message) {
    Attachment a;
    a.properties.SetString(tags::kDisplayName, displayName);
    a.content = std::make_shared<const Message>(std::move(message));
    return a;
}

void Message::SetRtfBody(std::string_view rtf, RtfStorage storage) {
    const auto bytes = AsBytes(rtf);
    properties.SetBinary(tags::kRtfCompressed,
                         storage == RtfStorage::Compressed ? CompressRtf(bytes) : StoreRtfUncompressed(bytes));
    properties.SetBool(tags::kRtfInSync, true);
}

void Message::SetHtmlBody(std::string_view html) {
    properties.SetBinary(tags::kHtml, AsBytes(html));
    properties.SetInt32(tags::kInternetCodepage, kCodePageUtf8);
}

void Message::AddRecipient(std::string_view displayName, std::string_view smtpAddress, std::int32_t type) {
    AddRecipient(displayName, smtpAddress, "SMTP", smtpAddress, type);
}

void Message::AddRecipient(std::string_view displayName, std::string_view address, std::string_view addressType,
                           std::string_view smtpAddress, std::int32_t type) {
    PropertyBag r;
    r.SetInt32(tags::kRecipientType, type);
    r.SetString(tags::kDisplayName, displayName);
    r.SetString(tags::kAddrType, addressType.empty() ? std::string_view("SMTP") : addressType);
    r.SetString(tags::kEmailAddress, address);
    if (!smtpAddress.empty()) r.SetString(tags::kSmtpAddress, smtpAddress);
    r.SetString(tags::kRecipientDisplayName, displayName);
    r.SetInt32(tags::kObjectType, kObjectTypeMailUser);
    r.SetInt32(tags::kDisplayType, kDisplayTypeMailUser);
    recipients.push_back(std::move(r));
}

}  // namespace bm::pst
