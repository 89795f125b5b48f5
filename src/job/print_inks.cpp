// SPDX-License-Identifier: MIT
// The inks of a frame screened at print time, as the job driver screens
// them: the printer's process record made fit for one bit per ink, with the
// profile library's ink restriction of the frame's media, resolution and
// dot pattern linked into its colours (imgproc_library.cpp does the work);
// and the keeper stage that holds those links for as long as the chain
// below it screens.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "imgproc_internal.h"
#include "klv/job_settings_cxx.h"
#include "klv/log.h"
#include "klv/printmode.h"
#include "klv/printobj_cxx.h"
#include "print_chain.h"

namespace klv::printing {
namespace {

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

// Passes the lines on; once everything below is closed, lets the inks go.
class KeepInks : public ChainStage {
 public:
  KeepInks(IMG_file* below, std::shared_ptr<FrameInks> inks)
      : ChainStage(below), inks_(std::move(inks)) {
    m_info = below->info;
  }
  ~KeepInks() override { ChainStage::Close(); }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    if (!below_) return 0;
    const int32_t n = img_write_line(below_, buffer, count);
    if (n > 0) m_line += n;
    return n;
  }

 private:
  std::shared_ptr<FrameInks> inks_;
};

}  // namespace

std::shared_ptr<FrameInks> frame_inks(const char* printer, const CPrintFrameInfo& frame,
                                      const std::string& res, const CPrintMode* mode, int pattern,
                                      const MLPROCINFO* driver) {
  SettingsPtr s(settings_new());
  auto inks = std::make_shared<FrameInks>();
  if (!s) return nullptr;
  put_text(s->PrintDev, printer ? printer : "");
  put_text(s->PrintMedia, frame.media);
  put_text(s->PrintMode, frame.mode);
  put_text(s->PrintRes, res);
  proc::Job j;
  j.s = s.get();
  j.name = frame.name;
  j.pattern = pattern;
  char text[KLV_PRINTMODE_TEXT] = "";
  get_pattern_str(text, sizeof text, pattern, mode ? printmode_pattern_opt(mode) : "");
  j.pattern_text = text;
  j.mlproc = proc::one_bit_record(driver);
  // A printer without a library (or none named: inks restricted already)
  // restricts nothing; one whose library names a restriction that cannot be
  // read refuses the frame.
  if (*s->PrintDev && !proc::link_ink_restriction(j)) return nullptr;
  inks->record = std::move(j.mlproc);
  inks->links.handles.swap(j.ink_links.handles);
  inks->restriction = j.ink_restriction;
  return inks;
}

IMG_file* keep_inks_open(IMG_file* below, std::shared_ptr<FrameInks> inks) {
  if (!below) return nullptr;
  KeepInks* stage = new (std::nothrow) KeepInks(below, std::move(inks));
  if (!stage) {
    img_close(below);
    return nullptr;
  }
  return stage->ToImg('w', kKeepType);
}

}  // namespace klv::printing
