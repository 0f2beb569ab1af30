// The work session file: memo, DTI data with its volume, every ROI and study with their IDs
// and the active IDs in one binary file. Reading validates the whole image into staging
// records before anything of the running session may change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/dti/dti_data.h"
#include "analyzer/objects/roi_object.h"
#include "analyzer/studies/study_object.h"
#include "sdk/volume/raw_volume.h"

inline constexpr char ZTR_SESSION_FILE_MAGIC[] =
    "#kLS-II work session file (not used in earlier kLS)";
inline constexpr size_t ZTR_SESSION_FILE_MAGIC_BYTES = 51;
inline constexpr int32_t ZTR_SESSION_INFO_BYTES = 5120;
inline constexpr int32_t ZTR_SESSION_MAX_OBJECTS = 512;
// Magic, info size, DTI size, study count and active ID, ROI count and active ID, memo.
inline constexpr size_t ZTR_SESSION_FIXED_BYTES = 51 + 4 * 6 + 5120;
inline constexpr uint16_t ZTR_SESSION_NO_ID = 65535;

// What a save writes; the pointers belong to the caller.
struct WorkSessionSource {
  std::string memo;
  const DiffusionTensorImageData* dti = nullptr;
  std::vector<const ROI_OBJECT*> rois;        // list order
  std::vector<const STUDY_OBJECT*> studies;   // list order
  uint16_t active_study_id = ZTR_SESSION_NO_ID;
  uint16_t active_roi_id = ZTR_SESSION_NO_ID;
};

// A fully validated file, not yet part of the session. `dti` refers to `volume`.
struct StagedWorkSession {
  std::string memo;
  VolumePtr volume;
  DtiDataPtr dti;
  std::vector<std::unique_ptr<ROI_OBJECT>> rois;  // IDs from the file
  std::vector<std::unique_ptr<STUDY_OBJECT>> studies;
  uint16_t active_study_id = ZTR_SESSION_NO_ID;  // none when the file's ID names nothing
  uint16_t active_roi_id = ZTR_SESSION_NO_ID;
};

// The memo as it is stored: up to its first NUL, at most 5119 bytes, never ending inside a
// UTF-8 sequence (the text view refuses invalid UTF-8).
std::string stored_memo_text(const std::string& memo);

// Receives the file's bytes in order; false stops the writer.
using SessionByteSink = std::function<bool(const void* bytes, size_t count)>;

// Writes the whole file through `sink`. Refuses (false with a reason, nothing written) more
// than 512 ROIs or studies, duplicate IDs, a missing DTI record or volume, and a DTI block or
// record of 2 GiB or more. Prints the sizes as they are computed. Padding is zero.
bool write_work_session(const WorkSessionSource& source, const SessionByteSink& sink,
                        std::string* reason);
// The same into memory.
bool work_session_bytes(const WorkSessionSource& source, std::vector<uint8_t>* out,
                        std::string* reason);
// Writes the file under a temporary name beside `path`, synced and renamed when complete; on
// any failure the temporary file is removed and an older file at `path` stays as it was.
bool save_work_session_file(const std::string& path, const WorkSessionSource& source,
                            std::string* reason);

enum class WorkSessionStatus { Ok, CannotOpen, NotSessionFile, Refused };

// Parses a whole file image. The length must equal the sum of the sizes in the header; every
// size, count, ID and record is checked. On anything but Ok `staged` is untouched and
// `reason` says why.
WorkSessionStatus parse_work_session(const uint8_t* data, size_t size, StagedWorkSession* staged,
                                     std::string* reason);
// Reads the file whole (bounded by its real size) and parses it.
WorkSessionStatus read_work_session_file(const std::string& path, StagedWorkSession* staged,
                                         std::string* reason);
