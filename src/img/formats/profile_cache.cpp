// SPDX-License-Identifier: MIT
// Embedded ICC profiles of image files as shared blocks.
#include "img/formats/profile_cache.h"

#include <cstdlib>
#include <cstring>

#include "klv/kernel_memres.h"

namespace klv::img {
namespace {

int32_t release_profile(void* block) {
  return free_image_profile(static_cast<image_profile*>(block));
}

}  // namespace

image_profile* checkout_file_profile(SOVolume* volume, const char* path, const uint8_t* data,
                                     size_t size) {
  if (!data || size == 0 || size > UINT32_MAX || !path) return nullptr;
  char key[96];
  image_profile_cache_key(volume, path, key);
  void* slot = nullptr;
  if (void* cached = Memres_Checkout(key, release_profile, &slot))
    return static_cast<image_profile*>(cached);
  auto* block = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + size));
  if (!block) {
    if (slot) Memres_UndoCheckout(&slot);
    return nullptr;
  }
  block->size = static_cast<uint32_t>(size);
  std::memcpy(block->data, data, size);
  // Without a slot (the key is being loaded on this thread) a copy could not
  // be given back through checkin_image_profile.
  if (!slot) {
    std::free(block);
    return nullptr;
  }
  if (!Memres_SetCheckoutSized(&slot, block, sizeof(image_profile) + size)) {
    std::free(block);
    return nullptr;
  }
  return block;
}

}  // namespace klv::img
