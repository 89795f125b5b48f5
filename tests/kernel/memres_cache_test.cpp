// SPDX-License-Identifier: MIT
// The shared block cache: checkout, filing, undo, checkin, eviction, and
// concurrent checkouts of one key.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "klv/kernel_memres.h"
#include "klv/platform.h"

namespace {

std::atomic<int> g_released{0};

int32_t release_block(void* block) {
  ++g_released;
  std::free(block);
  return 0;
}

class MemresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Memres_Flush();
    budget_ = Memres_SetBudget(MEMRES_DEFAULT_BUDGET);
    g_released = 0;
  }
  void TearDown() override {
    Memres_Flush();
    Memres_SetBudget(budget_);
  }
  // Checks out `key`, loading a fresh block of `size` bytes when it is not cached.
  static void* get(const char* key, size_t size = 16) {
    void* slot = nullptr;
    void* block = Memres_Checkout(key, release_block, &slot);
    if (block) {
      EXPECT_EQ(slot, nullptr);
      return block;
    }
    EXPECT_NE(slot, nullptr);
    return Memres_SetCheckoutSized(&slot, std::calloc(1, size), size);
  }
  size_t budget_ = 0;
};

TEST_F(MemresTest, MissReservesThenHitSharesTheBlock) {
  void* slot = reinterpret_cast<void*>(1);
  EXPECT_EQ(Memres_Checkout("memres.a", release_block, &slot), nullptr);
  ASSERT_NE(slot, nullptr);
  void* block = std::malloc(8);
  EXPECT_EQ(Memres_SetCheckout(&slot, block), block);
  EXPECT_EQ(slot, nullptr);

  void* again = Memres_Checkout("memres.a", release_block, &slot);
  EXPECT_EQ(again, block);
  EXPECT_EQ(slot, nullptr);

  // Two uses out: both checkins succeed, the block stays cached afterwards.
  EXPECT_EQ(Memres_Checkin(block), 0);
  EXPECT_EQ(Memres_Checkin(block), 0);
  EXPECT_EQ(Memres_Checkin(block), -1);  // one checkin too many
  EXPECT_EQ(g_released, 0);
  EXPECT_EQ(Memres_Checkout("memres.a", release_block, &slot), block);
  EXPECT_EQ(Memres_Checkin(block), 0);

  Memres_Flush();
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(Memres_Checkout("memres.a", release_block, &slot), nullptr);
  EXPECT_NE(slot, nullptr);  // gone: a new load is asked for
  Memres_UndoCheckout(&slot);
}

TEST_F(MemresTest, FlushKeepsBlocksInUse) {
  void* used = get("memres.used");
  void* idle = get("memres.idle");
  Memres_Checkin(idle);
  Memres_Flush();
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(Memres_Count(), 1);
  Memres_Checkin(used);
  Memres_Flush();
  EXPECT_EQ(g_released, 2);
  EXPECT_EQ(Memres_Count(), 0);
}

TEST_F(MemresTest, UndoLetsTheNextCallerLoad) {
  void* slot = nullptr;
  EXPECT_EQ(Memres_Checkout("memres.undo", release_block, &slot), nullptr);
  ASSERT_NE(slot, nullptr);
  Memres_UndoCheckout(&slot);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Memres_Count(), 0);
  EXPECT_EQ(Memres_Checkout("memres.undo", release_block, &slot), nullptr);
  EXPECT_NE(slot, nullptr);
  // Filing a null block ends the reservation like an undo.
  EXPECT_EQ(Memres_SetCheckout(&slot, nullptr), nullptr);
  EXPECT_EQ(Memres_Count(), 0);
}

TEST_F(MemresTest, RefusesBadArguments) {
  void* slot = reinterpret_cast<void*>(1);
  EXPECT_EQ(Memres_Checkout(nullptr, release_block, &slot), nullptr);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Memres_Checkout("memres.x", nullptr, &slot), nullptr);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Memres_Checkout("memres.x", release_block, nullptr), nullptr);
  EXPECT_EQ(Memres_SetCheckout(nullptr, &slot), nullptr);
  EXPECT_EQ(Memres_SetCheckout(&slot, &slot), nullptr);  // slot null: no reservation
  Memres_UndoCheckout(nullptr);
  Memres_UndoCheckout(&slot);
  EXPECT_EQ(Memres_Checkin(nullptr), -1);
  int not_cached = 0;
  EXPECT_EQ(Memres_Checkin(&not_cached), -1);
  EXPECT_EQ(Memres_Count(), 0);
}

TEST_F(MemresTest, SameBlockUnderSecondKeyIsRefused) {
  void* block = get("memres.first");
  void* slot = nullptr;
  EXPECT_EQ(Memres_Checkout("memres.second", release_block, &slot), nullptr);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(Memres_SetCheckout(&slot, block), nullptr);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(Memres_Count(), 1);
  Memres_Checkin(block);
}

TEST_F(MemresTest, LoaderCheckingOutItsOwnKeyDoesNotWait) {
  void* slot = nullptr;
  EXPECT_EQ(Memres_Checkout("memres.self", release_block, &slot), nullptr);
  ASSERT_NE(slot, nullptr);
  void* second_slot = reinterpret_cast<void*>(1);
  EXPECT_EQ(Memres_Checkout("memres.self", release_block, &second_slot), nullptr);
  EXPECT_EQ(second_slot, nullptr);
  Memres_UndoCheckout(&slot);
}

TEST_F(MemresTest, EvictsLeastRecentlyUsedOverBudget) {
  Memres_SetBudget(250);
  const char* keys[] = {"memres.e0", "memres.e1", "memres.e2"};
  void* blocks[3];
  for (int i = 0; i < 3; ++i) blocks[i] = get(keys[i], 100);
  // 300 bytes, all in use: nothing can go.
  EXPECT_EQ(Memres_Count(), 3);
  Memres_Checkin(blocks[0]);
  Memres_Checkin(blocks[1]);
  EXPECT_EQ(g_released, 1);  // e0 went first to get back under 250
  EXPECT_EQ(Memres_Count(), 2);
  Memres_Checkin(blocks[2]);  // unused now, most recent first: e2, e1
  EXPECT_EQ(Memres_Count(), 2);
  // Using e1 again makes it the most recent; e2 becomes the older unused one.
  EXPECT_EQ(get(keys[1]), blocks[1]);
  Memres_Checkin(blocks[1]);
  void* slot = nullptr;
  void* e3 = get("memres.e3", 100);  // 300 again: the least recently used unused block goes
  EXPECT_EQ(Memres_Checkout(keys[1], release_block, &slot), blocks[1]);
  Memres_Checkin(blocks[1]);
  EXPECT_EQ(Memres_Checkout(keys[2], release_block, &slot), nullptr);
  EXPECT_NE(slot, nullptr);
  Memres_UndoCheckout(&slot);
  EXPECT_EQ(g_released, 2);

  // A budget of 0 keeps nothing unused, even blocks filed without a size.
  Memres_SetBudget(0);
  EXPECT_EQ(Memres_Count(), 1);  // e3 is still checked out
  EXPECT_EQ(Memres_Checkin(e3), 0);
  EXPECT_EQ(Memres_Count(), 0);
}

TEST_F(MemresTest, ManyUnusedSizelessBlocksAreBounded) {
  for (int i = 0; i < 300; ++i) {
    std::string key = "memres.n" + std::to_string(i);
    void* slot = nullptr;
    ASSERT_EQ(Memres_Checkout(key.c_str(), release_block, &slot), nullptr);
    void* block = Memres_SetCheckout(&slot, std::malloc(4));
    Memres_Checkin(block);
  }
  EXPECT_LE(Memres_Count(), 256);
  EXPECT_EQ(g_released, 300 - Memres_Count());
}

// Many threads check out one key at once. The loader files its block only
// once every thread has come to its checkout, so the others either wait for
// the load or find the filed block: exactly one load must happen and every
// thread must get that block, whatever the order.
TEST_F(MemresTest, ConcurrentCheckoutsLoadOnce) {
  constexpr int kThreads = 8;
  std::atomic<int> loads{0}, arrived{0};
  klv::platform::Event all_arrived;
  std::vector<void*> got(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      if (++arrived == kThreads) all_arrived.Set();
      void* slot = nullptr;
      void* block = Memres_Checkout("memres.shared", release_block, &slot);
      if (!block && slot) {
        ++loads;
        all_arrived.Wait();
        block = Memres_SetCheckoutSized(&slot, std::malloc(64), 64);
      }
      got[t] = block;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(loads, 1);
  for (void* b : got) EXPECT_EQ(b, got[0]);
  ASSERT_NE(got[0], nullptr);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(Memres_Checkin(got[t]), 0);
  EXPECT_EQ(Memres_Checkin(got[0]), -1);
}

// A loader that gives up hands the key to one of the waiting threads.
TEST_F(MemresTest, WaitersTakeOverAfterUndo) {
  void* slot = nullptr;
  ASSERT_EQ(Memres_Checkout("memres.handover", release_block, &slot), nullptr);
  ASSERT_NE(slot, nullptr);
  std::atomic<int> loads{0}, arrived{0};
  klv::platform::Event all_arrived;
  std::vector<void*> got(4, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      if (++arrived == 4) all_arrived.Set();
      void* my_slot = nullptr;
      void* block = Memres_Checkout("memres.handover", release_block, &my_slot);
      if (!block && my_slot) {
        ++loads;
        block = Memres_SetCheckout(&my_slot, std::malloc(4));
      }
      got[t] = block;
    });
  }
  // Given up once every thread has come to its checkout: each then waits for
  // the key or, arriving after the undo, reserves it or finds it filed.
  all_arrived.Wait();
  Memres_UndoCheckout(&slot);
  for (auto& th : threads) th.join();
  EXPECT_EQ(loads, 1);
  for (void* b : got) {
    EXPECT_EQ(b, got[0]);
    Memres_Checkin(b);
  }
}

// Checkouts, checkins and evictions of a few keys from several threads under
// a small budget: every block handed out stays valid while it is held.
TEST_F(MemresTest, StressUnderSmallBudget) {
  Memres_SetBudget(3 * 32);
  std::vector<std::thread> threads;
  std::atomic<int> loads{0};
  std::atomic<bool> bad{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        int k = (i * 7 + t) % 6;
        std::string key = "memres.s" + std::to_string(k);
        void* slot = nullptr;
        void* block = Memres_Checkout(key.c_str(), release_block, &slot);
        if (!block && slot) {
          ++loads;
          auto* fresh = static_cast<int*>(std::malloc(32));
          *fresh = k;
          block = Memres_SetCheckoutSized(&slot, fresh, 32);
        }
        if (!block || *static_cast<int*>(block) != k) bad = true;
        if (block) Memres_Checkin(block);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_FALSE(bad);
  Memres_Flush();
  EXPECT_EQ(g_released, loads.load());
  EXPECT_EQ(Memres_Count(), 0);
}

}  // namespace
