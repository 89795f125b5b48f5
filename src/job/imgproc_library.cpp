// SPDX-License-Identifier: MIT
// What the driver takes from the printer's profile library: the ink
// restriction of the job's media, resolution and pattern (the "InkRstr"
// entry, with the ink order of the "CFG" entry) linked into the multi-level
// process record the placement screens with, and the default output profile.
// A printer without a library is not waited for: the library is looked up
// once and opened with a short wait.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imgproc_internal.h"
#include "klv/cimg_file.h"
#include "klv/inkrestrict.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/printer_driver.h"
#include "klv/printmode.h"
#include "klv/proflib.h"

namespace klv::proc {
namespace {

namespace ir = kelv::inkrestrict;

// How long a library another process holds is waited for.
constexpr int kLibraryWaitMs = 2000;
// The entries' names, and the type of the printer's output profiles.
constexpr const char* kRestrictionEntry = "InkRstr";
constexpr const char* kConfigEntry = "CFG";
constexpr uint32_t kOutputProfileType = 2;
// The job's inks in colour-record order when the library names none.
const std::vector<std::string> kDefaultInks = {"Cyan", "Magenta", "Yellow", "Black"};

struct VolumeClose {
  void operator()(SOVolume* v) const { VClose(v); }
};
using VolumePtr = std::unique_ptr<SOVolume, VolumeClose>;
struct EntryFree {
  void operator()(PL_ENTRY* e) const { PL_free_profile_entry(e); }
};
struct PrinterClose {
  void operator()(SP_OBJECT* o) const { SP_close(o); }
};

VolumePtr open_library(const Job& j) {
  return VolumePtr(PL_open_library_briefly(j.s->PrintDev, KLV_VOL_READ, kLibraryWaitMs));
}

// The pattern keys a library may file the job's mode under: its text with
// the option ("Screen(85 lpi)"), then the pattern alone ("Screen").
std::vector<std::string> pattern_keys(const Job& j) {
  std::vector<std::string> keys = {j.pattern_text};
  const char* bare = get_pattern_name(j.pattern);
  if (bare && j.pattern_text != bare) keys.emplace_back(bare);
  return keys;
}

// The table member of the entry `name` (any type) for the job's media,
// resolution and pattern; "" when there is none.
std::string entry_table(const Job& j, SOVolume* library, const char* name) {
  std::unique_ptr<PL_ENTRY, EntryFree> e(PL_new_profile_entry());
  if (!e) return {};
  for (const std::string& pattern : pattern_keys(j))
    if (PL_vget_profile_entry(library, j.s->PrintMedia, j.s->PrintRes, pattern.c_str(), -1, name,
                              e.get()) == PL_OK)
      return e->table;
  return {};
}

bool read_member(SOVolume* v, const std::string& member, std::string* bytes) {
  SFilemux* f = Ovfopen(v, member.c_str(), "rb");
  if (!f) return false;
  const int64_t size = Ofileleni64(f);
  bool ok = size >= 0 && size < (int64_t(64) << 20);
  if (ok) {
    bytes->resize(size_t(size));
    ok = Oread(f, bytes->data(), bytes->size()) == bytes->size();
  }
  Oclose(f);
  return ok;
}

// The ink order of the "CFG" entry: its member's separation names, blank or
// line separated, quotes dropped. The default inks when there is none.
bool ink_order(const Job& j, SOVolume* library, std::vector<std::string>* inks) {
  *inks = kDefaultInks;
  const std::string member = entry_table(j, library, kConfigEntry);
  if (member.empty()) return true;
  std::string text;
  if (!read_member(library, member, &text)) return false;
  std::vector<std::string> names;
  std::string word;
  for (const char c : text + " ") {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) names.push_back(word);
      word.clear();
    } else if (c != '"') {
      word += c;
    }
  }
  if (names.empty() || names.size() > KLV_MLPROC_COLORS) return false;
  *inks = names;
  return true;
}

// The curve restricting ink `name` fed by colour record `c`: the channel of
// that index, else the first curve of that name in the file.
std::shared_ptr<ir::SepCurve> curve_for(const ir::InkRestrictFile& file, size_t c,
                                        const std::string& name) {
  if (auto channel = file.getChannelSeps(int(c)))
    for (const auto& curve : channel->getSeps())
      if (curve && !strcasecmp(curve->getName().c_str(), name.c_str())) return curve;
  return file.getSepCurve(name);
}

// The driver's process record for the job's media and mode; a plain record
// of the four inks when the printer has no driver or the driver none.
std::unique_ptr<MLPROCINFO> driver_record(Job& j) {
  MLPROCINFO answer;
  std::memset(&answer, 0, sizeof answer);
  int32_t error = 0;
  std::unique_ptr<SP_OBJECT, PrinterClose> printer(SP_open_printer(j.s->PrintDev, &error));
  const bool answered = printer && SP_get_mlproc_info(printer.get(), j.s->PrintMedia,
                                                      j.s->PrintMode, &answer) == SP_OK;
  return one_bit_record(answered ? &answer : nullptr);
}

// Contone pages: the ink amounts written through the restriction's curves,
// one table per ink (8-bit, pixel-interleaved).
class RestrictedWriter : public CIMG_file {
 public:
  RestrictedWriter(IMG_file* target, const std::vector<std::array<uint8_t, 256>>& tables)
      : target_(target), tables_(tables) {
    m_info = target->info;
    line_.resize(m_info.bytes_per_line);
  }
  ~RestrictedWriter() override {
    if (target_) img_close(target_);
  }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    const size_t inks = tables_.size(), bytes = line_.size();
    for (int32_t y = 0; y < count; ++y) {
      const uint8_t* in = buffer + size_t(y) * bytes;
      for (size_t i = 0; i + inks <= size_t(m_info.width) * inks; i += inks)
        for (size_t k = 0; k < inks; ++k) line_[i + k] = tables_[k][in[i + k]];
      if (img_write_line(target_, line_.data(), 1) != 1) return y;
    }
    return count;
  }
  int32_t GetStatus(int32_t what) override { return img_status(target_, what); }
  int32_t Close() override {
    const int32_t r = img_close_status(target_);
    target_ = nullptr;
    return r;
  }

 private:
  IMG_file* target_;
  std::vector<std::array<uint8_t, 256>> tables_;
  std::vector<uint8_t> line_;
};

}  // namespace

IMG_file* restrict_contone(Job& j, IMG_file* page) {
  const image_info& in = page->info;
  if (j.ink_links.handles.empty()) return page;
  if (in.bits_per_sample != 8 || in.samples < 1 || in.samples > KLV_MLPROC_COLORS ||
      (in.planar & 15) != KLV_PLANAR_PIXEL) {
    img_close(page);
    j.Fail("The ink restriction cannot be applied to contone pages of this layout");
    return nullptr;
  }
  std::vector<std::array<uint8_t, 256>> tables(in.samples);
  for (size_t k = 0; k < tables.size(); ++k) {
    std::shared_ptr<ir::SepCurve> curve;
    if (k < KLV_MLPROC_COLORS && j.mlproc && j.mlproc->color[k].inkrestrict_link)
      if (auto ch = ir::findChannelLink(j.mlproc->color[k].inkrestrict_link)) curve = ch->getSep(0);
    for (int v = 0; v < 256; ++v) {
      const double r = curve ? curve->getValue(float(v * 100.0 / 255.0)) : v * 100.0 / 255.0;
      tables[k][v] = uint8_t(std::clamp(std::lround(r * 255.0 / 100.0), 0L, 255L));
    }
  }
  const int32_t type = page->type;
  return (new RestrictedWriter(page, tables))->ToImg('w', type);
}

InkLinks::~InkLinks() {
  for (const uint32_t h : handles) ir::releaseChannelLink(h);
}

TempFile::~TempFile() {
  if (path.empty()) return;
  ::unlink(path.c_str());
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) ::rmdir(path.substr(0, slash).c_str());
}

std::unique_ptr<MLPROCINFO> one_bit_record(const MLPROCINFO* driver) {
  auto record = std::make_unique<MLPROCINFO>();
  std::memset(record.get(), 0, sizeof *record);
  if (driver)
    *record = *driver;
  else
    record->colors = 4;
  // The job screens one bit per ink: the driver's drop levels are not used
  // (its record would ask for multi-level engines), its colours are.
  record->code_bits = 1;
  record->output_bits = 1;
  record->flags &= ~uint32_t(KLV_MLPROC_FLAG_VARDOT);
  if (record->colors == 0 || record->colors > KLV_MLPROC_COLORS) record->colors = 4;
  return record;
}

bool build_process_record(Job& j) {
  j.mlproc = driver_record(j);
  return link_ink_restriction(j);
}

bool link_ink_restriction(Job& j) {
  VolumePtr library = open_library(j);
  if (!library) return true;
  const std::string member = entry_table(j, library.get(), kRestrictionEntry);
  if (member.empty()) return true;
  // A restriction the library names must be applied: the job would
  // otherwise print more ink than the media takes.
  std::shared_ptr<ir::InkRestrictFile> file =
      ir::InkRestrictFile::ReadFile(library.get(), member.c_str());
  if (!file)
    return j.Fail("The ink restriction \"%s\" of printer \"%s\" cannot be read", member.c_str(),
                  j.s->PrintDev);
  std::vector<std::string> inks;
  if (!ink_order(j, library.get(), &inks))
    return j.Fail("The ink configuration of printer \"%s\" for \"%s\" cannot be read",
                  j.s->PrintDev, j.s->PrintMedia);
  std::string restricted;
  for (size_t c = 0; c < inks.size() && c < j.mlproc->colors; ++c) {
    std::shared_ptr<ir::SepCurve> curve = curve_for(*file, c, inks[c]);
    if (!curve) continue;
    auto channel = std::make_shared<ir::ChannelSeps>(uint8_t(c));
    channel->addSep(curve);
    const uint32_t handle = ir::registerChannelLink(channel);
    if (!handle) return j.Fail("Out of memory");
    j.ink_links.handles.push_back(handle);
    j.mlproc->color[c].inkrestrict_link = handle;
    restricted += (restricted.empty() ? "" : ", ") + inks[c];
  }
  j.ink_restriction = member;
  j.Message("Ink restriction \"" + member + "\": " + (restricted.empty() ? "no ink" : restricted));
  return true;
}

bool library_output_profile(Job& j, TempFile* file) {
  VolumePtr library = open_library(j);
  if (!library) return false;
  char name[PL_FIELD_MAX] = "", table[PL_FILE_MAX] = "";
  for (const std::string& pattern : pattern_keys(j)) {
    if (PL_vget_named_profile(library.get(), j.s->PrintMedia, j.s->PrintRes, pattern.c_str(),
                              kOutputProfileType, "", table) != PL_OK ||
        !*table)
      continue;
    PL_INDEX* index = PL_index_load(library.get(), nullptr);
    if (index) {
      PL_iget_default_profile(index, j.s->PrintMedia, j.s->PrintRes, pattern.c_str(),
                              kOutputProfileType, name);
      PL_index_free(index);
    }
    break;
  }
  if (!*table) return false;
  std::string bytes;
  if (!read_member(library.get(), table, &bytes)) {
    j.Message(std::string("The library's profile \"") + table + "\" cannot be read");
    return false;
  }
  // Kept under the member's own name, so that messages name it.
  const char* dir = std::getenv("TMPDIR");
  std::string folder = std::string(dir && *dir ? dir : "/tmp") + "/klv_job_XXXXXX";
  if (!::mkdtemp(folder.data())) return false;
  std::string base = table;
  for (char& c : base)
    if (c == '/' || c == '\\') c = '_';
  const std::string path = folder + "/" + base;
  FILE* out = std::fopen(path.c_str(), "wb");
  bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out && std::fclose(out) != 0) ok = false;
  if (!ok) {
    ::unlink(path.c_str());
    ::rmdir(folder.c_str());
    return false;
  }
  file->path = path;
  j.output_profile = *name ? name : table;
  return true;
}

}  // namespace klv::proc
