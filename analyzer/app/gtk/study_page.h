// The " Study performer " page: the study list with its name entry and " visible" toggle,
// the three kind panels (only the active study's kind shown) with their region tabs, and the
// " Analyze and Display " button. The panels hold the working copy of the active study; every
// value goes through the toolkit-free panel model.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analyzer/app/gtk/slice_view_widget.h"
#include "analyzer/app/slice_views.h"
#include "analyzer/app/study_panels.h"
#include "analyzer/studies/study_commands.h"

struct AppState;
class Dialogs;

// Runs one command body with the window's command guard (no second command meanwhile, no
// exception out of a signal handler).
using StudyCommandRunner = std::function<void(const std::function<void()>&)>;

class GtkStudyPage : public StudyPage {
 public:
  // The page shows `state`'s studies and the ROI editor's ROIs; both must outlive it.
  GtkStudyPage(AppState& state, Dialogs& dialogs, StudyCommandRunner run);
  ~GtkStudyPage() override;
  GtkStudyPage(const GtkStudyPage&) = delete;
  GtkStudyPage& operator=(const GtkStudyPage&) = delete;

  // The page (floating until packed; the page holds its own reference).
  GtkWidget* root() const { return root_; }

  // ---- StudyPage ----
  void store_panel(STUDY_OBJECT& study) override;
  void load_panel(const STUDY_OBJECT& study) override;
  void show_panel(int32_t type) override;
  void hide_panels() override;
  void select_row(int index) override;
  void redraw_list() override;
  void set_name_entry(const std::string& text) override;
  void set_message_line(const std::string& text) override;
  std::string summary_box() override;
  void set_summary_box(const std::string& text) override;
  void show_summary_page(int32_t type) override;

  // The slice view on the shown panel's current tab; none without a panel or on a tab
  // without a view.
  SliceViewFrame* exposed_frame() const;
  // Called after the shown panel or its current tab changed (the window reports the view).
  std::function<void()> on_exposed_changed;

  // Refills the five ROI lists of the "Listed" region tabs from the ROI editor's list; each
  // keeps the rows the user selected.
  void redraw_listed_rois();

  // ---- widgets, for the window and its tests ----
  GtkWidget* study_list() const { return list_; }
  GtkWidget* name_entry() const { return name_entry_; }
  GtkWidget* visible_toggle() const { return visible_; }
  GtkWidget* analyze_button() const { return analyze_; }
  GtkWidget* panel_stack() const { return stack_; }
  // The kind panel (a notebook of its frames and region tabs) of study type 0 ... 2.
  GtkWidget* kind_panel(int32_t type) const;
  GtkWidget* summary_view(int32_t type) const;

  struct RegionTab {
    StudyRegionView which = StudyRegionView::Seed;
    GtkWidget* root = nullptr;
    std::vector<GtkWidget*> radios;  // in the order of the tab's region choices
    GtkWidget* use = nullptr;        // " Use"; target and avoidance only
    GtkWidget* roi_list = nullptr;   // multi-selection, ROI ID in the last column
    GtkListStore* roi_store = nullptr;
    std::unique_ptr<SliceViewWidget> view;
  };
  const RegionTab& region_tab(StudyRegionView which) const {
    return tabs_[static_cast<size_t>(which)];
  }

  struct TrackingWidgets {
    std::array<GtkWidget*, 6> stop_entries{};
    std::array<GtkWidget*, ZTR_STOP_IF_CHECKS> stop_checks{};
    std::vector<GtkWidget*> scheme, seed_density, colour_mode, primitive;
    GtkWidget* colour = nullptr;  // shown with "uniform color" only
  };
  struct ProfileWidgets {
    std::array<GtkWidget*, 6> range_entries{};
    std::array<GtkWidget*, 3> range_checks{};
    std::vector<GtkWidget*> density, primitive, colouring;
    GtkWidget* emphasis = nullptr;
  };
  struct StatisticsWidgets {
    std::vector<GtkWidget*> colour_mode;
    GtkWidget* colour = nullptr;
  };
  const TrackingWidgets& tracking() const { return tracking_; }
  const ProfileWidgets& profile() const { return profile_; }
  const StatisticsWidgets& statistics() const { return statistics_; }

  // Signal bodies.
  void row_selected();
  void name_changed();
  void visible_toggled();
  void analyze_clicked();
  void scheme_chosen(GtkWidget* radio);
  void tracking_colour_mode_chosen();

 private:
  GtkWidget* build_list();
  GtkWidget* build_tracking_panel();
  GtkWidget* build_profile_panel();
  GtkWidget* build_statistics_panel();
  GtkWidget* build_region_tab(StudyRegionView which, std::span<const PanelChoice> choices,
                              bool with_use, uint32_t colour);
  GtkWidget* build_summary(int32_t type, bool editable);

  RegionPanel read_region(StudyRegionView which) const;
  void show_region(StudyRegionView which, const RegionPanel& panel);
  void fill_roi_list(RegionTab& tab, const std::vector<uint16_t>& selected);
  void show_entry_and_toggle(const STUDY_OBJECT& study);

  AppState& state_;
  Dialogs& dialogs_;
  StudyCommandRunner run_;
  GtkWidget* root_ = nullptr;
  GtkWidget* list_ = nullptr;
  GtkListStore* store_ = nullptr;
  GtkWidget* name_entry_ = nullptr;
  GtkWidget* visible_ = nullptr;
  GtkWidget* stack_ = nullptr;
  GtkWidget* analyze_ = nullptr;
  std::array<GtkWidget*, ZTR_STUDY_KINDS> panels_{};
  std::array<GtkWidget*, ZTR_STUDY_KINDS> summaries_{};
  std::array<RegionTab, ZTR_STUDY_REGION_VIEW_COUNT> tabs_;
  TrackingWidgets tracking_;
  ProfileWidgets profile_;
  StatisticsWidgets statistics_;
  int32_t shown_type_ = -1;
  // Set while the page itself changes widgets: their signals then run no command.
  bool updating_ = false;
};
