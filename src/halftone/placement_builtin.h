// SPDX-License-Identifier: MIT
// Dispersed-dot threshold screens made by void-and-cluster ranking on a
// brick-offset tile: the built-in 16-bit screens and the variable-dot screen
// file are made this way.
#pragma once

#include <cstdint>
#include <vector>

namespace klv::halftone {

// Ranks (0 prints first) of every position of a width x height tile that
// repeats across by width and down by height with a shift of `shift` to the
// right. Points of equal rank never occur; the order spreads the dots of every
// tone as evenly as the tile allows. Deterministic for a seed.
std::vector<uint32_t> VoidAndClusterRanks(uint32_t width, uint32_t height, uint32_t shift,
                                          uint32_t seed);

// Thresholds 0..levels - 2 from ranks (rank x (levels - 1) / count).
std::vector<uint16_t> RanksToThresholds(const std::vector<uint32_t>& ranks, uint32_t levels);

}  // namespace klv::halftone
