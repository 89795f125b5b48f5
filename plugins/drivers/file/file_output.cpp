// SPDX-License-Identifier: MIT
#include "file_output.h"

#include <png.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#ifdef __x86_64__
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>
#include <new>

namespace klvdrv {

static_assert(sizeof(std::array<uint64_t, 2>) == 16);

void DotCounter::SetShape(uint32_t bits, uint32_t width) {
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) bits = 1;
  popcnt_ = bits == 1 && !plain_ && __builtin_cpu_supports("popcnt");
  bytes_ = (static_cast<size_t>(bits) * width + 7) / 8;
  const uint32_t used = static_cast<uint32_t>((static_cast<size_t>(bits) * width) % 8);
  tail_mask_ = used ? static_cast<uint8_t>(0xFF << (8 - used)) : 0xFF;
  const uint32_t mask = (1u << bits) - 1;
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint8_t n = 0;
    for (uint32_t shift = 0; shift < 8; shift += bits)
      if ((byte >> shift) & mask) ++n;
    table_[byte] = n;
  }
}

namespace {

// One-bit planes: the set bits, eight bytes a step (the processor's
// population count where it has one).
__attribute__((target("popcnt"))) uint64_t count_bits_popcnt(const uint8_t* p, size_t n) {
  uint64_t dots = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    dots += static_cast<uint64_t>(__builtin_popcountll(w));
  }
  for (; i < n; ++i) dots += static_cast<uint64_t>(__builtin_popcount(p[i]));
  return dots;
}

}  // namespace

uint64_t DotCounter::Count(const uint8_t* plane) const {
  if (bytes_ == 0) return 0;
  if (popcnt_) return count_bits_popcnt(plane, bytes_ - 1) + table_[plane[bytes_ - 1] & tail_mask_];
  uint64_t n = 0;
  for (size_t i = 0; i + 1 < bytes_; ++i) n += table_[plane[i]];
  return n + table_[plane[bytes_ - 1] & tail_mask_];
}

// ---------------------------------------------------------------------------

bool DropCounter::SetShape(uint32_t bits, uint32_t width) {
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) return false;
  bits_ = bits;
  levels_ = (1u << bits) - 1;
  bytes_ = (static_cast<size_t>(bits) * width + 7) / 8;
  const uint32_t used = static_cast<uint32_t>((static_cast<size_t>(bits) * width) % 8);
  tail_mask_ = used ? static_cast<uint8_t>(0xFF << (8 - used)) : 0xFF;
  packed_.fill(0);
  if (bits <= 2)
    for (uint32_t byte = 0; byte < 256; ++byte)
      for (uint32_t shift = 0; shift < 8; shift += bits)
        if (uint32_t v = (byte >> shift) & levels_) packed_[byte] += uint64_t{1} << (16 * (v - 1));
  return true;
}

uint64_t DropCounter::Count(const uint8_t* row, uint64_t* counts) const {
  if (bytes_ == 0) return 0;
  const size_t last = bytes_ - 1;
  auto byte_at = [&](size_t i) { return i == last ? row[i] & tail_mask_ : row[i]; };
  uint64_t dots = 0;
  if (bits_ <= 2) {
    // Fields of 16 bits take at most 8 per byte: flush before they could overflow.
    constexpr size_t kRun = 8000;
    for (size_t start = 0; start < bytes_; start += kRun) {
      uint64_t acc = 0;
      const size_t end = start + kRun < bytes_ ? start + kRun : bytes_;
      for (size_t i = start; i < end; ++i) acc += packed_[byte_at(i)];
      for (uint32_t l = 0; l < levels_; ++l) {
        const uint64_t n = (acc >> (16 * l)) & 0xFFFF;
        counts[l] += n;
        dots += n;
      }
    }
  } else if (bits_ == 4) {
    for (size_t i = 0; i < bytes_; ++i) {
      const uint32_t b = byte_at(i);
      if (b >> 4) ++counts[(b >> 4) - 1], ++dots;
      if (b & 15) ++counts[(b & 15) - 1], ++dots;
    }
  } else {
    for (size_t i = 0; i < bytes_; ++i)
      if (row[i]) ++counts[row[i] - 1], ++dots;
  }
  return dots;
}

// ---------------------------------------------------------------------------

bool Preview::Start(const PrintShape& shape, const std::vector<Separation>& separations) {
  shape_ = shape;
  const uint32_t longer = shape.width > shape.height ? shape.width : shape.height;
  factor_ = (longer + kPreviewSide - 1) / kPreviewSide;
  if (factor_ == 0) factor_ = 1;
  width_ = (shape.width + factor_ - 1) / factor_;
  height_ = (shape.height + factor_ - 1) / factor_;
  codes_ = 1u << shape.bits;
  ink_.assign(static_cast<size_t>(shape.channels) * codes_, {1.f, 1.f, 1.f});
  for (uint32_t c = 0; c < shape.channels && c < separations.size(); ++c)
    for (uint32_t code = 0; code < codes_; ++code) {
      const float cover = static_cast<float>(code) / static_cast<float>(codes_ - 1);
      for (int k = 0; k < 3; ++k)
        ink_[c * codes_ + code][k] = 1.f - cover * (1.f - separations[c].rgb[k] / 255.f);
    }
  sum_.assign(static_cast<size_t>(width_) * height_ * 3, 0.f);
  count_.assign(static_cast<size_t>(width_) * height_, 0);
  pixel_.assign(static_cast<size_t>(shape.width) * 3, 1.f);
  combos_ = 0;
  hist_row_ = -1;
  next_row_ = 0;
  const uint32_t combo_bits = shape.channels * shape.bits;
  if (combo_bits > 8 || 8 % shape.bits != 0) return true;
  combos_ = 1u << combo_bits;
  combo_rgb_.assign(combos_, {1.f, 1.f, 1.f});
  for (uint32_t m = 0; m < combos_; ++m)
    for (uint32_t c = 0; c < shape.channels; ++c) {
      const uint32_t code = (m >> (c * shape.bits)) & (codes_ - 1);
      for (int k = 0; k < 3; ++k) combo_rgb_[m][k] *= ink_[c * codes_ + code][k];
    }
  const uint32_t per_byte = 8 / shape.bits;
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint64_t word = 0;
    for (uint32_t i = 0; i < per_byte; ++i) {
      const uint64_t code = (byte >> (8 - shape.bits * (i + 1))) & (codes_ - 1);
      word |= code << (8 * i);
    }
    spread_[byte] = word;
  }
  combo_.assign(static_cast<size_t>(shape.width) + 8, 0);
  hist_.assign(static_cast<size_t>(width_) * combos_, 0);
  by_pairs_ = !plain_ && combos_ <= 16 && factor_ <= 254;
  if (by_pairs_) {
    auto field = [](uint32_t m) {
      return std::array<uint64_t, 2>{m < 8 ? 1ull << (8 * m) : 0,
                                     m >= 8 ? 1ull << (8 * (m - 8)) : 0};
    };
    one_counts_.resize(16);
    pair_counts_.resize(256);
    for (uint32_t a = 0; a < 16; ++a) {
      one_counts_[a] = field(a);
      for (uint32_t b = 0; b < 16; ++b) {
        const auto fa = field(a), fb = field(b);
        pair_counts_[a | b << 4] = {fa[0] + fb[0], fa[1] + fb[1]};
      }
    }
    pairs_.assign(width_, {0, 0, 0, 0});
  }
  plane_pairs_ = by_pairs_ && shape.bits == 1 && factor_ % 2 == 0;
  if (plane_pairs_) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t word = 0;
      for (uint32_t k = 0; k < 4; ++k) {
        const uint32_t first = (byte >> (7 - 2 * k)) & 1, second = (byte >> (6 - 2 * k)) & 1;
        word |= (first | second << 4) << (8 * k);
      }
      pair_spread_[byte] = word;
    }
    pair_index_.assign(shape.PlaneBytes() * 4 + 4, 0);
#ifdef __x86_64__
    ssse3_ = !plain_ && __builtin_cpu_supports("ssse3");
#endif
    bytes_.assign(width_, {0, 0});
    byte_lines_ = 0;
    max_byte_lines_ = 255 / factor_;
  }
  return true;
}

void Preview::SumCombinations() {
  if (hist_row_ < 0) return;
  float* sum = &sum_[static_cast<size_t>(hist_row_) * width_ * 3];
  uint32_t* count = &count_[static_cast<size_t>(hist_row_) * width_];
  if (by_pairs_) {
    if (byte_lines_) SpreadBytes();
    // The counts of the 16-bit fields, summed in the plain path's order; a
    // count of 0 adds +0.0, which leaves every sum as it is.
    for (uint32_t px = 0; px < width_; ++px) {
      std::array<uint64_t, 4>& f = pairs_[px];
      float r = sum[px * 3], g = sum[px * 3 + 1], b = sum[px * 3 + 2];
      uint32_t total = count[px];
      for (uint32_t m = 0; m < combos_; ++m) {
        const uint64_t word = f[(m >= 8 ? 2 : 0) + (m & 1)];
        const uint32_t h = static_cast<uint32_t>((word >> (16 * ((m & 7) >> 1))) & 0xFFFF);
        const float n = static_cast<float>(h);
        r += n * combo_rgb_[m][0];
        g += n * combo_rgb_[m][1];
        b += n * combo_rgb_[m][2];
        total += h;
      }
      sum[px * 3] = r;
      sum[px * 3 + 1] = g;
      sum[px * 3 + 2] = b;
      count[px] = total;
      f = {0, 0, 0, 0};
    }
    hist_row_ = -1;
    return;
  }
  for (uint32_t px = 0; px < width_; ++px) {
    uint32_t* h = &hist_[static_cast<size_t>(px) * combos_];
    for (uint32_t m = 0; m < combos_; ++m) {
      if (!h[m]) continue;
      const float n = static_cast<float>(h[m]);
      sum[px * 3] += n * combo_rgb_[m][0];
      sum[px * 3 + 1] += n * combo_rgb_[m][1];
      sum[px * 3 + 2] += n * combo_rgb_[m][2];
      count[px] += h[m];
      h[m] = 0;
    }
  }
  hist_row_ = -1;
}

void Preview::Flush() {
  if (combos_) SumCombinations();
}

void Preview::Combine(const uint8_t* line) {
  const size_t plane = shape_.PlaneBytes();
  const uint32_t per_byte = 8 / shape_.bits;
  uint8_t* combo = combo_.data();
  if (plain_) {
    std::fill(combo_.begin(), combo_.end(), 0);
    for (uint32_t c = 0; c < shape_.channels; ++c) {
      const uint8_t* data = line + c * plane;
      const uint32_t shift = c * shape_.bits;
      for (size_t i = 0; i < plane; ++i) {
        uint64_t word;
        std::memcpy(&word, combo + i * per_byte, 8);
        word |= spread_[data[i]] << shift;
        std::memcpy(combo + i * per_byte, &word, 8);
      }
    }
    return;
  }
  // Each plane byte's codes land in the low bytes of a word; the words are
  // stored in order, each overwriting the spare top of the one before.
  const uint32_t bits = shape_.bits, channels = shape_.channels;
  for (size_t i = 0; i < plane; ++i) {
    uint64_t word = 0;
    for (uint32_t c = 0; c < channels; ++c) word |= spread_[line[c * plane + i]] << (c * bits);
    std::memcpy(combo + i * per_byte, &word, 8);
  }
}

namespace {

// Four pair indices a plane byte: each channel's bits at their place.
// (The channels are written out: the compiler keeps a loop over them.)
template <uint32_t kChannels>
void spread_pairs(const uint32_t* spread, const uint8_t* line, size_t plane, size_t from,
                  uint8_t* out) {
  const uint8_t* p0 = line;
  const uint8_t* p1 = line + (kChannels > 1 ? plane : 0);
  const uint8_t* p2 = line + (kChannels > 2 ? 2 * plane : 0);
  const uint8_t* p3 = line + (kChannels > 3 ? 3 * plane : 0);
  for (size_t i = from; i < plane; ++i) {
    uint32_t word = spread[p0[i]];
    if (kChannels > 1) word |= spread[p1[i]] << 1;
    if (kChannels > 2) word |= spread[p2[i]] << 2;
    if (kChannels > 3) word |= spread[p3[i]] << 3;
    std::memcpy(out + 4 * i, &word, 4);
  }
}

#ifdef __x86_64__
// Sixteen plane bytes a step: each nibble's two pairs through byte
// shuffles, the four pairs of each byte then interleaved in order. Gives
// the plane bytes done (a multiple of sixteen).
__attribute__((target("ssse3"))) size_t spread_pairs_ssse3(const uint8_t* line, size_t plane,
                                                           uint32_t channels, uint8_t* out) {
  // Nibble n holds pixels n3 n2 n1 n0 (first to last): its first pair is
  // n3 | n2 << 4, its second n1 | n0 << 4.
  alignas(16) uint8_t first[16], second[16];
  for (uint32_t n = 0; n < 16; ++n) {
    first[n] = static_cast<uint8_t>(((n >> 3) & 1) | ((n >> 2) & 1) << 4);
    second[n] = static_cast<uint8_t>(((n >> 1) & 1) | (n & 1) << 4);
  }
  const __m128i tf = _mm_load_si128(reinterpret_cast<const __m128i*>(first));
  const __m128i ts = _mm_load_si128(reinterpret_cast<const __m128i*>(second));
  const __m128i low = _mm_set1_epi8(0x0F);
  size_t i = 0;
  for (; i + 16 <= plane; i += 16) {
    __m128i q0 = _mm_setzero_si128(), q1 = q0, q2 = q0, q3 = q0;
    for (uint32_t c = 0; c < channels; ++c) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + c * plane + i));
      const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), low), lo = _mm_and_si128(v, low);
      // Values of at most 0x11 moved up by at most 3: no bit leaves its byte.
      const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(c));
      q0 = _mm_or_si128(q0, _mm_sll_epi16(_mm_shuffle_epi8(tf, hi), shift));
      q1 = _mm_or_si128(q1, _mm_sll_epi16(_mm_shuffle_epi8(ts, hi), shift));
      q2 = _mm_or_si128(q2, _mm_sll_epi16(_mm_shuffle_epi8(tf, lo), shift));
      q3 = _mm_or_si128(q3, _mm_sll_epi16(_mm_shuffle_epi8(ts, lo), shift));
    }
    const __m128i a = _mm_unpacklo_epi8(q0, q1), b = _mm_unpackhi_epi8(q0, q1);
    const __m128i c = _mm_unpacklo_epi8(q2, q3), d = _mm_unpackhi_epi8(q2, q3);
    auto* at = reinterpret_cast<__m128i*>(out + 4 * i);
    _mm_storeu_si128(at, _mm_unpacklo_epi16(a, c));
    _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(a, c));
    _mm_storeu_si128(at + 2, _mm_unpacklo_epi16(b, d));
    _mm_storeu_si128(at + 3, _mm_unpackhi_epi16(b, d));
  }
  return i;
}
#endif

}  // namespace

void Preview::AddLineByPlanePairs(const uint8_t* line) {
  const size_t plane = shape_.PlaneBytes();
  uint8_t* out = pair_index_.data();
  const uint32_t* spread = pair_spread_.data();
  size_t done = 0;
#ifdef __x86_64__
  if (ssse3_) done = spread_pairs_ssse3(line, plane, shape_.channels, out);
#endif
  switch (shape_.channels) {
    case 1:
      spread_pairs<1>(spread, line, plane, done, out);
      break;
    case 2:
      spread_pairs<2>(spread, line, plane, done, out);
      break;
    case 3:
      spread_pairs<3>(spread, line, plane, done, out);
      break;
    default:
      spread_pairs<4>(spread, line, plane, done, out);
      break;
  }
  CountPairs(out);
}

// Spans start at even pixels: each is factor_ / 2 pairs, the last one
// perhaps fewer and ending in a pixel of its own. Each preview pixel keeps
// its byte fields over as many lines as they cannot overflow in (a line adds
// at most factor_ to a field), then they go to the 16-bit fields.
void Preview::CountPairs(const uint8_t* pairs) {
  for (uint32_t px = 0, x = 0; px < width_; ++px) {
    const uint32_t end = std::min(shape_.width, x + factor_);
    const uint8_t* p = pairs + x / 2;
    const uint32_t n = (end - x) / 2;
    std::array<uint64_t, 2>& fields = bytes_[px];
#ifdef __SSE2__
    // Sixteen byte fields added at once.
    // (std::array<uint64_t, 2> is 16 bytes without padding.)
    const auto* table = reinterpret_cast<const __m128i*>(pair_counts_.data());
    auto* slot = reinterpret_cast<__m128i*>(fields.data());
    __m128i acc = _mm_loadu_si128(slot), acc2 = _mm_setzero_si128();
    uint32_t j = 0;
    for (; j + 2 <= n; j += 2) {
      acc = _mm_add_epi8(acc, _mm_loadu_si128(table + p[j]));
      acc2 = _mm_add_epi8(acc2, _mm_loadu_si128(table + p[j + 1]));
    }
    if (j < n) acc = _mm_add_epi8(acc, _mm_loadu_si128(table + p[j]));
    if ((end - x) % 2)
      acc = _mm_add_epi8(
          acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(one_counts_[p[n] & 15].data())));
    _mm_storeu_si128(slot, _mm_add_epi8(acc, acc2));
#else
    for (uint32_t j = 0; j < n; ++j) {
      const std::array<uint64_t, 2>& c = pair_counts_[p[j]];
      fields[0] += c[0];
      fields[1] += c[1];
    }
    if ((end - x) % 2) {
      fields[0] += one_counts_[p[n] & 15][0];
      fields[1] += one_counts_[p[n] & 15][1];
    }
#endif
    x = end;
  }
  if (++byte_lines_ == max_byte_lines_) SpreadBytes();
}

void Preview::SpreadBytes() {
  constexpr uint64_t kEven = 0x00FF00FF00FF00FFull;
  for (uint32_t px = 0; px < width_; ++px) {
    std::array<uint64_t, 2>& b = bytes_[px];
    std::array<uint64_t, 4>& f = pairs_[px];
    f[0] += b[0] & kEven;
    f[1] += (b[0] >> 8) & kEven;
    f[2] += b[1] & kEven;
    f[3] += (b[1] >> 8) & kEven;
    b = {0, 0};
  }
  byte_lines_ = 0;
}

void Preview::AddLineByPairs() {
  const uint8_t* combo = combo_.data();
  for (uint32_t px = 0, x = 0; px < width_; ++px) {
    const uint32_t end = std::min(shape_.width, x + factor_);
    uint64_t lo = 0, hi = 0;
    for (; x + 1 < end; x += 2) {
      const std::array<uint64_t, 2>& n = pair_counts_[combo[x] | combo[x + 1] << 4];
      lo += n[0];
      hi += n[1];
    }
    if (x < end) {
      lo += one_counts_[combo[x]][0];
      hi += one_counts_[combo[x]][1];
      ++x;
    }
    constexpr uint64_t kEven = 0x00FF00FF00FF00FFull;
    std::array<uint64_t, 4>& f = pairs_[px];
    f[0] += lo & kEven;
    f[1] += (lo >> 8) & kEven;
    f[2] += hi & kEven;
    f[3] += (hi >> 8) & kEven;
  }
}

void Preview::AddLineByCombination(uint32_t row, const uint8_t* line) {
  const int64_t y = row / factor_;
  if (y != hist_row_) {
    SumCombinations();
    hist_row_ = y;
  }
  if (plane_pairs_) {
    AddLineByPlanePairs(line);
    return;
  }
  Combine(line);
  if (by_pairs_) {
    AddLineByPairs();
    return;
  }
  const uint8_t* combo = combo_.data();
  for (uint32_t px = 0, x = 0; px < width_; ++px) {
    uint32_t* h = &hist_[static_cast<size_t>(px) * combos_];
    const uint32_t end = std::min(shape_.width, x + factor_);
    for (; x < end; ++x) ++h[combo[x]];
  }
}

void Preview::AddLine(uint32_t row, const uint8_t* line) {
  if (row >= shape_.height || width_ == 0) return;
  next_row_ = row + 1;
  if (combos_) {
    AddLineByCombination(row, line);
    return;
  }
  // Multiply the ink factors of every separation into one line of RGB.
  std::fill(pixel_.begin(), pixel_.end(), 1.f);
  const size_t plane = shape_.PlaneBytes();
  const uint32_t bits = shape_.bits, per_byte = 8 / bits, mask = codes_ - 1;
  for (uint32_t c = 0; c < shape_.channels; ++c) {
    const uint8_t* data = line + c * plane;
    const std::array<float, 3>* ink = &ink_[c * codes_];
    float* out = pixel_.data();
    for (uint32_t x = 0; x < shape_.width; ++x, out += 3) {
      const uint32_t shift = 8 - bits * (x % per_byte + 1);
      const uint32_t code = (data[x / per_byte] >> shift) & mask;
      if (!code) continue;
      out[0] *= ink[code][0];
      out[1] *= ink[code][1];
      out[2] *= ink[code][2];
    }
  }
  const size_t y = row / factor_;
  float* sum = &sum_[y * width_ * 3];
  uint32_t* count = &count_[y * width_];
  for (uint32_t x = 0; x < shape_.width; ++x) {
    const uint32_t px = x / factor_;
    sum[px * 3] += pixel_[x * 3];
    sum[px * 3 + 1] += pixel_[x * 3 + 1];
    sum[px * 3 + 2] += pixel_[x * 3 + 2];
    ++count[px];
  }
}

namespace {

void append_png_bytes(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  try {
    out->insert(out->end(), data, data + size);
  } catch (const std::bad_alloc&) {
    png_error(png, "out of memory");
  }
}

void no_png_flush(png_structp) {}

// std::lround of a value that is not negative, without the call: v + 0.5 is
// exact in double, and its floor is the rounding half away from zero.
inline long round_half_up(float v) {
  return static_cast<long>(static_cast<double>(v) + 0.5);
}

}  // namespace

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  // A file whose last bytes did not reach the disk is a failed one.
  const bool flushed = std::fflush(file.get()) == 0;
  return std::fclose(file.release()) == 0 && flushed && written;
}

bool Preview::WritePng(const std::string& path) {
  std::vector<uint8_t> bytes;
  return EncodePng(&bytes) && WriteFile(path, bytes);
}

bool Preview::EncodePng(std::vector<uint8_t>* out) {
  return BeginPng(out) && EndPng();
}

struct Preview::Png {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> row;
  ~Png() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

Preview::Preview() = default;
Preview::~Preview() = default;

// libpng reports its errors by a jump back to the call that set it up: each
// step sets its own and leaves png_failed_.
bool Preview::BeginPng(std::vector<uint8_t>* out) {
  png_.reset();
  png_rows_ = 0;
  png_failed_ = true;
  out->clear();
  if (width_ == 0 || height_ == 0) return false;
  auto state = std::make_unique<Png>();
  state->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  state->info = state->png ? png_create_info_struct(state->png) : nullptr;
  if (!state->info) return false;
  state->row.resize(static_cast<size_t>(width_) * 3);
  png_structp png = state->png;
  png_infop info = state->info;
  png_ = std::move(state);
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, &append_png_bytes, &no_png_flush);
  png_set_IHDR(png, info, width_, height_, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_failed_ = false;
  return true;
}

void Preview::EncodeRows(uint32_t end) {
  if (!png_ || png_failed_) return;
  png_structp png = png_->png;
  uint8_t* row = png_->row.data();
  png_failed_ = true;
  if (setjmp(png_jmpbuf(png))) return;
  for (; png_rows_ < end && png_rows_ < height_; ++png_rows_) {
    const size_t at = static_cast<size_t>(png_rows_) * width_;
    for (uint32_t x = 0; x < width_; ++x) {
      const size_t i = at + x;
      const float n = count_[i] ? static_cast<float>(count_[i]) : 1.f;
      for (int k = 0; k < 3; ++k) {
        const float v = count_[i] ? sum_[i * 3 + k] / n : 1.f;
        row[x * 3 + k] = static_cast<uint8_t>(round_half_up(v * 255.f));
      }
    }
    png_write_row(png, row);
  }
  png_failed_ = false;
}

void Preview::EndPngState() {
  if (!png_ || png_failed_) return;
  png_structp png = png_->png;
  png_failed_ = true;
  if (setjmp(png_jmpbuf(png))) return;
  png_write_end(png, nullptr);
  png_failed_ = false;
}

bool Preview::FinishPng() {
  if (!png_) return false;
  EncodeRows(height_);
  EndPngState();
  png_.reset();
  return !png_failed_;
}

bool Preview::EndPng() {
  Flush();
  return FinishPng();
}

uint32_t Preview::RowsDone() const {
  const uint32_t rows = next_row_ / factor_;
  // The preview row being counted by combination is summed when the next
  // one starts.
  if (combos_ && hist_row_ >= 0) return std::min(rows, static_cast<uint32_t>(hist_row_));
  return rows;
}

// ---------------------------------------------------------------------------

namespace {

// How many bytes from `p` on are each followed by a different byte (or by
// the end): the bytes that extend a literal one by one.
size_t singles(const uint8_t* p, size_t size) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 9 <= size; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, p + i + 1, 8);
    const uint64_t x = a ^ b;
    // The lowest zero byte of x is exact (a false hit can only lie above one).
    if (const uint64_t zero = (x - kOnes) & ~x & kHighs)
      return i + static_cast<size_t>(__builtin_ctzll(zero)) / 8;
  }
  for (; i + 1 < size; ++i)
    if (p[i] == p[i + 1]) return i;
  return size;
}

}  // namespace

uint8_t* PackBitsRow(const uint8_t* bp, size_t cc, uint8_t* op) {
  enum State { kBase, kLiteral, kRun, kLiteralRun } state = kBase;
  uint8_t* lastliteral = nullptr;  // the count byte of the literal being made
  while (cc > 0) {
    if (state == kLiteral) {
      // Bytes that stand alone extend the literal, up to 128 of them.
      const size_t room = 127u - *lastliteral;  // the scan looks no further than needed
      const size_t take = std::min(singles(bp, std::min(cc, room + 1)), room);
      if (take > 0) {
        std::memcpy(op, bp, take);
        op += take;
        bp += take;
        cc -= take;
        *lastliteral = static_cast<uint8_t>(*lastliteral + take);
        if (*lastliteral == 127) state = kBase;
        continue;
      }
      // A run of exactly two followed by a single byte: the encoder would
      // write the run, then join it and the byte to the literal.
      if (*lastliteral < 125 && cc >= 3 && bp[2] != bp[1] && (cc == 3 || bp[3] != bp[2])) {
        std::memcpy(op, bp, 3);
        op += 3;
        bp += 3;
        cc -= 3;
        *lastliteral = static_cast<uint8_t>(*lastliteral + 3);
        if (*lastliteral == 127) state = kBase;
        continue;
      }
    }
    const uint8_t b = *bp++;
    --cc;
    long n = 1;
    for (; cc > 0 && *bp == b; --cc, ++bp) ++n;
    for (bool again = true; again;) {
      again = false;
      switch (state) {
        case kBase:
        case kRun:
        case kLiteral:
          if (n > 1) {
            if (state != kRun) state = state == kLiteral ? kLiteralRun : kRun;
            const long here = n > 128 ? 128 : n;
            *op++ = static_cast<uint8_t>(-(here - 1));
            *op++ = b;
            n -= here;
            again = n > 0;
          } else if (state == kLiteral) {
            if (++(*lastliteral) == 127) state = kBase;
            *op++ = b;
          } else {
            lastliteral = op;
            *op++ = 0;
            *op++ = b;
            state = kLiteral;
          }
          break;
        case kLiteralRun:
          // A run of two between literals joins them.
          if (n == 1 && op[-2] == static_cast<uint8_t>(-1) && *lastliteral < 126) {
            *lastliteral = static_cast<uint8_t>(*lastliteral + 2);
            state = *lastliteral == 127 ? kBase : kLiteral;
            op[-2] = op[-1];
          } else {
            state = kRun;
          }
          again = true;
          break;
      }
    }
  }
  return op;
}

bool TiffPages::Open(const std::string& path) {
  Close();
  tif_ = plain_ ? TIFFOpen(path.c_str(), "w") : file_.OpenTiff(path);
  return tif_ != nullptr;
}

bool TiffPages::StartPage(const PrintShape& shape, const std::vector<Separation>& separations,
                          const std::string& page_name, uint16_t page) {
  if (!tif_) return false;
  shape_ = shape;
  rows_written_ = 0;
  coded_.clear();
  coded_size_.clear();
  zero_.assign(shape.PlaneBytes(), 0);
  TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, shape.width);
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, shape.height);
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(shape.bits));
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(shape.channels));
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
  TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, kStripRows);
  if (plain_) band_.assign(shape.PlaneBytes() * shape.channels * kStripRows, 0);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
  TIFFSetField(tif_, TIFFTAG_PAGENUMBER, page, static_cast<uint16_t>(0));
  if (!page_name.empty()) TIFFSetField(tif_, TIFFTAG_PAGENAME, page_name.c_str());
  if (shape.xres > 0 && shape.yres > 0) {
    TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif_, TIFFTAG_XRESOLUTION, static_cast<float>(shape.xres));
    TIFFSetField(tif_, TIFFTAG_YRESOLUTION, static_cast<float>(shape.yres));
  }
  if (shape.channels == 1) {
    TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  } else {
    // Separations in the order received, named: a multi-ink set.
    TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
    TIFFSetField(tif_, TIFFTAG_INKSET, INKSET_MULTIINK);
    TIFFSetField(tif_, TIFFTAG_NUMBEROFINKS, static_cast<uint16_t>(shape.channels));
    std::string names;
    for (uint32_t c = 0; c < shape.channels; ++c) {
      names += c < separations.size() ? separations[c].name : "Ink" + std::to_string(c + 1);
      names.push_back('\0');
    }
    TIFFSetField(tif_, TIFFTAG_INKNAMES, static_cast<int>(names.size()), names.data());
  }
  return true;
}

// Each separation's rows are encoded as they arrive; a full strip (or the
// page's last) is written raw, the separations in order, as libtiff would
// have written them.
bool TiffPages::FlushCoded(uint32_t row) {
  for (uint32_t c = 0; c < shape_.channels; ++c) {
    const uint32_t strip = TIFFComputeStrip(tif_, row, static_cast<uint16_t>(c));
    if (TIFFWriteRawStrip(tif_, strip, coded_[c].data(), static_cast<tmsize_t>(coded_size_[c])) < 0)
      return false;
    coded_size_[c] = 0;
  }
  return true;
}

bool TiffPages::WriteLine(uint32_t row, const uint8_t* line) {
  if (!tif_ || row >= shape_.height || row != rows_written_) return false;
  if (!plain_) {
    const size_t plane = shape_.PlaneBytes();
    if (coded_.size() != shape_.channels) {
      coded_.assign(shape_.channels, std::vector<uint8_t>(PackBitsBound(plane) * kStripRows));
      coded_size_.assign(shape_.channels, 0);
    }
    for (uint32_t c = 0; c < shape_.channels; ++c) {
      uint8_t* at = coded_[c].data() + coded_size_[c];
      coded_size_[c] =
          static_cast<size_t>(PackBitsRow(line + c * plane, plane, at) - coded_[c].data());
    }
    rows_written_ = row + 1;
    if ((row + 1) % kStripRows != 0 && row + 1 < shape_.height) return true;
    return FlushCoded(row);
  }
  // Rows are kept a strip at a time, one band per separation, and each
  // separation's strip is written once it is full (or the page ends).
  const size_t plane = shape_.PlaneBytes();
  const uint32_t in_strip = row % kStripRows;
  for (uint32_t c = 0; c < shape_.channels; ++c)
    std::memcpy(&band_[(size_t(c) * kStripRows + in_strip) * plane], line + c * plane, plane);
  rows_written_ = row + 1;
  if (in_strip + 1 < kStripRows && row + 1 < shape_.height) return true;
  const size_t bytes = size_t(in_strip + 1) * plane;
  for (uint32_t c = 0; c < shape_.channels; ++c) {
    const uint32_t strip = TIFFComputeStrip(tif_, row, static_cast<uint16_t>(c));
    if (TIFFWriteEncodedStrip(tif_, strip, &band_[size_t(c) * kStripRows * plane],
                              static_cast<tmsize_t>(bytes)) < 0)
      return false;
  }
  return true;
}

bool TiffPages::EndPage() {
  if (!tif_) return false;
  bool ok = true;
  std::vector<uint8_t> blank(shape_.LineBytes(), 0);
  for (uint32_t row = rows_written_; row < shape_.height && ok; ++row)
    ok = WriteLine(row, blank.data());
  // The page reaches the file before it counts as written.
  return TIFFWriteDirectory(tif_) && ok && file_.Flush();
}

bool TiffPages::Close() {
  if (tif_) TIFFClose(tif_);
  tif_ = nullptr;
  return file_.Close();
}

}  // namespace klvdrv
