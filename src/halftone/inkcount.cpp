// SPDX-License-Identifier: MIT
// CInkCountHT: ink counting through the printer driver's counting commands.
#include "klv/inkcount_cxx.h"

#include <cstdio>
#include <cstring>

#include "klv/imgmux.h"
#include "klv/log.h"

ICountCallback::~ICountCallback() = default;

namespace {

// Copies `bits` bits starting at bit `from` of `in` to the start of `out`
// (out_bytes bytes), clearing the bits after them in the last byte.
void copy_bits(const uint8_t* in, size_t in_bytes, size_t from, size_t bits, uint8_t* out,
               size_t out_bytes) {
  const size_t byte = from / 8;
  const unsigned shift = static_cast<unsigned>(from % 8);
  if (shift == 0) {
    std::memcpy(out, in + byte, out_bytes);
  } else {
    for (size_t i = 0; i < out_bytes; ++i) {
      const uint8_t hi = static_cast<uint8_t>(in[byte + i] << shift);
      const uint8_t lo = byte + i + 1 < in_bytes ? in[byte + i + 1] >> (8 - shift) : 0;
      out[i] = hi | lo;
    }
  }
  if (const unsigned used = static_cast<unsigned>(bits % 8))
    out[out_bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - used));
}

double clamp_start(double v) {
  return v < 0 ? 0 : v;
}
double clamp_end(double v) {
  return v > 1 ? 1 : v;
}

}  // namespace

CInkCountHT::CInkCountHT(SP_OBJECT* printer, SP_INFO* info, void* job)
    : printer_(printer), info_(info), job_(job) {}

CInkCountHT::~CInkCountHT() {
  Finish();
}

bool CInkCountHT::Open(const image_info& input, const char* text, const char* job_text,
                       uint32_t flags, double x_start, double x_end, double y_start, double y_end) {
  Finish();
  if (!printer_ || !info_) return false;
  const uint32_t bits = input.bits_per_sample;
  if ((input.planar != KLV_PLANAR_LINES && input.samples != 1) || input.samples == 0 ||
      input.samples > SP_MAX_CHANNELS || (bits != 1 && bits != 2 && bits != 4 && bits != 8) ||
      input.width <= 0 || input.height <= 0) {
    KLV_LOG(KLV_LOG_ERROR, "ink count: the image is not line-interleaved halftoned data");
    return false;
  }
  x_start = clamp_start(x_start);
  y_start = clamp_start(y_start);
  x_end = clamp_end(x_end);
  y_end = clamp_end(y_end);
  crop_ = !(x_start < 0.00001 && y_start < 0.00001 && x_end > 0.99 && y_end > 0.99);
  input_ = input;
  flags_ = flags;
  const auto width = static_cast<uint32_t>(input.width);
  uint32_t count_width = width;
  first_pixel_ = 0;
  first_line_ = 0;
  lines_ = input.height;
  if (crop_) {
    const auto last = static_cast<uint32_t>(x_end * (width - 1));
    first_pixel_ = static_cast<uint32_t>(x_start * (width - 1));
    if (last < first_pixel_) return false;
    count_width = last - first_pixel_ + 1;
    first_line_ = static_cast<int32_t>(y_start * (input.height - 1));
    lines_ = static_cast<int32_t>(y_end * (input.height - 1)) - first_line_;
    if (lines_ < 0) lines_ = 0;
  }
  row_bytes_ = (bits * count_width + 7) / 8;
  bytes_per_line_ = input.samples * row_bytes_;
  packed_.assign(bytes_per_line_, 0);

  counter_ = SP_INK_COUNTER{};
  counter_.size = sizeof counter_;
  counter_.width = count_width;
  counter_.height = static_cast<uint32_t>(lines_);
  counter_.bits = bits;
  counter_.samples = input.samples;
  counter_.spot_samples = input.spot_samples;
  counter_.xres = input.xres;
  counter_.yres = input.yres;
  counter_.flags = flags;
  counter_.job = job_;
  if (job_text) std::snprintf(counter_.text, sizeof counter_.text, "%s", job_text);
  // The driver's info text when it has one, else the caller's text.
  SP_get_info_str(printer_, counter_.info, sizeof counter_.info, 0);
  if (!counter_.info[0] && text) std::snprintf(counter_.info, sizeof counter_.info, "%s", text);
  counter_.drop_levels = (1u << bits) - 1;
  drops_.assign(static_cast<size_t>(input.samples) * counter_.drop_levels, 0);
  counter_.drops = drops_.data();
  if (SP_command(printer_, SP_CMD_INK_START, &counter_, nullptr) != 0) {
    KLV_LOG(KLV_LOG_ERROR, "ink count: the driver refused to start counting");
    Finish();
    return false;
  }
  open_ = true;
  m_line = 0;
  return true;
}

bool CInkCountHT::SendLine(const uint8_t* line) {
  const uint8_t* send = line;
  if (crop_) {
    const size_t in_row = (static_cast<size_t>(input_.bits_per_sample) * input_.width + 7) / 8;
    const size_t from = static_cast<size_t>(first_pixel_) * input_.bits_per_sample;
    const size_t bits = static_cast<size_t>(counter_.width) * input_.bits_per_sample;
    for (uint32_t s = 0; s < input_.samples; ++s)
      copy_bits(line + s * in_row, in_row, from, bits, packed_.data() + s * row_bytes_, row_bytes_);
    send = packed_.data();
  }
  return SP_command(printer_, SP_CMD_INK_LINE, &counter_, const_cast<uint8_t*>(send)) == 0;
}

bool CInkCountHT::CountImage(IMG_file* image, const char* text, const char* job_text,
                             uint32_t flags, ICountCallback* progress, double x_start, double x_end,
                             double y_start, double y_end) {
  if (!image || !printer_) {
    Finish();
    return false;
  }
  bool ok = Open(image->info, text, job_text, flags, x_start, x_end, y_start, y_end);
  if (ok && first_line_ > 0) ok = img_seek_line(image, first_line_, 0, 0, 0) >= 0;
  const size_t line_bytes =
      input_.samples * ((static_cast<size_t>(input_.bits_per_sample) * input_.width + 7) / 8);
  std::vector<uint8_t> line(ok ? line_bytes : 0);
  int32_t reported = -1;
  for (int32_t k = 1; ok && k <= lines_; ++k) {
    ok = img_read_line(image, line.data(), 1) == 1 && SendLine(line.data());
    const int32_t percent = static_cast<int32_t>(100LL * k / lines_);
    if (ok && progress && percent != reported) {
      reported = percent;
      progress->Progress(k, input_.height);
    }
  }
  if (!ok) KLV_LOG(KLV_LOG_ERROR, "ink count: a line could not be read or counted");
  Finish();
  return ok;
}

bool CInkCountHT::CountImage(SOVolume* volume, const char* file, const char* text,
                             const char* job_text, uint32_t flags, ICountCallback* progress) {
  if (!file) return false;
  IMG_file* image = img_mux_open(file, volume, "r", nullptr, 5);
  if (!image) {
    Finish();
    return false;
  }
  const bool ok = CountImage(image, text, job_text, flags, progress, 0, 1, 0, 1);
  img_close(image);
  return ok;
}

bool CInkCountHT::GetInkCount(_SP_DOT_COUNT* out) {
  if (!printer_ || !out) return false;
  return SP_command(printer_, SP_CMD_DOTS_GET, out, &counter_) == 0;
}

void CInkCountHT::Finish() {
  if (!open_) return;
  open_ = false;
  if (printer_) SP_command(printer_, SP_CMD_INK_FINISH, &counter_, nullptr);
}

int32_t CInkCountHT::Close() {
  Finish();
  return 0;
}

int32_t CInkCountHT::WriteLine(unsigned char* lines, int32_t count) {
  if (!printer_ || !open_ || !lines || count < 0) return 0;
  const size_t line_bytes =
      input_.samples * ((static_cast<size_t>(input_.bits_per_sample) * input_.width + 7) / 8);
  int32_t taken = 0;
  for (; taken < count; ++taken, ++m_line, lines += line_bytes) {
    const bool inside = m_line >= first_line_ && m_line < first_line_ + lines_;
    if (inside && !SendLine(lines)) break;
  }
  return taken;
}

IMG_file* CInkCountHT::ToImg(char mode, int type) {
  m_info = input_;
  m_info.bytes_per_line =
      input_.samples * ((input_.bits_per_sample * static_cast<uint32_t>(input_.width) + 7) / 8);
  return CIMG_file::ToImg(mode, type);
}
