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

// File names of the shipped screens (found in the "screens" data folder).
inline constexpr const char* kBuiltinScreenName = "Builtin%d.HTS";  // index 0..3
inline constexpr const char* kVarDotScreenName = "VarDot.HTS";

// The built-in 16-bit screen i (0..3) as a screen file: its brick-offset tile
// repeated down until the offset comes round to a plain tile, the values its
// thresholds (0..253) with maximum value 254, so that a loader asking for 255
// levels, or for the file's own, reads the built-in thresholds unchanged.
// False for i out of range.
bool BuiltinScreenFile(int i, std::vector<uint8_t>& out);

// The variable-dot threshold screens: kVarDotPlanes void-and-cluster planes of
// kVarDotSize x kVarDotSize (one per process colour), values 0..254 of maximum
// 255, each of the 255 values held by as many positions as the others (within
// one), so that the 8-bit loader of 256 levels reads them unchanged. Takes
// seconds: the shipped file is made by tools/klvscreens, and a test checks it.
inline constexpr uint32_t kVarDotSize = 128;
inline constexpr uint32_t kVarDotPlanes = 4;
bool VarDotScreenFile(std::vector<uint8_t>& out);

}  // namespace klv::halftone
