// SPDX-License-Identifier: MIT
// Seeds of the halftone engines. Every random choice an engine makes (the
// noise start of a diffusion line, the phase of a reused screen, a diffusion
// placement's noise table) is drawn from a seed its placement gives it, never
// from process-wide state, so that a page screened twice gives the same dots
// whatever else the process does.
#pragma once

#include <cstdint>

// The seed a placement has until the caller sets one.
inline constexpr uint32_t kHTDefaultSeed = 0x4B4C5631u;

// Mixes a seed with a salt (a separation index, a level number ...): nearby
// inputs give unrelated outputs (the 64-bit finaliser of splitmix64).
constexpr uint32_t HTSeedMix(uint32_t seed, uint32_t salt) {
  uint64_t z = (uint64_t(seed) << 32 | salt) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return uint32_t(z ^ (z >> 31));
}

// A phase (column cp < w, row rp < h) inside a w x h screen drawn from a seed.
inline void HTSeedPhase(uint32_t seed, uint32_t w, uint32_t h, uint32_t& cp, uint32_t& rp) {
  cp = w ? HTSeedMix(seed, 1) % w : 0;
  rp = h ? HTSeedMix(seed, 2) % h : 0;
}
