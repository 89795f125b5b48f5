// SPDX-License-Identifier: MIT
// The OEM placement and its engine: an outside dot-processing library loaded
// with the dynamic loader screens each line.
#include <cstdlib>
#include <new>

#include "klv/htplace.h"
#include "klv/log.h"
#include "klv/htplace_cxx.h"

namespace {

// Hands each line to the library as it stands (samples `in_step_` bytes
// apart) and lets it write the dot line.
class CHTRipOem : public CHTRip {
 public:
  explicit CHTRipOem(CHTPlaceOem* p) : place_(p) {}
  ~CHTRipOem() override { StopWorker(); }
  void ProcessLine() override {
    if (!place_->Line()(place_->Session(), sep_, in_ptr_, in_step_, in_->bits_per_sample, in_width_,
                        out_ptr_, out_bits_) &&
        !reported_) {
      KLV_LOG(KLV_LOG_ERROR, "OEM dot library failed on separation %u", unsigned(sep_));
      reported_ = true;
    }
    out_ptr_ += out_stride_;
    ++out_line_;
  }

 private:
  CHTPlaceOem* place_;
  bool reported_ = false;
};

}  // namespace

CHTPlaceOem::~CHTPlaceOem() {
  if (session_ && close_) close_(session_);
}

bool CHTPlaceOem::Load(const char* config_a, const char* config_b, double xres, double yres) {
  const char* env = std::getenv("KLV_OEM_DOTLIB");
  const char* name = env && *env ? env : "libklvoemdot.so";
  auto lib = std::make_unique<klv::platform::DynamicLibrary>();
  if (!lib->Open(name)) {
    KLV_LOG(KLV_LOG_ERROR, "OEM placement: no dot-processing library \"%s\" (%s)", name,
            lib->ErrorText().c_str());
    return false;
  }
  auto open = lib->SymbolAs<OpenFn>("klv_oem_dot_open");
  line_ = lib->SymbolAs<LineFn>("klv_oem_dot_line");
  close_ = lib->SymbolAs<CloseFn>("klv_oem_dot_close");
  if (!open || !line_ || !close_) {
    KLV_LOG(KLV_LOG_ERROR, "OEM placement: \"%s\" lacks the klv_oem_dot_* entries", name);
    return false;
  }
  session_ = open(config_a ? config_a : "", config_b ? config_b : "", xres, yres);
  if (!session_) {
    KLV_LOG(KLV_LOG_ERROR, "OEM placement: \"%s\" refused configuration \"%s\" \"%s\"", name,
            config_a ? config_a : "", config_b ? config_b : "");
    return false;
  }
  lib_ = std::move(lib);
  return true;
}

CHTRip* CHTPlaceOem::CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                               uint8_t* out_buf, unsigned long stride, unsigned long lines) {
  if (!session_ || !line_) return nullptr;
  auto rip = std::unique_ptr<CHTRip>(new (std::nothrow) CHTRipOem(this));
  if (!rip || !rip->Init(this, IsSepThreaded(sep), sep, color, extra, curve_no, curves, out_buf,
                         stride, lines))
    return nullptr;
  return rip.release();
}
