// The GTK 3 front end of the analyzer: the main window, its menus and pages, the modal
// dialogs and the timer.
#include "analyzer/app/gtk/gtk_frontend.h"
#include "analyzer/app/gtk/object_list.h"

#include <clocale>
#include <cstdio>
#include <exception>

#include "analyzer/app/app_state.h"
#include "analyzer/app/rtnn_commands.h"
#include "analyzer/app/roi_session.h"
#include "analyzer/app/study_session.h"
#include "analyzer/app/text_format.h"
#include "analyzer/app/session.h"
#include "analyzer/app/startup.h"

namespace {

void on_menu_command(const MenuItemEntry& entry, gpointer self) {
  static_cast<GtkFrontend*>(self)->run_command(entry.handler);
}

gboolean on_main_window_delete(GtkWidget*, GdkEvent*, gpointer self) {
  static_cast<GtkFrontend*>(self)->quit_main_loop();
  return TRUE;  // the window goes away at shutdown
}

// The palette commands have plain-letter accelerators (F, L, N, B, G); text typed into the
// memo or an entry goes to that widget first, so the letters are not taken as commands.
gboolean on_main_window_key(GtkWidget* window, GdkEventKey* event, gpointer) {
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  const bool plain = (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) == 0;
  if (plain && focus && (GTK_IS_EDITABLE(focus) || GTK_IS_TEXT_VIEW(focus))) {
    return gtk_window_propagate_key_event(GTK_WINDOW(window), event);
  }
  return FALSE;
}

void on_memo_changed(GtkTextBuffer*, gpointer self) {
  static_cast<GtkFrontend*>(self)->memo_changed();
}

void on_page_switched(GtkNotebook*, GtkWidget*, guint page, gpointer self) {
  static_cast<GtkFrontend*>(self)->report_exposed_view(static_cast<int>(page));
}

void on_roi_panel_shown(GObject*, GParamSpec*, gpointer self) {
  static_cast<GtkFrontend*>(self)->report_exposed_view();
}

void on_roi_panel_chosen(GtkComboBox* box, gpointer stack) {
  if (const gchar* id = gtk_combo_box_get_active_id(box)) {
    gtk_stack_set_visible_child_name(GTK_STACK(stack), id);
  }
}

gboolean on_timer(gpointer self) {
  static_cast<GtkFrontend*>(self)->timer_fired();
  return G_SOURCE_REMOVE;  // the tick re-arms itself as a new one-shot timeout
}

GtkWidget* new_dialog(GtkWindow* parent, const std::string& title) {
  GtkWidget* dialog = gtk_dialog_new();
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(dialog), parent);
  gtk_window_set_position(GTK_WINDOW(dialog),
                          parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  return dialog;
}

// Runs a message dialog with the given buttons; returns the response.
int run_message_dialog(GtkWindow* parent, const std::string& title, const std::string& message,
                       int width, int height, bool with_cancel) {
  GtkWidget* dialog = new_dialog(parent, title);
  gtk_window_set_default_size(GTK_WINDOW(dialog), width, height);
  GtkWidget* label = gtk_label_new(message.c_str());
  gtk_widget_set_vexpand(label, TRUE);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), label, TRUE, TRUE,
                     8);
  GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
  if (with_cancel) gtk_dialog_add_button(GTK_DIALOG(dialog), " Cancel", GTK_RESPONSE_CANCEL);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(ok);
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response;
}

}  // namespace

GtkFrontend::~GtkFrontend() { destroy_main_window(); }

GtkWindow* GtkFrontend::parent_window() const {
  return window_ ? GTK_WINDOW(window_) : nullptr;
}

// ---- dialogs ---------------------------------------------------------------------------------

int GtkFrontend::file_selection(std::string& path, const char* initial_name,
                                FileSelectionKind kind) {
  const GtkFileChooserAction action =
      kind == FileSelectionKind::Directory ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
      : kind == FileSelectionKind::Save    ? GTK_FILE_CHOOSER_ACTION_SAVE
                                           : GTK_FILE_CHOOSER_ACTION_OPEN;
  GtkWidget* dialog = gtk_file_chooser_dialog_new("File Selection", parent_window(), action,
                                                  "Cancel", GTK_RESPONSE_CANCEL, "      OK",
                                                  GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  if (kind == FileSelectionKind::Save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  if (!path.empty()) {
    gchar* folder = g_path_get_dirname(path.c_str());
    if (initial_name) {
      gtk_file_chooser_set_current_folder(chooser, folder);
      gtk_file_chooser_set_current_name(chooser, initial_name);
    } else if (kind == FileSelectionKind::Directory) {
      gtk_file_chooser_set_current_folder(chooser, path.c_str());
    } else if (!gtk_file_chooser_set_filename(chooser, path.c_str())) {
      gtk_file_chooser_set_current_folder(chooser, folder);
    }
    g_free(folder);
  } else {
    // Nothing remembered yet: start in the working directory rather than "Recent".
    gchar* here = g_get_current_dir();
    gtk_file_chooser_set_current_folder(chooser, here);
    g_free(here);
    if (initial_name) gtk_file_chooser_set_current_name(chooser, initial_name);
  }
  int result = 0;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    if (gchar* chosen = gtk_file_chooser_get_filename(chooser)) {
      path = chosen;
      g_free(chosen);
      result = ZTR_DIALOG_OK;
    }
  }
  gtk_widget_destroy(dialog);
  return result;
}

int GtkFrontend::value_entry(const std::string& prompt, std::string& text) {
  GtkWidget* dialog = new_dialog(parent_window(), prompt);
  GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_pack_start(GTK_BOX(area), gtk_label_new("get value"), FALSE, FALSE, 4);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_box_pack_start(GTK_BOX(area), entry, FALSE, FALSE, 4);
  gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
  gtk_dialog_add_button(GTK_DIALOG(dialog), "cancel", GTK_RESPONSE_CANCEL);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_widget_show_all(dialog);
  gtk_widget_grab_focus(entry);
  int result = 0;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    text = gtk_entry_get_text(GTK_ENTRY(entry));
    result = ZTR_DIALOG_OK;
  }
  gtk_widget_destroy(dialog);
  return result;
}

void GtkFrontend::show_notice(const std::string& title, const std::string& message, int width,
                              int height) {
  run_message_dialog(parent_window(), title, message, width, height, false);
}

int GtkFrontend::confirmation(const std::string& title, const std::string& message, int width,
                              int height) {
  return run_message_dialog(parent_window(), title, message, width, height, true) ==
                 GTK_RESPONSE_OK
             ? ZTR_CONFIRMATION_OK
             : 0;
}

void GtkFrontend::beep() {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

void GtkFrontend::set_message_line(const std::string& text) {
  if (message_label_) gtk_label_set_text(GTK_LABEL(message_label_), text.c_str());
}

void GtkFrontend::repaint_now() {
  // Lets the window draw what the running command has set so far. Another command chosen
  // meanwhile is refused (run_command), so nothing runs inside this one.
  for (int i = 0; i < 1000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

std::optional<std::string> GtkFrontend::memo_text() {
  if (!memo_) return std::nullopt;
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(memo_, &start, &end);
  gchar* text = gtk_text_buffer_get_text(memo_, &start, &end, FALSE);
  std::string copy = text ? text : "";
  g_free(text);
  return copy;
}

void GtkFrontend::set_memo_text(const std::string& text) {
  if (!memo_) return;
  setting_memo_ = true;
  gtk_text_buffer_set_text(memo_, text.c_str(), static_cast<gint>(text.size()));
  setting_memo_ = false;
}

void GtkFrontend::set_monitor_text(const std::string& text) {
  if (monitor_) gtk_text_buffer_set_text(monitor_, text.c_str(), static_cast<gint>(text.size()));
}

int GtkFrontend::current_page() {
  return notebook_ ? gtk_notebook_get_current_page(GTK_NOTEBOOK(notebook_)) : 0;
}

void GtkFrontend::set_current_page(int page) {
  if (notebook_) gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook_), page);
}

void GtkFrontend::quit_main_loop() {
  quit_requested_ = true;
  if (in_main_loop_) gtk_main_quit();
}

// ---- front end -----------------------------------------------------------------------------

bool GtkFrontend::visual_is_true_color() {
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen) return false;
  GdkVisual* visual = gdk_screen_get_system_visual(screen);
  if (!visual) return false;
  const gint depth = gdk_visual_get_depth(visual);
  return depth == 24 || depth == 32;
}

GtkWidget* GtkFrontend::build_study_page() {
  GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  study_menu_ = build_menu_bar(study_menu_items(), study_accels_, on_menu_command, this);
  gtk_box_pack_start(GTK_BOX(page), study_menu_.bar, FALSE, FALSE, 0);
  study_page_ = std::make_unique<GtkStudyPage>(
      *state_, *this, [this](const std::function<void()>& body) { run_guarded(body); });
  study_page_->on_exposed_changed = [this] { report_exposed_view(); };
  gtk_box_pack_start(GTK_BOX(page), study_page_->root(), TRUE, TRUE, 0);
  return page;
}

namespace {


void on_roi_selection_changed(GtkTreeSelection*, gpointer self) {
  static_cast<GtkFrontend*>(self)->roi_row_selected();
}

void on_roi_row_activated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn* column, gpointer self) {
  const gpointer index = g_object_get_data(G_OBJECT(column), "ztr-column");
  static_cast<GtkFrontend*>(self)->roi_row_activated(GPOINTER_TO_INT(index));
}

void on_growing_button(GtkButton* button, gpointer self) {
  const int which = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "ztr-button"));
  static_cast<GtkFrontend*>(self)->voxelgroup_button_clicked(
      static_cast<VoxelGrowingButton>(which));
}

void on_roi_button(GtkButton* button, gpointer self) {
  const int which = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "ztr-button"));
  static_cast<GtkFrontend*>(self)->roi_button_clicked(which);
}

std::string entry_text_of(float value) { return format_text("%g", static_cast<double>(value)); }

}  // namespace

GtkWidget* GtkFrontend::build_roi_page() {
  GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  roi_menu_ = build_menu_bar(roi_menu_items(), roi_accels_, on_menu_command, this);
  gtk_box_pack_start(GTK_BOX(page), roi_menu_.bar, FALSE, FALSE, 0);
  roi_list_ = new_object_list(&roi_store_, GTK_SELECTION_BROWSE);
  g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(roi_list_)), "changed",
                   G_CALLBACK(on_roi_selection_changed), this);
  g_signal_connect(roi_list_, "row-activated", G_CALLBACK(on_roi_row_activated), this);
  GtkWidget* list = scrolled(roi_list_);
  gtk_widget_set_size_request(list, -1, 90);
  gtk_box_pack_start(GTK_BOX(page), list, FALSE, FALSE, 0);
  // What a double click on a row's columns does, as buttons for those who look for them.
  GtkWidget* row_buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  static const char* const kRowButtons[] = {"Rename", "Show/Hide", "Lock/Unlock"};
  for (int i = 0; i < 3; ++i) {
    GtkWidget* button = gtk_button_new_with_label(kRowButtons[i]);
    g_object_set_data(G_OBJECT(button), "ztr-button", GINT_TO_POINTER(i));
    g_signal_connect(button, "clicked", G_CALLBACK(on_roi_button), this);
    gtk_box_pack_start(GTK_BOX(row_buttons), button, TRUE, TRUE, 0);
  }
  gtk_box_pack_start(GTK_BOX(page), row_buttons, FALSE, FALSE, 0);

  // One panel per ROI kind, each with its slice view; the active ROI's kind is shown.
  roi_stack_ = gtk_stack_new();
  static constexpr struct {
    RoiPanel panel;
    const char* name;
    const char* title;
  } kPanels[] = {{RoiPanel::Spherical, "spherical", "Spherical"},
                 {RoiPanel::Freehand, "freehand", "Freehand"},
                 {RoiPanel::Voxelgroup, "voxelgroup", "Voxelgroup"}};
  roi_views_.resize(ZTR_ROI_PANEL_COUNT);
  for (const auto& p : kPanels) {
    auto widget = std::make_unique<SliceViewWidget>(state_->views.roi_view(p.panel));
    GtkWidget* child = widget->root();
    if (p.panel == RoiPanel::Voxelgroup) {
      // The growing controls under the view scroll, so that the window keeps its size.
      GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
      gtk_box_pack_start(GTK_BOX(box), widget->root(), FALSE, FALSE, 0);
      gtk_box_pack_start(GTK_BOX(box), build_growing_controls(), FALSE, FALSE, 0);
      child = scrolled(box);
    }
    roi_pages_[static_cast<size_t>(p.panel)] = child;
    gtk_stack_add_titled(GTK_STACK(roi_stack_), child, p.name, p.title);
    roi_views_[static_cast<int>(p.panel)] = std::move(widget);
  }
  // A combo box rather than a stack switcher: three side-by-side buttons would widen the
  // window past its 320 pixels. Selecting a ROI turns it to the ROI's kind.
  roi_switcher_ = gtk_combo_box_text_new();
  for (const auto& p : kPanels) {
    gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(roi_switcher_), p.name, p.title);
  }
  gtk_combo_box_set_active_id(GTK_COMBO_BOX(roi_switcher_), "spherical");
  g_signal_connect(roi_switcher_, "changed", G_CALLBACK(on_roi_panel_chosen), roi_stack_);
  gtk_widget_set_halign(roi_switcher_, GTK_ALIGN_CENTER);
  gtk_box_pack_start(GTK_BOX(page), roi_switcher_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(page), roi_stack_, TRUE, TRUE, 0);
  g_signal_connect(roi_stack_, "notify::visible-child", G_CALLBACK(on_roi_panel_shown), this);
  return page;
}

GtkWidget* GtkFrontend::build_growing_controls() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* criteria = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  gtk_box_pack_start(GTK_BOX(criteria), gtk_label_new("Grow if"), FALSE, FALSE, 0);
  tensor_radio_ = gtk_radio_button_new_with_label(nullptr, "Tensor Property");
  GtkWidget* signal = gtk_radio_button_new_with_label_from_widget(
      GTK_RADIO_BUTTON(tensor_radio_), "Single Signal");
  gtk_box_pack_start(GTK_BOX(criteria), tensor_radio_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(criteria), signal, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), criteria, FALSE, FALSE, 0);
  GtkWidget* grid = gtk_grid_new();
  static const char* const kLabels[] = {" min FA", "max angle", " min signal", "max signal",
                                        "max step"};
  for (int i = 0; i < 5; ++i) {
    growing_entries_[static_cast<size_t>(i)] = gtk_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(growing_entries_[static_cast<size_t>(i)]), 7);
    gtk_grid_attach(GTK_GRID(grid), gtk_label_new(kLabels[i]), (i % 2) * 2, i / 2, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), growing_entries_[static_cast<size_t>(i)], (i % 2) * 2 + 1,
                    i / 2, 1, 1);
  }
  gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 0);
  // Two rows: the growing and the mask editing buttons, each row within the window's width.
  GtkWidget* rows[2] = {gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 1),
                        gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 1)};
  static const char* const kButtons[] = {"3D Grow", "Select", " Dilate ", " Erode ", " Clear "};
  for (int i = 0; i < 5; ++i) {
    GtkWidget* button = gtk_button_new_with_label(kButtons[i]);
    g_object_set_data(G_OBJECT(button), "ztr-button", GINT_TO_POINTER(i));
    g_signal_connect(button, "clicked", G_CALLBACK(on_growing_button), this);
    gtk_box_pack_start(GTK_BOX(rows[i < 2 ? 0 : 1]), button, TRUE, TRUE, 0);
    growing_buttons_[static_cast<size_t>(i)] = button;
  }
  gtk_box_pack_start(GTK_BOX(box), rows[0], FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), rows[1], FALSE, FALSE, 0);
  return box;
}

GtkWidget* GtkFrontend::voxelgroup_button(VoxelGrowingButton button) const {
  const size_t i = static_cast<size_t>(button);
  return i < growing_buttons_.size() ? growing_buttons_[i] : nullptr;
}

void GtkFrontend::refresh_roi_list() {
  if (!state_ || !roi_store_) return;
  refreshing_roi_list_ = true;
  state_->roi_editor.rois.redrawing = true;
  gtk_list_store_clear(roi_store_);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(roi_list_));
  const ROI_OBJECT* active = get_active_roi(state_->roi_editor.rois);
  int row = 1;
  for (const ROI_OBJECT* roi : roi_items(state_->roi_editor.rois)) {
    const std::array<std::string, 5> text = roi_list_row(*roi, row++);
    GtkTreeIter iter;
    append_object_row(roi_store_, text, static_cast<guint>(roi->id), &iter);
    if (roi == active) gtk_tree_selection_select_iter(selection, &iter);
  }
  state_->roi_editor.rois.redrawing = false;
  refreshing_roi_list_ = false;
  if (active) {
    static const char* const kNames[] = {"spherical", "freehand", "voxelgroup"};
    if (active->type >= 0 && active->type < 3) {
      gtk_combo_box_set_active_id(GTK_COMBO_BOX(roi_switcher_), kNames[active->type]);
    }
    SliceViewWidget* widget = roi_view_widget(panel_for_roi_kind(active->type));
    if (widget) {
      const auto& c = active->colour;
      widget->set_region_colour(((c[0] >> 8) << 16) | ((c[1] >> 8) << 8) | (c[2] >> 8));
      widget->refresh();
    }
    if (active->type == ZTR_ROI_VOXELGROUP && tensor_radio_) {
      const VOXEL_GROWING_PANEL& g = state_->roi_editor.panel_of(ZTR_ROI_VOXELGROUP).growing;
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(tensor_radio_),
                                   g.criterion == ZTR_VOXEL_GROWING_TENSOR);
      if (GSList* group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(tensor_radio_))) {
        for (GSList* i = group; i; i = i->next) {
          if (i->data != tensor_radio_) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(i->data),
                                         g.criterion != ZTR_VOXEL_GROWING_TENSOR);
          }
        }
      }
      const std::string values[] = {entry_text_of(g.min_fa), entry_text_of(g.max_angle),
                                    entry_text_of(g.min_signal), entry_text_of(g.max_signal),
                                    format_text("%d", g.max_step)};
      for (size_t i = 0; i < 5; ++i) {
        gtk_entry_set_text(GTK_ENTRY(growing_entries_[i]), values[i].c_str());
      }
    }
  }
}

void GtkFrontend::roi_row_selected() {
  if (refreshing_roi_list_ || !state_ || command_running_) return;
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(roi_list_));
  if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return;
  guint id = 0;
  gtk_tree_model_get(model, &iter, kId, &id, -1);
  const ROI_OBJECT* active = get_active_roi(state_->roi_editor.rois);
  if (active && active->id == id) return;
  command_running_ = true;
  roi_select_command(*state_, static_cast<uint16_t>(id));
  command_running_ = false;
}

void GtkFrontend::roi_row_activated(int column) {
  roi_button_clicked(column == kVisible ? 1 : column == kStatus ? 2 : 0);
}

void GtkFrontend::roi_button_clicked(int which) {
  static const MenuCommand kCommands[] = {roi_rename_command, roi_toggle_visibility_command,
                                          roi_toggle_lock_command};
  if (which >= 0 && which < 3) run_command(kCommands[which]);
}

void GtkFrontend::voxelgroup_button_clicked(VoxelGrowingButton button) {
  if (!state_ || command_running_) return;
  VOXEL_GROWING_PANEL& g = state_->roi_editor.panel_of(ZTR_ROI_VOXELGROUP).growing;
  g.criterion = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(tensor_radio_))
                    ? ZTR_VOXEL_GROWING_TENSOR
                    : ZTR_VOXEL_GROWING_SIGNAL;
  float* floats[] = {&g.min_fa, &g.max_angle, &g.min_signal, &g.max_signal};
  for (size_t i = 0; i < 4; ++i) {
    float value = 0.0f;
    if (std::sscanf(gtk_entry_get_text(GTK_ENTRY(growing_entries_[i])), "%f", &value) == 1) {
      *floats[i] = value;
    }
  }
  int step = 0;
  if (std::sscanf(gtk_entry_get_text(GTK_ENTRY(growing_entries_[4])), "%d", &step) == 1) {
    g.max_step = step;
  }
  command_running_ = true;
  try {
    voxelgroup_button_command(*state_, *this, button);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Err: %s\n", e.what());
  }
  command_running_ = false;
}

SliceViewWidget* GtkFrontend::roi_view_widget(RoiPanel panel) const {
  const size_t i = static_cast<size_t>(panel);
  return i < roi_views_.size() ? roi_views_[i].get() : nullptr;
}

void GtkFrontend::report_exposed_view(int page) {
  if (!state_) return;
  if (page < 0) page = current_page();
  SliceViewFrame* exposed = nullptr;
  if (page == 0 && study_page_) exposed = study_page_->exposed_frame();
  if (page == 1 && roi_stack_) {
    GtkWidget* shown = gtk_stack_get_visible_child(GTK_STACK(roi_stack_));
    for (size_t i = 0; i < roi_views_.size(); ++i) {
      if (roi_views_[i] && roi_pages_[i] == shown) exposed = &roi_views_[i]->frame();
    }
  }
  state_->views.exposed = exposed;
}

GtkWidget* GtkFrontend::build_utility_page() {
  GtkWidget* frame = gtk_frame_new(" - Editable Memo - ");
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), TRUE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  memo_ = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  g_signal_connect(memo_, "changed", G_CALLBACK(on_memo_changed), this);
  gtk_container_add(GTK_CONTAINER(frame), scrolled(view));
  return frame;
}

GtkWidget* GtkFrontend::build_monitor_page() {
  GtkWidget* frame = gtk_frame_new(nullptr);
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  monitor_ = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
  gtk_container_add(GTK_CONTAINER(frame), scrolled(view));
  return frame;
}

void GtkFrontend::build_main_window(AppState& state) {
  state_ = &state;
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), "heLiXIA");
  gtk_window_set_default_size(GTK_WINDOW(window_), 320, 712);
  g_signal_connect(window_, "delete-event", G_CALLBACK(on_main_window_delete), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(on_main_window_key), this);

  main_accels_ = gtk_accel_group_new();
  study_accels_ = gtk_accel_group_new();
  roi_accels_ = gtk_accel_group_new();
  gtk_window_add_accel_group(GTK_WINDOW(window_), main_accels_);
  gtk_window_add_accel_group(GTK_WINDOW(window_), study_accels_);
  gtk_window_add_accel_group(GTK_WINDOW(window_), roi_accels_);

  GtkWidget* vbox = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_add(GTK_CONTAINER(window_), vbox);

  main_menu_ = build_menu_bar(main_menu_items(), main_accels_, on_menu_command, this);
  gtk_box_pack_start(GTK_BOX(vbox), main_menu_.bar, FALSE, FALSE, 0);

  notebook_ = gtk_notebook_new();
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook_), GTK_POS_TOP);
  // The theme's font is wider than the original one; scrolling tabs keep the window 320 wide.
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook_), TRUE);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), build_study_page(),
                           gtk_label_new(" Study performer "));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), build_roi_page(),
                           gtk_label_new(" ROI editor "));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), build_utility_page(),
                           gtk_label_new(" Utility "));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook_), build_monitor_page(),
                           gtk_label_new(" Monitor "));
  gtk_box_pack_start(GTK_BOX(vbox), notebook_, TRUE, TRUE, 0);
  g_signal_connect(notebook_, "switch-page", G_CALLBACK(on_page_switched), this);

  GtkWidget* message_frame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(message_frame), GTK_SHADOW_IN);
  gtk_widget_set_size_request(message_frame, 200, 28);
  message_label_ = gtk_label_new("(no message)");
  gtk_label_set_xalign(GTK_LABEL(message_label_), 0.0f);
  gtk_container_add(GTK_CONTAINER(message_frame), message_label_);
  gtk_box_pack_start(GTK_BOX(vbox), message_frame, FALSE, FALSE, 0);

  gtk_widget_show_all(window_);
  gtk_stack_set_visible_child_name(GTK_STACK(roi_stack_), "spherical");
  state.hooks.refresh_lists = [this](AppState&) { refresh_lists(); };
  state.study_page = study_page_.get();
  // The studies were made before the window: the panel takes the active one's values now,
  // so that the first store puts back what the study held.
  show_active_study(state);
  refresh_lists();
  report_exposed_view();
}

void GtkFrontend::refresh_lists() {
  refresh_roi_list();
  if (!state_ || !study_page_) return;
  study_page_->redraw_list();
  study_page_->redraw_listed_rois();
  const STUDY_OBJECT* active = get_active_study_object(state_->studies);
  if (active && state_->page_mode == ZTR_PAGE_MODE_STUDY) study_page_->show_panel(active->type);
}

void GtkFrontend::start_timer(int first_period_ms) {
  timer_source_ = g_timeout_add(static_cast<guint>(first_period_ms), on_timer, this);
}

void GtkFrontend::create_drawing_context() {
  // Drawing areas draw with cairo from their own image buffers; nothing shared to create.
}

void GtkFrontend::run_main_loop(AppState& state) {
  state_ = &state;
  if (quit_requested_) return;
  in_main_loop_ = true;
  gtk_main();
  in_main_loop_ = false;
}

void GtkFrontend::destroy_main_window() {
  if (timer_source_ != 0) {
    g_source_remove(timer_source_);
    timer_source_ = 0;
  }
  if (state_) {
    state_->views.exposed = nullptr;
    state_->hooks.refresh_lists = nullptr;
    if (state_->study_page == study_page_.get()) state_->study_page = nullptr;
  }
  if (roi_list_) {
    g_signal_handlers_disconnect_by_data(gtk_tree_view_get_selection(GTK_TREE_VIEW(roi_list_)),
                                         this);
    g_signal_handlers_disconnect_by_data(roi_list_, this);
  }
  if (roi_stack_) g_signal_handlers_disconnect_by_data(roi_stack_, this);
  if (notebook_) g_signal_handlers_disconnect_by_data(notebook_, this);
  roi_views_.clear();
  study_page_.reset();
  if (window_) {
    gtk_widget_destroy(window_);
    window_ = nullptr;
    notebook_ = nullptr;
    message_label_ = nullptr;
    roi_stack_ = nullptr;
    roi_switcher_ = nullptr;
    roi_list_ = nullptr;
    roi_store_ = nullptr;
    roi_pages_ = {};
    growing_buttons_ = {};
    growing_entries_ = {};
    tensor_radio_ = nullptr;
    memo_ = nullptr;
    monitor_ = nullptr;
  }
  for (GtkAccelGroup** group : {&main_accels_, &study_accels_, &roi_accels_}) {
    if (*group) g_object_unref(*group);
    *group = nullptr;
  }
  state_ = nullptr;
}

void GtkFrontend::run_command(MenuCommand command) {
  if (!state_ || !command) return;
  run_guarded([this, command] { command(*state_, *this); });
}

void GtkFrontend::run_guarded(const std::function<void()>& body) {
  if (!state_ || command_running_) return;
  command_running_ = true;
  try {
    body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Err: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Err: command failed\n");
  }
  command_running_ = false;
}

void GtkFrontend::memo_changed() {
  if (setting_memo_ || !state_ || !memo_) return;
  try {
    state_->set_data_source_text(text_of(memo_));
  } catch (...) {
  }
}

void GtkFrontend::timer_fired() {
  timer_source_ = 0;
  if (state_) {
    try {
      timer_tick(*state_, *this);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Err: %s\n", e.what());
    } catch (...) {
    }
  }
  timer_source_ = g_timeout_add(ZTR_TIMER_PERIOD_MS, on_timer, this);
}

int run_helixia_gtk(int argc, char** argv) {
  try {
    if (!gtk_init_check(&argc, &argv)) {
      std::fprintf(stderr, "Err: no display for the user interface\n");
      return 0;
    }
    // Console and dialog numbers are written and read in the C notation ("%f").
    std::setlocale(LC_NUMERIC, "C");
    GtkFrontend frontend;
    SessionHooks hooks;
    hooks.reset_views = reset_views;
    hooks.follow_host_cursor = follow_host_cursor;
    hooks.release_views = release_views;
    install_rtnn_hooks(&hooks);
    install_roi_hooks(hooks);
    install_study_hooks(hooks);
    return run_helixia(argc, argv, frontend, hooks);
  } catch (...) {
    return 0;
  }
}
