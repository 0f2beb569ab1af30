// Reader and writer of the ZANTREVIUM raw volume file (text header, then channel blocks).
#include "analyzer/io/raw_volume_file.h"

#include "analyzer/io/atomic_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Length of an open file in bytes, or -1.
int64_t file_length(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(f);
  if (length < 0) return -1;
  if (std::fseek(f, 0, SEEK_SET) != 0) return -1;
  return length;
}

// Whitespace-separated decimal fields of the header, read from a bounded buffer with the
// same acceptance as the "%d" conversions of a formatted read, but with range checks.
class HeaderTokens {
 public:
  HeaderTokens(const char* text, size_t length) : text_(text), length_(length) {}

  bool next_int(int64_t min, int64_t max, int64_t* value) {
    skip_space();
    size_t end = pos_;
    if (end < length_ && (text_[end] == '-' || text_[end] == '+')) ++end;
    const size_t digits = end;
    while (end < length_ && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
    if (end == digits || end - digits > 18) return false;
    const std::string token(text_ + pos_, end - pos_);
    const long long parsed = std::strtoll(token.c_str(), nullptr, 10);
    if (parsed < min || parsed > max) return false;
    *value = parsed;
    pos_ = end;
    return true;
  }

  bool next_word(std::string* word, size_t max_length) {
    skip_space();
    size_t end = pos_;
    while (end < length_ && !std::isspace(static_cast<unsigned char>(text_[end]))) ++end;
    if (end == pos_ || end - pos_ > max_length) return false;
    word->assign(text_ + pos_, end - pos_);
    pos_ = end;
    return true;
  }

  size_t position() const { return pos_; }

 private:
  void skip_space() {
    while (pos_ < length_ && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  const char* text_;
  size_t length_;
  size_t pos_ = 0;
};

// Upper bound of the header text after line 1: 1024 channels of two fields each fit easily.
constexpr size_t kMaxHeaderText = 64 * 1024;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

}  // namespace

int64_t ReadRawVolumeFileHeader(const char* path, VolumeHeader* header, int32_t* types,
                                int32_t* attributes) {
  if (!path || !header || !types || !attributes) return -1;
  FilePtr file(std::fopen(path, "rb"));
  if (!file) return -1;
  const int64_t length = file_length(file.get());
  if (length <= 0) return -1;

  char first_line[100];
  if (!std::fgets(first_line, sizeof first_line, file.get())) return -1;
  if (std::strcmp(first_line, ZTR_RAW_FILE_MAGIC) != 0) return -1;
  const int64_t text_start = std::ftell(file.get());
  if (text_start < 0) return -1;

  std::vector<char> text(static_cast<size_t>(std::min<int64_t>(length - text_start,
                                                               int64_t(kMaxHeaderText))));
  const size_t got = std::fread(text.data(), 1, text.size(), file.get());
  HeaderTokens tokens(text.data(), got);

  int64_t dims[4];
  for (int64_t& d : dims) {
    if (!tokens.next_int(1, kInt32Max, &d)) return -1;
  }
  if (dims[3] > ZTR_RAW_FILE_MAX_CHANNELS) return -1;
  const int32_t channels = static_cast<int32_t>(dims[3]);

  std::vector<int32_t> read_types(channels), read_attributes(channels);
  for (int32_t c = 0; c < channels; ++c) {
    int64_t value;
    if (!tokens.next_int(0, 7, &value)) return -1;  // only valid voxel type codes
    read_types[c] = static_cast<int32_t>(value);
  }
  for (int32_t c = 0; c < channels; ++c) {
    int64_t value;
    if (!tokens.next_int(std::numeric_limits<int32_t>::min(), kInt32Max, &value)) return -1;
    read_attributes[c] = static_cast<int32_t>(value);
  }
  int64_t size;
  std::string word;
  if (!tokens.next_int(1, std::numeric_limits<int64_t>::max() / 2, &size)) return -1;
  if (!tokens.next_word(&word, 31) || word != "uncompressed") return -1;

  // The declared size must be what the channels need, and the file must hold it after
  // the header; otherwise the data would be read from the wrong place.
  // Three factors below 2^31 can exceed 2^63: the product is checked one step at a time.
  if (dims[0] * dims[1] > kInt32Max || dims[0] * dims[1] * dims[2] > kInt32Max) return -1;
  const int64_t voxels = dims[0] * dims[1] * dims[2];
  int64_t needed = 0;
  for (int32_t c = 0; c < channels; ++c) needed += voxels * ZTR_GetBytesPerVoxel(read_types[c]);
  if (size != needed) return -1;
  const int64_t offset = length - size;
  if (offset < text_start + int64_t(tokens.position())) return -1;

  header->x = static_cast<int32_t>(dims[0]);
  header->y = static_cast<int32_t>(dims[1]);
  header->z = static_cast<int32_t>(dims[2]);
  header->channels = channels;
  std::memcpy(types, read_types.data(), sizeof(int32_t) * channels);
  std::memcpy(attributes, read_attributes.data(), sizeof(int32_t) * channels);
  return offset;
}

RawVolumeData* LoadRawVolumeFile(const char* path, float* voxel_size, std::string* description,
                                 NoticeSink* notice) {
  const char* shown_path = path ? path : "";
  if (description) {
    *description = std::string("Data Source: ZANTREVIUM file: \nFile name: ") + shown_path + "\n";
  }
  if (voxel_size) *voxel_size = 1.0f;
  if (!path) return nullptr;

  VolumeHeader header{};
  std::vector<int32_t> types(ZTR_RAW_FILE_MAX_CHANNELS), attributes(ZTR_RAW_FILE_MAX_CHANNELS);
  const int64_t offset = ReadRawVolumeFileHeader(path, &header, types.data(), attributes.data());
  if (offset < 0) {
    ztr_show_notice(notice, "Warning", "This is NOT a ZANTREVIUM file.");
    return nullptr;
  }
  VolumePtr volume(ZTR_NewRawVolumeData(header, types.data(), attributes.data()));
  if (!volume) return nullptr;

  FilePtr file(std::fopen(path, "rb"));
  if (!file) {
    std::fprintf(stderr, "File (%s) NOT found\n", path);
    return nullptr;
  }
  // The file may have changed since the header was read: never return a volume whose
  // channels were not all read.
  int64_t total = 0;
  for (int32_t c = 0; c < header.channels; ++c) total += int64_t(ZTR_GetChannelBytes(volume.get(), c));
  if (file_length(file.get()) - offset != total) {
    ztr_show_notice(notice, "Warning", "This is NOT a ZANTREVIUM file.");
    return nullptr;
  }
  if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) return nullptr;
  for (int32_t c = 0; c < header.channels; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume.get(), c);
    if (std::fread(volume->data[c], 1, bytes, file.get()) != bytes) {
      ztr_show_notice(notice, "Warning", "This is NOT a ZANTREVIUM file.");
      return nullptr;
    }
  }
  return volume.release();
}

int SaveRawVolumeFile(const RawVolumeData* volume, std::FILE* stream) {
  FilePtr file(stream);
  if (!file) return -1;
  if (!volume || !volume->header) return -1;
  const VolumeHeader& h = *volume->header;
  int64_t total = 0;
  for (int32_t c = 0; c < h.channels; ++c) total += int64_t(ZTR_GetChannelBytes(volume, c));

  bool ok = std::fputs(ZTR_RAW_FILE_MAGIC, file.get()) >= 0;
  ok = ok && std::fprintf(file.get(), "%d %d %d %d\n", h.x, h.y, h.z, h.channels) > 0;
  for (int32_t c = 0; ok && c < h.channels; ++c) ok = std::fprintf(file.get(), "%d ", volume->types[c]) > 0;
  ok = ok && std::fputc('\n', file.get()) != EOF;
  for (int32_t c = 0; ok && c < h.channels; ++c) {
    ok = std::fprintf(file.get(), "%d ", volume->attributes[c]) > 0;
  }
  ok = ok && std::fputc('\n', file.get()) != EOF;
  ok = ok && std::fprintf(file.get(), "%lld uncompressed\n", static_cast<long long>(total)) > 0;
  for (int32_t c = 0; ok && c < h.channels; ++c) {
    const size_t bytes = ZTR_GetChannelBytes(volume, c);
    ok = std::fwrite(volume->data[c], 1, bytes, file.get()) == bytes;
  }
  std::FILE* raw = file.release();
  const bool closed = std::fclose(raw) == 0;
  return ok && closed ? 0 : -1;
}

int SaveRawVolumeFileAtomically(const RawVolumeData* volume, const std::string& path,
                                std::string* error) {
  std::string reason;
  if (!volume || !volume->header) {
    if (error) *error = "no volume to write to " + path;
    return -1;
  }
  const VolumeHeader& h = *volume->header;
  int64_t total = 0;
  for (int32_t c = 0; c < h.channels; ++c) total += int64_t(ZTR_GetChannelBytes(volume, c));
  std::string header = ZTR_RAW_FILE_MAGIC;
  header += std::to_string(h.x) + " " + std::to_string(h.y) + " " + std::to_string(h.z) + " " +
            std::to_string(h.channels) + "\n";
  for (int32_t c = 0; c < h.channels; ++c) header += std::to_string(volume->types[c]) + " ";
  header += "\n";
  for (int32_t c = 0; c < h.channels; ++c) header += std::to_string(volume->attributes[c]) + " ";
  header += "\n" + std::to_string(total) + " uncompressed\n";
  AtomicFile file(path);
  bool ok = file.open(&reason) && file.write(header, &reason);
  for (int32_t c = 0; ok && c < h.channels; ++c) {
    ok = file.write(volume->data[c], ZTR_GetChannelBytes(volume, c), &reason);
  }
  ok = ok && file.commit(&reason);
  if (!ok && error) *error = reason;
  return ok ? 0 : -1;
}
