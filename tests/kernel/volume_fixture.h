// SPDX-License-Identifier: MIT
// The fixture of the volume tests: a scratch folder and whole-member reading
// and writing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "klv/kernel.h"
#include "support/files.h"
#include "support/image.h"

namespace klv::test {

class VolumeFixture : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.path(name); }

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

  ScratchFolder scratch_{"volume"};
  const std::string dir_ = scratch_.str();
};

}  // namespace klv::test
