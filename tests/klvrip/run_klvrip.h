// SPDX-License-Identifier: MIT
// Runs the built klvrip program as a user would, for the suite's tests.
#pragma once

#include <string>
#include <vector>

namespace klv::test {

struct KlvripResult {
  int code = -1;  // the exit status; -1 when the program did not exit normally
  std::string out, err;
};

// Runs klvrip with `args`, standard output and standard error apart (kept
// in `folder` as "stdout" and "stderr"). With `demo_data` the shipped data
// folder (demo printers, profiles) is on KLV_PATH; otherwise the test's own
// environment is passed on unchanged.
KlvripResult run_klvrip(const std::string& folder, const std::vector<std::string>& args,
                        bool demo_data = true);

}  // namespace klv::test
