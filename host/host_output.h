// What the host leaves in its output folder: the volume as a raw volume file and as NIfTI,
// a JSON summary of the session and one VTK polydata file per object group.
#pragma once

#include <string>

#include "analyzer/io/image_geometry.h"
#include "host/host_server.h"

namespace ztr::host {

// Facts about the session that are not part of the host's state.
struct SessionInfo {
  int32_t client_number = 0;
  std::string program;
  std::string plugin_exit;  // "exit 0", "signal 9", "running", ...
  // Where the input volume sat (a NIfTI input's qform and sform). The NIfTI output keeps it
  // unless the plug-in set a voxel size, which then describes the volume it sent back.
  bool has_input_geometry = false;
  ImageGeometry input_geometry;
  int32_t input_grid[3] = {0, 0, 0};  // x, y, z of the input the geometry belongs to
};

// The geometry of the NIfTI output: the input's when it is known and still applies (same
// grid, no voxel size set by the plug-in), else the host's voxel size along the axes.
ImageGeometry output_geometry(const HostState& state, const SessionInfo& info);

// File names inside the output folder.
inline constexpr const char* kVolumeRawName = "volume.raw";
inline constexpr const char* kVolumeNiftiName = "volume.nii.gz";
inline constexpr const char* kSummaryName = "summary.json";
// "group_0001.vtk" for group 1.
std::string group_file_name(int32_t id);
// "volume_c000.nii.gz": one file per channel when the channels' types differ.
std::string channel_nifti_name(int32_t channel);

// The summary text (JSON).
std::string format_summary(const HostState& state, const SessionInfo& info);

// Writes everything into `directory` (created when missing), each file under a temporary
// name renamed when complete. 0, or -1 with the first problem in *error (the other files are
// still attempted; a file that failed leaves an older file of its name intact).
int write_outputs(const std::string& directory, const HostState& state, const SessionInfo& info,
                  std::string* error);

}  // namespace ztr::host
