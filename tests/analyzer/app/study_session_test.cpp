// The studies inside the application without a display: the session hooks, the region views
// of the study panels, the page the commands see, and a work session that holds studies.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "analyzer/app/menu_tables.h"
#include "analyzer/app/roi_session.h"
#include "analyzer/app/session.h"
#include "analyzer/app/study_session.h"
#include "analyzer/app/work_session_commands.h"
#include "analyzer/dti/tensor_phantom.h"
#include "analyzer/studies/study_runs.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/scripted_dialogs.h"
#include "tests/analyzer/studies/study_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

// The front end's page holds the panel's values; the region views are the application's.
struct PanelPage : WorkingCopyPage {
  void store_panel(STUDY_OBJECT& s) override {
    std::vector<SliceView> views;
    for (const StudyRegion* r : study_regions(std::as_const(s))) views.push_back(r->view);
    WorkingCopyPage::store_panel(s);
    const std::vector<StudyRegion*> regions = study_regions(s);
    for (size_t i = 0; i < regions.size() && i < views.size(); ++i) {
      regions[i]->view = views[i];
    }
  }
};

struct StudySessionTest : ::testing::Test {
  AppState state;
  ScriptedDialogs dialogs;
  PanelPage page;
  RecordingHost* host = nullptr;

  void SetUp() override {
    load_into_state(state, make_volume(32, 32, 8, 8));
    state.dti->mpg_ready = 1;
    start_session();
  }
  // The studies' host, the page and the hooks bound to the loaded data; the session starts.
  void start_session() {
    auto recording = std::make_unique<RecordingHost>();
    host = recording.get();
    state.study_host = std::move(recording);
    state.study_page = &page;
    install_roi_hooks(state.hooks);
    install_study_hooks(state.hooks);
    state.hooks.reset_views = reset_views;
    reset_views(state);
    state.hooks.create_initial_objects(state);
    state.hooks.select_first_objects(state);
  }

  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& s : state.studies.studies) out.emplace_back(s->name);
    return out;
  }
  SliceViewFrame& view(StudyRegionView region) { return state.views.study_view(region); }
  // A sphere dragged up from the view's centre by `dy` pixels.
  void draw_sphere(StudyRegionView region, int dy) {
    view_button_press(view(region), 128, 128, 1, false);
    view_pointer_motion(view(region), 128, 128 - dy);
    view_button_release(view(region), 128, 128 - dy, 1);
  }
};

TEST_F(StudySessionTest, StartAndReplacementGiveOneStudyOfEachKindWithItsOwnHostObject) {
  EXPECT_EQ(names(), (std::vector<std::string>{"Fiber tracking 1", "Diffusion profile 1",
                                               "Voxel statistics 1"}));
  EXPECT_EQ(host->created.size(), 3u);
  EXPECT_EQ(state.studies.active_id, state.studies.studies[0]->id);
  EXPECT_EQ(page.shown, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_EQ(roi_items(state.roi_editor.rois).size(), 3u) << "ROIs still come after studies";

  // A data replacement: every study and its host object go, numbering starts over.
  study_new_fiber_tracking_command(state, dialogs);
  clean_up_objects(state);
  EXPECT_EQ(host->removed.size(), 4u);
  state.hooks.create_initial_objects(state);
  state.hooks.select_first_objects(state);
  EXPECT_EQ(names().front(), "Fiber tracking 1");
  EXPECT_EQ(state.studies.studies.front()->id, 0);
}

TEST_F(StudySessionTest, EachStudyKeepsTheRegionDrawnInItsPanelView) {
  draw_sphere(StudyRegionView::Seed, 32);
  const float drawn = view(StudyRegionView::Seed).view.sphere_radius;
  ASSERT_GT(drawn, 1.0f);
  // Another tracking study starts with its own (default) seed; going back shows the drawing.
  study_new_fiber_tracking_command(state, dialogs);
  EXPECT_LT(view(StudyRegionView::Seed).view.sphere_radius, drawn);
  study_select_command(state, 0);
  EXPECT_FLOAT_EQ(view(StudyRegionView::Seed).view.sphere_radius, drawn);
  const auto& seed = std::get<FiberTrackingStudy>(state.studies.studies[0]->kind).seed;
  EXPECT_FLOAT_EQ(seed.view.sphere_radius, drawn);
  // The profile study's region is a view of its own.
  study_select_command(state, 1);
  EXPECT_LT(view(StudyRegionView::Profile).view.sphere_radius, drawn);
}

TEST_F(StudySessionTest, ListPageCommandsActOnTheSelectedStudyUnlessTheListIsBeingRefilled) {
  study_select_command(state, 2);
  study_rename_command(state, "callosal stats");
  study_set_visible_command(state, false);
  EXPECT_STREQ(state.studies.studies[2]->name, "callosal stats");
  EXPECT_EQ(state.studies.studies[2]->visibility, 0);

  study_environment(state).list_redraw_guard = true;
  study_select_command(state, 0);
  study_rename_command(state, "ignored");
  study_environment(state).list_redraw_guard = false;
  EXPECT_EQ(state.studies.active_id, state.studies.studies[2]->id);
  EXPECT_STREQ(state.studies.studies[2]->name, "callosal stats");

  // Delete leaves no study active: the user picks the next one to delete.
  study_delete_command(state, dialogs);
  EXPECT_EQ(state.studies.active_id, ZTR_NO_STUDY);
  study_delete_command(state, dialogs);
  EXPECT_EQ(state.studies.studies.size(), 2u);
  for (int left = 2; left > 0; --left) {
    study_select_command(state, 0);
    study_delete_command(state, dialogs);
  }
  EXPECT_TRUE(state.studies.studies.empty());
  EXPECT_TRUE(page.hidden);
  EXPECT_EQ(page.entry, " ");
}

TEST_F(StudySessionTest, ExportRoiToEditorCopiesTheDrawnRegionOfTheCurrentTab) {
  draw_sphere(StudyRegionView::Target, 16);
  const float drawn = view(StudyRegionView::Target).view.sphere_radius;
  const size_t rois = roi_items(state.roi_editor.rois).size();
  auto notices = [&] { return dialogs.of_kind("notice").size(); };

  state.views.exposed = nullptr;  // no view on the current page
  export_roi_to_editor_command(state, dialogs);
  ASSERT_EQ(notices(), 1u);
  EXPECT_EQ(dialogs.of_kind("notice").back().text, ZTR_NO_PALETTE_NOTICE);

  // The target is switched on (" Use") as a sphere.
  std::get<FiberTrackingStudy>(page.working).target.selector = ZTR_REGION_SPHERE;
  state.views.exposed = &view(StudyRegionView::Target);
  export_roi_to_editor_command(state, dialogs);
  ASSERT_EQ(roi_items(state.roi_editor.rois).size(), rois + 1);
  const ROI_OBJECT& roi = *roi_items(state.roi_editor.rois).back();
  EXPECT_EQ(roi.type, ZTR_ROI_SPHERICAL);
  EXPECT_STREQ(roi.name, "Imported target of Fiber tracking 1");
  EXPECT_FLOAT_EQ(roi.view.sphere_radius, drawn);
  EXPECT_EQ(dialogs.page, 1);

  // A listed region (and a target not in use) has nothing drawn to copy.
  state.page_mode = ZTR_PAGE_MODE_STUDY;
  std::get<FiberTrackingStudy>(page.working).target.selector = ZTR_REGION_LISTED;
  export_roi_to_editor_command(state, dialogs);
  ASSERT_EQ(notices(), 2u);
  EXPECT_EQ(dialogs.of_kind("notice").back().text, "This type of ROI palette is not exportable.");
  EXPECT_EQ(roi_items(state.roi_editor.rois).size(), rois + 1);
}

TEST_F(StudySessionTest, TheStudyMenuAndStudyFileItemsAreLive) {
  for (const MenuItemEntry& entry : study_menu_items()) {
    if (is_command_item(entry)) {
      EXPECT_NE(entry.handler, nullptr) << entry.path;
    }
  }
  for (const MenuItemEntry& entry : main_menu_items()) {
    if (std::string(entry.path).find("Study object") != std::string::npos) {
      EXPECT_NE(entry.handler, nullptr) << entry.path;
    }
  }
}

TEST_F(StudySessionTest, StudyFileExportAndImportGoThroughThePage) {
  ztr::test::TempDir folder{"study_session"};
  const std::string path = folder.file("tract.study");
  study_rename_command(state, "tract");
  draw_sphere(StudyRegionView::Seed, 24);
  const float drawn = view(StudyRegionView::Seed).view.sphere_radius;
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  export_study_object_command(state, dialogs);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  import_study_object_command(state, dialogs);
  ASSERT_EQ(state.studies.studies.size(), 4u);
  const STUDY_OBJECT& imported = *state.studies.studies.back();
  EXPECT_STREQ(imported.name, "tract");
  EXPECT_EQ(state.studies.active_id, imported.id);
  EXPECT_FLOAT_EQ(std::get<FiberTrackingStudy>(imported.kind).seed.view.sphere_radius, drawn);
  EXPECT_FLOAT_EQ(view(StudyRegionView::Seed).view.sphere_radius, drawn);
  EXPECT_EQ(host->created.size(), 4u);

  // A file that is not a study file creates nothing.
  const std::string other = folder.file("other.bin");
  ASSERT_TRUE(write_text_file(other, std::string(200, 'x')));
  dialogs.files.push_back({ZTR_DIALOG_OK, other});
  import_study_object_command(state, dialogs);
  EXPECT_EQ(state.studies.studies.size(), 4u);
  EXPECT_EQ(host->created.size(), 4u);
}

TEST_F(StudySessionTest, AWorkSessionRestoresItsStudiesWithTheActiveOneInThePanel) {
  ztr::test::TempDir folder{"study_session"};
  const std::string path = folder.file("work.session");
  study_select_command(state, 1);
  study_rename_command(state, "profile A");
  study_select_command(state, 0);
  std::get<FiberTrackingStudy>(page.working).fa_min = 0.31f;  // edited in the panel
  draw_sphere(StudyRegionView::Seed, 16);
  const Vec3 seed_centre = view(StudyRegionView::Seed).view.centre;
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  save_work_data_command(state, dialogs);

  dialogs.confirmations.push_back(ZTR_CONFIRMATION_OK);
  dialogs.files.push_back({ZTR_DIALOG_OK, path});
  open_work_data_command(state, dialogs);
  EXPECT_EQ(names(), (std::vector<std::string>{"Fiber tracking 1", "profile A",
                                               "Voxel statistics 1"}));
  EXPECT_EQ(state.studies.active_id, state.studies.studies[0]->id);
  // The panel holds the active study, not the last one restored, so a store keeps it.
  EXPECT_EQ(page.shown, ZTR_STUDY_FIBER_TRACKING);
  EXPECT_EQ(page.entry, "Fiber tracking 1");
  // No view follows the host after a load: the host's cursor does not move the seed.
  for (SliceViewFrame* frame : state.views.all()) EXPECT_FALSE(frame->follow);
  state.broadcast.reset(ZTRipc_NewBroadcaster());
  const float cursor[3] = {3.0f, 4.0f, 5.0f};
  std::copy(cursor, cursor + 3, state.broadcast->cursor);
  follow_host_cursor(state);
  EXPECT_EQ(view(StudyRegionView::Seed).view.centre, seed_centre);

  study_select_command(state, 2);
  EXPECT_FLOAT_EQ(std::get<FiberTrackingStudy>(state.studies.studies[0]->kind).fa_min, 0.31f);
  EXPECT_STREQ(state.studies.studies[0]->name, "Fiber tracking 1");
  EXPECT_EQ(std::get<FiberTrackingStudy>(state.studies.studies[0]->kind).seed.view.centre,
            seed_centre);
}

// The phantom (a curved bundle crossing a straight one) loaded into the application.
struct StudyRunSessionTest : StudySessionTest {
  void SetUp() override {
    Phantom phantom;
    std::string error;
    ASSERT_TRUE(make_phantom(PhantomOptions{}, &phantom, &error)) << error;
    load_into_state(state, std::move(phantom.dwi));
    ASSERT_EQ(apply_phantom_mpg(phantom, state.dti.get()), 0);
    ASSERT_TRUE(state.dti_ready());
    // The host's box VOI as broadcast: a block of the straight bundle.
    state.broadcast.reset(ZTRipc_NewBroadcaster());
    const int32_t origin[3] = {40, 24, 4}, size[3] = {6, 6, 3};
    std::copy(origin, origin + 3, state.broadcast->box_origin);
    std::copy(size, size + 3, state.broadcast->box_size);
    start_session();
  }
  // The seed view's sphere on the curved bundle, as a drag in the seed tab leaves it.
  void seed_on_the_bundle() {
    SliceView& seed = view(StudyRegionView::Seed).view;
    seed.orientation = ZTR_VIEW_AXIAL;
    seed.centre = {18.0f, 27.0f, 12.0f};
    seed.sphere_radius = 1.5f;
  }
};

TEST_F(StudyRunSessionTest, AnalyzeRunsTheTrackingStudyAndReportsToTheHost) {
  seed_on_the_bundle();
  STUDY_OBJECT& study = *state.studies.studies[0];
  study_analyze_command(state, dialogs);
  EXPECT_EQ(study.status, ZTR_STUDY_ANALYSED);
  EXPECT_NE(page.message.find("Analysis completed in"), std::string::npos) << page.message;
  EXPECT_NE(std::string(study.summary).find("Tracked Lines:"), std::string::npos);
  ASSERT_TRUE(study.group);
  EXPECT_GT(study.group->count, 0);
  EXPECT_EQ(host->cursors.size(), 1u) << "request 464 after the run";
  EXPECT_NE(std::find(host->updated.begin(), host->updated.end(), study.host_object_id),
            host->updated.end());

  // Its lines voxelized into a voxelgroup ROI; hidden, there is nothing to voxelize.
  const size_t rois = roi_items(state.roi_editor.rois).size();
  voxelize_tracklines_roi_command(state, dialogs);
  ASSERT_EQ(roi_items(state.roi_editor.rois).size(), rois + 1);
  EXPECT_STREQ(roi_items(state.roi_editor.rois).back()->name, "Voxelized tracklines");
  study_set_visible_command(state, false);
  voxelize_tracklines_roi_command(state, dialogs);
  EXPECT_EQ(roi_items(state.roi_editor.rois).size(), rois + 1);
}

TEST_F(StudyRunSessionTest, AFailedRunChangesNothingAndAnalyzeAllEndsOnTheStudyThatWasActive) {
  // The default seed sphere sits in the volume's centre, off both bundles: no line passes
  // FA, so the tracking run fails; the other two kinds run on the host's box.
  STUDY_OBJECT& tracking = *state.studies.studies[0];
  SliceView& seed = view(StudyRegionView::Seed).view;
  seed.centre = {-40.0f, -40.0f, -40.0f};
  study_analyze_command(state, dialogs);
  EXPECT_EQ(tracking.status, ZTR_STUDY_NOT_ANALYSED);
  EXPECT_EQ(page.message, "Analysis failed.");
  EXPECT_TRUE(host->cursors.empty());

  study_select_command(state, 1);
  study_analyze_all_command(state, dialogs);
  EXPECT_EQ(tracking.status, ZTR_STUDY_NOT_ANALYSED);
  EXPECT_EQ(state.studies.studies[2]->status, ZTR_STUDY_ANALYSED);
  EXPECT_EQ(state.studies.active_id, state.studies.studies[1]->id);
  EXPECT_EQ(page.shown, ZTR_STUDY_DIFFUSION_PROFILE);
  EXPECT_EQ(page.message, "1 analysis failed.");
}

}  // namespace
