// ROIs exchanged as NIfTI masks, the form other tools (FSLeyes, ITK-SNAP, MRtrix3) draw and
// read regions in: the visible ROIs exported on the volume's grid, a mask imported as a
// voxelgroup ROI, and the conversions the dtiroi tool runs between ROI object files and masks.
#pragma once

#include <string>
#include <vector>

#include "analyzer/io/image_geometry.h"
#include "analyzer/objects/roi_object.h"

// Grid and geometry of a volume file: a NIfTI image (.nii, .nii.gz, .hdr, .img) or a raw
// volume file. false with a one-line reason.
bool read_volume_grid(const std::string& path, GridSize* size, ImageGeometry* geometry,
                      std::string* reason);

// Writes an x-fastest 0/1 mask as an unsigned 8-bit NIfTI image with the geometry, under a
// temporary name renamed when complete. false with a reason.
bool write_mask_nifti_file(const std::vector<uint8_t>& mask, const GridSize& size,
                           const ImageGeometry& geometry, const std::string& path,
                           std::string* reason);

// Reads the first channel of a NIfTI image as a mask: every non-zero, non-NaN voxel is inside.
bool read_mask_nifti_file(const std::string& path, std::vector<uint8_t>* mask, GridSize* size,
                          ImageGeometry* geometry, std::string* reason);

// File/Export: the visible ROIs as a mask on a volume of `size`. false with a reason.
bool export_visible_rois_nifti(const RoiList& rois, const GridSize& size,
                               const ImageGeometry& geometry, const std::string& path,
                               std::string* reason);

// A voxelgroup ROI record (not in any list) holding a mask's voxels, named after the file;
// *size receives the mask's grid. false with a reason (unreadable, no voxel inside).
bool voxelgroup_roi_from_nifti(const std::string& path, ROI_OBJECT* roi, GridSize* size,
                               std::string* reason);

// File/Import: adds the mask as a new voxelgroup ROI and makes it active. The mask must be on
// the loaded volume's grid. The new ROI, or nullptr with a reason and the list unchanged.
ROI_OBJECT* import_nifti_roi(RoiList& rois, const std::string& path, const GridSize& volume_size,
                             std::string* reason);

enum class RoiConversion { Ok = 0, Failed = 1, BadInput = 2 };

// dtiroi to-nifti: the ROI of a ROI object file rasterised on the grid of `like` (visible or
// not), written with that volume's geometry.
RoiConversion roi_file_to_nifti(const std::string& roi_path, const std::string& like_path,
                                const std::string& out_path, std::string* reason);
// dtiroi from-nifti: the mask as a voxelgroup ROI object file for a volume of the mask's grid.
RoiConversion nifti_to_roi_file(const std::string& mask_path, const std::string& out_path,
                                std::string* reason);
