// Packed RGBA channels: unpacking into four 8-bit channels and packing them back.
// Packed layout: red in bits 31-24, green 23-16, blue 15-8, alpha 7-0.
#include <cstdint>
#include <cstdio>

#include "sdk/volume/raw_volume.h"
#include "sdk/volume/volume_internal.h"

using namespace ztr_volume_detail;

namespace {

void unpack(const uint32_t* packed, size_t count, void* const* planes) {
  auto* r = static_cast<uint8_t*>(planes[0]);
  auto* g = static_cast<uint8_t*>(planes[1]);
  auto* b = static_cast<uint8_t*>(planes[2]);
  auto* a = static_cast<uint8_t*>(planes[3]);
  for (size_t n = 0; n < count; ++n) {
    const uint32_t v = packed[n];
    r[n] = static_cast<uint8_t>(v >> 24);
    g[n] = static_cast<uint8_t>(v >> 16);
    b[n] = static_cast<uint8_t>(v >> 8);
    a[n] = static_cast<uint8_t>(v);
  }
}

// Exactly four channels, all unsigned 8-bit and plain.
bool four_plain_bytes(int32_t channels, const int32_t* types, const int32_t* attributes) {
  if (channels != 4) return false;
  for (int c = 0; c < 4; ++c) {
    if (types[c] != ZTR_TYPE_UINT8 || attributes[c] != ZTR_ATTRIBUTE_PLAIN) return false;
  }
  return true;
}

}  // namespace

void ZTR_NonInterleavedCopyRgbaRawVolumeData(RawVolumeData* destination,
                                             const RawVolumeData* source, int32_t channel) {
  const bool ok =
      channel_in_range(source, channel) && destination != nullptr &&
      destination->header != nullptr && source->types[channel] == ZTR_TYPE_UINT32 &&
      source->attributes[channel] == ZTR_ATTRIBUTE_RGBA &&
      destination->header->x == source->header->x && destination->header->y == source->header->y &&
      destination->header->z == source->header->z &&
      four_plain_bytes(destination->header->channels, destination->types, destination->attributes);
  if (!ok) {
    std::fputs("Err:ZTR_NonInterleavedCopyRgbaRawVolumeData\n", stderr);
    return;
  }
  unpack(static_cast<const uint32_t*>(source->data[channel]), voxels_of(source),
         destination->data);
}

void ZTR_NonInterleavedCopyRgbaRawImageData(RawImageData* destination,
                                            const RawImageData* source, int32_t channel) {
  const bool ok =
      source != nullptr && source->header != nullptr && channel >= 0 &&
      channel < source->header->channels && destination != nullptr &&
      destination->header != nullptr && source->types[channel] == ZTR_TYPE_UINT32 &&
      source->attributes[channel] == ZTR_ATTRIBUTE_RGBA &&
      destination->header->x == source->header->x && destination->header->y == source->header->y &&
      four_plain_bytes(destination->header->channels, destination->types, destination->attributes);
  if (!ok) {
    std::fputs("Err:ZTR_NonInterleavedCopyRgbaRawImageData\n", stderr);
    return;
  }
  const size_t count =
      static_cast<size_t>(source->header->x) * static_cast<size_t>(source->header->y);
  unpack(static_cast<const uint32_t*>(source->data[channel]), count, destination->data);
}

int ZTR_PackRgbaChannels(RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr ||
      !four_plain_bytes(volume->header->channels, volume->types, volume->attributes)) {
    std::fputs("Invalid type(s)\n", stderr);
    return -1;
  }
  const int32_t type = ZTR_TYPE_UINT32;
  const int32_t attribute = ZTR_ATTRIBUTE_RGBA;
  const VolumeHeader header{volume->header->x, volume->header->y, volume->header->z, 1};
  RawVolumeData* packed = allocate_volume(header, &type, &attribute, false);
  if (packed == nullptr) {
    std::fputs("Memory Full?\n", stderr);
    return -1;
  }
  const auto* r = static_cast<const uint8_t*>(volume->data[0]);
  const auto* g = static_cast<const uint8_t*>(volume->data[1]);
  const auto* b = static_cast<const uint8_t*>(volume->data[2]);
  const auto* a = static_cast<const uint8_t*>(volume->data[3]);
  auto* out = static_cast<uint32_t*>(packed->data[0]);
  const size_t count = voxels_of(volume);
  for (size_t n = 0; n < count; ++n) {
    out[n] = (uint32_t{r[n]} << 24) | (uint32_t{g[n]} << 16) | (uint32_t{b[n]} << 8) | a[n];
  }
  ZTR_SwapRawVolumeData(volume, packed);
  ZTR_DeleteRawVolumeData(packed);
  return 0;
}
