// The store reader in one include: open a store, build its block table and
// node forest, read blocks, node data and subnodes.
#pragma once

#include "store/blocks.h"
#include "store/btree_walk.h"
#include "store/layout.h"
#include "store/store_file.h"
#include "store/store_reader.h"
#include "store/subnodes.h"
#include "store/tables.h"
