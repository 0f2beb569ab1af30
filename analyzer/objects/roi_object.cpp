// The ROI record, its voxel group, the ROI list and the working copies of the panels.
#include "analyzer/objects/roi_object.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

int64_t voxel_group_data_bytes(int32_t storage, int64_t box_voxels) {
  return storage == ZTR_GROUP_BITS ? box_voxels / 8 + 1 : box_voxels;
}

std::optional<VoxelGroup> voxel_group_from_mask(const std::vector<uint8_t>& mask,
                                                const GridSize& size) {
  const int64_t voxels = int64_t(size[0]) * size[1] * size[2];
  if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0 || int64_t(mask.size()) != voxels) {
    return std::nullopt;
  }
  std::array<int32_t, 3> low{size[0], size[1], size[2]}, high{-1, -1, -1};
  for (int32_t k = 0; k < size[2]; ++k) {
    for (int32_t j = 0; j < size[1]; ++j) {
      const uint8_t* row = mask.data() + (int64_t(k) * size[1] + j) * size[0];
      for (int32_t i = 0; i < size[0]; ++i) {
        if (row[i] == 0) continue;
        low = {std::min(low[0], i), std::min(low[1], j), std::min(low[2], k)};
        high = {std::max(high[0], i), std::max(high[1], j), std::max(high[2], k)};
      }
    }
  }
  if (high[0] < 0) return std::nullopt;
  VoxelGroup group;
  group.origin = low;
  group.size = {high[0] - low[0] + 1, high[1] - low[1] + 1, high[2] - low[2] + 1};
  group.volume_size = size;
  group.storage = ZTR_GROUP_BITS;
  group.data.assign(size_t(voxel_group_data_bytes(ZTR_GROUP_BITS, group.box_voxels())), 0);
  int64_t bit = 0;
  for (int32_t k = 0; k < group.size[2]; ++k) {
    for (int32_t j = 0; j < group.size[1]; ++j) {
      const uint8_t* row =
          mask.data() + (int64_t(k + low[2]) * size[1] + (j + low[1])) * size[0] + low[0];
      for (int32_t i = 0; i < group.size[0]; ++i, ++bit) {
        if (row[i] != 0) group.data[size_t(bit / 8)] |= uint8_t(1u << (bit % 8));
      }
    }
  }
  return group;
}

int64_t expand_voxel_group(const VoxelGroup& group, std::vector<uint8_t>& mask,
                           const GridSize& size) {
  if (int64_t(mask.size()) != int64_t(size[0]) * size[1] * size[2]) return 0;
  // Only the part of the box that overlaps the grid is visited.
  std::array<int64_t, 3> from{}, to{};
  for (int a = 0; a < 3; ++a) {
    from[a] = std::max<int64_t>(0, -int64_t(group.origin[a]));
    to[a] = std::min<int64_t>(group.size[a], int64_t(size[a]) - group.origin[a]);
    if (to[a] <= from[a]) return 0;
  }
  int64_t set = 0;
  for (int64_t k = from[2]; k < to[2]; ++k) {
    for (int64_t j = from[1]; j < to[1]; ++j) {
      const int64_t box_row = (k * group.size[1] + j) * group.size[0];
      const int64_t base =
          ((k + group.origin[2]) * size[1] + (j + group.origin[1])) * size[0] + group.origin[0];
      for (int64_t i = from[0]; i < to[0]; ++i) {
        uint8_t& voxel = mask[size_t(base + i)];
        if (group.contains_box_voxel(box_row + i) && voxel == 0) {
          voxel = 1;
          ++set;
        }
      }
    }
  }
  return set;
}

// ---- growing words -------------------------------------------------------------------------

namespace {

int32_t word_int(const GrowingWords& g, int word) { return std::bit_cast<int32_t>(g.words[word - 1]); }
float word_float(const GrowingWords& g, int word) { return std::bit_cast<float>(g.words[word - 1]); }

}  // namespace

int32_t GrowingWords::mode() const { return word_int(*this, 1); }
float GrowingWords::min_fa() const { return word_float(*this, 3); }
float GrowingWords::max_angle() const { return word_float(*this, 15); }
int32_t GrowingWords::max_step() const { return word_int(*this, 17); }
float GrowingWords::min_signal() const { return word_float(*this, 19); }
float GrowingWords::max_signal() const { return word_float(*this, 20); }

void GrowingWords::set(int32_t mode, float min_fa, float max_angle, int32_t max_step,
                       float min_signal, float max_signal) {
  words[0] = std::bit_cast<uint32_t>(mode);
  words[2] = std::bit_cast<uint32_t>(min_fa);
  words[14] = std::bit_cast<uint32_t>(max_angle);
  words[16] = std::bit_cast<uint32_t>(max_step);
  words[18] = std::bit_cast<uint32_t>(min_signal);
  words[19] = std::bit_cast<uint32_t>(max_signal);
}

VOXEL_GROWING_SETTING growing_setting_from_words(const GrowingWords& words) {
  VOXEL_GROWING_SETTING s;
  s.mode = words.mode();
  s.min_fa = words.min_fa();
  s.max_angle = words.max_angle();
  s.max_step = words.max_step();
  s.min_signal = words.min_signal();
  s.max_signal = words.max_signal();
  s.channel = word_int(words, 5);
  for (int a = 0; a < 3; ++a) s.principal_direction[a] = word_float(words, 7 + a);
  return s;
}

void store_growing_setting(const VOXEL_GROWING_SETTING& setting, GrowingWords* words) {
  words->set(setting.mode, setting.min_fa, setting.max_angle, setting.max_step,
             setting.min_signal, setting.max_signal);
  words->words[4] = std::bit_cast<uint32_t>(setting.channel);
  for (int a = 0; a < 3; ++a) {
    words->words[size_t(6 + a)] = std::bit_cast<uint32_t>(setting.principal_direction[a]);
  }
}

GrowingWords default_growing_words() {
  GrowingWords g;
  store_growing_setting(VOXEL_GROWING_SETTING{}, &g);
  return g;
}

// ---- ROI records ----------------------------------------------------------------------------

void set_roi_name(ROI_OBJECT& roi, const char* text) {
  std::memset(roi.name, 0, sizeof roi.name);
  std::snprintf(roi.name, sizeof roi.name, "%s", text ? text : "");
}

std::array<uint16_t, 3> new_roi_colour(uint16_t id) {
  const uint8_t n = uint8_t(id + 1);
  uint8_t r = 0x1F, g = 0x1F, b = 0x3F;
  if (n & 0x01) r = 0x9F;
  if (n & 0x02) g = 0x9F;
  if (n & 0x04) b = 0xBF;
  if (n & 0x08) r |= 0x40;
  if (n & 0x10) g |= 0x40;
  if (n & 0x20) b |= 0x40;
  if (n & 0x40) r |= 0x20;
  if (n & 0x80) g |= 0x20;
  return {uint16_t(r << 8), uint16_t(g << 8), uint16_t(b << 8)};
}

RoiView new_roi_view(const GridSize& size) {
  RoiView view;
  const float x = float(size[0]);
  view.zoom = size[0] > 0 ? std::max(ZTR_ROI_MIN_ZOOM, 512.0f / x) : 1.0f;
  // A small volume must not get a zero radius: the view never goes below one voxel.
  view.sphere_radius = std::max(1.0f, std::trunc(x / 256.0f * 5.0f));
  view.centre = {x / 2.0f, float(size[1]) / 2.0f, float(size[2]) * view.centre_z_factor};
  view.sphere_centre = view.centre;
  view.axis_a = {-1.0f, 0.0f, 0.0f};
  view.axis_b = {0.0f, 1.0f, 0.0f};
  view.radius_fraction = 0.4f;
  view.volume_size = size;
  return view;
}

// ---- the list -----------------------------------------------------------------------------

RoiList::RoiList() : list(ZTR_NewList()) {}

RoiList::~RoiList() {
  delete_all_rois(*this);
  ZTR_DeleteList(list);
}

ROI_OBJECT* new_roi_object(RoiList& rois, int32_t type, const GridSize& size) {
  static constexpr const char* kNames[3] = {"Spherical %d", "Freehand %d", "Voxelgroup %d"};
  if (type < ZTR_ROI_SPHERICAL || type > ZTR_ROI_VOXELGROUP) {
    std::fputs("Err: Invalid ROI object type\n", stderr);
    std::fputs("Err: new_roi_object\n", stderr);
    return nullptr;
  }
  ROI_OBJECT* roi = new (std::nothrow) ROI_OBJECT;
  if (roi == nullptr) {
    std::fputs("Err: new_roi_object\n", stderr);
    return nullptr;
  }
  ZTR_LIST_NODE* node = ZTR_NewNodeAddedToList(rois.list);
  if (node == nullptr) {
    std::fputs("Err: ZTR_NewNodeAddedToList\n", stderr);
    delete roi;
    return nullptr;
  }
  node->item = roi;
  roi->id = uint16_t(rois.next_id++);
  roi->type = type;
  roi->view = new_roi_view(size);
  roi->colour = new_roi_colour(roi->id);
  char name[64];
  std::snprintf(name, sizeof name, kNames[type], ++rois.name_counters[size_t(type)]);
  set_roi_name(*roi, name);
  return roi;
}

ROI_OBJECT* find_roi(const RoiList& rois, uint16_t id) {
  if (rois.list == nullptr) return nullptr;
  ZTR_LIST_NODE* node = rois.list->head;
  for (int32_t i = 0; node != nullptr && i < rois.list->count; ++i, node = node->next) {
    auto* roi = static_cast<ROI_OBJECT*>(node->item);
    if (roi->id == id) return roi;
  }
  return nullptr;
}

ROI_OBJECT* get_active_roi(const RoiList& rois) {
  return rois.active_id == ZTR_ROI_NO_ID ? nullptr : find_roi(rois, rois.active_id);
}

std::vector<ROI_OBJECT*> roi_items(const RoiList& rois) {
  std::vector<ROI_OBJECT*> items;
  if (rois.list == nullptr) return items;
  ZTR_LIST_NODE* node = rois.list->head;
  for (int32_t i = 0; node != nullptr && i < rois.list->count; ++i, node = node->next) {
    items.push_back(static_cast<ROI_OBJECT*>(node->item));
  }
  return items;
}

int delete_roi(RoiList& rois, uint16_t id) {
  if (rois.list == nullptr) return -1;
  for (ZTR_LIST_NODE* node = rois.list->head; node != nullptr; node = node->next) {
    auto* roi = static_cast<ROI_OBJECT*>(node->item);
    if (roi->id != id) continue;
    ZTR_RemoveNodeFromList(node, rois.list);
    delete roi;
    if (rois.active_id == id) rois.active_id = ZTR_ROI_NO_ID;
    return 0;
  }
  return -1;
}

void delete_all_rois(RoiList& rois) {
  if (rois.list != nullptr) {
    while (rois.list->head != nullptr) {
      ZTR_LIST_NODE* node = rois.list->head;
      delete static_cast<ROI_OBJECT*>(node->item);
      ZTR_RemoveNodeFromList(node, rois.list);
    }
  }
  rois.active_id = ZTR_ROI_NO_ID;
  rois.next_id = 0;
  rois.name_counters = {};
}

void lock_listed_rois(RoiList& rois, const uint16_t* ids, int count) {
  for (int i = 0; i < count; ++i) {
    if (ROI_OBJECT* roi = find_roi(rois, ids[i])) roi->status = ZTR_ROI_LOCKED;
  }
}

// ---- working copies ---------------------------------------------------------------------

void load_roi_into_view_state(const ROI_OBJECT& roi, const GridSize& size, RoiViewState& state) {
  state.view = roi.view;
  state.colour = roi.colour;
  if (roi.type == ZTR_ROI_SPHERICAL) state.view.drawing_mode = ZTR_DRAW_SPHERE;
  if (roi.type == ZTR_ROI_VOXELGROUP) {
    // The mask is what a later store turns back into the group: it must hold this ROI's
    // voxels, not those of the ROI shown before.
    state.mask_size = size;
    state.mask.assign(size_t(std::max<int64_t>(0, int64_t(size[0]) * size[1] * size[2])), 0);
    if (roi.group) expand_voxel_group(*roi.group, state.mask, size);
    const GrowingWords& g = roi.growing;
    state.growing.criterion =
        g.mode() == ZTR_VOXEL_GROWING_TENSOR ? ZTR_VOXEL_GROWING_TENSOR : ZTR_VOXEL_GROWING_SIGNAL;
    state.growing.min_fa = g.min_fa();
    state.growing.max_angle = g.max_angle();
    state.growing.max_step = g.max_step();
    state.growing.min_signal = g.min_signal();
    state.growing.max_signal = g.max_signal();
  }
  state.editable = roi.status != ZTR_ROI_LOCKED;
  // A locked ROI that kept following the cursor would change under the study using it.
  if (roi.status == ZTR_ROI_LOCKED) state.follow_host = false;
}

int store_view_state_into_roi(const RoiViewState& state, ROI_OBJECT& roi) {
  if (roi.status == ZTR_ROI_LOCKED) return -1;
  roi.view = state.view;
  roi.colour = state.colour;
  if (roi.type == ZTR_ROI_VOXELGROUP) {
    roi.group = voxel_group_from_mask(state.mask, state.mask_size);
    const VOXEL_GROWING_PANEL& p = state.growing;
    roi.growing.set(p.criterion, p.min_fa, p.max_angle, p.max_step, p.min_signal, p.max_signal);
  }
  return 0;
}
