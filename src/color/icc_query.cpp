// SPDX-License-Identifier: MIT
// Questions asked of a profile file without keeping it: its colour space and
// its channel layout (process channels, spot channels, colour model and the
// high-fidelity ink set), read from a text-only profile.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "klv/icc_cxx.h"
#include "klv/kernel_util.h"

namespace {

constexpr icSignature kGray = KLV_ICC_SIG('G', 'R', 'A', 'Y');
constexpr icSignature kRgb = KLV_ICC_SIG('R', 'G', 'B', ' ');
constexpr icSignature kLab = KLV_ICC_SIG('L', 'a', 'b', ' ');
constexpr icSignature kXyz = KLV_ICC_SIG('X', 'Y', 'Z', ' ');
constexpr icSignature kCmy = KLV_ICC_SIG('C', 'M', 'Y', ' ');
constexpr icSignature kCmyk = KLV_ICC_SIG('C', 'M', 'Y', 'K');

// The channel count of an n-colour space ("3CLR" .. "9CLR", "ACLR" .. "FCLR"), else 0.
int32_t n_colour_channels(icSignature space) {
  if ((space & 0x00FFFFFFu) != (KLV_ICC_SIG(0, 'C', 'L', 'R'))) return 0;
  const char digit = static_cast<char>(space >> 24);
  if (digit >= '3' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return 0;
}

// The decimal number right after `marker` in `text`, or -1 when absent.
int32_t number_after(const std::string& text, const char* marker) {
  const size_t at = text.find(marker);
  if (at == std::string::npos) return -1;
  return std::atoi(text.c_str() + at + std::strlen(marker));
}

// The high-fidelity ink set named in a description text, or -1.
int32_t hifi_marker(const std::string& text) {
  const int32_t explicit_mode = number_after(text, " -KLVHIFI=");
  if (explicit_mode >= 0) return explicit_mode;
  struct Marker {
    const char* text;
    int32_t mode;
  };
  // The order matters: the longer markers contain the shorter ones.
  static constexpr Marker kMarkers[] = {
      {" -OGBHIFI", 1}, {" -RGBHIFI", 0}, {" -RBHIFI", 3}, {" -OBHIFI", 2},
      {" -GBHIFI", 1},  {" -HIFI", 0},    {" -RHIFI", 0},  {" -OHIFI", 1},
  };
  for (const auto& m : kMarkers)
    if (text.find(m.text) != std::string::npos) return m.mode;
  return -1;
}

char colorant_letter(const char* name) {
  struct Name {
    const char* name;
    char letter;
  };
  static constexpr Name kNames[] = {
      {"Cyan", 'C'},  {"Magenta", 'M'}, {"Yellow", 'Y'}, {"Black", 'K'},  {"Red", 'R'},
      {"Green", 'G'}, {"Blue", 'B'},    {"Violet", 'B'}, {"Orange", 'O'},
  };
  for (const auto& n : kNames)
    if (Ostricmp(name, n.name) == 0) return n.letter;
  return 'S';
}

// One letter per channel from the colorant table or the private "K010" ..
// "K150" name tags; "" when the profile has neither.
std::string channel_letters(const CKlvLibIccProfile& profile, int32_t channels) {
  std::string letters;
  const CKlvLibIccTag* table = profile.FindTag(KLV_ICC_SIG('c', 'l', 'r', 't'));
  if (table && table->GetTagType() == KLV_ICC_SIG('c', 'l', 'r', 't')) {
    for (const auto& c : static_cast<const CKlvLibIccColorantTable*>(table)->m_colorants) {
      const std::string name(c.name, strnlen(c.name, sizeof c.name));
      letters.push_back(colorant_letter(name.c_str()));
    }
    return letters;
  }
  if (!profile.FindTag(KLV_ICC_SIG('K', '0', '1', '0'))) return letters;
  for (int32_t i = 1; i <= channels && i <= 15; ++i) {
    const icTagSignature signature = KLV_ICC_SIG('K', '0' + i / 10, '0' + i % 10, '0');
    const CKlvLibIccTag* tag = profile.FindTag(signature);
    char letter = 'S';
    if (tag && CKlvLibIccProfile::IsTextTag(tag->GetTagType()) &&
        tag->GetTagType() != KLV_ICC_SIG('s', 'i', 'g', ' ') &&
        tag->GetTagType() != KLV_ICC_SIG('c', 'l', 'r', 't'))
      letter = colorant_letter(static_cast<const CKlvLibIccTextTag*>(tag)->Text().c_str());
    letters.push_back(letter);
  }
  return letters;
}

int32_t channel_format(CKlvLibIccTextProfile& profile, int32_t* channels, int32_t* spots,
                       int32_t* model, int32_t* hifi) {
  const icSignature space = profile.m_color_space;
  struct Simple {
    icSignature space;
    int32_t channels, model;
  };
  static constexpr Simple kSimple[] = {
      {kGray, 1, 1}, {kRgb, 3, 1}, {kLab, 3, 3}, {kXyz, 3, 4}, {kCmy, 3, 0},
  };
  for (const auto& s : kSimple) {
    if (s.space != space) continue;
    *channels = s.channels;
    *model = s.model;
    *spots = 0;
    *hifi = 0;
    return 0;
  }
  const int32_t n = space == kCmyk ? 4 : n_colour_channels(space);
  if (n == 0) return 0;
  *channels = n;
  *spots = 0;
  *model = 0;
  *hifi = 0;

  const std::string description = profile.Description();
  if (const int32_t mode = hifi_marker(description); mode >= 0) *hifi = mode;
  if (const int32_t count = number_after(description, " -KLVSPOTS="); count >= 0) *spots = count;

  const std::string letters = channel_letters(profile, n);
  if (letters.empty()) return 1;
  struct Layout {
    std::string_view prefix;
    int32_t process, mode;
  };
  static constexpr Layout kLayouts[] = {
      {"CMYKOGB", 7, 1}, {"CMYKRGB", 7, 0}, {"CMYKRB", 6, 3}, {"CMYKOB", 6, 2},
      {"CMYKGB", 6, 1},  {"CMYKOG", 6, 0},  {"CMYKR", 5, 0},  {"CMYKO", 5, 1},
      {"CMYK", 4, -1},   {"CMY", 4, -1},    {"K", 1, -1},
  };
  for (const auto& layout : kLayouts) {
    if (!std::string_view(letters).starts_with(layout.prefix)) continue;
    if (layout.mode >= 0) *hifi = layout.mode;
    const int32_t letter_count = static_cast<int32_t>(letters.size());
    if (layout.process < letter_count) *spots = letter_count - layout.process;
    return 1;
  }
  return 1;
}

}  // namespace

extern "C" {

KLV_API icSignature GetVolIccProfileFileColorSpace(SOVolume* volume, const char* path) {
  if (!path) return 0;
  try {
    CKlvLibIccTextProfile profile;
    return profile.Load(volume, path) ? profile.m_color_space : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API icSignature GetIccProfileFileColorSpace(const char* path) {
  return GetVolIccProfileFileColorSpace(nullptr, path);
}

KLV_API icSignature GetIccProfileMemColorSpace(const void* memory, size_t size) {
  try {
    CKlvLibIccTextProfile profile;
    return profile.Load(memory, size) ? profile.m_color_space : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t GetVolProfileColorFormat(SOVolume* volume, const char* path, int32_t* channels,
                                         int32_t* spots, int32_t* model, int32_t* hifi) {
  if (!path || !channels || !spots || !model || !hifi) return 0;
  try {
    CKlvLibIccTextProfile profile;
    if (!profile.Load(volume, path)) return 0;
    return channel_format(profile, channels, spots, model, hifi);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t GetProfileColorFormat(const char* path, int32_t* channels, int32_t* spots,
                                      int32_t* model, int32_t* hifi) {
  return GetVolProfileColorFormat(nullptr, path, channels, spots, model, hifi);
}

}  // extern "C"
