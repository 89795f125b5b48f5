// SPDX-License-Identifier: MIT
#include "file_output.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>

namespace klvdrv {

void DotCounter::SetShape(uint32_t bits, uint32_t width) {
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) bits = 1;
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

uint64_t DotCounter::Count(const uint8_t* plane) const {
  if (bytes_ == 0) return 0;
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
  return true;
}

void Preview::SumCombinations() {
  if (hist_row_ < 0) return;
  float* sum = &sum_[static_cast<size_t>(hist_row_) * width_ * 3];
  uint32_t* count = &count_[static_cast<size_t>(hist_row_) * width_];
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

void Preview::AddLineByCombination(uint32_t row, const uint8_t* line) {
  const int64_t y = row / factor_;
  if (y != hist_row_) {
    SumCombinations();
    hist_row_ = y;
  }
  const size_t plane = shape_.PlaneBytes();
  const uint32_t per_byte = 8 / shape_.bits;
  uint8_t* combo = combo_.data();
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
  for (uint32_t px = 0, x = 0; px < width_; ++px) {
    uint32_t* h = &hist_[static_cast<size_t>(px) * combos_];
    const uint32_t end = std::min(shape_.width, x + factor_);
    for (; x < end; ++x) ++h[combo[x]];
  }
}

void Preview::AddLine(uint32_t row, const uint8_t* line) {
  if (row >= shape_.height || width_ == 0) return;
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

bool Preview::WritePng(const std::string& path) {
  if (width_ == 0 || height_ == 0) return false;
  Flush();
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(width_) * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, width_, height_, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height_; ++y) {
    for (uint32_t x = 0; x < width_; ++x) {
      const size_t i = static_cast<size_t>(y) * width_ + x;
      const float n = count_[i] ? static_cast<float>(count_[i]) : 1.f;
      for (int k = 0; k < 3; ++k) {
        const float v = count_[i] ? sum_[i * 3 + k] / n : 1.f;
        row[x * 3 + k] = static_cast<uint8_t>(std::lround(v * 255.f));
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fflush(file.get()) == 0;
}

// ---------------------------------------------------------------------------

bool TiffPages::Open(const std::string& path) {
  Close();
  tif_ = TIFFOpen(path.c_str(), "w");
  return tif_ != nullptr;
}

bool TiffPages::StartPage(const PrintShape& shape, const std::vector<Separation>& separations,
                          const std::string& page_name, uint16_t page) {
  if (!tif_) return false;
  shape_ = shape;
  rows_written_ = 0;
  zero_.assign(shape.PlaneBytes(), 0);
  TIFFSetField(tif_, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, shape.width);
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, shape.height);
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(shape.bits));
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(shape.channels));
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE);
  TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, kStripRows);
  band_.assign(shape.PlaneBytes() * shape.channels * kStripRows, 0);
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

bool TiffPages::WriteLine(uint32_t row, const uint8_t* line) {
  if (!tif_ || row >= shape_.height || row != rows_written_) return false;
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
  return TIFFWriteDirectory(tif_) && ok;
}

void TiffPages::Close() {
  if (tif_) TIFFClose(tif_);
  tif_ = nullptr;
}

}  // namespace klvdrv
