// SPDX-License-Identifier: MIT
// ICC profile blocks: copies, the shared cache and loading a profile file.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "klv/img.h"
#include "klv/kernel.h"
#include "klv/kernel_memres.h"
#include "klv/kernel_path.h"
#include "klv/kernel_util.h"
#include "klv/log.h"

namespace {

// Profile blocks larger than this are refused: no real ICC profile comes near.
constexpr int64_t kMaxProfileBytes = int64_t{64} << 20;

int32_t release_profile(void* block) {
  return free_image_profile(static_cast<image_profile*>(block));
}

// True when `dir` is the member prefix of a volume path: a dot and one or two
// separators ("." "\\", ".\\\\", "./").
bool is_member_prefix(const char* dir) {
  if (dir[0] != '.') return false;
  size_t seps = 0;
  for (const char* p = dir + 1; *p; ++p) {
    if (*p != '\\' && *p != '/') return false;
    ++seps;
  }
  return seps == 1 || seps == 2;
}

}  // namespace

extern "C" {

KLV_API image_profile* copy_image_profile(const image_profile* p) {
  if (!p) return nullptr;
  auto* copy = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + p->size));
  if (!copy) return nullptr;
  copy->size = p->size;
  std::memcpy(copy->data, p->data, p->size);
  return copy;
}

KLV_API int32_t free_image_profile(image_profile* p) {
  std::free(p);
  return 0;
}

KLV_API int32_t checkin_image_profile(image_profile* p) {
  if (p) Memres_Checkin(p);
  return 0;
}

// The key folds the folder of the file, the volume it lives in and the file's
// identity (modification time and size) into one number, so that a changed
// file gets a new key while every reader of the same file shares one block.
KLV_API char* image_profile_cache_key(SOVolume* volume, const char* path, char* key) {
  if (!key) return nullptr;
  key[0] = '\0';
  if (!path) return key;
  char drive[KLV_SPLIT_DRIVE], dir[KLV_SPLIT_DIR], fname[KLV_SPLIT_FNAME], ext[KLV_SPLIT_EXT];
  _splitvpath(path, drive, dir, fname, ext);

  uint32_t value = 0;
  unsigned k = 0;
  for (const char* part : {static_cast<const char*>(drive), static_cast<const char*>(dir)}) {
    for (const char* c = part; *c; ++c, ++k) {
      uint32_t extended = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*c)));
      value ^= extended << (8 * (k % 4));
    }
  }
  if (!KLV_IS_HOST_VOLUME(volume) && is_member_prefix(dir)) {
    auto bits = reinterpret_cast<uintptr_t>(volume);
    value ^= static_cast<uint32_t>(bits ^ (static_cast<uint64_t>(bits) >> 32));
  }
  SFindRec record;
  std::memset(&record, 0, sizeof record);
  if (Ofindfirst(volume, path, 0, &record)) {
    value ^= record.time_write;
    value ^= record.size_low;
  }
  Ofindclose(&record);

  char hex[16];
  std::snprintf(hex, sizeof hex, "%08" PRIX32, value);
  Ostrcpyncat(key, 80, "ImgICC", "~", hex, "~", fname, "~", ext, static_cast<const char*>(nullptr));
  return key;
}

KLV_API image_profile* load_image_profile(SOVolume* volume, const char* path) {
  if (!path || !*path) return nullptr;
  char key[96];
  image_profile_cache_key(volume, path, key);
  std::memcpy(key, "Abs", 3);

  void* slot = nullptr;
  void* cached = Memres_Checkout(key, release_profile, &slot);
  if (cached) return static_cast<image_profile*>(cached);
  if (!slot) return nullptr;

  image_profile* block = nullptr;
  SFilemux* file = Ovfopen(volume, path, "rb");
  if (file) {
    int64_t length = Ofileleni64(file);
    if (length < 0 || length > kMaxProfileBytes) {
      KLV_LOG(KLV_LOG_ERROR, "profile \"%s\": size %" PRId64 " is not a profile's", path, length);
    } else {
      block = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + length));
      if (block) {
        block->size = static_cast<uint32_t>(length);
        if (Oread(file, block->data, length) != static_cast<size_t>(length)) {
          KLV_LOG(KLV_LOG_ERROR, "profile \"%s\": short read", path);
          std::free(block);
          block = nullptr;
        }
      }
    }
    Oclose(file);
  }
  if (!block) {
    Memres_UndoCheckout(&slot);
    return nullptr;
  }
  void* filed = Memres_SetCheckoutSized(&slot, block, sizeof(image_profile) + block->size);
  if (!filed) {
    // The cache would not take it; the caller still gets a working block but
    // it cannot be shared. Hand out nothing rather than a block that
    // checkin_image_profile cannot give back.
    std::free(block);
    return nullptr;
  }
  return block;
}

}  // extern "C"
