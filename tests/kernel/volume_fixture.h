// SPDX-License-Identifier: MIT
// Shared helpers of the volume tests: a scratch folder and byte patterns.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "klv/kernel.h"

namespace klv_test {

// A byte pattern that differs between neighbouring chunks and between seeds.
inline std::vector<uint8_t> pattern_bytes(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

class ScratchDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/klv-voltest-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Writes a whole member; true when every byte went in and it closed cleanly.
  static bool put(SOVolume* v, const char* name, const std::vector<uint8_t>& data) {
    SFilemux* f = Ovfopen(v, name, "wb");
    if (!f) return false;
    bool ok = data.empty() || Owrite(f, data.data(), data.size()) == data.size();
    return Oclose(f) == 0 && ok;
  }
  // Reads a whole member, or gives false when it cannot be opened.
  static bool get(SOVolume* v, const char* name, std::vector<uint8_t>* data) {
    SFilemux* f = Ovfopen(v, name, "rb");
    if (!f) return false;
    int64_t len = Ofileleni64(f);
    data->assign(static_cast<size_t>(len < 0 ? 0 : len), 0);
    bool ok = len >= 0 && (data->empty() || Oread(f, data->data(), data->size()) == data->size());
    return Oclose(f) == 0 && ok;
  }

  std::string dir_;
};

}  // namespace klv_test
