// The static item tables of the analyzer's menus: the main menu bar, the ROI menu, the
// Study menu and the slice views' orientation menus. A front end turns each table into a
// menu bar with its own accelerator group.
#pragma once

#include <span>
#include <string_view>

#include "analyzer/app/commands.h"

struct MenuItemEntry {
  const char* path;         // "/File/Import/MPG text file": the last component is the label
  const char* accelerator;  // GTK notation ("<control>O", "F11", "F"); "" for none
  MenuCommand handler;      // nullptr: the command's subsystem is not in this build
  int action;               // 0 in every table
  // "" plain item, "<Branch>", "<LastBranch>" (right-aligned), "<Separator>",
  // "<RadioItem>" (first of a group), or the path of the group's first member.
  const char* kind;
};

inline constexpr char ZTR_MENU_ROOT[] = "<main>";

std::span<const MenuItemEntry> main_menu_items();
std::span<const MenuItemEntry> roi_menu_items();
std::span<const MenuItemEntry> study_menu_items();
// All five orientation branches (" Axial  ", "Sagittal ", "Oblique  ", "Coronal ",
// "Spherical"); a slice view builds one bar per branch.
std::span<const MenuItemEntry> orientation_menu_items();

// Kind tests.
bool is_branch(const MenuItemEntry& entry);
bool is_separator(const MenuItemEntry& entry);
// "<RadioItem>" or a path naming the group's first member.
bool is_radio_item(const MenuItemEntry& entry);
// Plain and radio items: the entries that run a command.
bool is_command_item(const MenuItemEntry& entry);

// The path without its last component ("" for a top-level entry).
std::string_view menu_parent_path(std::string_view path);
// The last component of the path.
std::string_view menu_label(std::string_view path);
