// NIfTI images through nifticlib: datatype mapping, bounded reading, channel packing.
#include "analyzer/io/nifti_volume.h"

#include "analyzer/io/atomic_file.h"
#include "sdk/volume/mapped_volume.h"

#include <fcntl.h>
#include <nifti2_io.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
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

// Bytes of an image on their way into an AtomicFile, gzip-compressed when asked.
class ImageSink {
 public:
  ImageSink(AtomicFile* file, bool gzip) : file_(file), gzip_(gzip) {
    if (gzip_) {
      // windowBits 15 + 16: a gzip wrapper, which is what .nii.gz readers expect.
      ready_ = deflateInit2(&stream_, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
      buffer_.resize(1 << 18);
    }
  }
  ~ImageSink() {
    if (gzip_ && ready_) deflateEnd(&stream_);
  }
  bool write(const void* bytes, size_t count, std::string* error) {
    if (!gzip_) return file_->write(bytes, count, error);
    if (!ready_) return fail(error);
    const auto* p = static_cast<const Bytef*>(bytes);
    while (count > 0) {
      // z_stream counts in 32-bit units: feed big blocks in parts.
      const uInt part = static_cast<uInt>(std::min<size_t>(count, 1u << 30));
      stream_.next_in = const_cast<Bytef*>(p);
      stream_.avail_in = part;
      if (!drain(Z_NO_FLUSH, error)) return false;
      p += part;
      count -= part;
    }
    return true;
  }
  bool finish(std::string* error) {
    if (!gzip_) return true;
    if (!ready_) return fail(error);
    stream_.next_in = nullptr;
    stream_.avail_in = 0;
    return drain(Z_FINISH, error);
  }

 private:
  bool fail(std::string* error) {
    if (error) *error = "cannot write " + file_->path() + ": compression failed";
    return false;
  }
  bool drain(int flush, std::string* error) {
    for (;;) {
      stream_.next_out = buffer_.data();
      stream_.avail_out = static_cast<uInt>(buffer_.size());
      const int status = deflate(&stream_, flush);
      if (status == Z_STREAM_ERROR) return fail(error);
      const size_t produced = buffer_.size() - stream_.avail_out;
      if (produced > 0 && !file_->write(buffer_.data(), produced, error)) return false;
      if (flush == Z_FINISH ? status == Z_STREAM_END : stream_.avail_in == 0 && stream_.avail_out != 0) {
        return true;
      }
    }
  }

  AtomicFile* file_;
  bool gzip_;
  bool ready_ = false;
  z_stream stream_{};
  std::vector<Bytef> buffer_;
};

nifti_dmat44 to_dmat44(const Affine& a) {
  nifti_dmat44 m;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) m.m[i][j] = a[i][j];
  }
  return m;
}

Affine from_dmat44(const nifti_dmat44& m, double unit) {
  Affine a{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 4; ++j) a[i][j] = m.m[i][j] * unit;
  }
  a[3][3] = 1.0;
  return a;
}

bool finite_affine(const Affine& a) {
  for (const auto& row : a) {
    for (double v : row) {
      if (!std::isfinite(v)) return false;
    }
  }
  return true;
}

// Sets spacing, qform and sform of a new image from the geometry. A geometry without
// transforms gets the voxel sizes along the axes with the first voxel at the origin.
void set_geometry(nifti_image* image, const ImageGeometry& geometry) {
  float spacing[3];
  for (int i = 0; i < 3; ++i) {
    const float v = geometry.voxel_size[i];
    spacing[i] = std::isfinite(v) && v > 0.0f ? v : 1.0f;
  }
  image->dx = image->pixdim[1] = spacing[0];
  image->dy = image->pixdim[2] = spacing[1];
  image->dz = image->pixdim[3] = spacing[2];
  image->xyz_units = NIFTI_UNITS_MM;
  const bool has_qform = geometry.qform_code > 0 && finite_affine(geometry.qform);
  const bool has_sform = geometry.sform_code > 0 && finite_affine(geometry.sform);
  Affine q = has_qform ? geometry.qform : geometry.voxel_to_scanner();
  if (!finite_affine(q)) q = geometry_from_voxel_size(spacing).voxel_to_scanner();
  double qb, qc, qd, qx, qy, qz, dx, dy, dz, qfac;
  nifti_dmat44_to_quatern(to_dmat44(q), &qb, &qc, &qd, &qx, &qy, &qz, &dx, &dy, &dz, &qfac);
  image->qform_code = has_qform ? geometry.qform_code
                                : (has_sform ? geometry.sform_code : NIFTI_XFORM_SCANNER_ANAT);
  image->quatern_b = qb;
  image->quatern_c = qc;
  image->quatern_d = qd;
  image->qoffset_x = qx;
  image->qoffset_y = qy;
  image->qoffset_z = qz;
  image->qfac = qfac < 0 ? -1.0 : 1.0;
  image->pixdim[0] = static_cast<float>(image->qfac);
  // The stored quaternion carries rotation only; the spacing comes from pixdim.
  image->qto_xyz = nifti_quatern_to_dmat44(qb, qc, qd, qx, qy, qz, spacing[0], spacing[1],
                                           spacing[2], image->qfac);
  image->qto_ijk = nifti_dmat44_inverse(image->qto_xyz);
  image->sform_code = has_sform ? geometry.sform_code : 0;
  if (has_sform) {
    image->sto_xyz = to_dmat44(geometry.sform);
    image->sto_ijk = nifti_dmat44_inverse(image->sto_xyz);
  }
}

// Writes channels [first, first + count) of the volume into one NIfTI file.
int write_channels(const RawVolumeData* volume, int32_t first, int32_t count, const char* path,
                   const ImageGeometry& geometry, const NiftiImageLabel& label,
                   std::string* error) {
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
  const bool rgba = datatype == DT_RGBA32;
  const bool three_volumes = rgba && label.colour_as_three_volumes;
  if (three_volumes) {
    datatype = DT_UINT8;
  } else if (rgba) {
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

  const int64_t volumes = three_volumes ? int64_t(count) * 3 : count;
  const int64_t dims[8] = {volumes > 1 ? 4 : 3, h.x, h.y, h.z, volumes, 1, 1, 1};
  NiftiPtr image(nifti_make_new_nim(dims, datatype, 0));
  if (!image) return fail(error, "out of memory for the NIfTI image");
  const bool wide = h.x > 32767 || h.y > 32767 || h.z > 32767 || volumes > 32767;
  image->nifti_type = wide ? NIFTI_FTYPE_NIFTI2_1 : NIFTI_FTYPE_NIFTI1_1;
  set_geometry(image.get(), geometry);
  if (label.slope != 0.0 && std::isfinite(label.slope) && std::isfinite(label.intercept)) {
    image->scl_slope = label.slope;
    image->scl_inter = label.intercept;
  }
  std::strncpy(image->descrip, label.description.c_str(), sizeof image->descrip - 1);
  image->descrip[sizeof image->descrip - 1] = '\0';

  // Header, the four-byte extension flag (no extensions), then the data.
  std::vector<uint8_t> header;
  if (wide) {
    nifti_2_header hdr;
    image->iname_offset = sizeof hdr + 4;
    if (nifti_convert_nim2n2hdr(image.get(), &hdr) != 0) return fail(error, "cannot form the NIfTI header");
    header.assign(reinterpret_cast<const uint8_t*>(&hdr), reinterpret_cast<const uint8_t*>(&hdr) + sizeof hdr);
  } else {
    nifti_1_header hdr;
    image->iname_offset = sizeof hdr + 4;
    if (nifti_convert_nim2n1hdr(image.get(), &hdr) != 0) return fail(error, "cannot form the NIfTI header");
    header.assign(reinterpret_cast<const uint8_t*>(&hdr), reinterpret_cast<const uint8_t*>(&hdr) + sizeof hdr);
  }
  header.insert(header.end(), 4, uint8_t(0));

  AtomicFile file(path);
  std::string reason;
  if (!file.open(&reason)) return fail(error, reason);
  ImageSink sink(&file, ends_with(name, ".gz"));
  bool ok = sink.write(header.data(), header.size(), &reason);
  const int64_t chunk = 1 << 16;  // packed colour goes out in parts, not as one copy
  std::vector<uint8_t> packed;
  for (int32_t c = first; ok && c < first + count; ++c) {
    if (!rgba) {
      ok = sink.write(volume->data[c], ZTR_GetChannelBytes(volume, c), &reason);
      continue;
    }
    const uint32_t* d = ZTR_ChannelData<uint32_t>(volume, c);
    if (three_volumes) {
      for (int component = 0; ok && component < 3; ++component) {
        const int shift = 24 - 8 * component;
        for (int64_t start = 0; ok && start < voxels; start += chunk) {
          const int64_t n = std::min(chunk, voxels - start);
          packed.resize(size_t(n));
          for (int64_t v = 0; v < n; ++v) packed[size_t(v)] = uint8_t(d[start + v] >> shift);
          ok = sink.write(packed.data(), packed.size(), &reason);
        }
      }
    } else {
      const int nbyper = datatype == DT_RGB24 ? 3 : 4;
      for (int64_t start = 0; ok && start < voxels; start += chunk) {
        const int64_t n = std::min(chunk, voxels - start);
        packed.resize(size_t(n * nbyper));
        for (int64_t v = 0; v < n; ++v) {
          uint8_t* p = packed.data() + v * nbyper;
          const uint32_t value = d[start + v];
          p[0] = uint8_t(value >> 24);
          p[1] = uint8_t(value >> 16);
          p[2] = uint8_t(value >> 8);
          if (nbyper == 4) p[3] = uint8_t(value);
        }
        ok = sink.write(packed.data(), packed.size(), &reason);
      }
    }
  }
  ok = ok && sink.finish(&reason) && file.commit(&reason);
  if (!ok) return fail(error, reason);
  return 0;
}

NiftiImageLabel default_label() {
  NiftiImageLabel label;
  label.description = "ztr volume";
  return label;
}

ImageGeometry plain_geometry(const float voxel_size[3]) {
  const float unit[3] = {1.0f, 1.0f, 1.0f};
  return geometry_from_voxel_size(voxel_size ? voxel_size : unit);
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

namespace {

double unit_in_mm(int units) {
  if (units == NIFTI_UNITS_METER) return 1000.0;
  if (units == NIFTI_UNITS_MICRON) return 0.001;
  return 1.0;
}

// A private mapping of the image data as the volume's blocks (plain channels of an
// uncompressed file in this machine's byte order), or nullptr to read them instead.
RawVolumeData* map_volume(const nifti_image& image, const VolumeHeader& header, int32_t type) {
  if (!image.iname || nifti_is_gzfile(image.iname) || image.iname_offset < 0) return nullptr;
  if (image.byteorder != nifti_short_order() && image.swapsize > 1) return nullptr;
  const int fd = ::open(image.iname, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::vector<int32_t> types(size_t(header.channels), type), attributes(size_t(header.channels), 0);
  RawVolumeData* volume = ZTR_NewRawVolumeDataMappedFromFile(fd, uint64_t(image.iname_offset), header,
                                                             types.data(), attributes.data());
  ::close(fd);
  return volume;
}

RawVolumeData* load_volume(const char* path, float voxel_size[3], ImageGeometry* geometry,
                           std::string* error, bool map_file = false) {
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
  const double slope = image->scl_slope, intercept = image->scl_inter;
  const bool scaled = attribute == ZTR_ATTRIBUTE_PLAIN && std::isfinite(slope) &&
                      std::isfinite(intercept) && slope != 0.0 && (slope != 1.0 || intercept != 0.0);
  const VolumeHeader header{int32_t(nx), int32_t(ny), int32_t(nz), int32_t(channels)};
  VolumePtr volume;
  if (map_file && !scaled && attribute == ZTR_ATTRIBUTE_PLAIN) volume.reset(map_volume(*image, header, type));
  const bool mapped = volume != nullptr;
  std::vector<int32_t> types(channels, scaled ? ZTR_TYPE_FLOAT32 : type), attributes(channels, attribute);
  if (!mapped) volume.reset(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!volume) {
    fail(error, "out of memory for the volume");
    return nullptr;
  }
  const int64_t channel_bytes = voxels * image->nbyper;
  if (mapped) {
    // The blocks are the file's bytes: nothing to read.
  } else if (!scaled && attribute == ZTR_ATTRIBUTE_PLAIN && image->iname) {
    // Plain channels are read straight into their blocks: no second copy of a large DWI.
    const bool compressed = nifti_is_gzfile(image->iname) != 0;
    const auto read_channels = [&](int32_t first, int32_t last) {
      znzFile file = znzopen(image->iname, "rb", compressed);
      // znzseek answers 0 for a plain file and the new offset for a compressed one.
      bool ok = !znz_isnull(file) &&
                znzseek(file, image->iname_offset + first * channel_bytes, SEEK_SET) >= 0;
      for (int32_t c = first; ok && c < last; ++c) {
        auto* block = static_cast<uint8_t*>(volume->data[c]);
        for (int64_t done = 0; ok && done < channel_bytes;) {
          // znzread counts in unsigned int for compressed files: read in parts.
          const size_t part = size_t(std::min<int64_t>(channel_bytes - done, int64_t(1) << 30));
          ok = znzread(block + done, 1, part, file) == part;
          done += int64_t(part);
        }
        if (ok && image->byteorder != nifti_short_order() && image->swapsize > 1) {
          nifti_swap_Nbytes(voxels, image->swapsize, block);
        }
      }
      if (!znz_isnull(file)) znzclose(file);
      return ok;
    };
    // A plain file is read from both ends at once: filling fresh pages costs as much as the
    // copy, and two threads share it. A compressed stream can only be read in order.
    const int32_t half = compressed || header.channels < 2 ? header.channels : header.channels / 2;
    bool second_ok = true;
    std::thread second;
    if (half < header.channels) {
      try {
        second = std::thread([&] { second_ok = read_channels(half, header.channels); });
      } catch (const std::system_error&) {
        second_ok = read_channels(half, header.channels);  // no thread: the same work in turn
      }
    }
    const bool first_ok = read_channels(0, half);
    if (second.joinable()) second.join();
    if (!first_ok || !second_ok) {
      fail(error, std::string("cannot read the NIfTI image data: ") + path);
      return nullptr;
    }
  } else {
    if (nifti_image_load(image.get()) != 0 || !image->data) {
      fail(error, std::string("cannot read the NIfTI image data: ") + path);
      return nullptr;
    }
    const auto* source = static_cast<const uint8_t*>(image->data);
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
  }
  if (voxel_size) {
    voxel_size[0] = spacing_in_mm(image->dx, image->xyz_units);
    voxel_size[1] = spacing_in_mm(image->dy, image->xyz_units);
    voxel_size[2] = spacing_in_mm(image->dz, image->xyz_units);
  }
  if (geometry) {
    const double unit = unit_in_mm(image->xyz_units);
    ImageGeometry g;
    // The library turns zero and non-finite spacings into 1 when it reads a header: the
    // file's own values decide whether the grid is usable.
    double stored[3] = {image->dx, image->dy, image->dz};
    int version = 0;
    if (void* header = nifti_read_header(image->fname, &version, 0)) {
      for (int i = 0; i < 3; ++i) {
        stored[i] = version == 2 ? static_cast<nifti_2_header*>(header)->pixdim[i + 1]
                                 : static_cast<nifti_1_header*>(header)->pixdim[i + 1];
      }
      std::free(header);
    }
    for (int i = 0; i < 3; ++i) g.voxel_size[i] = static_cast<float>(stored[i] * unit);
    g.qform_code = image->qform_code > 0 ? image->qform_code : 0;
    g.sform_code = image->sform_code > 0 ? image->sform_code : 0;
    g.qform = from_dmat44(image->qto_xyz, unit);
    g.sform = from_dmat44(image->sto_xyz, unit);
    if (!finite_affine(g.qform)) g.qform_code = 0;
    if (!finite_affine(g.sform)) g.sform_code = 0;
    *geometry = g;
  }
  return volume.release();
}

}  // namespace

RawVolumeData* LoadNiftiVolume(const char* path, float voxel_size[3], std::string* error) {
  return load_volume(path, voxel_size, nullptr, error);
}

RawVolumeData* LoadNiftiVolumeWithGeometry(const char* path, ImageGeometry* geometry,
                                           std::string* error) {
  return load_volume(path, nullptr, geometry, error);
}

RawVolumeData* LoadNiftiVolumeWithGeometryMapped(const char* path, ImageGeometry* geometry,
                                                 std::string* error) {
  return load_volume(path, nullptr, geometry, error, true);
}

int SaveNiftiVolume(const RawVolumeData* volume, const char* path, const float voxel_size[3],
                    std::string* error) {
  return SaveNiftiVolume(volume, path, plain_geometry(voxel_size), default_label(), error);
}

int SaveNiftiChannel(const RawVolumeData* volume, int32_t channel, const char* path,
                     const float voxel_size[3], std::string* error) {
  return write_channels(volume, channel, 1, path, plain_geometry(voxel_size), default_label(), error);
}

int SaveNiftiVolume(const RawVolumeData* volume, const char* path, const ImageGeometry& geometry,
                    const NiftiImageLabel& label, std::string* error) {
  if (!volume || !volume->header) return fail(error, "no volume to write");
  return write_channels(volume, 0, volume->header->channels, path, geometry, label, error);
}

int SaveNiftiChannel(const RawVolumeData* volume, int32_t channel, const char* path,
                     const ImageGeometry& geometry, const NiftiImageLabel& label,
                     std::string* error) {
  return write_channels(volume, channel, 1, path, geometry, label, error);
}
