// SPDX-License-Identifier: MIT
// CHTFilter::FlushData: writing the dot lines every engine has finished into
// the output image in its layout (pixel-interleaved, line-interleaved or
// planar), and keeping what some engines finished beyond the others.
#include <algorithm>
#include <array>
#include <cstring>

#include "klv/htplace.h"
#include "klv/log.h"
#include "klv/htplace_cxx.h"
#include "htfilter_ring.h"

namespace {

// spread[b] places the 8 bits of b (pixel 0 at the top bit) at every
// `every`-th bit of a 64-bit word counted from its top bit: the one-bit
// pixel-interleaved packing of up to 8 separations.
struct SpreadTables {
  std::array<std::array<uint64_t, 256>, 9> t{};
  SpreadTables() {
    for (int every = 1; every <= 8; ++every)
      for (int b = 0; b < 256; ++b) {
        uint64_t w = 0;
        for (int i = 0; i < 8; ++i)
          if (b & (0x80 >> i)) w |= uint64_t(1) << (63 - i * every);
        t[size_t(every)][size_t(b)] = w;
      }
  }
};
const SpreadTables& spread_tables() {
  static const SpreadTables tables;
  return tables;
}

void put_be(uint8_t* dst, uint64_t w, unsigned bytes) {
  for (unsigned i = 0; i < bytes; ++i) dst[i] = uint8_t(w >> (56 - 8 * i));
}

// One pixel-interleaved one-bit line from the separations' parts of a buffer
// line (`sep_bytes` apart): eight pixels of every separation make `seps`
// output bytes. S > 0 fixes the number of separations at compile time, so
// that the inner loop unrolls and each group is stored with one 8-byte
// big-endian write while the line has room for it.
template <int S>
void spread_line(const uint8_t* src, unsigned long sep_bytes, uint8_t* dst, unsigned long out_bpl,
                 int seps = S) {
  if (S > 0) seps = S;
  const auto& sp = spread_tables().t[size_t(seps)];
  const unsigned long groups = sep_bytes;
  unsigned long g = 0;
  // Whole 8-byte stores while they stay inside the line.
  const unsigned long wide = out_bpl >= 8 ? (out_bpl - 8) / unsigned(seps) + 1 : 0;
  for (const unsigned long end = std::min(groups, wide); g < end; ++g) {
    uint64_t w = 0;
    for (int s = 0; s < seps; ++s) w |= sp[src[size_t(s) * sep_bytes + g]] >> s;
    w = __builtin_bswap64(w);
    std::memcpy(dst + g * unsigned(seps), &w, 8);
  }
  for (; g < groups; ++g) {
    uint64_t w = 0;
    for (int s = 0; s < seps; ++s) w |= sp[src[size_t(s) * sep_bytes + g]] >> s;
    const unsigned long at = g * unsigned(seps);
    put_be(dst + at, w, unsigned(std::min<unsigned long>(unsigned(seps), out_bpl - at)));
  }
}

}  // namespace

bool CHTFilter::WriteSep(int sep, const uint8_t* base, unsigned long stride, unsigned long lines) {
  if (lines == 0) return true;
  if (img_seek_line(out_, written_[size_t(sep)], sep, 0, 0) < 0) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: cannot position separation %d at line %d", sep,
            written_[size_t(sep)]);
    return false;
  }
  if (stride == sep_bytes_) {
    if (img_write_line(out_, const_cast<uint8_t*>(base), int32_t(lines)) != int32_t(lines))
      return false;
  } else {
    for (unsigned long l = 0; l < lines; ++l)
      if (img_write_line(out_, const_cast<uint8_t*>(base + l * stride), 1) != 1) return false;
  }
  written_[size_t(sep)] += int32_t(lines);
  return true;
}

// Assembles pixel-interleaved output lines from the separations' parts of the
// buffer lines at `base` and writes them.
bool CHTFilter::PackPixels(const uint8_t* base, unsigned long lines) {
  const unsigned bits = out_info_.bits_per_sample;
  const unsigned long out_bpl =
      (uint64_t(bits) * unsigned(seps_) * uint32_t(out_info_.width) + 7) / 8;
  const uint32_t width = uint32_t(out_info_.width);
  const unsigned long chunk = std::max(1UL, std::min(lines, 262144UL / std::max(1UL, out_bpl)));
  if (pack_.size() < chunk * out_bpl) pack_.assign(chunk * out_bpl, 0);
  for (unsigned long first = 0; first < lines; first += chunk) {
    const unsigned long n = std::min(chunk, lines - first);
    for (unsigned long l = 0; l < n; ++l) {
      const uint8_t* src = base + (first + l) * line_bytes_;
      uint8_t* dst = pack_.data() + l * out_bpl;
      if (bits == 1 && seps_ <= 8) {
        switch (seps_) {
          case 2:
            spread_line<2>(src, sep_bytes_, dst, out_bpl);
            break;
          case 3:
            spread_line<3>(src, sep_bytes_, dst, out_bpl);
            break;
          case 4:
            spread_line<4>(src, sep_bytes_, dst, out_bpl);
            break;
          default:
            spread_line<0>(src, sep_bytes_, dst, out_bpl, seps_);
            break;
        }
      } else {
        std::memset(dst, 0, out_bpl);
        const unsigned mask = (1u << bits) - 1;
        for (uint32_t x = 0; x < width; ++x)
          for (int s = 0; s < seps_; ++s) {
            const uint64_t sbit = uint64_t(x) * bits;
            const uint8_t* sb = src + size_t(s) * sep_bytes_ + sbit / 8;
            const unsigned v = (*sb >> (8 - bits - sbit % 8)) & mask;
            const uint64_t dbit = (uint64_t(x) * unsigned(seps_) + unsigned(s)) * bits;
            dst[dbit / 8] |= uint8_t(v << (8 - bits - dbit % 8));
          }
      }
    }
    if (img_write_line(out_, pack_.data(), int32_t(n)) != int32_t(n)) return false;
  }
  return true;
}

// Writes `lines` finished lines of interleaved input, every separation's part
// side by side at `base`, in the output's layout.
bool CHTFilter::WriteBuffer(const uint8_t* base, unsigned long lines) {
  if (out_planar_) {
    for (int s = 0; s < seps_; ++s)
      if (!WriteSep(s, base + size_t(s) * sep_bytes_, line_bytes_, lines)) return false;
    return true;
  }
  if (seps_ > 1 && out_info_.planar == KLV_PLANAR_PIXEL) return PackPixels(base, lines);
  return img_write_line(out_, const_cast<uint8_t*>(base), int32_t(lines)) == int32_t(lines);
}

// With a spare buffer: when every engine has filled the same number of lines,
// the engines move to the spare buffer and the full one waits in spare_ to be
// written while they screen the next lines. False when they cannot move (the
// caller then flushes as usual).
bool CHTFilter::SwapBuffers() {
  if (spare_.empty() || spare_lines_ != 0) return false;
  const unsigned long done = rips_[0]->GetOutLine();
  if (done == 0) return false;
  for (auto& r : rips_)
    if (r->GetOutLine() != done) return false;
  buffer_.swap(spare_);
  for (int s = 0; s < seps_; ++s)
    rips_[size_t(s)]->SetOutBuf(buffer_.data() + size_t(s) * sep_bytes_, line_bytes_, buf_lines_);
  spare_lines_ = done;
  return true;
}

bool CHTFilter::FlushData() {
  if (!attached_ || !out_ || rips_.empty()) return false;
  if (ring_) {
    // Finished lines are written as the chunks finish: wait for them.
    if (!ring_->Drain()) failed_ = true;
    return !failed_;
  }
  bool ok = true;
  if (in_planar_) {
    if (cur_sep_ >= seps_) return true;
    CHTRip* rip = rips_[size_t(cur_sep_)].get();
    rip->CheckProcAvail();
    ok = WriteSep(cur_sep_, buffer_.data(), line_bytes_, rip->GetOutLine());
    rip->ResetOutBuf();
  } else {
    CheckAllProcAvail();
    // Lines waiting in the spare buffer come first.
    if (spare_lines_) {
      ok = WriteBuffer(spare_.data(), spare_lines_);
      spare_lines_ = 0;
    }
    unsigned long done = rips_[0]->GetOutLine(), most = done;
    for (auto& r : rips_) {
      done = std::min(done, r->GetOutLine());
      most = std::max(most, r->GetOutLine());
    }
    if (done > 0 && ok) ok = WriteBuffer(buffer_.data(), done);
    if (most == done) {
      for (auto& r : rips_) r->ResetOutBuf();
    } else {
      // Lines some engines finished beyond the others move to the start.
      for (int s = 0; s < seps_; ++s) {
        CHTRip* r = rips_[size_t(s)].get();
        const unsigned long have = r->GetOutLine();
        uint8_t* part = buffer_.data() + size_t(s) * sep_bytes_;
        for (unsigned long l = done; l < have; ++l)
          std::memmove(part + (l - done) * line_bytes_, part + l * line_bytes_, sep_bytes_);
        r->SetOutLine(have - done);
      }
    }
  }
  if (!ok) {
    if (!failed_) KLV_LOG(KLV_LOG_ERROR, "halftone filter: the output image refused dot lines");
    failed_ = true;
  }
  return ok;
}
