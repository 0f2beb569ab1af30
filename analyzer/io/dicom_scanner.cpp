// Minimal little-endian DICOM element scanner. Every read is checked against the real size
// of the input, so a damaged or hostile file ends the search with a message.
#include "analyzer/io/dicom_scanner.h"

#include <cstring>
#include <memory>
#include <sys/types.h>

namespace {

// Random access to the bytes of one DICOM file, bounded by its size.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // All-or-nothing read of n bytes at offset; false when they are not all there.
  virtual bool read(uint64_t offset, void* destination, size_t n) = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* destination, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    if (n > 0) std::memcpy(destination, data_ + offset, n);
    return true;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {
    if (file_ && fseeko(file_, 0, SEEK_END) == 0) {
      const off_t end = ftello(file_);
      if (end > 0) size_ = static_cast<uint64_t>(end);
    }
  }
  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* destination, size_t n) override {
    if (!file_ || offset > size_ || n > size_ - offset) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(destination, 1, n, file_) == n;
  }

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct ElementHeader {
  uint16_t group = 0;
  uint16_t element = 0;
  uint32_t length = 0;
  uint64_t value_offset = 0;
};

enum class HeaderResult { kOk, kEnd, kError };

// Sequences inside sequences deeper than this are refused rather than followed.
constexpr int kMaxNesting = 32;

uint16_t le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }
uint32_t le32(const uint8_t* b) {
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// Explicit value representations whose length is a 32-bit field after 2 reserved bytes.
bool has_long_length(uint8_t v0, uint8_t v1) {
  static const char* const kLong[] = {"OB", "OW", "SQ", "UN", "OD", "OF", "OL",
                                      "OV", "SV", "UC", "UR", "UT", "UV"};
  for (const char* vr : kLong) {
    if (v0 == static_cast<uint8_t>(vr[0]) && v1 == static_cast<uint8_t>(vr[1])) return true;
  }
  return false;
}

int64_t detect_preamble(ByteSource& source) {
  char marker[4];
  if (source.read(0, marker, 4) && std::memcmp(marker, "DICM", 4) == 0) {
    std::fputs("DICOM identifier found at position:0\n", stderr);
    return 4;
  }
  if (source.read(128, marker, 4) && std::memcmp(marker, "DICM", 4) == 0) return 132;
  return 0;
}

HeaderResult read_header(ByteSource& source, uint64_t position, const char* name,
                         ElementHeader* header) {
  const uint64_t size = source.size();
  if (position >= size) return HeaderResult::kEnd;
  uint8_t b[12];
  if (!source.read(position, b, 8)) {
    std::fprintf(stderr, "Err: truncated DICOM element header at offset %llu in %s\n",
                 static_cast<unsigned long long>(position), name);
    return HeaderResult::kError;
  }
  header->group = le16(b);
  header->element = le16(b + 2);
  const uint8_t b0 = b[4], b1 = b[5];
  uint64_t header_size = 8;
  if (b1 >= 65 && !(b0 == 255 && b1 == 255)) {
    if (has_long_length(b0, b1)) {
      if (!source.read(position + 8, b + 8, 4)) {
        std::fprintf(stderr, "Err: truncated DICOM element header at offset %llu in %s\n",
                     static_cast<unsigned long long>(position), name);
        return HeaderResult::kError;
      }
      header->length = le32(b + 8);
      header_size = 12;
    } else {
      header->length = le16(b + 6);
      const uint16_t g = header->group;
      if (header->length == 0 && (g == 0x7F88 || g == 0x7FE0 || g == 0xFFFE)) {
        header->length = le32(b + 4);
      }
    }
  } else {
    header->length = le32(b + 4);
  }
  header->value_offset = position + header_size;
  return HeaderResult::kOk;
}

void report_past_end(const ElementHeader& h, const char* name) {
  std::fprintf(stderr, "Err: DICOM element (%04X,%04X) at offset %llu in %s runs past the end\n",
               h.group, h.element, static_cast<unsigned long long>(h.value_offset), name);
}

bool is_zero_tag(const ElementHeader& h) {
  if (h.group == 0 && h.element == 0) {
    std::fputs("Invalid pair of group ID and element ID\n", stderr);
    return true;
  }
  return false;
}

// Skips the contents of an element of undefined length that starts at `position`: every
// nested element up to the next item or sequence delimiter. *next receives the offset
// after the delimiter.
bool skip_undefined(ByteSource& source, uint64_t position, const char* name, int depth,
                    uint64_t* next) {
  if (depth > kMaxNesting) {
    std::fprintf(stderr, "Err: DICOM sequences nested too deeply in %s\n", name);
    return false;
  }
  for (;;) {
    ElementHeader h;
    const HeaderResult r = read_header(source, position, name, &h);
    if (r == HeaderResult::kEnd) {
      std::fprintf(stderr, "Err: DICOM sequence without end in %s\n", name);
      return false;
    }
    if (r == HeaderResult::kError || is_zero_tag(h)) return false;
    if (h.group == 0xFFFE && (h.element == 0xE00D || h.element == 0xE0DD)) {
      *next = h.value_offset;
      return true;
    }
    if (h.length == ZTR_DICOM_UNDEFINED_LENGTH) {
      if (!skip_undefined(source, h.value_offset, name, depth + 1, &position)) return false;
    } else {
      if (h.length > source.size() - h.value_offset) {
        report_past_end(h, name);
        return false;
      }
      position = h.value_offset + h.length;
    }
  }
}

int64_t deliver(ByteSource& source, const ElementHeader& h, const char* name, uint32_t* length,
                char* value, size_t capacity) {
  const bool defined = h.length != ZTR_DICOM_UNDEFINED_LENGTH;
  if (defined && (h.value_offset > source.size() || h.length > source.size() - h.value_offset)) {
    report_past_end(h, name);
    return -1;
  }
  if (value) {
    if (!defined || capacity == 0 || h.length > capacity - 1) {
      std::fprintf(stderr, "Err: DICOM element (%04X,%04X) in %s is too long (%u bytes)\n",
                   h.group, h.element, name, h.length);
      return -1;
    }
    if (!source.read(h.value_offset, value, h.length)) {
      report_past_end(h, name);
      return -1;
    }
    value[h.length] = '\0';
  }
  if (length) *length = h.length;
  return static_cast<int64_t>(h.value_offset);
}

int64_t scan(ByteSource& source, const char* name, uint16_t group, uint16_t element,
             uint32_t* length, char* value, size_t capacity) {
  uint64_t position = static_cast<uint64_t>(detect_preamble(source));
  const uint64_t size = source.size();
  for (;;) {
    ElementHeader h;
    if (read_header(source, position, name, &h) != HeaderResult::kOk) return -1;
    if (is_zero_tag(h)) return -1;
    if (h.group == group && h.element == element) {
      return deliver(source, h, name, length, value, capacity);
    }
    uint64_t next = 0;
    if (h.length == ZTR_DICOM_UNDEFINED_LENGTH) {
      if (!skip_undefined(source, h.value_offset, name, 1, &next)) return -1;
    } else {
      if (h.value_offset > size || h.length > size - h.value_offset) {
        report_past_end(h, name);
        return -1;
      }
      next = h.value_offset + h.length;
    }
    if (next >= size) return -1;  // the element is not in this file
    position = next;
  }
}

}  // namespace

int64_t DetectDicomPreamble(std::FILE* file) {
  if (!file) return 0;
  FileSource source(file);
  return detect_preamble(source);
}

int64_t FindDicomElement(const char* path, uint16_t group, uint16_t element, uint32_t* length,
                         char* value, size_t capacity) {
  if (!path) return -1;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) return -1;
  FileSource source(file.get());
  return scan(source, path, group, element, length, value, capacity);
}

int64_t find_dicom_element_in_memory(const uint8_t* data, size_t size, const char* name,
                                     uint16_t group, uint16_t element, uint32_t* length,
                                     char* value, size_t capacity) {
  if (!data && size > 0) return -1;
  MemorySource source(data, size);
  return scan(source, name ? name : "(memory)", group, element, length, value, capacity);
}
