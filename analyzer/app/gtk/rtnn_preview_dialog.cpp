// The preview dialog of the extra maps: one grey panel and one toggle per network output,
// four panels to a row.
#include <gtk/gtk.h>

#include <vector>

#include "analyzer/app/gtk/gtk_frontend.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace {

constexpr int kPanelWidth = 200;
constexpr int kPanelHeight = 220;
constexpr int kToggleHeight = 20;
enum : int { kCompute = 1, kCancel = 2, kSelectAll = 3, kDeselectAll = 4 };

// One dialog at a time: a second request while one is open shows nothing.
bool dialog_open = false;

gboolean draw_panel(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* surface = static_cast<cairo_surface_t*>(data);
  const double scale = double(kPanelWidth) / cairo_image_surface_get_width(surface);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  return FALSE;
}

cairo_surface_t* grey_surface(const std::vector<uint8_t>& pixels, int width, int height) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height && data; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < width; ++x) {
      const uint32_t v = pixels[size_t(y) * width + x];
      row[x] = (v << 16) | (v << 8) | v;
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

}  // namespace

int GtkFrontend::select_rtnn_maps(const RtnnPreview& preview, std::vector<int>& flags) {
  const int panels = static_cast<int>(preview.panels.size());
  if (panels == 0 || dialog_open || preview.width < 1 || preview.height < 1) return 0;
  dialog_open = true;
  const int rows = (panels + 3) / 4;
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      "[Preview] Select Parameter-map(s) to Compute", parent_window(),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), " Compute ",
      kCompute, " Cancel ", kCancel, "Select All", kSelectAll, "Deselect All", kDeselectAll, nullptr);
  gtk_window_set_default_size(GTK_WINDOW(dialog), 816, kPanelHeight * rows + 48);
  GtkWidget* grid = gtk_grid_new();
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
  std::vector<cairo_surface_t*> surfaces;
  std::vector<GtkWidget*> toggles;
  for (int p = 0; p < panels; ++p) {
    surfaces.push_back(grey_surface(preview.panels[p], preview.width, preview.height));
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, kPanelWidth, kPanelHeight - kToggleHeight);
    g_signal_connect(area, "draw", G_CALLBACK(draw_panel), surfaces.back());
    GtkWidget* toggle = gtk_toggle_button_new_with_label(preview.names[p].c_str());
    gtk_widget_set_size_request(toggle, kPanelWidth, kToggleHeight);
    gtk_box_pack_start(GTK_BOX(box), area, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), toggle, FALSE, FALSE, 0);
    gtk_grid_attach(GTK_GRID(grid), box, p % 4, p / 4, 1, 1);
    toggles.push_back(toggle);
  }
  gtk_widget_show_all(dialog);
  int response;
  while ((response = gtk_dialog_run(GTK_DIALOG(dialog))) == kSelectAll || response == kDeselectAll) {
    for (GtkWidget* t : toggles) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(t), response == kSelectAll);
  }
  if (response == kCompute) {
    flags.assign(panels, 0);
    for (int p = 0; p < panels; ++p) flags[p] = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggles[p])) ? 1 : 0;
  }
  gtk_widget_destroy(dialog);
  for (cairo_surface_t* s : surfaces) cairo_surface_destroy(s);
  dialog_open = false;
  return panels;
}
