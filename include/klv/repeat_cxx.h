// SPDX-License-Identifier: MIT
// The step-and-repeat page as a class (see klv/repeat.h for the C interface
// and the settings). The object owns its pattern stream from AttachImg on and
// closes it when deleted, unless DetachImg took it back.
#pragma once

#include <cstdint>
#include <memory>

#include "klv/export.h"
#include "klv/filter.h"
#include "klv/img.h"
#include "klv/repeat.h"

namespace klv::img {
struct RepeatState;
}

class KLV_API CRepeatFilter {
 public:
  CRepeatFilter();
  virtual ~CRepeatFilter();
  CRepeatFilter(const CRepeatFilter&) = delete;
  CRepeatFilter& operator=(const CRepeatFilter&) = delete;

  // Takes `pattern` (closed at once when the attach fails) and prepares the
  // page; `options` (may be null) reaches the line filter that scales the
  // pattern, colour transform included.
  virtual bool AttachImg(IMG_file* pattern, const RepeatFilterInfo* settings,
                         const filter_info* options = nullptr);
  // Delivers up to `count` page lines; the lines delivered.
  virtual int32_t ReadLine(uint8_t* buffer, int32_t count);
  // whence 0 from the top, 1 from the current line, 2 from the last line;
  // the line (clamped to the page), or -1. Nothing is read until ReadLine.
  virtual int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  virtual image_cmap* GetCmap();
  virtual image_profile* GetProfile();
  // Gives back the prepared pattern stream (the caller owns it) and leaves
  // the object empty.
  virtual IMG_file* DetachImg();

  // The page description; null before a successful AttachImg.
  const image_info* Info() const;
  // True when the pattern is read through the line cache rather than held.
  bool UsesLineCache() const;
  // Patterns larger than this many bytes (default 50,000,000) are read
  // through a cache of a few lines instead of being held whole; applies to
  // later attaches.
  static void SetHoldLimit(uint64_t bytes);

 private:
  std::unique_ptr<klv::img::RepeatState> m_state;
};
