// Column layouts of the tables every store carries: the templates that new
// folders' hierarchy, contents and associated-contents tables copy, and the
// templates of messages' attachment and recipient tables. Offsets and bits
// are those that stores written by Outlook use.
#pragma once

#include "output/pst/ltp_tc.h"

namespace bm::pst {

const TableLayout& HierarchyTableLayout();
const TableLayout& ContentsTableLayout();
const TableLayout& AssocContentsTableLayout();
const TableLayout& SearchContentsTableLayout();
const TableLayout& AttachmentTableLayout();
const TableLayout& RecipientTableLayout();
const TableLayout& ReceiveFolderTableLayout();

}  // namespace bm::pst
