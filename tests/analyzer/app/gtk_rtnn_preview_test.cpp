// The extra maps' preview dialog in GTK: its title, size, one toggle per panel, and the
// Select All / Compute / Cancel buttons driven as a user would. Needs a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/gtk/gtk_frontend.h"
#include "analyzer/rtnn/rtnn_maps.h"

namespace {

constexpr char kTitle[] = "[Preview] Select Parameter-map(s) to Compute";

void collect(GtkWidget* widget, GType type, std::vector<GtkWidget*>* found) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) found->push_back(widget);
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next) collect(GTK_WIDGET(c->data), type, found);
    g_list_free(children);
  }
}

GtkWidget* preview_dialog() {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    const char* title = gtk_window_get_title(GTK_WINDOW(w->data));
    if (title && std::string(title) == kTitle && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
      found = GTK_WIDGET(w->data);
    }
  }
  g_list_free(windows);
  return found;
}

GtkWidget* button(GtkWidget* dialog, const std::string& label) {
  std::vector<GtkWidget*> buttons;
  collect(dialog, GTK_TYPE_BUTTON, &buttons);
  for (GtkWidget* b : buttons) {
    const char* text = gtk_button_get_label(GTK_BUTTON(b));
    if (text && label == text && !GTK_IS_TOGGLE_BUTTON(b)) return b;
  }
  return nullptr;
}

// What the "user" does once the dialog is up, one step per tick of the dialog's own main
// loop (a button press ends one run of the loop, as a real click does).
std::vector<std::function<void(GtkWidget*)>> steps;

gboolean act(gpointer) {
  GtkWidget* dialog = preview_dialog();
  if (!dialog) return G_SOURCE_CONTINUE;
  if (steps.empty()) return G_SOURCE_REMOVE;
  auto step = steps.front();
  steps.erase(steps.begin());
  step(dialog);
  return steps.empty() ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

GtkWidget* toggle(GtkWidget* dialog, const std::string& label) {
  std::vector<GtkWidget*> toggles;
  collect(dialog, GTK_TYPE_TOGGLE_BUTTON, &toggles);
  for (GtkWidget* t : toggles) {
    if (label == gtk_button_get_label(GTK_BUTTON(t))) return t;
  }
  return nullptr;
}

RtnnPreview five_panels() {
  RtnnPreview p;
  p.width = 4;
  p.height = 3;
  for (int k = 0; k < 5; ++k) {
    p.panels.push_back(std::vector<uint8_t>(12, static_cast<uint8_t>(50 * k)));
    p.names.push_back(std::string("out") + char('a' + k));
    p.network.push_back(k);
    p.output.push_back(0);
  }
  return p;
}

class GtkRtnnPreviewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
  void SetUp() override { frontend.build_main_window(state); }
  AppState state;
  GtkFrontend frontend;
};

TEST_F(GtkRtnnPreviewTest, SelectAllThenOneOffComputesTheRest) {
  int width = 0, height = 0;
  std::vector<std::string> labels;
  steps = {[&](GtkWidget* dialog) {
             gtk_window_get_default_size(GTK_WINDOW(dialog), &width, &height);
             std::vector<GtkWidget*> toggles;
             collect(dialog, GTK_TYPE_TOGGLE_BUTTON, &toggles);
             for (GtkWidget* t : toggles) labels.push_back(gtk_button_get_label(GTK_BUTTON(t)));
             gtk_button_clicked(GTK_BUTTON(button(dialog, "Select All")));
           },
           [](GtkWidget* dialog) {
             gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(toggle(dialog, "outb")), FALSE);
             gtk_button_clicked(GTK_BUTTON(button(dialog, " Compute ")));
           }};
  g_timeout_add(20, act, nullptr);
  std::vector<int> flags(5, 0);
  EXPECT_EQ(frontend.select_rtnn_maps(five_panels(), flags), 5);
  EXPECT_EQ(flags, (std::vector<int>{1, 0, 1, 1, 1}));
  EXPECT_EQ(width, 816);
  EXPECT_EQ(height, 220 * 2 + 48);  // two rows of four
  std::sort(labels.begin(), labels.end());
  EXPECT_EQ(labels, (std::vector<std::string>{"outa", "outb", "outc", "outd", "oute"}));
  EXPECT_EQ(preview_dialog(), nullptr);
}

TEST_F(GtkRtnnPreviewTest, CancelLeavesTheFlagsAtZero) {
  steps = {[](GtkWidget* dialog) { gtk_button_clicked(GTK_BUTTON(button(dialog, "Select All"))); },
           [](GtkWidget* dialog) { gtk_button_clicked(GTK_BUTTON(button(dialog, " Cancel "))); }};
  g_timeout_add(20, act, nullptr);
  std::vector<int> flags(5, 0);
  EXPECT_EQ(frontend.select_rtnn_maps(five_panels(), flags), 5);
  EXPECT_EQ(flags, std::vector<int>(5, 0));
}

TEST_F(GtkRtnnPreviewTest, NoPanelsNoDialog) {
  std::vector<int> flags;
  EXPECT_EQ(frontend.select_rtnn_maps(RtnnPreview{}, flags), 0);
}

}  // namespace
