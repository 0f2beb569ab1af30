// The IPC study host against the real host stand-in: a study's own host object is created,
// updated and removed, and a successful timed run reaches the host as request 464 with the
// cursor; a failed one sends nothing.
#include "analyzer/studies/study_host_ipc.h"

#include <gtest/gtest.h>

#include "analyzer/app/startup.h"
#include "tests/support/temp_dir.h"
#include "tests/analyzer/app/app_fixtures.h"
#include "tests/analyzer/app/host_process.h"
#include "tests/analyzer/studies/study_test_support.h"

namespace {

class StudyHostIpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    const std::string input = folder.file("host_input.raw");
    output = folder.file("host_output");
    VolumePtr volume = make_volume(8, 8, 4, 1);
    ASSERT_TRUE(write_raw_file(input, volume.get()));
    host = std::make_unique<HostProcess>(ZTR_HOST_PROGRAM, input, output,
                                         folder.file("host.log"));
    ASSERT_TRUE(host->ready()) << read_whole_file(folder.file("host.log.err"));
    state.client_number = host->client();
    startup_initialize_ipc(state);
    ASSERT_TRUE(startup_create_broadcaster(state));
  }
  void TearDown() override {
    ZTRipc_CloseClient();
    host.reset();
  }
  std::string summary() {
    EXPECT_TRUE(host->quit());
    return read_whole_file(output + "/summary.json");
  }

  ztr::test::TempDir folder;
  std::string output;
  std::unique_ptr<HostProcess> host;
  AppState state;
};

}  // namespace

TEST_F(StudyHostIpcTest, TimedRunsReachTheHostOnlyWhenTheySucceed) {
  IpcStudyHost ipc([] { return int32_t(create_host_object()); });
  StudyList list;
  WorkingCopyPage page;
  StudyEnvironment env;
  env.host = &ipc;
  env.page = &page;
  env.dti_ready = true;
  STUDY_OBJECT* study = new_study_object(list, env, ZTR_STUDY_VOXEL_STATISTICS);
  ASSERT_NE(study, nullptr);
  ASSERT_NE(study->host_object_id, -1);
  StudyKindRuns runs;
  int result = -1;
  runs[ZTR_STUDY_VOXEL_STATISTICS] = [&result](STUDY_OBJECT& s, const StudyRunContext&) {
    s.group.reset(ZTR_NewObjectGroup(3));
    return result;
  };
  const float cursor[3] = {4.0f, 2.5f, 1.0f};
  EXPECT_EQ(run_active_study_timed(list, env, runs, {}, cursor), -1);
  result = 0;
  EXPECT_EQ(run_active_study_timed(list, env, runs, {}, cursor), 0);
  // Analysed now: the next run first sends the study's box.
  EXPECT_EQ(run_active_study_timed(list, env, runs, {}, cursor), 0);
  const std::string json = summary();
  const size_t requests = json.find("\"cursor_requests\": [");
  ASSERT_NE(requests, std::string::npos) << json;
  const std::string line = json.substr(requests, json.find('\n', requests) - requests);
  EXPECT_EQ(line, "\"cursor_requests\": [[4, 2.5, 1], [4, 2.5, 1]],") << json;
  EXPECT_NE(json.find("\"box_requests\": [{\"origin\": [0, 0, 0], \"size\": [1, 1, 1]}]"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("{\"id\": " + std::to_string(study->host_object_id) + ", \"count\": 0"),
            std::string::npos)
      << json;
}
