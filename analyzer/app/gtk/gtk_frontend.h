// The GTK 3 front end of the analyzer: the main window, its menus and pages, the modal
// dialogs and the timer. The only code of the analyzer that includes GTK.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/app/frontend.h"
#include "analyzer/app/gtk/menu_bar.h"
#include "analyzer/app/gtk/slice_view_widget.h"
#include "analyzer/app/gtk/study_page.h"
#include "analyzer/app/slice_views.h"
#include "analyzer/voxel/voxel_growing.h"

class GtkFrontend : public Frontend {
 public:
  GtkFrontend() = default;
  ~GtkFrontend() override;
  GtkFrontend(const GtkFrontend&) = delete;
  GtkFrontend& operator=(const GtkFrontend&) = delete;

  // Dialogs
  int file_selection(std::string& path, const char* initial_name,
                     FileSelectionKind kind) override;
  int value_entry(const std::string& prompt, std::string& text) override;
  void show_notice(const std::string& title, const std::string& message, int width,
                   int height) override;
  int confirmation(const std::string& title, const std::string& message, int width,
                   int height) override;
  void beep() override;
  int select_rtnn_maps(const RtnnPreview& preview, std::vector<int>& flags) override;
  void set_message_line(const std::string& text) override;
  void repaint_now() override;
  void set_memo_text(const std::string& text) override;
  std::optional<std::string> memo_text() override;
  void set_monitor_text(const std::string& text) override;
  int current_page() override;
  void set_current_page(int page) override;
  void quit_main_loop() override;

  // Frontend
  bool visual_is_true_color() override;
  void build_main_window(AppState& state) override;
  void start_timer(int first_period_ms) override;
  void create_drawing_context() override;
  void run_main_loop(AppState& state) override;
  void destroy_main_window() override;

  // Runs a menu command with this front end's state; no exception leaves it.
  void run_command(MenuCommand command);
  // Runs any command body under the same guard: none while another command runs.
  void run_guarded(const std::function<void()>& body);
  void memo_changed();
  void timer_fired();
  // Tells the model which view the current page and ROI panel show; `page` is the page
  // being turned to, or -1 for the current one.
  void report_exposed_view(int page = -1);

  // The study performer page below its menu bar; none before the window is built.
  GtkStudyPage* study_page() const { return study_page_.get(); }
  const BuiltMenuBar& study_menu() const { return study_menu_; }
  // The lists refresh: the ROI list, the study list and the five listed ROI lists redrawn,
  // and on the study page the active study's panel shown.
  void refresh_lists();

  // The ROI editor's slice view widgets (voxelgroup, spherical, freehand) and the stack
  // that shows one of them; empty before the window is built.
  SliceViewWidget* roi_view_widget(RoiPanel panel) const;
  GtkWidget* roi_panel_stack() const { return roi_stack_; }

  // The ROI list (a tree view with the five row columns) and the voxelgroup panel's buttons
  // ("3D Grow", "Select", " Dilate ", " Erode ", " Clear " in that order).
  GtkWidget* roi_list_view() const { return roi_list_; }
  const BuiltMenuBar& roi_menu() const { return roi_menu_; }
  GtkWidget* message_label() const { return message_label_; }
  GtkWidget* voxelgroup_button(VoxelGrowingButton button) const;
  // Redraws the ROI list from the model and shows the active ROI's panel.
  void refresh_roi_list();
  // Signal bodies of the ROI page.
  void roi_row_selected();
  void roi_row_activated(int column);
  void voxelgroup_button_clicked(VoxelGrowingButton button);
  void roi_button_clicked(int which);

 private:
  GtkWidget* build_study_page();
  GtkWidget* build_roi_page();
  GtkWidget* build_growing_controls();
  GtkWidget* build_utility_page();
  GtkWidget* build_monitor_page();
  GtkWindow* parent_window() const;

  AppState* state_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* notebook_ = nullptr;
  GtkWidget* message_label_ = nullptr;
  GtkWidget* roi_stack_ = nullptr;
  GtkWidget* roi_switcher_ = nullptr;
  GtkWidget* roi_list_ = nullptr;
  GtkListStore* roi_store_ = nullptr;
  std::array<GtkWidget*, ZTR_ROI_PANEL_COUNT> roi_pages_{};
  std::array<GtkWidget*, 5> growing_buttons_{};
  GtkWidget* tensor_radio_ = nullptr;
  // " min FA", "max angle", " min signal", "max signal", "max step"
  std::array<GtkWidget*, 5> growing_entries_{};
  bool refreshing_roi_list_ = false;
  std::vector<std::unique_ptr<SliceViewWidget>> roi_views_;
  std::unique_ptr<GtkStudyPage> study_page_;
  GtkTextBuffer* memo_ = nullptr;
  GtkTextBuffer* monitor_ = nullptr;
  GtkAccelGroup* main_accels_ = nullptr;
  GtkAccelGroup* study_accels_ = nullptr;
  GtkAccelGroup* roi_accels_ = nullptr;
  BuiltMenuBar main_menu_;
  BuiltMenuBar study_menu_;
  BuiltMenuBar roi_menu_;
  guint timer_source_ = 0;
  bool setting_memo_ = false;
  bool in_main_loop_ = false;
  bool quit_requested_ = false;
  bool command_running_ = false;
};

// The program: toolkit initialisation, then start-up, main loop and shutdown with the GTK
// front end. Returns the exit status.
int run_helixia_gtk(int argc, char** argv);
