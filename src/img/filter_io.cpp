// SPDX-License-Identifier: MIT
// Line filter streaming: one input line through unpacking, horizontal
// selection, conversion, replication and packing; reading, writing and seeking
// with vertical replication, averaging and interpolation; the stream wrapper.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "img/filter_bits.h"
#include "img/filter_internal.h"
#include "klv/log.h"

namespace klv::img {

namespace {

// Unpacks the window's input pixels into one byte (or uint16_t) per sample,
// expanding palette indices and low-bit samples. Returns the unpacked pixels.
const uint8_t* unpack(filter_rec& f, const uint8_t* raw) {
  const int32_t n = f.win_pixels;
  const uint64_t first = uint64_t(f.hx.first);
  if (f.expand_palette) {
    uint8_t* d = f.unpacked.data();
    const uint32_t ch = f.pal_channels, masks = f.wi.masks, rt = f.raw_total;
    for (int32_t x = 0; x < n; ++x) {
      uint32_t idx = get_sample(raw, (first + x) * rt, f.raw_bits) & 255;
      for (uint32_t c = 0; c < ch; ++c) *d++ = f.pal[idx * 4 + c];
      for (uint32_t m = 0; m < masks; ++m) {
        uint32_t v = get_sample(raw, (first + x) * rt + 1 + m, f.raw_bits);
        *d++ = f.raw_bits < 8 ? f.lowmap[v] : static_cast<uint8_t>(v);
      }
    }
    return f.unpacked.data();
  }
  if (f.raw_bits == 8 && !f.lowbit) return raw + first * f.raw_total;
  if (f.raw_bits == 16) return raw + first * f.raw_total * 2;
  uint8_t* d = f.unpacked.data();
  const uint64_t count = uint64_t(n) * f.raw_total;
  const uint64_t base = first * f.raw_total;
  if (f.lowbit)
    for (uint64_t i = 0; i < count; ++i) d[i] = f.lowmap[get_sample(raw, base + i, f.raw_bits)];
  else
    for (uint64_t i = 0; i < count; ++i)
      d[i] = static_cast<uint8_t>(get_sample(raw, base + i, f.raw_bits));
  return d;
}

template <size_t N>
void pick_fixed(const uint8_t* in, uint8_t* out, const uint16_t* counts, int32_t n) {
  for (int32_t x = 0; x < n; ++x, in += N) {
    uint32_t c = counts[x];
    if (c == 1) {
      std::memcpy(out, in, N);
      out += N;
      continue;
    }
    for (uint32_t k = 0; k < c; ++k, out += N) std::memcpy(out, in, N);
  }
}

// Repeats each pixel (of `size` bytes) as often as its count says.
void replicate(const uint8_t* in, uint8_t* out, const uint16_t* counts, int32_t n, size_t size) {
  switch (size) {
    case 1:
      for (int32_t x = 0; x < n; ++x) {
        uint32_t c = counts[x];
        if (c == 1)
          *out++ = in[x];
        else if (c)
          std::memset(out, in[x], c), out += c;
      }
      return;
    case 2:
      return pick_fixed<2>(in, out, counts, n);
    case 3:
      return pick_fixed<3>(in, out, counts, n);
    case 4:
      return pick_fixed<4>(in, out, counts, n);
    case 6:
      return pick_fixed<6>(in, out, counts, n);
    case 8:
      return pick_fixed<8>(in, out, counts, n);
    default:
      for (int32_t x = 0; x < n; ++x, in += size)
        for (uint32_t k = 0; k < counts[x]; ++k, out += size) std::memcpy(out, in, size);
  }
}

// Reductions: copies the kept input pixels (of `size` bytes) in order.
template <size_t N>
void gather_fixed(const uint8_t* in, uint8_t* out, const uint32_t* keep, int32_t n) {
  for (int32_t x = 0; x < n; ++x, out += N) std::memcpy(out, in + size_t(keep[x]) * N, N);
}

void gather(const uint8_t* in, uint8_t* out, const uint32_t* keep, int32_t n, size_t size) {
  switch (size) {
    case 1:
      for (int32_t x = 0; x < n; ++x) out[x] = in[keep[x]];
      return;
    case 2:
      return gather_fixed<2>(in, out, keep, n);
    case 3:
      for (int32_t x = 0; x < n; ++x, out += 3) {
        const uint8_t* p = in + size_t(keep[x]) * 3;
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
      }
      return;
    case 4:
      return gather_fixed<4>(in, out, keep, n);
    case 6:
      return gather_fixed<6>(in, out, keep, n);
    case 8:
      return gather_fixed<8>(in, out, keep, n);
    default:
      for (int32_t x = 0; x < n; ++x, out += size)
        std::memcpy(out, in + size_t(keep[x]) * size, size);
  }
}

// Horizontal selection or replication of `n` window pixels.
void pick(const filter_rec& f, const uint8_t* in, uint8_t* out, int32_t n, size_t size) {
  if (f.hx.scaled && !f.hx.enlarge)
    gather(in, out, f.hx.keep.data(), static_cast<int32_t>(f.hx.keep.size()), size);
  else
    replicate(in, out, f.hx.counts.data(), n, size);
}

// Linear interpolation of an enlarged line (smooth): the k-th copy of input x
// of count c moves k/c of the way to input x + 1.
template <typename T>
void interpolate(const T* in, T* out, const uint16_t* counts, int32_t n, uint32_t spp) {
  for (int32_t x = 0; x < n; ++x) {
    const T* a = in + size_t(x) * spp;
    const T* b = x + 1 < n ? a + spp : a;
    uint32_t c = counts[x];
    for (uint32_t k = 0; k < c; ++k, out += spp)
      for (uint32_t s = 0; s < spp; ++s)
        out[s] = static_cast<T>((int64_t(a[s]) * (c - k) + int64_t(b[s]) * k) / c);
  }
}

// Packs working samples (one byte each, `from` bits significant) into `bits`.
void pack_low(const uint8_t* in, uint8_t* out, uint64_t count, uint32_t bits, uint32_t from) {
  std::memset(out, 0, (count * bits + 7) / 8);
  const uint32_t shift = from > bits ? from - bits : 0;
  for (uint64_t i = 0; i < count; ++i) put_sample(out, i, bits, in[i] >> shift);
}

}  // namespace

// One input line in the working form (or, for packed copies, the output form).
void produce(filter_rec& f, const uint8_t* raw, uint8_t* work) {
  const int32_t n = f.win_pixels;
  if (f.copy_raw) {
    const uint64_t px_bits = uint64_t(f.raw_bits) * f.raw_total;
    const uint64_t start = px_bits * uint64_t(f.hx.first), nbits = px_bits * uint64_t(n);
    if ((start & 7) == 0) {
      std::memcpy(work, raw + start / 8, (nbits + 7) / 8);
    } else {
      // Realign: each byte joins two neighbouring source bytes.
      const unsigned s = start & 7;
      const uint8_t* p = raw + start / 8;
      const uint64_t bytes = (nbits + 7) / 8;
      for (uint64_t i = 0; i < bytes; ++i)
        work[i] = static_cast<uint8_t>((p[i] << s) | (p[i + 1] >> (8 - s)));
    }
    if (nbits & 7) work[nbits / 8] &= static_cast<uint8_t>(0xFF00 >> (nbits & 7));
    return;
  }
  const uint8_t* in = unpack(f, raw);
  const size_t in_px = size_t(f.wi.total) * (f.dom_in == 16 ? 2 : 1);
  const size_t out_px = size_t(f.wo.total) * (f.work_bits == 16 ? 2 : 1);
  const uint16_t* counts = f.hx.counts.data();
  if (!f.convert) {
    pick(f, in, work, n, in_px);
    return;
  }
  if (!f.hx.scaled) {
    f.conv(f, in, work, n);
    return;
  }
  if (!f.hx.enlarge) {
    // Reduction: keep the selected pixels, then convert only those.
    pick(f, in, f.picked.data(), n, in_px);
    f.conv(f, f.picked.data(), work, f.size.out_w);
    return;
  }
  f.conv(f, in, f.conv_buf.data(), n);
  if (f.opt.smooth) {
    if (f.work_bits == 16)
      interpolate(reinterpret_cast<const uint16_t*>(f.conv_buf.data()),
                  reinterpret_cast<uint16_t*>(work), counts, n, f.wo.total);
    else
      interpolate(f.conv_buf.data(), work, counts, n, f.wo.total);
  } else {
    replicate(f.conv_buf.data(), work, counts, n, out_px);
  }
}

// Working line to output line.
void pack(filter_rec& f, const uint8_t* work, uint8_t* out) {
  if (f.quantize) {
    f.quant.line(work, out, f.size.out_w);
    return;
  }
  const uint32_t bits = f.wo.bits;
  if (f.copy_raw || bits == 16 || (bits == 8 && f.work_bits == 8)) {
    if (work != out)
      std::memcpy(out, work, f.out.bytes_per_line ? f.out.bytes_per_line : f.work_line_bytes);
    return;
  }
  pack_low(work, out, uint64_t(f.size.out_w) * f.wo.total, bits, f.work_bits);
}

bool direct_pack(const filter_rec& f) {
  return !f.quantize && (f.copy_raw || f.wo.bits == 16 || (f.wo.bits == 8 && f.work_bits == 8));
}

void add_sums(filter_rec& f, const uint8_t* work) {
  const size_t count = size_t(f.size.out_w) * f.wo.total;
  if (!f.sums16.empty()) {
    uint16_t* s = f.sums16.data();
    if (f.sum_lines == 0)
      for (size_t i = 0; i < count; ++i) s[i] = work[i];
    else
      for (size_t i = 0; i < count; ++i) s[i] = static_cast<uint16_t>(s[i] + work[i]);
    ++f.sum_lines;
    return;
  }
  uint32_t* s = f.sums.data();
  if (f.work_bits == 16) {
    const uint16_t* w = reinterpret_cast<const uint16_t*>(work);
    for (size_t i = 0; i < count; ++i) s[i] += w[i];
  } else {
    for (size_t i = 0; i < count; ++i) s[i] += work[i];
  }
  ++f.sum_lines;
}

// sums / lines into work, with an exact reciprocal for up to 256 lines.
void finish_sums(filter_rec& f, uint8_t* work) {
  const size_t count = size_t(f.size.out_w) * f.wo.total;
  const uint32_t n = std::max(1u, f.sum_lines);
  if (!f.sums16.empty()) {
    // 8-bit samples of at most 257 lines: a shift for powers of two, else an
    // exact reciprocal.
    const uint16_t* s = f.sums16.data();
    if ((n & (n - 1)) == 0) {
      const unsigned shift = static_cast<unsigned>(__builtin_ctz(n));
      for (size_t i = 0; i < count; ++i) work[i] = static_cast<uint8_t>(s[i] >> shift);
    } else {
      const uint64_t m = ((uint64_t{1} << 32) + n - 1) / n;
      for (size_t i = 0; i < count; ++i) work[i] = static_cast<uint8_t>((s[i] * m) >> 32);
    }
    f.sum_lines = 0;
    return;
  }
  uint32_t* s = f.sums.data();
  if (n <= 256) {
    const uint64_t m = ((uint64_t{1} << 32) + n - 1) / n;
    if (f.work_bits == 16) {
      uint16_t* w = reinterpret_cast<uint16_t*>(work);
      for (size_t i = 0; i < count; ++i) w[i] = static_cast<uint16_t>((s[i] * m) >> 32);
    } else {
      for (size_t i = 0; i < count; ++i) work[i] = static_cast<uint8_t>((s[i] * m) >> 32);
    }
  } else if (f.work_bits == 16) {
    uint16_t* w = reinterpret_cast<uint16_t*>(work);
    for (size_t i = 0; i < count; ++i) w[i] = static_cast<uint16_t>(s[i] / n);
  } else {
    for (size_t i = 0; i < count; ++i) work[i] = static_cast<uint8_t>(s[i] / n);
  }
  std::fill(f.sums.begin(), f.sums.end(), 0);
  f.sum_lines = 0;
}

bool can_average(const filter_rec& f) {
  return f.opt.average && (!f.sums.empty() || !f.sums16.empty()) &&
         (f.work_bits == 8 || f.work_bits == 16) && !(f.copy_raw && f.raw_bits < 8);
}

// Averaged reductions of unconverted 8-bit pixels skip the working line: the
// kept pixels of each input line go straight into the 16-bit sums, and the
// kept line finishes them into the output.
bool fused_average(const filter_rec& f) {
  return !f.sums16.empty() && !f.convert && f.raw_bits == 8 && !f.lowbit && !f.expand_palette &&
         !f.hx.enlarge && f.work_bits == 8;
}

// Mode 0 starts the sums, 1 adds to them, 2 adds the kept line and writes
// sum / lines into `out` (a shift for powers of two, else an exact reciprocal).
template <uint32_t N, int Mode>
void sum_pixels(uint16_t* s, const uint8_t* in, const uint32_t* keep, int32_t n, uint32_t spp,
                uint8_t* out, uint32_t lines) {
  const uint32_t k = N ? N : spp;
  const bool pow2 = (lines & (lines - 1)) == 0;
  const unsigned shift = pow2 ? static_cast<unsigned>(__builtin_ctz(lines)) : 0;
  const uint64_t m = ((uint64_t{1} << 32) + lines - 1) / lines;
  for (int32_t x = 0; x < n; ++x, s += k, out += (Mode == 2 ? k : 0)) {
    const uint8_t* p = in + size_t(keep ? keep[x] : uint32_t(x)) * k;
    for (uint32_t c = 0; c < k; ++c) {
      if (Mode == 0) {
        s[c] = p[c];
      } else if (Mode == 1) {
        s[c] = static_cast<uint16_t>(s[c] + p[c]);
      } else {
        const uint32_t sum = s[c] + p[c];
        out[c] = static_cast<uint8_t>(pow2 ? sum >> shift : (sum * m) >> 32);
      }
    }
  }
}

template <int Mode>
void sum_line(filter_rec& f, const uint8_t* in, uint8_t* out, uint32_t lines) {
  const uint32_t* keep = f.hx.scaled ? f.hx.keep.data() : nullptr;
  const int32_t n = f.size.out_w;
  const uint32_t spp = f.wi.total;
  uint16_t* s = f.sums16.data();
  switch (spp) {
    case 1:
      return sum_pixels<1, Mode>(s, in, keep, n, spp, out, lines);
    case 3:
      return sum_pixels<3, Mode>(s, in, keep, n, spp, out, lines);
    case 4:
      return sum_pixels<4, Mode>(s, in, keep, n, spp, out, lines);
    default:
      return sum_pixels<0, Mode>(s, in, keep, n, spp, out, lines);
  }
}

// Adds the window's kept pixels of one input line to the sums; with `out`, the
// line is the kept one and the average is written there.
void accumulate(filter_rec& f, const uint8_t* raw, uint8_t* out = nullptr) {
  const uint8_t* in = unpack(f, raw);
  if (out) {
    sum_line<2>(f, in, out, f.sum_lines + 1);
    f.sum_lines = 0;
  } else {
    if (f.sum_lines == 0)
      sum_line<0>(f, in, nullptr, 1);
    else
      sum_line<1>(f, in, nullptr, 1);
    ++f.sum_lines;
  }
}

// Reads source line y of the current page into f.raw.
bool fetch(filter_rec& f, int32_t y) {
  if (f.src_next != y) {
    if (img_seek_line(f.src, y, 0, f.cur_page, 0) < 0) {
      // A stream that cannot seek can still be read forward.
      if (f.src_next < 0 || f.src_next > y) return false;
      while (f.src_next < y) {
        if (img_read_line(f.src, f.raw.data(), 1) != 1) return false;
        ++f.src_next;
      }
    }
  }
  if (img_read_line(f.src, f.raw.data(), 1) != 1) return false;
  f.src_next = y + 1;
  return true;
}

// Delivers the next output line of the current page into out.
bool next_line(filter_rec& f, uint8_t* out) {
  const bool direct = direct_pack(f);
  uint8_t* work = direct ? out : f.work.data();
  const int32_t nin = static_cast<int32_t>(f.vy.counts.size());
  if (!f.vy.enlarge) {
    const bool avg = can_average(f) && f.vy.scaled;
    const bool fused = avg && fused_average(f);
    while (f.vi < nin && f.vy.counts[f.vi] == 0) {
      if (avg) {
        if (!fetch(f, f.vy.first + f.vi)) return false;
        if (fused) {
          accumulate(f, f.raw.data());
        } else {
          produce(f, f.raw.data(), f.work.data());
          add_sums(f, f.work.data());
        }
      }
      ++f.vi;
    }
    if (f.vi >= nin) return false;
    if (f.copy_raw && direct && !avg && f.hx.first == 0 &&
        f.out.bytes_per_line == f.in.bytes_per_line) {
      // The whole line unchanged: read it straight into the caller's buffer.
      const int32_t y = f.vy.first + f.vi;
      if (f.src_next != y && img_seek_line(f.src, y, 0, f.cur_page, 0) < 0) return false;
      if (img_read_line(f.src, out, 1) != 1) return false;
      f.src_next = y + 1;
      ++f.vi;
      return true;
    }
    if (!fetch(f, f.vy.first + f.vi)) return false;
    ++f.vi;
    if (fused && f.sum_lines) {
      accumulate(f, f.raw.data(), work);
    } else if (avg && f.sum_lines) {
      produce(f, f.raw.data(), f.work.data());
      add_sums(f, f.work.data());
      finish_sums(f, work);
    } else {
      produce(f, f.raw.data(), work);
    }
    if (!direct) pack(f, work, out);
    return true;
  }
  if (f.rep_left == 0) {
    if (f.vi >= nin) return false;
    if (f.opt.smooth && f.vi > 0 && f.src_next == f.vy.first + f.vi + 1) {
      std::swap(f.held, f.next_held);
    } else {
      if (!fetch(f, f.vy.first + f.vi)) return false;
      produce(f, f.raw.data(), f.held.data());
    }
    if (f.opt.smooth) {
      if (f.vi + 1 < nin && fetch(f, f.vy.first + f.vi + 1))
        produce(f, f.raw.data(), f.next_held.data());
      else
        f.next_held = f.held;
    }
    f.rep_total = f.rep_left = f.vy.counts[f.vi];
    ++f.vi;
  }
  const int32_t k = f.rep_total - f.rep_left;
  --f.rep_left;
  const uint8_t* src = f.held.data();
  if (f.opt.smooth && k > 0 && !f.copy_raw) {
    const size_t count = size_t(f.size.out_w) * f.wo.total;
    const int64_t c = f.rep_total;
    if (f.work_bits == 16) {
      auto* a = reinterpret_cast<const uint16_t*>(f.held.data());
      auto* b = reinterpret_cast<const uint16_t*>(f.next_held.data());
      auto* w = reinterpret_cast<uint16_t*>(f.work.data());
      for (size_t i = 0; i < count; ++i) w[i] = uint16_t((a[i] * (c - k) + b[i] * k) / c);
    } else {
      const uint8_t *a = f.held.data(), *b = f.next_held.data();
      uint8_t* w = f.work.data();
      for (size_t i = 0; i < count; ++i) w[i] = uint8_t((a[i] * (c - k) + b[i] * k) / c);
    }
    src = f.work.data();
  }
  pack(f, src, out);
  return true;
}

}  // namespace klv::img

using namespace klv::img;

extern "C" {

KLV_API int32_t filter_read_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* f = static_cast<filter_rec*>(handle);
  if (!f || f->mode != 'r' || !buffer || count < 1) return 0;
  try {
    int32_t done = 0;
    const uint32_t bpl = f->out.bytes_per_line;
    const int32_t pages = static_cast<int32_t>(f->out.pages ? f->out.pages : 1);
    while (done < count && f->cur_page < pages) {
      if (f->cur_line >= f->size.out_h) {
        // The page is done: go on with the next one, or stop after the last.
        if (f->cur_page + 1 >= pages || filter_seek_line(f, 0, 0, f->cur_page + 1, 0) < 0) {
          f->cur_page = pages;
          break;
        }
      }
      if (!next_line(*f, buffer + uint64_t(bpl) * done)) break;
      if (f->xform_failed) {
        f->xform_failed = false;
        KLV_LOG(KLV_LOG_ERROR, "line filter: the colour transform failed on line %d", f->cur_line);
        break;
      }
      ++f->cur_line;
      ++done;
    }
    return done;
  } catch (...) {
    return 0;
  }
}

// A filter that passes whole lines unchanged (no scaling, conversion or
// horizontal window, one page) lends the source's lines as they are.
int32_t filter_lend_lines(filter_rec* f, const uint8_t** lines, int32_t count) {
  if (!f || f->mode != 'r' || !lines || count < 1 || f->vy.scaled || f->vy.enlarge ||
      !f->copy_raw || !direct_pack(*f) || f->hx.first != 0 ||
      f->out.bytes_per_line != f->in.bytes_per_line || f->out.pages > 1 || f->cur_page != 0)
    return 0;
  const int32_t nin = static_cast<int32_t>(f->vy.counts.size());
  if (f->vi >= nin || f->cur_line >= f->size.out_h) return 0;
  const int32_t y = f->vy.first + f->vi;
  if (f->src_next != y && img_seek_line(f->src, y, 0, 0, 0) < 0) return 0;
  f->src_next = y;
  const int32_t got =
      img_lend_lines(f->src, lines, std::min({count, nin - f->vi, f->size.out_h - f->cur_line}));
  if (got <= 0) return got;
  f->vi += got;
  f->cur_line += got;
  f->src_next = y + got;
  return got;
}

KLV_API int32_t filter_write_line(void* handle, uint8_t* buffer, int32_t count) {
  auto* f = static_cast<filter_rec*>(handle);
  if (!f || f->mode != 'w' || !buffer || count < 1) return 0;
  try {
    const uint32_t in_bpl = f->in.bytes_per_line;
    const bool direct = direct_pack(*f);
    std::vector<uint8_t> line(f->src->info.bytes_per_line + 8);
    const int32_t nin = static_cast<int32_t>(f->vy.counts.size());
    int32_t done = 0;
    for (; done < count; ++done) {
      if (f->vi >= nin) {
        // A reduction may leave the caller's last lines without an output
        // line of their own: they are taken and dropped.
        if (f->vy.first + f->vi < int32_t(f->in.height)) {
          ++f->vi;
          continue;
        }
        break;
      }
      const uint8_t* in = buffer + uint64_t(in_bpl) * done;
      std::memcpy(f->raw.data(), in, in_bpl);
      uint32_t c = f->vy.counts[f->vi++];
      uint8_t* work = direct ? line.data() : f->work.data();
      if (can_average(*f) && f->vy.scaled && !f->vy.enlarge) {
        produce(*f, f->raw.data(), f->held.data());
        add_sums(*f, f->held.data());
        if (c == 0) continue;
        finish_sums(*f, work);
      } else {
        if (c == 0) continue;
        produce(*f, f->raw.data(), work);
      }
      if (!direct) pack(*f, work, line.data());
      if (f->xform_failed) {
        f->xform_failed = false;
        KLV_LOG(KLV_LOG_ERROR, "line filter: the colour transform failed on a written line");
        return done;
      }
      for (uint32_t k = 0; k < c; ++k)
        if (img_write_line(f->src, line.data(), 1) != 1) return done;
    }
    return done;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t filter_seek_line(void* handle, int32_t line, int32_t plane, int32_t page,
                                 int32_t whence) {
  auto* f = static_cast<filter_rec*>(handle);
  if (!f || plane != 0) return -1;
  const int64_t height = f->size.out_h;
  const int64_t pages = f->out.pages ? f->out.pages : 1;
  int64_t pos = line + height * page;
  if (whence == 1) pos += int64_t{f->cur_page} * height + f->cur_line;
  if (whence == 2) pos += pages * height - 1;
  pos = std::clamp<int64_t>(pos, 0, pages * height - 1);
  if (f->mode == 'w') {
    if (pos != 0) return -1;
    f->vi = 0;
    f->cur_line = 0;
    std::fill(f->sums.begin(), f->sums.end(), 0);
    f->sum_lines = 0;
    return 0;
  }
  try {
    f->cur_page = static_cast<int32_t>(pos / height);
    int32_t want = static_cast<int32_t>(pos % height);
    // Walk the vertical table to the input line that makes output line `want`.
    int64_t acc = 0;
    int32_t i = 0;
    const int32_t nin = static_cast<int32_t>(f->vy.counts.size());
    while (i < nin && acc + f->vy.counts[i] <= want) acc += f->vy.counts[i++];
    if (i >= nin) return -1;
    f->sums.assign(f->sums.size(), 0);
    f->sum_lines = 0;
    f->rep_left = 0;
    f->src_next = -1;
    if (!f->vy.enlarge) {
      // Start after the previous kept line so that averaging sees its lines.
      int32_t start = i;
      if (can_average(*f) && f->vy.scaled)
        while (start > 0 && f->vy.counts[start - 1] == 0) --start;
      f->vi = start;
      if (img_seek_line(f->src, f->vy.first + start, 0, f->cur_page, 0) < 0) return -1;
      f->src_next = f->vy.first + start;
    } else {
      f->vi = i;
      if (!fetch(*f, f->vy.first + i)) return -1;
      produce(*f, f->raw.data(), f->held.data());
      if (f->opt.smooth) {
        if (i + 1 < nin && fetch(*f, f->vy.first + i + 1))
          produce(*f, f->raw.data(), f->next_held.data());
        else
          f->next_held = f->held;
      }
      f->rep_total = f->vy.counts[i];
      f->rep_left = f->rep_total - static_cast<int32_t>(want - acc);
      f->vi = i + 1;
    }
    f->cur_line = want;
    return want;
  } catch (...) {
    return -1;
  }
}

KLV_API image_cmap* filter_get_cmap(void* handle) {
  auto* f = static_cast<filter_rec*>(handle);
  if (!f) return nullptr;
  return copy_cmap(f->out.cmap);
}

KLV_API int32_t filter_close(void* handle) {
  auto* f = static_cast<filter_rec*>(handle);
  if (!f) return 0;
  // The stream below is closed here rather than by the record, so that its
  // close status (lost written data) is passed on.
  IMG_file* below = f->detached ? nullptr : f->src;
  f->src = nullptr;
  delete f;
  return img_close_status(below);
}

KLV_API int32_t filter_detach(filter_rec* f) {
  if (!f) return 0;
  f->detached = true;
  return filter_close(f);
}

KLV_API IMG_file* filter_detach_img(IMG_file* img) {
  if (img && img->close == filter_close && img->handle) {
    filter_detach(static_cast<filter_rec*>(img->handle));
    img->handle = nullptr;
  }
  return img_close(img);
}

KLV_API IMG_file* filter_to_img(filter_rec* f) {
  if (!f) return nullptr;
  auto* img = static_cast<IMG_file*>(std::calloc(1, sizeof(IMG_file)));
  if (!img) {
    filter_close(f);
    return nullptr;
  }
  img->handle = f;
  img->type = f->src ? f->src->type : 0;
  img->mode = f->mode;
  img->info = f->mode == 'r' ? f->out : f->in;
  img->info.cmap = nullptr;
  img->close = filter_close;
  img->read_line = filter_read_line;
  img->write_line = filter_write_line;
  img->seek_line = filter_seek_line;
  img->get_cmap = filter_get_cmap;
  return img;
}

KLV_API int32_t filter_buf_to_buf(filter_rec* f, const uint8_t* source_line, uint8_t* output,
                                  int32_t width) {
  if (!f || !source_line || !output || f->vy.scaled) return 0;
  try {
    if (width <= 0) {
      std::memcpy(f->raw.data(), source_line, f->in.bytes_per_line);
      produce(*f, f->raw.data(), direct_pack(*f) ? output : f->work.data());
      if (!direct_pack(*f)) pack(*f, f->work.data(), output);
      return 1;
    }
    // width pixels one for one, from the line's first pixel.
    filter_rec& r = *f;
    AxisMap saved = r.hx;
    const int32_t saved_w = r.win_pixels, saved_out = r.size.out_w;
    const bool saved_copy = r.copy_raw;
    const uint32_t saved_bpl = r.out.bytes_per_line;
    if (width > saved_w && width > saved_out) return 0;
    r.hx.first = 0;
    r.hx.counts.assign(width, 1);
    r.hx.scaled = r.hx.enlarge = false;
    r.win_pixels = width;
    r.size.out_w = width;
    r.copy_raw = !r.convert;
    r.out.bytes_per_line = static_cast<uint32_t>(
        (uint64_t(r.out.samples + r.out.mask_samples) * r.out.bits_per_sample * width + 7) / 8);
    const uint64_t in_bytes =
        (uint64_t(r.in.samples + r.in.mask_samples) * r.in.bits_per_sample * width + 7) / 8;
    std::memcpy(r.raw.data(), source_line, std::min<uint64_t>(in_bytes, r.raw.size()));
    produce(r, r.raw.data(), direct_pack(r) ? output : r.work.data());
    if (!direct_pack(r)) pack(r, r.work.data(), output);
    r.hx = saved;
    r.win_pixels = saved_w;
    r.size.out_w = saved_out;
    r.copy_raw = saved_copy;
    r.out.bytes_per_line = saved_bpl;
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API int32_t filter_read_to_img(filter_rec* f, IMG_file* dst, filter_progress_fn progress,
                                   void* context) {
  if (!f || !dst || f->mode != 'r' || dst->mode != 'w') return 0;
  const image_info& o = f->out;
  const image_info& d = dst->info;
  if (d.width != o.width || d.height != o.height || d.samples != o.samples ||
      d.mask_samples != o.mask_samples || d.bits_per_sample != o.bits_per_sample ||
      d.photometric != o.photometric || d.planar != o.planar) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the destination's description differs from the output");
    return 0;
  }
  try {
    // With double_buffer, lines alternate between the filter's two buffers: a
    // destination that hands a line to another thread may go on reading it
    // while the next line is made in the other buffer. Without it one buffer
    // serves every line.
    std::vector<uint8_t> single;
    uint8_t* bufs[2];
    if (f->opt.double_buffer && !f->dbuf[0].empty()) {
      bufs[0] = f->dbuf[0].data();
      bufs[1] = f->dbuf[1].data();
    } else {
      single.resize(o.bytes_per_line + 8);
      bufs[0] = bufs[1] = single.data();
    }
    if (filter_seek_line(f, 0, 0, 0, 0) < 0) return 0;
    for (int32_t y = 0; y < o.height; ++y) {
      uint8_t* buf = bufs[y & 1];
      f->dbuf_turn = y & 1;
      if (filter_read_line(f, buf, 1) != 1) return 0;
      if (img_write_line(dst, buf, 1) != 1) return 0;
      if (progress) progress(context, y + 1, o.height);
    }
    // The destination reports whether its (possibly deferred) writes went well.
    if (f->opt.double_buffer && img_status(dst, 1) < 0) return 0;
    return 1;
  } catch (...) {
    return 0;
  }
}
}
