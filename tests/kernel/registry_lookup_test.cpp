// SPDX-License-Identifier: MIT
// The registry file: where it is found, environment overrides, and writing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "klv/registry.h"
#include "settings_test_util.h"

namespace {

using klv_test::ScratchDir;

// Sets (or unsets, with nullopt) an environment variable for one test.
class EnvVar {
 public:
  EnvVar(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~EnvVar() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string registry_path() {
  char buf[1024];
  return klv_registry_path(buf, sizeof buf) > 0 ? buf : "";
}

TEST(Registry, FileLookupOrder) {
  ScratchDir dir;
  {
    EnvVar reg("KLV_REGISTRY", dir.file("explicit.info"));
    EnvVar xdg("XDG_CONFIG_HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.file("explicit.info"));
  }
  {
    EnvVar reg("KLV_REGISTRY", std::nullopt);
    EnvVar xdg("XDG_CONFIG_HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.file("klv/Registry.info"));
  }
  {
    EnvVar reg("KLV_REGISTRY", "");
    EnvVar xdg("XDG_CONFIG_HOME", std::nullopt);
    EnvVar home("HOME", dir.path());
    EXPECT_EQ(registry_path(), dir.file(".config/klv/Registry.info"));
    // The folders are made on the first write.
    EXPECT_EQ(klv_registry_set_int("MultiThreadedProcess", 1), 1);
    EXPECT_TRUE(std::filesystem::exists(dir.file(".config/klv/Registry.info")));
    EXPECT_EQ(klv_registry_get_int("MultiThreadedProcess", 0), 1);
  }
  char small[4];
  EXPECT_EQ(klv_registry_path(small, sizeof small), -1);
}

TEST(Registry, ValuesAndOverrides) {
  ScratchDir dir;
  EnvVar reg("KLV_REGISTRY",
             dir.write("Registry.info",
                       "Registry {\n  serverrequesttimeout { 30 }\n  Name { \"C:\\A b\" }\n"
                       "  Hex { 0x10 }\n  Bad { ten }\n}\n"));
  EnvVar clear("ServerRequestTimeout", std::nullopt);
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
    EnvVar over("ServerRequestTimeout", "60");
    EXPECT_EQ(klv_registry_get_int("ServerRequestTimeout", 5), 60);
  }
  {
    EnvVar over("ServerRequestTimeout", "soon");  // not a number: the fallback
    EXPECT_EQ(klv_registry_get_int("ServerRequestTimeout", 5), 5);
  }
}

TEST(Registry, SetKeepsOtherValues) {
  ScratchDir dir;
  std::string path = dir.write("Registry.info", "Registry { Keep { \"x y\" } Timeout { 1 } }\n");
  EnvVar reg("KLV_REGISTRY", path);
  EXPECT_EQ(klv_registry_set_int("TIMEOUT", 45), 1);
  EXPECT_EQ(klv_registry_set_string("Folder", "/srv/klv data"), 1);
  EXPECT_EQ(
      ScratchDir::read(path),
      "Registry {\n  Keep { \"x y\" }\n  TIMEOUT { 45 }\n  Folder { \"/srv/klv data\" }\n}\n");
  EXPECT_EQ(klv_registry_get_int("timeout", 0), 45);
  EXPECT_EQ(dir.entries(), 1u);
}

TEST(Registry, UnreadableFileIsNotOverwritten) {
  ScratchDir dir;
  const std::string broken = "Registry { Keep { 1 } Other { \"unterminated }\n";
  std::string path = dir.write("Registry.info", broken);
  EnvVar reg("KLV_REGISTRY", path);
  EXPECT_EQ(klv_registry_get_int("Keep", 9), 9);
  EXPECT_EQ(klv_registry_set_int("Keep", 2), 0);
  EXPECT_EQ(ScratchDir::read(path), broken);
}

TEST(Registry, MissingFileAndNullNames) {
  ScratchDir dir;
  EnvVar reg("KLV_REGISTRY", dir.file("absent.info"));
  EXPECT_EQ(klv_registry_get_int("X", 3), 3);
  EXPECT_EQ(klv_registry_get_int(nullptr, 3), 3);
  EXPECT_EQ(klv_registry_get_string(nullptr, nullptr, 0), 0);
  EXPECT_EQ(klv_registry_set_int(nullptr, 1), 0);
  EXPECT_EQ(klv_registry_set_string("", "x"), 0);
}

}  // namespace
