// Box creation and the box of a volume.
#include "sdk/volume/box.h"

#include <new>

ZTR_BOX* ZTR_NewBox() { return new (std::nothrow) ZTR_BOX{}; }

ZTR_BOX* ZTR_NewBoxOfVolume(const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return nullptr;
  ZTR_BOX* box = ZTR_NewBox();
  if (box != nullptr) *box = ZTR_GetVolumeBox(*volume);
  return box;
}

void ZTR_DeleteBox(ZTR_BOX* box) { delete box; }

ZTR_FLOAT_BOX* ZTR_NewFloatBox() { return new (std::nothrow) ZTR_FLOAT_BOX{}; }

void ZTR_DeleteFloatBox(ZTR_FLOAT_BOX* box) { delete box; }

ZTR_BOX ZTR_GetVolumeBox(const RawVolumeData& volume) {
  ZTR_BOX box;
  box.size[0] = volume.header->x;
  box.size[1] = volume.header->y;
  box.size[2] = volume.header->z;
  return box;
}

bool ZTR_IsBoxInsideVolume(const ZTR_BOX& box, const RawVolumeData& volume) {
  const int64_t dims[3] = {volume.header->x, volume.header->y, volume.header->z};
  for (int a = 0; a < 3; ++a) {
    if (box.size[a] <= 0 || box.origin[a] < 0) return false;
    if (int64_t{box.origin[a]} + box.size[a] > dims[a]) return false;
  }
  return true;
}
