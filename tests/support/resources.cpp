// SPDX-License-Identifier: MIT
#include "support/resources.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "klv/platform.h"

namespace klv::test {

namespace fs = std::filesystem;

std::multiset<std::string> open_descriptors() {
  std::multiset<std::string> out;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code link_ec;
    const fs::path target = fs::read_symlink(it->path(), link_ec);
    // The iterator's own descriptor is gone by the time it is read.
    if (!link_ec) out.insert(target.string());
  }
  return out;
}

std::set<std::string> files_under(const std::string& folder) {
  std::set<std::string> out;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    out.insert(it->path().string());
  return out;
}

ResourceCheck::ResourceCheck(std::vector<std::string> folders) : folders_(std::move(folders)) {
  folders_.push_back(klv::platform::TempFolder());
  fds_ = open_descriptors();
  for (const auto& f : folders_) files_.push_back(files_under(f));
}

std::string ResourceCheck::Leaks(const std::vector<std::string>& ignore) const {
  std::string out;
  std::multiset<std::string> left = open_descriptors();
  for (const auto& fd : fds_) {
    auto it = left.find(fd);
    if (it != left.end()) left.erase(it);
  }
  for (const auto& fd : left) {
    const bool ignored = std::any_of(ignore.begin(), ignore.end(), [&](const std::string& part) {
      return !part.empty() && fd.find(part) != std::string::npos;
    });
    // The directory listing made just now and a captured log (see LogCapture)
    // are no leak.
    const bool harness =
        fd.rfind("/proc/", 0) == 0 || fd.find("/klv_logcapture_") != std::string::npos;
    if (!ignored && !harness) out += "open descriptor: " + fd + "\n";
  }
  std::set<std::string> left_files;  // a watched folder may lie in another
  for (size_t i = 0; i < folders_.size(); ++i)
    for (const auto& file : files_under(folders_[i]))
      if (!files_[i].count(file) && file.find("/klv_logcapture_") == std::string::npos)
        left_files.insert(file);
  for (const auto& file : left_files) out += "file left: " + file + "\n";
  return out;
}

}  // namespace klv::test
