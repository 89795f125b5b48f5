// SPDX-License-Identifier: MIT
// Files a command writes: made under a temporary name beside the target and
// renamed over it only when complete, so that a failed or interrupted
// command leaves nothing behind (and an older file at the target stands).
#pragma once

#include <string>

namespace klvrip {

class OutputFile {
 public:
  // Creates an empty temporary ".NAME.tmpXXXXXX" in the target's folder,
  // removed if the process is interrupted. Failed() tells whether that
  // worked; Error() says why not.
  explicit OutputFile(std::string target);
  // Removes the temporary (and the journal a volume may leave beside it)
  // unless it was committed.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Failed() const { return temp_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Target() const { return target_; }
  // Where the writer writes.
  const std::string& Temp() const { return temp_; }

  // Renames the temporary over the target; false (and Error() set) when the
  // rename fails, and the temporary is removed.
  bool Commit();
  // Removes the temporary now.
  void Discard();

 private:
  std::string target_, temp_, error_;
  bool live_ = false;  // the temporary exists and is ours to remove
};

}  // namespace klvrip
