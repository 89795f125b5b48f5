// SPDX-License-Identifier: MIT
// Events: manual- and auto-reset signals with wait-for-any.
//
// A single Wait sleeps on the event's own condition variable. WaitAny makes
// one waiter record on its stack and, under each event's lock in turn, either
// takes that event's signal or leaves a pointer to the record with the event.
// Set wakes every record left with it. Because looking at the state and
// registering happen under the same lock that Set takes, a Set that comes
// after the look always finds the record: no wake-up is lost and nobody polls.
#include <algorithm>
#include <chrono>

#include "klv/platform.h"

namespace klv::platform {

namespace detail {

// The shared record of one WaitAny call.
struct EventWaiter {
  std::mutex mutex;
  std::condition_variable wake;
  bool woken = false;

  void Notify() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      woken = true;
    }
    wake.notify_one();
  }
};

}  // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(int64_t timeout_ms) {
  if (timeout_ms < 0) return Clock::time_point::max();
  // Far-future timeouts are capped so the addition cannot overflow.
  constexpr int64_t kMaxMs = int64_t{1} << 40;
  return Clock::now() + std::chrono::milliseconds(std::min(timeout_ms, kMaxMs));
}

}  // namespace

Event::Event(Mode mode, bool initially_set) : mode_(mode), set_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = true;
  // Everybody is told; those that find the signal already taken sleep again.
  changed_.notify_all();
  for (detail::EventWaiter* waiter : waiters_) waiter->Notify();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

bool Event::Wait(int64_t timeout_ms) {
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  std::unique_lock<std::mutex> lock(mutex_);
  if (timeout_ms < 0) {
    changed_.wait(lock, [this] { return set_; });
  } else if (!changed_.wait_until(lock, deadline, [this] { return set_; })) {
    return false;
  }
  if (mode_ == Mode::kAutoReset) set_ = false;
  return true;
}

bool Event::TakeOrRegister(detail::EventWaiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (set_) {
    if (mode_ == Mode::kAutoReset) set_ = false;
    return true;
  }
  if (waiter) waiters_.push_back(waiter);
  return false;
}

void Event::Unregister(detail::EventWaiter* waiter) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
  if (it != waiters_.end()) waiters_.erase(it);
}

int Event::WaitAny(std::span<Event* const> events, int64_t timeout_ms) {
  if (std::none_of(events.begin(), events.end(), [](Event* e) { return e != nullptr; })) {
    return -1;
  }
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  detail::EventWaiter waiter;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(waiter.mutex);
      waiter.woken = false;
    }
    // Look at each event in order; stop at the first signal taken. Events
    // looked at before it have the record registered and must drop it.
    int taken = -1;
    size_t registered = 0;
    for (size_t i = 0; i < events.size(); ++i) {
      if (!events[i]) continue;
      if (events[i]->TakeOrRegister(&waiter)) {
        taken = static_cast<int>(i);
        break;
      }
      registered = i + 1;
    }
    if (taken < 0) {
      std::unique_lock<std::mutex> lock(waiter.mutex);
      if (timeout_ms < 0) {
        waiter.wake.wait(lock, [&] { return waiter.woken; });
      } else {
        waiter.wake.wait_until(lock, deadline, [&] { return waiter.woken; });
      }
    }
    for (size_t i = 0; i < registered; ++i) {
      if (events[i]) events[i]->Unregister(&waiter);
    }
    if (taken >= 0) return taken;
    // Woken or timed out: look once more, so a signal that arrived together
    // with the deadline is not missed, and a signal another waiter took first
    // sends this one back to sleep.
    if (timeout_ms >= 0 && Clock::now() >= deadline) {
      for (size_t i = 0; i < events.size(); ++i) {
        if (events[i] && events[i]->TakeOrRegister(nullptr)) return static_cast<int>(i);
      }
      return -1;
    }
  }
}

}  // namespace klv::platform
