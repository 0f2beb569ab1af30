// NIfTI images through nifticlib: datatype mapping, bounded reading, channel packing.
#include "analyzer/io/nifti_volume.h"

#include <nifti2_io.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <vector>

static_assert(sizeof(nifti_1_header) == ZTR_NIFTI1_HEADER_SIZE);
static_assert(sizeof(nifti_2_header) == ZTR_NIFTI2_HEADER_SIZE);

namespace {

struct NiftiImageDeleter {
  void operator()(nifti_image* image) const { nifti_image_free(image); }
};
using NiftiPtr = std::unique_ptr<nifti_image, NiftiImageDeleter>;

int fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return -1;
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

float spacing_in_mm(double spacing, int units) {
  double value = std::fabs(spacing);
  if (!std::isfinite(value) || value == 0.0) return 1.0f;
  if (units == NIFTI_UNITS_METER) value *= 1000.0;
  if (units == NIFTI_UNITS_MICRON) value /= 1000.0;
  return static_cast<float>(value);
}

int32_t nifti_datatype_for(int32_t type, int32_t attribute) {
  if (attribute == ZTR_ATTRIBUTE_RGBA && type == ZTR_TYPE_UINT32) return DT_RGBA32;
  switch (type) {
    case ZTR_TYPE_UINT8: return DT_UINT8;
    case ZTR_TYPE_INT8: return DT_INT8;
    case ZTR_TYPE_UINT16: return DT_UINT16;
    case ZTR_TYPE_INT16: return DT_INT16;
    case ZTR_TYPE_UINT32: return DT_UINT32;
    case ZTR_TYPE_INT32: return DT_INT32;
    case ZTR_TYPE_FLOAT32: return DT_FLOAT32;
    case ZTR_TYPE_FLOAT64: return DT_FLOAT64;
    default: return -1;
  }
}

// Copies one channel of NIfTI voxels (n elements starting at `source`) into a channel.
void unpack_rgb(const uint8_t* source, int nbyper, int64_t n, uint32_t* destination) {
  for (int64_t v = 0; v < n; ++v) {
    const uint8_t* p = source + v * nbyper;
    const uint32_t alpha = nbyper == 4 ? p[3] : 255u;
    destination[v] = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | alpha;
  }
}

// Writes channels [first, first + count) of the volume into one NIfTI file.
int write_channels(const RawVolumeData* volume, int32_t first, int32_t count, const char* path,
                   const float voxel_size[3], std::string* error) {
  if (!volume || !volume->header || !path) return fail(error, "no volume or no path to write");
  const VolumeHeader& h = *volume->header;
  if (first < 0 || count < 1 || first + count > h.channels) return fail(error, "channel out of range");
  const std::string_view name(path);
  if (!ends_with(name, ".nii") && !ends_with(name, ".nii.gz")) {
    return fail(error, std::string("NIfTI file names end in .nii or .nii.gz: ") + path);
  }
  const int32_t type = volume->types[first];
  const int32_t attribute = volume->attributes[first];
  for (int32_t c = first; c < first + count; ++c) {
    if (volume->types[c] != type || volume->attributes[c] != attribute) {
      return fail(error, "channels of different voxel types cannot share one NIfTI image");
    }
  }
  int32_t datatype = nifti_datatype_for(type, attribute);
  if (datatype < 0) return fail(error, "channel type has no NIfTI datatype");
  const int64_t voxels = int64_t(h.x) * h.y * h.z;
  if (datatype == DT_RGBA32) {
    bool opaque = true;
    for (int32_t c = first; c < first + count && opaque; ++c) {
      const uint32_t* d = ZTR_ChannelData<uint32_t>(volume, c);
      for (int64_t v = 0; v < voxels; ++v) {
        if ((d[v] & 0xFFu) != 0xFFu) {
          opaque = false;
          break;
        }
      }
    }
    if (opaque) datatype = DT_RGB24;
  }

  const int64_t dims[8] = {count > 1 ? 4 : 3, h.x, h.y, h.z, count, 1, 1, 1};
  NiftiPtr image(nifti_make_new_nim(dims, datatype, 1));
  if (!image) return fail(error, "out of memory for the NIfTI image");
  const bool wide = h.x > 32767 || h.y > 32767 || h.z > 32767 || count > 32767;
  image->nifti_type = wide ? NIFTI_FTYPE_NIFTI2_1 : NIFTI_FTYPE_NIFTI1_1;
  if (nifti_set_filenames(image.get(), path, 0, 1) != 0) return fail(error, "bad NIfTI file name");
  nifti_set_iname_offset(image.get(), wide ? 2 : 1);
  const float unit[3] = {1.0f, 1.0f, 1.0f};
  const float* spacing = voxel_size ? voxel_size : unit;
  image->dx = image->pixdim[1] = spacing[0];
  image->dy = image->pixdim[2] = spacing[1];
  image->dz = image->pixdim[3] = spacing[2];
  image->xyz_units = NIFTI_UNITS_MM;
  image->qform_code = NIFTI_XFORM_SCANNER_ANAT;
  image->quatern_b = image->quatern_c = image->quatern_d = 0.0;
  image->qoffset_x = image->qoffset_y = image->qoffset_z = 0.0;
  image->qfac = 1.0;
  image->qto_xyz = nifti_quatern_to_dmat44(0, 0, 0, 0, 0, 0, spacing[0], spacing[1], spacing[2], 1);
  image->qto_ijk = nifti_dmat44_inverse(image->qto_xyz);
  std::strncpy(image->descrip, "ztr volume", sizeof image->descrip - 1);

  auto* out = static_cast<uint8_t*>(image->data);
  for (int32_t c = first; c < first + count; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume, c);
    if (datatype == DT_RGB24 || datatype == DT_RGBA32) {
      const int nbyper = datatype == DT_RGB24 ? 3 : 4;
      const uint32_t* d = ZTR_ChannelData<uint32_t>(volume, c);
      for (int64_t v = 0; v < voxels; ++v) {
        uint8_t* p = out + v * nbyper;
        p[0] = uint8_t(d[v] >> 24);
        p[1] = uint8_t(d[v] >> 16);
        p[2] = uint8_t(d[v] >> 8);
        if (nbyper == 4) p[3] = uint8_t(d[v]);
      }
      out += voxels * nbyper;
    } else {
      std::memcpy(out, volume->data[c], bytes);
      out += bytes;
    }
  }
  std::error_code ec;
  std::filesystem::remove(path, ec);
  nifti_image_write(image.get());
  if (!std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0) {
    return fail(error, std::string("cannot write ") + path);
  }
  return 0;
}

}  // namespace

int32_t ZTR_VoxelTypeFromNiftiDatatype(int32_t datatype, int32_t* attribute) {
  int32_t attr = ZTR_ATTRIBUTE_PLAIN, type;
  switch (datatype) {
    case DT_UINT8: type = ZTR_TYPE_UINT8; break;
    case DT_INT8: type = ZTR_TYPE_INT8; break;
    case DT_UINT16: type = ZTR_TYPE_UINT16; break;
    case DT_INT16: type = ZTR_TYPE_INT16; break;
    case DT_UINT32: type = ZTR_TYPE_UINT32; break;
    case DT_INT32: type = ZTR_TYPE_INT32; break;
    case DT_FLOAT32: type = ZTR_TYPE_FLOAT32; break;
    case DT_FLOAT64: type = ZTR_TYPE_FLOAT64; break;
    case DT_RGB24:
    case DT_RGBA32:
      type = ZTR_TYPE_UINT32;
      attr = ZTR_ATTRIBUTE_RGBA;
      break;
    default: return -1;
  }
  if (attribute) *attribute = attr;
  return type;
}

RawVolumeData* LoadNiftiVolume(const char* path, float voxel_size[3], std::string* error) {
  if (voxel_size) voxel_size[0] = voxel_size[1] = voxel_size[2] = 1.0f;
  if (!path) {
    fail(error, "no file name");
    return nullptr;
  }
  nifti_set_debug_level(0);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    fail(error, std::string("cannot open ") + path);
    return nullptr;
  }
  NiftiPtr image(nifti_image_read(path, 0));
  if (!image) {
    fail(error, std::string("not a readable NIfTI image: ") + path);
    return nullptr;
  }
  int32_t attribute = 0;
  const int32_t type = ZTR_VoxelTypeFromNiftiDatatype(image->datatype, &attribute);
  if (type < 0) {
    fail(error, std::string("NIfTI datatype ") + std::to_string(image->datatype) + " (" +
                    nifti_datatype_string(image->datatype) + ") has no voxel type: " + path);
    return nullptr;
  }
  const int64_t nx = image->nx, ny = image->ny, nz = image->nz;
  const int64_t int32_max = std::numeric_limits<int32_t>::max();
  int64_t channels = 1;
  for (int d = 4; d <= 7; ++d) {
    const int64_t n = image->dim[d] > 0 && d <= image->dim[0] ? image->dim[d] : 1;
    channels *= n;
    if (channels > ZTR_MAX_CHANNELS) break;
  }
  if (nx < 1 || ny < 1 || nz < 1 || nx > int32_max || ny > int32_max || nz > int32_max ||
      nx * ny > int32_max || nx * ny * nz > int32_max || channels > ZTR_MAX_CHANNELS ||
      image->nbyper < 1) {
    fail(error, std::string("NIfTI image sizes out of range: ") + path);
    return nullptr;
  }
  const int64_t voxels = nx * ny * nz;
  const int64_t data_bytes = voxels * channels * image->nbyper;
  if (image->iname) {
    // A compressed file cannot expand more than deflate's 1032:1, so its length bounds the
    // image data it can hold before anything is allocated.
    const auto length = std::filesystem::file_size(image->iname, ec);
    const bool compressed = ends_with(image->iname, ".gz");
    const int64_t room = compressed ? int64_t(length) * 1032 + (1 << 20) : int64_t(length) - image->iname_offset;
    if (ec || room < data_bytes) {
      fail(error, std::string("NIfTI file shorter than its image data: ") + path);
      return nullptr;
    }
  }
  if (nifti_image_load(image.get()) != 0 || !image->data) {
    fail(error, std::string("cannot read the NIfTI image data: ") + path);
    return nullptr;
  }

  const double slope = image->scl_slope, intercept = image->scl_inter;
  const bool scaled = attribute == ZTR_ATTRIBUTE_PLAIN && std::isfinite(slope) &&
                      std::isfinite(intercept) && slope != 0.0 && (slope != 1.0 || intercept != 0.0);
  const VolumeHeader header{int32_t(nx), int32_t(ny), int32_t(nz), int32_t(channels)};
  std::vector<int32_t> types(channels, scaled ? ZTR_TYPE_FLOAT32 : type), attributes(channels, attribute);
  VolumePtr volume(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!volume) {
    fail(error, "out of memory for the volume");
    return nullptr;
  }
  const auto* source = static_cast<const uint8_t*>(image->data);
  const int64_t channel_bytes = voxels * image->nbyper;
  for (int32_t c = 0; c < header.channels; ++c) {
    const uint8_t* block = source + c * channel_bytes;
    if (attribute == ZTR_ATTRIBUTE_RGBA) {
      unpack_rgb(block, image->nbyper, voxels, ZTR_ChannelData<uint32_t>(volume.get(), c));
    } else if (scaled) {
      float* d = ZTR_ChannelData<float>(volume.get(), c);
      for (int64_t v = 0; v < voxels; ++v) {
        const double raw = type == ZTR_TYPE_FLOAT64 ? reinterpret_cast<const double*>(block)[v]
                                                    : ZTR_GetVoxelValueAsFloat(block, type, voxels, v);
        d[v] = static_cast<float>(raw * slope + intercept);
      }
    } else {
      std::memcpy(volume->data[c], block, size_t(channel_bytes));
    }
  }
  if (voxel_size) {
    voxel_size[0] = spacing_in_mm(image->dx, image->xyz_units);
    voxel_size[1] = spacing_in_mm(image->dy, image->xyz_units);
    voxel_size[2] = spacing_in_mm(image->dz, image->xyz_units);
  }
  return volume.release();
}

int SaveNiftiVolume(const RawVolumeData* volume, const char* path, const float voxel_size[3],
                    std::string* error) {
  if (!volume || !volume->header) return fail(error, "no volume to write");
  return write_channels(volume, 0, volume->header->channels, path, voxel_size, error);
}

int SaveNiftiChannel(const RawVolumeData* volume, int32_t channel, const char* path,
                     const float voxel_size[3], std::string* error) {
  return write_channels(volume, channel, 1, path, voxel_size, error);
}
