// SPDX-License-Identifier: MIT
// The index reader over damaged text: the fuzz seeds with bytes changed,
// dropped and repeated. Each either fails cleanly or gives an index whose
// written form reads back.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "klv/log.h"
#include "klv/proflib.h"
#include "support/files.h"
#include "support/log_capture.h"

namespace {

TEST(ProfLibIndexMutation, DamagedIndexesFailCleanlyOrReadBack) {
  const std::string corpus = KLV_TEST_DATA "/../../fuzz/corpus/fuzz_proflib_index";
  std::vector<std::string> seeds;
  for (const auto& e : std::filesystem::directory_iterator(corpus))
    seeds.push_back(klv::test::read_text(e.path().string()));
  ASSERT_GE(seeds.size(), 3u);
  klv::test::ScratchFolder dir("proflib");
  const std::string out = dir.path("index.txt");
  klv::test::LogCapture log;
  std::mt19937 random(11);
  const char kBytes[] = "{}~\" \n0aZ\x01";
  int parsed = 0;
  for (int round = 0; round < 500; ++round) {
    std::string text = seeds[random() % seeds.size()];
    for (int edits = 1 + random() % 4; edits > 0 && !text.empty(); --edits) {
      const size_t at = random() % text.size();
      switch (random() % 3) {
        case 0:
          text[at] = kBytes[random() % (sizeof kBytes - 1)];
          break;
        case 1:
          text.erase(at, 1 + random() % 8);
          break;
        default:
          text.insert(at, text.substr(at, 1 + random() % 40));
          break;
      }
    }
    PL_INDEX* index = PL_index_parse(text.data(), static_cast<int32_t>(text.size()));
    if (!index) continue;
    ++parsed;
    ASSERT_EQ(PL_index_save(nullptr, out.c_str(), index), PL_OK);
    PL_index_free(index);
    const std::string written = klv::test::read_text(out);
    PL_INDEX* again = PL_index_parse(written.data(), static_cast<int32_t>(written.size()));
    ASSERT_NE(again, nullptr) << "from:\n" << text << "\nwritten:\n" << written;
    PL_index_free(again);
  }
  EXPECT_GT(parsed, 20);
}

}  // namespace
