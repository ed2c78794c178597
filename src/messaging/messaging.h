// The messaging layer in one include: heaps, property and table contexts,
// the name-to-ID map, item records and their mapping, compressed RTF and
// RTF text.
#pragma once

#include "messaging/compressed_rtf.h"
#include "messaging/heap_node.h"
#include "messaging/item_mapping.h"
#include "messaging/item_reader.h"
#include "messaging/item_record.h"
#include "messaging/named_properties.h"
#include "messaging/property_context.h"
#include "messaging/property_reader.h"
#include "messaging/rtf_text.h"
#include "messaging/rtf_workspace.h"
