// SPDX-License-Identifier: MIT
// The print object's answers from the printer's information: medias, modes
// and page sizes.
#include "klv/printobj_cxx.h"

const SSTRAL* CPrintObj::GetMedias() const {
  PRNTINFO* info = GetPrntInfo();
  return info ? info->medias : nullptr;
}

const SSTRAL* CPrintObj::GetModes(const char* media) const {
  PRNTINFO* info = GetPrntInfo();
  return info ? prntinfo_mode_names(info, media) : nullptr;
}

const SSTRAL* CPrintObj::GetPageSizes(const char* media) const {
  PRNTINFO* info = GetPrntInfo();
  return info ? prntinfo_page_sizes(info, media) : nullptr;
}

const char* CPrintObj::GetDefaultPageSize() const {
  PRNTINFO* info = GetPrntInfo();
  return info && *info->default_page_size ? info->default_page_size : nullptr;
}

const CPrintMode* CPrintObj::GetMode(const char* media, const char* mode) const {
  PRNTINFO* info = GetPrntInfo();
  return info && mode ? prntinfo_mode(info, media, mode) : nullptr;
}
