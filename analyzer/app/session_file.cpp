// Work session file writer and staged reader over the stored ROI, study and DTI codecs.
#include "analyzer/app/session_file.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <set>

#include "analyzer/io/atomic_file.h"
#include "analyzer/objects/roi_file.h"
#include "analyzer/studies/study_file.h"
#include "sdk/volume/byte_codec.h"

namespace {

constexpr size_t kMaxBlockBytes = size_t(INT32_MAX);

void put_i32(std::vector<uint8_t>& out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An ID field: the 16-bit ID and two zero bytes.
void put_id(std::vector<uint8_t>& out, uint16_t id) {
  out.push_back(static_cast<uint8_t>(id & 0xff));
  out.push_back(static_cast<uint8_t>(id >> 8));
  out.push_back(0);
  out.push_back(0);
}

using Reader = ByteReader;

// An object ID is stored in a 32-bit word.
uint16_t read_id(Reader& in) { return static_cast<uint16_t>(in.u32() & 0xffffu); }

struct TableEntry {
  uint16_t id;
  int32_t size;
};

bool read_table(Reader& in, const char* what, std::vector<TableEntry>* table, uint16_t* active,
                std::string* reason) {
  const int32_t count = in.i32();
  *active = read_id(in);
  if (!in.ok()) {
    *reason = std::string("the file ends inside the ") + what + " table";
    return false;
  }
  if (count < 0 || count > ZTR_SESSION_MAX_OBJECTS) {
    *reason = std::string(what) + " count " + std::to_string(count) + " is outside 0 ... 512";
    return false;
  }
  std::set<uint16_t> seen;
  for (int32_t i = 0; i < count; ++i) {
    const uint16_t id = read_id(in);
    const int32_t size = in.i32();
    if (!in.ok()) {
      *reason = std::string("the file ends inside the ") + what + " table";
      return false;
    }
    std::fprintf(stderr, "%d/%d %ld\n", int(id), int(count), long(size));
    if (id == ZTR_SESSION_NO_ID || !seen.insert(id).second) {
      *reason = std::string(what) + " ID " + std::to_string(id) + " is repeated or reserved";
      return false;
    }
    if (size <= 0) {
      *reason = std::string(what) + " record size " + std::to_string(size) + " is not positive";
      return false;
    }
    table->push_back({id, size});
  }
  return true;
}

}  // namespace

std::string stored_memo_text(const std::string& memo) {
  std::string text = memo.substr(0, memo.find('\0'));
  const size_t limit = size_t(ZTR_SESSION_INFO_BYTES) - 1;
  if (text.size() <= limit) return text;
  size_t cut = limit;
  // Back up over continuation bytes to the start of the character that does not fit.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

bool write_work_session(const WorkSessionSource& source, const SessionByteSink& sink,
                        std::string* reason) {
  std::string local;
  if (!reason) reason = &local;
  if (!source.dti || !source.dti->volume) {
    *reason = "there is no DWI data to save";
    return false;
  }
  if (source.rois.size() > size_t(ZTR_SESSION_MAX_OBJECTS) ||
      source.studies.size() > size_t(ZTR_SESSION_MAX_OBJECTS)) {
    *reason = "a session file holds at most 512 ROIs and 512 studies";
    return false;
  }
  const size_t dti_size = ZTRdti_GetSerializedDataSize(source.dti);
  if (dti_size == 0 || dti_size > kMaxBlockBytes) {
    *reason = "the DTI data (" + std::to_string(dti_size) +
              " bytes) does not fit in a session file (below 2 GiB)";
    return false;
  }
  // Sizes first: a refusal must come before the first byte is written.
  std::vector<size_t> roi_sizes, study_sizes;
  std::set<uint16_t> roi_ids, study_ids;
  for (const ROI_OBJECT* roi : source.rois) {
    if (!roi_ids.insert(roi->id).second || roi->id == ZTR_SESSION_NO_ID) {
      *reason = "ROI ID " + std::to_string(roi->id) + " is repeated or reserved";
      return false;
    }
    roi_sizes.push_back(stored_roi_bytes(*roi));
  }
  for (const STUDY_OBJECT* study : source.studies) {
    if (!study_ids.insert(study->id).second || study->id == ZTR_SESSION_NO_ID) {
      *reason = "study ID " + std::to_string(study->id) + " is repeated or reserved";
      return false;
    }
    study_sizes.push_back(stored_study_bytes(*study));
  }
  for (const std::vector<size_t>* sizes : {&roi_sizes, &study_sizes}) {
    for (size_t s : *sizes) {
      if (s > kMaxBlockBytes) {
        *reason = "an object is too large for a session file (2 GiB or more)";
        return false;
      }
    }
  }

  std::vector<uint8_t> head;
  head.insert(head.end(), ZTR_SESSION_FILE_MAGIC, ZTR_SESSION_FILE_MAGIC + ZTR_SESSION_FILE_MAGIC_BYTES);
  put_i32(head, ZTR_SESSION_INFO_BYTES);
  std::fprintf(stderr, "info_string_size: %d\n", int(ZTR_SESSION_INFO_BYTES));
  put_i32(head, static_cast<int32_t>(dti_size));
  std::fprintf(stderr, "dti_serialized_size: %d\n", int(dti_size));
  put_i32(head, static_cast<int32_t>(source.studies.size()));
  put_id(head, source.active_study_id);
  for (size_t i = 0; i < source.studies.size(); ++i) {
    std::fprintf(stderr, "STUDY_OBJECT: size = %ld bytes\n", long(study_sizes[i]));
    put_id(head, source.studies[i]->id);
    put_i32(head, static_cast<int32_t>(study_sizes[i]));
  }
  put_i32(head, static_cast<int32_t>(source.rois.size()));
  put_id(head, source.active_roi_id);
  for (size_t i = 0; i < source.rois.size(); ++i) {
    std::fprintf(stderr, "ROI_OBJECT: size = %ld bytes\n", long(roi_sizes[i]));
    put_id(head, source.rois[i]->id);
    put_i32(head, static_cast<int32_t>(roi_sizes[i]));
  }
  const std::string memo = stored_memo_text(source.memo);
  const size_t memo_at = head.size();
  head.resize(memo_at + size_t(ZTR_SESSION_INFO_BYTES), 0);  // the padding is zero
  std::memcpy(head.data() + memo_at, memo.data(), memo.size());
  if (!sink(head.data(), head.size())) {
    *reason = "cannot write the header";
    return false;
  }

  std::vector<uint8_t> block;
  try {
    block.resize(dti_size);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Err: failed to malloc(%d bytes)\n", int(dti_size));
    *reason = "not enough memory for the DTI data";
    return false;
  }
  if (ZTRdti_SerializeDiffusionTensorImageData(source.dti, block.data()) != 0 ||
      !sink(block.data(), block.size())) {
    *reason = "cannot write the DTI data";
    return false;
  }
  block = std::vector<uint8_t>();
  for (size_t i = 0; i < source.rois.size(); ++i) {
    block.clear();
    serialise_stored_roi(*source.rois[i], block);
    if (block.size() != roi_sizes[i] || !sink(block.data(), block.size())) {
      *reason = "cannot write a ROI";
      return false;
    }
  }
  for (size_t i = 0; i < source.studies.size(); ++i) {
    block.clear();
    serialise_stored_study(*source.studies[i], block);
    if (block.size() != study_sizes[i] || !sink(block.data(), block.size())) {
      *reason = "cannot write a study";
      return false;
    }
  }
  return true;
}

bool work_session_bytes(const WorkSessionSource& source, std::vector<uint8_t>* out,
                        std::string* reason) {
  std::vector<uint8_t> bytes;
  const bool ok = write_work_session(
      source,
      [&](const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
        return true;
      },
      reason);
  if (ok) *out = std::move(bytes);
  return ok;
}

bool save_work_session_file(const std::string& path, const WorkSessionSource& source,
                            std::string* reason) {
  std::string local;
  if (!reason) reason = &local;
  AtomicFile file(path);
  if (!file.open(reason)) return false;
  std::string write_error;
  const bool written = write_work_session(
      source, [&](const void* p, size_t n) { return file.write(p, n, &write_error); }, reason);
  if (!written) {
    if (!write_error.empty()) *reason = write_error;
    return false;  // the destructor removes the temporary file
  }
  return file.commit(reason);
}

WorkSessionStatus parse_work_session(const uint8_t* data, size_t size, StagedWorkSession* staged,
                                     std::string* reason) {
  std::string local;
  if (!reason) reason = &local;
  if (size < ZTR_SESSION_FILE_MAGIC_BYTES ||
      std::memcmp(data, ZTR_SESSION_FILE_MAGIC, ZTR_SESSION_FILE_MAGIC_BYTES) != 0) {
    *reason = "This is NOT a kLS-II WORK file.";
    return WorkSessionStatus::NotSessionFile;
  }
  Reader in(data, size);
  in.skip(ZTR_SESSION_FILE_MAGIC_BYTES);
  const int32_t info_size = in.i32();
  const int32_t dti_size = in.i32();
  if (!in.ok()) {
    *reason = "the file ends inside its header";
    return WorkSessionStatus::Refused;
  }
  std::fprintf(stderr, "info_string_size: %d\n", int(info_size));
  std::fprintf(stderr, "dti_serialized_size: %d\n", int(dti_size));
  if (info_size != ZTR_SESSION_INFO_BYTES) {
    *reason = "info string size " + std::to_string(info_size) + " is not 5120";
    return WorkSessionStatus::Refused;
  }
  if (dti_size <= 0) {
    *reason = "DTI size " + std::to_string(dti_size) + " is not positive";
    return WorkSessionStatus::Refused;
  }
  std::vector<TableEntry> studies, rois;
  uint16_t active_study = ZTR_SESSION_NO_ID, active_roi = ZTR_SESSION_NO_ID;
  if (!read_table(in, "study", &studies, &active_study, reason) ||
      !read_table(in, "ROI", &rois, &active_roi, reason)) {
    return WorkSessionStatus::Refused;
  }
  // Every size is at most INT32_MAX and there are at most 1025 blocks: no overflow in 64 bits.
  uint64_t expected = uint64_t(ZTR_SESSION_FILE_MAGIC_BYTES) + 24 + 8 * (studies.size() + rois.size()) +
                      uint64_t(ZTR_SESSION_INFO_BYTES) + uint64_t(dti_size);
  for (const TableEntry& e : studies) expected += uint64_t(e.size);
  for (const TableEntry& e : rois) expected += uint64_t(e.size);
  if (expected != uint64_t(size)) {
    *reason = "the file holds " + std::to_string(size) + " bytes where its header sums to " +
              std::to_string(expected);
    return WorkSessionStatus::Refused;
  }

  StagedWorkSession out;
  const char* memo = reinterpret_cast<const char*>(in.here());
  // The stored text need not end in a NUL; the last byte is taken as one.
  out.memo.assign(memo, strnlen(memo, size_t(ZTR_SESSION_INFO_BYTES) - 1));
  in.skip(size_t(ZTR_SESSION_INFO_BYTES));

  std::fprintf(stderr, "Notice: just creating DTI data with NULL volume\n");
  out.dti.reset(ZTRdti_NewDiffusionTensorImageData(nullptr, 0));
  if (!out.dti) {
    std::fprintf(stderr, "Err: failed to create DTI data\n");
    *reason = "cannot create the DTI data";
    return WorkSessionStatus::Refused;
  }
  size_t consumed = 0;
  if (ZTRdti_GetDiffusionTensorImageDataFromSerializedData(out.dti.get(), in.here(),
                                                           size_t(dti_size), &consumed) != 0 ||
      !out.dti->volume) {
    *reason = "the DTI data is malformed";
    return WorkSessionStatus::Refused;
  }
  out.volume.reset(out.dti->volume);
  if (consumed != size_t(dti_size)) {
    *reason = "the DTI data does not fill its block";
    return WorkSessionStatus::Refused;
  }
  in.skip(size_t(dti_size));

  for (const TableEntry& e : rois) {
    auto roi = std::make_unique<ROI_OBJECT>();
    std::string why;
    if (!parse_stored_roi(in.here(), size_t(e.size), roi.get(), &consumed, &why) ||
        consumed != size_t(e.size)) {
      *reason = "ROI " + std::to_string(e.id) + ": " + (why.empty() ? "size mismatch" : why);
      return WorkSessionStatus::Refused;
    }
    roi->id = e.id;
    out.rois.push_back(std::move(roi));
    in.skip(size_t(e.size));
  }
  for (const TableEntry& e : studies) {
    std::string why;
    std::unique_ptr<STUDY_OBJECT> study =
        parse_stored_study(in.here(), size_t(e.size), &consumed, &why);
    if (!study || consumed != size_t(e.size)) {
      *reason = "study " + std::to_string(e.id) + ": " + (why.empty() ? "size mismatch" : why);
      return WorkSessionStatus::Refused;
    }
    study->id = e.id;
    out.studies.push_back(std::move(study));
    in.skip(size_t(e.size));
  }
  if (!in.ok() || in.left() != 0) {
    *reason = "the file's blocks do not match its header";
    return WorkSessionStatus::Refused;
  }

  bool roi_found = false, study_found = false;
  for (const TableEntry& e : rois) roi_found |= e.id == active_roi;
  for (const TableEntry& e : studies) study_found |= e.id == active_study;
  out.active_roi_id = roi_found ? active_roi : ZTR_SESSION_NO_ID;
  out.active_study_id = study_found ? active_study : ZTR_SESSION_NO_ID;
  *staged = std::move(out);
  return WorkSessionStatus::Ok;
}

WorkSessionStatus read_work_session_file(const std::string& path, StagedWorkSession* staged,
                                         std::string* reason) {
  std::string local;
  if (!reason) reason = &local;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
  struct stat info {};
  if (!stream || fstat(fileno(stream.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    *reason = "cannot open " + path;
    return WorkSessionStatus::CannotOpen;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(size_t(info.st_size));
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Err: failed to malloc(%lld bytes)\n", static_cast<long long>(info.st_size));
    *reason = "not enough memory to read " + path;
    return WorkSessionStatus::Refused;
  }
  if (std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size() ||
      std::fgetc(stream.get()) != EOF) {
    *reason = "cannot read " + path + " whole";
    return WorkSessionStatus::Refused;
  }
  return parse_work_session(bytes.data(), bytes.size(), staged, reason);
}
