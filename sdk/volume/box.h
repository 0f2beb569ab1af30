// Boxes of voxels: an origin and a size triple (x, y, z), integer or float.
#pragma once

#include <cstdint>
#include <memory>

#include "sdk/volume/raw_volume.h"

struct ZTR_BOX {
  int32_t origin[3] = {0, 0, 0};
  int32_t size[3] = {1, 1, 1};
};

struct ZTR_FLOAT_BOX {
  float origin[3] = {0.0f, 0.0f, 0.0f};
  float size[3] = {1.0f, 1.0f, 1.0f};
};

// Heap boxes for callers that hold them by pointer; release with ZTR_DeleteBox.
ZTR_BOX* ZTR_NewBox();                                 // origin (0,0,0), size (1,1,1)
ZTR_BOX* ZTR_NewBoxOfVolume(const RawVolumeData* volume);  // nullptr for nullptr
void ZTR_DeleteBox(ZTR_BOX* box);
ZTR_FLOAT_BOX* ZTR_NewFloatBox();
void ZTR_DeleteFloatBox(ZTR_FLOAT_BOX* box);

// Origin (0,0,0) and size (x, y, z) of the volume.
ZTR_BOX ZTR_GetVolumeBox(const RawVolumeData& volume);

// True when the box is non-empty and lies completely inside the volume.
bool ZTR_IsBoxInsideVolume(const ZTR_BOX& box, const RawVolumeData& volume);

struct BoxDeleter {
  void operator()(ZTR_BOX* b) const { ZTR_DeleteBox(b); }
};
using BoxPtr = std::unique_ptr<ZTR_BOX, BoxDeleter>;
