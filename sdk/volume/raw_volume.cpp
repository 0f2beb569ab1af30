// The volume record: creation, release, channel changes, serialization and queries.
// Records are plain heap blocks (calloc/free) so that they can be handed across C-style
// interfaces; every channel is one contiguous x-fastest block.
#include "sdk/volume/raw_volume.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "sdk/volume/mapped_volume.h"
#include "sdk/volume/volume_internal.h"

static_assert(std::endian::native == std::endian::little,
              "the serialized volume form is little-endian and copied as held in memory");

namespace ztr_volume_detail {

bool voxel_count(int64_t x, int64_t y, int64_t z, int64_t* count) {
  if (x <= 0 || y <= 0 || z <= 0) return false;
  // Each factor is below 2^31, so x*y fits in int64; the count must fit the int32 query.
  const int64_t xy = x * y;
  if (xy > std::numeric_limits<int32_t>::max()) return false;
  const int64_t xyz = xy * z;
  if (xyz > std::numeric_limits<int32_t>::max()) return false;
  *count = xyz;
  return true;
}

bool valid_volume_shape(const VolumeHeader& header, const int32_t* types, int64_t* voxels) {
  if (header.channels <= 0 || header.channels > ZTR_MAX_CHANNELS) return false;
  if (!voxel_count(header.x, header.y, header.z, voxels)) return false;
  if (types == nullptr) return false;
  for (int32_t c = 0; c < header.channels; ++c) {
    if (!ZTR_IsValidVoxelType(types[c])) return false;
  }
  return true;
}

RawVolumeData* allocate_volume(const VolumeHeader& header, const int32_t* types,
                               const int32_t* attributes, bool zero_fill) {
  int64_t voxels = 0;
  if (attributes == nullptr || !valid_volume_shape(header, types, &voxels)) return nullptr;
  const size_t n = static_cast<size_t>(header.channels);
  auto* v = static_cast<RawVolumeData*>(std::calloc(1, sizeof(RawVolumeData)));
  if (v == nullptr) return nullptr;
  v->header = static_cast<VolumeHeader*>(std::calloc(1, sizeof(VolumeHeader)));
  v->types = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  v->attributes = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
  v->data = static_cast<void**>(std::calloc(n, sizeof(void*)));
  if (v->header == nullptr || v->types == nullptr || v->attributes == nullptr ||
      v->data == nullptr) {
    free_volume_parts(v, 0);
    return nullptr;
  }
  for (size_t c = 0; c < n; ++c) {
    const size_t bpv = static_cast<size_t>(ZTR_GetBytesPerVoxel(types[c]));
    const size_t bytes = static_cast<size_t>(voxels) * bpv;
    v->data[c] = zero_fill ? std::calloc(static_cast<size_t>(voxels), bpv) : std::malloc(bytes);
    if (v->data[c] == nullptr) {
      free_volume_parts(v, c);
      return nullptr;
    }
  }
  *v->header = header;
  std::memcpy(v->types, types, n * sizeof(int32_t));
  std::memcpy(v->attributes, attributes, n * sizeof(int32_t));
  return v;
}

void free_volume_parts(RawVolumeData* v, size_t allocated_channels) {
  if (v == nullptr) return;
  if (v->data != nullptr) {
    for (size_t c = 0; c < allocated_channels; ++c) ZTR_FreeChannelBlock(v->data[c]);
  }
  std::free(v->data);
  std::free(v->attributes);
  std::free(v->types);
  std::free(v->header);
  std::free(v);
}

size_t voxels_of(const RawVolumeData* v) {
  return static_cast<size_t>(v->header->x) * static_cast<size_t>(v->header->y) *
         static_cast<size_t>(v->header->z);
}

bool channel_in_range(const RawVolumeData* v, int32_t channel) {
  return v != nullptr && v->header != nullptr && channel >= 0 && channel < v->header->channels;
}

}  // namespace ztr_volume_detail

using namespace ztr_volume_detail;

namespace {

// Copies every channel block of `from` into the same channel of `to` (same shape).
void copy_blocks(RawVolumeData* to, const RawVolumeData* from, int32_t channels) {
  for (int32_t c = 0; c < channels; ++c) {
    std::memcpy(to->data[c], from->data[c], ZTR_GetChannelBytes(from, c));
  }
}

int32_t read_i32(const unsigned char* p) {
  int32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

// ---- creation and release ---------------------------------------------------------

RawVolumeData* ZTR_NewRawVolumeData(const VolumeHeader& header, const int32_t* types,
                                    const int32_t* attributes) {
  return allocate_volume(header, types, attributes, true);
}

RawVolumeData* ZTR_NewSingleChannelRawVolumeData(const int32_t dims[3], int32_t type,
                                                 int32_t attribute) {
  if (dims == nullptr) return nullptr;
  const VolumeHeader header{dims[0], dims[1], dims[2], 1};
  return allocate_volume(header, &type, &attribute, true);
}

void ZTR_DeleteRawVolumeData(RawVolumeData* volume) {
  if (volume == nullptr) return;
  const size_t channels =
      volume->header != nullptr && volume->header->channels > 0 ? volume->header->channels : 0;
  free_volume_parts(volume, channels);
}

RawVolumeData* ZTR_DuplicateRawVolumeData(const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return nullptr;
  RawVolumeData* copy =
      allocate_volume(*volume->header, volume->types, volume->attributes, false);
  if (copy == nullptr) return nullptr;
  copy_blocks(copy, volume, volume->header->channels);
  return copy;
}

RawVolumeData* ZTR_ExtractSingleChannel(const RawVolumeData* volume, int32_t channel) {
  if (!channel_in_range(volume, channel)) return nullptr;
  const VolumeHeader header{volume->header->x, volume->header->y, volume->header->z, 1};
  RawVolumeData* single = allocate_volume(header, &volume->types[channel],
                                          &volume->attributes[channel], false);
  if (single == nullptr) return nullptr;
  std::memcpy(single->data[0], volume->data[channel], ZTR_GetChannelBytes(volume, channel));
  return single;
}

// ---- channels -------------------------------------------------------------------------

namespace {

// Builds the volume with one more channel (zero-filled unless `copy_from` is given), copies
// the old blocks in and exchanges contents with `volume`.
int append_channel(RawVolumeData* volume, int32_t type, int32_t attribute,
                   const void* copy_from) {
  if (volume == nullptr || volume->header == nullptr) return -1;
  const int32_t old_channels = volume->header->channels;
  if (old_channels >= ZTR_MAX_CHANNELS) return -1;
  const size_t n = static_cast<size_t>(old_channels) + 1;
  auto* types = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  auto* attributes = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  if (types == nullptr || attributes == nullptr) {
    std::free(types);
    std::free(attributes);
    return -1;
  }
  std::memcpy(types, volume->types, (n - 1) * sizeof(int32_t));
  std::memcpy(attributes, volume->attributes, (n - 1) * sizeof(int32_t));
  types[n - 1] = type;
  attributes[n - 1] = attribute;
  VolumeHeader header = *volume->header;
  header.channels = old_channels + 1;
  RawVolumeData* grown = allocate_volume(header, types, attributes, copy_from == nullptr);
  std::free(types);
  std::free(attributes);
  if (grown == nullptr) return -1;
  copy_blocks(grown, volume, old_channels);
  if (copy_from != nullptr) {
    std::memcpy(grown->data[old_channels], copy_from, ZTR_GetChannelBytes(grown, old_channels));
  }
  ZTR_SwapRawVolumeData(volume, grown);
  ZTR_DeleteRawVolumeData(grown);
  return 0;
}

}  // namespace

int ZTR_AppendChannel(RawVolumeData* volume, int32_t type, int32_t attribute) {
  return append_channel(volume, type, attribute, nullptr);
}

int ZTR_AppendChannelCopy(RawVolumeData* volume, const RawVolumeData* source,
                          int32_t source_channel) {
  if (volume == nullptr || volume->header == nullptr ||
      !channel_in_range(source, source_channel)) {
    return -1;
  }
  // A source of another size would be read past its end (or copied short): refuse it.
  const VolumeHeader& a = *volume->header;
  const VolumeHeader& b = *source->header;
  if (a.x != b.x || a.y != b.y || a.z != b.z) return -1;
  // `source` may be `volume`: the block pointer stays valid until the swap, after which
  // the old blocks are owned by the temporary and freed only once the copy is done.
  return append_channel(volume, source->types[source_channel],
                        source->attributes[source_channel], source->data[source_channel]);
}

int ZTR_RemoveChannel(RawVolumeData* volume, int32_t channel) {
  if (!channel_in_range(volume, channel)) return -1;
  const int32_t old_channels = volume->header->channels;
  // A record always keeps at least one channel.
  if (old_channels <= 1) return -1;
  const size_t n = static_cast<size_t>(old_channels) - 1;
  auto* types = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  auto* attributes = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  auto* data = static_cast<void**>(std::malloc(n * sizeof(void*)));
  if (types == nullptr || attributes == nullptr || data == nullptr) {
    std::free(types);
    std::free(attributes);
    std::free(data);
    return -1;
  }
  size_t to = 0;
  for (int32_t c = 0; c < old_channels; ++c) {
    if (c == channel) continue;
    types[to] = volume->types[c];
    attributes[to] = volume->attributes[c];
    data[to] = volume->data[c];
    ++to;
  }
  ZTR_FreeChannelBlock(volume->data[channel]);
  std::free(volume->types);
  std::free(volume->attributes);
  std::free(volume->data);
  volume->types = types;
  volume->attributes = attributes;
  volume->data = data;
  volume->header->channels = old_channels - 1;
  return 0;
}

void ZTR_SwapRawVolumeData(RawVolumeData* a, RawVolumeData* b) {
  if (a == nullptr || b == nullptr) return;
  std::swap(*a, *b);
}

void ZTR_ExchangeChannels(RawVolumeData* a, int32_t channel_a, RawVolumeData* b,
                          int32_t channel_b) {
  if (!channel_in_range(a, channel_a) || !channel_in_range(b, channel_b)) return;
  const VolumeHeader& ha = *a->header;
  const VolumeHeader& hb = *b->header;
  if (ha.x != hb.x || ha.y != hb.y || ha.z != hb.z) return;
  std::swap(a->types[channel_a], b->types[channel_b]);
  std::swap(a->attributes[channel_a], b->attributes[channel_b]);
  std::swap(a->data[channel_a], b->data[channel_b]);
}

// ---- serialization ------------------------------------------------------------------

size_t ZTR_GetSerializedRawVolumeDataSize(const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return 0;
  size_t size = sizeof(VolumeHeader);
  for (int32_t c = 0; c < volume->header->channels; ++c) {
    size += 8 + ZTR_GetChannelBytes(volume, c);
  }
  return size;
}

int ZTR_SerializeRawVolumeData(const RawVolumeData* volume, void* destination) {
  if (volume == nullptr || volume->header == nullptr || destination == nullptr) return -1;
  auto* out = static_cast<unsigned char*>(destination);
  const size_t n = static_cast<size_t>(volume->header->channels);
  std::memcpy(out, volume->header, sizeof(VolumeHeader));
  out += sizeof(VolumeHeader);
  std::memcpy(out, volume->types, n * sizeof(int32_t));
  out += n * sizeof(int32_t);
  std::memcpy(out, volume->attributes, n * sizeof(int32_t));
  out += n * sizeof(int32_t);
  for (size_t c = 0; c < n; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume, static_cast<int32_t>(c));
    std::memcpy(out, volume->data[c], bytes);
    out += bytes;
  }
  return 0;
}

RawVolumeData* ZTR_GetRawVolumeDataFromSerializedData(const void* source, size_t size,
                                                      size_t* consumed) {
  if (source == nullptr || size < sizeof(VolumeHeader)) return nullptr;
  const auto* in = static_cast<const unsigned char*>(source);
  VolumeHeader header;
  header.x = read_i32(in);
  header.y = read_i32(in + 4);
  header.z = read_i32(in + 8);
  header.channels = read_i32(in + 12);
  if (header.channels <= 0 || header.channels > ZTR_MAX_CHANNELS) return nullptr;
  int64_t voxels = 0;
  if (!voxel_count(header.x, header.y, header.z, &voxels)) return nullptr;
  const size_t n = static_cast<size_t>(header.channels);
  const SerializedVolumeLayout layout = ZTR_SerializedVolumeLayout(header.channels);
  const size_t tables = layout.blocks;
  if (size < tables) return nullptr;
  const unsigned char* type_bytes = in + layout.types;
  const unsigned char* attribute_bytes = in + layout.attributes;
  // Sum of block sizes: at most 4096 channels of 2^31 voxels of 8 bytes, far below 2^63.
  size_t total = tables;
  for (size_t c = 0; c < n; ++c) {
    const int32_t type = read_i32(type_bytes + 4 * c);
    if (!ZTR_IsValidVoxelType(type)) return nullptr;
    total += static_cast<size_t>(voxels) * static_cast<size_t>(ZTR_GetBytesPerVoxel(type));
  }
  if (total > size) return nullptr;
  int32_t stack_types[64];
  int32_t stack_attributes[64];
  int32_t* types = stack_types;
  int32_t* attributes = stack_attributes;
  if (n > 64) {
    types = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    attributes = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
  }
  RawVolumeData* volume = nullptr;
  if (types != nullptr && attributes != nullptr) {
    std::memcpy(types, type_bytes, n * sizeof(int32_t));
    std::memcpy(attributes, attribute_bytes, n * sizeof(int32_t));
    // Every block is overwritten below, so it need not be zeroed first.
    volume = allocate_volume(header, types, attributes, false);
  }
  if (n > 64) {
    std::free(types);
    std::free(attributes);
  }
  if (volume == nullptr) return nullptr;
  const unsigned char* block = in + tables;
  for (size_t c = 0; c < n; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume, static_cast<int32_t>(c));
    std::memcpy(volume->data[c], block, bytes);
    block += bytes;
  }
  if (consumed != nullptr) *consumed = total;
  return volume;
}

// ---- queries --------------------------------------------------------------------------

int32_t ZTR_GetNumberOfVoxels(const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return -1;
  return static_cast<int32_t>(voxels_of(volume));
}

int32_t ZTR_GetBytesPerVoxel(int32_t type) {
  switch (type) {
    case ZTR_TYPE_UINT8:
    case ZTR_TYPE_INT8:
      return 1;
    case ZTR_TYPE_UINT16:
    case ZTR_TYPE_INT16:
      return 2;
    case ZTR_TYPE_UINT32:
    case ZTR_TYPE_INT32:
    case ZTR_TYPE_FLOAT32:
      return 4;
    case ZTR_TYPE_FLOAT64:
      return 8;
    default:
      return 0;
  }
}

bool ZTR_IsValidVoxelType(int32_t type) { return type >= 0 && type <= 7; }

void ZTR_GetVoxelTypeName(int32_t type, char* buffer) {
  static const char* const kNames[8] = {
      "unsigned 8 bits",  "signed 8 bits",  "unsigned 16 bits",       "signed 16 bits",
      "unsigned 32 bits", "signed 32 bits", "floating-point 32 bits", "floating-point 64 bits",
  };
  if (buffer == nullptr || !ZTR_IsValidVoxelType(type)) return;
  std::strcpy(buffer, kNames[type]);
}

size_t ZTR_GetChannelBytes(const RawVolumeData* volume, int32_t channel) {
  if (!channel_in_range(volume, channel)) return 0;
  return voxels_of(volume) * static_cast<size_t>(ZTR_GetBytesPerVoxel(volume->types[channel]));
}
