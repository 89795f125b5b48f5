// SPDX-License-Identifier: MIT
// Colour conversion of whole lines. Opening reads as its stages: find the
// profiles, open the profile node's transform, load the calibration, fold
// the exact per-pixel function into a grid. The exact function is the
// node's per-pixel transform (evaluated without precalculation) followed by
// the linearization tables; the grid is sampled from it, so the two agree up
// to the grid's interpolation (tests/color/clut_grid_test.cpp measures it).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "color/clut_grid.h"
#include "color/color_convert_internal.h"
#include "klv/calib.h"
#include "klv/color_convert_cxx.h"
#include "klv/kernel_path.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/prntinfo.h"

namespace klv {
namespace {

using color::ClutGrid;

constexpr int kMaxChannels = 16;

const char* model_name(ColorModel m) {
  switch (m) {
    case ColorModel::kGray:
      return "gray";
    case ColorModel::kRgb:
      return "RGB";
    case ColorModel::kLab:
      return "L*a*b*";
    case ColorModel::kCmyk:
      return "CMYK";
  }
  return "?";
}

const char* default_profile(ColorModel m) {
  switch (m) {
    case ColorModel::kGray:
      return "klv_gray.icc";
    case ColorModel::kRgb:
      return "klv_srgb.icc";
    case ColorModel::kLab:
      return "*Lab";
    case ColorModel::kCmyk:
      return "klv_cmyk.icc";
  }
  return "";
}

// The format word of the node's input: additive models plain, CMYK as ink
// amounts (the ink bit clear: values are not inverted).
uint32_t input_word(ColorModel m) {
  switch (m) {
    case ColorModel::kGray:
      return 1;
    case ColorModel::kLab:
      return CMS_FMT_LAB | 3;
    case ColorModel::kCmyk:
      return 4;
    default:
      return 3;
  }
}

// The colour space signature (header bytes 16-19) a model's profile has.
const char* space_signature(ColorModel m) {
  switch (m) {
    case ColorModel::kGray:
      return "GRAY";
    case ColorModel::kLab:
      return "Lab ";
    case ColorModel::kCmyk:
      return "CMYK";
    default:
      return "RGB ";
  }
}

bool describes(const std::vector<uint8_t>& profile, ColorModel m) {
  return profile.size() >= 128 && std::memcmp(profile.data() + 16, space_signature(m), 4) == 0;
}

bool read_file(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

std::string color_detail::find_profile(const std::string& name) {
  if (name.empty() || name[0] == '*') return name;
  if (::access(name.c_str(), R_OK) == 0) return name;
  char found[KLV_PATH_MAX];
  if (_findinpath(name.c_str(), found)) return found;
  if (_findinpath(("profiles/" + name).c_str(), found)) return found;
  return {};
}

std::string color_detail::printer_profile(const std::string& printer) {
  char folder[KLV_PATH_MAX] = {};
  if (printer.empty() || !get_printer_path(printer.c_str(), folder, nullptr)) return {};
  std::string path = std::string(folder) + "/Info/PRINTER.icc";
  for (char& c : path)
    if (c == '\\') c = '/';
  return ::access(path.c_str(), R_OK) == 0 ? path : std::string();
}

namespace {

// The embedded profile as a file the engine can open; removed when done.
class TempProfile {
 public:
  bool Write(const std::vector<uint8_t>& bytes) {
    const char* dir = std::getenv("TMPDIR");
    path_ = std::string(dir && *dir ? dir : "/tmp") + "/klv_profile_XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) return path_.clear(), false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(fd);
    return ok;
  }
  ~TempProfile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Stage 1: which profiles, as the engine is to open them.
bool choose_input(const ColorConversionSetup& s, TempProfile* temp, std::string* path,
                  std::string* name, std::string* error) {
  if (!s.input_profile.empty()) {
    *path = color_detail::find_profile(s.input_profile);
    *name = s.input_profile;
    if (path->empty()) *error = "input profile \"" + s.input_profile + "\" not found";
    return !path->empty();
  }
  if (!s.embedded.empty() && describes(s.embedded, s.input)) {
    if (!temp->Write(s.embedded)) {
      *error = "cannot keep the embedded profile in a temporary file";
      return false;
    }
    *path = temp->Path();
    *name = "embedded profile";
    return true;
  }
  if (!s.embedded.empty())
    KLV_LOG(KLV_LOG_WARNING,
            "colour conversion: the embedded profile does not describe %s input;"
            " using the default",
            model_name(s.input));
  *name = default_profile(s.input);
  *path = color_detail::find_profile(*name);
  if (path->empty()) *error = "default profile \"" + *name + "\" not found";
  return !path->empty();
}

bool choose_output(const ColorConversionSetup& s, std::string* path, std::string* name,
                   std::string* error) {
  *name = s.output_profile;
  if (name->empty()) {
    *path = color_detail::printer_profile(s.printer);
    if (!path->empty()) {
      *name = s.printer + " profile";
      return true;
    }
    *name = "klv_cmyk.icc";
  }
  *path = color_detail::find_profile(*name);
  if (path->empty() || (*path)[0] == '*') {
    *error = "output profile \"" + *name + "\" not found";
    return false;
  }
  return true;
}

void engine_error(const char*, int32_t, double, void* cookie) {
  *static_cast<bool*>(cookie) = true;
}

}  // namespace

// Stage 2: the node and its exact per-pixel transform.
bool color_detail::Conversion::OpenNode(const std::string& source, const std::string& destination,
                                        std::string* error) {
  if (!cms_initialize(nullptr, nullptr)) {
    *error = "the colour-management service cannot start (is CMSTypes.Info on the search path?)";
    return false;
  }
  bool failed = false;
  char intent_arg[32];
  std::snprintf(intent_arg, sizeof intent_arg, "intent=%d", intent);
  const char* args[] = {intent_arg};
  node.reset(cms_profnode_new(CMS_TYPE_ICC, "", 0, source.c_str(), "", destination.c_str(), "", 1,
                              args, 0, nullptr, input_word(input), 0, engine_error, &failed));
  // The per-pixel form alone (option bit 3): lines go through the grid.
  if (!node || !cms_profnode_open_xform_ex(cms_get_info(), node.get(), engine_error, &failed, 8)) {
    *error = "the colour engine cannot join \"" + source + "\" and \"" + destination + "\"";
    return false;
  }
  // One pixel tells the output's format: channels, and whether inks come inverted.
  uint16_t probe[kMaxChannels] = {};
  const uint32_t word = node->xform->transform(node->xform->handle, input_word(input), probe);
  out_channels = CMS_FMT_CHANNELS(word);
  out_inverted = (word & CMS_FMT_INK) != 0;
  out_model = (word & CMS_FMT_MODEL_MASK) == CMS_FMT_LAB ? ColorModel::kLab
              : out_inverted                             ? ColorModel::kCmyk
              : out_channels == 1                        ? ColorModel::kGray
                                                         : ColorModel::kRgb;
  if (out_channels < 1 || out_channels > ClutGrid::kMaxOutputs) {
    *error = "the output profile has " + std::to_string(out_channels) + " channels";
    return false;
  }
  return true;
}

// Stage 3: the linearization of the calibration name, 16-bit ink tables.
bool color_detail::Conversion::LoadCalibration(const std::string& printer, const std::string& name,
                                               std::string* error) {
  if (name.empty()) return true;
  if (printer.empty()) {
    *error = "a calibration needs a printer (--printer)";
    return false;
  }
  if (out_model != ColorModel::kCmyk) {
    *error = "a calibration applies to ink output, not " + std::string(model_name(out_model));
    return false;
  }
  SOVolume* volume = open_calb_volume(printer.c_str(), KLV_VOL_READ, nullptr);
  if (!volume) {
    *error = "printer \"" + printer + "\" has no calibration volume";
    return false;
  }
  // A member of that name, else the search through the index's rules.
  char base[KLV_CALB_NAME_MAX], media[KLV_CALB_NAME_MAX], third[KLV_CALB_NAME_MAX],
      pattern[KLV_CALB_NAME_MAX], member[KLV_CALB_NAME_MAX] = {};
  if (name.size() < sizeof member && Ofileexists(volume, name.c_str(), 0)) {
    std::memcpy(member, name.c_str(), name.size() + 1);
  } else {
    split_calb_path(name.c_str(), base, media, third, pattern);
    if (!find_calb_vfile(volume, base, media, third, pattern, member)) member[0] = '\0';
  }
  LNTB* table = member[0] ? load_lntb(volume, member, 16) : nullptr;
  VClose(volume);
  if (!table) {
    *error = "printer \"" + printer + "\" has no linearization \"" + name + "\"";
    return false;
  }
  for (uint32_t c = 0; c < table->count && c < out_channels; ++c)
    calibration.emplace_back(table->tables[c], table->tables[c] + KLV_CALB_ENTRIES);
  free_linear_tbl(table);
  if (calibration.size() < out_channels) {
    *error = "linearization \"" + name + "\" has fewer channels than the output";
    calibration.clear();
    return false;
  }
  return true;
}

// The exact path, one pixel at a time.
bool color_detail::Conversion::Exact(const uint16_t* in, uint16_t* out, uint32_t count) const {
  return ExactOn(&form, in, out, count);
}

bool color_detail::Conversion::ExactOn(ucc_request* on, const uint16_t* in, uint16_t* out,
                                       uint32_t count) const {
  if (chain) return ucc_apply_line16(on, in, out, int32_t(count)) == 1;
  const uint32_t nin = in_channels;
  uint16_t v[kMaxChannels];
  for (uint32_t i = 0; i < count; ++i, in += nin, out += out_channels) {
    std::memcpy(v, in, nin * sizeof(uint16_t));
    if (node) {
      // L*a*b* enters the engine in the ICC version 2 16-bit encoding.
      if (input == ColorModel::kLab)
        for (uint32_t c = 0; c < 3; ++c) v[c] = uint16_t((v[c] * 65280u + 32767u) / 65535u);
      node->xform->transform(node->xform->handle, input_word(input), v);
      if (out_inverted)
        for (uint32_t c = 0; c < out_channels; ++c) v[c] = uint16_t(65535 - v[c]);
      if (out_model == ColorModel::kLab)
        for (uint32_t c = 0; c < 3; ++c)
          v[c] = uint16_t(std::min<uint32_t>(65535, (v[c] * 65535u + 32640u) / 65280u));
    }
    for (uint32_t c = 0; c < calibration.size(); ++c) v[c] = Calibrate(c, v[c]);
    std::memcpy(out, v, out_channels * sizeof(uint16_t));
  }
  return true;
}

// An ink amount through channel c's table (256 entries over 0..65535),
// linear between entries.
uint16_t color_detail::Conversion::Calibrate(uint32_t c, uint16_t value) const {
  const std::vector<uint16_t>& t = calibration[c];
  const double pos = value * 255.0 / 65535.0;
  const uint32_t k = std::min<uint32_t>(uint32_t(pos), 254);
  const double f = pos - k;
  return uint16_t(std::lround(t[k] + (t[k + 1] - double(t[k])) * f));
}

namespace {

// The chain contexts and forms of the lanes past the first of a fold.
class LaneForms {
 public:
  LaneForms() = default;
  LaneForms(const LaneForms&) = delete;
  LaneForms& operator=(const LaneForms&) = delete;
  ~LaneForms() {
    for (ucc_info* info : infos_) ucc_info_free(info, 0);
  }
  // Lanes without a chain need nothing of their own; a context that cannot
  // be made leaves fewer lanes.
  void Open(ucc_info* chain, const ucc_request& form, uint32_t lanes) {
    count_ = std::max(lanes, 1u);
    if (!chain || count_ == 1) return;
    forms_.resize(count_);
    for (uint32_t lane = 1; lane < count_; ++lane) {
      ucc_info* info = ucc_info_init(ucc_info_get_nodes(chain), 0, 0);
      if (!info) {
        count_ = lane;
        return;
      }
      infos_.push_back(info);
      forms_[lane] = form;
      forms_[lane].info = info;
    }
  }
  uint32_t Count() const { return count_; }
  // Lane 0 is the conversion's own form; others have theirs when there is a
  // chain (the direct path ignores the form).
  ucc_request* At(uint32_t lane) { return lane < forms_.size() ? &forms_[lane] : nullptr; }

 private:
  uint32_t count_ = 1;
  std::vector<ucc_info*> infos_;
  std::vector<ucc_request> forms_;
};

}  // namespace

// Stage 4: the grid, sampled from the exact path.
bool color_detail::Conversion::Fold(uint32_t points, uint32_t lanes, std::string* error) {
  if (!points) points = ClutGrid::DefaultPoints(in_channels);
  // Gray, RGB and L* pack their nodes towards dark (exponent 1.5), where
  // profiles bend most (ink limits, black generation, colours no ink
  // reaches); ink input (a CMYK source, or a calibration alone, whose tables
  // bend at both ends) keeps evenly spaced nodes.
  ClutGrid::Shape shapes[4];
  for (uint32_t a = 0; a < in_channels; ++a) {
    const bool packed = input != ColorModel::kCmyk && !(input == ColorModel::kLab && a > 0);
    shapes[a] = {packed ? 1.5 : 1.0, false};
  }
  // Every lane but the first runs the chain on a context of its own (its
  // scratch lines) over the same nodes, whose transforms were bound when
  // the chain was probed and keep no state of a run; the direct path keeps
  // its state on the stack.
  LaneForms forms;
  forms.Open(chain, form, lanes);
  grid = ClutGrid::Fold(
      in_channels, out_channels, points, forms.Count(),
      [this, &forms](uint32_t lane, const uint16_t* in, uint16_t* out, uint32_t count) {
        return ExactOn(lane ? forms.At(lane) : &form, in, out, count);
      },
      error, shapes);
  return grid != nullptr;
}

// The conversion as a colour chain: RGB through a printer profile node to
// inks, or inks alone, then the calibration node with the linearization
// loaded above. Kept only when the chain is a pure function of the pixel
// and gives the output's channels; else the direct path stays (logged).
bool color_detail::Conversion::BuildChain(const std::string& source,
                                          const std::string& destination) {
  const bool profile = input == ColorModel::kRgb && out_model == ColorModel::kCmyk && node;
  const bool inks = input == ColorModel::kCmyk && !node && !calibration.empty();
  if (!profile && !inks) return false;
  t_ucc_node* nodes = nullptr;
  if (profile) {
    char intent_arg[32];
    std::snprintf(intent_arg, sizeof intent_arg, "intent=%d", intent);
    const char* args[] = {intent_arg};
    t_ucc_node* p = new_ucc(UCC_PCG3);
    if (!p) return false;
    cms_profnode* n =
        cms_profnode_new(CMS_TYPE_ICC, "", 0, source.c_str(), "", destination.c_str(), "", 1, args,
                         0, nullptr, 3, out_channels | CMS_FMT_INK, nullptr, nullptr);
    // Opened here with the per-pixel form alone; the chain keeps a transform
    // that is open.
    if (n) cms_profnode_open_xform_ex(cms_get_info(), n, nullptr, nullptr, 8);
    static_cast<ucc_proflist*>(p->data)->first = n;
    nodes = add_ucc(nodes, p);
  }
  if (!calibration.empty()) {
    nodes = ucc_set_calb(nodes, "", "", "", "", 1, 1);
    t_ucc_node* c = nodes ? find_ucc_node(nodes, UCC_CTB0) : nullptr;
    auto* cal = c ? static_cast<ucc_calb*>(c->data) : nullptr;
    LNTB* linear = cal ? static_cast<LNTB*>(std::calloc(1, sizeof(LNTB))) : nullptr;
    if (linear) {
      linear->count = uint8_t(calibration.size());
      linear->tables = alloc_lntb(linear->count);
      for (size_t k = 0; linear->tables && k < calibration.size(); ++k)
        std::memcpy(linear->tables[k], calibration[k].data(), KLV_CALB_ENTRIES * 2);
      cal->linear = linear;
      cal->linear_bits = 16;
    }
    if (!linear || !linear->tables) {
      free_ucc(nodes);
      return false;
    }
  }
  // Opens the transforms of the printer profile nodes (what bit 0); flags
  // bit 10: the calibration's tables are in place already.
  load_calibration(nullptr, &nodes, 1, 0x400, nullptr);
  if (!nodes || !ucc_is_pure(nodes)) {
    KLV_LOG(KLV_LOG_WARNING,
            "colour conversion: the chain is not a pure pixel function;"
            " converting directly");
    free_ucc(nodes);
    return false;
  }
  chain = ucc_info_init(nodes, 0, 0);
  if (!chain) {
    free_ucc(nodes);
    return false;
  }
  ucc_request_init(&form, chain, profile ? 1 : 0, uint8_t(in_channels), uint8_t(out_channels));
  // One pixel shows whether the chain gives the output's channels.
  uint16_t probe_in[4] = {}, probe_out[kMaxChannels] = {};
  if (ucc_apply_line16(&form, probe_in, probe_out, 1) != 1) {
    KLV_LOG(KLV_LOG_WARNING,
            "colour conversion: the chain does not give %u channels;"
            " converting directly",
            out_channels);
    ucc_info_free(chain, 1);
    chain = nullptr;
    return false;
  }
  description += ", folded from a colour chain";
  return true;
}

color_detail::Conversion::~Conversion() {
  if (chain) ucc_info_free(chain, 1);
}

void color_detail::Conversion::NodeFree::operator()(cms_profnode* n) const {
  cms_profnode_free(n, nullptr, nullptr);
}

ColorConversion::ColorConversion(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ColorConversion::~ColorConversion() = default;

std::unique_ptr<ColorConversion> ColorConversion::Open(const ColorConversionSetup& s,
                                                       std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  try {
    auto impl = std::make_unique<Impl>();
    impl->input = s.input;
    impl->intent = s.intent;
    impl->in_channels = s.input == ColorModel::kGray ? 1 : s.input == ColorModel::kCmyk ? 4 : 3;
    if (s.intent < 0 || s.intent > 3) {
      *error = "intent " + std::to_string(s.intent) + " is not 0 to 3";
      return nullptr;
    }
    TempProfile temp;  // an embedded profile, until the chain has opened it too
    if (s.calibration_only) {
      if (s.input != ColorModel::kCmyk) {
        *error = "a calibration alone converts ink input only";
        return nullptr;
      }
      impl->out_channels = impl->in_channels;
      impl->out_model = ColorModel::kCmyk;
      impl->description = "calibration " + s.calibration;
    } else {
      std::string source, source_name, destination, destination_name;
      if (!choose_input(s, &temp, &source, &source_name, error) ||
          !choose_output(s, &destination, &destination_name, error) ||
          !impl->OpenNode(source, destination, error))
        return nullptr;
      impl->source = source;
      impl->destination = destination;
      if (!read_file(destination, &impl->output_profile)) {
        *error = "cannot read \"" + destination + "\"";
        return nullptr;
      }
      static const char* const kIntents[] = {"perceptual", "relative colorimetric", "saturation",
                                             "absolute colorimetric"};
      impl->description = source_name + " -> " + destination_name + ", " + kIntents[s.intent];
      if (!s.calibration.empty()) impl->description += ", calibration " + s.calibration;
    }
    if (!impl->LoadCalibration(s.printer, s.calibration, error)) return nullptr;
    if (s.use_chain) impl->BuildChain(impl->source, impl->destination);
    if (!impl->Fold(s.grid_points, s.threads, error)) return nullptr;
    return std::unique_ptr<ColorConversion>(new ColorConversion(std::move(impl)));
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return nullptr;
  }
}

uint32_t ColorConversion::InputChannels() const {
  return impl_->in_channels;
}
uint32_t ColorConversion::OutputChannels() const {
  return impl_->out_channels;
}
ColorModel ColorConversion::OutputModel() const {
  return impl_->out_model;
}
const std::vector<uint8_t>& ColorConversion::OutputProfile() const {
  return impl_->output_profile;
}
const std::string& ColorConversion::Description() const {
  return impl_->description;
}
void ColorConversion::Line8(const uint8_t* in, uint8_t* out, uint32_t count) const {
  impl_->grid->Line8(in, out, count);
}
void ColorConversion::Line16(const uint16_t* in, uint16_t* out, uint32_t count) const {
  impl_->grid->Line16(in, out, count);
}
bool ColorConversion::Exact16(const uint16_t* in, uint16_t* out, uint32_t count) const {
  return impl_->Exact(in, out, count);
}

}  // namespace klv
