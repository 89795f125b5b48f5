// SPDX-License-Identifier: MIT
// One page file of a processed job (or any image) printed as one frame: the
// file's lines are copied into the frame's chain a band at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "klv/imgmux.h"
#include "klv/log.h"
#include "klv/printobj_cxx.h"

namespace klv {
namespace {

constexpr size_t kBandBytes = 1 << 20;

struct ImgCloser {
  void operator()(IMG_file* img) const { img_close(img); }
};

// Whether the file is a volume (an output image) by its first bytes.
bool is_volume(const char* file) {
  static const char kHeader[16] = "SQLite format 3";
  char head[16] = {};
  FILE* f = std::fopen(file, "rb");
  if (!f) return false;
  const bool volume = std::fread(head, 1, sizeof head, f) == sizeof head &&
                      std::memcmp(head, kHeader, sizeof head) == 0;
  std::fclose(f);
  return volume;
}

}  // namespace

int32_t print_page_file(CPrintObj& printer, const char* file, const CPrintFrameInfo& frame,
                        PrintPageProgress progress, void* context) {
  if (!file) return printer.SetStatus(2);
  image_info info;
  init_image_info(&info);
  // Print files are the library's output images; any other image the
  // streams recognise prints too.
  const bool print_file = is_volume(file);
  std::unique_ptr<IMG_file, ImgCloser> in(
      img_mux_open(file, nullptr, "r", &info, print_file ? KLV_TYPE_OUTIMG : 0));
  if (!in) {
    KLV_LOG(KLV_LOG_ERROR, "Print file \"%s\" cannot be read", file);
    return printer.SetStatus(2);
  }
  CPrintFrameInfo with_profile = frame;
  // A job's print file holds the inks as the job driver made them.
  if (print_file) with_profile.inks_final = true;
  if (image_profile* p = frame.profile.empty() ? img_get_profile(in.get()) : nullptr) {
    with_profile.profile.assign(p->data, p->data + p->size);
    checkin_image_profile(p);
  }
  IMG_file* out = nullptr;
  if (const int32_t r = printer.BeginFrame(with_profile, &info, &out)) return r;
  const int32_t band =
      int32_t(std::max<size_t>(1, kBandBytes / std::max<uint32_t>(1, info.bytes_per_line)));
  std::vector<uint8_t> lines(size_t(info.bytes_per_line) * size_t(band));
  int32_t status = 0;
  for (int32_t done = 0; done < info.height;) {
    const int32_t n = std::min(band, info.height - done);
    if (img_read_line(in.get(), lines.data(), n) != n) {
      KLV_LOG(KLV_LOG_ERROR, "Print file \"%s\" cannot be read at line %d", file, done);
      status = 2;
      break;
    }
    if (img_write_line(out, lines.data(), n) != n) {
      status = printer.GetLastStatus() ? printer.GetLastStatus() : 100;
      break;
    }
    done += n;
    if (progress) progress(context, done, info.height);
  }
  const int32_t ended = printer.EndFrame(out);
  return printer.SetStatus(status ? status : ended);
}

}  // namespace klv
