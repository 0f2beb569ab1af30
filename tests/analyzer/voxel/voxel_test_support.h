// Shared pieces of the voxel analysis tests: scratch directories, raw block files, small DWI
// volumes with known tensors, and the numpy/scipy reference script run with a deadline.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/console_capture.h"
#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/dti/mpg_setting.h"
#include "analyzer/dti/tensor_phantom.h"
#include "sdk/volume/raw_volume.h"

namespace voxel_test {

namespace fs = std::filesystem;

// A fresh directory removed at the end of the test, even when it fails.
using TempDir = ztr::test::TempDir;

inline void write_bytes(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the numpy/scipy reference on the files in `dir`; true when it succeeded.
inline bool run_reference(const std::string& command, const TempDir& dir) {
  const ztr::test::RunResult r =
      ztr::test::run_program({ZTR_PYTHON, ZTR_VOXEL_REFERENCE, command, dir.path().string()},
                             dir / "reference", std::chrono::seconds(120));
  EXPECT_TRUE(r.finished && r.exit_code == 0) << r.err;
  return r.finished && r.exit_code == 0;
}

// A DWI volume of x, y, z voxels with one b=0 channel and `directions` default directions
// at b 1000, all zero, and its DTI record (ready for analysis).
struct DwiData {
  VolumePtr volume;
  DtiDataPtr data;
  DwiData(int x, int y, int z, int directions = 12, int extra_channels = 0,
          int32_t extra_type = ZTR_TYPE_INT16) {
    const int channels = 1 + directions + extra_channels;
    std::vector<int32_t> types(size_t(channels), ZTR_TYPE_INT16), attributes(size_t(channels), 0);
    for (int c = 1 + directions; c < channels; ++c) types[size_t(c)] = extra_type;
    volume.reset(ZTR_NewRawVolumeData({x, y, z, channels}, types.data(), attributes.data()));
    data.reset(ZTRdti_NewDiffusionTensorImageData(volume.get(), 1 + directions));
    ZTRdti_SetSingleSoDefaultMPG(data.get(), 1 + directions);
    data->voxel_size = 1.0f;
  }
  DiffusionTensorImageData* get() const { return data.get(); }
  void set(int x, int y, int z, const SymmetricTensor& d, double s0) const {
    synthesize_voxel(data.get(), x, y, z, d, s0);
  }
  int16_t& at(int c, int x, int y, int z) const { return ZTR_Voxel<int16_t>(volume.get(), c, x, y, z); }
  int x() const { return volume->header->x; }
  int y() const { return volume->header->y; }
  int z() const { return volume->header->z; }
};

inline VolumePtr new_mask(int x, int y, int z) {
  const int32_t dims[3] = {x, y, z};
  return VolumePtr(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_UINT8, ZTR_ATTRIBUTE_PLAIN));
}

inline uint8_t& mask_at(RawVolumeData* mask, int x, int y, int z) {
  return ZTR_Voxel<uint8_t>(mask, 0, x, y, z);
}

inline int count_set(const RawVolumeData* mask) {
  const uint8_t* m = ZTR_ChannelData<uint8_t>(mask, 0);
  int n = 0;
  for (int64_t i = 0; i < int64_t(mask->header->x) * mask->header->y * mask->header->z; ++i) {
    n += m[i] != 0;
  }
  return n;
}

// A cylindrical tensor along t: lambda_par 1.7e-3, lambda_perp 0.3e-3 (FA about 0.8).
inline SymmetricTensor fibre(double tx, double ty, double tz) {
  const double t[3] = {tx, ty, tz};
  return cylindrical_tensor(1.7e-3, 0.3e-3, t);
}

inline SymmetricTensor isotropic(double d = 0.8e-3) { return {d, d, d, 0, 0, 0}; }


}  // namespace voxel_test
