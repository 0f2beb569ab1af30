// Recorders for the study seams: a host that counts what it is asked, and a study page whose
// panel holds a working copy of the active study the way the real panels do.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "analyzer/studies/study_commands.h"

struct RecordingHost : StudyHost {
  int32_t next_id = 100;
  std::vector<int32_t> created, removed, updated;
  std::vector<std::array<int32_t, 6>> boxes;
  std::vector<std::array<float, 3>> cursors;  // one per request 464
  bool refuse_objects = false;
  int32_t create_object() override {
    if (refuse_objects) return -1;
    created.push_back(next_id);
    return next_id++;
  }
  void remove_object(int32_t id) override { removed.push_back(id); }
  int update_object(const ZTR_OBJECT_GROUP*, int32_t id) override {
    updated.push_back(id);
    return 0;
  }
  int set_box(const int32_t origin[3], const int32_t size[3]) override {
    boxes.push_back({origin[0], origin[1], origin[2], size[0], size[1], size[2]});
    return 0;
  }
  int notify_cursor(const float cursor[3]) override {
    cursors.push_back({cursor[0], cursor[1], cursor[2]});
    return 0;
  }
};

struct WorkingCopyPage : StudyPage {
  // The panel: the kind part and name of the study last loaded, edited in place by tests.
  StudyKindPart working;
  int32_t shown = -1;
  bool hidden = false;
  int follow_stopped = 0;
  std::string entry, message, box_text;
  std::vector<std::string> stored_names;
  void store_panel(STUDY_OBJECT& s) override {
    if (s.kind.index() == working.index()) s.kind = working;
    stored_names.push_back(s.name);
  }
  void load_panel(const STUDY_OBJECT& s) override {
    working = s.kind;
    entry = s.name;
  }
  void show_panel(int32_t type) override {
    shown = type;
    hidden = false;
  }
  void hide_panels() override {
    hidden = true;
    shown = -1;
  }
  void stop_following() override { ++follow_stopped; }
  void set_name_entry(const std::string& text) override { entry = text; }
  void set_message_line(const std::string& text) override { message = text; }
  std::string summary_box() override { return box_text; }
  void set_summary_box(const std::string& text) override { box_text = text; }
};

struct RecordingNotices : NoticeSink {
  std::vector<std::pair<std::string, std::string>> shown;
  void notice(const std::string& title, const std::string& text) override {
    shown.emplace_back(title, text);
  }
};

// A session's three studies (fiber tracking, diffusion profile, voxel statistics) with the
// recorders bound.
struct StudySession {
  StudyList list;
  RecordingHost host;
  WorkingCopyPage page;
  RecordingNotices notices;
  StudyEnvironment env;
  std::vector<std::vector<uint16_t>> locked;
  StudySession() {
    env.host = &host;
    env.page = &page;
    env.notices = &notices;
    env.dti_ready = true;
    env.lock_listed_rois = [this](const uint16_t* ids, int32_t n) {
      locked.emplace_back(ids, ids + n);
    };
    for (int32_t type : {ZTR_STUDY_FIBER_TRACKING, ZTR_STUDY_DIFFUSION_PROFILE,
                         ZTR_STUDY_VOXEL_STATISTICS}) {
      new_study_object(list, env, type);
    }
  }
  FiberTrackingStudy& ft(size_t index) {
    return std::get<FiberTrackingStudy>(list.studies.at(index)->kind);
  }
};
