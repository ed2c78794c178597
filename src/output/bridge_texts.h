// The texts the output writer and the mail bridge exchange, built on one
// side and read on the other: the sender line of the header file, the
// recipients text and the attachment file list.
//
//   sender      "Name<addr@host>", "<Name>" (address without "@"), "" (none)
//   header file "From:" + sender (or "UnKnown") + "\r\n"
//   recipients  displayTo, then "<" + address + ">" when one is known;
//               displayTo lists names separated by ";"
//   file list   entries each followed by ";"; a ";" or "\" inside an entry
//               is written as "\;" or "\\", so any name survives the list
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bm {

inline constexpr std::string_view kHeaderFromPrefix = "From:";
inline constexpr std::string_view kUnknownSender = "UnKnown";

// The sender text from the sent-representing name and address.
std::string MakeSenderText(std::string_view name, std::string_view address);
// The single line of the header file.
std::string MakeHeaderLine(std::string_view senderText);

struct Mailbox {
    std::string name;
    std::string address;
    friend bool operator==(const Mailbox&, const Mailbox&) = default;
};

// The sender of a header file's contents ("From:" line); empty name and
// address when the line is missing or names "UnKnown".
Mailbox ParseHeaderSender(std::string_view headerText);

// The recipients text from displayTo and the received-by address.
std::string MakeRecipientsText(std::string_view displayTo, std::string_view address);
// One mailbox per ";"-separated entry, blanks trimmed, empty entries
// dropped; an entry's trailing "<...>" is its address.
std::vector<Mailbox> ParseRecipients(std::string_view text);

std::string JoinFileList(const std::vector<std::string>& entries);
std::vector<std::string> SplitFileList(std::string_view list);

}  // namespace bm
