// SPDX-License-Identifier: MIT
// Palette output: the lookup cube, the gray table and the random dither of the
// quantiser, and the standard colour maps.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "img/filter_internal.h"
#include "klv/log.h"

namespace klv::img {

namespace {
constexpr uint32_t kDitherSeed = 0x2545F491u;
uint32_t next_random(uint32_t& state) {
  uint32_t x = state;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return state = x;
}
}  // namespace

bool Quantizer::build(const image_cmap* map, uint32_t cube_size, uint32_t dither,
                      uint32_t out_bits) {
  if (!map || map->channels < 3 || map->entries == 0 || map->entries > 256 || !map->channel[0] ||
      !map->channel[1] || !map->channel[2])
    return false;
  n = cube_size ? cube_size : 8;
  if (n < 2 || n > 64) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: palette cube of %u levels is out of range", n);
    return false;
  }
  amp = dither ? static_cast<int32_t>(dither) : 9;
  if (amp > 127) amp = 127;
  bits = out_bits;
  std::vector<int32_t> level(n);
  for (uint32_t k = 0; k < n; ++k) level[k] = static_cast<int32_t>(k * 255 / (n - 1));
  for (int v = 0; v < 256; ++v) {
    uint32_t best = 0;
    for (uint32_t k = 1; k < n; ++k)
      if (std::abs(level[k] - v) < std::abs(level[best] - v)) best = k;
    q[v] = static_cast<uint8_t>(best);
    qr[v] = static_cast<uint16_t>(best * n * n);
    qg[v] = static_cast<uint16_t>(best * n);
    qb[v] = static_cast<uint16_t>(best);
  }
  const uint8_t *R = map->channel[0], *G = map->channel[1], *B = map->channel[2];
  const uint32_t entries = map->entries;
  cube.assign(size_t(n) * n * n, Cell{});
  for (uint32_t r = 0; r < n; ++r)
    for (uint32_t g = 0; g < n; ++g)
      for (uint32_t b = 0; b < n; ++b) {
        uint32_t best = 0;
        int64_t bd = INT64_MAX;
        for (uint32_t e = 0; e < entries; ++e) {
          int64_t dr = level[r] - R[e], dg = level[g] - G[e], db = level[b] - B[e];
          int64_t d = dr * dr + dg * dg + db * db;
          if (d < bd) bd = d, best = e;
        }
        cube[(r * n + g) * n + b] = Cell{uint8_t(best), R[best], G[best], B[best]};
      }
  for (int v = 0; v < 256; ++v) {
    uint32_t best = 0;
    int64_t bd = INT64_MAX;
    for (uint32_t e = 0; e < entries; ++e) {
      int lo = std::min({R[e], G[e], B[e]}), hi = std::max({R[e], G[e], B[e]});
      int64_t d = std::abs(lo - v) + int64_t(hi - lo) * (hi - lo);
      if (d < bd) bd = d, best = e;
    }
    gray[v] = Cell{uint8_t(best), R[best], G[best], B[best]};
  }
  random = kDitherSeed;
  for (auto& o : offsets)
    o = static_cast<int8_t>(int(next_random(random) % uint32_t(2 * amp + 1)) - amp);
  for (int v = 0; v < 256; ++v)
    limit[v] = static_cast<int16_t>(v < amp ? v + 1 : (v > 255 - amp ? 256 - v : amp + 1));
  return true;
}

void Quantizer::line(const uint8_t* rgb, uint8_t* out, int32_t width) const {
  uint32_t pr = next_random(random) % 65536, pg = next_random(random) % 65536,
           pb = next_random(random) % 65536;
  int32_t er = 0, eg = 0, eb = 0;
  const uint32_t nn = n;
  if (bits < 8) std::memset(out, 0, (size_t(width) * bits + 7) / 8);
  for (int32_t x = 0; x < width; ++x, rgb += 3) {
    const int R = rgb[0], G = rgb[1], B = rgb[2];
    int r = std::clamp(R + er + offsets[pr++ & 2047] % limit[R], 0, 255);
    int g = std::clamp(G + eg + offsets[pg++ & 2047] % limit[G], 0, 255);
    int b = std::clamp(B + eb + offsets[pb++ & 2047] % limit[B], 0, 255);
    const Cell* cell;
    if (q[r] == q[g] && q[g] == q[b])
      cell = &gray[(r + g + b) / 3];
    else
      cell = &cube[qr[r] + qg[g] + qb[b]];
    (void)nn;
    if (bits == 8)
      out[x] = cell->index;
    else {
      uint64_t bit = uint64_t(x) * bits;
      out[bit >> 3] |=
          static_cast<uint8_t>((cell->index & ((1u << bits) - 1)) << (8 - bits - (bit & 7)));
    }
    er = r - cell->r;
    eg = g - cell->g;
    eb = b - cell->b;
  }
}

}  // namespace klv::img

namespace {

image_cmap* new_rgb_map(uint32_t entries) {
  auto* m = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  if (!m) return nullptr;
  m->channels = 3;
  m->entries = entries;
  m->photometric = 1;
  for (int c = 0; c < 3; ++c) {
    m->channel[c] = static_cast<uint8_t*>(std::calloc(entries, 1));
    if (!m->channel[c]) {
      free_cmap(m);
      return nullptr;
    }
  }
  return m;
}

void put(image_cmap* m, uint32_t i, int r, int g, int b) {
  m->channel[0][i] = uint8_t(r), m->channel[1][i] = uint8_t(g), m->channel[2][i] = uint8_t(b);
}

// The 6x6x6 cube (red outermost) without its six grays.
uint32_t put_cube(image_cmap* m, uint32_t i) {
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        if (!(r == g && g == b)) put(m, i++, r * 51, g * 51, b * 51);
  return i;
}

}  // namespace

extern "C" KLV_API image_cmap* filter_create_cmap(int32_t entries) {
  if (entries != 16 && entries != 236 && entries != 256) return nullptr;
  image_cmap* m = new_rgb_map(static_cast<uint32_t>(entries));
  if (!m) return nullptr;
  if (entries == 16) {
    static const uint8_t k16[16][3] = {
        {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
        {0, 128, 128}, {128, 128, 128}, {192, 192, 192}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (uint32_t i = 0; i < 16; ++i) put(m, i, k16[i][0], k16[i][1], k16[i][2]);
  } else if (entries == 236) {
    uint32_t i = put_cube(m, 0);
    for (int k = 0; k <= 25; ++k) {
      int v = static_cast<int>(k * 255.0 / 25 + 0.5);
      put(m, i++, v, v, v);
    }
  } else {
    uint32_t i = 0;
    for (int k = 0; k <= 45; ++k) {
      int v = static_cast<int>(k * 255.0 / 45 + 0.5);
      put(m, i++, v, v, v);
    }
    put_cube(m, i);
  }
  return m;
}
