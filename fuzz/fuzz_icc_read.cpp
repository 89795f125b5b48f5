// SPDX-License-Identifier: MIT
// Reads arbitrary bytes as an ICC profile (whole and text-only), saves what
// was read and reads that again: the second save must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "klv/icc_cxx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CKlvLibIccTextProfile text;
  text.Load(data, size);
  GetIccProfileMemColorSpace(data, size);

  CKlvLibIccProfile first;
  if (!first.Load(data, size)) return 0;
  first.Description();
  const std::vector<uint8_t> saved = first.ToBytes();
  if (saved.empty()) return 0;
  CKlvLibIccProfile second;
  if (!second.Load(saved.data(), saved.size())) std::abort();
  if (second.ToBytes() != saved) std::abort();
  return 0;
}
