// Writes one message as a node of the store, in one pass, as it is added:
//
//   node data   the message's property context
//   subnodes    0x692 recipient table, 0x671 attachment table (when there
//               are attachments), one attachment object per attachment
//               (its property context, with the attachment data or the
//               embedded message as subnodes of its own), and the values
//               too large for a heap
//
// Named properties get their ids from the store's name-to-ID map. Nothing of
// the message stays in memory after Write returns but the cells of its
// contents-table row.
//
// The sizes are the mail client's:
//   PidTagMessageSize  the bytes of the message's node data and of every
//                      subnode's data below it (recipient and attachment
//                      tables, attachment objects and their data, embedded
//                      messages, large values), counted as data: no block
//                      trailers, padding, tree or subnode-list blocks
//   PidTagAttachSize   the sum of the attachment object's property values,
//                      each by its stored size (PT_BOOLEAN 1 byte, the
//                      size itself 4), the attached data or OLE object by
//                      its bytes and an embedded message by its
//                      PidTagMessageSize
// Both are counted while the nodes are written; nothing is read back.
#pragma once

#include <cstdint>
#include <vector>

#include "output/pst/counting_node_sink.h"
#include "output/pst/ltp_subnodes.h"
#include "output/pst/ltp_tc.h"
#include "output/pst/message.h"
#include "output/pst/ltp_node_sink.h"
#include "output/pst/props_name_map.h"

namespace bm::pst {

struct WrittenMessage {
    Bid data = 0;
    Bid subnodes = 0;
    std::uint32_t size = 0;                // PR_MESSAGE_SIZE as written
    bool read = true;                      // MSGFLAG_READ set
    std::vector<TableRow::Cell> rowCells;  // cells of the contents-table row
};

class MessageWriter {
public:
    // Messages without a creation or modification time get `defaultTime`.
    MessageWriter(NodeSink& ndb, NameToIdMap& names, FileTime defaultTime)
        : ndb_(ndb), names_(names), defaultTime_(defaultTime) {}

    // Throws std::runtime_error when an attachment file cannot be read or a
    // stream delivers fewer bytes than announced.
    WrittenMessage Write(const Message& message);
    // The same with the row cells of another table (an associated
    // message's row in the associated-contents table).
    WrittenMessage Write(const Message& message, const TableLayout& rowLayout);

private:
    // The bag's properties under their store ids. The values borrow the
    // bag's bytes: the bag must outlive them.
    std::vector<PcValue> ResolveProperties(const PropertyBag& bag);
    void WriteAttachment(const Attachment& attachment, LocalSubnodes& owner, std::vector<TableRow>& rows);

    CountingNodeSink ndb_;
    NameToIdMap& names_;
    FileTime defaultTime_;
};

}  // namespace bm::pst
