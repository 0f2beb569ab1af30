// Owning pointer for object groups: the deleter calls ZTR_DeleteObjectGroup, which deletes
// every object the group holds.
#pragma once

#include <memory>

#include "sdk/ipc/object_group.h"

struct ObjectGroupDeleter {
  void operator()(ZTR_OBJECT_GROUP* group) const { ZTR_DeleteObjectGroup(group); }
};
using GroupPtr = std::unique_ptr<ZTR_OBJECT_GROUP, ObjectGroupDeleter>;
