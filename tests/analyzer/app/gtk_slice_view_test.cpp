// The slice view widget in-process under a virtual display: the drawing area renders exactly
// the model's picture, pointer events and buttons reach the model, the toggle and the shown
// orientation bar follow it, and the main window reports the exposed view.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/gtk/gtk_frontend.h"
#include "analyzer/app/gtk/slice_view_widget.h"
#include "analyzer/app/roi_session.h"
#include "tests/analyzer/app/app_fixtures.h"

namespace {

constexpr int S = ZTR_VIEW_SIZE;

// The drawing area rendered into a 256 x 256 image, as 0xAARRGGBB pixels.
std::vector<uint32_t> render(GtkWidget* area) {
  // A resize still queued (a label's new text) would leave the area unallocated for the draw.
  if (GtkWidget* top = gtk_widget_get_toplevel(area); GTK_IS_CONTAINER(top)) {
    gtk_container_check_resize(GTK_CONTAINER(top));
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, S, S);
  cairo_t* cr = cairo_create(surface);
  gtk_widget_draw(area, cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  std::vector<uint32_t> pixels(S * S);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int j = 0; j < S; ++j) std::memcpy(&pixels[j * S], data + j * stride, S * 4);
  cairo_surface_destroy(surface);
  return pixels;
}

int differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int n = 0;
  for (size_t k = 0; k < a.size() && k < b.size(); ++k) n += a[k] != b[k];
  return n;
}

void send_button(GtkWidget* area, GdkEventType type, double x, double y, int button,
                 GdkModifierType state = GdkModifierType(0)) {
  GdkEvent* event = gdk_event_new(type);
  event->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(area)));
  event->button.x = x;
  event->button.y = y;
  event->button.button = static_cast<guint>(button);
  event->button.state = state;
  event->button.time = GDK_CURRENT_TIME;
  gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(
                                  gdk_display_get_default())));
  gtk_widget_event(area, event);
  gdk_event_free(event);
}

void send_motion(GtkWidget* area, double x, double y) {
  GdkEvent* event = gdk_event_new(GDK_MOTION_NOTIFY);
  event->motion.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(area)));
  event->motion.x = x;
  event->motion.y = y;
  event->motion.state = GDK_BUTTON1_MASK;
  event->motion.time = GDK_CURRENT_TIME;
  gdk_event_set_device(event, gdk_seat_get_pointer(gdk_display_get_default_seat(
                                  gdk_display_get_default())));
  gtk_widget_event(area, event);
  gdk_event_free(event);
}

void settle() {
  for (int i = 0; i < 200 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

class SliceViewWidgetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
  void SetUp() override {
    // 32 x 32 x 4, a ramp in x and y so that every pixel differs from its neighbours.
    volume = make_volume(32, 32, 4, 2);
    fill_int16(volume.get(), [](int c, int64_t i) {
      return static_cast<int>(i % 32) * 8 + static_cast<int>(i / 32 % 32) + 300 * c;
    });
    frame.view.drawing_mode = ZTR_DRAW_SPHERE;
    reset_frame(frame, volume.get());
    widget = std::make_unique<SliceViewWidget>(frame);
    window = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(window), widget->root());
    gtk_widget_show_all(window);
    widget->refresh();
    settle();
  }
  void TearDown() override {
    widget.reset();
    gtk_widget_destroy(window);
  }
  std::vector<uint32_t> model_pixels() const {
    return compose_view_pixels(frame.view, frame.held, widget->region_colour());
  }
  std::vector<std::string> shown_bars() const {
    std::vector<std::string> shown;
    for (const auto& [path, item] : widget->orientation_menus().items) {
      if (path.find('/', 1) == std::string::npos && gtk_widget_get_visible(item)) {
        shown.push_back(path);
      }
    }
    return shown;
  }

  VolumePtr volume;
  SliceViewFrame frame;
  std::unique_ptr<SliceViewWidget> widget;
  GtkWidget* window = nullptr;
};

}  // namespace

TEST_F(SliceViewWidgetTest, DrawingAreaIs256SquareAndPaintsTheModelPixelForPixel) {
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget->drawing_area(), &allocation);
  EXPECT_EQ(allocation.width, S);
  EXPECT_EQ(allocation.height, S);
  const std::vector<uint32_t> painted = render(widget->drawing_area());
  const std::vector<uint32_t> expected = model_pixels();
  EXPECT_EQ(differing(painted, expected), 0);
  // The picture is not flat: neighbouring columns differ at zoom 1 after the reset.
  EXPECT_NE(painted[128 * S + 100], painted[128 * S + 140]);
}

TEST_F(SliceViewWidgetTest, SphereDragThroughTheAreaGrowsTheCircleOnScreen) {
  int changes = 0;
  frame.on_change = [&](SliceViewFrame&) { ++changes; };
  GtkWidget* area = widget->drawing_area();
  send_button(area, GDK_BUTTON_PRESS, 128.5, 128.5, 1);
  send_motion(area, 128.5, 108.2);  // 20 px up at zoom 1: radius 3 + 20
  EXPECT_EQ(frame.view.sphere_radius, 23.0f);
  send_button(area, GDK_BUTTON_RELEASE, 128.5, 108.2, 1);
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(frame.follow);
  EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget->sync_toggle())));
  const std::vector<uint32_t> painted = render(area);
  EXPECT_EQ(differing(painted, model_pixels()), 0);
  EXPECT_EQ(painted[128 * S + 128 + 23], 0xFF000000u | widget->region_colour());
}

TEST_F(SliceViewWidgetTest, FreehandDragOutsideTheAreaIsClampedAndShownFilled) {
  frame.view.drawing_mode = ZTR_DRAW_FREEHAND;
  GtkWidget* area = widget->drawing_area();
  send_button(area, GDK_BUTTON_PRESS, 100, 100, 1);
  send_motion(area, -140, -140);
  send_motion(area, 400, 100);
  send_motion(area, 400, 400);
  send_button(area, GDK_BUTTON_RELEASE, 400, 400, 1);
  ASSERT_EQ(frame.view.point_count, 4);
  EXPECT_EQ(frame.view.outline[1], (ViewPoint{0, 0}));
  EXPECT_EQ(frame.view.outline[2], (ViewPoint{255, 100}));
  EXPECT_EQ(frame.view.outline[3], (ViewPoint{255, 255}));
  const std::vector<uint32_t> painted = render(area);
  EXPECT_EQ(differing(painted, model_pixels()), 0);
  EXPECT_EQ(frame.view.overlay[100 * S + 254], 255);
  EXPECT_NE(painted[100 * S + 254], 0xFF000000u | frame.view.grey_image[100 * S + 254] * 0x010101u)
      << "the region is tinted";
}

TEST_F(SliceViewWidgetTest, ButtonsReachTheModelAndTheToggleFollowsIt) {
  gtk_button_clicked(GTK_BUTTON(widget->zoom_in_button()));
  gtk_button_clicked(GTK_BUTTON(widget->zoom_in_button()));
  EXPECT_EQ(frame.view.zoom, 2.0f);
  gtk_button_clicked(GTK_BUTTON(widget->zoom_out_button()));
  EXPECT_EQ(frame.view.zoom, 1.5f);
  gtk_button_clicked(GTK_BUTTON(widget->next_button()));
  EXPECT_EQ(frame.view.channel, 1);
  gtk_button_clicked(GTK_BUTTON(widget->next_button()));
  EXPECT_EQ(frame.view.channel, 1);
  gtk_button_clicked(GTK_BUTTON(widget->previous_button()));
  EXPECT_EQ(frame.view.channel, 0);

  EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget->sync_toggle())));
  gtk_button_clicked(GTK_BUTTON(widget->threshold_button()));
  EXPECT_TRUE(in_threshold_mode(frame.view));
  EXPECT_FALSE(frame.follow);
  EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget->sync_toggle())));
  gtk_button_clicked(GTK_BUTTON(widget->greyscale_button()));
  EXPECT_FALSE(in_threshold_mode(frame.view));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget->sync_toggle()), TRUE);
  EXPECT_TRUE(frame.follow);
  settle();
  EXPECT_EQ(differing(render(widget->drawing_area()), model_pixels()), 0);
}

TEST_F(SliceViewWidgetTest, OnlyTheCurrentOrientationBarIsShownAndItsItemsTurnTheView) {
  EXPECT_EQ(shown_bars(), (std::vector<std::string>{"/ Axial  "}));
  frame.follow = false;
  gtk_menu_item_activate(GTK_MENU_ITEM(widget->orientation_menus().items.at("/ Axial  /Sagittal")));
  EXPECT_EQ(frame.view.orientation, ZTR_VIEW_SAGITTAL);
  EXPECT_TRUE(frame.follow);
  EXPECT_EQ(shown_bars(), (std::vector<std::string>{"/Sagittal "}));
  gtk_menu_item_activate(
      GTK_MENU_ITEM(widget->orientation_menus().items.at("/Sagittal /Spherical")));
  EXPECT_EQ(shown_bars(), (std::vector<std::string>{"/Spherical"}));
  EXPECT_TRUE(gtk_widget_get_sensitive(widget->orientation_menus().items.at("/Spherical/Oblique")));
  settle();
  const std::vector<uint32_t> painted = render(widget->drawing_area());
  EXPECT_EQ(differing(painted, model_pixels()), 0);
  EXPECT_EQ(painted[0], 0xFF000000u) << "outside the map's disc";
}

TEST(GtkRoiEditorPage, TheVisiblePanelOfTheRoiPageIsTheExposedView) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  AppState state;
  state.volume = make_volume(16, 16, 4, 1);
  reset_views(state);
  GtkFrontend frontend;
  frontend.build_main_window(state);
  EXPECT_EQ(state.views.exposed, nullptr) << "the study page shows no view yet";
  frontend.set_current_page(1);
  EXPECT_EQ(state.views.exposed, &state.views.roi_view(RoiPanel::Spherical));
  ASSERT_NE(frontend.roi_panel_stack(), nullptr);
  gtk_stack_set_visible_child_name(GTK_STACK(frontend.roi_panel_stack()), "freehand");
  EXPECT_EQ(state.views.exposed, &state.views.roi_view(RoiPanel::Freehand));
  SliceViewWidget* freehand = frontend.roi_view_widget(RoiPanel::Freehand);
  ASSERT_NE(freehand, nullptr);
  EXPECT_EQ(&freehand->frame(), &state.views.roi_view(RoiPanel::Freehand));
  frontend.set_current_page(2);
  EXPECT_EQ(state.views.exposed, nullptr);
  // The window keeps its width of 320 with the ROI page's panels in it.
  GtkWidget* page = gtk_widget_get_parent(frontend.roi_panel_stack());
  gint minimum = 0, natural = 0;
  gtk_widget_get_preferred_width(page, &minimum, &natural);
  EXPECT_LE(minimum, 320);
  frontend.destroy_main_window();
  EXPECT_EQ(state.views.roi_view(RoiPanel::Freehand).on_repaint, nullptr);
}

TEST_F(SliceViewWidgetTest, OneClickAfterThresholdTracesTheWhiteRegion) {
  frame.view.drawing_mode = ZTR_DRAW_FREEHAND;
  // The ramp is 8 x + y: the threshold at the centre's level whitens the right half.
  gtk_button_clicked(GTK_BUTTON(widget->threshold_button()));
  frame.view.window_low = 8.0f * 20 + 16 - 0.5f;  // between x = 19 and x = 20 at y = 16
  frame.view.window_high = frame.view.window_low + 1.0f;
  redraw_frame(frame);
  ASSERT_EQ(frame.view.grey_image[128 * S + 200], 255);
  GtkWidget* area = widget->drawing_area();
  send_button(area, GDK_BUTTON_PRESS, 200, 128, 1);
  send_button(area, GDK_BUTTON_RELEASE, 200, 128, 1);
  EXPECT_GT(frame.view.point_count, 100) << "the outline runs around the white half";
  EXPECT_EQ(frame.view.overlay[128 * S + 200], 255);
  EXPECT_EQ(frame.view.overlay[128 * S + 20], 0);
  EXPECT_EQ(differing(render(area), model_pixels()), 0);
}

namespace {

// The ROI list's rows as "kind visibility status name".
std::vector<std::string> roi_rows(GtkWidget* list) {
  std::vector<std::string> rows;
  GtkTreeModel* model = gtk_tree_view_get_model(GTK_TREE_VIEW(list));
  GtkTreeIter iter;
  for (gboolean ok = gtk_tree_model_get_iter_first(model, &iter); ok;
       ok = gtk_tree_model_iter_next(model, &iter)) {
    gchar *kind = nullptr, *shown = nullptr, *status = nullptr, *name = nullptr;
    gtk_tree_model_get(model, &iter, 1, &kind, 2, &shown, 3, &status, 4, &name, -1);
    rows.push_back(std::string(kind) + " " + shown + " " + status + " " + name);
    g_free(kind);
    g_free(shown);
    g_free(status);
    g_free(name);
  }
  return rows;
}

void select_row(GtkWidget* list, int row) {
  GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), path);
  gtk_tree_path_free(path);
}

}  // namespace

TEST(GtkRoiEditorPage, TheListSelectsRoisAndTheVoxelgroupButtonsEditTheMask) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  AppState state;
  state.volume = make_volume(32, 32, 8, 1);
  install_roi_hooks(state.hooks);
  reset_views(state);
  state.hooks.create_initial_objects(state);
  GtkFrontend frontend;
  frontend.build_main_window(state);
  frontend.set_current_page(1);
  settle();
  GtkWidget* list = frontend.roi_list_view();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(roi_rows(list), (std::vector<std::string>{"Sp + free Spherical 1",
                                                       "Fh + free Freehand 1",
                                                       "Vg + free Voxelgroup 1"}));

  // Choosing the third row makes the voxelgroup ROI active and shows its panel.
  select_row(list, 2);
  settle();
  ASSERT_NE(get_active_roi(state.roi_editor.rois), nullptr);
  EXPECT_EQ(get_active_roi(state.roi_editor.rois)->type, ZTR_ROI_VOXELGROUP);
  EXPECT_EQ(state.views.exposed, &state.views.roi_view(RoiPanel::Voxelgroup));

  // A sphere dragged in the voxelgroup view seeds " Clear ", which fills the ROI's group.
  SliceViewWidget* view = frontend.roi_view_widget(RoiPanel::Voxelgroup);
  ASSERT_NE(view, nullptr);
  GtkWidget* area = view->drawing_area();
  ASSERT_TRUE(gtk_widget_get_realized(area));
  send_button(area, GDK_BUTTON_PRESS, 128.5, 128.5, 1);
  send_motion(area, 128.5, 96.5);
  send_button(area, GDK_BUTTON_RELEASE, 128.5, 96.5, 1);
  gtk_button_clicked(GTK_BUTTON(frontend.voxelgroup_button(VoxelGrowingButton::Clear)));
  const ROI_OBJECT* voxelgroup = get_active_roi(state.roi_editor.rois);
  ASSERT_TRUE(voxelgroup->group.has_value());
  std::vector<uint8_t> mask(32 * 32 * 8, 0);
  const int64_t seeded = expand_voxel_group(*voxelgroup->group, mask, {32, 32, 8});
  EXPECT_GT(seeded, 0);
  EXPECT_NE(std::string(gtk_label_get_text(GTK_LABEL(frontend.message_label())))
                .find(" voxels in the group."),
            std::string::npos);
  // The view shows the group's voxels over the picture.
  const std::vector<uint32_t> shown = render(area);
  EXPECT_GT(differing(shown, compose_view_pixels(view->frame().view, false, view->region_colour())),
            0);
  gtk_button_clicked(GTK_BUTTON(frontend.voxelgroup_button(VoxelGrowingButton::Dilate)));
  mask.assign(mask.size(), 0);
  EXPECT_GT(expand_voxel_group(*voxelgroup->group, mask, {32, 32, 8}), seeded);

  // The ROI menu is live: New/Spherical adds a row and selects it.
  GtkWidget* item = frontend.roi_menu().items.at("/ROI/New/Spherical");
  EXPECT_TRUE(gtk_widget_get_sensitive(item));
  gtk_menu_item_activate(GTK_MENU_ITEM(item));
  settle();
  const std::vector<std::string> rows = roi_rows(list);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3], "Sp + free Spherical 2");
  EXPECT_EQ(state.views.exposed, &state.views.roi_view(RoiPanel::Spherical));
  GtkTreeModel* model = nullptr;
  GtkTreeIter selected;
  ASSERT_TRUE(gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(list)),
                                              &model, &selected));
  gchar* name = nullptr;
  gtk_tree_model_get(model, &selected, 4, &name, -1);
  EXPECT_STREQ(name, "Spherical 2");
  g_free(name);

  // The window keeps its width with the voxelgroup controls in it.
  gint minimum = 0, natural = 0;
  gtk_widget_get_preferred_width(gtk_widget_get_parent(frontend.roi_panel_stack()), &minimum,
                                 &natural);
  EXPECT_LE(minimum, 320);
  frontend.destroy_main_window();
  EXPECT_EQ(state.hooks.refresh_lists, nullptr);
}
