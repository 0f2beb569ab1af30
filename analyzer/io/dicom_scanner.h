// Minimal DICOM element scanner: finds one element of a little-endian (explicit or implicit
// VR) DICOM file and reads its value, never reading past the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Length reported for an element of undefined length (0xFFFFFFFF).
inline constexpr uint32_t ZTR_DICOM_UNDEFINED_LENGTH = 0xFFFFFFFFu;

// Offset of the first data element of an open file: 4 when the file starts with "DICM"
// (and writes a line saying so), 132 when "DICM" follows a 128-byte preamble, else 0.
// The file position is left unspecified.
int64_t DetectDicomPreamble(std::FILE* file);

// Searches the file at `path` for element (group, element) at the top level (sequences are
// skipped as one value). Returns the file offset of the value and sets *length (when given)
// to its length, or -1 when the file cannot be opened, the element is absent, or the file is
// malformed (a line on standard error says why). With `value` given, the value is copied
// there and terminated by a zero byte; a value that does not fit in `capacity - 1` bytes is
// refused (-1, with a message).
int64_t FindDicomElement(const char* path, uint16_t group, uint16_t element, uint32_t* length,
                         char* value, size_t capacity);

// The same scan over a file image held in memory; `name` is only used in messages.
int64_t find_dicom_element_in_memory(const uint8_t* data, size_t size, const char* name,
                                     uint16_t group, uint16_t element, uint32_t* length,
                                     char* value, size_t capacity);
