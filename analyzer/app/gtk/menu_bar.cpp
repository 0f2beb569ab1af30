// Turns a static menu item table into a GTK menu bar with its accelerators.
#include "analyzer/app/gtk/menu_bar.h"

#include <cstring>

namespace {

struct Builder {
  BuiltMenuBar built;
  std::map<std::string, GtkWidget*> submenus;  // branch path -> its GtkMenu
  std::map<std::string, GSList*> radio_groups;  // first member path -> group
  GtkAccelGroup* accel_group;
  MenuActivateFn activate;
  gpointer user_data;
};

GtkWidget* new_labelled_item(std::string_view label) {
  const std::string text(label);
  if (text.find('_') != std::string::npos) return gtk_menu_item_new_with_mnemonic(text.c_str());
  return gtk_menu_item_new_with_label(text.c_str());
}

// The menu shell that holds entries under `parent` ("" = the bar), creating implicit
// branches on the way.
GtkWidget* shell_for(Builder& b, std::string_view parent);

GtkWidget* make_branch(Builder& b, std::string_view path, bool last) {
  const std::string key(path);
  auto found = b.submenus.find(key);
  if (found != b.submenus.end()) return found->second;
  GtkWidget* shell = shell_for(b, menu_parent_path(path));
  GtkWidget* item = new_labelled_item(menu_label(path));
  GtkWidget* submenu = gtk_menu_new();
  gtk_menu_set_accel_group(GTK_MENU(submenu), b.accel_group);
  gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
  if (last) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_menu_item_set_right_justified(GTK_MENU_ITEM(item), TRUE);
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
  gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
  b.submenus[key] = submenu;
  b.built.items[key] = item;
  return submenu;
}

GtkWidget* shell_for(Builder& b, std::string_view parent) {
  if (parent.empty()) return b.built.bar;
  return make_branch(b, parent, false);
}

void on_item_activate(GtkMenuItem* item, gpointer) {
  const auto* entry =
      static_cast<const MenuItemEntry*>(g_object_get_data(G_OBJECT(item), "ztr-menu-entry"));
  auto activate = reinterpret_cast<MenuActivateFn>(
      g_object_get_data(G_OBJECT(item), "ztr-menu-activate"));
  gpointer user_data = g_object_get_data(G_OBJECT(item), "ztr-menu-user-data");
  if (!entry || !activate) return;
  if (GTK_IS_CHECK_MENU_ITEM(item) &&
      !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item))) {
    return;
  }
  activate(*entry, user_data);
}

void add_command_item(Builder& b, const MenuItemEntry& entry) {
  const std::string_view path(entry.path);
  GtkWidget* shell = shell_for(b, menu_parent_path(path));
  GtkWidget* item = nullptr;
  const std::string label(menu_label(path));
  if (is_radio_item(entry)) {
    const std::string first =
        std::strcmp(entry.kind, "<RadioItem>") == 0 ? std::string(path) : std::string(entry.kind);
    GSList* group = b.radio_groups.count(first) ? b.radio_groups[first] : nullptr;
    item = gtk_radio_menu_item_new_with_label(group, label.c_str());
    b.radio_groups[first] = gtk_radio_menu_item_get_group(GTK_RADIO_MENU_ITEM(item));
  } else {
    item = new_labelled_item(label);
  }
  if (entry.accelerator && entry.accelerator[0]) {
    guint key = 0;
    GdkModifierType mods = GdkModifierType(0);
    gtk_accelerator_parse(entry.accelerator, &key, &mods);
    if (key != 0) {
      gtk_widget_add_accelerator(item, "activate", b.accel_group, key, mods, GTK_ACCEL_VISIBLE);
    }
  }
  g_object_set_data(G_OBJECT(item), "ztr-menu-entry", const_cast<MenuItemEntry*>(&entry));
  g_object_set_data(G_OBJECT(item), "ztr-menu-activate", reinterpret_cast<gpointer>(b.activate));
  g_object_set_data(G_OBJECT(item), "ztr-menu-user-data", b.user_data);
  g_signal_connect(item, "activate", G_CALLBACK(on_item_activate), nullptr);
  gtk_widget_set_sensitive(item, entry.handler != nullptr);
  gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
  b.built.items[std::string(path)] = item;
}

}  // namespace

BuiltMenuBar build_menu_bar(std::span<const MenuItemEntry> table, GtkAccelGroup* accel_group,
                            MenuActivateFn activate, gpointer user_data) {
  Builder b;
  b.accel_group = accel_group;
  b.activate = activate;
  b.user_data = user_data;
  b.built.bar = gtk_menu_bar_new();
  for (const MenuItemEntry& entry : table) {
    const std::string_view path(entry.path);
    if (is_branch(entry)) {
      make_branch(b, path, std::strcmp(entry.kind, "<LastBranch>") == 0);
    } else if (is_separator(entry)) {
      GtkWidget* shell = shell_for(b, menu_parent_path(path));
      GtkWidget* separator = gtk_separator_menu_item_new();
      gtk_menu_shell_append(GTK_MENU_SHELL(shell), separator);
      b.built.items[std::string(path)] = separator;
    } else {
      add_command_item(b, entry);
    }
  }
  // A branch that leads to no command of this build is insensitive as a whole.
  for (const auto& [branch, submenu] : b.submenus) {
    const std::string prefix = branch + "/";
    bool runs_something = false;
    for (const MenuItemEntry& entry : table) {
      if (entry.handler && std::string_view(entry.path).substr(0, prefix.size()) == prefix) {
        runs_something = true;
        break;
      }
    }
    gtk_widget_set_sensitive(b.built.items[branch], runs_something);
  }
  return b.built;
}
