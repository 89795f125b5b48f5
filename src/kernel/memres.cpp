// SPDX-License-Identifier: MIT
// The shared block cache. One process-wide table of entries keyed by text,
// one mutex around it and a condition variable on which checkouts of a key
// that is being loaded wait. Unused blocks sit in an LRU list and are
// released (outside the lock) when the budget is exceeded or on a flush.
#include "klv/kernel_memres.h"

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "klv/log.h"

namespace {

constexpr size_t kMaxUnused = 256;

struct Entry {
  std::string key;
  void* block = nullptr;
  Memres_Release release = nullptr;
  size_t size = 0;
  int32_t uses = 0;
  bool loading = true;
  std::thread::id loader;
  bool unused = false;                // in the LRU list
  std::list<Entry*>::iterator place;  // valid while unused
};

// A block leaving the cache and the function that releases it.
using Victims = std::vector<std::pair<void*, Memres_Release>>;

class Cache {
 public:
  void* checkout(const char* key, Memres_Release release, void** slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::string name(key);
    for (;;) {
      auto it = by_key_.find(name);
      if (it == by_key_.end()) {
        auto entry = std::make_unique<Entry>();
        entry->key = name;
        entry->release = release;
        entry->loader = std::this_thread::get_id();
        Entry* raw = entry.get();
        reserved_.insert(raw);
        try {
          by_key_.emplace(name, std::move(entry));
        } catch (...) {
          reserved_.erase(raw);
          throw;
        }
        *slot = raw;
        return nullptr;
      }
      Entry* e = it->second.get();
      if (!e->loading) {
        if (e->unused) {
          lru_.erase(e->place);
          e->unused = false;
        }
        ++e->uses;
        return e->block;
      }
      if (e->loader == std::this_thread::get_id()) {
        KLV_LOG(KLV_LOG_WARNING, "shared block \"%s\" checked out again while loading it", key);
        return nullptr;
      }
      filed_.wait(lock);  // the entry may be gone when we wake: look it up again
    }
  }

  void* file(void** slot, void* block, size_t size) {
    Victims victims;
    void* result = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Entry* e = static_cast<Entry*>(*slot);
      *slot = nullptr;
      if (!reserved_.count(e)) {
        KLV_LOG(KLV_LOG_ERROR, "shared block filed under a slot that is not a reservation");
        return nullptr;
      }
      reserved_.erase(e);
      if (!block || by_block_.count(block)) {
        if (block)
          KLV_LOG(KLV_LOG_ERROR, "shared block for \"%s\" is already cached under another key",
                  e->key.c_str());
        drop(e);
        return nullptr;
      }
      try {
        by_block_.emplace(block, e);
      } catch (...) {
        drop(e);
        throw;
      }
      e->block = block;
      e->size = size;
      e->uses = 1;
      e->loading = false;
      total_ += size;
      filed_.notify_all();
      trim(victims);
      result = block;
    }
    release(victims);
    return result;
  }

  void undo(void** slot) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry* e = static_cast<Entry*>(*slot);
    *slot = nullptr;
    if (!reserved_.count(e)) return;
    reserved_.erase(e);
    drop(e);
  }

  int32_t checkin(void* block) {
    Victims victims;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = by_block_.find(block);
      if (it == by_block_.end() || it->second->uses <= 0) {
        KLV_LOG(KLV_LOG_WARNING, "checkin of a block that is not checked out of the cache");
        return -1;
      }
      Entry* e = it->second;
      if (--e->uses == 0) {
        lru_.push_front(e);
        e->place = lru_.begin();
        e->unused = true;
        trim(victims);
      }
    }
    release(victims);
    return 0;
  }

  void flush() {
    Victims victims;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (!lru_.empty()) evict_oldest(victims);
    }
    release(victims);
  }

  size_t set_budget(size_t bytes) {
    Victims victims;
    size_t previous;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      previous = budget_;
      budget_ = bytes;
      trim(victims);
    }
    release(victims);
    return previous;
  }

  int32_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(by_key_.size());
  }

 private:
  // Removes a reservation that will not be filled and wakes its waiters.
  void drop(Entry* e) {
    by_key_.erase(e->key);
    filed_.notify_all();
  }

  void trim(Victims& victims) {
    while (!lru_.empty() && (budget_ == 0 || total_ > budget_ || lru_.size() > kMaxUnused))
      evict_oldest(victims);
  }

  void evict_oldest(Victims& victims) {
    Entry* e = lru_.back();
    lru_.pop_back();
    victims.emplace_back(e->block, e->release);
    total_ -= e->size;
    by_block_.erase(e->block);
    by_key_.erase(e->key);  // frees e
  }

  static void release(const Victims& victims) {
    for (const auto& [block, fn] : victims) {
      try {
        if (fn) fn(block);
      } catch (...) {
        // a release function must not throw; keep going with the others
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable filed_;
  std::unordered_map<std::string, std::unique_ptr<Entry>> by_key_;
  std::unordered_map<void*, Entry*> by_block_;
  std::unordered_set<Entry*> reserved_;
  std::list<Entry*> lru_;  // unused blocks, most recently used first
  size_t total_ = 0;
  size_t budget_ = MEMRES_DEFAULT_BUDGET;
};

// Never destroyed: blocks may still be checked out while the process exits,
// and release functions may live in libraries already unloaded by then.
Cache& cache() {
  static Cache* instance = new Cache;
  return *instance;
}

}  // namespace

extern "C" {

KLV_API void* Memres_Checkout(const char* key, Memres_Release release, void** slot) {
  if (!slot) return nullptr;
  *slot = nullptr;
  if (!key || !release) return nullptr;
  try {
    return cache().checkout(key, release, slot);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "shared block \"%s\": out of memory", key);
    *slot = nullptr;
    return nullptr;
  }
}

KLV_API void* Memres_SetCheckoutSized(void** slot, void* block, size_t size) {
  if (!slot || !*slot) return nullptr;
  try {
    return cache().file(slot, block, size);
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "shared block: out of memory while filing it");
    return nullptr;
  }
}

KLV_API void* Memres_SetCheckout(void** slot, void* block) {
  return Memres_SetCheckoutSized(slot, block, 0);
}

KLV_API void Memres_UndoCheckout(void** slot) {
  if (!slot || !*slot) return;
  try {
    cache().undo(slot);
  } catch (...) {
  }
}

KLV_API int32_t Memres_Checkin(void* block) {
  if (!block) return -1;
  try {
    return cache().checkin(block);
  } catch (...) {
    return -1;
  }
}

KLV_API void Memres_Flush(void) {
  try {
    cache().flush();
  } catch (...) {
  }
}

KLV_API size_t Memres_SetBudget(size_t bytes) {
  try {
    return cache().set_budget(bytes);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t Memres_Count(void) {
  try {
    return cache().count();
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
