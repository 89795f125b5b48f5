// SPDX-License-Identifier: MIT
// Ink restriction reader on arbitrary bytes, then every curve evaluated.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "klv/inkrestrict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_inkrestrict_" + std::to_string(getpid()) + ".xml";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  auto file = kelv::inkrestrict::InkRestrictFile::ReadFile(nullptr, path.c_str());
  if (file) {
    for (int c = 0; c < file->getChannelCount(); ++c)
      for (const auto& curve : file->getChannelSeps(c)->getSeps())
        for (float x : {-10.f, 0.f, 33.3f, 50.f, 100.f, 150.f}) (void)curve->getValue(x);
    (void)file->toText();
  }
  std::remove(path.c_str());
  return 0;
}
