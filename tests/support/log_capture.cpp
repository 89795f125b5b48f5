// SPDX-License-Identifier: MIT
#include "support/log_capture.h"

namespace klv::test {

namespace {

// A new file name each time: the logger keeps its file open while KLV_LOG
// names it, so a reused name would keep writing to a removed file.
std::string next_log_name(const ScratchFolder& folder) {
  static int serial = 0;
  return folder.path("log" + std::to_string(++serial) + ".txt");
}

}  // namespace

LogCapture::LogCapture() : path_(next_log_name(folder_)), env_("KLV_LOG", path_) {}

LogCapture::~LogCapture() = default;

std::string LogCapture::Text() const {
  return read_text(path_);
}

std::string LogCapture::Take() {
  const std::string all = Text();
  const std::string fresh = taken_ < all.size() ? all.substr(taken_) : std::string();
  taken_ = all.size();
  return fresh;
}

}  // namespace klv::test
