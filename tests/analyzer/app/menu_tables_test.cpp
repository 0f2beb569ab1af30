// The static menu tables: paths, accelerators, separators, radio groups and which items
// run a command in this build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "analyzer/app/menu_tables.h"
#include "analyzer/app/work_session_commands.h"
#include "analyzer/app/rtnn_commands.h"

namespace {

const MenuItemEntry* find_entry(std::span<const MenuItemEntry> table, const char* path) {
  for (const MenuItemEntry& e : table) {
    if (std::strcmp(e.path, path) == 0) return &e;
  }
  return nullptr;
}

std::vector<std::string> children(std::span<const MenuItemEntry> table, std::string_view parent) {
  // Direct children in order of first appearance, implicit branches included.
  std::vector<std::string> out;
  const std::string prefix = std::string(parent) + "/";
  for (const MenuItemEntry& e : table) {
    const std::string_view path(e.path);
    if (path.substr(0, prefix.size()) != prefix) continue;
    const std::string_view rest = path.substr(prefix.size());
    const std::string child(rest.substr(0, rest.find('/')));
    if (std::find(out.begin(), out.end(), child) == out.end()) out.push_back(child);
  }
  return out;
}

}  // namespace

TEST(MenuPaths, ParentAndLabelSplitAtTheLastSlash) {
  EXPECT_EQ(menu_parent_path("/File/Import/MPG text file"), "/File/Import");
  EXPECT_EQ(menu_label("/File/Import/MPG text file"), "MPG text file");
  EXPECT_EQ(menu_parent_path("/File"), "");
  EXPECT_EQ(menu_label("/ Axial  /Axial"), "Axial");
  EXPECT_EQ(menu_parent_path("/ Axial  /Axial"), "/ Axial  ");
}

TEST(MenuTables, EveryTableHasUniqueRootedPathsAndActionZero) {
  for (auto table : {main_menu_items(), roi_menu_items(), study_menu_items(),
                     orientation_menu_items()}) {
    std::set<std::string> seen;
    for (const MenuItemEntry& e : table) {
      EXPECT_EQ(e.path[0], '/') << e.path;
      EXPECT_TRUE(seen.insert(e.path).second) << "duplicate " << e.path;
      EXPECT_EQ(e.action, 0) << e.path;
      if (!is_command_item(e)) {
        EXPECT_EQ(e.handler, nullptr) << e.path;
      }
    }
  }
}

TEST(MainMenu, AcceleratorsAreThoseOfTheCommands) {
  const std::map<std::string, std::string> expected = {
      {"/File/Open work data", "<control>O"},
      {"/File/Import/DICOM (directory)", "<control>D"},
      {"/File/Import/DTI file (incl. MPG setting)", "<control>K"},
      {"/File/Import/ZANTREVIUM file/Load", "<control>L"},
      {"/File/Import/MPG text file", "<control>M"},
      {"/File/Save work data", "<control>S"},
      {"/File/Quit", "<control>Q"},
      {"/Setting/ROI 3D object/Hide", "F11"},
      {"/Setting/ROI 3D object/Show, Update", "F12"},
      {"/Special/Realtime analysis ON-OFF", "<control>R"},
      {"/Special/ROI palette frame/Channel/First", "F"},
      {"/Special/ROI palette frame/Channel/Last", "L"},
      {"/Special/ROI palette frame/Channel/Next", "N"},
      {"/Special/ROI palette frame/Channel/Previous", "B"},
      {"/Special/ROI palette frame/Upload current channel", "<control>U"},
      {"/Special/ROI palette frame/Adjust greyscale", "G"},
  };
  int with_accelerator = 0;
  for (const MenuItemEntry& e : main_menu_items()) {
    auto it = expected.find(e.path);
    if (it != expected.end()) {
      EXPECT_STREQ(e.accelerator, it->second.c_str()) << e.path;
    } else {
      EXPECT_STREQ(e.accelerator, "") << e.path;
    }
    if (e.accelerator[0]) ++with_accelerator;
  }
  EXPECT_EQ(with_accelerator, static_cast<int>(expected.size()));
}

TEST(MainMenu, TopLevelOrderEndsWithTheRightAlignedHelp) {
  EXPECT_EQ(children(main_menu_items(), ""),
            (std::vector<std::string>{"File", "Setting", "Special", "_Help"}));
  const MenuItemEntry* help = find_entry(main_menu_items(), "/_Help");
  ASSERT_NE(help, nullptr);
  EXPECT_STREQ(help->kind, "<LastBranch>");
  ASSERT_NE(find_entry(main_menu_items(), "/_Help/About ..."), nullptr);
}

TEST(MainMenu, AutoUpdateIsARadioGroupWithOffFirst) {
  const MenuItemEntry* off = find_entry(main_menu_items(), "/Setting/ROI 3D object/Auto update/Off");
  const MenuItemEntry* on = find_entry(main_menu_items(), "/Setting/ROI 3D object/Auto update/On");
  ASSERT_TRUE(off && on);
  EXPECT_STREQ(off->kind, "<RadioItem>");
  EXPECT_STREQ(on->kind, off->path);
  EXPECT_TRUE(is_radio_item(*on));
  EXPECT_LT(off, on);
}

TEST(MainMenu, CommandsOfThisBuildHaveHandlers) {
  const std::map<std::string, MenuCommand> built = {
      {"/File/Import/ZANTREVIUM file/Load", load_raw_volume_file_command},
      {"/File/Import/ZANTREVIUM file/Add", add_raw_volume_file_command},
      {"/File/Import/ZANTREVIUM file/Average", average_raw_volume_file_command},
      {"/File/Download data from ZANTREVIUM", download_from_host_command},
      {"/File/Quit", quit_command},
      {"/Setting/Computation/Threads", threads_command},
      {"/Setting/MPG/Presets/Jones 30 dir", mpg_preset_jones_30_command},
      {"/Special/Compute standard DTI parameter maps", compute_standard_maps_command},
      {"/File/Import/RTNN file", import_rtnn_file_command},
      {"/File/Export/RTNN file", export_rtnn_file_command},
      {"/Special/Realtime analysis ON-OFF", realtime_analysis_command},
      {"/Special/Extra maps by Run Time Neural Network ...", extra_maps_rtnn_command},
      {"/_Help/About ...", about_command},
      {"/File/Open work data", open_work_data_command},
      {"/File/Save work data", save_work_data_command},
  };
  for (const auto& [path, handler] : built) {
    const MenuItemEntry* e = find_entry(main_menu_items(), path.c_str());
    ASSERT_NE(e, nullptr) << path;
    EXPECT_EQ(e->handler, handler) << path;
  }
  // Every subsystem is in this build: no command item is left without a handler.
  for (const MenuItemEntry& e : main_menu_items()) {
    if (is_command_item(e)) {
      EXPECT_NE(e.handler, nullptr) << e.path;
    }
  }
}

TEST(RoiMenu, SeparatorsStandWhereTheGroupsChange) {
  EXPECT_EQ(children(roi_menu_items(), "/ROI/New"),
            (std::vector<std::string>{"Spherical", "sep1", "Freehand", "sep2", "Voxelgroup"}));
  std::vector<std::string> top = children(roi_menu_items(), "/ROI");
  EXPECT_EQ(top, (std::vector<std::string>{"New", "Duplicate", "Delete", "sep1", "Visibility",
                                           "sep2", "Status", "sep3", "Special"}));
  int separators = 0;
  for (const MenuItemEntry& e : roi_menu_items()) {
    if (is_separator(e)) ++separators;
    EXPECT_STREQ(e.accelerator, "") << e.path;
  }
  EXPECT_EQ(separators, 8);
  const auto special = children(roi_menu_items(), "/ROI/Special");
  ASSERT_GE(special.size(), 2u);
  EXPECT_EQ(special[special.size() - 2], "sep1");
  EXPECT_EQ(special.back(), "Convert visible ROIs to volumedata");
}

TEST(StudyMenu, PresetLabelsAndSummaryItemsArePresent) {
  ASSERT_NE(find_entry(study_menu_items(), "/Study/Preset labels/Corpse Callosum"), nullptr);
  ASSERT_NE(find_entry(study_menu_items(), "/Study/Summary string/Restore"), nullptr);
  EXPECT_EQ(children(study_menu_items(), "/Study/New"),
            (std::vector<std::string>{"Fiber tracking", "Diffusion profile", "Voxel statistics"}));
}

TEST(OrientationMenu, FiveBranchesEachWithTheSameItems) {
  const std::vector<std::string> branches = children(orientation_menu_items(), "");
  EXPECT_EQ(branches,
            (std::vector<std::string>{" Axial  ", "Sagittal ", "Oblique  ", "Coronal ", "Spherical"}));
  for (const std::string& branch : branches) {
    EXPECT_EQ(children(orientation_menu_items(), "/" + branch),
              (std::vector<std::string>{"Axial", "Sagittal", "Coronal", "sep1", "Oblique", "sep2",
                                        "Spherical"}))
        << branch;
  }
}
