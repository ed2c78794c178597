#include "output/mime/mail_layout.h"

#include "output/mime/layouts.h"

namespace bm::mime {

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
