// SPDX-License-Identifier: MIT
// Memory streams: a read-only view of the caller's block, and a block that
// grows as it is written. Both are SFilemux objects, so every O* function
// works on them.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/stream.h"
#include "klv/kernel_layers.h"
#include "klv/log.h"

namespace klv::kernel {
namespace {

// Shared position logic; the block itself is the subclass's.
class MemoryStream : public SFilemux {
 public:
  virtual const unsigned char* bytes() const = 0;
  virtual size_t size() const = 0;

  size_t read(void* buffer, size_t count) override {
    size_t have = pos_ < size() ? size() - pos_ : 0;
    size_t n = std::min(count, have);
    if (n) std::memcpy(buffer, bytes() + pos_, n);
    pos_ += n;
    return n;
  }
  bool seek(int64_t offset, int origin) override {
    int64_t base = origin == SEEK_SET   ? 0
                   : origin == SEEK_CUR ? static_cast<int64_t>(pos_)
                                        : static_cast<int64_t>(size());
    if ((offset > 0 && base > INT64_MAX - offset)) return false;
    int64_t target = base + offset;
    if (target < 0) return false;
    pos_ = static_cast<size_t>(target);
    return true;
  }
  int64_t tell() override { return static_cast<int64_t>(pos_); }
  int64_t length() override { return static_cast<int64_t>(size()); }
  int getc() override {
    if (pos_ >= size()) return -1;
    return bytes()[pos_++];
  }

 protected:
  size_t pos_ = 0;
};

class ViewStream final : public MemoryStream {
 public:
  ViewStream(const void* data, size_t size)
      : data_(static_cast<const unsigned char*>(data)), size_(size) {}
  const unsigned char* bytes() const override { return data_; }
  size_t size() const override { return size_; }
  size_t write(const void*, size_t) override { return 0; }

 private:
  const unsigned char* data_;
  size_t size_;
};

// Writes past this size are refused rather than attempted.
constexpr size_t kMaxBlock = size_t{1} << 40;

class GrowingStream final : public MemoryStream {
 public:
  const unsigned char* bytes() const override { return data_.data(); }
  size_t size() const override { return data_.size(); }
  size_t write(const void* buffer, size_t count) override {
    if (pos_ > kMaxBlock || count > kMaxBlock - pos_) {
      KLV_LOG(KLV_LOG_ERROR, "memory stream: a write to %zu bytes is beyond the %zu byte limit",
              pos_ + count, kMaxBlock);
      return 0;
    }
    size_t end = pos_ + count;
    if (end > data_.size()) {
      if (end > data_.capacity()) data_.reserve(std::max(end, data_.capacity() * 2));
      data_.resize(end);  // a gap after a seek past the end reads as zeros
    }
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ = end;
    return count;
  }

 private:
  std::vector<unsigned char> data_;
};

}  // namespace
}  // namespace klv::kernel

extern "C" {

KLV_API SFilemux* Omemopen(const void* data, size_t size) {
  if (!data && size != 0) return nullptr;
  return new (std::nothrow) klv::kernel::ViewStream(data, size);
}

KLV_API SFilemux* Omemcreate(void) {
  return new (std::nothrow) klv::kernel::GrowingStream;
}

KLV_API const void* Omemdata(SFilemux* stream, size_t* size) {
  if (size) *size = 0;
  auto* memory = dynamic_cast<klv::kernel::MemoryStream*>(stream);
  if (!memory) return nullptr;
  if (size) *size = memory->size();
  return memory->bytes();
}

}  // extern "C"
