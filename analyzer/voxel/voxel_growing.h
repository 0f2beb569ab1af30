// Voxel growing: region growing of a voxelgroup's working mask by signal range or tensor
// property, whole-volume selection, and mask dilation and erosion. Toolkit-free: the ROI
// editor's voxelgroup panel and the batch tools call the same functions.
#pragma once

#include <cstdint>
#include <memory>

#include "analyzer/dti/dti_data.h"
#include "sdk/volume/raw_volume.h"

enum : int32_t {
  ZTR_VOXEL_GROWING_TENSOR = 27,          // tensor property against the seeds' direction
  ZTR_VOXEL_GROWING_SIGNAL = 345,         // single signal range
  ZTR_VOXEL_GROWING_LOCAL_TENSOR = 654,   // tensor property against each parent's direction
};

// The criteria of a grow. `mask` is the working mask (one unsigned 8-bit channel of the
// loaded volume's size); the setting does not own it.
struct VOXEL_GROWING_SETTING {
  int32_t mode = ZTR_VOXEL_GROWING_TENSOR;
  float min_fa = 0.2f;
  float max_angle = 5.0f;  // degrees
  int32_t max_step = 10;   // layers; any count is honoured (the layer labels are 32-bit)
  int32_t channel = 0;     // signal channel of the loaded volume (signed 16-bit only)
  float min_signal = 1.0f;
  float max_signal = 10000.0f;
  RawVolumeData* mask = nullptr;
  float principal_direction[3] = {0.0f, 0.0f, 0.0f};
};

// A copy whose mask is a duplicate of the original's (owned by the caller, who releases it
// with ZTR_DeleteRawVolumeData); the copy has no mask when the original has none. false
// when the mask cannot be duplicated (the copy is left untouched).
bool copy_voxel_growing_setting(const VOXEL_GROWING_SETTING& from, VOXEL_GROWING_SETTING* to);

// Whether `mask` can serve as a working mask for `volume`: one unsigned 8-bit channel of
// the same x, y and z.
bool is_working_mask_for(const RawVolumeData* mask, const RawVolumeData* volume);

// ---- engines (all print their console lines on standard error) --------------------------
//
// Every engine returns 0 when it ran and -1 when it refused (message printed, mask
// unchanged): no working mask on the data's grid, DTI data that cannot be fitted, a signal
// channel that does not exist or is not signed 16-bit, or no memory. Seeds are the voxels of
// mask value 1; the mask holds only 0 and 1 afterwards.

// Dispatch by mode: 345 grow_by_signal, 27 grow_by_principal_direction, 654
// grow_by_local_direction; other modes do nothing and return 0.
int voxel_grow(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting);
// 345 select_by_signal; 27 and 654 select_by_fa; other modes do nothing.
int voxel_select(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting);

// The signal range is saturated to the signed 16-bit range before truncation, so an entry
// of 40000 means "up to the largest signal" rather than wrapping to a negative bound.
int grow_by_signal(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting);
// A seed whose fit fails or whose FA is not a number is removed like one below min FA.
// With no seed to give a principal direction nothing is grown: the surviving seeds stay,
// the direction is stored as (0, 0, 0), a message says so and the result is -1.
int grow_by_principal_direction(const DiffusionTensorImageData* data,
                                VOXEL_GROWING_SETTING* setting);
int grow_by_local_direction(const DiffusionTensorImageData* data,
                            VOXEL_GROWING_SETTING* setting);
int select_by_signal(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting);
// Marks the voxels whose FA is below min FA (voxels whose fit fails are not marked).
int select_by_fa(const DiffusionTensorImageData* data, VOXEL_GROWING_SETTING* setting);

// ---- mask editing (channel 0 of an unsigned 8-bit mask; non-zero counts as set) ----------

// A voxel becomes 1 when any offset of the radius-1 kernel reaches a set voxel; voxels
// outside the volume count as unset. 0, or -1 for a missing or non-8-bit mask.
int dilate_voxel_mask(RawVolumeData* mask);
// Invert, dilate, invert: voxels on the volume's border are never eroded from outside.
int erode_voxel_mask(RawVolumeData* mask);
// Resets the mask to 0 and paints the drawn seed region (any same-sized volume, non-zero
// in channel 0 meaning drawn; nullptr paints nothing) with 1.
int clear_voxel_mask(RawVolumeData* mask, const RawVolumeData* seed_region);

// ---- the voxelgroup panel's controls -----------------------------------------------------

// What the panel's fields hold when a button acts ("Grow if" radio buttons, the five
// entries, and the signal channel of the panel's ROI view).
struct VOXEL_GROWING_PANEL {
  int32_t criterion = ZTR_VOXEL_GROWING_TENSOR;  // "Tensor Property" 27, "Single Signal" 345
  float min_fa = 0.2f;       // " min FA"
  float max_angle = 5.0f;    // "max angle"
  float min_signal = 1.0f;   // " min signal"
  float max_signal = 10000.0f;  // "max signal"
  int32_t max_step = 10;     // "max step"
  int32_t channel = 0;
};

enum class VoxelGrowingButton { Grow, Select, Dilate, Erode, Clear };

// Copies the panel's fields into the setting (mode from the criterion).
void apply_voxel_growing_panel(const VOXEL_GROWING_PANEL& panel,
                               VOXEL_GROWING_SETTING* setting);
// What a button does: "3D Grow" clears then grows, "Select" clears then selects, " Dilate "
// and " Erode " edit the mask, " Clear " clears. `roi_kind` is the current ROI's kind; only
// a voxelgroup (2) has its mask changed, any other kind returns 0 with the mask untouched.
// The caller redraws the ROI views and sends the updated ROIs afterwards.
int run_voxel_growing_button(VoxelGrowingButton button, int32_t roi_kind,
                             const VOXEL_GROWING_PANEL& panel,
                             const DiffusionTensorImageData* data,
                             const RawVolumeData* seed_region,
                             VOXEL_GROWING_SETTING* setting);
