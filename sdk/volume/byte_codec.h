// Little-endian records of the system's binary files, field by field: a writer that appends to
// a byte vector and a reader bounded by the size of what it reads.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
  }
  void i32(int32_t v) { u32(std::bit_cast<uint32_t>(v)); }
  void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
  void u16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
  }
  void vec(const std::array<float, 3>& v) {
    for (float x : v) f32(x);
  }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }

 private:
  std::vector<uint8_t>& out_;
};

// Reads within `size` bytes; the first read past the end poisons it and every later read
// returns zeros (take() returns null), so a caller checks ok() once per record part.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  size_t left() const { return ok_ ? size_ - at_ : 0; }
  size_t position() const { return at_; }
  // The bytes at the current position: left() of them may be read there.
  const uint8_t* here() const { return data_ + at_; }
  const uint8_t* take(size_t n) {
    if (!ok_ || n > size_ - at_) {
      ok_ = false;
      return nullptr;
    }
    const uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }
  bool skip(size_t n) {
    take(n);
    return ok_;
  }
  uint32_t u32() {
    const uint8_t* p = take(4);
    return p ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
             : 0;
  }
  int32_t i32() { return std::bit_cast<int32_t>(u32()); }
  float f32() { return std::bit_cast<float>(u32()); }
  uint16_t u16() {
    const uint8_t* p = take(2);
    return p ? uint16_t(p[0] | p[1] << 8) : 0;
  }
  std::array<float, 3> vec() {
    std::array<float, 3> v;
    for (float& x : v) x = f32();
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};
