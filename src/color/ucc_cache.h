// SPDX-License-Identifier: MIT
// The colour cache of a chain context: an open-addressed table of 65,521
// slots keyed by a pixel's channel words (double hashing with lookup3's
// hashword2), side tables for channels 5 and up made on first need, and a
// ring of 32,766 slot numbers that evicts the oldest stored colour.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "klv/ucc_cxx.h"

namespace klv::ucc {

struct CacheKey {
  uint32_t format;  // the pixel's format word
  uint32_t extra;   // request flags and expected layout
  bool use_alpha;
  uint16_t alpha;
};

struct CacheHit {
  int32_t slot;   // a filled slot that matches, or -1
  int32_t place;  // where a miss would be stored, or -1
};

class ColourCache {
 public:
  static constexpr uint32_t kSlots = 65521;
  static constexpr uint32_t kRing = 32766;
  static constexpr uint8_t kEmpty = 0, kFilled = 128, kEvicted = 64;

  ColourCache();
  bool ready() const { return !slots_.empty(); }
  void clear();
  CacheHit find(const uint16_t* in, uint32_t channels, const CacheKey& key) const;
  // Copies a slot's result (stride UCC_MAX_CHANNELS) and its form.
  void read(int32_t slot, uint16_t* out, pixdef* form) const;
  // Stores a result unless the colour is already there; false when no slot is
  // free. `place` is where find() said a miss goes; it is searched again only
  // when another colour has taken it since.
  bool store(const uint16_t* in, uint32_t channels, const CacheKey& key, const uint16_t* result,
             const pixdef& form, int32_t place = -1);
  uint8_t state(uint32_t slot) const { return slots_[slot].state; }

 private:
  struct Slot {
    uint8_t state;
    uint8_t in_channels;
    uint8_t out_channels;
    uint8_t out_process;
    uint16_t alpha;
    uint8_t use_alpha;
    uint8_t out_model_sub;  // model in the low nibble, sub-mode above
    uint32_t format, extra;
    uint16_t in[4], out[4];
  };
  struct Wide {
    uint16_t in[UCC_MAX_CHANNELS - 4];
    uint16_t out[UCC_MAX_CHANNELS - 4];
  };
  bool matches(const Slot& s, uint32_t index, const uint16_t* in, uint32_t channels,
               const CacheKey& key) const;

  std::vector<Slot> slots_;
  std::unique_ptr<Wide[]> wide_;
  std::vector<uint32_t> ring_;
  uint32_t ring_pos_ = 0;
};

// lookup3's hashword2: two 32-bit hashes of `length` words.
void hashword2(const uint32_t* k, size_t length, uint32_t* pc, uint32_t* pb);

}  // namespace klv::ucc
