// NIfTI-1 and NIfTI-2 images (.nii, .nii.gz, .hdr/.img) as multi-channel volumes: the
// fourth and higher dimensions become channels, the voxel size is kept in millimetres.
#pragma once

#include <cstdint>
#include <string>

#include "analyzer/io/image_geometry.h"
#include "sdk/volume/raw_volume.h"

// Voxel type code for a NIfTI datatype code, with the channel attribute it gets: RGB24 and
// RGBA32 become packed RGBA channels (type 4, attribute 2). -1 when no voxel type holds it
// (64-bit integers, complex numbers, 128-bit floats, unknown codes).
int32_t ZTR_VoxelTypeFromNiftiDatatype(int32_t datatype, int32_t* attribute);

// Reads an image as a new volume owned by the caller, or nullptr with a one-line reason in
// *error (when given). Refused: an unreadable file or header, a datatype without voxel
// type, sizes beyond 2^31 voxels per channel or 4096 channels, a file shorter than its data.
// Scaled integer data (a slope other than 0 or 1, or a non-zero intercept) is returned as
// 32-bit float channels holding the scaled values. `voxel_size` (when given) receives the
// three voxel spacings in millimetres (1.0 when the file has none).
RawVolumeData* LoadNiftiVolume(const char* path, float voxel_size[3], std::string* error);

// Writes every channel as one NIfTI-1 image (NIfTI-2 when a size exceeds 32767) of
// x, y, z and channels along the fourth dimension; gzip-compressed when the path ends in
// ".nii.gz". All channels must share one voxel type and attribute; packed RGBA channels are
// written as RGB24 when every alpha is 255, else as RGBA32. `voxel_size` may be null (1 mm).
// 0, or -1 with a reason in *error.
int SaveNiftiVolume(const RawVolumeData* volume, const char* path, const float voxel_size[3],
                    std::string* error);

// Writes one channel as a 3-D image, with the same rules. 0 or -1.
int SaveNiftiChannel(const RawVolumeData* volume, int32_t channel, const char* path,
                     const float voxel_size[3], std::string* error);

// The same reader, keeping where the image sits: voxel sizes in mm as stored (zero, negative or
// non-finite sizes are passed on for the caller to refuse), qform and sform with their codes,
// converted to mm when the file's spatial unit is metres or micrometres.
RawVolumeData* LoadNiftiVolumeWithGeometry(const char* path, ImageGeometry* geometry,
                                           std::string* error);

// The same, leaving plain channels of an uncompressed image in this machine's byte order in
// the file: the volume's blocks are a private mapping of it (sdk/volume/mapped_volume.h)
// instead of a copy, which spares the copy and the fresh pages of a large DWI. For inputs
// that a short run reads; other images are read as above.
RawVolumeData* LoadNiftiVolumeWithGeometryMapped(const char* path, ImageGeometry* geometry,
                                                 std::string* error);

// What a written image says about its values.
struct NiftiImageLabel {
  // scl_slope and scl_inter: true value = stored * slope + intercept. A slope of 0 writes
  // none (values are what they are).
  double slope = 0.0;
  double intercept = 0.0;
  std::string description;  // descrip, cut to 79 characters
  // Packed RGBA channels as an x*y*z*3 unsigned 8-bit image (red, green, blue volumes),
  // which every NIfTI reader opens, instead of RGB24/RGBA32.
  bool colour_as_three_volumes = false;
};

// Writers with the input's geometry (qform and sform with their codes, voxel sizes, mm) and a
// label. The image goes to a temporary name renamed over `path` when complete: a failed write
// leaves no partial file and an older file intact. 0, or -1 with a reason in *error.
int SaveNiftiVolume(const RawVolumeData* volume, const char* path, const ImageGeometry& geometry,
                    const NiftiImageLabel& label, std::string* error);
int SaveNiftiChannel(const RawVolumeData* volume, int32_t channel, const char* path,
                     const ImageGeometry& geometry, const NiftiImageLabel& label,
                     std::string* error);

// The first word of an uncompressed NIfTI file: the size of its header, which tells the two
// versions apart.
inline constexpr int32_t ZTR_NIFTI1_HEADER_SIZE = 348;
inline constexpr int32_t ZTR_NIFTI2_HEADER_SIZE = 540;
