// Small volumes, temporary folders and an application state with ready DTI data, shared by
// the analyzer application tests.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/dti/dti_data.h"
#include "analyzer/io/raw_volume_file.h"
#include "sdk/volume/raw_volume.h"
#include "tests/support/temp_dir.h"

// x*y*z voxels, `channels` plain channels of one type; zero-filled.
inline VolumePtr make_volume(int x, int y, int z, int channels, int32_t type = ZTR_TYPE_INT16) {
  VolumeHeader header{x, y, z, channels};
  std::vector<int32_t> types(channels, type), attributes(channels, ZTR_ATTRIBUTE_PLAIN);
  return VolumePtr(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
}

// Every voxel of signed 16-bit channel c gets value(c, i) with i the linear voxel index.
template <class F>
void fill_int16(RawVolumeData* volume, F value) {
  const int64_t voxels = int64_t(volume->header->x) * volume->header->y * volume->header->z;
  for (int c = 0; c < volume->header->channels; ++c) {
    auto* data = ZTR_ChannelData<int16_t>(volume, c);
    for (int64_t i = 0; i < voxels; ++i) data[i] = static_cast<int16_t>(value(c, i));
  }
}

inline bool write_raw_file(const std::string& path, const RawVolumeData* volume) {
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  return stream && SaveRawVolumeFile(volume, stream) == 0;
}

inline bool write_text_file(const std::string& path, const std::string& text) {
  std::FILE* stream = std::fopen(path.c_str(), "wb");
  if (!stream) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fclose(stream) == 0 && ok;
}

// The bytes of every channel, for "nothing changed" checks.
inline std::vector<std::vector<unsigned char>> volume_bytes(const RawVolumeData* volume) {
  std::vector<std::vector<unsigned char>> out;
  out.push_back({reinterpret_cast<const unsigned char*>(volume->header),
                 reinterpret_cast<const unsigned char*>(volume->header) + sizeof(VolumeHeader)});
  for (int c = 0; c < volume->header->channels; ++c) {
    const auto* p = static_cast<const unsigned char*>(volume->data[c]);
    out.emplace_back(p, p + ZTR_GetChannelBytes(volume, c));
  }
  return out;
}

// An application state holding `volume` with DTI data built on it (ready for a volume of
// at least 7 leading signed 16-bit channels).
inline void load_into_state(AppState& state, VolumePtr volume) {
  state.volume = std::move(volume);
  DiffusionTensorImageData* data = nullptr;
  create_dti_data_from_volume(&data, state.volume.get());
  state.dti.reset(data);
  state.initialized = 1;
}
