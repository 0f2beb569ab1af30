// The application's slice views: binding them to the session's data, following the host's
// cursor, and the ROI palette frame commands on the exposed view.
#include "analyzer/app/slice_views.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"
#include "analyzer/app/text_format.h"

SliceViewSet::SliceViewSet() {
  roi_view(RoiPanel::Spherical).view.drawing_mode = ZTR_DRAW_SPHERE;
  roi_view(RoiPanel::Freehand).view.drawing_mode = ZTR_DRAW_FREEHAND;
  // A region tab starts with its sphere, the default of every region selector.
  for (SliceViewFrame& frame : study_regions) frame.view.drawing_mode = ZTR_DRAW_SPHERE;
}

std::array<SliceViewFrame*, ZTR_ROI_PANEL_COUNT + ZTR_STUDY_REGION_VIEW_COUNT>
SliceViewSet::all() {
  std::array<SliceViewFrame*, ZTR_ROI_PANEL_COUNT + ZTR_STUDY_REGION_VIEW_COUNT> frames{};
  size_t next = 0;
  for (SliceViewFrame& frame : roi_editor) frames[next++] = &frame;
  for (SliceViewFrame& frame : study_regions) frames[next++] = &frame;
  return frames;
}

void reset_views(AppState& state) {
  const RawVolumeData* volume = state.volume.get();
  for (SliceViewFrame* frame : state.views.all()) {
    reset_frame(*frame, volume);
    // A new ROI's view shows half the matrix width across the picture.
    if (volume) {
      frame->view.zoom = 512.0f / static_cast<float>(volume->header->x);
      redraw_frame(*frame);
    }
  }
}

void follow_host_cursor(AppState& state) {
  if (!state.broadcast) return;
  for (SliceViewFrame* frame : state.views.all()) follow_host(*frame, *state.broadcast);
}

void refresh_views(AppState& state) {
  for (SliceViewFrame* frame : state.views.all()) {
    if (!frame->volume) continue;
    if (frame->view.channel >= frame->volume->header->channels) {
      show_channel(*frame, 0);  // the channel it showed is gone
    } else {
      refresh_frame(*frame);
    }
  }
}

void release_views(AppState& state) {
  for (SliceViewFrame* frame : state.views.all()) frame->volume = nullptr;
  state.views.exposed = nullptr;
}

namespace {

// The exposed view when a channel command may act on it: on a page other than the study
// page, a locked active ROI keeps its view as it is.
SliceViewFrame* channel_target(AppState& state) {
  SliceViewFrame* frame = state.views.exposed;
  if (!frame || !frame->volume) return nullptr;
  if (state.page_mode != ZTR_PAGE_MODE_STUDY && state.hooks.active_roi_locked &&
      state.hooks.active_roi_locked(state)) {
    return nullptr;
  }
  return frame;
}

void set_guideline(AppState& state, int32_t mode) {
  SliceViewFrame* frame = state.views.exposed;
  if (!frame) return;
  frame->view.guideline_mode = mode;
  redraw_frame(*frame);
}

void set_exposed_orientation(AppState& state, int32_t code) {
  if (SliceViewFrame* frame = state.views.exposed) set_view_orientation(*frame, code, true);
}

}  // namespace

void channel_first_command(AppState& state, Dialogs&) {
  if (SliceViewFrame* frame = channel_target(state)) show_channel(*frame, 0);
}

void channel_last_command(AppState& state, Dialogs&) {
  if (SliceViewFrame* frame = channel_target(state)) {
    show_channel(*frame, frame->volume->header->channels - 1);
  }
}

void channel_next_command(AppState& state, Dialogs&) {
  SliceViewFrame* frame = channel_target(state);
  if (!frame || frame->view.channel + 1 >= frame->volume->header->channels) return;
  show_channel(*frame, frame->view.channel + 1);
}

void channel_previous_command(AppState& state, Dialogs&) {
  SliceViewFrame* frame = channel_target(state);
  if (!frame || frame->view.channel <= 0) return;
  show_channel(*frame, frame->view.channel - 1);
}

void upload_current_channel_command(AppState& state, Dialogs& dialogs) {
  SliceViewFrame* frame = state.views.exposed;
  if (!frame) {
    show_important_notice(dialogs, ZTR_NO_PALETTE_NOTICE, 240, 100);
    return;
  }
  const RawVolumeData* volume = state.volume.get();
  const int channel = frame->view.channel;
  if (!volume || channel < 0 || channel >= volume->header->channels) return;
  dialogs.set_message_line(format_text(" uploading channel %d ...", channel));
  dialogs.repaint_now();
  if (ZTRipc_AppendSingleChannel(volume, channel) == 0) {
    dialogs.set_message_line(format_text(" channel %d uploaded.", channel));
  } else {
    dialogs.set_message_line(format_text(" upload of channel %d failed.", channel));
  }
}

void adjust_greyscale_command(AppState& state, Dialogs&) {
  if (SliceViewFrame* frame = state.views.exposed) adjust_greyscale_button(*frame);
}

float centre_z_factor_from_entry(const char* text, float current) {
  float value = 0.0f;
  if (std::sscanf(text, "%f", &value) == 1 && value > 0.0f && value < 1.0f) return value;
  return current;
}

void set_center_z_command(AppState& state, Dialogs& dialogs) {
  SliceViewFrame* frame = state.views.exposed;
  if (!frame) return;
  SliceView& view = frame->view;
  std::string text = format_text("%3.3f", view.centre_z_factor);
  if (dialogs.value_entry("Center Z factor", text) == ZTR_DIALOG_OK) {
    view.centre_z_factor = centre_z_factor_from_entry(text.c_str(), view.centre_z_factor);
  }
  if (frame->volume) {
    view.sphere_centre[2] = static_cast<float>(frame->volume->header->z) * view.centre_z_factor;
  }
  redraw_frame(*frame);
}

void guideline_none_command(AppState& state, Dialogs&) {
  set_guideline(state, ZTR_GUIDELINE_NONE);
}
void guideline_z_command(AppState& state, Dialogs&) { set_guideline(state, ZTR_GUIDELINE_Z); }
void guideline_xz_command(AppState& state, Dialogs&) { set_guideline(state, ZTR_GUIDELINE_XZ); }

void orientation_axial_command(AppState& state, Dialogs&) {
  set_exposed_orientation(state, ZTR_VIEW_AXIAL);
}
void orientation_sagittal_command(AppState& state, Dialogs&) {
  set_exposed_orientation(state, ZTR_VIEW_SAGITTAL);
}
void orientation_coronal_command(AppState& state, Dialogs&) {
  set_exposed_orientation(state, ZTR_VIEW_CORONAL);
}
void orientation_oblique_command(AppState& state, Dialogs&) {
  set_exposed_orientation(state, ZTR_VIEW_OBLIQUE);
}
void orientation_spherical_command(AppState& state, Dialogs&) {
  set_exposed_orientation(state, ZTR_VIEW_SPHERICAL);
}

int orientation_code_for_label(const char* label) {
  static constexpr struct {
    const char* label;
    int code;
  } kCodes[] = {{"Axial", ZTR_VIEW_AXIAL},
                {"Sagittal", ZTR_VIEW_SAGITTAL},
                {"Coronal", ZTR_VIEW_CORONAL},
                {"Oblique", ZTR_VIEW_OBLIQUE},
                {"Spherical", ZTR_VIEW_SPHERICAL}};
  for (const auto& entry : kCodes) {
    if (std::strcmp(entry.label, label) == 0) return entry.code;
  }
  return 0;
}

const char* orientation_bar_title(int code) {
  switch (code) {
    case ZTR_VIEW_SAGITTAL: return "Sagittal ";
    case ZTR_VIEW_OBLIQUE: return "Oblique  ";
    case ZTR_VIEW_CORONAL: return "Coronal ";
    case ZTR_VIEW_SPHERICAL: return "Spherical";
    default: return " Axial  ";
  }
}
