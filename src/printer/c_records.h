// SPDX-License-Identifier: MIT
// Conversions between the repository's C++ values and the C records handed
// to callers (string lists, screen setup lists, drop size records).
#pragma once

#include <memory>

#include "klv/printer_repository.h"
#include "klv/prntinfo.h"

namespace klv::printer {

struct StralDeleter {
  void operator()(SSTRAL* s) const { stral_free(s); }
};
using StralPtr = std::unique_ptr<SSTRAL, StralDeleter>;

struct ScreenSetupDeleter {
  void operator()(_SCREENSETUP* s) const { free_screen_settings(s); }
};
using ScreenSetupPtr = std::unique_ptr<_SCREENSETUP, ScreenSetupDeleter>;

struct DotInfoDeleter {
  void operator()(dotinfo* d) const { prntinfo_free_dotinfo(d); }
};
using DotInfoPtr = std::unique_ptr<dotinfo, DotInfoDeleter>;

// Each returns null when memory runs out (make_stral: also never for an
// empty list, which gives an empty SSTRAL).
SSTRAL* make_stral(const StringArrayList& list);
StringArrayList read_stral(const SSTRAL* list);
_SCREENSETUP* make_screen_setups(const std::vector<RepScreenSetup>& setups);
std::vector<RepScreenSetup> read_screen_setups(const _SCREENSETUP* list);
dotinfo* make_dotinfo(const RepDotInfo& info);
RepDotInfo read_dotinfo(const dotinfo* info);

// A copy of strings[0..count) in one malloc'd block ending with a null
// pointer (freed with free_char_list); null when memory runs out.
char** packed_char_list(const char* const* strings, int32_t count);

// Copies text into a fixed char field, cut without splitting a UTF-8
// character.
void copy_field(char* field, size_t size, const char* text);

}  // namespace klv::printer
