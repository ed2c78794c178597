// A store of real-looking mail for the benchmarks, written with the
// project's writer in a child process: of every 130 mails, 105 in the
// Inbox and the rest over 25 folders below it; half with an HTML and a
// plain body (some HTML with an inline image), 15% with an RTF body only
// (RTF that encapsulates HTML), the rest plain text; one mail in 16 with
// one to three attachments of a few KB to about 400 KB (most small, a few
// large); besides, 200 appointments and 300 contacts. The same count
// always gives the same store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "output/pst/props_tags.h"
#include "output/pst/store_writer.h"

namespace bmbench {

namespace mix {

// A small, fixed generator, so that the store is the same on every machine.
struct Random {
    std::uint64_t state;
    std::uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::uint64_t Below(std::uint64_t n) { return Next() % n; }
};

inline const char* const kWords[] = {"quarterly", "figures", "review",  "meeting", "attached", "please",  "check",
                                     "totals",    "before",  "Friday",  "budget",  "project",  "update",  "team",
                                     "customer",  "invoice", "contract", "draft",  "schedule", "release", "notes"};

inline std::string Sentence(Random& r, std::size_t words) {
    std::string s;
    for (std::size_t i = 0; i < words; ++i) {
        if (i > 0) s += ' ';
        s += kWords[r.Below(std::size(kWords))];
    }
    return s + ". ";
}

// Attachment sizes: most a few KB, one in eight tens of KB, one in 40 up to ~400 KB.
inline std::size_t AttachmentSize(Random& r) {
    const std::uint64_t pick = r.Below(40);
    if (pick == 0) return 150'000 + r.Below(250'000);
    if (pick < 6) return 20'000 + r.Below(80'000);
    return 2'000 + r.Below(28'000);
}

inline std::vector<std::uint8_t> AttachmentBytes(Random& r, std::size_t size) {
    // Text-like data with some repetition, as documents compress.
    std::vector<std::uint8_t> data(size);
    std::uint64_t x = r.Next();
    for (std::size_t k = 0; k < size; ++k) {
        if (k % 64 == 0) x = r.Next();
        data[k] = static_cast<std::uint8_t>(' ' + ((x >> (k % 56)) & 0x3F));
    }
    return data;
}

}  // namespace mix

// Writes the store of `mails` mails (plus the appointments and contacts)
// at `path`; false when it could not be written.
inline bool MakeRealisticStore(const std::filesystem::path& path, std::uint64_t mails) {
    return WriteStoreInChild(path, [&] {
        namespace pst = bm::pst;
        namespace tags = pst::tags;
        {
            mix::Random r{0x9E3779B97F4A7C15ULL};
            auto store = pst::PstStore::Create(path, {});
            const auto inbox = store->CreateFolder(store->ipmSubtree(), "Inbox");
            std::vector<pst::FolderId> others;
            for (unsigned f = 0; f < 25; ++f) others.push_back(store->CreateFolder(inbox, "Project " + std::to_string(f)));
            for (std::uint64_t i = 0; i < mails; ++i) {
                pst::Message m;
                m.properties.SetString(tags::kMessageClass, "IPM.Note");
                m.properties.SetString(tags::kSubject, "Re: " + mix::Sentence(r, 4 + r.Below(6)));
                m.properties.SetString(tags::kSenderName, "Sender " + std::to_string(r.Below(400)));
                m.properties.SetString(tags::kSentRepresentingEmailAddress,
                                       "sender" + std::to_string(r.Below(400)) + "@example.org");
                m.properties.SetString(tags::kInternetMessageId, "<" + std::to_string(i) + ".bench@example.org>");
                m.properties.SetSysTime(tags::kMessageDeliveryTime,
                                        static_cast<pst::FileTime>((1'600'000'000ull + i * 97 + 11'644'473'600ull) * 10'000'000ull));
                m.AddRecipient("Recipient " + std::to_string(r.Below(50)), "to" + std::to_string(r.Below(50)) + "@example.org",
                               1);
                if (r.Below(3) == 0) m.AddRecipient("Copy", "cc@example.org", 2);
                std::string text;
                const std::size_t paragraphs = 2 + r.Below(30);
                for (std::size_t p = 0; p < paragraphs; ++p) text += mix::Sentence(r, 8 + r.Below(20)) + "\r\n";
                const std::uint64_t kind = r.Below(100);
                bool inlineImage = false;
                if (kind < 50) {
                    // An HTML body beside its plain text; one in five with an inline image.
                    inlineImage = r.Below(5) == 0;
                    m.properties.SetString(tags::kBody, text);
                    m.SetHtmlBody("<html><head><style>p{font-family:Calibri}</style></head><body><p>" + text +
                                  (inlineImage ? "</p><img src=\"cid:image001.png@01D0\"></body></html>"
                                               : "</p></body></html>"));
                } else if (kind < 65) {
                    // RTF only, encapsulating HTML as the mail client writes it.
                    m.SetRtfBody("{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
                                 "{\\*\\htmltag64 <html><body>}\\htmlrtf {\\htmlrtf0 " + text +
                                 "\\htmlrtf }{\\*\\htmltag72 </body></html>}}");
                } else {
                    m.properties.SetString(tags::kBody, text);
                }
                if (inlineImage) {
                    pst::Attachment image = pst::Attachment::FromBytes("image001.png", mix::AttachmentBytes(r, 3000 + r.Below(20000)));
                    image.properties.SetString(tags::kAttachContentId, "image001.png@01D0");
                    image.properties.SetString(tags::kAttachMimeTag, "image/png");
                    m.attachments.push_back(std::move(image));
                }
                if (i % 16 == 0) {
                    const std::uint64_t count = 1 + r.Below(3);
                    for (std::uint64_t a = 0; a < count; ++a)
                        m.attachments.push_back(pst::Attachment::FromBytes(
                            "document-" + std::to_string(i) + "-" + std::to_string(a) + ".pdf",
                            mix::AttachmentBytes(r, mix::AttachmentSize(r))));
                }
                store->AddMessage(i % 130 < 105 ? inbox : others[i % 25], m);
            }
            const auto calendar = store->CreateFolder(store->ipmSubtree(), "Calendar", "IPF.Appointment");
            for (int i = 0; i < 200; ++i) {
                pst::Message m;
                m.properties.SetString(tags::kMessageClass, "IPM.Appointment");
                m.properties.SetString(tags::kSubject, "Meeting " + std::to_string(i));
                m.properties.SetString(tags::kBody, mix::Sentence(r, 12));
                store->AddMessage(calendar, m);
            }
            const auto contacts = store->CreateFolder(store->ipmSubtree(), "Contacts", "IPF.Contact");
            for (int i = 0; i < 300; ++i) {
                pst::Message m;
                m.properties.SetString(tags::kMessageClass, "IPM.Contact");
                m.properties.SetString(tags::kSubject, "Contact " + std::to_string(i));
                m.properties.SetString(tags::kDisplayName, "Contact " + std::to_string(i));
                store->AddMessage(contacts, m);
            }
            store->Finish();
        }
    });
}

}  // namespace bmbench
