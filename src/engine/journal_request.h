// What a save's journal keeps of the request, so that whoever goes on with
// the save (the command line's `save --resume`, the wizard finding an
// unfinished save in its destination) asks for the same save again: the
// options as the command line takes them, written as one line of JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

struct JournalRequest {
    std::string store;
    std::vector<std::string> folders;  // that folder only
    std::vector<std::string> trees;    // the folder and every folder below it
    bool all = false;
    bool deepScan = false;
    bool recoverDeleted = false;
    bool markDamaged = false;
    std::string since;  // as --since takes it; empty: none
    std::string until;
    std::vector<std::string> senders;
    std::vector<std::string> classes;
    bool dedupe = false;
    std::string splitSize;  // as --split-size takes it ("700M"); empty: the default
};

std::string JournalRequestText(const JournalRequest& request);
// nullopt when the text is not such a request (damaged, or of another kind).
std::optional<JournalRequest> JournalRequestOfText(const std::string& text);

// A size such as "700M", "1.5G" or "104857600" (bytes); K, M, G and T count
// in 1024s, with or without a final "B" or "iB". nullopt when it is none.
std::optional<std::uint64_t> ParseSize(std::string_view text);

}  // namespace bm
