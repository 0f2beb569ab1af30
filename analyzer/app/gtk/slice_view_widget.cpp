// The GTK side of a slice view: widgets bound to the view model, painted 1:1.
#include "analyzer/app/gtk/slice_view_widget.h"

#include <cmath>
#include <string>

#include "analyzer/app/menu_tables.h"
#include "analyzer/app/slice_views.h"

namespace {

SliceViewWidget* self_of(gpointer data) { return static_cast<SliceViewWidget*>(data); }

// Drawing-area pixel of an event position (positions left or above the area are negative).
int pixel_of(double position) { return static_cast<int>(std::floor(position)); }

gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer data) {
  self_of(data)->paint(cr);
  return TRUE;
}

gboolean on_press(GtkWidget*, GdkEventButton* event, gpointer data) {
  // Double and triple clicks also arrive as single presses; their extra events add nothing.
  if (event->type != GDK_BUTTON_PRESS || event->button < 1 || event->button > 3) return TRUE;
  const bool ctrl = (event->state & GDK_CONTROL_MASK) != 0;
  if (!ctrl && (event->state & GDK_SHIFT_MASK) != 0) return TRUE;
  view_button_press(self_of(data)->frame(), pixel_of(event->x), pixel_of(event->y),
                    static_cast<int>(event->button), ctrl);
  return TRUE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  view_pointer_motion(self_of(data)->frame(), pixel_of(event->x), pixel_of(event->y));
  return TRUE;
}

gboolean on_release(GtkWidget*, GdkEventButton* event, gpointer data) {
  if (event->button < 1 || event->button > 3) return TRUE;
  view_button_release(self_of(data)->frame(), pixel_of(event->x), pixel_of(event->y),
                      static_cast<int>(event->button));
  return TRUE;
}

void on_zoom_in(GtkButton*, gpointer data) { zoom_in(self_of(data)->frame()); }
void on_zoom_out(GtkButton*, gpointer data) { zoom_out(self_of(data)->frame()); }
void on_previous(GtkButton*, gpointer data) { step_channel(self_of(data)->frame(), -1); }
void on_next(GtkButton*, gpointer data) { step_channel(self_of(data)->frame(), 1); }
void on_greyscale(GtkButton*, gpointer data) { adjust_greyscale_button(self_of(data)->frame()); }
void on_threshold(GtkButton*, gpointer data) { threshold_button(self_of(data)->frame()); }
void on_sync_toggled(GtkToggleButton*, gpointer data) { self_of(data)->on_toggle(); }

void on_orientation_item(const MenuItemEntry& entry, gpointer data) {
  self_of(data)->on_orientation(entry);
}

GtkWidget* labelled_button(const char* label, GCallback callback, gpointer data) {
  GtkWidget* button = gtk_button_new_with_label(label);
  g_signal_connect(button, "clicked", callback, data);
  return button;
}

GtkWidget* icon_button(const char* icon, GCallback callback, gpointer data) {
  GtkWidget* button = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON);
  g_signal_connect(button, "clicked", callback, data);
  return button;
}

}  // namespace

SliceViewWidget::SliceViewWidget(SliceViewFrame& frame) : frame_(frame) {
  root_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 1);
  g_object_ref_sink(root_);

  accels_ = gtk_accel_group_new();
  bars_ = build_menu_bar(orientation_menu_items(), accels_, on_orientation_item, this);
  // The orientation menu and the toggle share the top row, so that the frame stays within
  // the main window's 320 pixels.
  GtkWidget* top = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 4);
  gtk_box_pack_start(GTK_BOX(top), bars_.bar, TRUE, TRUE, 0);
  sync_ = gtk_toggle_button_new_with_label("sync.");
  g_signal_connect(sync_, "toggled", G_CALLBACK(on_sync_toggled), this);
  gtk_box_pack_end(GTK_BOX(top), sync_, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(root_), top, FALSE, FALSE, 0);

  area_ = gtk_drawing_area_new();
  gtk_widget_set_name(area_, "slice-view-area");
  gtk_widget_set_size_request(area_, ZTR_VIEW_SIZE, ZTR_VIEW_SIZE);
  gtk_widget_set_halign(area_, GTK_ALIGN_CENTER);
  gtk_widget_set_valign(area_, GTK_ALIGN_START);
  gtk_widget_add_events(area_, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                   GDK_BUTTON_MOTION_MASK);
  g_signal_connect(area_, "draw", G_CALLBACK(on_draw), this);
  g_signal_connect(area_, "button-press-event", G_CALLBACK(on_press), this);
  g_signal_connect(area_, "motion-notify-event", G_CALLBACK(on_motion), this);
  g_signal_connect(area_, "button-release-event", G_CALLBACK(on_release), this);
  gtk_box_pack_start(GTK_BOX(root_), area_, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 1);
  gtk_widget_set_halign(buttons, GTK_ALIGN_CENTER);
  zoom_in_ = icon_button("zoom-in", G_CALLBACK(on_zoom_in), this);
  zoom_out_ = icon_button("zoom-out", G_CALLBACK(on_zoom_out), this);
  previous_ = labelled_button(" < ", G_CALLBACK(on_previous), this);
  next_ = labelled_button(" > ", G_CALLBACK(on_next), this);
  greyscale_ = labelled_button(" G ", G_CALLBACK(on_greyscale), this);
  threshold_ = labelled_button(" T ", G_CALLBACK(on_threshold), this);
  for (GtkWidget* w : {zoom_in_, zoom_out_, previous_, next_, greyscale_, threshold_}) {
    gtk_box_pack_start(GTK_BOX(buttons), w, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(root_), buttons, FALSE, FALSE, 0);

  gtk_widget_show_all(root_);
  // Only refresh() decides which orientation bar is shown; a window's show_all must not.
  for (const MenuItemEntry& entry : orientation_menu_items()) {
    if (is_branch(entry)) gtk_widget_set_no_show_all(bars_.items.at(entry.path), TRUE);
  }
  frame_.on_repaint = [this](SliceViewFrame&) { refresh(); };
  refresh();
}

SliceViewWidget::~SliceViewWidget() {
  frame_.on_repaint = nullptr;
  if (root_) {
    gtk_widget_destroy(root_);
    g_object_unref(root_);
  }
  if (accels_) g_object_unref(accels_);
}

void SliceViewWidget::set_region_colour(uint32_t colour) {
  colour_ = colour & 0xFFFFFF;
  gtk_widget_queue_draw(area_);
}

void SliceViewWidget::refresh() {
  syncing_ = true;
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(sync_), frame_.follow);
  syncing_ = false;
  const std::string shown = std::string("/") + orientation_bar_title(frame_.view.orientation);
  for (const MenuItemEntry& entry : orientation_menu_items()) {
    if (!is_branch(entry)) continue;
    auto found = bars_.items.find(entry.path);
    if (found != bars_.items.end()) gtk_widget_set_visible(found->second, shown == entry.path);
  }
  gtk_widget_queue_draw(area_);
}

void SliceViewWidget::paint(cairo_t* cr) {
  std::vector<uint32_t> pixels = compose_view_pixels(frame_.view, frame_.held, colour_);
  if (frame_.decorate) frame_.decorate(frame_.view, pixels);
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, ZTR_VIEW_SIZE);
  if (stride != ZTR_VIEW_SIZE * 4) return;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_ARGB32, ZTR_VIEW_SIZE,
      ZTR_VIEW_SIZE, stride);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(surface);
}

void SliceViewWidget::on_toggle() {
  if (syncing_) return;
  set_follow(frame_, gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(sync_)) != FALSE);
}

void SliceViewWidget::on_orientation(const MenuItemEntry& entry) {
  const std::string label(menu_label(entry.path));
  const int code = orientation_code_for_label(label.c_str());
  if (code != 0) set_view_orientation(frame_, code, true);
}
