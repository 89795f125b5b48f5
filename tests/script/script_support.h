// SPDX-License-Identifier: MIT
// Runs script texts for the interpreter tests: the built-in commands plus a
// few test commands that record what ran.
#pragma once

#include <string>
#include <vector>

#include "klv/script.h"

namespace klv::test {

struct ScriptRun {
  int32_t result = -1;
  std::string trace;  // the words of every Say command, joined by blanks
  std::string error;  // interp_error after the run
  int32_t error_line = 0;
  std::vector<int32_t> numbers;
  std::vector<std::string> strings;
  int64_t steps = 0;
};

// Runs `text` (a braced block) with interp_file in statement mode, or in
// condition mode when `cond`. Limits with 0 fields keep the defaults.
ScriptRun run_script(const std::string& text, bool cond = false, const INTERP_LIMITS& limits = {});

}  // namespace klv::test
