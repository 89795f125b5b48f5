// SPDX-License-Identifier: MIT
// Helpers of the CMS tests: a type list written into a scratch "Server"
// folder that the service finds, an environment variable set for a scope,
// and a callback that records what it is told.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "icc_test_util.h"
#include "klv/cms.h"

namespace cms_test {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Everything the service said through the callback: (name, code) pairs.
struct Recorder {
  std::vector<std::pair<std::string, int32_t>> calls;
  static void callback(const char* name, int32_t code, double, void* cookie) {
    static_cast<Recorder*>(cookie)->calls.emplace_back(name ? name : "", code);
  }
  bool has_code(int32_t code) const {
    for (const auto& c : calls)
      if (c.second == code) return true;
    return false;
  }
  std::vector<std::string> names_with_code(int32_t code) const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.second == code) out.push_back(c.first);
    return out;
  }
};

// A CMSTypes.Info in a scratch folder that the Server search path points at.
// The service is stopped when the fixture ends.
class ServerFolder {
 public:
  explicit ServerFolder(const std::string& types_text)
      : env_("KLV_SERVER_PATH", dir_.path()), log_("KLV_LOG", dir_ / "log.txt") {
    if (!types_text.empty()) {
      std::ofstream out(dir_ / "CMSTypes.Info");
      out << types_text;
    }
  }
  ~ServerFolder() {
    setenv("KLV_FIXTURE_LET_GO", "1", 1);
    cms_terminate(nullptr, nullptr);
    unsetenv("KLV_FIXTURE_LET_GO");
  }
  std::string log() const {
    std::ifstream in(dir_ / "log.txt");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string path(const std::string& name) const { return dir_ / name; }

 private:
  icc_test::ScratchDir dir_;
  ScopedEnv env_;
  ScopedEnv log_;
};

// A CMMS record.
inline std::string record(const std::string& types, const std::string& cmm,
                          const std::string& apply, const std::string& build = "") {
  std::string r = "  CMMS {\n    Type { " + types + " }\n    CMM { " + cmm +
                  " }\n    ApplyDLL { \"" + apply + "\" }\n";
  if (!build.empty()) r += "    BuildDLL { \"" + build + "\" }\n";
  return r + "  }\n";
}

inline std::string types_file(const std::string& records) {
  return "CMS_Types {\n" + records + "}\n";
}

// The ".dll" name the type list would give for a built module: "x.so" -> "x.dll".
inline std::string as_dll(std::string so) {
  if (so.size() > 3 && so.compare(so.size() - 3, 3, ".so") == 0)
    so.replace(so.size() - 3, 3, ".dll");
  return so;
}

}  // namespace cms_test
