// SPDX-License-Identifier: MIT
// Line filter geometry: the output size, the full size and crop window, and the
// replication tables that map input pixels and lines onto output ones.
#include <algorithm>
#include <cmath>

#include "img/filter_internal.h"
#include "klv/log.h"

namespace klv::img {

std::vector<uint16_t> count_table(uint32_t n_in, uint32_t n_out) {
  std::vector<uint16_t> t(n_in, 0);
  if (n_in >= n_out) {
    uint64_t acc = n_in;
    for (uint32_t i = 0; i < n_in; ++i) {
      if (acc >= n_in) {
        t[i] = 1;
        acc -= n_in;
      }
      acc += n_out;
    }
  } else {
    uint64_t acc = 0;
    for (uint32_t i = 0; i < n_in; ++i) {
      uint32_t c = 0;
      while (acc < n_out) {
        acc += n_in;
        ++c;
      }
      t[i] = static_cast<uint16_t>(std::min<uint32_t>(c, 65535));
      acc -= n_out;
    }
  }
  return t;
}

bool build_axis(uint32_t n_in, uint32_t n_full, int64_t lo, uint32_t n_out, AxisMap* map) {
  map->counts.clear();
  map->first = -1;
  if (n_in == 0 || n_full == 0 || n_out == 0) return false;
  if (n_full / n_in >= 65535) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: enlarging %u to %u is beyond the replication limit", n_in,
            n_full);
    return false;
  }
  std::vector<uint16_t> all = count_table(n_in, n_full);
  const int64_t hi = lo + n_out;  // exclusive
  int64_t pos = 0, got = 0;
  for (uint32_t i = 0; i < n_in && pos < hi; ++i) {
    int64_t c = all[i];
    int64_t a = std::max(pos, lo), b = std::min(pos + c, hi);
    if (b > a) {
      if (map->first < 0) map->first = static_cast<int32_t>(i);
      map->counts.resize(i - map->first + 1, 0);
      map->counts[i - map->first] = static_cast<uint16_t>(b - a);
      got += b - a;
    } else if (map->first >= 0) {
      map->counts.push_back(0);
    }
    pos += c;
  }
  while (!map->counts.empty() && map->counts.back() == 0) map->counts.pop_back();
  if (map->first < 0 || map->counts.empty()) return false;
  // A window that runs past the scaled image repeats its last input.
  if (got < n_out) {
    int64_t last = map->counts.back() + (n_out - got);
    if (last > 65535) return false;
    map->counts.back() = static_cast<uint16_t>(last);
  }
  map->scaled = map->enlarge = false;
  for (uint16_t c : map->counts) {
    if (c != 1) map->scaled = true;
    if (c > 1) map->enlarge = true;
  }
  map->keep.clear();
  map->max_group = 1;
  if (!map->enlarge) {
    map->keep.reserve(n_out);
    uint32_t group = 0;
    for (uint32_t i = 0; i < map->counts.size(); ++i) {
      ++group;
      if (map->counts[i]) {
        map->keep.push_back(i);
        map->max_group = std::max(map->max_group, group);
        group = 0;
      }
    }
  }
  return true;
}

bool plan_size(uint32_t iw, uint32_t ih, crop_info* crop, int32_t ow, int32_t oh, bool reading,
               bool stretch, SizePlan* p) {
  double cw = dcrop_width(crop, iw, ih), ch = dcrop_height(crop, iw, ih);
  crop_rect in_rect{};
  fill_image_crop(&in_rect, crop, iw, ih);
  if (!(cw > 0) || !(ch > 0) || in_rect.width < 1 || in_rect.height < 1) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: the crop leaves no input pixels");
    return false;
  }
  // The crop in whole pixels: the pixel centres it spans.
  p->crop_w = in_rect.width;
  p->crop_h = in_rect.height;
  bool as_requested = false;
  if (ow <= 0 && oh <= 0) {
    p->out_w = p->crop_w;
    p->out_h = p->crop_h;
  } else if (ow <= 0) {
    p->out_w = static_cast<int32_t>(0.5 + oh * cw / ch);
    p->out_h = oh;
  } else if (oh <= 0) {
    p->out_h = static_cast<int32_t>(ow * ch / cw + 0.5);
    p->out_w = ow;
  } else if (reading && !stretch) {
    int32_t w = ow, h = oh;
    bool done = false;
    if (ch > cw) {
      w = std::max(1, static_cast<int32_t>(oh * cw / ch + 0.5));
      if (w <= ow) {
        h = oh;
        done = true;
      }
    }
    if (!done) {
      w = ow;
      h = std::max(1, static_cast<int32_t>(ow * ch / cw + 0.5));
      while (h > oh && w > 1) {
        --w;
        h = std::max(1, static_cast<int32_t>(w * ch / cw + 0.5));
      }
    }
    p->out_w = w;
    p->out_h = h;
  } else {
    p->out_w = ow;
    p->out_h = oh;
    as_requested = true;
  }
  if (p->out_w < 1 || p->out_h < 1 || p->out_w > (1 << 24) || p->out_h > (1 << 28)) {
    KLV_LOG(KLV_LOG_ERROR, "line filter: output size %dx%d is out of range", p->out_w, p->out_h);
    return false;
  }
  const uint32_t W = p->out_w, H = p->out_h;
  if (ow <= 0 && oh <= 0) {
    p->full_w = iw;
    p->full_h = ih;
  } else {
    p->full_w = static_cast<int32_t>(W / (dcrop_width(crop, W, H) / W) + 0.5);
    p->full_h = static_cast<int32_t>(H / (dcrop_height(crop, W, H) / H) + 0.5);
    if (as_requested && p->out_w == p->crop_w) p->full_w = iw;
    if (as_requested && p->out_h == p->crop_h) p->full_h = ih;
  }
  p->full_w = std::max(p->full_w, p->out_w);
  p->full_h = std::max(p->full_h, p->out_h);
  fill_image_crop(&p->window, crop, p->full_w, p->full_h);
  // Trim (or stretch) the window to the output size inside the full size.
  p->window.x1 = std::clamp(p->window.x1, 0, p->full_w - p->out_w);
  p->window.y1 = std::clamp(p->window.y1, 0, p->full_h - p->out_h);
  p->window.x2 = p->window.x1 + p->out_w - 1;
  p->window.y2 = p->window.y1 + p->out_h - 1;
  p->window.width = p->out_w;
  p->window.height = p->out_h;
  return true;
}

}  // namespace klv::img
