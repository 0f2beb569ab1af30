// The diffusion tensor image data set: the DWI volume, its MPG setting and voxel size,
// its serialized byte image and the DTI file that carries it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "sdk/volume/raw_volume.h"

struct NoticeSink;

// Capacity of the MPG arrays: channels 0 .. ZTR_DTI_MAX_CHANNELS-1.
inline constexpr int32_t ZTR_DTI_MAX_CHANNELS = 4096;

// Magic at the start of a DTI file, written without terminating zero (47 bytes).
inline constexpr char ZTR_DTI_FILE_MAGIC[] = "# DTI data including ZANTREVIUM raw volume data";
inline constexpr size_t ZTR_DTI_FILE_MAGIC_LENGTH = sizeof(ZTR_DTI_FILE_MAGIC) - 1;

struct DiffusionTensorImageData {
  RawVolumeData* volume;  // the DWI volume; not owned in normal use
  int32_t dti_channels;   // channels 0 .. dti_channels-1 form the measurement
  int32_t b0_channels;    // b=0 channels, always the first ones
  float b_value[ZTR_DTI_MAX_CHANNELS];
  float mpg_vector[ZTR_DTI_MAX_CHANNELS][3];  // unnormalised gradient directions
  float voxel_size;  // edge length of a voxel in mm; 0.0 until a data source sets it
  int32_t mpg_ready;  // 1 when the MPG setting is valid for analysis
};

// ---- record -------------------------------------------------------------------------

// New record on `volume` (may be nullptr) with `dti_channels` channels, not ready, all
// arrays and b0_channels zero. Prints the creation warnings on standard error; they never
// prevent creation. nullptr only when memory runs out (no message).
DiffusionTensorImageData* ZTRdti_NewDiffusionTensorImageData(RawVolumeData* volume,
                                                              int32_t dti_channels);
// Releases the record; with delete_volume == 1 its volume is deleted first. nullptr ignored.
void ZTRdti_DeleteDiffusionTensorImageData(DiffusionTensorImageData* data, int delete_volume);
// Deep copy including a copy of the volume (owned by the caller); nullptr on failure.
DiffusionTensorImageData* ZTRdti_DuplicateDiffusionTensorImageData(
    const DiffusionTensorImageData* data);

// ---- serialized form: serialized volume, then the DTI part ----------------------------

// Serialized volume size + 16 + 16 * dti_channels; 0 for nullptr, no volume or a
// dti_channels outside 0 .. ZTR_DTI_MAX_CHANNELS.
size_t ZTRdti_GetSerializedDataSize(const DiffusionTensorImageData* data);
// destination holds ZTRdti_GetSerializedDataSize bytes. 0, or -1 when that size is 0.
int ZTRdti_SerializeDiffusionTensorImageData(const DiffusionTensorImageData* data,
                                             void* destination);
// Rebuilds the volume from at most `size` bytes of `source` into data->volume (the record
// then owns a new volume; a previous volume pointer is overwritten, not deleted), prints
// "volume: %dx%dx%dx%d\n", then reads the DTI part. Returns 0, or -1 with a message when
// the volume cannot be rebuilt, the stored channel count is outside 0 .. 4096, or the
// buffer ends early; on -1 the record is left exactly as it was. *consumed (when given)
// receives the number of bytes read.
int ZTRdti_GetDiffusionTensorImageDataFromSerializedData(DiffusionTensorImageData* data,
                                                         const void* source, size_t size,
                                                         size_t* consumed = nullptr);

// ---- analyzer operations --------------------------------------------------------------

// Leading channels of `volume` that are signed 16-bit (type 3) plain scalars (attribute 0);
// 0 for nullptr.
int32_t count_dti_channels(const RawVolumeData* volume);

// Releases *data (never its volume), then creates a record on `volume` with
// count_dti_channels channels, applies the single-So default MPG setting and prints the
// MPG report. On failure prints "Err: failed to create DTI data\n", leaves *data nullptr
// and returns -1; otherwise 0.
int create_dti_data_from_volume(DiffusionTensorImageData** data, RawVolumeData* volume);

// Reads a DTI file. Returns a new record that owns a new volume (the caller takes both
// over), or nullptr: silently when the file cannot be opened; after the "This is NOT a
// DTI file." notice (titled "Warning") when the magic differs; with a message when the
// contents are malformed or memory runs out. On success *source_description (when given)
// receives "Data Source: DTI file\nFile name: <path>\n".
DiffusionTensorImageData* read_dti_file(const char* path, std::string* source_description,
                                        NoticeSink* notices = nullptr);
// The same on a file image held in memory (bounded by `size`).
DiffusionTensorImageData* parse_dti_file(const void* bytes, size_t size,
                                         NoticeSink* notices = nullptr);

// Writes magic + serialized data to `stream` and closes it (also on failure; nullptr
// stream ignored). serialized_size must equal ZTRdti_GetSerializedDataSize(data).
// 0, or -1 when nothing or not everything could be written.
int write_dti_file(const DiffusionTensorImageData* data, size_t serialized_size,
                   std::FILE* stream);

// ---- owning pointers -------------------------------------------------------------------

// Releases the record only; the volume stays with whoever holds it.
struct DtiDataDeleter {
  void operator()(DiffusionTensorImageData* d) const {
    ZTRdti_DeleteDiffusionTensorImageData(d, 0);
  }
};
// Releases the record and its volume (records from read_dti_file and duplication).
struct DtiDataWithVolumeDeleter {
  void operator()(DiffusionTensorImageData* d) const {
    ZTRdti_DeleteDiffusionTensorImageData(d, 1);
  }
};
using DtiDataPtr = std::unique_ptr<DiffusionTensorImageData, DtiDataDeleter>;
using DtiDataWithVolumePtr = std::unique_ptr<DiffusionTensorImageData, DtiDataWithVolumeDeleter>;
