// SPDX-License-Identifier: MIT
// The step-and-repeat settings file: a `Repeat_Setup { ... }` block read
// with a field table and written in the order of the record.
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "klv/kernel_layers.h"
#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_util.h"
#include "klv/log.h"
#include "klv/repeat.h"

namespace {

constexpr const char* kBlock = "Repeat_Setup";

// `GapSamples { 1 2 3 }`: up to twelve integers; reading it selects them as
// the gap colour.
int32_t read_gap_samples(SFPARSE* fp, const off_field*, void* record) {
  auto* r = static_cast<RepeatFileInfo*>(record);
  int32_t count = 0;
  char** list = get_char_list(fp, &count);
  if (!list) {
    KLV_LOG(KLV_LOG_ERROR, "repeat settings line %d: GapSamples needs a list", fp_line(fp));
    return 0;
  }
  bool ok = count <= KLV_REPEAT_MAX_GAP_SAMPLES;
  int32_t values[KLV_REPEAT_MAX_GAP_SAMPLES] = {};
  for (int32_t i = 0; ok && i < count; ++i) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(list[i], &end, 10);
    ok = end != list[i] && *end == 0 && errno == 0 && v >= -2147483647L - 1 && v <= 2147483647L;
    values[i] = ok ? int32_t(v) : 0;
  }
  free_char_list(list);
  if (!ok) {
    KLV_LOG(KLV_LOG_ERROR, "repeat settings line %d: GapSamples takes up to %d integers",
            fp_line(fp), KLV_REPEAT_MAX_GAP_SAMPLES);
    return 0;
  }
  std::memcpy(r->settings.GapSamples, values, sizeof values);
  r->settings.GapSampleCount = count;
  r->settings.GapType = KLV_REPEAT_GAP_SAMPLES;
  return 1;
}

int32_t write_gap_samples(SFilemux* stream, int32_t indent, const off_field* field,
                          const void* record) {
  const auto* r = static_cast<const RepeatFileInfo*>(record);
  if (r->settings.GapType != KLV_REPEAT_GAP_SAMPLES) return 1;
  if (Oprintf(stream, "%*s%s { ", 2 * indent, "", field->key) < 0) return 0;
  const int32_t n = r->settings.GapSampleCount;
  for (int32_t i = 0; i < n && i < KLV_REPEAT_MAX_GAP_SAMPLES; ++i)
    if (Oprintf(stream, "%d ", r->settings.GapSamples[i]) < 0) return 0;
  return Oputs(stream, "}\n") < 0 ? 0 : 1;
}

#define RPT_D(key)                                                                   \
  off_field {                                                                        \
#key, OFF_DOUBLE, 0, offsetof(RepeatFileInfo, settings.key), 0, nullptr, nullptr \
  }
#define RPT_I(key)                                                                  \
  off_field {                                                                       \
#key, OFF_INT32, 0, offsetof(RepeatFileInfo, settings.key), 0, nullptr, nullptr \
  }

// In the order of the record, for writing.
const off_field kRecordOrder[] = {
    {"FileName", OFF_STRING, 0, offsetof(RepeatFileInfo, FileName), KLV_REPEAT_NAME_SIZE, nullptr,
     nullptr},
    RPT_D(PageWidth),
    RPT_D(PageHeight),
    RPT_D(PatternWidth),
    RPT_D(PatternHeight),
    RPT_D(XOffset),
    RPT_D(YOffset),
    RPT_D(StepAmount),
    RPT_I(StepVertical),
    RPT_D(XRes),
    RPT_D(YRes),
    RPT_I(FlipHorizontal),
    RPT_I(FlipVertical),
    RPT_I(Interpolate),
    RPT_D(GapHorizontal),
    RPT_D(GapVertical),
    RPT_I(SwapHOverlap),
    RPT_I(SwapVOverlap),
    RPT_D(CropLeft),
    RPT_D(CropTop),
    RPT_D(CropRight),
    RPT_D(CropBottom),
    RPT_I(GapType),
    {"GapSamples", OFF_CUSTOM, 0, 0, 0, read_gap_samples, write_gap_samples},
    RPT_I(GapTotalSamples),
    RPT_I(GapSpotSamples),
    RPT_I(GapPhotometric),
    RPT_I(GapHifiMode),
    RPT_I(GapBitsPerSample)};

// Sorted by key without regard to letter case, for reading.
const off_field kSorted[] = {
    RPT_D(CropBottom),
    RPT_D(CropLeft),
    RPT_D(CropRight),
    RPT_D(CropTop),
    {"FileName", OFF_STRING, 0, offsetof(RepeatFileInfo, FileName), KLV_REPEAT_NAME_SIZE, nullptr,
     nullptr},
    RPT_I(FlipHorizontal),
    RPT_I(FlipVertical),
    RPT_I(GapBitsPerSample),
    RPT_I(GapHifiMode),
    RPT_D(GapHorizontal),
    RPT_I(GapPhotometric),
    {"GapSamples", OFF_CUSTOM, 0, 0, 0, read_gap_samples, write_gap_samples},
    RPT_I(GapSpotSamples),
    RPT_I(GapTotalSamples),
    RPT_I(GapType),
    RPT_D(GapVertical),
    RPT_I(Interpolate),
    RPT_D(PageHeight),
    RPT_D(PageWidth),
    RPT_D(PatternHeight),
    RPT_D(PatternWidth),
    RPT_D(StepAmount),
    RPT_I(StepVertical),
    RPT_I(SwapHOverlap),
    RPT_I(SwapVOverlap),
    RPT_D(XOffset),
    RPT_D(XRes),
    RPT_D(YOffset),
    RPT_D(YRes)};

#undef RPT_D
#undef RPT_I

constexpr int32_t kFields = int32_t(sizeof kSorted / sizeof kSorted[0]);
static_assert(sizeof kRecordOrder == sizeof kSorted, "both tables hold every key");

// The first token must name the block; then its entries.
bool read_block(SFPARSE* fp, RepeatFileInfo* info) {
  char word[64];
  if (fp_get_token(fp, word, sizeof word) != KLV_FP_WORD || Ostricmp(word, kBlock) != 0)
    return false;
  if (fp_get_token(fp, nullptr, 0) != KLV_FP_OPEN) {
    KLV_LOG(KLV_LOG_ERROR, "repeat settings line %d: \"{\" expected after %s", fp_line(fp), kBlock);
    return false;
  }
  RepeatFileInfo read;
  std::memset(&read, 0, sizeof read);
  InitRepeatFilterInfo(&read.settings);
  if (!off_load_struct(fp, kSorted, kFields, &read)) return false;
  if (read.settings.GapType == KLV_REPEAT_GAP_SAMPLES && read.settings.GapTotalSamples == 0)
    read.settings.GapTotalSamples = read.settings.GapSampleCount;
  *info = read;
  return true;
}

int32_t parse(SFPARSE* fp, RepeatFileInfo* info) {
  if (!fp) return 0;
  bool ok = false;
  try {
    ok = read_block(fp, info);
  } catch (...) {
    ok = false;
  }
  fp_close(fp);
  return ok ? 1 : 0;
}

}  // namespace

extern "C" {

KLV_API void InitRepeatFilterInfo(RepeatFilterInfo* info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  info->CropRight = 1.0;
  info->CropBottom = 1.0;
}

KLV_API RepeatFileInfo* new_repeat_info(void) {
  auto* r = static_cast<RepeatFileInfo*>(std::calloc(1, sizeof(RepeatFileInfo)));
  if (r) InitRepeatFilterInfo(&r->settings);
  return r;
}

KLV_API void free_repeat_info(RepeatFileInfo* info) {
  std::free(info);
}

KLV_API int32_t load_repeat_info(SOVolume* volume, const char* path, RepeatFileInfo* info) {
  if (!path || !info) return 0;
  SFPARSE* fp = fp_open(volume, path, 0);
  if (!fp) {
    KLV_LOG(KLV_LOG_ERROR, "repeat settings \"%s\" cannot be opened", path);
    return 0;
  }
  const int32_t ok = parse(fp, info);
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "repeat settings \"%s\" cannot be read", path);
  return ok;
}

KLV_API int32_t parse_repeat_info(const char* text, int32_t length, RepeatFileInfo* info) {
  if (!text || length < 0 || !info) return 0;
  SFilemux* stream = Omemopen(text, size_t(length));
  if (!stream) return 0;
  const int32_t ok = parse(fp_attach(stream), info);
  Oclose(stream);
  return ok;
}

KLV_API int32_t save_repeat_info(SOVolume* volume, const char* path, const RepeatFileInfo* info) {
  if (!path || !info) return 0;
  SFSAVE* save = fp_save_begin(volume, path);
  if (!save) return 0;
  SFilemux* s = fp_save_stream(save);
  bool ok = off_put_open(s, 0, kBlock) != 0;
  for (const off_field& f : kRecordOrder) {
    if (!ok) break;
    const auto* base = reinterpret_cast<const char*>(info) + f.offset;
    if (f.kind == OFF_CUSTOM)
      ok = f.write(s, 1, &f, info) != 0;
    else if (f.kind == OFF_STRING)
      ok = off_put_string(s, 1, f.key, base) != 0;
    else if (f.kind == OFF_DOUBLE)
      ok = off_put_double(s, 1, f.key, *reinterpret_cast<const double*>(base)) != 0;
    else
      ok = off_put_int(s, 1, f.key, *reinterpret_cast<const int32_t*>(base)) != 0;
  }
  ok = ok && off_put_close(s, 0) != 0;
  if (!fp_save_end(save, ok ? 1 : 0) || !ok) {
    KLV_LOG(KLV_LOG_ERROR, "repeat settings \"%s\" could not be written", path);
    return 0;
  }
  return 1;
}

KLV_API int32_t repeat_file_check(SOVolume* volume, const char* path) {
  if (!path) return 0;
  SFPARSE* fp = fp_open(volume, path, 0);
  if (!fp) return 0;
  char word[64];
  const bool ok = fp_get_token(fp, word, sizeof word) == KLV_FP_WORD && Ostricmp(word, kBlock) == 0;
  fp_close(fp);
  return ok ? 1 : 0;
}

}  // extern "C"
