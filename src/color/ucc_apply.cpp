// SPDX-License-Identifier: MIT
// Applying a colour chain: the chain context, setting up runs of pixels from
// a request, the walk over the nodes (one transform call per node and run),
// fitting the result to the expected channels, the colour cache, single
// colours at 8 and 16 bits, and the identity question.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "klv/log.h"
#include "ucc_cache.h"
#include "ucc_internal.h"

using namespace klv::ucc;

struct ucc_info {
  t_ucc_node* chain = nullptr;
  int32_t black_percentage = 230;
  int32_t limit = 999;
  int32_t black_mode = 0;
  bool caches = false;
  std::unique_ptr<ColourCache> cache;
  std::vector<uint16_t> setup, work, result, wide_in, wide_out;
  std::vector<uint32_t> misses;
  std::vector<int32_t> places;
  uint64_t hits = 0, missed = 0;
};

namespace {

constexpr uint32_t kStride = UCC_MAX_CHANNELS;

uint32_t process_of(const ucc_request* r) {
  return static_cast<uint32_t>(r->in_channels - std::min(r->in_spots, r->in_channels));
}

// The pixel record a request's input becomes: one-channel colour widens to
// four, ink values are held inverted.
pixdef entry_form(const ucc_request* r) {
  pixdef px{};
  px.model = r->model == 0 ? 0 : r->model == 3 ? 3 : 1;
  px.sub_mode = r->sub_mode & 7;
  const uint32_t spots = std::min<uint32_t>(r->in_spots, r->in_channels);
  px.process = process_of(r) == 1 ? 4 : process_of(r);
  px.channels = std::min<uint32_t>(px.process + spots, kStride);
  px.stride = kStride;
  return px;
}

void set_up_pixels(const ucc_request* r, const uint16_t* in, uint16_t* out, uint32_t count) {
  const uint32_t n = std::min<uint32_t>(r->in_channels, kStride);
  const uint32_t p = process_of(r);
  const bool invert = r->model == 0 && !(r->flags & UCC_REQ_LIGHT_IO);
  for (uint32_t i = 0; i < count; ++i, in += n, out += kStride) {
    uint16_t v[kStride];
    for (uint32_t c = 0; c < n; ++c) v[c] = in[c];
    if (invert)
      for (uint32_t c = 0; c < p; ++c) v[c] = static_cast<uint16_t>(65535 - v[c]);
    if (p == 1) {
      // Grey: light form of no colour in the three first channels.
      const uint16_t none = r->model == 0 || r->model == 1 ? 65535 : 0;
      out[0] = out[1] = out[2] = none;
      out[3] = v[0];
      for (uint32_t c = 1; c < n && c + 3 < kStride; ++c) out[c + 3] = v[c];
    } else {
      std::memcpy(out, v, n * sizeof(uint16_t));
    }
  }
}

bool node_skipped(const t_ucc_node* n) {
  return (n->disable & 1) || (n->flags & 1);
}

// Fitting: three light values to RGBW by black generation, RGBW to RGB, to
// and from grey. Spot channels follow the process channels.
void fit_pixel(const ucc_info* info, uint16_t* v, uint32_t from, uint32_t to, uint32_t spots) {
  uint16_t s[kStride];
  std::memcpy(s, v + from, spots * sizeof(uint16_t));
  if (from == 4 && to != 4) {
    for (int c = 0; c < 3; ++c) v[c] = static_cast<uint16_t>(uint32_t(v[c]) * v[3] / 65535u);
    from = 3;
  }
  if (from == 1 && to >= 3) v[1] = v[2] = v[0], from = 3;
  if (from == 3 && to == 1)
    v[0] = static_cast<uint16_t>((v[0] * 30u + v[1] * 59u + v[2] * 11u + 50u) / 100u);
  if (from == 3 && to >= 4) {
    ucc3to4_16(info, &v[0], &v[1], &v[2], &v[3]);
    for (uint32_t c = 4; c < to; ++c) v[c] = 65535;
  }
  std::memcpy(v + to, s, spots * sizeof(uint16_t));
}

void fit(const ucc_info* info, const ucc_request* r, pixdef* px) {
  if (!(r->flags & UCC_REQ_FIT) || !r->out_channels || px->model == 3) return;
  const uint32_t spots = px->channels - px->process;
  const uint32_t want = r->out_channels - std::min(r->out_spots, r->out_channels);
  const uint32_t have = px->process;
  if (want == have || want == 0 || have == 0 || want + spots > kStride) return;
  for (uint32_t i = 0; i < px->count; ++i) fit_pixel(info, px->pixel(i), have, want, spots);
  px->process = want;
  px->channels = want + spots;
  px->model = want >= 4 ? 0 : 1;
}

// Walks the chain over a run of pixels. A request that asks for a fitted
// result is fitted before the first device-side node (grey to four channels,
// calibration, density), so that those work on the printer's channels.
void walk(ucc_info* info, const ucc_request* r, pixdef* px) {
  ucc_apply_context ctx{info, r->flags, px->process, r->out_channels, r->special_channel};
  for (t_ucc_node* n = info->chain; n && !px->stop; n = n->next) {
    if (node_skipped(n)) continue;
    if (r->last_type && n->type > r->last_type) break;
    if (n->type >= UCC_OGM1) fit(info, r, px);
    if (!n->transform) {
      IUccXform* x = ucc_make_xform(n->type);
      if (!x) continue;
      if (!x->bind(n)) {
        delete x;
        continue;
      }
      n->transform = x;
    }
    n->transform->apply(px, &ctx);
  }
}

// Writes `count` results of the run to the caller's layout.
void write_out(const ucc_request* r, const pixdef& px, const uint16_t* res, uint16_t* out,
               uint32_t count) {
  const uint32_t spots = px.channels - px.process;
  const uint32_t total = r->out_channels ? r->out_channels : px.channels;
  const uint32_t ospots = r->out_channels ? std::min(r->out_spots, r->out_channels) : spots;
  const uint32_t oproc = total - ospots;
  const bool invert = px.model == 0 && !(r->flags & UCC_REQ_LIGHT_IO);
  const uint16_t pad = px.model == 0 ? 65535 : 0;
  for (uint32_t i = 0; i < count; ++i, res += kStride, out += total) {
    for (uint32_t c = 0; c < oproc; ++c) {
      const uint16_t v = c < px.process ? res[c] : pad;
      out[c] = invert ? static_cast<uint16_t>(65535 - v) : v;
    }
    for (uint32_t j = 0; j < ospots; ++j) out[oproc + j] = j < spots ? res[px.process + j] : 65535;
  }
}

template <typename T>
void grow(std::vector<T>& v, size_t n) {
  if (v.size() < n) v.resize(n);
}

// What besides the input decides a result: request flags, expected layout.
uint32_t key_extra(const ucc_request* r) {
  return (r->flags & 0xFFFFu) | (uint32_t(r->out_channels) << 16) | (uint32_t(r->out_spots) << 21) |
         (uint32_t(r->special_channel) << 26);
}

// Runs the chain over `count` set-up pixels, through the cache when there is
// one; results land in info->result. Returns the pixel record of the result.
pixdef run(ucc_info* info, const ucc_request* r, uint32_t count, bool use_alpha, uint16_t alpha) {
  pixdef form = entry_form(r);
  grow(info->result, static_cast<size_t>(count) * kStride);
  const bool cached = info->cache && r->last_type == 0;
  if (!cached) {
    pixdef px = form;
    px.values = info->setup.data();
    px.count = count;
    walk(info, r, &px);
    fit(info, r, &px);
    std::memcpy(info->result.data(), info->setup.data(), sizeof(uint16_t) * count * kStride);
    return px;
  }
  ColourCache& cache = *info->cache;
  const CacheKey key{form.format(), key_extra(r), use_alpha, alpha};
  grow(info->work, static_cast<size_t>(count) * kStride);
  grow(info->misses, count);
  grow(info->places, count);
  uint32_t nmiss = 0;
  pixdef hit_form{};
  bool any_hit = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t* in = info->setup.data() + static_cast<size_t>(i) * kStride;
    const CacheHit h = cache.find(in, form.channels, key);
    if (h.slot >= 0) {
      cache.read(h.slot, info->result.data() + static_cast<size_t>(i) * kStride, &hit_form);
      any_hit = true;
      ++info->hits;
    } else {
      std::memcpy(info->work.data() + static_cast<size_t>(nmiss) * kStride, in,
                  kStride * sizeof(uint16_t));
      info->places[nmiss] = h.place;
      info->misses[nmiss++] = i;
      ++info->missed;
    }
  }
  pixdef px = form;
  px.values = info->work.data();
  px.count = nmiss;
  if (nmiss) {
    walk(info, r, &px);
    fit(info, r, &px);
    for (uint32_t j = 0; j < nmiss; ++j) {
      const uint32_t i = info->misses[j];
      const uint16_t* in = info->setup.data() + static_cast<size_t>(i) * kStride;
      const uint16_t* res = px.pixel(j);
      std::memcpy(info->result.data() + static_cast<size_t>(i) * kStride, res,
                  kStride * sizeof(uint16_t));
      cache.store(in, form.channels, key, res, px, info->places[j]);
    }
    return px;
  }
  if (any_hit) {
    hit_form.values = info->result.data();
    hit_form.count = count;
    hit_form.stride = kStride;
    return hit_form;
  }
  return px;
}

int32_t apply_line16(ucc_request* r, const uint16_t* in, uint16_t* out, uint32_t count,
                     bool use_alpha, uint16_t alpha) {
  ucc_info* info = r->info;
  if (!info || r->in_channels == 0 || r->in_channels > kStride) return 0;
  grow(info->setup, static_cast<size_t>(count) * kStride);
  std::fill(info->setup.begin(), info->setup.begin() + static_cast<ptrdiff_t>(count * kStride), 0);
  set_up_pixels(r, in, info->setup.data(), count);
  pixdef px = run(info, r, count, use_alpha, alpha);
  write_out(r, px, info->result.data(), out, count);
  r->got_channels = static_cast<uint8_t>(px.channels);
  r->got_format = px.format();
  return !r->out_channels || px.channels == r->out_channels ? 1 : 0;
}

}  // namespace

KLV_API void ucc_request_init(ucc_request* r, ucc_info* info, uint8_t model, uint8_t in_channels,
                              uint8_t out_channels) {
  if (!r) return;
  std::memset(r, 0, sizeof *r);
  r->info = info;
  r->model = model;
  r->in_channels = in_channels;
  r->out_channels = out_channels;
  r->bits = 16;
  r->identity = -1;
}

KLV_API ucc_info* ucc_info_init(t_ucc_node* chain, int32_t caches, int32_t mode) {
  auto* info = new (std::nothrow) ucc_info;
  if (!info) return nullptr;
  info->chain = chain;
  info->caches = caches != 0;
  info->black_mode = mode;
  if (info->caches) {
    info->cache.reset(new (std::nothrow) ColourCache);
    if (!info->cache || !info->cache->ready()) {
      delete info;
      return nullptr;
    }
  }
  return info;
}

KLV_API t_ucc_node* ucc_info_get_nodes(ucc_info* info) {
  return info ? info->chain : nullptr;
}

KLV_API void ucc_info_set_nodes(ucc_info* info, t_ucc_node* chain) {
  if (!info) return;
  info->chain = chain;
  if (info->cache) info->cache->clear();
}

KLV_API void ucc_info_remove_node(ucc_info* info, int32_t type) {
  if (!info) return;
  free_ucc(remove_ucc_node(&info->chain, type));
  if (info->cache) info->cache->clear();
}

KLV_API void ucc_info_free(ucc_info* info, int32_t free_chain) {
  if (!info) return;
  if (free_chain) free_ucc(info->chain);
  delete info;
}

KLV_API void ucc_info_set_black(ucc_info* info, int32_t percentage, int32_t mode) {
  if (!info) return;
  info->black_percentage = std::clamp(percentage, 0, 255);
  info->black_mode = mode;
  if (info->cache) info->cache->clear();
}

KLV_API void ucc_info_cache_stats(const ucc_info* info, uint64_t* hits, uint64_t* misses) {
  if (hits) *hits = info ? info->hits : 0;
  if (misses) *misses = info ? info->missed : 0;
}

KLV_API int32_t ucc_apply_line16(ucc_request* form, const uint16_t* in, uint16_t* out,
                                 int32_t count) {
  if (!form || !in || !out || count <= 0) return 0;
  try {
    return apply_line16(form, in, out, static_cast<uint32_t>(count), false, 0);
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t ucc_apply_line8(ucc_request* form, const uint8_t* in, uint8_t* out, int32_t count) {
  if (!form || !in || !out || count <= 0 || !form->info) return 0;
  try {
    ucc_info* info = form->info;
    const size_t n = static_cast<size_t>(count);
    const size_t nin = n * form->in_channels;
    grow(info->wide_in, nin);
    for (size_t i = 0; i < nin; ++i) info->wide_in[i] = static_cast<uint16_t>(in[i] * 257);
    const size_t nout = n * (form->out_channels ? form->out_channels : kStride);
    grow(info->wide_out, nout);
    const int32_t ok = apply_line16(form, info->wide_in.data(), info->wide_out.data(),
                                    static_cast<uint32_t>(count), false, 0);
    const size_t written = n * (form->out_channels ? form->out_channels : form->got_channels);
    for (size_t i = 0; i < written; ++i) out[i] = static_cast<uint8_t>(info->wide_out[i] >> 8);
    return ok;
  } catch (...) {
    return 0;
  }
}

namespace {

int32_t apply_one(ucc_request* r, bool eight) {
  if (!r || !r->info || r->in_channels == 0 || r->in_channels > kStride) return 0;
  const uint16_t white = eight ? 255 : 65535;
  if ((r->flags & UCC_REQ_ALPHA) && r->has_alpha && r->alpha == 254) {
    const uint32_t n = r->out_channels ? r->out_channels : r->in_channels;
    for (uint32_t c = 0; c < n && c < kStride; ++c) r->out[c] = white;
    r->alpha = white;
    return 1;
  }
  const uint16_t alpha = r->has_alpha ? r->alpha : white;
  uint16_t in[kStride], out[kStride] = {};
  for (uint32_t c = 0; c < r->in_channels; ++c)
    in[c] = eight ? static_cast<uint16_t>((r->in[c] & 0xFF) * 257) : r->in[c];
  int32_t ok = 0;
  try {
    ok = apply_line16(r, in, out, 1, r->has_alpha != 0, alpha);
  } catch (...) {
    return 0;
  }
  const uint32_t n = r->out_channels ? r->out_channels : r->got_channels;
  for (uint32_t c = 0; c < n && c < kStride; ++c) r->out[c] = eight ? out[c] >> 8 : out[c];
  if (!r->has_alpha) r->alpha = white;
  return ok;
}

}  // namespace

KLV_API int32_t apply_ucc16(ucc_request* r) {
  return apply_one(r, false);
}
KLV_API int32_t apply_ucc8(ucc_request* r) {
  return apply_one(r, true);
}
KLV_API int32_t apply_ucc(ucc_request* r) {
  return r ? apply_one(r, r->bits != 16) : 0;
}

namespace {

bool tables_loaded(const t_ucc_node* n) {
  const auto* c = static_cast<const ucc_calb*>(n->data);
  return c && (c->limit || c->linear || c->grey || c->emulation);
}

bool changes_colour(const t_ucc_node* n, const ucc_request* r, uint32_t process) {
  const bool g = !(r->flags & UCC_REQ_NO_GENERIC), im = !(r->flags & UCC_REQ_NO_IMAGE);
  switch (n->type) {
    case UCC_ICG3:
    case UCC_PCG3:
      return process == 3 && g;
    case UCC_ICG4:
    case UCC_PCG4:
      return process == 4 && g;
    case UCC_ICGN:
    case UCC_PCGN:
      return process >= 5 && g;
    case UCC_ICI3:
    case UCC_PCI3:
      return process == 3 && im;
    case UCC_ICI4:
    case UCC_PCI4:
      return process == 4 && im;
    case UCC_ICIN:
    case UCC_PCIN:
      return process >= 5 && im;
    case UCC_ICIO:
    case UCC_PCIO:
      return im;
    case UCC_NCLR:
    case UCC_MKBF:
    case UCC_RGB0:
    case UCC_HSV0:
    case UCC_CREP:
    case UCC_CRV1:
    case UCC_MKAF:
    case UCC_DNTB:
      return n->data != nullptr;
    case UCC_SREP:
      return r->in_spots > 0;
    case UCC_DEST:
    case UCC_MCXF:
      return true;
    case UCC_OGM1:
      return process_of(r) == 1 && r->out_channels >= 4;
    case UCC_CTB0:
      return tables_loaded(n);
    default:
      return false;
  }
}

}  // namespace

KLV_API int32_t identity_ucc(ucc_request* r) {
  if (!r || !r->info) return 1;
  const uint32_t process = process_of(r) == 1 ? 4 : process_of(r);
  int32_t same = 1;
  for (const t_ucc_node* n = r->info->chain; n; n = n->next) {
    if (node_skipped(n)) continue;
    if (r->last_type && n->type > r->last_type) break;
    if (changes_colour(n, r, process)) {
      same = 0;
      break;
    }
  }
  r->identity = static_cast<int8_t>(same);
  return same;
}

// ---- Black generation ----------------------------------------------------------

namespace {

struct BlackCurves {
  uint8_t g[256], u[256];
  uint16_t g16[4096], u16[4096];
};

// Piecewise-linear through the curve's knots.
void knots(uint8_t* out, const int (*k)[2], int n) {
  for (int i = 0; i < 256; ++i) {
    int s = 0;
    while (s + 2 < n && i > k[s + 1][0]) ++s;
    const int x0 = k[s][0], y0 = k[s][1], x1 = k[s + 1][0], y1 = k[s + 1][1];
    out[i] = static_cast<uint8_t>(y0 + ((y1 - y0) * (i - x0) + (x1 - x0) / 2) / (x1 - x0));
  }
}

const BlackCurves& black_curves() {
  static const BlackCurves curves = [] {
    BlackCurves c{};
    static const int g[][2] = {{0, 0}, {64, 52}, {128, 110}, {192, 176}, {255, 255}};
    static const int u[][2] = {{0, 0}, {64, 15}, {128, 32}, {192, 51}, {219, 61}, {255, 0}};
    knots(c.g, g, 5);
    knots(c.u, u, 6);
    InterpLut8(c.g16, 4096, c.g, 256, 0, 255);
    InterpLut8(c.u16, 4096, c.u, 256, 0, 255);
    return c;
  }();
  return curves;
}

}  // namespace

KLV_API void ucc3to4(const ucc_info* info, uint8_t* c1, uint8_t* c2, uint8_t* c3, uint8_t* k_out) {
  if (!c1 || !c2 || !c3 || !k_out) return;
  const int pct = info ? info->black_percentage : 230;
  const int mode = info ? info->black_mode : 0;
  uint8_t* v[3] = {c1, c2, c3};
  int k = std::max({*c1, *c2, *c3});
  if (mode == 1) {
    const BlackCurves& bc = black_curves();
    for (uint8_t* p : v) *p = static_cast<uint8_t>(((((*p + 1) * 256 / (k + 1)) % 256) - 1) & 0xFF);
    k = 255 - bc.g[255 - k];
    for (uint8_t* p : v) *p = static_cast<uint8_t>((*p * (256 - bc.u[255 - k])) >> 8);
  } else {
    k = 255 - ((255 - k) * pct / 255);
    for (uint8_t* p : v) *p = static_cast<uint8_t>(std::min(255, *p * 256 / (k + 1)));
  }
  *k_out = static_cast<uint8_t>(k);
}

KLV_API void ucc3to4_16(const ucc_info* info, uint16_t* c1, uint16_t* c2, uint16_t* c3,
                        uint16_t* k_out) {
  if (!c1 || !c2 || !c3 || !k_out) return;
  const int64_t pct = info ? info->black_percentage : 230;
  const int mode = info ? info->black_mode : 0;
  uint16_t* v[3] = {c1, c2, c3};
  int64_t k = std::max({*c1, *c2, *c3});
  if (mode == 1) {
    const BlackCurves& bc = black_curves();
    for (uint16_t* p : v)
      *p = static_cast<uint16_t>(std::min<int64_t>(65535, int64_t{*p} * 65536 / (k + 1)));
    k = 65535 - bc.g16[(65535 - k) >> 4];
    const int64_t u = bc.u16[(65535 - k) >> 4];
    for (uint16_t* p : v) *p = static_cast<uint16_t>((*p * (65536 - u)) >> 16);
  } else {
    k = 65535 - ((65535 - k) * pct / 255);
    for (uint16_t* p : v)
      *p = static_cast<uint16_t>(std::min<int64_t>(65535, int64_t{*p} * 65536 / (k + 1)));
  }
  *k_out = static_cast<uint16_t>(k);
}
