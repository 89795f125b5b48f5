// SPDX-License-Identifier: MIT
// Loading profile files through the shared block cache.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "klv/img.h"
#include "klv/kernel.h"
#include "klv/kernel_memres.h"
#include "support/files.h"

namespace {

class ProfileLoad : public ::testing::Test {
 protected:
  void TearDown() override { Memres_Flush(); }
  std::string write(const char* name, const std::string& bytes) {
    return scratch_.write(name, bytes);
  }
  klv::test::ScratchFolder scratch_{"profile"};
  const std::string dir_ = scratch_.str();
};

TEST_F(ProfileLoad, MissingFileLeavesNoCacheEntry) {
  Memres_Flush();
  int32_t before = Memres_Count();
  EXPECT_EQ(load_image_profile(nullptr, (dir_ + "/missing.icc").c_str()), nullptr);
  EXPECT_EQ(Memres_Count(), before);
  EXPECT_EQ(load_image_profile(nullptr, nullptr), nullptr);
}

TEST_F(ProfileLoad, SecondLoadSharesTheBlock) {
  std::string path = write("sRGB test.icc", std::string("0123456789abcdef", 16));
  image_profile* a = load_image_profile(nullptr, path.c_str());
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->size, 16u);
  EXPECT_EQ(std::memcmp(a->data, "0123456789abcdef", 16), 0);
  image_profile* b = load_image_profile(nullptr, path.c_str());
  EXPECT_EQ(a, b);
  checkin_image_profile(a);
  checkin_image_profile(b);
  // Still cached after both uses went back.
  image_profile* c = load_image_profile(nullptr, path.c_str());
  EXPECT_EQ(c, a);
  checkin_image_profile(c);
}

TEST_F(ProfileLoad, KeyNamesTheFileAndChangesWithIt) {
  std::string path = write("Probe.icc", "abc");
  char key1[96], key2[96];
  image_profile_cache_key(nullptr, path.c_str(), key1);
  EXPECT_EQ(std::strncmp(key1, "ImgICC~", 7), 0);
  EXPECT_NE(std::strstr(key1, "~Probe~.icc"), nullptr);
  EXPECT_LE(std::strlen(key1), 80u);
  write("Probe.icc", "abcdefgh");  // a different size gives a different identity
  image_profile_cache_key(nullptr, path.c_str(), key2);
  EXPECT_STRNE(key1, key2);
  // The same name in another folder is another key.
  std::string other = dir_ + "/sub";
  ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
  std::string path2 = other + "/Probe.icc";
  std::rename(path.c_str(), path2.c_str());
  write("Probe.icc", "abcdefgh");
  char key3[96];
  image_profile_cache_key(nullptr, path2.c_str(), key3);
  EXPECT_STRNE(key2, key3);
}

TEST_F(ProfileLoad, EmptyFileGivesAnEmptyBlock) {
  std::string path = write("empty.icc", "");
  image_profile* p = load_image_profile(nullptr, path.c_str());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->size, 0u);
  checkin_image_profile(p);
}

}  // namespace
