// The 2-D image record: creation, release, duplication and channel extraction.
#include <cstdlib>
#include <cstring>

#include "sdk/volume/raw_volume.h"
#include "sdk/volume/volume_internal.h"

namespace {

void free_image_parts(RawImageData* image, size_t allocated_channels) {
  if (image == nullptr) return;
  if (image->data != nullptr) {
    for (size_t c = 0; c < allocated_channels; ++c) std::free(image->data[c]);
  }
  std::free(image->data);
  std::free(image->attributes);
  std::free(image->types);
  std::free(image->header);
  std::free(image);
}

RawImageData* allocate_image(const ImageHeader& header, const int32_t* types,
                             const int32_t* attributes, bool zero_fill) {
  if (types == nullptr || attributes == nullptr) return nullptr;
  if (header.channels <= 0 || header.channels > ZTR_MAX_CHANNELS) return nullptr;
  int64_t pixels = 0;
  if (!ztr_volume_detail::voxel_count(header.x, header.y, 1, &pixels)) return nullptr;
  const size_t n = static_cast<size_t>(header.channels);
  for (size_t c = 0; c < n; ++c) {
    if (!ZTR_IsValidVoxelType(types[c])) return nullptr;
  }
  auto* image = static_cast<RawImageData*>(std::calloc(1, sizeof(RawImageData)));
  if (image == nullptr) return nullptr;
  image->header = static_cast<ImageHeader*>(std::calloc(1, sizeof(ImageHeader)));
  image->types = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  image->attributes = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  image->data = static_cast<void**>(std::calloc(n, sizeof(void*)));
  if (image->header == nullptr || image->types == nullptr || image->attributes == nullptr ||
      image->data == nullptr) {
    free_image_parts(image, 0);
    return nullptr;
  }
  for (size_t c = 0; c < n; ++c) {
    const size_t bpv = static_cast<size_t>(ZTR_GetBytesPerVoxel(types[c]));
    image->data[c] = zero_fill ? std::calloc(static_cast<size_t>(pixels), bpv)
                               : std::malloc(static_cast<size_t>(pixels) * bpv);
    if (image->data[c] == nullptr) {
      free_image_parts(image, c);
      return nullptr;
    }
  }
  *image->header = header;
  std::memcpy(image->types, types, n * sizeof(int32_t));
  std::memcpy(image->attributes, attributes, n * sizeof(int32_t));
  return image;
}

size_t image_channel_bytes(const RawImageData* image, int32_t channel) {
  return static_cast<size_t>(image->header->x) * static_cast<size_t>(image->header->y) *
         static_cast<size_t>(ZTR_GetBytesPerVoxel(image->types[channel]));
}

}  // namespace

RawImageData* ZTR_NewRawImageData(const ImageHeader& header, const int32_t* types,
                                  const int32_t* attributes) {
  return allocate_image(header, types, attributes, true);
}

void ZTR_DeleteRawImageData(RawImageData* image) {
  if (image == nullptr) return;
  const size_t channels =
      image->header != nullptr && image->header->channels > 0 ? image->header->channels : 0;
  free_image_parts(image, channels);
}

RawImageData* ZTR_DuplicateRawImageData(const RawImageData* image) {
  if (image == nullptr || image->header == nullptr) return nullptr;
  RawImageData* copy = allocate_image(*image->header, image->types, image->attributes, false);
  if (copy == nullptr) return nullptr;
  for (int32_t c = 0; c < image->header->channels; ++c) {
    std::memcpy(copy->data[c], image->data[c], image_channel_bytes(image, c));
  }
  return copy;
}

RawImageData* ZTR_ExtractSingleChannelImage(const RawImageData* image, int32_t channel) {
  if (image == nullptr || image->header == nullptr || channel < 0 ||
      channel >= image->header->channels) {
    return nullptr;
  }
  const ImageHeader header{image->header->x, image->header->y, 1};
  RawImageData* single =
      allocate_image(header, &image->types[channel], &image->attributes[channel], false);
  if (single == nullptr) return nullptr;
  std::memcpy(single->data[0], image->data[channel], image_channel_bytes(image, channel));
  return single;
}
