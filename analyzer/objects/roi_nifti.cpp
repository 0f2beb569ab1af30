// NIfTI masks to and from ROIs.
#include "analyzer/objects/roi_nifti.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "analyzer/io/nifti_volume.h"
#include "analyzer/io/raw_volume_file.h"
#include "analyzer/objects/roi_display.h"
#include "analyzer/objects/roi_file.h"
#include "analyzer/objects/roi_region.h"

namespace {

bool fail(std::string* reason, const std::string& text) {
  if (reason) *reason = text;
  return false;
}

bool is_nifti_name(const std::string& path) {
  for (const char* end : {".nii", ".nii.gz", ".hdr", ".img", ".hdr.gz", ".img.gz"}) {
    if (path.ends_with(end)) return true;
  }
  return false;
}

std::string grid_text(const GridSize& s) {
  return std::to_string(s[0]) + "x" + std::to_string(s[1]) + "x" + std::to_string(s[2]);
}

// "lesion" for "/data/lesion.nii.gz".
std::string mask_stem(const std::string& path) {
  std::string name = std::filesystem::path(path).filename().string();
  for (const char* end : {".nii.gz", ".nii", ".hdr.gz", ".hdr", ".img.gz", ".img"}) {
    if (name.ends_with(end)) return name.substr(0, name.size() - std::strlen(end));
  }
  return name;
}

}  // namespace

bool read_volume_grid(const std::string& path, GridSize* size, ImageGeometry* geometry,
                      std::string* reason) {
  if (is_nifti_name(path)) {
    float spacing[3] = {1.0f, 1.0f, 1.0f};
    std::string why;
    VolumePtr volume(LoadNiftiVolume(path.c_str(), spacing, &why));
    if (!volume) return fail(reason, "cannot load " + path + (why.empty() ? "" : ": " + why));
    *size = {volume->header->x, volume->header->y, volume->header->z};
    *geometry = geometry_from_voxel_size(spacing);
    return true;
  }
  VolumeHeader header{};
  std::vector<int32_t> types(1024), attributes(1024);
  if (ReadRawVolumeFileHeader(path.c_str(), &header, types.data(), attributes.data()) < 0) {
    return fail(reason, path + " is neither a NIfTI image nor a raw volume file");
  }
  *size = {header.x, header.y, header.z};
  const float unit[3] = {1.0f, 1.0f, 1.0f};
  *geometry = geometry_from_voxel_size(unit);
  return true;
}

bool write_mask_nifti_file(const std::vector<uint8_t>& mask, const GridSize& size,
                           const ImageGeometry& geometry, const std::string& path,
                           std::string* reason) {
  VolumePtr image(ZTR_NewSingleChannelRawVolumeData(size.data(), ZTR_TYPE_UINT8,
                                                    ZTR_ATTRIBUTE_PLAIN));
  if (!image || ZTR_GetChannelBytes(image.get(), 0) != mask.size()) {
    return fail(reason, "cannot make a " + grid_text(size) + " mask for " + path);
  }
  std::memcpy(image->data[0], mask.data(), mask.size());
  // The temporary keeps the extension, which decides compression.
  const std::string temporary = path + ".part" + (path.ends_with(".gz") ? ".nii.gz" : ".nii");
  std::string why;
  if (SaveNiftiChannel(image.get(), 0, temporary.c_str(), geometry.voxel_size, &why) != 0) {
    std::remove(temporary.c_str());
    return fail(reason, "cannot write " + path + (why.empty() ? "" : ": " + why));
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return fail(reason, "cannot write " + path + ": " + std::strerror(errno));
  }
  return true;
}

bool read_mask_nifti_file(const std::string& path, std::vector<uint8_t>* mask, GridSize* size,
                          ImageGeometry* geometry, std::string* reason) {
  float spacing[3] = {1.0f, 1.0f, 1.0f};
  std::string why;
  VolumePtr image(LoadNiftiVolume(path.c_str(), spacing, &why));
  if (!image) return fail(reason, "cannot load mask " + path + (why.empty() ? "" : ": " + why));
  const VolumeHeader& h = *image->header;
  const int64_t count = int64_t(h.x) * h.y * h.z;
  std::vector<uint8_t> out(size_t(count), 0);
  for (int64_t i = 0; i < count; ++i) {
    const float v = ZTR_GetVoxelValueAsFloat(image->data[0], image->types[0], count, i);
    out[size_t(i)] = (v != 0.0f && !std::isnan(v)) ? 1 : 0;
  }
  *mask = std::move(out);
  *size = {h.x, h.y, h.z};
  if (geometry) *geometry = geometry_from_voxel_size(spacing);
  return true;
}

bool export_visible_rois_nifti(const RoiList& rois, const GridSize& size,
                               const ImageGeometry& geometry, const std::string& path,
                               std::string* reason) {
  return write_mask_nifti_file(visible_rois_mask(rois, size), size, geometry, path, reason);
}

bool voxelgroup_roi_from_nifti(const std::string& path, ROI_OBJECT* roi, GridSize* size,
                               std::string* reason) {
  std::vector<uint8_t> mask;
  GridSize grid{};
  if (!read_mask_nifti_file(path, &mask, &grid, nullptr, reason)) return false;
  std::optional<VoxelGroup> group = voxel_group_from_mask(mask, grid);
  if (!group) return fail(reason, "mask " + path + " has no voxel inside");
  ROI_OBJECT out;
  out.id = roi->id;
  out.type = ZTR_ROI_VOXELGROUP;
  out.view = new_roi_view(grid);
  out.group = std::move(group);
  out.colour = new_roi_colour(out.id);
  set_roi_name(out, mask_stem(path).c_str());
  *roi = std::move(out);
  *size = grid;
  return true;
}

ROI_OBJECT* import_nifti_roi(RoiList& rois, const std::string& path, const GridSize& volume_size,
                             std::string* reason) {
  ROI_OBJECT parsed;
  GridSize grid{};
  if (!voxelgroup_roi_from_nifti(path, &parsed, &grid, reason)) return nullptr;
  if (grid != volume_size) {
    fail(reason, "mask " + path + " is " + grid_text(grid) + ", not on the volume's " +
                     grid_text(volume_size) + " grid");
    return nullptr;
  }
  ROI_OBJECT* roi = new_roi_object(rois, ZTR_ROI_VOXELGROUP, volume_size);
  if (roi == nullptr) {
    fail(reason, "cannot create a ROI");
    return nullptr;
  }
  const uint16_t id = roi->id;
  const std::array<uint16_t, 3> colour = roi->colour;
  *roi = std::move(parsed);
  roi->id = id;
  roi->colour = colour;
  rois.active_id = id;
  return roi;
}

RoiConversion roi_file_to_nifti(const std::string& roi_path, const std::string& like_path,
                                const std::string& out_path, std::string* reason) {
  ROI_OBJECT roi;
  GridSize drawn_on{};
  switch (read_roi_file(roi_path, &roi, &drawn_on, reason)) {
    case RoiFileStatus::Ok:
      break;
    case RoiFileStatus::NotRoiFile:
      fail(reason, roi_path + " is not a ROI object file");
      return RoiConversion::BadInput;
    default:
      if (reason) *reason = roi_path + ": " + *reason;
      return RoiConversion::BadInput;
  }
  GridSize size{};
  ImageGeometry geometry;
  if (!read_volume_grid(like_path, &size, &geometry, reason)) return RoiConversion::BadInput;
  if (drawn_on != size) std::fputs("Volume data matrix size mismatch. Open anyway.\n", stderr);
  roi.visibility = 1;
  std::vector<uint8_t> mask(size_t(int64_t(size[0]) * size[1] * size[2]), 0);
  rasterise_roi(roi, mask, size);
  return write_mask_nifti_file(mask, size, geometry, out_path, reason) ? RoiConversion::Ok
                                                                       : RoiConversion::Failed;
}

RoiConversion nifti_to_roi_file(const std::string& mask_path, const std::string& out_path,
                                std::string* reason) {
  ROI_OBJECT roi;
  GridSize grid{};
  if (!voxelgroup_roi_from_nifti(mask_path, &roi, &grid, reason)) return RoiConversion::BadInput;
  return write_roi_file(out_path, roi, grid, reason) ? RoiConversion::Ok : RoiConversion::Failed;
}
