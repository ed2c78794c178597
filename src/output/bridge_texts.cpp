#include "output/bridge_texts.h"

namespace bm {
namespace {

std::string_view Trim(std::string_view s) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// "Name<addr>", "<addr>", "<Name>" or "Name": an angle-bracketed tail
// without "@" is a name when nothing stands before it.
Mailbox ParseMailbox(std::string_view entry) {
    entry = Trim(entry);
    Mailbox box;
    const std::size_t open = entry.rfind('<');
    if (open == std::string_view::npos || entry.back() != '>') {
        box.name = std::string(entry);
        return box;
    }
    const std::string_view inside = entry.substr(open + 1, entry.size() - open - 2);
    const std::string_view before = Trim(entry.substr(0, open));
    if (before.empty() && inside.find('@') == std::string_view::npos) {
        box.name = std::string(inside);
    } else {
        box.name = std::string(before);
        box.address = std::string(inside);
    }
    return box;
}

// "<text>" appended to `out`, piece by piece: a literal added to a string
// makes the optimiser warn of overlapping copies that cannot happen.
void AppendBracketed(std::string& out, std::string_view text) {
    out += '<';
    out += text;
    out += '>';
}

}  // namespace

std::string MakeSenderText(std::string_view name, std::string_view address) {
    std::string sender(name);
    if (!address.empty()) {
        if (address.find('@') != std::string_view::npos) {
            AppendBracketed(sender, address);
        } else if (!name.empty()) {
            sender.clear();
            AppendBracketed(sender, name);
        }
    }
    return sender;
}

std::string MakeHeaderLine(std::string_view senderText) {
    return std::string(kHeaderFromPrefix) + std::string(senderText.empty() ? kUnknownSender : senderText) + "\r\n";
}

Mailbox ParseHeaderSender(std::string_view headerText) {
    std::size_t at = 0;
    while (at < headerText.size()) {
        std::size_t end = headerText.find('\n', at);
        if (end == std::string_view::npos) end = headerText.size();
        const std::string_view line = headerText.substr(at, end - at);
        if (line.starts_with(kHeaderFromPrefix)) {
            const std::string_view value = Trim(line.substr(kHeaderFromPrefix.size()));
            if (value == kUnknownSender) return {};
            return ParseMailbox(value);
        }
        at = end + 1;
    }
    return {};
}

std::string MakeRecipientsText(std::string_view displayTo, std::string_view address) {
    std::string text(displayTo);
    if (!address.empty()) AppendBracketed(text, address);
    return text;
}

std::vector<Mailbox> ParseRecipients(std::string_view text) {
    std::vector<Mailbox> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(';', at);
        if (end == std::string_view::npos) end = text.size();
        Mailbox box = ParseMailbox(text.substr(at, end - at));
        if (!box.name.empty() || !box.address.empty()) out.push_back(std::move(box));
        at = end + 1;
    }
    return out;
}

std::string JoinFileList(const std::vector<std::string>& entries) {
    std::string list;
    for (const std::string& entry : entries) {
        for (const char c : entry) {
            if (c == ';' || c == '\\') list.push_back('\\');
            list.push_back(c);
        }
        list.push_back(';');
    }
    return list;
}

std::vector<std::string> SplitFileList(std::string_view list) {
    std::vector<std::string> out;
    std::string current;
    bool escaped = false;
    for (const char c : list) {
        if (escaped) {
            current.push_back(c);
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == ';') {
            out.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

}  // namespace bm
