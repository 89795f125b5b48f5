// SPDX-License-Identifier: MIT
// Resource checks: the open file descriptors and temporary files at
// construction, compared with those at Leaks(), for tests that feed hostile
// input and must leave nothing behind.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace klv::test {

// The targets of the process's open descriptors, one per descriptor.
std::multiset<std::string> open_descriptors();
// Every path under `folder`, recursively; empty when there is no such folder.
std::set<std::string> files_under(const std::string& folder);

class ResourceCheck {
 public:
  // Also watches `folders` (a scratch folder, say) besides the temporary folder.
  explicit ResourceCheck(std::vector<std::string> folders = {});
  // What was opened or created since construction and is still there, one
  // line each; empty when nothing was left. Descriptors to files whose path
  // contains one of `ignore` are not counted, nor a LogCapture's folder and
  // the logger's descriptor of its file (kept until the logger's next line).
  std::string Leaks(const std::vector<std::string>& ignore = {}) const;

 private:
  std::vector<std::string> folders_;
  std::multiset<std::string> fds_;
  std::vector<std::set<std::string>> files_;
};

}  // namespace klv::test
