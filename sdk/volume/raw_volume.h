// The multi-channel volume record used by every part of the suite, its 2-D sibling,
// and the operations that create, reshape, convert, serialize and free them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Voxel type codes.
enum : int32_t {
  ZTR_TYPE_UINT8 = 0,
  ZTR_TYPE_INT8 = 1,
  ZTR_TYPE_UINT16 = 2,
  ZTR_TYPE_INT16 = 3,
  ZTR_TYPE_UINT32 = 4,
  ZTR_TYPE_INT32 = 5,
  ZTR_TYPE_FLOAT32 = 6,
  ZTR_TYPE_FLOAT64 = 7,
};

// Channel attributes.
enum : int32_t {
  ZTR_ATTRIBUTE_PLAIN = 0,
  ZTR_ATTRIBUTE_RGBA = 2,  // type 4, red in bits 31-24 ... alpha in bits 7-0
};

// Largest channel count any reader accepts.
inline constexpr int32_t ZTR_MAX_CHANNELS = 4096;

struct VolumeHeader {
  int32_t x;         // voxels per row
  int32_t y;         // rows per slice
  int32_t z;         // slices
  int32_t channels;  // number of channels
};

// One contiguous, zero-initialised, x-fastest block per channel: voxel (i, j, k) of
// channel c is element i + x*j + x*y*k of data[c]. The 3-D index is computed from
// that rule instead of being held as pointer tables (see ZTR_Voxel).
struct RawVolumeData {
  VolumeHeader* header;
  int32_t* types;
  int32_t* attributes;
  void** data;
};

struct ImageHeader {
  int32_t x;
  int32_t y;
  int32_t channels;
};

// The 2-D sibling: voxel (i, j) of channel c is element i + x*j of data[c].
struct RawImageData {
  ImageHeader* header;
  int32_t* types;
  int32_t* attributes;
  void** data;
};

// ---- creation and release ---------------------------------------------------------

// New zero-filled record, or nullptr when any size is zero or negative, the byte count
// overflows, a type code is invalid, channels exceeds ZTR_MAX_CHANNELS, or memory runs out.
RawVolumeData* ZTR_NewRawVolumeData(const VolumeHeader& header, const int32_t* types,
                                    const int32_t* attributes);
// dims holds x, y, z.
RawVolumeData* ZTR_NewSingleChannelRawVolumeData(const int32_t dims[3], int32_t type,
                                                 int32_t attribute);
void ZTR_DeleteRawVolumeData(RawVolumeData* volume);  // nullptr is ignored
RawVolumeData* ZTR_DuplicateRawVolumeData(const RawVolumeData* volume);
RawVolumeData* ZTR_ExtractSingleChannel(const RawVolumeData* volume, int32_t channel);

// ---- channels (0 or -1; the volume is unchanged on failure) -------------------------

int ZTR_AppendChannel(RawVolumeData* volume, int32_t type, int32_t attribute);
// The caller guarantees the same x, y, z; source may be volume itself.
int ZTR_AppendChannelCopy(RawVolumeData* volume, const RawVolumeData* source,
                          int32_t source_channel);
int ZTR_RemoveChannel(RawVolumeData* volume, int32_t channel);
void ZTR_SwapRawVolumeData(RawVolumeData* a, RawVolumeData* b);
void ZTR_ExchangeChannels(RawVolumeData* a, int32_t channel_a, RawVolumeData* b,
                          int32_t channel_b);

// ---- serialization (little-endian byte image used on data boards and in files) ------

// Where the parts of the byte image of a volume of `channels` channels start, counted from
// its first byte: the header at 0, then the type table, the attribute table (one 32-bit word
// per channel each) and the channel blocks one after another.
struct SerializedVolumeLayout {
  size_t types;
  size_t attributes;
  size_t blocks;
};
constexpr SerializedVolumeLayout ZTR_SerializedVolumeLayout(int32_t channels) {
  const size_t n = channels > 0 ? static_cast<size_t>(channels) : 0;
  return {sizeof(VolumeHeader), sizeof(VolumeHeader) + 4 * n, sizeof(VolumeHeader) + 8 * n};
}

// 16 + sum over channels of (8 + block bytes); 0 for nullptr.
size_t ZTR_GetSerializedRawVolumeDataSize(const RawVolumeData* volume);
// destination must hold ZTR_GetSerializedRawVolumeDataSize bytes; -1 for nullptr.
int ZTR_SerializeRawVolumeData(const RawVolumeData* volume, void* destination);
// Reads at most `size` bytes of `source`. Returns nullptr (no message) when the header
// claims more than the buffer holds, a size is zero or negative, a type code is invalid,
// more than ZTR_MAX_CHANNELS channels are declared, or the byte count overflows.
// On success *consumed (when given) receives the number of bytes read.
RawVolumeData* ZTR_GetRawVolumeDataFromSerializedData(const void* source, size_t size,
                                                      size_t* consumed = nullptr);

// ---- queries --------------------------------------------------------------------------

int32_t ZTR_GetNumberOfVoxels(const RawVolumeData* volume);  // -1 for nullptr
int32_t ZTR_GetBytesPerVoxel(int32_t type);                  // 0 for an invalid code
bool ZTR_IsValidVoxelType(int32_t type);
// Writes the display name into buffer (at least 23 bytes); invalid codes leave it untouched.
void ZTR_GetVoxelTypeName(int32_t type, char* buffer);
float ZTR_GetVoxelValueAsFloat(const void* buffer, int32_t type, int64_t count, int64_t i);
// Bytes of one channel block: x*y*z*bytes-per-voxel.
size_t ZTR_GetChannelBytes(const RawVolumeData* volume, int32_t channel);

// ---- value changes ------------------------------------------------------------------

void ZTR_ClearChannel(RawVolumeData* volume, int32_t channel);
// Ranges are (low, high) pairs or nullptr. Modes: 0 as is, 1 clamp, 2 linear map,
// 3 linear map then clamp. 0 or -1 (channel unchanged).
int ZTR_ConvertChannelType(RawVolumeData* volume, int32_t channel, int32_t new_type,
                           const float* source_range, const float* target_range, int mode);
int ZTR_ConvertVoxelBuffer(int64_t count, const void* source, void* destination,
                           int32_t source_type, int32_t destination_type,
                           const float* source_range, const float* target_range, int mode);
void ZTR_NonInterleavedCopyRgbaRawVolumeData(RawVolumeData* destination,
                                             const RawVolumeData* source, int32_t channel);
int ZTR_PackRgbaChannels(RawVolumeData* volume);

// ---- the 2-D sibling -----------------------------------------------------------------

RawImageData* ZTR_NewRawImageData(const ImageHeader& header, const int32_t* types,
                                  const int32_t* attributes);
void ZTR_DeleteRawImageData(RawImageData* image);
RawImageData* ZTR_DuplicateRawImageData(const RawImageData* image);
RawImageData* ZTR_ExtractSingleChannelImage(const RawImageData* image, int32_t channel);
void ZTR_NonInterleavedCopyRgbaRawImageData(RawImageData* destination,
                                            const RawImageData* source, int32_t channel);

// ---- typed access ---------------------------------------------------------------------

template <class T>
inline T* ZTR_ChannelData(RawVolumeData* v, int32_t c) {
  return static_cast<T*>(v->data[c]);
}
template <class T>
inline const T* ZTR_ChannelData(const RawVolumeData* v, int32_t c) {
  return static_cast<const T*>(v->data[c]);
}
// Element (i, j, k) of channel c; no bounds check.
template <class T>
inline T& ZTR_Voxel(RawVolumeData* v, int32_t c, int64_t i, int64_t j, int64_t k) {
  const VolumeHeader& h = *v->header;
  return static_cast<T*>(v->data[c])[i + int64_t(h.x) * (j + int64_t(h.y) * k)];
}

// Owning pointers for C++ callers.
struct RawVolumeDeleter {
  void operator()(RawVolumeData* v) const { ZTR_DeleteRawVolumeData(v); }
};
struct RawImageDeleter {
  void operator()(RawImageData* v) const { ZTR_DeleteRawImageData(v); }
};
using VolumePtr = std::unique_ptr<RawVolumeData, RawVolumeDeleter>;
using ImagePtr = std::unique_ptr<RawImageData, RawImageDeleter>;
