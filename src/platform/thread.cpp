// SPDX-License-Identifier: MIT
// Named worker threads that are always joined.
#include <pthread.h>

#include <exception>
#include <system_error>

#include "klv/log.h"
#include "klv/platform.h"

namespace klv::platform {

namespace {

// The kernel keeps 15 bytes of a thread name; cut before a UTF-8 continuation
// byte so the kept name is still valid text.
std::string ShortName(const std::string& name) {
  constexpr size_t kMax = 15;
  if (name.size() <= kMax) return name;
  size_t end = kMax;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

}  // namespace

Thread::Thread(std::string name) : name_(std::move(name)) {}

Thread::~Thread() {
  Join();
}

void Thread::SetCurrentName(const std::string& name) {
  if (name.empty()) return;
  pthread_setname_np(pthread_self(), ShortName(name).c_str());
}

bool Thread::Start(std::function<void()> fn) {
  if (thread_.joinable()) {
    KLV_LOG(KLV_LOG_ERROR, "thread \"%s\" started while it is still running", name_.c_str());
    return false;
  }
  if (!fn) return false;
  try {
    thread_ = std::thread([name = name_, fn = std::move(fn)] {
      SetCurrentName(name);
      try {
        fn();
      } catch (const std::exception& e) {
        KLV_LOG(KLV_LOG_ERROR, "thread \"%s\" ended by an exception: %s", name.c_str(), e.what());
      } catch (...) {
        KLV_LOG(KLV_LOG_ERROR, "thread \"%s\" ended by an unknown exception", name.c_str());
      }
    });
  } catch (const std::system_error& e) {
    KLV_LOG(KLV_LOG_ERROR, "cannot start thread \"%s\": %s", name_.c_str(), e.what());
    return false;
  }
  return true;
}

void Thread::Join() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    KLV_LOG(KLV_LOG_ERROR, "thread \"%s\" asked to join itself; detached", name_.c_str());
    thread_.detach();
    return;
  }
  try {
    thread_.join();
  } catch (const std::system_error& e) {
    KLV_LOG(KLV_LOG_ERROR, "cannot join thread \"%s\": %s", name_.c_str(), e.what());
  }
}

}  // namespace klv::platform
