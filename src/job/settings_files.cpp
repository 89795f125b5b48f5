// SPDX-License-Identifier: MIT
// Job settings records and their files: the record's life (new, clear, copy,
// free), reading a `Settings` file or volume member (deciphering one that
// begins with "ESET"), and writing one whole through a temporary name.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "job/settings_fields.h"
#include "job/settings_io.h"
#include "kernel/settings_text_reader.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_path_cxx.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"

namespace klv::job {
namespace {

constexpr char kCipherTag[4] = {'E', 'S', 'E', 'T'};

std::string join(const char* folder, const char* name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  return path + name;
}

bool write_all(SFilemux* stream, const std::string& bytes) {
  return Owrite(stream, bytes.data(), bytes.size()) == bytes.size();
}

}  // namespace

SFilemux* open_settings_stream(SOVolume* volume, const char* path) {
  SFilemux* s = Ovfopen(volume, path, "rb");
  if (!s) return nullptr;
  char head[4] = {};
  if (Oread(s, head, sizeof head) == sizeof head && std::memcmp(head, kCipherTag, 4) == 0) {
    SFilemux* plain = fencrypt_attach(s, nullptr);
    if (!plain) {
      KLV_LOG(KLV_LOG_ERROR, "job settings \"%s\": cannot decipher", path);
      Oclose(s);
    }
    return plain;
  }
  if (Oseek(s, 0, 0) != 0) {
    Oclose(s);
    return nullptr;
  }
  return s;
}

int32_t read_settings_stream(SFilemux* stream, const char* name, settings* record) {
  // The reader owns the stream from here and closes it.
  std::unique_ptr<SFPARSE> fp(new SFPARSE(stream, true, name));
  return off_get_settings(fp.get(), record);
}

std::string settings_bytes(const settings& s) {
  std::string text = settings_block(s);
  if (!s.UnmodifiableFlag) return text;
  SFilemux* memory = Omemcreate();
  if (!memory) throw std::bad_alloc();
  Owrite(memory, kCipherTag, sizeof kCipherTag);
  SFilemux* layer = fencrypt_attach(memory, nullptr);
  if (!layer) {
    Oclose(memory);
    throw std::bad_alloc();
  }
  bool ok = write_all(layer, text);
  size_t size = 0;
  const char* data = static_cast<const char*>(Omemdata(memory, &size));
  std::string bytes = ok && data ? std::string(data, size) : std::string();
  Oclose(layer);
  if (bytes.empty()) throw std::bad_alloc();
  return bytes;
}

int32_t save_bytes(SOVolume* volume, const char* path, const std::string& bytes) {
  SFSAVE* save = fp_save_begin(volume, path);
  if (!save) return 0;
  bool ok = write_all(fp_save_stream(save), bytes);
  if (!fp_save_end(save, ok)) {
    KLV_LOG(KLV_LOG_ERROR, "cannot write \"%s\"", path);
    return 0;
  }
  return 1;
}

bool is_folder(const char* path) {
  std::error_code ec;
  return std::filesystem::is_directory(klv::kernel::host_path(path), ec);
}

}  // namespace klv::job

using namespace klv::job;

extern "C" {

KLV_API settings* settings_new(void) {
  return static_cast<settings*>(std::calloc(1, sizeof(settings)));
}

KLV_API void settings_clear(settings* record) {
  if (!record) return;
  settings_crop_free(record->Cropping);
  std::free(record->PrintBatch);
  stral_free(record->LoadedMedia);
  std::memset(static_cast<void*>(record), 0, sizeof *record);
}

KLV_API void settings_free(settings* record) {
  settings_clear(record);
  std::free(record);
}

KLV_API int32_t settings_copy(settings* to, const settings* from) {
  if (!to || !from || to == from) return to && from ? 1 : 0;
  settings_clear(to);
  std::memcpy(static_cast<void*>(to), from, sizeof *to);
  to->Cropping = nullptr;
  to->PrintBatch = nullptr;
  to->LoadedMedia = nullptr;
  bool ok = true;
  if (from->Cropping) ok = (to->Cropping = copy_crop(from->Cropping)) != nullptr;
  if (ok && from->PrintBatch) {
    to->PrintBatch = settings_batch_new();
    ok = to->PrintBatch != nullptr;
    if (ok) *to->PrintBatch = *from->PrintBatch;
  }
  if (ok && from->LoadedMedia) ok = (to->LoadedMedia = _stral_copy(from->LoadedMedia)) != nullptr;
  if (!ok) settings_clear(to);
  return ok ? 1 : 0;
}

KLV_API int32_t get_settings(const char* folder, settings* record) {
  if (!folder || !record) return 0;
  try {
    std::string path = join(folder, KLV_SETTINGS_FILE);
    SFilemux* s = is_folder(folder) ? open_settings_stream(nullptr, path.c_str()) : nullptr;
    if (!s) {
      path = folder;
      s = open_settings_stream(nullptr, folder);
    }
    if (!s) {
      KLV_LOG(KLV_LOG_ERROR, "job settings: cannot open \"%s\"", folder);
      return 0;
    }
    return read_settings_stream(s, path.c_str(), record);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t get_settings_from_vol(SOVolume* volume, settings* record) {
  if (!volume || !record) return 0;
  try {
    SFilemux* s = open_settings_stream(volume, KLV_SETTINGS_MEMBER);
    std::string name = std::string(VGetFName(volume)) + "|" + KLV_SETTINGS_MEMBER;
    if (!s) {
      KLV_LOG(KLV_LOG_ERROR, "job settings: cannot open \"%s\"", name.c_str());
      return 0;
    }
    return read_settings_stream(s, name.c_str(), record);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t get_vol_settings(const char* path, settings* record, int32_t mode) {
  if (!path || !record) return 0;
  SOVolume* volume = VOpen(nullptr, path, mode);
  if (!volume) {
    KLV_LOG(KLV_LOG_ERROR, "job settings: cannot open the job volume \"%s\"", path);
    return 0;
  }
  int32_t ok = get_settings_from_vol(volume, record);
  VClose(volume);
  return ok;
}

KLV_API settings* job_settings_load(const char* job) {
  if (!job) return nullptr;
  settings* record = settings_new();
  if (!record) return nullptr;
  int32_t ok = !is_folder(job) && VIsVolume(nullptr, job)
                   ? get_vol_settings(job, record, KLV_VOL_READ)
                   : get_settings(job, record);
  if (!ok) {
    settings_free(record);
    return nullptr;
  }
  return record;
}

KLV_API int32_t put_settings(const char* path, const settings* record) {
  if (!path || !record) return 0;
  try {
    return save_bytes(nullptr, path, settings_bytes(*record));
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t put_job_settings(const char* folder, const settings* record) {
  if (!folder || !record) return 0;
  try {
    return put_settings(join(folder, KLV_SETTINGS_FILE).c_str(), record);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t put_vol_settings(SOVolume* volume, const settings* record) {
  if (!volume || !record) return 0;
  try {
    return save_bytes(volume, KLV_SETTINGS_MEMBER, settings_bytes(*record));
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t off_put_settings(SFilemux* stream, const settings* record) {
  if (!stream) return 0;
  bool ok = false;
  try {
    ok = record && write_all(stream, settings_bytes(*record));
  } catch (...) {
    ok = false;
  }
  return Oclose(stream) == 0 && ok ? 1 : 0;
}

KLV_API int32_t job_settings_save(const char* job, const settings* record) {
  if (!job || !record) return 0;
  if (is_folder(job)) return put_job_settings(job, record);
  if (!VIsVolume(nullptr, job)) return put_settings(job, record);
  SOVolume* volume = VOpen(nullptr, job, KLV_VOL_UPDATE);
  if (!volume) {
    KLV_LOG(KLV_LOG_ERROR, "job settings: cannot open the job volume \"%s\" for writing", job);
    return 0;
  }
  int32_t ok = put_vol_settings(volume, record);
  return VClose(volume) == 0 && ok ? 1 : 0;
}

KLV_API char* settings_text(const settings* record) {
  if (!record) return nullptr;
  try {
    return strdup(settings_block(*record).c_str());
  } catch (...) {
    return nullptr;
  }
}

KLV_API void settings_text_free(char* text) {
  std::free(text);
}

}  // extern "C"
