// SPDX-License-Identifier: MIT
// The job's colour chain, kept with the job as ".\File.UCC" (the adjustment
// nodes: levels, curves, colour changes) and ".\File.CCX" (the calibration
// node and the other profile-side nodes). A job volume keeps them as
// members: read when there, else built from the job, and saved back after
// every run. A job folder keeps them only when it was given them (files of
// those names): read, and saved back. The adjustment nodes convert the
// image's colours in the line filter, before the conversion to inks. The
// calibration node follows the job's mode (its linearization name is the
// mode's), but a node whose linearization is switched off switches off the
// job's calibration.
#include <filesystem>
#include <string>
#include <system_error>

#include "imgproc_internal.h"
#include "klv/kernel_volume.h"
#include "klv/ucc.h"

namespace klv::proc {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAdjustMember = ".\\File.UCC";
constexpr const char* kCalibMember = ".\\File.CCX";
// The adjustment nodes' class (types 27 to 128) for copy_ucc_ref_ex2.
constexpr uint32_t kAdjustClass = 2;

struct VolumeClose {
  void operator()(SOVolume* v) const { VClose(v); }
};

// Where the job keeps its chain: its volume (with member paths) or its
// folder (with file paths). False when the job names neither.
struct ChainPlace {
  std::unique_ptr<SOVolume, VolumeClose> volume;
  std::string adjust, calib;

  bool Open(const std::string& job) {
    if (job.empty()) return false;
    std::error_code ec;
    if (!fs::is_directory(job, ec) && VIsVolume(nullptr, job.c_str())) {
      volume.reset(VOpen(nullptr, job.c_str(), KLV_VOL_UPDATE));
      adjust = kAdjustMember;
      calib = kCalibMember;
      return volume != nullptr;
    }
    const fs::path folder = fs::is_directory(job, ec) ? fs::path(job) : fs::path(job).parent_path();
    if (folder.empty()) return false;
    adjust = (folder / (kAdjustMember + 2)).string();
    calib = (folder / (kCalibMember + 2)).string();
    return true;
  }
  bool Has(const std::string& path) const { return Ofileexists(volume.get(), path.c_str(), 0); }
};

ucc_calb* calibration_of(t_ucc_node* chain) {
  t_ucc_node* n = find_ucc_node(chain, UCC_CTB0);
  return n ? static_cast<ucc_calb*>(n->data) : nullptr;
}

}  // namespace

void UccChainFree::operator()(t_ucc_node* chain) const {
  free_ucc(chain);
}
void UccInfoFree::operator()(ucc_info* info) const {
  ucc_info_free(info, 1);
}

bool job_chain(Job& j) {
  ChainPlace place;
  if (!place.Open(j.job)) return true;  // a record without its job: nothing kept
  t_ucc_node* chain = nullptr;
  const bool had_adjust = place.Has(place.adjust), had_calib = place.Has(place.calib);
  if (had_adjust) chain = load_ucc(place.volume.get(), place.adjust.c_str(), chain);
  if (had_calib) chain = load_ucc_ext(place.volume.get(), place.calib.c_str(), chain);
  j.chain.reset(chain);
  if ((had_adjust || had_calib) && !j.chain)
    j.Message("The job's colour chain files hold no nodes: a new chain is made");
  const ucc_calb* saved = calibration_of(j.chain.get());
  const uint32_t enable = saved ? saved->enable : 1;
  j.chain.reset(ucc_set_calb(j.chain.release(), "", j.calibration.c_str(), "", "", enable, 1));
  if (!j.chain) return j.Fail("Out of memory");
  if (!(enable & 1)) {
    j.Message("The job's colour chain switches the calibration off");
    j.calibration.clear();
  }
  // The adjustments of the image's colours, as a transform of the line
  // filter.
  if (t_ucc_node* adjust = copy_ucc_ref_ex2(j.chain.get(), 0, kAdjustClass)) {
    j.adjust.reset(ucc_info_init(adjust, 1, 0));
    if (!j.adjust) {
      free_ucc(adjust);
      return j.Fail("Out of memory");
    }
    ucc_filter_transform(j.adjust.get(), &j.adjust_transform);
    j.Message("Colour adjustments from the job's chain");
  }
  if (had_adjust || had_calib) j.Message("Colour chain of the job read");
  // Saved back whole: the adjustments and the profile side.
  if (!place.volume && !had_adjust && !had_calib) return true;
  if (!save_ucc(place.volume.get(), place.adjust.c_str(), j.chain.get()) ||
      !save_ucc_ext(place.volume.get(), place.calib.c_str(), j.chain.get()))
    return j.Fail("The job's colour chain cannot be saved (\"%s\")", place.calib.c_str());
  return true;
}

}  // namespace klv::proc
