// SPDX-License-Identifier: MIT
// Writers on a full disk: every file writer, and every stream stacked over
// one, reports the lost data in its close status; the same writers on room
// enough report success. The close status of streams over a failing sink.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/outimg.h"
#include "klv/streams.h"
#include "klv/threadfilter.h"
#include "support/full_disk.h"
#include "support/image.h"

using klv::test::describe;
using klv::test::FullDisk;
using klv::test::FullFolder;
using klv::test::MemImage;
using klv::test::pattern_bytes;
using klv::test::Sink;
using klv::test::SinkLog;

namespace {

constexpr size_t kRoom = 1024 * 1024;

// Opens a writer of one kind at `path`, possibly stacked under another stream.
struct Writer {
  const char* what;
  const char* file;
  int samples;  // of 8 bits: gray, or RGB where the format has no 8-bit gray
  IMG_file* (*open)(const std::string& path, image_info* info);
};

IMG_file* open_tiff(const std::string& path, image_info* info) {
  return img_mux_open(path.c_str(), nullptr, "w", info, KLV_TYPE_TIFF);
}
IMG_file* open_bmp(const std::string& path, image_info* info) {
  return img_mux_open(path.c_str(), nullptr, "w", info, KLV_TYPE_BMP);
}
IMG_file* open_outimg(const std::string& path, image_info* info) {
  return outimg_open_img(path.c_str(), nullptr, "w", info);
}
IMG_file* open_outimg_lzw(const std::string& path, image_info* info) {
  info->compression = 12;
  return outimg_open_img(path.c_str(), nullptr, "w", info);
}
IMG_file* open_staged_tiff(const std::string& path, image_info* info) {
  IMG_file* tiff = open_tiff(path, info);
  return tiff ? threadfilter_attach(tiff, info->bytes_per_line * 16) : nullptr;
}
IMG_file* open_filtered_tiff(const std::string& path, image_info* info) {
  IMG_file* tiff = open_tiff(path, info);
  image_info target = *info;
  return tiff ? filter_img_attach(tiff, &target, nullptr) : nullptr;
}
IMG_file* open_mult_tiff(const std::string& path, image_info* info) {
  image_info null_info = *info;
  IMG_file* streams[3] = {null_open_img("", nullptr, "w", &null_info), open_tiff(path, info),
                          nullptr};
  IMG_file* mult = streams[0] && streams[1] ? mult_img_connect(streams) : nullptr;
  if (!mult) {
    img_close(streams[0]);
    img_close(streams[1]);
  }
  return mult;
}

const Writer kWriters[] = {
    {"TIFF", "a.tif", 1, open_tiff},
    {"BMP", "a.bmp", 3, open_bmp},
    {"output image", "a.oi", 1, open_outimg},
    {"compressed output image", "a.oi", 1, open_outimg_lzw},
    {"TIFF behind the write stage", "a.tif", 1, open_staged_tiff},
    {"TIFF under the line filter", "a.tif", 1, open_filtered_tiff},
    {"TIFF in a multiplexed stream", "a.tif", 1, open_mult_tiff},
};

// Writes a gray image of `side` x `side` pixels of noise (so that compression
// cannot make it small) and closes it. Exit code: 0 when every line was taken
// and the close kept them, 1 when the close reported lost data, 2 when the
// writer could not be opened, 3 when lines were refused and yet the close
// said all was kept.
int write_image(const Writer& w, const std::string& path, int side) {
  image_info info = describe(side, side, w.samples, 8, KLV_PHOTO_MINBLACK);
  IMG_file* img = w.open(path, &info);
  if (!img) return 2;
  const size_t bpl = info.bytes_per_line;
  std::vector<uint8_t> noise = pattern_bytes(bpl * side, 7);
  bool refused = false;
  for (int y = 0; y < side; ++y)
    if (img_write_line(img, noise.data() + bpl * y, 1) != 1) refused = true;
  const int32_t status = img_close_status(img);
  if (status != 0) return 1;
  return refused ? 3 : 0;
}

TEST(FullDisk, EveryWriterReportsLostDataWhenItClosesAndNotOtherwise) {
  for (FullDisk kind : klv::test::full_disk_kinds()) {
    for (const Writer& w : kWriters) {
      SCOPED_TRACE(std::string(w.what) + " on a disk full by " + klv::test::full_disk_name(kind));
      // 2000 x 2000 pixels of noise do not fit in 1 MiB (with room for a volume of 64 KiB pages);
      // 100 x 100 do.
      FullFolder full(kind, kRoom), roomy(kind, kRoom);
      ASSERT_TRUE(full.Ready() && roomy.Ready());
      EXPECT_EQ(full.RunChild([&] { return write_image(w, full.File(w.file), 2000); }), 1);
      EXPECT_EQ(roomy.RunChild([&] { return write_image(w, roomy.File(w.file), 100); }), 0);
    }
  }
}

TEST(CloseStatus, StreamsPassOnTheFailureOfTheirSinkAndSuccessOtherwise) {
  const image_info info = describe(16, 40, 1, 8, KLV_PHOTO_MINBLACK);
  const std::vector<uint8_t> lines = pattern_bytes(size_t(info.bytes_per_line) * 40, 3);
  auto sink = [&](int fail_after) {
    return (new Sink(info, std::make_shared<SinkLog>(), fail_after))->ToImg('w', 0);
  };
  struct Case {
    const char* what;
    IMG_file* (*stack)(IMG_file* below, const image_info& info);
  };
  const Case cases[] = {
      {"the sink alone", [](IMG_file* s, const image_info&) { return s; }},
      {"the write stage",
       [](IMG_file* s, const image_info& i) {
         return threadfilter_attach(s, i.bytes_per_line * 4);
       }},
      {"the line filter",
       [](IMG_file* s, const image_info& i) {
         image_info target = i;
         return filter_img_attach(s, &target, nullptr);
       }},
      {"a multiplexed stream",
       [](IMG_file* s, const image_info&) {
         IMG_file* streams[2] = {s, nullptr};
         return mult_img_connect(streams);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A sink that takes everything: the stack keeps it all.
    IMG_file* good = c.stack(sink(-1), info);
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(img_write_line(good, const_cast<uint8_t*>(lines.data()), 40), 40);
    EXPECT_EQ(img_close_status(good), 0);
  }
  // A sink that refuses lines after 10 closes without complaint itself; the
  // write stage that saw its write fail reports the loss.
  IMG_file* staged = threadfilter_attach(sink(10), info.bytes_per_line * 4);
  ASSERT_NE(staged, nullptr);
  for (int y = 0; y < 40; ++y) img_write_line(staged, const_cast<uint8_t*>(lines.data()), 1);
  EXPECT_EQ(img_close_status(staged), -1);
}

// An object whose operations throw: the handle answers neutrally and says
// the close lost data.
class Throwing : public CIMG_file {
 public:
  int32_t WriteLine(unsigned char*, int32_t) override { throw std::runtime_error("write"); }
  int32_t SeekLine(int32_t, int32_t, int32_t, int32_t) override { throw 1; }
  int32_t GetStatus(int32_t) override { throw std::runtime_error("status"); }
  image_cmap* GetCmap() override { throw std::runtime_error("map"); }
  int32_t Close() override { throw std::runtime_error("close"); }
};

TEST(CloseStatus, ObjectsThatThrowAreCaughtAtTheHandle) {
  IMG_file* img = (new Throwing)->ToImg('w', 0);
  ASSERT_NE(img, nullptr);
  uint8_t line[4] = {};
  EXPECT_EQ(img_write_line(img, line, 1), 0);
  EXPECT_EQ(img_seek_line(img, 0, 0, 0, 0), -1);
  EXPECT_EQ(img_status(img, 0), -1);
  EXPECT_EQ(img_get_cmap(img), nullptr);
  EXPECT_EQ(img_close_status(img), -1);
}

TEST(CloseStatus, NullAndReadStreamsCloseClean) {
  EXPECT_EQ(img_close_status(nullptr), 0);
  EXPECT_EQ(img_close_status(new_invalid_img()), 0);
  image_info info = describe(8, 8, 1, 8, KLV_PHOTO_MINBLACK);
  EXPECT_EQ(img_close_status(null_open_img("", nullptr, "w", &info)), 0);
}

}  // namespace
