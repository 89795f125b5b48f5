// SPDX-License-Identifier: MIT
// The registry file: where it is found, environment overrides, and writing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "klv/registry.h"
#include "klv/kernel_settings.h"
#include "support/env.h"
#include "support/files.h"

namespace {

using klv::test::read_text;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

std::string registry_path() {
  char buf[1024];
  return klv_registry_path(buf, sizeof buf) > 0 ? buf : "";
}

TEST(Registry, FileLookupOrder) {
  ScratchFolder dir;
  {
    ScopedEnv reg("KLV_REGISTRY", dir.path("explicit.info"));
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.path("explicit.info"));
  }
  {
    ScopedEnv reg("KLV_REGISTRY", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.path("klv/Registry.info"));
  }
  {
    ScopedEnv reg("KLV_REGISTRY", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.path(".config/klv/Registry.info"));
    // The folders are made on the first write.
    EXPECT_EQ(klv_registry_set_int("MultiThreadedProcess", 1), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.path(".config/klv/Registry.info")));
    EXPECT_EQ(klv_registry_get_int("MultiThreadedProcess", 0), 1);
  }
  char small[4];
  EXPECT_EQ(klv_registry_path(small, sizeof small), -1);
}

TEST(Registry, ValuesAndOverrides) {
  ScratchFolder dir;
  ScopedEnv reg("KLV_REGISTRY",
                dir.write("Registry.info",
                          "Registry {\n  serverrequesttimeout { 30 }\n  Name { \"C:\\A b\" }\n"
                          "  Hex { 0x10 }\n  Bad { ten }\n}\n"));
  ScopedEnv clear("ServerRequestTimeout", nullptr);
  EXPECT_EQ(klv_registry_get_int("ServerRequestTimeout", 5), 30);  // case ignored
  EXPECT_EQ(klv_registry_get_int("Hex", 0), 16);
  EXPECT_EQ(klv_registry_get_int("Bad", 7), 7);
  EXPECT_EQ(klv_registry_get_int("Missing", -1), -1);
  char buf[32];
  EXPECT_EQ(klv_registry_get_string("Name", buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "C:\\A b");
  EXPECT_EQ(klv_registry_get_string("Missing", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  {
    ScopedEnv over("ServerRequestTimeout", "60");
    EXPECT_EQ(klv_registry_get_int("ServerRequestTimeout", 5), 60);
  }
  {
    ScopedEnv over("ServerRequestTimeout", "soon");  // not a number: the fallback
    EXPECT_EQ(klv_registry_get_int("ServerRequestTimeout", 5), 5);
  }
}

TEST(Registry, SetKeepsOtherValues) {
  ScratchFolder dir;
  std::string path = dir.write("Registry.info", "Registry { Keep { \"x y\" } Timeout { 1 } }\n");
  ScopedEnv reg("KLV_REGISTRY", path);
  EXPECT_EQ(klv_registry_set_int("TIMEOUT", 45), 1);
  EXPECT_EQ(klv_registry_set_string("Folder", "/srv/klv data"), 1);
  EXPECT_EQ(
      read_text(path),
      "Registry {\n  Keep { \"x y\" }\n  TIMEOUT { 45 }\n  Folder { \"/srv/klv data\" }\n}\n");
  EXPECT_EQ(klv_registry_get_int("timeout", 0), 45);
  EXPECT_EQ(dir.entries(), 1u);
}

TEST(Registry, UnreadableFileIsNotOverwritten) {
  ScratchFolder dir;
  const std::string broken = "Registry { Keep { 1 } Other { \"unterminated }\n";
  std::string path = dir.write("Registry.info", broken);
  ScopedEnv reg("KLV_REGISTRY", path);
  EXPECT_EQ(klv_registry_get_int("Keep", 9), 9);
  EXPECT_EQ(klv_registry_set_int("Keep", 2), 0);
  EXPECT_EQ(read_text(path), broken);
}

TEST(Registry, MissingFileAndNullNames) {
  ScratchFolder dir;
  ScopedEnv reg("KLV_REGISTRY", dir.path("absent.info"));
  EXPECT_EQ(klv_registry_get_int("X", 3), 3);
  EXPECT_EQ(klv_registry_get_int(nullptr, 3), 3);
  EXPECT_EQ(klv_registry_get_string(nullptr, nullptr, 0), 0);
  EXPECT_EQ(klv_registry_set_int(nullptr, 1), 0);
  EXPECT_EQ(klv_registry_set_string("", "x"), 0);
}

}  // namespace
