// SPDX-License-Identifier: MIT
// The TIFF stream's ink vocabulary: ink-name lists by colour count and
// hifi_mode, their recognition in a file's InkNames, the channel-order table
// of a TargetPrinter text, and Photoshop's alpha-channel names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace klv::img::tiff {

// The tab-separated list for `colours` colour samples, or null when there is
// none (0 or 2 colours, or more than 7).
const char* ink_list(uint32_t colours, uint32_t hifi_mode, bool light);

struct InkMatch {
  uint32_t colours = 0;
  uint32_t hifi_mode = 0;
  bool light = false;
  size_t length = 0;  // characters of `names` the list took
};
// Finds the longest list at the start of `names` (tab-separated), ending at a
// tab or the end of the text.
bool match_ink_list(const std::string& names, InkMatch* match);

std::vector<std::string> split_names(const std::string& names);

// Channel order from an order text such as "WRGB": table[k] is the position in
// the file of the k-th channel of "RGBWAMY0123456789". False when the text
// names no channel or the table is not a permutation of 0..samples-1.
bool build_color_order(const std::string& text, uint32_t samples, std::array<uint8_t, 12>* table);

// Alpha-channel names of Photoshop's image resources (resource 1006).
std::vector<std::string> photoshop_alpha_names(const uint8_t* data, uint32_t size);

}  // namespace klv::img::tiff
