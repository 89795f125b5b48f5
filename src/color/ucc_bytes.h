// SPDX-License-Identifier: MIT
// Little-endian byte writer and bounded reader of the saved chain forms.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace klv::ucc {

class ByteWriter {
 public:
  std::vector<uint8_t> bytes;
  void u8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
  void u16(uint32_t v) { u8(v), u8(v >> 8); }
  void u32(uint32_t v) { u16(v), u16(v >> 16); }
  void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
  void f64(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    u32(static_cast<uint32_t>(b)), u32(static_cast<uint32_t>(b >> 32));
  }
  void raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  // A string: its length with the terminating zero, the characters and the
  // zero; an empty string is a length of 0 alone.
  void str(const char* s) {
    const size_t n = s ? std::strlen(s) : 0;
    if (!n) return u32(0);
    u32(static_cast<uint32_t>(n + 1));
    raw(s, n + 1);
  }
  size_t begin_chunk(const char* tag) {
    raw(tag, 4);
    u32(0);
    return bytes.size();
  }
  void end_chunk(size_t body) { patch(body - 4, static_cast<uint32_t>(bytes.size() - body)); }
  void patch(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

class ByteReader {
 public:
  ByteReader(const uint8_t* p, size_t n) : p_(p), left_(n) {}
  bool ok() const { return ok_; }
  size_t left() const { return left_; }
  bool take(void* out, size_t n) {
    if (!ok_ || n > left_) return ok_ = false;
    if (n) std::memcpy(out, p_, n);
    p_ += n, left_ -= n;
    return true;
  }
  bool skip(size_t n) {
    if (!ok_ || n > left_) return ok_ = false;
    p_ += n, left_ -= n;
    return true;
  }
  ByteReader sub(size_t n) {
    if (!ok_ || n > left_) {
      ok_ = false;
      return ByteReader(p_, 0);
    }
    ByteReader r(p_, n);
    p_ += n, left_ -= n;
    return r;
  }
  uint32_t u8() {
    uint8_t b = 0;
    take(&b, 1);
    return b;
  }
  uint32_t u16() {
    const uint32_t lo = u8();
    return lo | (u8() << 8);
  }
  uint32_t u32() {
    const uint32_t lo = u16();
    return lo | (u16() << 16);
  }
  int32_t i32() { return static_cast<int32_t>(u32()); }
  double f64() {
    uint64_t lo = u32();
    uint64_t b = lo | (static_cast<uint64_t>(u32()) << 32);
    double v;
    std::memcpy(&v, &b, 8);
    return v;
  }
  // A string into `out` (size bytes, truncated, always terminated).
  bool str(char* out, size_t size) {
    std::string s;
    if (!str(&s)) return false;
    const size_t n = std::min(s.size(), size - 1);
    std::memcpy(out, s.data(), n);
    out[n] = '\0';
    return true;
  }
  bool str(std::string* out) {
    const uint32_t n = u32();
    out->clear();
    if (!ok_ || n == 0) return ok_;
    if (n > left_) return ok_ = false;
    const char* c = reinterpret_cast<const char*>(p_);
    out->assign(c, strnlen(c, n));
    return skip(n);
  }

 private:
  const uint8_t* p_;
  size_t left_;
  bool ok_ = true;
};

}  // namespace klv::ucc
