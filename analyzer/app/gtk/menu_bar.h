// Turns a static menu item table into a GTK menu bar with its accelerators.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <span>
#include <string>

#include "analyzer/app/menu_tables.h"

// Called when a command item is chosen (radio items only when they become active).
using MenuActivateFn = void (*)(const MenuItemEntry& entry, gpointer user_data);

struct BuiltMenuBar {
  GtkWidget* bar = nullptr;                   // floating until packed
  std::map<std::string, GtkWidget*> items;    // every entry and implicit branch, by path
};

// Builds a menu bar from `table`. Branches missing from the table are created from the
// paths; accelerators go into `accel_group`; command items without a handler, and branches
// with no such item below them, are insensitive.
BuiltMenuBar build_menu_bar(std::span<const MenuItemEntry> table, GtkAccelGroup* accel_group,
                            MenuActivateFn activate, gpointer user_data);
