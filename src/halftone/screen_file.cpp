// SPDX-License-Identifier: MIT
#include "halftone/screen_file.h"

#include <strings.h>

#include "klv/kernel_path.h"
#include "klv/log.h"

namespace klv::halftone {

std::string find_screen_file(const char* name) {
  if (!name) return {};
  char found[KLV_PATH_MAX];
  if (_findinpath(name, found)) return found;
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
  if (strncasecmp(reinterpret_cast<const char*>(head), "HSCR", 4) != 0) {
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

}  // namespace klv::halftone
