// The client's size rules for one message of a Unicode store:
//   message size     PidTagMessageSize of a message (normal, associated or
//                    embedded) is the bytes of its node data plus those of
//                    every subnode's data below it: recipient and
//                    attachment tables, attachment objects and their data,
//                    embedded messages, values kept outside the heap. Data
//                    is counted as data: no block trailers, padding, tree
//                    blocks or subnode lists. Subnodes of NID type 0x16,
//                    which the client adds to some messages of its own
//                    (unlisted, no property names them), do not count.
//                    The older form is accepted too: the sum of the
//                    message's property values counted as for attachments.
//   attachment size  PidTagAttachSize of an attachment is the sum of its
//                    object's property values, each by its stored size:
//                    PT_BOOLEAN 1 byte, other fixed types their width, the
//                    size itself 4, variable ones their bytes; the attached
//                    data (PT_OBJECT) by the bytes of the object, an
//                    embedded message by its message size (as the rule
//                    above counts it).
// A message or attachment without the size property is passed over.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "store/store_file.h"
#include "store/subnodes.h"

namespace bm {

inline constexpr const char* kRuleMessageSize = "message size";
inline constexpr const char* kRuleAttachmentSize = "attachment size";

// Receives a violation: the file offset it is about, the node, the rule,
// what was expected and what was found.
using SizeFinding = std::function<void(std::uint64_t at, std::uint32_t nid, const char* rule,
                                       const std::string& expected, const std::string& found)>;

// Checks the message whose node data is `data` and whose subnodes (nested
// ones included, as ReadSubnodes lists them) are `subnodes`: the message,
// its attachments and its embedded messages, at every depth.
void CheckMessageSizes(StoreFile& store, std::uint32_t nid, const BlockEntry& data, const SubnodeList& subnodes,
                       const SizeFinding& finding);

}  // namespace bm
