// SPDX-License-Identifier: MIT
#include "halftone/screen_file.h"

#include <cstring>

#include "klv/kernel_path.h"
#include "klv/log.h"
#include "klv/kernel_util.h"

namespace klv::halftone {

std::string find_screen_file(const char* name) {
  if (!name) return {};
  char found[KLV_PATH_MAX];
  if (_findinpath(name, found)) return found;
  // The shipped screens live in a "screens" folder of the data folders.
  if (*name && !std::strchr(name, '/') && !std::strchr(name, '\\') && !std::strchr(name, ':')) {
    const std::string sub = std::string(kScreenFolder) + "/" + name;
    if (_findinpath(sub.c_str(), found)) return found;
  }
  return name;
}

ScreenFileReader::~ScreenFileReader() {
  if (file_) Oclose(file_);
}

bool ScreenFileReader::Open(const char* name) {
  path_ = find_screen_file(name);
  file_ = Ovfopen(nullptr, path_.c_str(), "rb");
  if (!file_) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s cannot be opened", path_.c_str());
    return false;
  }
  uint8_t head[kHeaderSize];
  if (Oread(file_, head, sizeof head) != sizeof head) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: header shorter than %d bytes", path_.c_str(),
            int(kHeaderSize));
    return false;
  }
  if (Ostrnicmp(reinterpret_cast<const char*>(head), "HSCR", 4) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: magic is not HSCR", path_.c_str());
    return false;
  }
  width_ = head[4] | head[5] << 8;
  height_ = head[6] | head[7] << 8;
  max_value_ = head[16] | head[17] << 8;
  if (width_ == 0 || height_ == 0) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: screen of %ux%u thresholds", path_.c_str(), width_,
            height_);
    return false;
  }
  if (max_value_ == 0) max_value_ = width_ * height_;
  int64_t len = Ofileleni64(file_);
  int64_t plane_bytes = int64_t(width_) * height_ * 2;
  planes_ = len > kHeaderSize ? uint32_t((len - kHeaderSize) / plane_bytes) : 0;
  if (planes_ == 0) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: %lld bytes hold no whole %ux%u plane", path_.c_str(),
            static_cast<long long>(len), width_, height_);
    return false;
  }
  return true;
}

int64_t ScreenFileReader::Tell() const {
  return Otelli64(file_);
}

bool ScreenFileReader::Seek(int64_t pos) {
  return Oseeki64(file_, pos, 0) == 0;
}

bool ScreenFileReader::ReadPlane(std::vector<uint16_t>& values) {
  size_t n = size_t(width_) * height_;
  bytes_.resize(n * 2);
  if (Oread(file_, bytes_.data(), bytes_.size()) != bytes_.size()) {
    KLV_LOG(KLV_LOG_ERROR, "screen file %s: plane of %ux%u thresholds is short", path_.c_str(),
            width_, height_);
    return false;
  }
  values.resize(n);
  for (size_t i = 0; i < n; ++i) values[i] = uint16_t(bytes_[2 * i] | bytes_[2 * i + 1] << 8);
  return true;
}

bool WriteScreenFile(uint32_t width, uint32_t height, uint16_t max_value,
                     const std::vector<std::vector<uint16_t>>& planes, std::vector<uint8_t>& out) {
  out.clear();
  const size_t n = size_t(width) * height;
  if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || planes.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "screen file: %zu planes of %ux%u cannot be written", planes.size(),
            width, height);
    return false;
  }
  out.assign(size_t(ScreenFileReader::kHeaderSize), 0);
  std::memcpy(out.data(), "HSCR", 4);
  const auto put16 = [&out](size_t at, uint32_t v) {
    out[at] = uint8_t(v & 0xFF);
    out[at + 1] = uint8_t(v >> 8);
  };
  put16(4, width);
  put16(6, height);
  put16(16, max_value);
  out.reserve(out.size() + planes.size() * n * 2);
  for (const std::vector<uint16_t>& plane : planes) {
    if (plane.size() != n) {
      KLV_LOG(KLV_LOG_ERROR, "screen file: a plane of %zu values in a %ux%u screen", plane.size(),
              width, height);
      out.clear();
      return false;
    }
    for (uint16_t v : plane) {
      out.push_back(uint8_t(v & 0xFF));
      out.push_back(uint8_t(v >> 8));
    }
  }
  return true;
}

}  // namespace klv::halftone
