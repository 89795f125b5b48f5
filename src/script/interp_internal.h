// SPDX-License-Identifier: MIT
// The interpreter object behind an INTERP handle, shared by the files of
// src/script.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "klv/script.h"

struct INTERP {
  SFPARSE* fp = nullptr;
  std::vector<INTERP_CMD> table;  // sorted by name, letter case ignored
  void* host = nullptr;
  std::vector<std::string> strings;  // each at most str_length - 1 bytes of text
  int32_t str_length = 0;            // common buffer length in bytes
  std::vector<int32_t> numbers;
  INTERP_LIMITS limits{};
  int64_t steps = 0;
  int32_t depth = 0;  // nested runs in progress
  bool faulted = false;
  int32_t fault_line = 0;
  std::string fault;
};

namespace klv::script {

// Records the first fault (later ones are ignored) and logs it. Always false.
bool fault(INTERP* ip, int32_t line, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Counts one step; false (with a fault) once the budget is spent.
bool step(INTERP* ip, int32_t line);
// The table entry named `name`, or null.
const INTERP_CMD* find_command(const INTERP* ip, const char* name);
// Reads the block that comes next in the reader (see interp_file); null on a fault.
INTERP_LIST* read_block(INTERP* ip);
// The tokens of a list, nested lists flattened.
std::vector<const char*> flatten(const INTERP_LIST* list);

}  // namespace klv::script
