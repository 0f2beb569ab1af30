// Import of a directory of single-slice DICOM files (an MR series, channel after channel)
// into a multi-channel signed 16-bit volume with isotropic voxels.
#pragma once

#include <string>

#include "analyzer/io/image_geometry.h"
#include "sdk/volume/raw_volume.h"

// Lists `directory`, orders its DICOM files by Instance Number (1, 2, ... up to the first
// missing number), infers the channel count from repeated slice positions, reads the 16-bit
// pixel data, orients z and resamples z so that voxels become cubes of the in-plane size.
// Returns a new volume owned by the caller (release with ZTR_DeleteRawVolumeData or hold in
// a VolumePtr), or nullptr with the reason on standard error. On success *voxel_size receives
// the in-plane voxel size in mm and *description the data-source text; either may be null.
// Progress and warnings are console lines only, so it runs without any user interface.
RawVolumeData* ImportDicomDirectory(const char* directory, float* voxel_size,
                                    std::string* description);

// The same import, also giving where the volume sits: voxel sizes (in-plane, and the slice
// step after the resampling) and, when the first file has an Image Orientation, qform and
// sform from the first slice's position and orientation in the volume's final slice order.
// On failure *reason (when given) receives the refusal that was printed.
RawVolumeData* ImportDicomDirectoryWithGeometry(const char* directory, ImageGeometry* geometry,
                                                std::string* description, std::string* reason);
