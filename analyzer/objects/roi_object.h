// Regions of interest: the ROI record with its drawn view state and voxel group, the ROI
// list with its IDs and active ROI, and the exchange between a ROI and the working copy a
// panel edits. No toolkit: the ROI editor page binds its widgets to these records.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "analyzer/view_codes.h"
#include "analyzer/voxel/voxel_growing.h"
#include "sdk/volume/node_list.h"

// ROI kinds.
enum : int32_t {
  ZTR_ROI_SPHERICAL = 0,
  ZTR_ROI_FREEHAND = 1,
  ZTR_ROI_VOXELGROUP = 2,
};
// ROI status.
enum : int32_t { ZTR_ROI_FREE = 0, ZTR_ROI_LOCKED = 1 };

inline constexpr int32_t ZTR_VIEW_SPHERICAL_MAP = ZTR_VIEW_SPHERICAL;

// Voxel group storage codes.
enum : int32_t { ZTR_GROUP_BITS = 6354, ZTR_GROUP_BYTES = 1465 };

inline constexpr int32_t ZTR_VIEW_MAX_POINTS = 4113;
inline constexpr size_t ZTR_ROI_NAME_BYTES = 256;
inline constexpr uint16_t ZTR_ROI_NO_ID = 65535;
// Overlay pixel values of a drawn freehand region.
inline constexpr uint8_t ZTR_OVERLAY_INSIDE = 255;
inline constexpr uint8_t ZTR_OVERLAY_EDGE = 254;
// Bounds of a usable view: a radius or zoom outside them would make rasterisation loop for
// hours. Files outside them are refused; rasterisation draws nothing for such a view.
inline constexpr float ZTR_ROI_MAX_RADIUS = 65536.0f;
// A new ROI's view starts at zoom 512 / x and zooming out stops at 1, so 1/8 admits volumes up
// to 4096 voxels wide; freehand rasterisation then samples at most 2560 x 2560 points.
inline constexpr float ZTR_ROI_MIN_ZOOM = 1.0f / 8.0f;
inline constexpr float ZTR_ROI_MAX_ZOOM = 65536.0f;

using GridSize = std::array<int32_t, 3>;  // x, y, z voxels

// What a slice view holds for a drawn region: where it looks, the sphere and the freehand
// outline with its filled overlay. The slice-view model converts its record to and from this.
struct RoiView {
  int32_t channel = 0;
  float window_low = 0.0f;
  float window_high = 255.0f;
  int32_t orientation = ZTR_VIEW_AXIAL;
  float zoom = 1.0f;  // screen pixels per voxel step
  Vec3 centre{};      // voxel position shown at pixel (128, 128)
  Vec3 u{1.0f, 0.0f, 0.0f};  // row axis: screen x
  Vec3 v{0.0f, 1.0f, 0.0f};  // column axis: screen y
  Vec3 sphere_centre{};
  Vec3 axis_a{-1.0f, 0.0f, 0.0f};  // spherical-map axes
  Vec3 axis_b{0.0f, 1.0f, 0.0f};
  float radius_fraction = 0.4f;
  float centre_z_factor = 0.5f;  // not stored in files
  int32_t drawing_mode = ZTR_DRAW_SPHERE;
  float sphere_radius = 3.0f;  // voxels
  std::array<uint16_t, 2> start_point{};
  std::vector<std::array<uint16_t, 2>> points;  // freehand outline in pixels, x then y
  int32_t guideline_mode = 0;                   // not stored in files
  // Filled freehand region, 256 x 256, row (v) major: 255 inside, 254 edge, 0 outside.
  // Empty when nothing was drawn.
  std::vector<uint8_t> overlay;
  GridSize volume_size{};
};

// An arbitrary voxel set kept as the bits (or bytes) of its bounding box. Box voxel (x, y, z)
// is i = (z * size_y + y) * size_x + x, stored as bit i % 8 (least significant first) of
// byte i / 8.
struct VoxelGroup {
  std::array<int32_t, 3> origin{};  // voxel index of the box's first corner in the volume
  std::array<int32_t, 3> size{};
  GridSize volume_size{};
  int32_t storage = ZTR_GROUP_BITS;
  std::vector<uint8_t> data;

  int64_t box_voxels() const { return int64_t(size[0]) * size[1] * size[2]; }
  bool contains_box_voxel(int64_t i) const {
    return storage == ZTR_GROUP_BITS ? ((data[size_t(i / 8)] >> (i % 8)) & 1) != 0
                                     : data[size_t(i)] != 0;
  }
};

// Data bytes a group of this storage and box needs: box voxels / 8 + 1, or box voxels.
int64_t voxel_group_data_bytes(int32_t storage, int64_t box_voxels);

// The group of the non-zero voxels of an x-fastest mask of `size`, one bit per voxel over
// their bounding box; none when the mask is empty or does not hold size's voxels.
std::optional<VoxelGroup> voxel_group_from_mask(const std::vector<uint8_t>& mask,
                                                const GridSize& size);

// Sets to 1 every voxel of the x-fastest mask of `size` that the group holds; voxels the group
// places outside that grid (a group made for another volume) are skipped. Returns the number
// of voxels that became 1.
int64_t expand_voxel_group(const VoxelGroup& group, std::vector<uint8_t>& mask,
                           const GridSize& size);

// The words of the voxel growing criteria the ROI was grown with, as the file carries them.
// Named words are 1-based as in the file: mode is word 1, min FA word 3, max angle word 15,
// max step word 17, min signal word 19 and max signal word 20; this system keeps the signal
// channel in word 5 and the principal direction in words 7 to 9. Every other word rides
// along unchanged.
struct GrowingWords {
  std::array<uint32_t, 20> words{};

  int32_t mode() const;
  float min_fa() const;
  float max_angle() const;
  int32_t max_step() const;
  float min_signal() const;
  float max_signal() const;
  void set(int32_t mode, float min_fa, float max_angle, int32_t max_step, float min_signal,
           float max_signal);
};
GrowingWords default_growing_words();  // mode 27, 0.2, 5.0, 10, 1.0, 10000.0

// The growing setting the words describe (without a working mask), and the words of a
// setting (mode, the five criteria, channel and principal direction; the rest unchanged).
VOXEL_GROWING_SETTING growing_setting_from_words(const GrowingWords& words);
void store_growing_setting(const VOXEL_GROWING_SETTING& setting, GrowingWords* words);

struct ROI_OBJECT {
  uint16_t id = 0;
  int32_t type = ZTR_ROI_SPHERICAL;
  RoiView view;
  std::optional<VoxelGroup> group;  // voxelgroup ROIs only
  GrowingWords growing = default_growing_words();
  int32_t status = ZTR_ROI_FREE;
  int32_t visibility = 1;
  char name[ZTR_ROI_NAME_BYTES] = {};  // NUL-terminated; the rest stays zero
  std::array<uint16_t, 3> colour{};    // full scale 65535
};

// Copies text into the name, cut to 255 bytes so that the terminating zero always fits.
void set_roi_name(ROI_OBJECT& roi, const char* text);

// Colour of a new ROI with this ID.
std::array<uint16_t, 3> new_roi_colour(uint16_t id);

// View of a new ROI on a volume of `size`: zoom 512 / x, centre and sphere centre in the
// middle (z at the centre Z factor), sphere radius x / 256 * 5 voxels but at least 1.
RoiView new_roi_view(const GridSize& size);

// ---- the list ------------------------------------------------------------------------------

// All ROIs of the session in creation order, each owned by the list, and the active ROI.
// IDs come from a counter that only clean-up (delete_all_rois) resets, as do the per-kind name
// counters. Main thread only.
struct RoiList {
  RoiList();
  ~RoiList();
  RoiList(const RoiList&) = delete;
  RoiList& operator=(const RoiList&) = delete;

  ZTR_LIST* list;
  uint16_t active_id = ZTR_ROI_NO_ID;
  int next_id = 0;
  std::array<int, 3> name_counters{};  // spherical, freehand, voxelgroup
  // Set while the list widget is redrawn: row selection then must not store into a ROI.
  bool redrawing = false;
};

// Creates a ROI of `type` for a volume of `size`, appends it and returns it (owned by the
// list); it does not change the active ROI. nullptr after "Err: Invalid ROI object type\n",
// "Err: new_roi_object\n" or "Err: ZTR_NewNodeAddedToList\n", with no ROI added.
ROI_OBJECT* new_roi_object(RoiList& rois, int32_t type, const GridSize& size);
ROI_OBJECT* find_roi(const RoiList& rois, uint16_t id);
ROI_OBJECT* get_active_roi(const RoiList& rois);  // nullptr when none has the active ID
// The ROIs in list order.
std::vector<ROI_OBJECT*> roi_items(const RoiList& rois);
// Unlinks and frees the ROI. 0, or -1 when no ROI has the ID. Clears the active ID when it
// named this ROI.
int delete_roi(RoiList& rois, uint16_t id);
// Frees every ROI and resets the ID and name counters and the active ID (clean-up).
void delete_all_rois(RoiList& rois);
// Locks every ROI whose ID is listed.
void lock_listed_rois(RoiList& rois, const uint16_t* ids, int count);

// ---- working copies ---------------------------------------------------------------------

// The working copy of the ROI a panel edits: its view, its colour, for voxelgroup ROIs a mask
// of the volume's size and the growing controls, and whether the view follows the host's
// cursor. The GTK panels show it; tests drive it directly.
struct RoiViewState {
  RoiView view;
  std::array<uint16_t, 3> colour{};
  GridSize mask_size{};
  std::vector<uint8_t> mask;  // x-fastest, 0 or 1; voxelgroup panels only
  VOXEL_GROWING_PANEL growing;
  bool follow_host = false;
  bool editable = true;  // false while the ROI shown is locked
};

// Makes the working copy show `roi` on a volume of `size`. A voxelgroup ROI's group is
// expanded into a fresh mask (clipped to the volume), so that storing it back keeps its
// voxels, and its six growing criteria fill the controls (criterion "Tensor Property" for
// mode 27, "Single Signal" otherwise); a locked ROI stops following the host's cursor and is
// not editable.
void load_roi_into_view_state(const ROI_OBJECT& roi, const GridSize& size, RoiViewState& state);

// Stores the working copy into `roi`: view, colour and, for a voxelgroup ROI, its group
// rebuilt from the mask (none for an empty mask) and the six growing criteria. A locked ROI
// is left unchanged: -1. 0 otherwise.
int store_view_state_into_roi(const RoiViewState& state, ROI_OBJECT& roi);
