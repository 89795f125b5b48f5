// SPDX-License-Identifier: MIT
// Dynamic libraries: an owner of one dlopen handle.
#include <dlfcn.h>

#include <algorithm>

#include "klv/platform.h"

namespace klv::platform {

namespace {

// The loader's text for the failure just seen (dlerror is per thread, so this
// must be read right after the failing call).
std::string LoaderError(const char* fallback) {
  const char* text = dlerror();
  return text ? std::string(text) : std::string(fallback);
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), error_(std::move(other.error_)) {
  other.handle_ = nullptr;
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    other.handle_ = nullptr;
  }
  return *this;
}

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  path_ = path;
  std::replace(path_.begin(), path_.end(), '\\', '/');
  if (path_.empty()) {
    error_ = "no library name given";
    return false;
  }
  dlerror();
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    error_ = LoaderError("cannot load library");
    return false;
  }
  error_.clear();
  return true;
}

void* DynamicLibrary::Symbol(const char* name) {
  if (!handle_) {
    error_ = "library is not open";
    return nullptr;
  }
  if (!name || !*name) {
    error_ = "no symbol name given";
    return nullptr;
  }
  dlerror();
  void* address = dlsym(handle_, name);
  if (!address) {
    error_ = LoaderError("symbol not found");
    return nullptr;
  }
  error_.clear();
  return address;
}

bool DynamicLibrary::Close() {
  if (!handle_) return true;
  void* handle = handle_;
  handle_ = nullptr;
  dlerror();
  if (dlclose(handle) != 0) {
    error_ = LoaderError("cannot unload library");
    return false;
  }
  error_.clear();
  return true;
}

}  // namespace klv::platform
