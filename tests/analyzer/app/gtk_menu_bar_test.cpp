// The GTK menu bars built from the static tables: items, accelerators, separators, the
// radio group, the right-aligned help menu and insensitive items. Needs a display.
#include <gtest/gtest.h>

#include <cstring>

#include "analyzer/app/gtk/menu_bar.h"

namespace {

class GtkMenuBarTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
  void SetUp() override { accels = gtk_accel_group_new(); }
  void TearDown() override {
    if (built.bar) gtk_widget_destroy(built.bar);
    g_object_unref(accels);
  }
  GtkWidget* item(const char* path) {
    auto it = built.items.find(path);
    return it == built.items.end() ? nullptr : it->second;
  }
  // Labels of the children of the submenu of the item at `path`.
  std::vector<std::string> submenu_labels(const char* path) {
    std::vector<std::string> labels;
    GtkWidget* menu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(item(path)));
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* c = children; c; c = c->next) {
      GtkWidget* w = GTK_WIDGET(c->data);
      labels.push_back(GTK_IS_SEPARATOR_MENU_ITEM(w) ? "---"
                                                     : gtk_menu_item_get_label(GTK_MENU_ITEM(w)));
    }
    g_list_free(children);
    return labels;
  }
  bool accelerator_bound(const char* accelerator, GtkWidget* expected_item) {
    guint key = 0;
    GdkModifierType mods{};
    gtk_accelerator_parse(accelerator, &key, &mods);
    guint n = 0;
    GtkAccelGroupEntry* entries = gtk_accel_group_query(accels, key, mods, &n);
    for (guint i = 0; i < n; ++i) {
      GClosure* closure = entries[i].closure;
      if (closure && closure->data == expected_item) return true;
    }
    return false;
  }

  GtkAccelGroup* accels = nullptr;
  BuiltMenuBar built;
  int activations = 0;
};

void record(const MenuItemEntry&, gpointer counter) { ++*static_cast<int*>(counter); }

}  // namespace

TEST_F(GtkMenuBarTest, MainBarHasTheTopLevelMenusWithHelpRightAligned) {
  built = build_menu_bar(main_menu_items(), accels, record, &activations);
  GList* children = gtk_container_get_children(GTK_CONTAINER(built.bar));
  std::vector<std::string> labels;
  for (GList* c = children; c; c = c->next) {
    labels.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(c->data)));
  }
  g_list_free(children);
  EXPECT_EQ(labels, (std::vector<std::string>{"File", "Setting", "Special", "_Help"}));
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  EXPECT_TRUE(gtk_menu_item_get_right_justified(GTK_MENU_ITEM(item("/_Help"))));
  EXPECT_FALSE(gtk_menu_item_get_right_justified(GTK_MENU_ITEM(item("/File"))));
  G_GNUC_END_IGNORE_DEPRECATIONS
  EXPECT_TRUE(gtk_menu_item_get_use_underline(GTK_MENU_ITEM(item("/_Help"))));
}

TEST_F(GtkMenuBarTest, ImplicitBranchesHoldTheirItemsInTableOrder) {
  built = build_menu_bar(main_menu_items(), accels, record, &activations);
  EXPECT_EQ(submenu_labels("/File/Import/ZANTREVIUM file"),
            (std::vector<std::string>{"Load", "Add", "Average"}));
  EXPECT_EQ(submenu_labels("/Setting/MPG/Presets"),
            (std::vector<std::string>{"Single So", "Jones 30 dir"}));
}

TEST_F(GtkMenuBarTest, AcceleratorsAreBoundToTheirItems) {
  built = build_menu_bar(main_menu_items(), accels, record, &activations);
  EXPECT_TRUE(accelerator_bound("<control>Q", item("/File/Quit")));
  EXPECT_TRUE(accelerator_bound("<control>L", item("/File/Import/ZANTREVIUM file/Load")));
  EXPECT_TRUE(accelerator_bound("F11", item("/Setting/ROI 3D object/Hide")));
  EXPECT_TRUE(accelerator_bound("N", item("/Special/ROI palette frame/Channel/Next")));
  EXPECT_FALSE(accelerator_bound("<control>Q", item("/File/Import/ZANTREVIUM file/Load")));
}

TEST_F(GtkMenuBarTest, ItemsWithoutHandlersAreInsensitiveAndOthersRunTheirCommand) {
  built = build_menu_bar(main_menu_items(), accels, record, &activations);
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/File/Import/Study object")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/File/Open work data")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/File/Save work data")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/Realtime analysis ON-OFF")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/Compute standard DTI parameter maps")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/File/Quit")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/Voxelize visible tracklines as")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/File/Import/ZANTREVIUM file")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Setting/MPG")));
  // The palette commands act on slice views.
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/ROI palette frame")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/ROI palette frame/Channel/Next")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/ROI palette frame/Upload current channel")));
  EXPECT_TRUE(gtk_widget_get_sensitive(
      item("/Special/ROI palette frame/Sphericalmap/Show guideline/XZ")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/Special/ROI palette frame/Export ROI to editor")));
  gtk_menu_item_activate(GTK_MENU_ITEM(item("/_Help/About ...")));
  EXPECT_EQ(activations, 1);
}

TEST_F(GtkMenuBarTest, AutoUpdateItemsShareOneRadioGroup) {
  built = build_menu_bar(main_menu_items(), accels, record, &activations);
  GtkWidget* off = item("/Setting/ROI 3D object/Auto update/Off");
  GtkWidget* on = item("/Setting/ROI 3D object/Auto update/On");
  ASSERT_TRUE(GTK_IS_RADIO_MENU_ITEM(off) && GTK_IS_RADIO_MENU_ITEM(on));
  GSList* group = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(on));
  EXPECT_NE(g_slist_find(group, off), nullptr);
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(off)));
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(on)));
}

TEST_F(GtkMenuBarTest, RoiMenuHasItsSeparators) {
  built = build_menu_bar(roi_menu_items(), accels, record, &activations);
  EXPECT_EQ(submenu_labels("/ROI"),
            (std::vector<std::string>{"New", "Duplicate", "Delete", "---", "Visibility", "---",
                                      "Status", "---", "Special"}));
  EXPECT_EQ(submenu_labels("/ROI/Visibility"),
            (std::vector<std::string>{"Show", "---", "Hide", "---", "Invert"}));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/ROI/New/Spherical")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/ROI/Special/Convert visible ROIs to volumedata")));
  EXPECT_TRUE(gtk_widget_get_sensitive(item("/ROI/Special/Masking voxelgroup")));
  EXPECT_EQ(submenu_labels("/ROI/New"),
            (std::vector<std::string>{"Spherical", "---", "Freehand", "---", "Voxelgroup"}));
}

TEST_F(GtkMenuBarTest, OrientationTableGivesFivePaddedBranches) {
  built = build_menu_bar(orientation_menu_items(), accels, record, &activations);
  EXPECT_EQ(submenu_labels("/Oblique  "),
            (std::vector<std::string>{"Axial", "Sagittal", "Coronal", "---", "Oblique", "---",
                                      "Spherical"}));
  ASSERT_NE(item("/ Axial  "), nullptr);
  EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(item("/ Axial  "))), " Axial  ");
}
