// The GTK main window and its surfaces: size, notebook pages, message line, memo editing
// flowing back into the data source text, and the main loop's quit. Needs a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analyzer/app/app_state.h"
#include "analyzer/app/gtk/gtk_frontend.h"

namespace {

void collect(GtkWidget* widget, GType type, std::vector<GtkWidget*>* found) {
  if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type)) found->push_back(widget);
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next) collect(GTK_WIDGET(c->data), type, found);
    g_list_free(children);
  }
}

GtkWidget* main_window() {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* w = windows; w; w = w->next) {
    const char* title = gtk_window_get_title(GTK_WINDOW(w->data));
    if (title && std::string(title) == "heLiXIA") found = GTK_WIDGET(w->data);
  }
  g_list_free(windows);
  return found;
}

template <class F>
std::vector<GtkWidget*> widgets_of(GType type, F&& keep) {
  std::vector<GtkWidget*> all, kept;
  collect(main_window(), type, &all);
  for (GtkWidget* w : all) {
    if (keep(w)) kept.push_back(w);
  }
  return kept;
}

// The study page's panels have notebooks and summary texts of their own.
bool outside_study_page(GtkWidget* widget) {
  auto notebooks = widgets_of(GTK_TYPE_NOTEBOOK, [](GtkWidget* n) {
    return gtk_widget_get_ancestor(gtk_widget_get_parent(n), GTK_TYPE_NOTEBOOK) == nullptr;
  });
  if (notebooks.size() != 1) return true;
  GtkWidget* study_page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebooks[0]), 0);
  return widget != study_page && !gtk_widget_is_ancestor(widget, study_page);
}

class GtkFrontendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
  void SetUp() override {
    frontend.build_main_window(state);
    ASSERT_NE(main_window(), nullptr);
  }
  AppState state;
  GtkFrontend frontend;
};

}  // namespace

TEST_F(GtkFrontendTest, MainWindowHasItsSizeAndFourPagesInOrder) {
  gint width = 0, height = 0;
  gtk_window_get_default_size(GTK_WINDOW(main_window()), &width, &height);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 712);
  auto notebooks = widgets_of(GTK_TYPE_NOTEBOOK, outside_study_page);
  ASSERT_EQ(notebooks.size(), 1u);
  GtkNotebook* notebook = GTK_NOTEBOOK(notebooks[0]);
  ASSERT_EQ(gtk_notebook_get_n_pages(notebook), 4);
  std::vector<std::string> tabs;
  for (int i = 0; i < 4; ++i) {
    tabs.push_back(gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, i)));
  }
  EXPECT_EQ(tabs, (std::vector<std::string>{" Study performer ", " ROI editor ", " Utility ",
                                            " Monitor "}));
  EXPECT_EQ(gtk_notebook_get_tab_pos(notebook), GTK_POS_TOP);
  frontend.set_current_page(2);
  EXPECT_EQ(frontend.current_page(), 2);
  EXPECT_EQ(gtk_notebook_get_current_page(notebook), 2);
}

TEST_F(GtkFrontendTest, MessageLineStartsEmptyAndShowsStatusTexts) {
  auto labels = widgets_of(GTK_TYPE_LABEL, [](GtkWidget* w) {
    return std::string(gtk_label_get_text(GTK_LABEL(w))) == "(no message)";
  });
  ASSERT_EQ(labels.size(), 1u);
  frontend.set_message_line(" initialized.");
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(labels[0])), " initialized.");
}

TEST_F(GtkFrontendTest, AnalyzeButtonAndMemoFrameAreLabelled) {
  auto buttons = widgets_of(GTK_TYPE_BUTTON, [](GtkWidget* w) {
    const char* label = gtk_button_get_label(GTK_BUTTON(w));
    return label && std::string(label) == " Analyze and Display ";
  });
  ASSERT_EQ(buttons.size(), 1u);
  gint w = 0, h = 0;
  gtk_widget_get_size_request(buttons[0], &w, &h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 36);
  auto frames = widgets_of(GTK_TYPE_FRAME, [](GtkWidget* f) {
    const char* label = gtk_frame_get_label(GTK_FRAME(f));
    return label && std::string(label) == " - Editable Memo - ";
  });
  EXPECT_EQ(frames.size(), 1u);
}

TEST_F(GtkFrontendTest, EditingTheMemoChangesTheDataSourceText) {
  state.set_data_source_text("Data Source: IPC with ZANTREVIUM\n");
  frontend.set_memo_text(state.data_source_text);
  auto views = widgets_of(GTK_TYPE_TEXT_VIEW, [](GtkWidget* v) {
    return gtk_text_view_get_editable(GTK_TEXT_VIEW(v)) && outside_study_page(v);
  });
  ASSERT_EQ(views.size(), 1u);
  GtkTextBuffer* memo = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(memo, &end);
  gtk_text_buffer_insert(memo, &end, "Patient: phantom\n", -1);
  EXPECT_EQ(state.data_source_text, "Data Source: IPC with ZANTREVIUM\nPatient: phantom\n");
}

TEST_F(GtkFrontendTest, MonitorIsReadOnlyAndTakesWholeTexts) {
  auto views = widgets_of(GTK_TYPE_TEXT_VIEW, [](GtkWidget* v) {
    return !gtk_text_view_get_editable(GTK_TEXT_VIEW(v)) && outside_study_page(v);
  });
  ASSERT_EQ(views.size(), 1u);
  frontend.set_monitor_text("first");
  frontend.set_monitor_text("second");
  GtkTextBuffer* monitor = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(monitor, &start, &end);
  gchar* text = gtk_text_buffer_get_text(monitor, &start, &end, FALSE);
  EXPECT_STREQ(text, "second");
  g_free(text);
}

TEST_F(GtkFrontendTest, QuitBeforeTheMainLoopMakesItReturnAtOnce) {
  bool iterated = false;
  const guint idle = g_idle_add(
      [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &iterated);
  frontend.quit_main_loop();
  frontend.run_main_loop(state);
  EXPECT_FALSE(iterated);  // the loop never ran: the quit came first
  g_source_remove(idle);
}

TEST_F(GtkFrontendTest, VisualOfTheVirtualDisplayIsTrueColor) {
  EXPECT_TRUE(frontend.visual_is_true_color());
}

TEST_F(GtkFrontendTest, PlainLettersTypedIntoTheMemoAreTextNotPaletteCommands) {
  std::vector<GtkWidget*> views = widgets_of(GTK_TYPE_TEXT_VIEW, [](GtkWidget* w) {
    return gtk_text_view_get_editable(GTK_TEXT_VIEW(w)) != FALSE && outside_study_page(w);
  });
  ASSERT_EQ(views.size(), 1u);
  frontend.set_current_page(2);
  gtk_widget_grab_focus(views[0]);
  // "N" is the accelerator of Channel/Next: a real key event with its hardware code.
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  ASSERT_TRUE(gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(gdk_display_get_default()),
                                                GDK_KEY_n, &keys, &count));
  GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
  event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(main_window())));
  event->key.keyval = GDK_KEY_n;
  event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
  event->key.group = static_cast<guint8>(keys[0].group);
  event->key.string = g_strdup("n");
  event->key.length = 1;
  event->key.time = GDK_CURRENT_TIME;
  g_free(keys);
  gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(
                                  gdk_display_get_default())));
  gtk_widget_event(main_window(), event);
  gdk_event_free(event);
  GtkTextBuffer* memo = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(memo, &start, &end);
  gchar* text = gtk_text_buffer_get_text(memo, &start, &end, FALSE);
  EXPECT_STREQ(text, "n");
  g_free(text);
}
