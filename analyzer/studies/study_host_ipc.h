// The study host bound to the IPC client: host objects, the box and the cursor request.
#pragma once

#include <functional>

#include "analyzer/studies/study_commands.h"

class IpcStudyHost : public StudyHost {
 public:
  // `create` makes a new empty host object and returns its ID or -1 (the analyzer's one
  // host-object maker, which also prints the assigned ID).
  explicit IpcStudyHost(std::function<int32_t()> create) : create_(std::move(create)) {}
  int32_t create_object() override;
  void remove_object(int32_t id) override;
  int update_object(const ZTR_OBJECT_GROUP* group, int32_t id) override;
  int set_box(const int32_t origin[3], const int32_t size[3]) override;
  // The three floats lead a whole zeroed parameter block, since the client copies a full
  // block from what it is given.
  int notify_cursor(const float cursor[3]) override;

 private:
  std::function<int32_t()> create_;
};
