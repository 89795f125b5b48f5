// SPDX-License-Identifier: MIT
// klvscreens FOLDER [--builtin-only]: writes the shipped screen files into
// FOLDER: the four built-in 16-bit screens ("Builtin0.HTS" .. "Builtin3.HTS")
// and the variable-dot threshold screens ("VarDot.HTS"). The files come from
// the same code the library computes them with; the tests compare the shipped
// files with it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "halftone/placement_builtin.h"

namespace {

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "klvscreens: %s cannot be created\n", path.c_str());
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "klvscreens: %s cannot be written\n", path.c_str());
    return false;
  }
  std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--builtin-only") != 0)) {
    std::fprintf(stderr, "usage: klvscreens FOLDER [--builtin-only]\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 4; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, klv::halftone::kBuiltinScreenName, i);
    if (!klv::halftone::BuiltinScreenFile(i, bytes) || !write_file(folder + "/" + name, bytes))
      return 1;
  }
  if (argc == 3) return 0;
  if (!klv::halftone::VarDotScreenFile(bytes) ||
      !write_file(folder + "/" + klv::halftone::kVarDotScreenName, bytes))
    return 1;
  return 0;
}
