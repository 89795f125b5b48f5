// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <stdexcept>
#include <string>

#include "klv/platform.h"

namespace klv::platform {
namespace {

std::string CurrentThreadName() {
  char name[64] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

TEST(Thread, RunsAndJoins) {
  std::atomic<int> runs{0};
  Thread thread("worker");
  EXPECT_FALSE(thread.Joinable());
  ASSERT_TRUE(thread.Start([&] { ++runs; }));
  EXPECT_TRUE(thread.Joinable());
  thread.Join();
  EXPECT_FALSE(thread.Joinable());
  EXPECT_EQ(runs.load(), 1);
  thread.Join();  // a second join does nothing
}

TEST(Thread, DestructorJoins) {
  std::atomic<bool> finished{false};
  {
    Thread thread("slow");
    ASSERT_TRUE(thread.Start([&] {
      Sleep(20);
      finished = true;
    }));
  }
  EXPECT_TRUE(finished.load());
}

TEST(Thread, StartWhileJoinableIsRefusedAndRestartAfterJoinWorks) {
  Event release;
  std::atomic<int> runs{0};
  Thread thread("twice");
  ASSERT_TRUE(thread.Start([&] {
    release.Wait();
    ++runs;
  }));
  EXPECT_FALSE(thread.Start([&] { ++runs; }));
  release.Set();
  thread.Join();
  ASSERT_TRUE(thread.Start([&] { ++runs; }));
  thread.Join();
  EXPECT_EQ(runs.load(), 2);
}

TEST(Thread, EmptyFunctionIsRefused) {
  Thread thread("empty");
  EXPECT_FALSE(thread.Start(nullptr));
  EXPECT_FALSE(thread.Joinable());
}

TEST(Thread, NameIsSetAndCutTo15BytesAtACharacterBoundary) {
  struct Case {
    std::string given;
    std::string kept;
  };
  const Case cases[] = {
      {"short", "short"},
      {"exactly15chars_", "exactly15chars_"},
      {"halftone-separation-3", "halftone-separa"},
      // "é" is two bytes at offsets 14 and 15: it does not fit and is dropped whole.
      {"abcdefghijklmn\xC3\xA9xyz", "abcdefghijklmn"},
  };
  for (const Case& c : cases) {
    std::string seen;
    Thread thread(c.given);
    ASSERT_TRUE(thread.Start([&] { seen = CurrentThreadName(); }));
    thread.Join();
    EXPECT_EQ(seen, c.kept) << c.given;
  }
}

// An exception escaping the worker must not end the process (std::thread would
// call std::terminate); it is logged and the thread still joins.
TEST(Thread, ExceptionInWorkerIsContained) {
  Thread thread("thrower");
  ASSERT_TRUE(thread.Start([] { throw std::runtime_error("worker failed"); }));
  thread.Join();
  EXPECT_FALSE(thread.Joinable());
}

TEST(Thread, JoinFromTheWorkerItselfDoesNotDeadlock) {
  Event started, done;
  auto thread = std::make_unique<Thread>("self");
  Thread* self = thread.get();
  ASSERT_TRUE(thread->Start([&] {
    started.Wait();  // Start has stored the thread
    self->Join();
    done.Set();
  }));
  started.Set();
  ASSERT_TRUE(done.Wait(5000));
  EXPECT_FALSE(thread->Joinable());
}

}  // namespace
}  // namespace klv::platform
