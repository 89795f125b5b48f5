// SPDX-License-Identifier: MIT
// Small fixtures for the stream tests: descriptions, a readable image held in
// memory (any layout, planes one after another), a sink that records what is
// written and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/platform.h"

namespace streams_test {

inline image_info describe(int w, int h, int samples, int bits, int photo, int planar = 0) {
  image_info i;
  init_image_info(&i);
  i.width = w;
  i.height = h;
  i.samples = samples;
  i.bits_per_sample = bits;
  i.photometric = photo;
  i.planar = planar;
  i.pages = 1;
  i.xres = i.yres = 100;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

// Deterministic test bytes.
inline std::vector<uint8_t> pattern(size_t n, unsigned seed) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
  }
  return v;
}

// A readable image: `data` holds every line of every plane in order.
class MemImage : public CIMG_file {
 public:
  MemImage(const image_info& info, std::vector<uint8_t> data) : data_(std::move(data)) {
    m_info = info;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    const size_t bpl = m_info.bytes_per_line;
    const int32_t planes =
        m_info.planar == KLV_PLANAR_PLANES ? m_info.samples + m_info.mask_samples : 1;
    int32_t done = 0;
    for (; done < count && m_plane < planes && m_line < m_info.height; ++done, ++m_line) {
      size_t at = (size_t(m_plane) * m_info.height + m_line) * bpl;
      std::memcpy(buffer + size_t(done) * bpl, data_.data() + at, bpl);
    }
    ++reads;
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    return SetSeekLine(line, plane, page, whence);
  }
  int reads = 0;

 private:
  std::vector<uint8_t> data_;
};

// Records written lines; fails every write once `fail_after` lines were taken.
struct SinkLog {
  std::vector<uint8_t> bytes;
  int closes = 0;
  int seeks = 0;
};
class Sink : public CIMG_file {
 public:
  Sink(const image_info& info, std::shared_ptr<SinkLog> log, int fail_after = -1)
      : log_(std::move(log)), fail_after_(fail_after) {
    m_info = info;
  }
  ~Sink() override { ++log_->closes; }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    if (fail_after_ >= 0 && taken_ >= fail_after_) return 0;
    log_->bytes.insert(log_->bytes.end(), buffer, buffer + size_t(count) * m_info.bytes_per_line);
    taken_ += count;
    return count;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    ++log_->seeks;
    return fail_after_ >= 0 ? -1 : SetSeekLine(line, plane, page, whence);
  }

 private:
  std::shared_ptr<SinkLog> log_;
  int fail_after_;
  int taken_ = 0;
};

// A fresh folder under the temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string name = klv::platform::TempFileName("klvstreams");
    std::filesystem::remove(name);
    std::filesystem::create_directories(name);
    path_ = name;
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace streams_test
