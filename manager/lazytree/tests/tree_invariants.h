// A brute-force check of the node store's aggregates: links, indexes, child
// and total counts, heights, the visible count, flags and the root.
#pragma once

#include <string>

#include "lazytree/lazy_tree_model.h"

namespace kelm::test {

// Empty when every invariant holds, else the first broken one.
// consecutiveIndexes: siblings are numbered 0, 1, 2, ... (no delete without
// reindex happened); otherwise they only have to increase.
std::string CheckTreeInvariants(const lazytree::TLazyTreeModel& tree, const void* sender,
                                bool consecutiveIndexes);

}  // namespace kelm::test
