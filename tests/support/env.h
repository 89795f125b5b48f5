// SPDX-License-Identifier: MIT
// An environment variable set (or removed) for the life of an object.
#pragma once

#include <optional>
#include <string>

namespace klv::test {

class ScopedEnv {
 public:
  // Sets `name` to `value`, or removes it when `value` is null.
  ScopedEnv(const char* name, const char* value);
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace klv::test
