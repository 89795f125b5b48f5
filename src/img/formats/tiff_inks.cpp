// SPDX-License-Identifier: MIT
// Ink-name lists, their recognition, colour orders and Photoshop channel names.
#include "img/formats/tiff_inks.h"

#include <cctype>
#include <cstring>

namespace klv::img::tiff {
namespace {

struct InkList {
  uint32_t colours;
  uint32_t hifi_mode;  // the mode a reader reports for this list
  bool any_mode;       // written for every hifi_mode not listed separately
  const char* ink;
  const char* light;
};

// Longest first, so that matching at the start of a name list finds the most
// colours.
constexpr InkList kLists[] = {
    {7, 1, false, "Cyan\tMagenta\tYellow\tBlack\tOrange\tGreen\tBlue",
     "Red\tGreen\tBlue\tWhite\tAqua\tMagenta\tYellow"},
    {7, 0, true, "Cyan\tMagenta\tYellow\tBlack\tRed\tGreen\tBlue",
     "Red\tGreen\tBlue\tWhite\tCyan\tMagenta\tYellow"},
    {6, 1, false, "Cyan\tMagenta\tYellow\tBlack\tGreen\tBlue",
     "Red\tGreen\tBlue\tWhite\tMagenta\tYellow"},
    {6, 2, false, "Cyan\tMagenta\tYellow\tBlack\tOrange\tBlue",
     "Red\tGreen\tBlue\tWhite\tAqua\tYellow"},
    {6, 3, false, "Cyan\tMagenta\tYellow\tBlack\tRed\tBlue",
     "Red\tGreen\tBlue\tWhite\tCyan\tYellow"},
    {6, 0, true, "Cyan\tMagenta\tYellow\tBlack\tOrange\tGreen",
     "Red\tGreen\tBlue\tWhite\tAqua\tMagenta"},
    {5, 1, false, "Cyan\tMagenta\tYellow\tBlack\tOrange", "Red\tGreen\tBlue\tWhite\tAqua"},
    {5, 0, true, "Cyan\tMagenta\tYellow\tBlack\tRed", "Red\tGreen\tBlue\tWhite\tCyan"},
    {4, 0, true, "Cyan\tMagenta\tYellow\tBlack", "Red\tGreen\tBlue\tWhite"},
    {3, 0, true, "Cyan\tMagenta\tYellow", "Red\tGreen\tBlue"},
    {1, 0, true, "Black", "White"},
};

bool starts_list(const std::string& names, const char* list) {
  size_t n = std::strlen(list);
  return names.compare(0, n, list) == 0 && (names.size() == n || names[n] == '\t');
}

}  // namespace

const char* ink_list(uint32_t colours, uint32_t hifi_mode, bool light) {
  for (const InkList& l : kLists) {
    if (l.colours != colours) continue;
    if (l.hifi_mode == hifi_mode || l.any_mode) {
      // A list for this exact mode comes before the catch-all of its count.
      return light ? l.light : l.ink;
    }
  }
  return nullptr;
}

bool match_ink_list(const std::string& names, InkMatch* match) {
  // Lists are tried longest first; for each the ink form, then the light form.
  for (const InkList& l : kLists) {
    for (bool light : {false, true}) {
      const char* list = light ? l.light : l.ink;
      if (!starts_list(names, list)) continue;
      match->colours = l.colours;
      match->hifi_mode = l.hifi_mode;
      match->light = light;
      match->length = std::strlen(list);
      return true;
    }
  }
  return false;
}

std::vector<std::string> split_names(const std::string& names) {
  std::vector<std::string> out;
  if (names.empty()) return out;
  size_t start = 0;
  for (;;) {
    size_t tab = names.find('\t', start);
    out.push_back(names.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return out;
}

bool build_color_order(const std::string& text, uint32_t samples, std::array<uint8_t, 12>* table) {
  static const char kLetters[] = "RGBWAMY0123456789";
  std::string order;
  for (char c : text) {
    if (c == ' ' || c == '\t') break;
    order.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  for (size_t k = 0; k < table->size(); ++k) (*table)[k] = static_cast<uint8_t>(k);
  size_t found = 0;
  for (; found < table->size() && kLetters[found]; ++found) {
    size_t pos = order.find(kLetters[found]);
    if (pos == std::string::npos || pos >= table->size()) break;
    (*table)[found] = static_cast<uint8_t>(pos);
  }
  if (found == 0) return false;
  // The positions must be a permutation within the pixel.
  uint32_t seen = 0;
  for (size_t k = 0; k < table->size(); ++k) {
    if ((seen >> (*table)[k]) & 1) return false;
    seen |= 1u << (*table)[k];
  }
  for (size_t k = 0; k < samples && k < table->size(); ++k)
    if ((*table)[k] >= samples) return false;
  return true;
}

std::vector<std::string> photoshop_alpha_names(const uint8_t* data, uint32_t size) {
  std::vector<std::string> names;
  uint32_t pos = 0;
  while (data && pos + 12 <= size && std::memcmp(data + pos, "8BIM", 4) == 0) {
    const uint32_t id = (uint32_t{data[pos + 4]} << 8) | data[pos + 5];
    pos += 6;
    const uint32_t name_len = data[pos];
    pos += (name_len + 2) & ~1u;  // Pascal name padded to an even size
    if (pos + 4 > size) break;
    const uint32_t len = (uint32_t{data[pos]} << 24) | (uint32_t{data[pos + 1]} << 16) |
                         (uint32_t{data[pos + 2]} << 8) | data[pos + 3];
    pos += 4;
    if (len > size - pos) break;
    if (id == 1006) {
      for (uint32_t p = pos; p < pos + len;) {
        const uint32_t n = data[p++];
        if (n > pos + len - p) break;
        names.emplace_back(reinterpret_cast<const char*>(data + p), n);
        p += n;
      }
      return names;
    }
    pos += (len + 1) & ~1u;
  }
  return names;
}

}  // namespace klv::img::tiff
