// SPDX-License-Identifier: MIT
// The built-in English message table: number -> text.
//
// The numbers are fixed. Callers keep them in code and some texts are matched
// inside data (the unit names are looked for in page dimension texts such as
// "297 mm", in the order mm, cm, dm, m, metre, so "mm" must be found before
// "m"); changing a number or a unit text changes how stored data reads. Add new
// messages with new numbers, keeping the table sorted by number.
#include <algorithm>
#include <array>
#include <cstdint>

#include "klv/log.h"

namespace {

struct Message {
  int32_t id;
  const char* text;
};

constexpr std::array kMessages = {
    Message{KLV_MSG_UNIT_METRE, "m"},
    Message{KLV_MSG_UNIT_CENTIMETRE, "cm"},
    Message{KLV_MSG_UNIT_MILLIMETRE, "mm"},
    Message{KLV_MSG_UNIT_DECIMETRE, "dm"},
    Message{KLV_MSG_UNIT_INCH, "in"},
    // The paper path of roll-fed media is recognised by the text "Roll".
    Message{KLV_MSG_PAPER_ROLL, "Roll"},
    Message{KLV_MSG_PAPER_SHEET, "Sheet"},
    Message{KLV_MSG_PAGE_CLASS, "Custom"},
    Message{KLV_MSG_PAGE_DEFAULT, "Default"},
    Message{KLV_MSG_CLIP_FAILED, "A clip of the layout cannot be processed."},
    Message{KLV_MSG_UNIT_METRE_LONG, "metre"},
    Message{KLV_MSG_INK_CYAN, "Cyan"},
    Message{KLV_MSG_INK_MAGENTA, "Magenta"},
    Message{KLV_MSG_INK_YELLOW, "Yellow"},
    Message{KLV_MSG_INK_BLACK, "Black"},
    Message{KLV_MSG_INK_RED, "Red"},
    Message{KLV_MSG_INK_GREEN, "Green"},
    Message{KLV_MSG_INK_BLUE, "Blue"},
    Message{KLV_MSG_INK_LIGHT_CYAN, "Light Cyan"},
    Message{KLV_MSG_INK_LIGHT_MAGENTA, "Light Magenta"},
    Message{KLV_MSG_INK_LIGHT_BLACK, "Light Black"},
    Message{KLV_MSG_INK_ORANGE, "Orange"},
    Message{KLV_MSG_INK_WHITE, "White"},
};

constexpr bool IsStrictlySorted() {
  for (size_t i = 1; i < kMessages.size(); ++i) {
    if (kMessages[i - 1].id >= kMessages[i].id) return false;
  }
  return true;
}
static_assert(IsStrictlySorted(), "message table must be sorted by number, without repeats");

}  // namespace

extern "C" KLV_API const char* klv_message(int32_t id) {
  auto it = std::lower_bound(kMessages.begin(), kMessages.end(), id,
                             [](const Message& m, int32_t key) { return m.id < key; });
  return it != kMessages.end() && it->id == id ? it->text : "";
}
