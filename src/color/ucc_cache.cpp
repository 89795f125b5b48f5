// SPDX-License-Identifier: MIT
// The colour cache of chain contexts (see ucc_cache.h).
#include "ucc_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace klv::ucc {

namespace {

inline uint32_t rot(uint32_t x, int k) {
  return (x << k) | (x >> (32 - k));
}

inline void mix(uint32_t& a, uint32_t& b, uint32_t& c) {
  a -= c, a ^= rot(c, 4), c += b;
  b -= a, b ^= rot(a, 6), a += c;
  c -= b, c ^= rot(b, 8), b += a;
  a -= c, a ^= rot(c, 16), c += b;
  b -= a, b ^= rot(a, 19), a += c;
  c -= b, c ^= rot(b, 4), b += a;
}

inline void final_mix(uint32_t& a, uint32_t& b, uint32_t& c) {
  c ^= b, c -= rot(b, 14);
  a ^= c, a -= rot(c, 11);
  b ^= a, b -= rot(a, 25);
  c ^= b, c -= rot(b, 16);
  a ^= c, a -= rot(c, 4);
  b ^= a, b -= rot(a, 14);
  c ^= b, c -= rot(b, 24);
}

constexpr uint32_t kNoSlot = 0xFFFFFFFFu;
constexpr int kProbesOnceKnown = 9;

}  // namespace

void hashword2(const uint32_t* k, size_t length, uint32_t* pc, uint32_t* pb) {
  uint32_t a, b, c;
  a = b = c = 0xdeadbeefu + static_cast<uint32_t>(length << 2) + *pc;
  c += *pb;
  while (length > 3) {
    a += k[0], b += k[1], c += k[2];
    mix(a, b, c);
    length -= 3, k += 3;
  }
  switch (length) {
    case 3:
      c += k[2];
      [[fallthrough]];
    case 2:
      b += k[1];
      [[fallthrough]];
    case 1:
      a += k[0];
      final_mix(a, b, c);
      break;
    default:
      break;
  }
  *pc = c, *pb = b;
}

ColourCache::ColourCache() {
  try {
    slots_.assign(kSlots, Slot{});
    ring_.assign(kRing, kNoSlot);
  } catch (...) {
    slots_.clear();
  }
}

void ColourCache::clear() {
  std::fill(slots_.begin(), slots_.end(), Slot{});
  std::fill(ring_.begin(), ring_.end(), kNoSlot);
  ring_pos_ = 0;
}

bool ColourCache::matches(const Slot& s, uint32_t index, const uint16_t* in, uint32_t channels,
                          const CacheKey& key) const {
  if (s.format != key.format || s.extra != key.extra || s.in_channels != channels) return false;
  if (key.use_alpha && (!s.use_alpha || s.alpha != key.alpha)) return false;
  const uint32_t low = std::min<uint32_t>(channels, 4);
  if (std::memcmp(s.in, in, low * sizeof(uint16_t)) != 0) return false;
  if (channels > 4)
    return wide_ && std::memcmp(wide_[index].in, in + 4, (channels - 4) * sizeof(uint16_t)) == 0;
  return true;
}

CacheHit ColourCache::find(const uint16_t* in, uint32_t channels, const CacheKey& key) const {
  uint32_t words[UCC_MAX_CHANNELS + 2];
  for (uint32_t c = 0; c < channels; ++c) words[c] = in[c];
  words[channels] = key.format;
  words[channels + 1] = key.extra;
  uint32_t c = 0, b = 0;
  hashword2(words, channels + 2, &c, &b);
  uint32_t at = c % kSlots, step = b % kSlots;
  if (step == 0) step = 1;
  CacheHit hit{-1, -1};
  int since_known = 0;
  for (uint32_t probe = 0; probe < kSlots; ++probe, at = (at + step) % kSlots) {
    const Slot& s = slots_[at];
    if (s.state == kFilled) {
      if (matches(s, at, in, channels, key)) {
        hit.slot = static_cast<int32_t>(at);
        return hit;
      }
    } else if (hit.place < 0) {
      hit.place = static_cast<int32_t>(at);
    }
    if (s.state == kEmpty) break;
    if (hit.place >= 0 && ++since_known >= kProbesOnceKnown) break;
  }
  return hit;
}

void ColourCache::read(int32_t slot, uint16_t* out, pixdef* form) const {
  const Slot& s = slots_[static_cast<uint32_t>(slot)];
  std::memcpy(out, s.out, std::min<uint32_t>(s.out_channels, 4) * sizeof(uint16_t));
  if (s.out_channels > 4 && wide_)
    std::memcpy(out + 4, wide_[slot].out, (s.out_channels - 4u) * sizeof(uint16_t));
  form->channels = s.out_channels;
  form->process = s.out_process;
  form->model = s.out_model_sub & 0xF;
  form->sub_mode = s.out_model_sub >> 4;
}

bool ColourCache::store(const uint16_t* in, uint32_t channels, const CacheKey& key,
                        const uint16_t* result, const pixdef& form, int32_t place) {
  CacheHit h{-1, place};
  if (place < 0 || slots_[static_cast<uint32_t>(place)].state == kFilled)
    h = find(in, channels, key);
  if (h.slot >= 0 || h.place < 0) return false;
  if ((channels > 4 || form.channels > 4) && !wide_) {
    wide_.reset(new (std::nothrow) Wide[kSlots]);
    if (!wide_) return false;
  }
  const uint32_t at = static_cast<uint32_t>(h.place);
  Slot& s = slots_[at];
  s.state = kFilled;
  s.in_channels = static_cast<uint8_t>(channels);
  s.out_channels = static_cast<uint8_t>(form.channels);
  s.out_process = static_cast<uint8_t>(form.process);
  s.out_model_sub = static_cast<uint8_t>((form.model & 0xF) | (form.sub_mode << 4));
  s.format = key.format;
  s.extra = key.extra;
  s.use_alpha = key.use_alpha;
  s.alpha = key.alpha;
  std::memcpy(s.in, in, std::min<uint32_t>(channels, 4) * sizeof(uint16_t));
  std::memcpy(s.out, result, std::min<uint32_t>(form.channels, 4) * sizeof(uint16_t));
  if (channels > 4) std::memcpy(wide_[at].in, in + 4, (channels - 4) * sizeof(uint16_t));
  if (form.channels > 4)
    std::memcpy(wide_[at].out, result + 4, (form.channels - 4) * sizeof(uint16_t));
  // The ring remembers the order of storing; coming round evicts the oldest.
  const uint32_t older = ring_[ring_pos_];
  if (older != kNoSlot && older != at) slots_[older].state = kEvicted;
  ring_[ring_pos_] = at;
  ring_pos_ = (ring_pos_ + 1) % kRing;
  return true;
}

}  // namespace klv::ucc
