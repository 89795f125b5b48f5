// SPDX-License-Identifier: MIT
// The resampling stream: a separable resampler over a pixel-interleaved 8- or
// 16-bit source. Each axis has precomputed weights: area averaging when the
// axis shrinks, a bicubic (Catmull-Rom) kernel when it grows. Source lines are
// resampled horizontally once and kept in a small ring for the vertical pass.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/filter.h"
#include "klv/log.h"

namespace {

struct Taps {
  std::vector<int32_t> first;  // first source index per output
  std::vector<int32_t> count;
  std::vector<float> w;  // count weights per output, packed
  std::vector<size_t> at;
  int32_t max_taps = 0;
};

Taps make_taps(int32_t n_in, int32_t n_out) {
  Taps t;
  const double scale = double(n_in) / n_out;
  for (int32_t o = 0; o < n_out; ++o) {
    std::vector<std::pair<int32_t, double>> ws;
    if (scale >= 1) {
      double a = o * scale, b = a + scale;
      for (int32_t i = int32_t(a); i < n_in && i < b; ++i) {
        double cover = std::min<double>(b, i + 1) - std::max<double>(a, i);
        if (cover > 0) ws.push_back({i, cover});
      }
    } else {
      double c = (o + 0.5) * scale - 0.5;
      int32_t i0 = int32_t(std::floor(c));
      for (int32_t i = i0 - 1; i <= i0 + 2; ++i) {
        double x = std::fabs(c - i), k;
        k = x < 1 ? (1.5 * x - 2.5) * x * x + 1 : (x < 2 ? ((-0.5 * x + 2.5) * x - 4) * x + 2 : 0);
        ws.push_back({std::clamp(i, 0, n_in - 1), k});
      }
    }
    double sum = 0;
    for (auto& p : ws) sum += p.second;
    int32_t lo = ws.front().first, hi = ws.front().first;
    for (auto& p : ws) lo = std::min(lo, p.first), hi = std::max(hi, p.first);
    t.first.push_back(lo);
    t.count.push_back(hi - lo + 1);
    t.at.push_back(t.w.size());
    std::vector<float> row(hi - lo + 1, 0.f);
    for (auto& p : ws) row[p.first - lo] += float(p.second / sum);
    t.w.insert(t.w.end(), row.begin(), row.end());
    t.max_taps = std::max(t.max_taps, hi - lo + 1);
  }
  return t;
}

class CScaleImg : public CIMG_file {
 public:
  ~CScaleImg() override { img_close(m_src); }
  bool Init(IMG_file* src, int32_t w, int32_t h, int32_t stretch) {
    m_src = src;
    const image_info& si = src->info;
    if (si.planar != KLV_PLANAR_PIXEL || (si.bits_per_sample != 8 && si.bits_per_sample != 16) ||
        si.photometric == KLV_PHOTO_PALETTE || si.width < 1 || si.height < 1) {
      KLV_LOG(KLV_LOG_ERROR, "resampler: needs an 8- or 16-bit pixel-interleaved source");
      return false;
    }
    if (w <= 0 && h <= 0) w = si.width, h = si.height;
    if (w <= 0) w = std::max(1, int32_t(double(h) * si.width / si.height + 0.5));
    if (h <= 0) h = std::max(1, int32_t(double(w) * si.height / si.width + 0.5));
    if (!stretch) {
      double s = std::min(double(w) / si.width, double(h) / si.height);
      w = std::max(1, int32_t(si.width * s + 0.5));
      h = std::max(1, int32_t(si.height * s + 0.5));
    }
    if (w > (1 << 24) || h > (1 << 28)) return false;
    m_info = si;
    m_info.cmap = nullptr;
    m_info.width = w;
    m_info.height = h;
    m_info.bytes_per_line = image_info_line_bytes(&m_info);
    if (si.xres > 0) m_info.xres = si.xres * w / si.width;
    if (si.yres > 0) m_info.yres = si.yres * h / si.height;
    m_spp = si.samples + si.mask_samples;
    m_hx = make_taps(si.width, w);
    m_vy = make_taps(si.height, h);
    m_raw.resize(si.bytes_per_line + 8);
    m_line = 0;
    return true;
  }
  int32_t ReadLine(unsigned char* buffer, int32_t count) override {
    int32_t done = 0;
    const size_t row = size_t(m_info.width) * m_spp;
    std::vector<float> acc(row);
    for (; done < count && m_line < m_info.height; ++done, ++m_line) {
      std::fill(acc.begin(), acc.end(), 0.f);
      const int32_t lo = m_vy.first[m_line], n = m_vy.count[m_line];
      const float* w = &m_vy.w[m_vy.at[m_line]];
      for (int32_t k = 0; k < n; ++k) {
        const std::vector<float>* l = Source(lo + k);
        if (!l) return done;
        for (size_t i = 0; i < row; ++i) acc[i] += w[k] * (*l)[i];
      }
      const float top = m_info.bits_per_sample == 16 ? 65535.f : 255.f;
      uint8_t* out = buffer + size_t(m_info.bytes_per_line) * done;
      for (size_t i = 0; i < row; ++i) {
        float v = std::clamp(acc[i] + 0.5f, 0.f, top);
        if (m_info.bits_per_sample == 16)
          reinterpret_cast<uint16_t*>(out)[i] = uint16_t(v);
        else
          out[i] = uint8_t(v);
      }
      // Lines no later output needs leave the ring.
      if (m_line + 1 < m_info.height) {
        int32_t keep = m_vy.first[m_line + 1];
        for (auto it = m_ring.begin(); it != m_ring.end();)
          it = it->first < keep ? m_ring.erase(it) : std::next(it);
      }
    }
    return done;
  }
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    int32_t r = SetSeekLine(line, plane, page, whence);
    if (r < 0 || m_plane != 0) return -1;
    m_ring.clear();
    m_next = -1;
    return r;
  }
  int32_t GetStatus(int32_t what) override { return img_status(m_src, what); }

 private:
  // Source line y resampled horizontally, from the ring or read now.
  const std::vector<float>* Source(int32_t y) {
    auto it = m_ring.find(y);
    if (it != m_ring.end()) return &it->second;
    if (m_next != y && img_seek_line(m_src, y, 0, 0, 0) < 0) return nullptr;
    if (img_read_line(m_src, m_raw.data(), 1) != 1) return nullptr;
    m_next = y + 1;
    std::vector<float>& out = m_ring[y];
    out.assign(size_t(m_info.width) * m_spp, 0.f);
    const bool b16 = m_info.bits_per_sample == 16;
    for (int32_t x = 0; x < m_info.width; ++x) {
      const int32_t lo = m_hx.first[x], n = m_hx.count[x];
      const float* w = &m_hx.w[m_hx.at[x]];
      for (int32_t k = 0; k < n; ++k)
        for (uint32_t s = 0; s < m_spp; ++s) {
          size_t i = size_t(lo + k) * m_spp + s;
          float v = b16 ? reinterpret_cast<const uint16_t*>(m_raw.data())[i] : m_raw[i];
          out[size_t(x) * m_spp + s] += w[k] * v;
        }
    }
    return &out;
  }
  IMG_file* m_src = nullptr;
  uint32_t m_spp = 1;
  Taps m_hx, m_vy;
  std::vector<uint8_t> m_raw;
  std::map<int32_t, std::vector<float>> m_ring;
  int32_t m_next = 0;
};

}  // namespace

extern "C" KLV_API IMG_file* scaleimg_create(IMG_file* source, int32_t width, int32_t height,
                                             int32_t stretch) {
  if (!source) return nullptr;
  try {
    auto s = std::make_unique<CScaleImg>();
    if (!s->Init(source, width, height, stretch)) return nullptr;  // closes the source
    char mode = source->mode;
    int32_t type = source->type;
    return s.release()->ToImg(mode, type);
  } catch (...) {
    return nullptr;
  }
}
