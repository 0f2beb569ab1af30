// The diffusion tensor image data record: creation with its warnings, duplication, the
// serialized form, the DTI file and the record built on the analyzer's loaded volume.
#include "analyzer/dti/dti_data.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "analyzer/dti/mpg_setting.h"
#include "analyzer/notice.h"

static_assert(std::endian::native == std::endian::little,
              "the serialized DTI data is little-endian and copied as is");

namespace {

constexpr int32_t kMinWeightedChannels = 6;
constexpr int32_t kMaxWeightedChannels = 513;

size_t dti_part_size(int32_t n) { return 16 + 16 * static_cast<size_t>(n); }

bool valid_channel_count(int32_t n) { return n >= 0 && n <= ZTR_DTI_MAX_CHANNELS; }

// The fixed-size fields of the DTI part, read from a buffer already checked to be long enough.
template <class T>
T read_value(const unsigned char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

DiffusionTensorImageData* ZTRdti_NewDiffusionTensorImageData(RawVolumeData* volume,
                                                              int32_t dti_channels) {
  if (volume == nullptr) {
    std::fprintf(stderr, "Warning: volume is NULL for DTI\n");
  } else if (volume->header != nullptr && volume->header->channels < dti_channels) {
    std::fprintf(stderr, "Warning: channels are not ready for target DTI\n");
  }
  if (dti_channels < 7) std::fprintf(stderr, "Warning: number of channels is not valid for general DTI\n");
  if (dti_channels > 514) std::fprintf(stderr, "Warning: channels are too much for default MPG\n");
  auto* data =
      static_cast<DiffusionTensorImageData*>(std::calloc(1, sizeof(DiffusionTensorImageData)));
  if (data == nullptr) return nullptr;
  data->volume = volume;
  data->dti_channels = dti_channels;
  data->voxel_size = 0.0f;
  data->mpg_ready = 0;
  return data;
}

void ZTRdti_DeleteDiffusionTensorImageData(DiffusionTensorImageData* data, int delete_volume) {
  if (data == nullptr) return;
  if (delete_volume == 1 && data->volume != nullptr) ZTR_DeleteRawVolumeData(data->volume);
  std::free(data);
}

DiffusionTensorImageData* ZTRdti_DuplicateDiffusionTensorImageData(
    const DiffusionTensorImageData* data) {
  if (data == nullptr) return nullptr;
  auto* copy =
      static_cast<DiffusionTensorImageData*>(std::malloc(sizeof(DiffusionTensorImageData)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, data, sizeof(DiffusionTensorImageData));
  copy->volume = nullptr;
  if (data->volume != nullptr) {
    copy->volume = ZTR_DuplicateRawVolumeData(data->volume);
    if (copy->volume == nullptr) {
      std::free(copy);
      return nullptr;
    }
  }
  return copy;
}

size_t ZTRdti_GetSerializedDataSize(const DiffusionTensorImageData* data) {
  if (data == nullptr || data->volume == nullptr || !valid_channel_count(data->dti_channels))
    return 0;
  const size_t volume_size = ZTR_GetSerializedRawVolumeDataSize(data->volume);
  if (volume_size == 0) return 0;
  return volume_size + dti_part_size(data->dti_channels);
}

int ZTRdti_SerializeDiffusionTensorImageData(const DiffusionTensorImageData* data,
                                             void* destination) {
  if (destination == nullptr || ZTRdti_GetSerializedDataSize(data) == 0) return -1;
  if (ZTR_SerializeRawVolumeData(data->volume, destination) != 0) return -1;
  auto* p = static_cast<unsigned char*>(destination) +
            ZTR_GetSerializedRawVolumeDataSize(data->volume);
  const int32_t n = data->dti_channels;
  std::memcpy(p, &data->dti_channels, 4);
  std::memcpy(p + 4, &data->b0_channels, 4);
  std::memcpy(p + 8, data->b_value, 4 * static_cast<size_t>(n));
  std::memcpy(p + 8 + 4 * static_cast<size_t>(n), data->mpg_vector, 12 * static_cast<size_t>(n));
  std::memcpy(p + 8 + 16 * static_cast<size_t>(n), &data->voxel_size, 4);
  std::memcpy(p + 12 + 16 * static_cast<size_t>(n), &data->mpg_ready, 4);
  return 0;
}

int ZTRdti_GetDiffusionTensorImageDataFromSerializedData(DiffusionTensorImageData* data,
                                                         const void* source, size_t size,
                                                         size_t* consumed) {
  if (data == nullptr || source == nullptr) return -1;
  size_t volume_size = 0;
  VolumePtr volume(ZTR_GetRawVolumeDataFromSerializedData(source, size, &volume_size));
  if (!volume) {
    std::fprintf(stderr,
                 "Warning: volume=NULL? (ZTRdti_GetDiffusionTensorImageDataFromSerializedData)\n");
    return -1;
  }
  const VolumeHeader& h = *volume->header;
  std::fprintf(stderr, "volume: %dx%dx%dx%d\n", h.x, h.y, h.z, h.channels);

  const auto* p = static_cast<const unsigned char*>(source) + volume_size;
  const size_t left = size - volume_size;
  if (left < 8) {
    std::fprintf(stderr, "Err: DTI data ends before its MPG setting\n");
    return -1;
  }
  const int32_t n = read_value<int32_t>(p);
  const int32_t b0 = read_value<int32_t>(p + 4);
  if (!valid_channel_count(n)) {
    std::fprintf(stderr, "Err: stored DTI channel count %d is out of range (0 .. %d)\n", n,
                 ZTR_DTI_MAX_CHANNELS);
    return -1;
  }
  if (left < dti_part_size(n)) {
    std::fprintf(stderr, "Err: DTI data ends before its MPG setting\n");
    return -1;
  }
  float voxel_size = read_value<float>(p + 8 + 16 * static_cast<size_t>(n));
  int32_t ready = read_value<int32_t>(p + 12 + 16 * static_cast<size_t>(n));
  // Analysis trusts a ready setting without checking it again: a stored setting that breaks
  // the readiness rules, or names channels the volume does not hold as signed 16-bit
  // scalars, must not reach it as ready.
  if (ready != 0) {
    const int64_t weighted = int64_t(n) - b0;
    const bool sound = ready == 1 && b0 >= 0 && weighted >= kMinWeightedChannels &&
                       weighted <= kMaxWeightedChannels && n <= count_dti_channels(volume.get());
    if (!sound) {
      std::fprintf(stderr, "Warning: stored MPG setting does not fit the volume; not ready\n");
      ready = 0;
    }
  }
  data->volume = volume.release();
  data->dti_channels = n;
  data->b0_channels = b0;
  std::memcpy(data->b_value, p + 8, 4 * static_cast<size_t>(n));
  std::memcpy(data->mpg_vector, p + 8 + 4 * static_cast<size_t>(n), 12 * static_cast<size_t>(n));
  data->voxel_size = voxel_size;
  data->mpg_ready = ready;
  if (consumed != nullptr) *consumed = volume_size + dti_part_size(n);
  return 0;
}

// ---- analyzer operations ------------------------------------------------------------------

int32_t count_dti_channels(const RawVolumeData* volume) {
  if (volume == nullptr || volume->header == nullptr) return 0;
  int32_t n = 0;
  while (n < volume->header->channels && volume->types[n] == ZTR_TYPE_INT16 &&
         volume->attributes[n] == ZTR_ATTRIBUTE_PLAIN)
    ++n;
  return n;
}

int create_dti_data_from_volume(DiffusionTensorImageData** data, RawVolumeData* volume) {
  if (data == nullptr) return -1;
  ZTRdti_DeleteDiffusionTensorImageData(*data, 0);
  *data = nullptr;
  const int32_t channels = count_dti_channels(volume);
  DiffusionTensorImageData* created = ZTRdti_NewDiffusionTensorImageData(volume, channels);
  if (created == nullptr) {
    std::fprintf(stderr, "Err: failed to create DTI data\n");
    return -1;
  }
  ZTRdti_SetSingleSoDefaultMPG(created, channels);
  ZTRdti_PrintMPGSetting(created);
  *data = created;
  return 0;
}

namespace {

bool magic_matches(const void* bytes, size_t size) {
  return size >= ZTR_DTI_FILE_MAGIC_LENGTH &&
         std::memcmp(bytes, ZTR_DTI_FILE_MAGIC, ZTR_DTI_FILE_MAGIC_LENGTH) == 0;
}

void not_a_dti_file(NoticeSink* notices) {
  ztr_show_notice(notices, "Warning", "This is NOT a DTI file.");
}

DiffusionTensorImageData* new_empty_record() {
  std::fprintf(stderr, "Notice: just creating DTI data with NULL volume\n");
  DiffusionTensorImageData* data = ZTRdti_NewDiffusionTensorImageData(nullptr, 0);
  if (data == nullptr) std::fprintf(stderr, "Err: failed to create DTI data\n");
  return data;
}

// Fills a fresh record from the serialized data after the magic; releases it on failure.
DiffusionTensorImageData* fill_record(DiffusionTensorImageData* data, const void* body,
                                      size_t size) {
  if (ZTRdti_GetDiffusionTensorImageDataFromSerializedData(data, body, size) != 0) {
    ZTRdti_DeleteDiffusionTensorImageData(data, 1);
    return nullptr;
  }
  return data;
}

}  // namespace

DiffusionTensorImageData* parse_dti_file(const void* bytes, size_t size, NoticeSink* notices) {
  if (bytes == nullptr || !magic_matches(bytes, size)) {
    not_a_dti_file(notices);
    return nullptr;
  }
  DiffusionTensorImageData* data = new_empty_record();
  if (data == nullptr) return nullptr;
  return fill_record(data, static_cast<const unsigned char*>(bytes) + ZTR_DTI_FILE_MAGIC_LENGTH,
                     size - ZTR_DTI_FILE_MAGIC_LENGTH);
}

DiffusionTensorImageData* read_dti_file(const char* path, std::string* source_description,
                                        NoticeSink* notices) {
  if (path == nullptr) return nullptr;
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return nullptr;
  long file_size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) file_size = std::ftell(f);
  if (file_size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
    std::fclose(f);
    std::fprintf(stderr, "Err: failed to read DTI file %s\n", path);
    return nullptr;
  }
  char magic[ZTR_DTI_FILE_MAGIC_LENGTH];
  const size_t got = std::fread(magic, 1, sizeof magic, f);
  if (!magic_matches(magic, got)) {
    std::fclose(f);
    not_a_dti_file(notices);
    return nullptr;
  }
  DiffusionTensorImageData* data = new_empty_record();
  if (data == nullptr) {
    std::fclose(f);
    return nullptr;
  }
  const size_t body_size = static_cast<size_t>(file_size) - ZTR_DTI_FILE_MAGIC_LENGTH;
  std::vector<unsigned char> body;
  try {
    body.resize(body_size);
  } catch (const std::exception&) {
    std::fclose(f);
    ZTRdti_DeleteDiffusionTensorImageData(data, 0);
    std::fprintf(stderr, "Err: failed to allocate memory for DTI data\n");
    return nullptr;
  }
  const size_t read = std::fread(body.data(), 1, body_size, f);
  std::fclose(f);
  if (read != body_size) {
    ZTRdti_DeleteDiffusionTensorImageData(data, 0);
    std::fprintf(stderr, "Err: failed to read DTI file %s\n", path);
    return nullptr;
  }
  data = fill_record(data, body.data(), body.size());
  if (data != nullptr && source_description != nullptr) {
    *source_description = "Data Source: DTI file\nFile name: ";
    *source_description += path;
    *source_description += "\n";
  }
  return data;
}

int write_dti_file(const DiffusionTensorImageData* data, size_t serialized_size,
                   std::FILE* stream) {
  if (stream == nullptr) return -1;
  int result = -1;
  if (serialized_size != 0 && serialized_size == ZTRdti_GetSerializedDataSize(data)) {
    std::vector<unsigned char> buffer;
    try {
      buffer.resize(serialized_size);
    } catch (const std::exception&) {
      buffer.clear();
    }
    if (buffer.size() == serialized_size &&
        ZTRdti_SerializeDiffusionTensorImageData(data, buffer.data()) == 0 &&
        std::fwrite(ZTR_DTI_FILE_MAGIC, 1, ZTR_DTI_FILE_MAGIC_LENGTH, stream) ==
            ZTR_DTI_FILE_MAGIC_LENGTH &&
        std::fwrite(buffer.data(), 1, buffer.size(), stream) == buffer.size())
      result = 0;
  }
  if (std::fclose(stream) != 0) result = -1;
  return result;
}
