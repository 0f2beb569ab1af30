// Element scanner: preamble detection, explicit and implicit headers, skipping of values and
// sequences, and refusal of damaged input without reading past the end.
#include "analyzer/io/dicom_scanner.h"
#include "tests/support/console_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v & 0xFF));
  b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b.push_back(uint8_t((v >> s) & 0xFF));
}
void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

// Explicit VR with a 16-bit length (8-byte header).
Bytes explicit_short(uint16_t group, uint16_t element, const char* vr, const std::string& value) {
  Bytes b;
  put16(b, group);
  put16(b, element);
  b.push_back(uint8_t(vr[0]));
  b.push_back(uint8_t(vr[1]));
  put16(b, uint16_t(value.size()));
  append(b, value);
  return b;
}

// Explicit VR with reserved bytes and a 32-bit length (12-byte header).
Bytes explicit_long(uint16_t group, uint16_t element, const char* vr, const std::string& value,
                    uint32_t length_field) {
  Bytes b;
  put16(b, group);
  put16(b, element);
  b.push_back(uint8_t(vr[0]));
  b.push_back(uint8_t(vr[1]));
  put16(b, 0);
  put32(b, length_field);
  append(b, value);
  return b;
}
Bytes explicit_long(uint16_t group, uint16_t element, const char* vr, const std::string& value) {
  return explicit_long(group, element, vr, value, uint32_t(value.size()));
}

Bytes implicit(uint16_t group, uint16_t element, const std::string& value, uint32_t length_field) {
  Bytes b;
  put16(b, group);
  put16(b, element);
  put32(b, length_field);
  append(b, value);
  return b;
}
Bytes implicit(uint16_t group, uint16_t element, const std::string& value) {
  return implicit(group, element, value, uint32_t(value.size()));
}

Bytes with_preamble(const Bytes& elements) {
  Bytes b(128, 0);
  append(b, std::string("DICM"));
  append(b, elements);
  return b;
}

// Scans an exactly sized heap copy, so that any read past the end is seen by the sanitizer.
struct ScanResult {
  int64_t offset;
  uint32_t length;
  std::string value;
  std::string log;
};
ScanResult scan(const Bytes& bytes, uint16_t group, uint16_t element, size_t capacity = 64,
                bool copy_value = true) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
  if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
  std::vector<char> buffer(capacity + 1, 'Z');
  ScanResult r{};
  r.length = 12345;
  ztr::test::ConsoleCapture console;
  r.offset = find_dicom_element_in_memory(exact.get(), bytes.size(), "test.dcm", group, element,
                                          &r.length, copy_value ? buffer.data() : nullptr,
                                          capacity);
  r.log = console.finish();
  if (r.offset >= 0 && copy_value) r.value = buffer.data();
  return r;
}

class TempFile {
 public:
  explicit TempFile(const Bytes& bytes) {
    char name[] = "/tmp/ztr_dicom_scan_XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    std::FILE* f = fdopen(fd, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

TEST(DicomPreamble, MarkerAtStartMeansElementsStartAtFourAndIsAnnounced) {
  Bytes file;
  append(file, std::string("DICM"));
  append(file, explicit_short(0x0020, 0x0013, "IS", "12"));
  const ScanResult r = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(r.offset, 4 + 8);
  EXPECT_EQ(r.value, "12");
  EXPECT_EQ(r.log, "DICOM identifier found at position:0\n");
}

TEST(DicomPreamble, DetectsEachLayoutInAnOpenFile) {
  Bytes at_zero;
  append(at_zero, std::string("DICM"));
  append(at_zero, implicit(0x0008, 0x0020, "20240101"));
  const Bytes after_preamble = with_preamble(implicit(0x0008, 0x0020, "20240101"));
  Bytes none = implicit(0x0008, 0x0020, "20240101");
  none.resize(200, 0);  // long enough to hold offset 128, but no marker there
  const Bytes tiny = {'D', 'I'};

  const std::pair<const Bytes*, int64_t> cases[] = {
      {&at_zero, 4}, {&after_preamble, 132}, {&none, 0}, {&tiny, 0}};
  for (const auto& [bytes, expected] : cases) {
    TempFile file(*bytes);
    std::FILE* f = std::fopen(file.path().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ztr::test::ConsoleCapture console;
    EXPECT_EQ(DetectDicomPreamble(f), expected);
    const std::string log = console.finish();
    EXPECT_EQ(log, expected == 4 ? "DICOM identifier found at position:0\n" : "");
    std::fclose(f);
  }
}

TEST(DicomHeaders, ObOwSqAndUnHaveTwelveByteHeaders) {
  for (const char* vr : {"OB", "OW", "SQ", "UN"}) {
    Bytes file;
    append(file, explicit_long(0x0009, 0x0010, vr, std::string(6, '\x01')));
    append(file, explicit_short(0x0020, 0x0013, "IS", "5 "));
    const ScanResult r = scan(file, 0x0020, 0x0013);
    EXPECT_EQ(r.offset, 12 + 6 + 8) << vr;
    EXPECT_EQ(r.value, "5 ") << vr;
  }
}

TEST(DicomHeaders, TextValueRepresentationsWithThirtyTwoBitLengthsAreSkippedCorrectly) {
  // UT and UC carry reserved bytes and a 32-bit length like OB; reading their length from the
  // reserved bytes would lose every element that follows.
  for (const char* vr : {"UT", "UC", "UR", "OF"}) {
    Bytes file;
    append(file, explicit_long(0x0040, 0xA160, vr, std::string(300, 'T')));
    append(file, explicit_short(0x0020, 0x0013, "IS", "9 "));
    const ScanResult r = scan(file, 0x0020, 0x0013);
    EXPECT_EQ(r.offset, 12 + 300 + 8) << vr;
    EXPECT_EQ(r.value, "9 ") << vr;
  }
}

TEST(DicomHeaders, ImplicitElementsUseAThirtyTwoBitLength) {
  Bytes file;
  append(file, implicit(0x0010, 0x0010, "Doe^Jane"));
  append(file, implicit(0x0018, 0x0088, "2.0 "));
  const ScanResult r = scan(file, 0x0018, 0x0088);
  EXPECT_EQ(r.offset, 8 + 8 + 8);
  EXPECT_EQ(r.length, 4u);
  EXPECT_EQ(r.value, "2.0 ");
}

TEST(DicomHeaders, ZeroShortLengthInPixelGroupsIsReadAsThirtyTwoBitLength) {
  // Bytes 'A','B',0,0 look like VR "AB" with length 0; in group 7FE0 they are the 32-bit
  // length 0x4241 of an implicit element.
  const uint32_t length = 0x4241;
  Bytes file;
  append(file, implicit(0x7FE0, 0x0010, std::string(length, '\x02')));
  append(file, implicit(0x7FE1, 0x0001, "ok"));
  ASSERT_EQ(file[4], 'A');
  ASSERT_EQ(file[5], 'B');
  const ScanResult pixels = scan(file, 0x7FE0, 0x0010, 0, false);
  EXPECT_EQ(pixels.offset, 8);
  EXPECT_EQ(pixels.length, length);
  const ScanResult after = scan(file, 0x7FE1, 0x0001);
  EXPECT_EQ(after.offset, int64_t(8 + length + 8));
  EXPECT_EQ(after.value, "ok");
}

TEST(DicomHeaders, ItemLengthOfAllOnesIsUndefinedNotAValueRepresentation) {
  const Bytes file = implicit(0xFFFE, 0xE000, "", 0xFFFFFFFF);
  const ScanResult r = scan(file, 0xFFFE, 0xE000, 0, false);
  EXPECT_EQ(r.offset, 8);
  EXPECT_EQ(r.length, ZTR_DICOM_UNDEFINED_LENGTH);
}

TEST(DicomSequences, DefinedLengthSequenceIsSkippedAsOneValue) {
  Bytes item_contents = implicit(0x0020, 0x0013, "777 ");
  Bytes item = implicit(0xFFFE, 0xE000, "", uint32_t(item_contents.size()));
  append(item, item_contents);
  Bytes file;
  append(file, explicit_long(0x0008, 0x1140, "SQ", std::string(item.begin(), item.end())));
  append(file, explicit_short(0x0020, 0x0013, "IS", "1 "));
  const ScanResult r = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(r.value, "1 ");
  EXPECT_EQ(r.offset, int64_t(12 + item.size() + 8));
}

TEST(DicomSequences, UndefinedLengthSequenceIsSkippedToItsDelimiter) {
  // SQ (undefined) { item (undefined) { (0020,0013) "777 ", SQ (undefined) { } } }.
  Bytes inner;
  append(inner, explicit_short(0x0020, 0x0013, "IS", "777 "));
  append(inner, explicit_long(0x0008, 0x1115, "SQ", "", 0xFFFFFFFF));
  append(inner, implicit(0xFFFE, 0xE0DD, ""));
  Bytes contents = implicit(0xFFFE, 0xE000, "", 0xFFFFFFFF);
  append(contents, inner);
  append(contents, implicit(0xFFFE, 0xE00D, ""));
  append(contents, implicit(0xFFFE, 0xE0DD, ""));
  Bytes file;
  append(file, explicit_long(0x0008, 0x1140, "SQ", std::string(contents.begin(), contents.end()),
                             0xFFFFFFFF));
  append(file, explicit_short(0x0020, 0x0013, "IS", "2 "));
  const ScanResult r = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(r.value, "2 ");
  EXPECT_EQ(r.offset, int64_t(12 + contents.size() + 8));
}

TEST(DicomSequences, SequenceWithoutDelimiterIsRefused) {
  Bytes file = explicit_long(0x0008, 0x1140, "SQ", "", 0xFFFFFFFF);
  append(file, implicit(0xFFFE, 0xE000, "", 0xFFFFFFFF));
  append(file, explicit_short(0x0020, 0x0013, "IS", "2 "));
  const ScanResult r = scan(file, 0x0028, 0x0010);
  EXPECT_EQ(r.offset, -1);
  EXPECT_NE(r.log.find("sequence without end"), std::string::npos) << r.log;
}

TEST(DicomSequences, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  Bytes file;
  for (int i = 0; i < 5000; ++i) append(file, explicit_long(0x0008, 0x1140, "SQ", "", 0xFFFFFFFF));
  const ScanResult r = scan(file, 0x0028, 0x0010);
  EXPECT_EQ(r.offset, -1);
  EXPECT_NE(r.log.find("nested too deeply"), std::string::npos) << r.log;
}

TEST(DicomSearch, MissingElementIsNotFoundWithoutMessage) {
  Bytes file;
  append(file, explicit_short(0x0008, 0x0080, "LO", "General Hospital"));
  append(file, explicit_short(0x0020, 0x0013, "IS", "1 "));
  const ScanResult r = scan(file, 0x0018, 0x0088);
  EXPECT_EQ(r.offset, -1);
  EXPECT_EQ(r.log, "");
}

TEST(DicomSearch, ZeroGroupAndElementEndsTheSearch) {
  Bytes file;
  append(file, explicit_short(0x0008, 0x0080, "LO", "AB"));
  append(file, Bytes(16, 0));
  append(file, explicit_short(0x0020, 0x0013, "IS", "1 "));
  const ScanResult r = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(r.offset, -1);
  EXPECT_EQ(r.log, "Invalid pair of group ID and element ID\n");
}

TEST(DicomBadInput, LengthRunningPastTheEndIsRefused) {
  // A skipped value claims 1000 bytes where only 10 remain.
  Bytes file = explicit_long(0x0009, 0x0010, "OB", std::string(10, '\x01'), 1000);
  const ScanResult skipped = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(skipped.offset, -1);
  EXPECT_NE(skipped.log.find("runs past the end"), std::string::npos) << skipped.log;

  // The wanted value itself claims more than the file holds.
  const Bytes wanted = implicit(0x0020, 0x0032, "1\\2\\3", 0x00003000);
  const ScanResult r = scan(wanted, 0x0020, 0x0032, 0x4000);
  EXPECT_EQ(r.offset, -1);
  EXPECT_NE(r.log.find("runs past the end"), std::string::npos) << r.log;

  const ScanResult no_copy = scan(wanted, 0x0020, 0x0032, 0, false);
  EXPECT_EQ(no_copy.offset, -1);
}

TEST(DicomBadInput, HugeLengthDoesNotWrapAround) {
  Bytes file = explicit_long(0x0009, 0x0010, "OB", "", 0xFFFFFFF0);
  append(file, explicit_short(0x0020, 0x0013, "IS", "1 "));
  const ScanResult r = scan(file, 0x0020, 0x0013);
  EXPECT_EQ(r.offset, -1);
  EXPECT_NE(r.log.find("runs past the end"), std::string::npos) << r.log;
}

TEST(DicomBadInput, ValueLongerThanItsBufferIsRefused) {
  const Bytes file = explicit_short(0x0008, 0x0080, "LO", "General Hospital");
  const ScanResult refused = scan(file, 0x0008, 0x0080, 16);  // 16 bytes + terminator
  EXPECT_EQ(refused.offset, -1);
  EXPECT_NE(refused.log.find("too long"), std::string::npos) << refused.log;
  const ScanResult fits = scan(file, 0x0008, 0x0080, 17);
  EXPECT_EQ(fits.offset, 8);
  EXPECT_EQ(fits.value, "General Hospital");
}

TEST(DicomBadInput, TruncatedHeaderIsRefused) {
  Bytes file = explicit_short(0x0008, 0x0080, "LO", "AB");
  append(file, Bytes{0x28, 0x00, 0x10});  // three bytes of a next header
  const ScanResult r = scan(file, 0x0028, 0x0010);
  EXPECT_EQ(r.offset, -1);
  EXPECT_NE(r.log.find("truncated DICOM element header"), std::string::npos) << r.log;

  Bytes long_header = explicit_short(0x0008, 0x0080, "LO", "AB");
  append(long_header, Bytes{0xE0, 0x7F, 0x10, 0x00, 'O', 'W', 0, 0, 0x80});  // length cut off
  const ScanResult cut = scan(long_header, 0x7FE0, 0x0010, 0, false);
  EXPECT_EQ(cut.offset, -1);
  EXPECT_NE(cut.log.find("truncated DICOM element header"), std::string::npos) << cut.log;
}

TEST(DicomBadInput, EmptyAndTinyInputsAreNotFound) {
  EXPECT_EQ(find_dicom_element_in_memory(nullptr, 0, "empty", 0x0020, 0x0013, nullptr, nullptr, 0),
            -1);
  const ScanResult r = scan(Bytes{'D', 'I', 'C', 'M'}, 0x0020, 0x0013);
  EXPECT_EQ(r.offset, -1);
}

TEST(DicomFiles, FindsElementsInAFileOnDisk) {
  Bytes elements;
  append(elements, explicit_short(0x0020, 0x0013, "IS", "42"));
  append(elements, explicit_long(0x7FE0, 0x0010, "OW", std::string(8, '\x07')));
  TempFile file(with_preamble(elements));
  char value[16];
  uint32_t length = 0;
  EXPECT_EQ(FindDicomElement(file.path().c_str(), 0x0020, 0x0013, &length, value, sizeof value),
            132 + 8);
  EXPECT_STREQ(value, "42");
  EXPECT_EQ(FindDicomElement(file.path().c_str(), 0x7FE0, 0x0010, &length, nullptr, 0),
            132 + 10 + 12);
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(FindDicomElement(file.path().c_str(), 0x0018, 0x0088, &length, nullptr, 0), -1);
}

TEST(DicomFiles, MissingFileIsNotFound) {
  uint32_t length = 0;
  EXPECT_EQ(FindDicomElement("/nonexistent/ztr/file.dcm", 0x0020, 0x0013, &length, nullptr, 0),
            -1);
  EXPECT_EQ(FindDicomElement(nullptr, 0x0020, 0x0013, &length, nullptr, 0), -1);
}
