// SPDX-License-Identifier: MIT
// Slot 13: the transform of a profile node. Reads as its stages: read the
// settings, open the profiles, work out the formats, make the LittleCMS
// transforms, hand them to the node.
//
// One node gets three LittleCMS transforms, made once here: a 16-bit one for
// the colour chains' per-pixel call (ink values held inverted where the
// node's format word says so; evaluated exactly, since a chain is exact per
// pixel), and 8-bit and 16-bit ones for whole lines, in the plain form image
// files hold (0 is no ink). The 8-bit form comes twice, with and without
// LittleCMS's one-pixel cache; each line takes the one that suits how its
// first pixels repeat (bench_cms_line: the cache costs about a tenth on
// photographic lines and saves about two fifths on flat ones). LittleCMS picks
// its optimised worker for each once, so a line costs one call.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "lcms2_engine.h"

namespace klvcms {
namespace {

constexpr int kMaxChannels = 15;

struct Xform {
  cmsHTRANSFORM pixel = nullptr;
  cmsHTRANSFORM line8 = nullptr;        // keeps the last pixel: pays on runs of equal pixels
  cmsHTRANSFORM line8_plain = nullptr;  // no cache: faster where neighbours differ
  cmsHTRANSFORM line16 = nullptr;
  uint32_t out_format = 0;
  uint32_t out_channels = 0;
  uint32_t in_channels = 0;

  ~Xform() {
    for (cmsHTRANSFORM t : {pixel, line8, line8_plain, line16})
      if (t) cmsDeleteTransform(t);
  }
};

// Pixels of the start of an 8-bit line looked at to choose its worker, and
// how many of them must repeat their left neighbour for the cached one.
constexpr uint32_t kProbe = 32;
constexpr uint32_t kRepeatsForCache = 8;

// True when the line starts with runs of equal pixels (flat areas), where
// LittleCMS's one-pixel cache saves the interpolation.
bool looks_flat(const uint8_t* in, uint32_t count, uint32_t channels) {
  const uint32_t n = count < kProbe ? count : kProbe;
  uint32_t repeats = 0;
  for (uint32_t i = 1; i < n; ++i)
    repeats += std::memcmp(in + i * channels, in + (i - 1) * channels, channels) == 0;
  return repeats >= kRepeatsForCache;
}

uint32_t pixel_fn(void* handle, uint32_t, uint16_t* values) {
  auto* x = static_cast<Xform*>(handle);
  uint16_t out[kMaxChannels + 1];
  cmsDoTransform(x->pixel, values, out, 1);
  std::memcpy(values, out, x->out_channels * sizeof(uint16_t));
  return x->out_format;
}

int32_t line_fn(void* handle, const void* in, void* out, uint32_t count, int32_t depth) {
  auto* x = static_cast<Xform*>(handle);
  cmsHTRANSFORM t = nullptr;
  if (depth == 8 && x->line8)  // the worker is chosen once per line
    t = looks_flat(static_cast<const uint8_t*>(in), count, x->in_channels) ? x->line8
                                                                           : x->line8_plain;
  else if (depth == 16)
    t = x->line16;
  if (!t) return 0;
  cmsDoTransform(t, in, out, count);
  return 1;
}

void close_fn(void* handle) {
  delete static_cast<Xform*>(handle);
}

// The LittleCMS pixel type of a colour space, with the channel count.
cmsUInt32Number lcms_format(cmsColorSpaceSignature space, int bytes, bool inverted_ink) {
  const cmsUInt32Number channels = cmsChannelsOf(space);
  int type = _cmsLCMScolorSpace(space);
  // 16-bit L*a*b* follows the ICC version 2 encoding the library uses.
  if (space == cmsSigLabData && bytes == 2) type = PT_LabV2;
  return COLORSPACE_SH(type) | CHANNELS_SH(channels) | BYTES_SH(bytes) |
         (inverted_ink ? FLAVOR_SH(1) : 0);
}

// The colour space a profile hands on when it is the last of a chain.
cmsColorSpaceSignature output_space(cmsHPROFILE last) {
  return cmsGetDeviceClass(last) == cmsSigLinkClass ? cmsGetPCS(last) : cmsGetColorSpace(last);
}

// The default destination for an output format word.
std::string default_destination(uint32_t out_format) {
  const uint32_t channels = CMS_FMT_CHANNELS(out_format);
  if ((out_format & CMS_FMT_MODEL_MASK) == CMS_FMT_LAB) return "*Lab";
  if (out_format & CMS_FMT_INK) return channels == 4 ? "klv_cmyk.icc" : "";
  if (channels == 3) return "*sRGB";
  if (channels == 1) return "klv_gray.icc";
  return "";
}

struct Chain {
  std::vector<Profile> profiles;  // source, links..., destination
  Profile proof;
};

bool open_chain(Engine& engine, const cms_profnode* node, const NodeSettings& s, Chain& chain,
                std::string& error) {
  Profile source = open_profile(engine, node->path1, node->path2, error);
  if (!source) return false;
  const bool is_link = cmsGetDeviceClass(source.get()) == cmsSigLinkClass;
  chain.profiles.push_back(std::move(source));
  for (const auto& link : s.links) {
    Profile p = open_profile(engine, link, "", error);
    if (!p) return false;
    chain.profiles.push_back(std::move(p));
  }
  std::string destination = node->path3[0] ? node->path3 : s.output;
  if (destination.empty() && !(is_link && s.links.empty()))
    destination = default_destination(node->out_format);
  if (!destination.empty()) {
    Profile p = open_profile(engine, destination, "", error);
    if (!p) return false;
    chain.profiles.push_back(std::move(p));
  } else if (!is_link && cmsGetDeviceClass(chain.profiles.back().get()) != cmsSigLinkClass) {
    error = "no destination profile for the node's output format";
    return false;
  }
  if (!s.proof.empty()) {
    chain.proof = open_profile(engine, s.proof, "", error);
    if (!chain.proof) return false;
  }
  return true;
}

cmsHTRANSFORM make_transform(Engine& engine, const Chain& chain, const NodeSettings& s,
                             cmsUInt32Number in, cmsUInt32Number out, cmsUInt32Number flags) {
  if (s.bpc) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  if (chain.proof) {
    return cmsCreateProofingTransformTHR(
        engine.ctx, chain.profiles.front().get(), in, chain.profiles.back().get(), out,
        chain.proof.get(), static_cast<cmsUInt32Number>(s.intent),
        static_cast<cmsUInt32Number>(s.proof_intent), flags | cmsFLAGS_SOFTPROOFING);
  }
  std::vector<cmsHPROFILE> handles;
  for (const auto& p : chain.profiles) handles.push_back(p.get());
  return cmsCreateMultiprofileTransformTHR(engine.ctx, handles.data(),
                                           static_cast<cmsUInt32Number>(handles.size()), in, out,
                                           static_cast<cmsUInt32Number>(s.intent), flags);
}

}  // namespace

int32_t open_xform(void* handle, cms_profnode* node, int32_t option, cms_error_callback cb,
                   void* cookie) {
  auto& engine = *static_cast<Engine*>(handle);
  if (!node || !node->xform) return 0;
  NodeSettings settings;
  std::string error;
  if (!read_settings(node, settings, error)) {
    fail(node, cb, cookie, "LittleCMS engine: node \"%s\": %s", node->path1, error.c_str());
    return 0;
  }
  Chain chain;
  if (!open_chain(engine, node, settings, chain, error)) {
    fail(node, cb, cookie, "LittleCMS engine: node \"%s\": %s", node->path1, error.c_str());
    return 0;
  }
  const cmsColorSpaceSignature in_space = cmsGetColorSpace(chain.profiles.front().get());
  const cmsColorSpaceSignature out_space = output_space(chain.profiles.back().get());
  const uint32_t in_word = node->in_format ? node->in_format : format_word_of(in_space);
  const uint32_t out_word = node->out_format ? node->out_format : format_word_of(out_space);
  if (CMS_FMT_CHANNELS(in_word) < cmsChannelsOf(in_space) ||
      cmsChannelsOf(out_space) > kMaxChannels || cmsChannelsOf(in_space) > kMaxChannels) {
    fail(node, cb, cookie,
         "LittleCMS engine: node \"%s\": %u input channels do not carry the "
         "profile's %u",
         node->path1, CMS_FMT_CHANNELS(in_word), cmsChannelsOf(in_space));
    return 0;
  }
  // The per-pixel path is exact (no precalculated grid) unless option bit 0
  // asks for speed; the 16-bit line path uses LittleCMS's fine grid, the
  // 8-bit one its default optimisation.
  const cmsUInt32Number pixel_flags = (option & 1) ? 0 : cmsFLAGS_NOOPTIMIZE;
  std::unique_ptr<Xform> x(new (std::nothrow) Xform);
  if (!x) return 0;
  x->pixel = make_transform(engine, chain, settings,
                            lcms_format(in_space, 2, (in_word & CMS_FMT_INK) != 0),
                            lcms_format(out_space, 2, (out_word & CMS_FMT_INK) != 0), pixel_flags);
  // Option bits 1 and 2 ask for only the 8-bit or only the 16-bit line form
  // (each costs a precalculated grid); neither asks for both.
  // Bit 3 asks for the per-pixel form alone (a caller that samples it once).
  const bool want8 = !(option & 8) && ((option & 6) == 0 || (option & 2));
  const bool want16 = !(option & 8) && ((option & 6) == 0 || (option & 4));
  if (want8) {
    x->line8 = make_transform(engine, chain, settings, lcms_format(in_space, 1, false),
                              lcms_format(out_space, 1, false), 0);
    x->line8_plain = make_transform(engine, chain, settings, lcms_format(in_space, 1, false),
                                    lcms_format(out_space, 1, false), cmsFLAGS_NOCACHE);
  }
  if (want16)
    x->line16 = make_transform(engine, chain, settings, lcms_format(in_space, 2, false),
                               lcms_format(out_space, 2, false), cmsFLAGS_HIGHRESPRECALC);
  if (!x->pixel || (want8 && (!x->line8 || !x->line8_plain)) || (want16 && !x->line16)) {
    fail(node, cb, cookie,
         "LittleCMS engine: node \"%s\": LittleCMS cannot join these profiles "
         "with intent %d",
         node->path1, settings.intent);
    return 0;
  }
  x->out_channels = cmsChannelsOf(out_space);
  x->in_channels = cmsChannelsOf(in_space);
  x->out_format = (out_word & ~0xFFu) | x->out_channels;
  node->xform->handle = x.release();
  node->xform->close = close_fn;
  node->xform->transform = pixel_fn;
  node->xform->transform_line = line_fn;
  return 1;
}

}  // namespace klvcms
