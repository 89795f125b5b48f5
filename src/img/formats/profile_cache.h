// SPDX-License-Identifier: MIT
// The embedded ICC profile of an image file handed out as a shared block:
// checked out of the process-wide block cache under the file's profile key,
// or copied from the file's bytes and filed there on the first request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "klv/img.h"
#include "klv/kernel_types.h"

namespace klv::img {

// Marks a description whose file holds a profile (the profile word).
inline void* const kProfileInFile = reinterpret_cast<void*>(~uintptr_t{0});

// The shared block of the profile in `data` (`size` bytes) of the file at
// `path` in `volume`; null when there is none or memory is short. Give it back
// with checkin_image_profile.
image_profile* checkout_file_profile(SOVolume* volume, const char* path, const uint8_t* data,
                                     size_t size);

// The profile block a writer is asked to embed: null when the description's
// profile word is empty or only marks "file holds a profile".
inline const image_profile* profile_to_write(const image_info* info) {
  if (!info->profile_word || info->profile_word == kProfileInFile) return nullptr;
  return static_cast<const image_profile*>(info->profile_word);
}

}  // namespace klv::img
