// The study performer page in-process under a virtual display: each kind's panel shows a
// loaded study and hands changed widgets back to it, "Listed" selections become listed IDs,
// and the list, name entry and toggle drive the study commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/gtk/gtk_frontend.h"
#include "analyzer/app/menu_tables.h"
#include "analyzer/app/roi_session.h"
#include "analyzer/app/study_session.h"
#include "tests/analyzer/app/app_fixtures.h"

namespace {

std::string text(GtkWidget* entry) { return gtk_entry_get_text(GTK_ENTRY(entry)); }
bool active(GtkWidget* toggle) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle)); }
void set_active(GtkWidget* toggle, bool on) {
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle), on);
}

// Label of the chosen radio button of a group, "" when none shows chosen.
std::string chosen(const std::vector<GtkWidget*>& radios) {
  for (GtkWidget* r : radios) {
    if (active(r)) return gtk_button_get_label(GTK_BUTTON(r));
  }
  return "";
}

void choose(const std::vector<GtkWidget*>& radios, const std::string& label) {
  for (GtkWidget* r : radios) {
    if (label == gtk_button_get_label(GTK_BUTTON(r))) set_active(r, true);
  }
}

GtkTreeSelection* selection_of(GtkWidget* list) {
  return gtk_tree_view_get_selection(GTK_TREE_VIEW(list));
}

// Column `column` of every row of a list.
std::vector<std::string> column_texts(GtkWidget* list, int column) {
  std::vector<std::string> out;
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
       ok = gtk_tree_model_iter_next(model, &iter)) {
    gchar* value = nullptr;
    gtk_tree_model_get(model, &iter, column, &value, -1);
    out.push_back(value ? value : "");
    g_free(value);
  }
  return out;
}

// Rows selected in a list, by number from 0.
std::vector<int> selected_rows(GtkWidget* list) {
  std::vector<int> rows;
  GList* paths = gtk_tree_selection_get_selected_rows(selection_of(list), nullptr);
  for (GList* p = paths; p; p = p->next) {
    rows.push_back(gtk_tree_path_get_indices(static_cast<GtkTreePath*>(p->data))[0]);
  }
  g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
  return rows;
}

void select_rows(GtkWidget* list, std::initializer_list<int> rows) {
  gtk_tree_selection_unselect_all(selection_of(list));
  for (int row : rows) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
    gtk_tree_selection_select_path(selection_of(list), path);
    gtk_tree_path_free(path);
  }
}

MenuCommand study_menu_command(const std::string& path) {
  for (const MenuItemEntry& entry : study_menu_items()) {
    if (path == entry.path) return entry.handler;
  }
  return nullptr;
}

class GtkStudyPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
  void SetUp() override {
    load_into_state(state, make_volume(32, 32, 4, 7));
    install_roi_hooks(state.hooks);
    install_study_hooks(state.hooks);
    state.hooks.create_initial_objects(state);
    frontend.build_main_window(state);
    page = frontend.study_page();
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(state.study_page, page);
    ASSERT_EQ(state.studies.studies.size(), 3u);
    ASSERT_EQ(roi_items(state.roi_editor.rois).size(), 3u);
  }
  STUDY_OBJECT& study(int index) { return *state.studies.studies[size_t(index)]; }
  uint16_t roi_id(int row) { return roi_items(state.roi_editor.rois)[size_t(row)]->id; }

  AppState state;
  GtkFrontend frontend;
  GtkStudyPage* page = nullptr;
};

}  // namespace

TEST_F(GtkStudyPageTest, TrackingPanelShowsALoadedStudy) {
  STUDY_OBJECT& s = study(0);
  auto& ft = std::get<FiberTrackingStudy>(s.kind);
  ft.fa_on = 0;
  ft.fa_min = 0.3f;
  ft.adc_max = 0.0025f;
  ft.length = 120;
  ft.scheme = 345;
  ft.seed_density = 723;
  ft.colour_mode = 13;
  ft.primitive = 915;
  ft.colours[0] = {0.0f, 1.0f, 0.0f, 0.0f};
  ft.target.selector = ZTR_REGION_LISTED;
  ft.target.listed_count = 2;
  ft.target.listed_ids[0] = roi_id(2);
  ft.target.listed_ids[1] = roi_id(0);
  ft.avoidance.selector = ZTR_REGION_NONE;
  set_study_summary(s, "Seed Points:   12\n");
  page->show_panel(s.type);
  page->load_panel(s);

  const auto& w = page->tracking();
  EXPECT_EQ(text(w.stop_entries[0]), "0.30");
  EXPECT_EQ(text(w.stop_entries[1]), "2.50");
  EXPECT_EQ(text(w.stop_entries[5]), "120");
  EXPECT_FALSE(active(w.stop_checks[0]));
  EXPECT_TRUE(active(w.stop_checks[2]));  // So-low is on by default
  EXPECT_EQ(chosen(w.scheme), "advanced");
  EXPECT_EQ(chosen(w.seed_density), "high");
  EXPECT_EQ(chosen(w.colour_mode), "uniform color");
  EXPECT_EQ(chosen(w.primitive), "tubular");
  EXPECT_TRUE(gtk_widget_get_visible(w.colour));
  const auto& target = page->region_tab(StudyRegionView::Target);
  EXPECT_EQ(chosen(target.radios), "Listed");
  EXPECT_TRUE(active(target.use));
  EXPECT_EQ(selected_rows(target.roi_list), (std::vector<int>{0, 2}));
  EXPECT_FALSE(active(page->region_tab(StudyRegionView::Avoidance).use));
  EXPECT_EQ(page->summary_box(), "Seed Points:   12\n");

  // Another colour mode hides the colour button.
  choose(w.colour_mode, "RGB fan");
  EXPECT_FALSE(gtk_widget_get_visible(w.colour));

  // Summary string/Record current takes the summary box as edited.
  select_rows(page->study_list(), {0});
  GtkTextBuffer* box =
      gtk_text_view_get_buffer(GTK_TEXT_VIEW(page->summary_view(ZTR_STUDY_FIBER_TRACKING)));
  gtk_text_buffer_set_text(box, "edited", -1);
  frontend.run_command(study_menu_command("/Study/Summary string/Record current"));
  EXPECT_STREQ(s.summary, "edited");
}

TEST_F(GtkStudyPageTest, TrackingPanelStoresChangedWidgets) {
  STUDY_OBJECT& s = study(0);
  page->show_panel(s.type);
  page->load_panel(s);
  const auto& w = page->tracking();
  gtk_entry_set_text(GTK_ENTRY(w.stop_entries[0]), "0.25");
  gtk_entry_set_text(GTK_ENTRY(w.stop_entries[1]), "1.5");
  gtk_entry_set_text(GTK_ENTRY(w.stop_entries[4]), "not a number");
  gtk_entry_set_text(GTK_ENTRY(w.stop_entries[5]), "999");
  set_active(w.stop_checks[4], true);
  choose(w.scheme, "advanced");
  choose(w.primitive, "ribbon");
  choose(w.colour_mode, "distance coding");
  const auto& seed = page->region_tab(StudyRegionView::Seed);
  choose(seed.radios, "Listed");
  select_rows(seed.roi_list, {1, 2});
  const auto& target = page->region_tab(StudyRegionView::Target);
  set_active(target.use, true);
  choose(target.radios, "Freehand");
  const auto& avoidance = page->region_tab(StudyRegionView::Avoidance);
  choose(avoidance.radios, "Sphere");
  set_active(avoidance.use, false);
  // A new ROI joins every "Listed" list; the rows chosen stay chosen.
  frontend.run_command(roi_new_spherical_command);
  EXPECT_EQ(column_texts(seed.roi_list, 1), (std::vector<std::string>{"Sp", "Fh", "Vg", "Sp"}));
  EXPECT_EQ(selected_rows(seed.roi_list), (std::vector<int>{1, 2}));
  page->store_panel(s);

  const auto& ft = std::get<FiberTrackingStudy>(s.kind);
  EXPECT_FLOAT_EQ(ft.fa_min, 0.25f);
  EXPECT_FLOAT_EQ(ft.adc_max, 0.0015f);
  EXPECT_FLOAT_EQ(ft.angle_max, 30.0f);  // unparsable: kept
  EXPECT_EQ(ft.length, 256);
  EXPECT_EQ(ft.angle_on, 1);
  EXPECT_EQ(ft.scheme, 345);
  EXPECT_EQ(ft.primitive, 237);
  EXPECT_EQ(ft.colour_mode, 65757);
  EXPECT_EQ(ft.seed.selector, ZTR_REGION_LISTED);
  ASSERT_EQ(ft.seed.listed_count, 2);
  EXPECT_EQ(ft.seed.listed_ids[0], roi_id(1));
  EXPECT_EQ(ft.seed.listed_ids[1], roi_id(2));
  EXPECT_EQ(ft.target.selector, ZTR_REGION_FREEHAND);
  EXPECT_EQ(ft.avoidance.selector, ZTR_REGION_NONE);  // " Use" off
}

TEST_F(GtkStudyPageTest, ProfilePanelShowsAndStoresItsStudy) {
  STUDY_OBJECT& s = study(1);
  auto& dp = std::get<DiffusionProfileStudy>(s.kind);
  dp.setting.adc_high = 0.002f;
  dp.setting.so_on = dp.setting.so_on_copy = 0;
  dp.setting.density = ZTR_PROFILE_DENSITY_ON_VOXEL;
  dp.setting.primitive = ZTR_PROFILE_PRIMITIVE_STAR;
  dp.setting.emphasis = 1;
  page->show_panel(s.type);
  page->load_panel(s);
  const auto& w = page->profile();
  EXPECT_EQ(text(w.range_entries[3]), "2.00");
  EXPECT_FALSE(active(w.range_checks[2]));
  EXPECT_EQ(chosen(w.density), "on voxel");
  EXPECT_EQ(chosen(w.primitive), "star");
  EXPECT_EQ(chosen(w.colouring), "anisotropy coding");
  EXPECT_TRUE(active(w.emphasis));
  const auto& region = page->region_tab(StudyRegionView::Profile);
  EXPECT_EQ(chosen(region.radios), "Box VOI");

  gtk_entry_set_text(GTK_ENTRY(w.range_entries[0]), "0.4");
  gtk_entry_set_text(GTK_ENTRY(w.range_entries[2]), "0.5");
  set_active(w.range_checks[0], false);
  choose(w.colouring, "directional coding");
  set_active(w.emphasis, false);
  choose(region.radios, "Listed");
  select_rows(region.roi_list, {0});
  page->store_panel(s);
  EXPECT_FLOAT_EQ(dp.setting.fa_low, 0.4f);
  EXPECT_FLOAT_EQ(dp.setting.adc_low, 0.0005f);
  EXPECT_FLOAT_EQ(dp.setting.adc_high, 0.002f);
  EXPECT_EQ(dp.setting.fa_on + dp.setting.fa_on_copy, 0);
  EXPECT_EQ(dp.setting.colouring, ZTR_PROFILE_COLOURING_DIRECTION);
  EXPECT_EQ(dp.setting.emphasis, 0);
  EXPECT_EQ(dp.region.selector, ZTR_REGION_LISTED);
  ASSERT_EQ(dp.region.listed_count, 1);
  EXPECT_EQ(dp.region.listed_ids[0], roi_id(0));

  // After a run the panel turns to its summary, which shows the study's.
  set_study_summary(s, "Drawn symbols: 12");
  page->load_panel(s);
  page->show_summary_page(s.type);
  GtkNotebook* notebook = GTK_NOTEBOOK(page->kind_panel(s.type));
  GtkWidget* shown = gtk_notebook_get_nth_page(notebook, gtk_notebook_get_current_page(notebook));
  GtkWidget* summary = page->summary_view(s.type);
  EXPECT_TRUE(shown == summary || gtk_widget_is_ancestor(summary, shown));
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(summary));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* chars = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  EXPECT_STREQ(chars, "Drawn symbols: 12");
  g_free(chars);
}

TEST_F(GtkStudyPageTest, StatisticsPanelShowsAndStoresItsStudy) {
  STUDY_OBJECT& s = study(2);
  auto& vs = std::get<VoxelStatisticsStudy>(s.kind);
  vs.colour_mode = 253;
  vs.colour = {0.0f, 0.0f, 1.0f, 0.5f};
  vs.region.selector = ZTR_REGION_SPHERE;
  page->show_panel(s.type);
  page->load_panel(s);
  const auto& w = page->statistics();
  EXPECT_EQ(chosen(w.colour_mode), "anisotropy coding");
  GdkRGBA rgba{};
  gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(w.colour), &rgba);
  EXPECT_DOUBLE_EQ(rgba.blue, 1.0);
  EXPECT_EQ(page->region_tab(StudyRegionView::Statistics).view->region_colour(), 0x0000FFu);
  const auto& region = page->region_tab(StudyRegionView::Statistics);
  EXPECT_EQ(chosen(region.radios), "Sphere");

  choose(w.colour_mode, "uniform");
  const GdkRGBA red{1.0, 0.0, 0.0, 1.0};
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(w.colour), &red);
  choose(region.radios, "Box VOI");
  page->store_panel(s);
  EXPECT_EQ(vs.colour_mode, 13);
  EXPECT_EQ(vs.colour, (std::array<float, 4>{1.0f, 0.0f, 0.0f, 0.5f}));
  EXPECT_EQ(vs.region.selector, ZTR_REGION_BOX_VOI);
}

TEST_F(GtkStudyPageTest, ListHasTheFiveColumnsAndSelectingRowsSwitchesThePanel) {
  GtkWidget* list = page->study_list();
  EXPECT_EQ(column_texts(list, 0), (std::vector<std::string>{"  1", "  2", "  3"}));
  EXPECT_EQ(column_texts(list, 1), (std::vector<std::string>{"Ft", "Dp", "Vs"}));
  EXPECT_EQ(column_texts(list, 2), (std::vector<std::string>{"+", "+", "+"}));
  EXPECT_EQ(column_texts(list, 3), (std::vector<std::string>{"----", "----", "----"}));
  EXPECT_EQ(
      column_texts(list, 4),
      (std::vector<std::string>{"Fiber tracking 1", "Diffusion profile 1", "Voxel statistics 1"}));
  EXPECT_TRUE(gtk_widget_get_sensitive(page->analyze_button()));

  select_rows(list, {0});
  ASSERT_EQ(state.studies.active_id, study(0).id);
  EXPECT_EQ(gtk_stack_get_visible_child(GTK_STACK(page->panel_stack())),
            page->kind_panel(ZTR_STUDY_FIBER_TRACKING));
  // What the panel shows goes into the study it leaves.
  gtk_entry_set_text(GTK_ENTRY(page->tracking().stop_entries[0]), "0.42");
  select_rows(list, {1});
  EXPECT_EQ(state.studies.active_id, study(1).id);
  EXPECT_EQ(gtk_stack_get_visible_child(GTK_STACK(page->panel_stack())),
            page->kind_panel(ZTR_STUDY_DIFFUSION_PROFILE));
  EXPECT_FLOAT_EQ(std::get<FiberTrackingStudy>(study(0).kind).fa_min, 0.42f);
  EXPECT_EQ(text(page->name_entry()), "Diffusion profile 1");
  select_rows(list, {2});
  EXPECT_EQ(gtk_stack_get_visible_child(GTK_STACK(page->panel_stack())),
            page->kind_panel(ZTR_STUDY_VOXEL_STATISTICS));
  EXPECT_EQ(selected_rows(list), (std::vector<int>{2}));
  // The region tab's view is the exposed one of the page.
  gtk_notebook_set_current_page(GTK_NOTEBOOK(page->kind_panel(ZTR_STUDY_VOXEL_STATISTICS)), 1);
  EXPECT_EQ(state.views.exposed, &state.views.study_view(StudyRegionView::Statistics));

  gtk_button_clicked(GTK_BUTTON(page->analyze_button()));
  EXPECT_EQ(
      std::string(gtk_label_get_text(GTK_LABEL(frontend.message_label()))).rfind("Analysis ", 0),
      0u);
}

TEST_F(GtkStudyPageTest, NameEntryAndVisibleToggleChangeTheSelectedRow) {
  select_rows(page->study_list(), {1});
  gtk_entry_set_text(GTK_ENTRY(page->name_entry()), "L. Pyramidal Tract");
  EXPECT_STREQ(study(1).name, "L. Pyramidal Tract");
  EXPECT_EQ(column_texts(page->study_list(), 4)[1], "L. Pyramidal Tract");
  set_active(page->visible_toggle(), false);
  EXPECT_EQ(study(1).visibility, 0);
  EXPECT_EQ(column_texts(page->study_list(), 2), (std::vector<std::string>{"+", "-", "+"}));
}

TEST_F(GtkStudyPageTest, DeletingTheLastStudyHidesThePanelsAndBlanksTheEntry) {
  const MenuCommand remove = study_menu_command("/Study/Delete");
  ASSERT_NE(remove, nullptr);
  for (int n = 3; n > 0; --n) {
    select_rows(page->study_list(), {0});
    frontend.run_command(remove);
    EXPECT_EQ(column_texts(page->study_list(), 4).size(), size_t(n - 1));
  }
  EXPECT_FALSE(gtk_widget_get_visible(page->panel_stack()));
  EXPECT_EQ(text(page->name_entry()), " ");
}
