// The GTK side of a slice view: a 256 x 256 drawing area painted 1:1 from the view model,
// the zoom, channel, window and threshold buttons, the "sync." toggle and the orientation
// menu bars. Every signal is one call into the model.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "analyzer/app/gtk/menu_bar.h"
#include "analyzer/app/slice_view.h"

class SliceViewWidget {
 public:
  // Binds to `frame`, which must outlive the widget; the widget takes over the frame's
  // repaint callback until it is destroyed.
  explicit SliceViewWidget(SliceViewFrame& frame);
  ~SliceViewWidget();
  SliceViewWidget(const SliceViewWidget&) = delete;
  SliceViewWidget& operator=(const SliceViewWidget&) = delete;

  // The whole frame (floating until packed; the widget holds its own reference).
  GtkWidget* root() const { return root_; }
  GtkWidget* drawing_area() const { return area_; }
  GtkWidget* zoom_in_button() const { return zoom_in_; }
  GtkWidget* zoom_out_button() const { return zoom_out_; }
  GtkWidget* previous_button() const { return previous_; }
  GtkWidget* next_button() const { return next_; }
  GtkWidget* greyscale_button() const { return greyscale_; }
  GtkWidget* threshold_button() const { return threshold_; }
  GtkWidget* sync_toggle() const { return sync_; }
  // The orientation menus: one top-level branch per orientation, only the current one shown.
  const BuiltMenuBar& orientation_menus() const { return bars_; }
  SliceViewFrame& frame() const { return frame_; }

  // Region colour of the overlay, 0xRRGGBB.
  void set_region_colour(uint32_t colour);
  uint32_t region_colour() const { return colour_; }

  // Syncs the toggle and the shown orientation bar with the model and queues a repaint.
  void refresh();

  // Signal bodies.
  void paint(cairo_t* cr);
  void on_toggle();
  void on_orientation(const MenuItemEntry& entry);

 private:
  SliceViewFrame& frame_;
  GtkWidget* root_ = nullptr;
  GtkWidget* area_ = nullptr;
  GtkWidget* zoom_in_ = nullptr;
  GtkWidget* zoom_out_ = nullptr;
  GtkWidget* previous_ = nullptr;
  GtkWidget* next_ = nullptr;
  GtkWidget* greyscale_ = nullptr;
  GtkWidget* threshold_ = nullptr;
  GtkWidget* sync_ = nullptr;
  GtkAccelGroup* accels_ = nullptr;
  BuiltMenuBar bars_;
  uint32_t colour_ = 0xFF4040;
  bool syncing_ = false;
};
