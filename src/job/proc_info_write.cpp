// SPDX-License-Identifier: MIT
// Writing the processing record: the `Proc_Info` block in its stored forms,
// appended to its file.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "job/proc_info_internal.h"
#include "job/settings_fields.h"
#include "kernel/settings_text_reader.h"
#include "klv/kernel_stream.h"
#include "klv/log.h"

namespace klv::job {
namespace {

using klv::kernel::fix_string;

template <size_t N>
std::string text(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

void entry(std::string& out, const char* key, const std::string& value) {
  out += " ";
  out += key;
  out += " { " + value + " }\n";
}

bool levels_written(const proc_info& r, int& last) {
  last = -1;
  for (int i = 0; i < KLV_PROC_TABLES; ++i)
    if (r.ProcLevelInfo[i].levels >= 2) last = i;
  const bool left_out =
      (r.ProcessOpts & KLV_PROC_OPT_NO_LEVELS) && !(r.ProcessOpts & KLV_PROC_OPT_LEVELS_ANYWAY);
  return last >= 0 && !left_out;
}

void write_levels(std::string& out, const proc_info& r) {
  int last = -1;
  if (!levels_written(r, last)) return;
  out += " ProcLevelInfo {\n";
  char hex[16];
  for (int i = 0; i <= last; ++i) {
    const proc_level_table& t = r.ProcLevelInfo[i];
    out += "  { " + std::to_string(t.levels) + " {";
    int end = 255;
    while (end >= 0 && t.values[end] == 0) --end;
    if (end < 0) out += " 0";
    for (int v = 0; v <= end; ++v) {
      std::snprintf(hex, sizeof hex, " %X", static_cast<unsigned>(t.values[v]));
      out += hex;
    }
    out += "  } }\n";
  }
  out += " }\n";
}

void write_separations(std::string& out, const proc_info& r) {
  int last = -1;
  for (int i = 0; i < KLV_PROC_TABLES; ++i)
    if (r.Separations[i][0]) last = i;
  if (last < 0) return;
  out += " Separations {";
  // An empty name between others is written "" so the names after it keep
  // their places.
  for (int i = 0; i <= last; ++i) out += " " + fix_string(text(r.Separations[i]).c_str());
  out += " }\n";
}

void write_dot_counts(std::string& out, const proc_info& r) {
  if (!r.DotCount[0].name[0]) return;
  entry(out, "DotCountNorm", std::to_string(r.DotCountNorm));
  out += " DotCount {\n";
  for (const proc_dot_count& d : r.DotCount) {
    if (!d.name[0]) continue;
    out += "  { " + quoted(text(d.name).c_str()) + " " + std::to_string(d.count) + " " +
           real_text(d.value) + " " + std::to_string(d.count2) + " }\n";
  }
  out += " }\n";
}

}  // namespace

std::string proc_info_block(const proc_info& r) {
  std::string out = "Proc_Info {\n";
  if (r.BitsPerSample != 0 && r.BitsPerSample != 1)
    out += " BitsPerSample{ " + std::to_string(r.BitsPerSample) + " }\n";
  entry(out, "ImageFile", quoted(text(r.ImageFile).c_str()));
  entry(out, "UccFile", quoted(text(r.UccFile).c_str()));
  if (r.ProcessProfiles[0])
    entry(out, "ProcessProfiles", fix_string(text(r.ProcessProfiles).c_str()));
  if (r.ProcessOpts) entry(out, "ProcessOpts", std::to_string(r.ProcessOpts));
  if (r.JobID[0]) entry(out, "JobID", fix_string(text(r.JobID).c_str()));
  if (r.InkConfig[0]) entry(out, "InkConfig", fix_string(text(r.InkConfig).c_str()));
  if (r.PrintXMod) entry(out, "PrintXMod", std::to_string(r.PrintXMod));
  if (r.PrintYMod) entry(out, "PrintYMod", std::to_string(r.PrintYMod));
  write_levels(out, r);
  entry(out, "ProcessStartDate", quoted(text(r.ProcessStartDate).c_str()));
  entry(out, "ProcessStartTime", quoted(text(r.ProcessStartTime).c_str()));
  entry(out, "ProcessTotalTime", quoted(text(r.ProcessTotalTime).c_str()));
  entry(out, "PrinterCCT", quoted(text(r.PrinterCCT).c_str()));
  entry(out, "ScannerCCT", quoted(text(r.ScannerCCT).c_str()));
  write_separations(out, r);
  entry(out, "PrintPattern", quoted(text(r.PrintPattern).c_str()));
  if (r.ProcCropSet)
    entry(out, "ProcCrop",
          real_text(r.ProcCrop[0]) + " " + real_text(r.ProcCrop[1]) + " " +
              real_text(r.ProcCrop[2]) + " " + real_text(r.ProcCrop[3]));
  write_dot_counts(out, r);
  if (r.Process16Bit) entry(out, "Process16Bit", std::to_string(r.Process16Bit));
  out += "}\n";
  return out;
}

}  // namespace klv::job

extern "C" {

KLV_API int32_t put_prtinfo(SOVolume* volume, const char* path, const proc_info* record) {
  if (!path || !record) return 0;
  try {
    std::string block = klv::job::proc_info_block(*record);
    SFilemux* s = Ovfopen(volume, path, "ab");
    if (!s) {
      KLV_LOG(KLV_LOG_ERROR, "processing record: cannot open \"%s\" to append", path);
      return 0;
    }
    bool ok = Owrite(s, block.data(), block.size()) == block.size();
    ok = Oclose(s) == 0 && ok;
    if (!ok) KLV_LOG(KLV_LOG_ERROR, "processing record: appending to \"%s\" failed", path);
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

KLV_API char* proc_info_text(const proc_info* record) {
  if (!record) return nullptr;
  try {
    return strdup(klv::job::proc_info_block(*record).c_str());
  } catch (...) {
    return nullptr;
  }
}

KLV_API void proc_info_text_free(char* text) {
  std::free(text);
}

}  // extern "C"
