// Owning pointer for node lists: the deleter calls ZTR_DeleteList, which frees every node.
#pragma once

#include <memory>

#include "sdk/volume/node_list.h"

struct NodeListDeleter {
  void operator()(ZTR_LIST* list) const { ZTR_DeleteList(list); }
};
using ListPtr = std::unique_ptr<ZTR_LIST, NodeListDeleter>;
