// The study performer page: list, name entry, " visible" toggle, the three kind panels and
// the analyze button. Widgets only show and hand back the panel model's values; every signal
// is one call into a study command.
#include "analyzer/app/gtk/study_page.h"

#include <algorithm>

#include "analyzer/app/app_state.h"
#include "analyzer/app/dialogs.h"
#include "analyzer/app/gtk/object_list.h"
#include "analyzer/app/study_session.h"
#include "analyzer/objects/roi_commands.h"

namespace {

// Region colours of the tabs' views (0xRRGGBB): seed, target and avoidance apart at a glance.
constexpr uint32_t kRegionColours[ZTR_STUDY_REGION_VIEW_COUNT] = {0xFF4040, 0x40E040, 0x4080FF,
                                                                  0xFFD040, 0xFF8040};

constexpr const char* kPanelNames[ZTR_STUDY_KINDS] = {"fiber-tracking", "diffusion-profile",
                                                      "voxel-statistics"};

GtkStudyPage* self_of(gpointer data) { return static_cast<GtkStudyPage*>(data); }

void on_selection_changed(GtkTreeSelection*, gpointer self) { self_of(self)->row_selected(); }
void on_name_changed(GtkEditable*, gpointer self) { self_of(self)->name_changed(); }
void on_visible_toggled(GtkToggleButton*, gpointer self) { self_of(self)->visible_toggled(); }
void on_analyze(GtkButton*, gpointer self) { self_of(self)->analyze_clicked(); }
void on_scheme_toggled(GtkToggleButton* radio, gpointer self) {
  if (gtk_toggle_button_get_active(radio)) self_of(self)->scheme_chosen(GTK_WIDGET(radio));
}
void on_tracking_colour_toggled(GtkToggleButton*, gpointer self) {
  self_of(self)->tracking_colour_mode_chosen();
}
void on_tab_switched(GtkNotebook*, GtkWidget*, guint, gpointer self) {
  if (self_of(self)->on_exposed_changed) self_of(self)->on_exposed_changed();
}

GtkWidget* framed(const char* title, GtkWidget* child) {
  GtkWidget* frame = gtk_frame_new(title);
  gtk_container_add(GTK_CONTAINER(frame), child);
  return frame;
}

// A radio group of `choices` packed into a wrapping box. A hidden extra member of the group
// lets the group show nothing chosen (a stored code no button names).
std::vector<GtkWidget*> radio_group(std::span<const PanelChoice> choices, GtkWidget** box,
                                    int per_row = 2) {
  std::vector<GtkWidget*> radios;
  GtkWidget* none = gtk_radio_button_new(nullptr);
  gtk_widget_set_no_show_all(none, TRUE);
  GtkWidget* grid = gtk_grid_new();
  // Below the buttons; hidden, it takes no room.
  gtk_grid_attach(GTK_GRID(grid), none, 0, int(choices.size()), 1, 1);
  for (size_t i = 0; i < choices.size(); ++i) {
    GtkWidget* radio =
        gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(none), choices[i].label);
    g_object_set_data(G_OBJECT(radio), "ztr-none", none);
    gtk_grid_attach(GTK_GRID(grid), radio, int(i) % per_row, int(i) / per_row, 1, 1);
    radios.push_back(radio);
  }
  *box = grid;
  return radios;
}

int chosen_index(const std::vector<GtkWidget*>& radios) {
  for (size_t i = 0; i < radios.size(); ++i) {
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radios[i]))) return int(i);
  }
  return -1;
}

void choose(const std::vector<GtkWidget*>& radios, int index) {
  if (radios.empty()) return;
  GtkWidget* target =
      index >= 0 && size_t(index) < radios.size()
          ? radios[size_t(index)]
          : static_cast<GtkWidget*>(g_object_get_data(G_OBJECT(radios[0]), "ztr-none"));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(target), TRUE);
}

GtkWidget* number_entry() {
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_width_chars(GTK_ENTRY(entry), 7);
  return entry;
}

std::string entry_text(GtkWidget* entry) { return gtk_entry_get_text(GTK_ENTRY(entry)); }

bool checked(GtkWidget* check) {
  return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)) != FALSE;
}

void set_checked(GtkWidget* check, bool on) {
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on ? TRUE : FALSE);
}

void show_colour(GtkWidget* button, const std::array<float, 4>& colour) {
  // The button shows the colour opaque; the study's alpha is not the button's to change.
  const GdkRGBA rgba{colour[0], colour[1], colour[2], 1.0};
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(button), &rgba);
}

std::array<float, 4> read_colour(GtkWidget* button) {
  GdkRGBA rgba{};
  gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(button), &rgba);
  return {float(rgba.red), float(rgba.green), float(rgba.blue), float(rgba.alpha)};
}

uint32_t colour_code(const std::array<float, 4>& colour) {
  uint32_t code = 0;
  for (size_t i = 0; i < 3; ++i) {
    code = (code << 8) | uint32_t(std::clamp(colour[i], 0.0f, 1.0f) * 255.0f + 0.5f);
  }
  return code;
}

void set_text(GtkTextView* view, const std::string& text) {
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(view), text.c_str(), -1);
}

std::string text_of(GtkTextView* view) { return text_of(gtk_text_view_get_buffer(view)); }

template <size_t N>
std::array<std::string, N> entry_texts(const std::array<GtkWidget*, N>& entries) {
  std::array<std::string, N> texts;
  for (size_t i = 0; i < N; ++i) texts[i] = entry_text(entries[i]);
  return texts;
}

template <size_t N>
std::array<bool, N> checks_of(const std::array<GtkWidget*, N>& checks) {
  std::array<bool, N> on{};
  for (size_t i = 0; i < N; ++i) on[i] = checked(checks[i]);
  return on;
}

}  // namespace

GtkStudyPage::GtkStudyPage(AppState& state, Dialogs& dialogs, StudyCommandRunner run)
    : state_(state), dialogs_(dialogs), run_(std::move(run)) {
  root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  g_object_ref_sink(root_);
  updating_ = true;
  GtkWidget* list = scrolled(build_list());
  gtk_widget_set_size_request(list, -1, 100);
  gtk_box_pack_start(GTK_BOX(root_), list, FALSE, FALSE, 0);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  name_entry_ = gtk_entry_new();
  g_signal_connect(name_entry_, "changed", G_CALLBACK(on_name_changed), this);
  gtk_box_pack_start(GTK_BOX(row), name_entry_, TRUE, TRUE, 0);
  visible_ = gtk_check_button_new_with_label(" visible");
  g_signal_connect(visible_, "toggled", G_CALLBACK(on_visible_toggled), this);
  gtk_box_pack_start(GTK_BOX(row), visible_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(root_), row, FALSE, FALSE, 0);

  stack_ = gtk_stack_new();
  const std::array<GtkWidget*, ZTR_STUDY_KINDS> built = {
      build_tracking_panel(), build_profile_panel(), build_statistics_panel()};
  for (int32_t type = 0; type < ZTR_STUDY_KINDS; ++type) {
    panels_[size_t(type)] = built[size_t(type)];
    // After the switch, so that the notebook's current page is the new one.
    g_signal_connect_after(built[size_t(type)], "switch-page", G_CALLBACK(on_tab_switched), this);
    gtk_stack_add_named(GTK_STACK(stack_), built[size_t(type)], kPanelNames[type]);
  }
  gtk_box_pack_start(GTK_BOX(root_), stack_, TRUE, TRUE, 0);

  analyze_ = gtk_button_new_with_label(" Analyze and Display ");
  gtk_widget_set_size_request(analyze_, 200, 36);
  gtk_widget_set_halign(analyze_, GTK_ALIGN_CENTER);
  g_signal_connect(analyze_, "clicked", G_CALLBACK(on_analyze), this);
  gtk_box_pack_start(GTK_BOX(root_), analyze_, FALSE, FALSE, 4);
  updating_ = false;
}

GtkStudyPage::~GtkStudyPage() {
  if (GtkTreeSelection* selection =
          list_ ? gtk_tree_view_get_selection(GTK_TREE_VIEW(list_)) : nullptr) {
    g_signal_handlers_disconnect_by_data(selection, this);
  }
  for (GtkWidget* w : {name_entry_, visible_, analyze_, panels_[0], panels_[1], panels_[2]}) {
    if (w) g_signal_handlers_disconnect_by_data(w, this);
  }
  for (auto* group : {&tracking_.scheme, &tracking_.colour_mode}) {
    for (GtkWidget* w : *group) g_signal_handlers_disconnect_by_data(w, this);
  }
  for (RegionTab& tab : tabs_) tab.view.reset();
  if (root_) {
    gtk_widget_destroy(root_);
    g_object_unref(root_);
  }
}

// ---- building ---------------------------------------------------------------------------------

GtkWidget* GtkStudyPage::build_list() {
  list_ = new_object_list(&store_, GTK_SELECTION_BROWSE);
  g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(list_)), "changed",
                   G_CALLBACK(on_selection_changed), this);
  return list_;
}

GtkWidget* GtkStudyPage::build_summary(int32_t type, bool editable) {
  GtkWidget* view = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), editable);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), editable);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
  summaries_[size_t(type)] = view;
  return scrolled(view);
}

GtkWidget* GtkStudyPage::build_region_tab(StudyRegionView which,
                                          std::span<const PanelChoice> choices, bool with_use,
                                          uint32_t colour) {
  RegionTab& tab = tabs_[size_t(which)];
  tab.which = which;
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* radios_box = nullptr;
  tab.radios = radio_group(choices, &radios_box, int(choices.size()));
  if (with_use) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
    tab.use = gtk_check_button_new_with_label(" Use");
    gtk_box_pack_start(GTK_BOX(row), tab.use, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), radios_box, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
  } else {
    gtk_box_pack_start(GTK_BOX(box), radios_box, FALSE, FALSE, 0);
  }
  tab.view = std::make_unique<SliceViewWidget>(state_.views.study_view(which));
  tab.view->set_region_colour(colour);
  gtk_box_pack_start(GTK_BOX(box), tab.view->root(), FALSE, FALSE, 0);
  // "Listed": the ROIs of the ROI editor; the selected rows are the region's listed IDs.
  tab.roi_list = new_object_list(&tab.roi_store, GTK_SELECTION_MULTIPLE);
  GtkWidget* list = scrolled(tab.roi_list);
  gtk_widget_set_size_request(list, -1, 80);
  gtk_box_pack_start(GTK_BOX(box), framed("Listed", list), FALSE, FALSE, 0);
  tab.root = scrolled(box, GTK_POLICY_NEVER);
  return tab.root;
}

GtkWidget* GtkStudyPage::build_tracking_panel() {
  GtkWidget* notebook = gtk_notebook_new();
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook), TRUE);

  GtkWidget* criteria = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* grid = gtk_grid_new();
  for (size_t i = 0; i < ZTR_STOP_IF_LABELS.size(); ++i) {
    GtkWidget* label = nullptr;
    if (i < size_t(ZTR_STOP_IF_CHECKS)) {
      tracking_.stop_checks[i] = gtk_check_button_new_with_label(ZTR_STOP_IF_LABELS[i]);
      label = tracking_.stop_checks[i];
    } else {
      label = gtk_label_new(ZTR_STOP_IF_LABELS[i]);
    }
    tracking_.stop_entries[i] = number_entry();
    gtk_grid_attach(GTK_GRID(grid), label, 0, int(i), 1, 1);
    gtk_grid_attach(GTK_GRID(grid), tracking_.stop_entries[i], 1, int(i), 1, 1);
  }
  gtk_box_pack_start(GTK_BOX(criteria), framed("Stop if", grid), FALSE, FALSE, 0);
  GtkWidget* radios = nullptr;
  tracking_.scheme = radio_group(tracking_scheme_choices(), &radios);
  for (GtkWidget* r : tracking_.scheme) {
    g_signal_connect(r, "toggled", G_CALLBACK(on_scheme_toggled), this);
  }
  gtk_box_pack_start(GTK_BOX(criteria), framed("Tracking scheme", radios), FALSE, FALSE, 0);
  tracking_.seed_density = radio_group(seed_density_choices(), &radios);
  gtk_box_pack_start(GTK_BOX(criteria), framed("Seed density", radios), FALSE, FALSE, 0);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), scrolled(criteria, GTK_POLICY_NEVER),
                           gtk_label_new("Tracking"));

  GtkWidget* display = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* colouring = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  tracking_.colour_mode = radio_group(tracking_colour_choices(), &radios);
  for (GtkWidget* r : tracking_.colour_mode) {
    g_signal_connect(r, "toggled", G_CALLBACK(on_tracking_colour_toggled), this);
  }
  gtk_box_pack_start(GTK_BOX(colouring), radios, FALSE, FALSE, 0);
  tracking_.colour = gtk_color_button_new();
  gtk_widget_set_no_show_all(tracking_.colour, TRUE);  // only with "uniform color"
  gtk_widget_set_halign(tracking_.colour, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(colouring), tracking_.colour, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(display), framed("Coloring", colouring), FALSE, FALSE, 0);
  tracking_.primitive = radio_group(tracking_primitive_choices(), &radios, 3);
  gtk_box_pack_start(GTK_BOX(display), framed("Primitive type", radios), FALSE, FALSE, 0);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), scrolled(display, GTK_POLICY_NEVER),
                           gtk_label_new("Display"));

  const struct {
    StudyRegionView which;
    const char* title;
    bool use;
  } regions[] = {{StudyRegionView::Seed, "Seed", false},
                 {StudyRegionView::Target, "Target", true},
                 {StudyRegionView::Avoidance, "Avoidance", true}};
  for (const auto& r : regions) {
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook),
                             build_region_tab(r.which, tracking_region_choices(), r.use,
                                              kRegionColours[size_t(r.which)]),
                             gtk_label_new(r.title));
  }
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), build_summary(ZTR_STUDY_FIBER_TRACKING, true),
                           gtk_label_new("Summary"));
  return notebook;
}

GtkWidget* GtkStudyPage::build_profile_panel() {
  GtkWidget* notebook = gtk_notebook_new();
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook), TRUE);
  GtkWidget* setting = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* radios = nullptr;
  profile_.density = radio_group(profile_density_choices(), &radios, 3);
  gtk_box_pack_start(GTK_BOX(setting), framed("Symbol density", radios), FALSE, FALSE, 0);
  profile_.primitive = radio_group(profile_primitive_choices(), &radios);
  gtk_box_pack_start(GTK_BOX(setting), framed("ADC profile primitive", radios), FALSE, FALSE, 0);
  profile_.colouring = radio_group(profile_colouring_choices(), &radios);
  gtk_box_pack_start(GTK_BOX(setting), framed("Coloring", radios), FALSE, FALSE, 0);
  profile_.emphasis = gtk_check_button_new_with_label("Anisotropy emphasis");
  gtk_box_pack_start(GTK_BOX(setting), profile_.emphasis, FALSE, FALSE, 0);
  GtkWidget* grid = gtk_grid_new();
  for (size_t row = 0; row < ZTR_SHOW_IF_LABELS.size(); ++row) {
    profile_.range_checks[row] = gtk_check_button_new();
    profile_.range_entries[row * 2] = number_entry();
    profile_.range_entries[row * 2 + 1] = number_entry();
    gtk_grid_attach(GTK_GRID(grid), profile_.range_checks[row], 0, int(row), 1, 1);
    gtk_grid_attach(GTK_GRID(grid), profile_.range_entries[row * 2], 1, int(row), 1, 1);
    gtk_grid_attach(GTK_GRID(grid), gtk_label_new(ZTR_SHOW_IF_LABELS[row]), 2, int(row), 1, 1);
    gtk_grid_attach(GTK_GRID(grid), profile_.range_entries[row * 2 + 1], 3, int(row), 1, 1);
  }
  gtk_box_pack_start(GTK_BOX(setting), framed("Show if", grid), FALSE, FALSE, 0);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), scrolled(setting, GTK_POLICY_NEVER),
                           gtk_label_new("Setting"));
  gtk_notebook_append_page(
      GTK_NOTEBOOK(notebook),
      build_region_tab(StudyRegionView::Profile, analysis_region_choices(), false,
                       kRegionColours[size_t(StudyRegionView::Profile)]),
      gtk_label_new("ROI"));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook),
                           build_summary(ZTR_STUDY_DIFFUSION_PROFILE, false),
                           gtk_label_new("Summary"));
  return notebook;
}

GtkWidget* GtkStudyPage::build_statistics_panel() {
  GtkWidget* notebook = gtk_notebook_new();
  gtk_notebook_set_scrollable(GTK_NOTEBOOK(notebook), TRUE);
  GtkWidget* setting = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* radios = nullptr;
  statistics_.colour_mode = radio_group(statistics_colour_choices(), &radios);
  GtkWidget* colouring = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_box_pack_start(GTK_BOX(colouring), radios, FALSE, FALSE, 0);
  statistics_.colour = gtk_color_button_new();
  gtk_widget_set_halign(statistics_.colour, GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(colouring), statistics_.colour, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(setting), framed("Coloring", colouring), FALSE, FALSE, 0);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), scrolled(setting, GTK_POLICY_NEVER),
                           gtk_label_new("Setting"));
  gtk_notebook_append_page(
      GTK_NOTEBOOK(notebook),
      build_region_tab(StudyRegionView::Statistics, analysis_region_choices(), false,
                       kRegionColours[size_t(StudyRegionView::Statistics)]),
      gtk_label_new("ROI"));
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), build_summary(ZTR_STUDY_VOXEL_STATISTICS, false),
                           gtk_label_new("Summary"));
  return notebook;
}

GtkWidget* GtkStudyPage::kind_panel(int32_t type) const {
  return type >= 0 && type < ZTR_STUDY_KINDS ? panels_[size_t(type)] : nullptr;
}

GtkWidget* GtkStudyPage::summary_view(int32_t type) const {
  return type >= 0 && type < ZTR_STUDY_KINDS ? summaries_[size_t(type)] : nullptr;
}

// ---- regions ----------------------------------------------------------------------------------

RegionPanel GtkStudyPage::read_region(StudyRegionView which) const {
  const RegionTab& tab = tabs_[size_t(which)];
  RegionPanel panel;
  panel.choice = chosen_index(tab.radios);
  panel.use = tab.use ? checked(tab.use) : true;
  panel.listed = selected_object_ids(tab.roi_list);
  return panel;
}

void GtkStudyPage::show_region(StudyRegionView which, const RegionPanel& panel) {
  RegionTab& tab = tabs_[size_t(which)];
  choose(tab.radios, panel.choice);
  if (tab.use) set_checked(tab.use, panel.use);
  fill_roi_list(tab, panel.listed);
}

void GtkStudyPage::fill_roi_list(RegionTab& tab, const std::vector<uint16_t>& selected) {
  const bool saved = updating_;
  updating_ = true;
  gtk_list_store_clear(tab.roi_store);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(tab.roi_list));
  int row = 1;
  for (const ROI_OBJECT* roi : roi_items(state_.roi_editor.rois)) {
    GtkTreeIter iter;
    append_object_row(tab.roi_store, roi_list_row(*roi, row++), roi->id, &iter);
    if (std::find(selected.begin(), selected.end(), roi->id) != selected.end()) {
      gtk_tree_selection_select_iter(selection, &iter);
    }
  }
  updating_ = saved;
}

void GtkStudyPage::redraw_listed_rois() {
  for (RegionTab& tab : tabs_) {
    if (tab.roi_list) fill_roi_list(tab, selected_object_ids(tab.roi_list));
  }
}

// ---- StudyPage --------------------------------------------------------------------------------

// The application's page loads the region views before it calls this page and stores them
// before it, too: whether a freehand region was drawn on a spherical map is the view's to tell.
void GtkStudyPage::store_panel(STUDY_OBJECT& study) {
  if (auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) {
    FiberTrackingPanel p;
    p.stop_entries = entry_texts(tracking_.stop_entries);
    p.stop_checks = checks_of(tracking_.stop_checks);
    p.scheme = chosen_index(tracking_.scheme);
    p.seed_density = chosen_index(tracking_.seed_density);
    p.colour_mode = chosen_index(tracking_.colour_mode);
    p.primitive = chosen_index(tracking_.primitive);
    p.colour = read_colour(tracking_.colour);
    p.seed = read_region(StudyRegionView::Seed);
    p.target = read_region(StudyRegionView::Target);
    p.avoidance = read_region(StudyRegionView::Avoidance);
    store_fiber_tracking_panel(p, *ft);
  } else if (auto* dp = std::get_if<DiffusionProfileStudy>(&study.kind)) {
    DiffusionProfilePanel p;
    p.range_entries = entry_texts(profile_.range_entries);
    p.range_checks = checks_of(profile_.range_checks);
    p.density = chosen_index(profile_.density);
    p.primitive = chosen_index(profile_.primitive);
    p.colouring = chosen_index(profile_.colouring);
    p.emphasis = checked(profile_.emphasis);
    p.region = read_region(StudyRegionView::Profile);
    store_diffusion_profile_panel(p, *dp);
  } else if (auto* vs = std::get_if<VoxelStatisticsStudy>(&study.kind)) {
    VoxelStatisticsPanel p;
    p.colour_mode = chosen_index(statistics_.colour_mode);
    p.colour = read_colour(statistics_.colour);
    p.region = read_region(StudyRegionView::Statistics);
    store_voxel_statistics_panel(p, *vs);
  }
}

void GtkStudyPage::load_panel(const STUDY_OBJECT& study) {
  const bool saved = updating_;
  updating_ = true;
  if (const auto* ft = std::get_if<FiberTrackingStudy>(&study.kind)) {
    const FiberTrackingPanel p = fiber_tracking_panel(*ft);
    for (size_t i = 0; i < p.stop_entries.size(); ++i) {
      gtk_entry_set_text(GTK_ENTRY(tracking_.stop_entries[i]), p.stop_entries[i].c_str());
    }
    for (size_t i = 0; i < p.stop_checks.size(); ++i)
      set_checked(tracking_.stop_checks[i], p.stop_checks[i]);
    choose(tracking_.scheme, p.scheme);
    choose(tracking_.seed_density, p.seed_density);
    choose(tracking_.colour_mode, p.colour_mode);
    choose(tracking_.primitive, p.primitive);
    show_colour(tracking_.colour, p.colour);
    show_region(StudyRegionView::Seed, p.seed);
    show_region(StudyRegionView::Target, p.target);
    show_region(StudyRegionView::Avoidance, p.avoidance);
    tracking_colour_mode_chosen();
  } else if (const auto* dp = std::get_if<DiffusionProfileStudy>(&study.kind)) {
    const DiffusionProfilePanel p = diffusion_profile_panel(*dp);
    for (size_t i = 0; i < p.range_entries.size(); ++i) {
      gtk_entry_set_text(GTK_ENTRY(profile_.range_entries[i]), p.range_entries[i].c_str());
    }
    for (size_t i = 0; i < p.range_checks.size(); ++i)
      set_checked(profile_.range_checks[i], p.range_checks[i]);
    choose(profile_.density, p.density);
    choose(profile_.primitive, p.primitive);
    choose(profile_.colouring, p.colouring);
    set_checked(profile_.emphasis, p.emphasis);
    show_region(StudyRegionView::Profile, p.region);
  } else if (const auto* vs = std::get_if<VoxelStatisticsStudy>(&study.kind)) {
    const VoxelStatisticsPanel p = voxel_statistics_panel(*vs);
    choose(statistics_.colour_mode, p.colour_mode);
    show_colour(statistics_.colour, p.colour);
    show_region(StudyRegionView::Statistics, p.region);
    // The region is drawn in the colour its voxels get in the host.
    tabs_[size_t(StudyRegionView::Statistics)].view->set_region_colour(colour_code(p.colour));
  }
  if (GtkWidget* summary = summary_view(study.type))
    set_text(GTK_TEXT_VIEW(summary), study.summary);
  show_entry_and_toggle(study);
  updating_ = saved;
}

void GtkStudyPage::show_panel(int32_t type) {
  GtkWidget* panel = kind_panel(type);
  if (!panel) return;
  shown_type_ = type;
  gtk_widget_show(stack_);
  gtk_stack_set_visible_child(GTK_STACK(stack_), panel);
  if (on_exposed_changed) on_exposed_changed();
}

void GtkStudyPage::hide_panels() {
  shown_type_ = -1;
  gtk_widget_hide(stack_);
  if (on_exposed_changed) on_exposed_changed();
}

SliceViewFrame* GtkStudyPage::exposed_frame() const {
  GtkWidget* panel = kind_panel(shown_type_);
  if (!panel || !gtk_widget_get_visible(stack_)) return nullptr;
  GtkNotebook* notebook = GTK_NOTEBOOK(panel);
  GtkWidget* current = gtk_notebook_get_nth_page(notebook, gtk_notebook_get_current_page(notebook));
  for (const RegionTab& tab : tabs_) {
    if (tab.root && tab.root == current && tab.view) return &tab.view->frame();
  }
  return nullptr;
}

void GtkStudyPage::select_row(int index) {
  const bool saved = updating_;
  updating_ = true;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list_));
  GtkTreeIter iter;
  if (index >= 0 && gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store_), &iter, nullptr, index)) {
    gtk_tree_selection_select_iter(selection, &iter);
  } else {
    gtk_tree_selection_unselect_all(selection);
  }
  updating_ = saved;
}

void GtkStudyPage::redraw_list() {
  const bool saved = updating_;
  updating_ = true;
  gtk_list_store_clear(store_);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list_));
  const STUDY_OBJECT* active = get_active_study_object(state_.studies);
  int row = 0;
  for (const auto& study : state_.studies.studies) {
    GtkTreeIter iter;
    append_object_row(store_, study_row_columns(*study, row++), study->id, &iter);
    if (study.get() == active) gtk_tree_selection_select_iter(selection, &iter);
  }
  if (active) show_entry_and_toggle(*active);
  updating_ = saved;
}

void GtkStudyPage::set_name_entry(const std::string& text) {
  const bool saved = updating_;
  updating_ = true;
  gtk_entry_set_text(GTK_ENTRY(name_entry_), text.c_str());
  updating_ = saved;
}

void GtkStudyPage::set_message_line(const std::string& text) { dialogs_.set_message_line(text); }

void GtkStudyPage::show_summary_page(int32_t type) {
  GtkWidget* notebook = kind_panel(type);
  GtkWidget* summary = summary_view(type);
  if (!notebook || !summary) return;
  // The summary's text view sits inside the page the notebook holds.
  for (int i = 0; i < gtk_notebook_get_n_pages(GTK_NOTEBOOK(notebook)); ++i) {
    GtkWidget* page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), i);
    if (page == summary || gtk_widget_is_ancestor(summary, page)) {
      gtk_notebook_set_current_page(GTK_NOTEBOOK(notebook), i);
      return;
    }
  }
}

std::string GtkStudyPage::summary_box() {
  return text_of(GTK_TEXT_VIEW(summaries_[ZTR_STUDY_FIBER_TRACKING]));
}

void GtkStudyPage::set_summary_box(const std::string& text) {
  set_text(GTK_TEXT_VIEW(summaries_[ZTR_STUDY_FIBER_TRACKING]), text);
}

void GtkStudyPage::show_entry_and_toggle(const STUDY_OBJECT& study) {
  const bool saved = updating_;
  updating_ = true;
  // Only a different name is set again: the user may be typing in the entry.
  if (entry_text(name_entry_) != study.name) gtk_entry_set_text(GTK_ENTRY(name_entry_), study.name);
  set_checked(visible_, study.visibility == 1);
  updating_ = saved;
}

// ---- signals ----------------------------------------------------------------------------------

void GtkStudyPage::row_selected() {
  if (updating_) return;
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(list_));
  if (!gtk_tree_selection_get_selected(selection, &model, &iter)) return;
  GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
  const int index = gtk_tree_path_get_indices(path)[0];
  gtk_tree_path_free(path);
  if (study_index(state_.studies, state_.studies.active_id) == index) return;
  run_([this, index] { study_select_command(state_, index); });
}

void GtkStudyPage::name_changed() {
  if (updating_) return;
  const std::string text = entry_text(name_entry_);
  run_([this, text] { study_rename_command(state_, text); });
}

void GtkStudyPage::visible_toggled() {
  if (updating_) return;
  const bool visible = checked(visible_);
  run_([this, visible] { study_set_visible_command(state_, visible); });
}

void GtkStudyPage::analyze_clicked() {
  run_([this] { study_analyze_command(state_, dialogs_); });
}

void GtkStudyPage::scheme_chosen(GtkWidget* radio) {
  if (updating_) return;
  const auto found = std::find(tracking_.scheme.begin(), tracking_.scheme.end(), radio);
  if (found != tracking_.scheme.end())
    choose_tracking_scheme(int(found - tracking_.scheme.begin()));
}

void GtkStudyPage::tracking_colour_mode_chosen() {
  gtk_widget_set_visible(tracking_.colour,
                         tracking_colour_button_shown(chosen_index(tracking_.colour_mode)));
}
