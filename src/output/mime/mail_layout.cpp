#include "output/mime/mail_layout.h"

#include "output/mime/layouts.h"
#include "output/pst/props_tags.h"

namespace bm::mime {

MailEntry MailEntryOf(const pst::Message& message, std::string_view bytes) {
    const pst::PropertyBag& props = message.properties;
    MailEntry entry;
    entry.bytes = bytes;
    entry.flags = MailFlagsOf(props);
    entry.deliveryTime = DeliveryTimeOf(props);
    entry.envelopeSender = PartyOf(props, PartyRole::Sender).smtp;
    if (entry.envelopeSender.empty()) entry.envelopeSender = PartyOf(props, PartyRole::SentRepresenting).smtp;
    entry.subject = TextOf(props, pst::tags::kSubject.id, CodePageOf(props)).value_or("");
    return entry;
}

std::unique_ptr<MailLayout> CreateMailLayout(MailFormat format, const std::filesystem::path& root) {
    switch (format) {
        case MailFormat::Mbox:
            return CreateMboxLayout(root);
        case MailFormat::Maildir:
            return CreateMaildirLayout(root);
        case MailFormat::Eml:
            break;
    }
    return CreateEmlLayout(root);
}

}  // namespace bm::mime
