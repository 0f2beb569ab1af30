// Input volumes of the host stand-in.
#include "host/volume_input.h"

#include <cstring>
#include <fstream>

#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"

namespace ztr::host {

namespace {

// Keeps the loader's Notice text so that it can become the host's one error line.
struct NoticeRecorder : NoticeSink {
  std::string text;
  void notice(const std::string&, const std::string& t) override { text = t; }
};

}  // namespace

VolumePtr load_host_volume(const std::string& path, float* voxel_size, std::string* error) {
  ImageGeometry unused;
  bool has_geometry = false;
  return load_host_volume(path, voxel_size, &unused, &has_geometry, error);
}

VolumePtr load_host_volume(const std::string& path, float* voxel_size, ImageGeometry* geometry,
                           bool* has_geometry, std::string* error) {
  *has_geometry = false;
  std::ifstream probe(path, std::ios::binary);
  if (!probe) {
    if (error) *error = "cannot open " + path;
    return nullptr;
  }
  char head[16] = {};
  probe.read(head, sizeof head);
  probe.close();
  if (std::memcmp(head, ZTR_RAW_FILE_MAGIC, sizeof head) == 0) {
    NoticeRecorder notice;
    VolumePtr volume(LoadRawVolumeFile(path.c_str(), voxel_size, nullptr, &notice));
    if (!volume && error) {
      *error = path + ": " + (notice.text.empty() ? "cannot read the raw volume file" : notice.text);
    }
    return volume;
  }
  std::string reason;
  ImageGeometry g;
  VolumePtr volume(LoadNiftiVolumeWithGeometry(path.c_str(), &g, &reason));
  if (!volume) {
    if (error) *error = reason.empty() ? "cannot read " + path : reason;
    return nullptr;
  }
  if (!voxel_sizes_are_valid(g)) {
    if (error) *error = path + ": voxel sizes are not positive numbers";
    return nullptr;
  }
  if (voxel_size) *voxel_size = g.voxel_size[0];
  *geometry = g;
  *has_geometry = true;
  return volume;
}

VolumePtr make_default_volume() {
  const int32_t dims[3] = {32, 32, 16};
  VolumePtr volume(ZTR_NewSingleChannelRawVolumeData(dims, ZTR_TYPE_INT16, ZTR_ATTRIBUTE_PLAIN));
  if (!volume) return nullptr;
  for (int k = 0; k < dims[2]; ++k) {
    for (int j = 0; j < dims[1]; ++j) {
      for (int i = 0; i < dims[0]; ++i) ZTR_Voxel<int16_t>(volume.get(), 0, i, j, k) = int16_t(i + 2 * j + 3 * k);
    }
  }
  return volume;
}

}  // namespace ztr::host
