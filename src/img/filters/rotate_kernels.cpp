// SPDX-License-Identifier: MIT
// Pixel movers of the rotation filter: whole-byte units are moved with fixed
// size copies; packed units (samples of 1 to 7 bits) sample by sample.
#include <cstring>

#include "img/filters/rotate_kernels.h"

namespace klv::img {
namespace {

// Sample `index` of a packed row, most significant bits first.
inline uint32_t get_sample(const uint8_t* row, uint64_t index, uint32_t bits) {
  const uint64_t pos = index * bits;
  const uint8_t* p = row + (pos >> 3);
  const uint32_t off = pos & 7;
  uint32_t window = uint32_t(p[0]) << 8;
  if (off + bits > 8) window |= p[1];
  return (window >> (16 - off - bits)) & ((1u << bits) - 1);
}

inline void put_sample(uint8_t* row, uint64_t index, uint32_t bits, uint32_t v) {
  const uint64_t pos = index * bits;
  uint8_t* p = row + (pos >> 3);
  const uint32_t off = pos & 7;
  const uint32_t shift = 16 - off - bits;
  const uint32_t mask = ((1u << bits) - 1) << shift;
  const uint32_t val = (v << shift) & mask;
  p[0] = static_cast<uint8_t>((p[0] & ~(mask >> 8)) | (val >> 8));
  if (off + bits > 8) p[1] = static_cast<uint8_t>((p[1] & ~mask) | (val & 0xff));
}

template <size_t B>
void reverse_bytes(const RowShape&, const uint8_t* in, uint8_t* out, uint32_t n) {
  const uint8_t* s = in + size_t(n) * B;
  for (uint32_t i = 0; i < n; ++i) {
    s -= B;
    std::memcpy(out + size_t(i) * B, s, B);
  }
}

void reverse_any_bytes(const RowShape& sh, const uint8_t* in, uint8_t* out, uint32_t n) {
  const size_t b = sh.bits / 8 * sh.per;
  for (uint32_t i = 0; i < n; ++i) std::memcpy(out + i * b, in + (n - 1 - size_t(i)) * b, b);
}

void reverse_packed(const RowShape& sh, const uint8_t* in, uint8_t* out, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t s = uint64_t(n - 1 - i) * sh.per, d = uint64_t(i) * sh.per;
    for (uint32_t k = 0; k < sh.per; ++k)
      put_sample(out, d + k, sh.bits, get_sample(in, s + k, sh.bits));
  }
}

template <size_t B>
void scatter_bytes(const RowShape&, const uint8_t* in, int64_t first, int32_t step, uint8_t* band,
                   size_t stride, uint32_t column, uint32_t lines) {
  const uint8_t* s = in + first * int64_t(B);
  const ptrdiff_t ds = ptrdiff_t(step) * ptrdiff_t(B);
  uint8_t* d = band + size_t(column) * B;
  for (uint32_t k = 0; k < lines; ++k, s += ds, d += stride) std::memcpy(d, s, B);
}

void scatter_any_bytes(const RowShape& sh, const uint8_t* in, int64_t first, int32_t step,
                       uint8_t* band, size_t stride, uint32_t column, uint32_t lines) {
  const size_t b = sh.bits / 8 * sh.per;
  for (uint32_t k = 0; k < lines; ++k)
    std::memcpy(band + k * stride + column * b, in + (first + int64_t(step) * k) * int64_t(b), b);
}

void scatter_packed(const RowShape& sh, const uint8_t* in, int64_t first, int32_t step,
                    uint8_t* band, size_t stride, uint32_t column, uint32_t lines) {
  for (uint32_t k = 0; k < lines; ++k) {
    const uint64_t s = uint64_t(first + int64_t(step) * k) * sh.per;
    const uint64_t d = uint64_t(column) * sh.per;
    uint8_t* row = band + k * stride;
    for (uint32_t j = 0; j < sh.per; ++j)
      put_sample(row, d + j, sh.bits, get_sample(in, s + j, sh.bits));
  }
}

size_t unit_bytes(const RowShape& sh) {
  return sh.bits % 8 == 0 ? sh.bits / 8 * sh.per : 0;  // 0: packed
}

}  // namespace

ReverseFn pick_reverse(const RowShape& sh) {
  switch (unit_bytes(sh)) {
    case 0:
      return reverse_packed;
    case 1:
      return reverse_bytes<1>;
    case 2:
      return reverse_bytes<2>;
    case 3:
      return reverse_bytes<3>;
    case 4:
      return reverse_bytes<4>;
    case 6:
      return reverse_bytes<6>;
    case 8:
      return reverse_bytes<8>;
    default:
      return reverse_any_bytes;
  }
}

ScatterFn pick_scatter(const RowShape& sh) {
  switch (unit_bytes(sh)) {
    case 0:
      return scatter_packed;
    case 1:
      return scatter_bytes<1>;
    case 2:
      return scatter_bytes<2>;
    case 3:
      return scatter_bytes<3>;
    case 4:
      return scatter_bytes<4>;
    case 6:
      return scatter_bytes<6>;
    case 8:
      return scatter_bytes<8>;
    default:
      return scatter_any_bytes;
  }
}

const char* reverse_name(const RowShape& sh) {
  const size_t b = unit_bytes(sh);
  return b == 0 ? "packed" : (b <= 4 || b == 6 || b == 8) ? "bytes_fixed" : "bytes_any";
}

const char* scatter_name(const RowShape& sh) {
  return reverse_name(sh);
}

}  // namespace klv::img
