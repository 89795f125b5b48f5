// SPDX-License-Identifier: MIT
// A colour chain as the line filter's pixel transform: the filter hands over
// whole lines of light values (colour then spot samples) at 8 or 16 bits and
// the chain converts them in one call per line, fitted to the filter's
// output samples.
#include <algorithm>
#include <new>
#include <vector>

#include "klv/log.h"
#include "klv/ucc.h"

namespace {

struct ChainState {
  ucc_request form{};
  uint32_t in_bits = 8, out_bits = 8;
  uint32_t in_samples = 0, out_samples = 0;
  bool grey_to_rgb = false;
  std::vector<uint16_t> in16, out16;
};

void* chain_setup(void* self, const filter_xform_setup* s) {
  auto* info = static_cast<ucc_info*>(self);
  if (!info || !s || s->in_samples == 0 || s->out_samples == 0 ||
      s->in_samples + 2 > UCC_MAX_CHANNELS || s->out_samples > UCC_MAX_CHANNELS) {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the line filter's samples do not fit a chain");
    return nullptr;
  }
  auto* st = new (std::nothrow) ChainState;
  if (!st) return nullptr;
  const uint32_t colours = s->in_samples - std::min(s->in_spot_samples, s->in_samples);
  const uint8_t model = s->in_photometric == 3 ? 3 : colours >= 4 ? 0 : 1;
  st->grey_to_rgb = model == 1 && colours == 1;
  const uint32_t in_channels = s->in_samples + (st->grey_to_rgb ? 2 : 0);
  ucc_request_init(&st->form, info, model, static_cast<uint8_t>(in_channels),
                   static_cast<uint8_t>(s->out_samples));
  st->form.in_spots = static_cast<uint8_t>(s->in_spot_samples);
  st->form.out_spots = static_cast<uint8_t>(s->out_spot_samples);
  st->form.flags = UCC_REQ_LIGHT_IO | UCC_REQ_FIT;
  st->in_bits = s->in_bits;
  st->out_bits = s->out_bits;
  st->in_samples = s->in_samples;
  st->out_samples = s->out_samples;
  return st;
}

// Widens (or copies) the filter's input into 16-bit values of the request.
const uint16_t* widen(ChainState* st, const void* in, size_t count) {
  const size_t n = count * st->form.in_channels;
  if (st->in16.size() < n) st->in16.resize(n);
  uint16_t* o = st->in16.data();
  for (size_t i = 0; i < count; ++i) {
    for (uint32_t c = 0; c < st->in_samples; ++c) {
      const size_t at = i * st->in_samples + c;
      const uint16_t v = st->in_bits == 16
                             ? static_cast<const uint16_t*>(in)[at]
                             : static_cast<uint16_t>(static_cast<const uint8_t*>(in)[at] * 257);
      if (st->grey_to_rgb && c == 0) *o++ = v, *o++ = v;
      *o++ = v;
    }
  }
  return st->in16.data();
}

int32_t chain_apply(void* state, const void* in, void* out, int32_t count) {
  auto* st = static_cast<ChainState*>(state);
  if (!st || count <= 0) return count == 0;
  try {
    const size_t n = static_cast<size_t>(count);
    if (!st->grey_to_rgb && st->in_bits == 8 && st->out_bits == 8)
      return ucc_apply_line8(&st->form, static_cast<const uint8_t*>(in), static_cast<uint8_t*>(out),
                             count);
    const uint16_t* src = (!st->grey_to_rgb && st->in_bits == 16) ? static_cast<const uint16_t*>(in)
                                                                  : widen(st, in, n);
    if (st->out_bits == 16)
      return ucc_apply_line16(&st->form, src, static_cast<uint16_t*>(out), count);
    const size_t m = n * st->out_samples;
    if (st->out16.size() < m) st->out16.resize(m);
    const int32_t ok = ucc_apply_line16(&st->form, src, st->out16.data(), count);
    auto* o = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < m; ++i) o[i] = static_cast<uint8_t>(st->out16[i] >> 8);
    return ok;
  } catch (...) {
    return 0;
  }
}

void chain_release(void* state) {
  delete static_cast<ChainState*>(state);
}

}  // namespace

KLV_API void ucc_filter_transform(ucc_info* info, filter_transform* out) {
  if (!out) return;
  out->setup = chain_setup;
  out->apply = chain_apply;
  out->release = chain_release;
  out->self = info;
}
