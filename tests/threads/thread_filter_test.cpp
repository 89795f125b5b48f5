// SPDX-License-Identifier: MIT
// The threaded write stage under stress: slow and failing outputs, early
// closing, limits; every run checks that no line is lost or written twice,
// that the output is closed exactly once and that the worker has ended.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/outimg.h"
#include "klv/platform.h"
#include "klv/threadfilter.h"
#include "klv/threadfilter_cxx.h"

namespace {

struct OutputLog {
  std::mutex mutex;
  std::vector<uint8_t> bytes;
  std::atomic<int> closes{0};
  std::atomic<int> writes{0};
};

// An output that records lines, optionally sleeping per call and failing once
// `fail_after` lines were taken. Its description is written with mode 'w'.
class TestOutput : public CIMG_file {
 public:
  TestOutput(const image_info& info, std::shared_ptr<OutputLog> log, int64_t sleep_us = 0,
             int fail_after = -1)
      : log_(std::move(log)), sleep_us_(sleep_us), fail_after_(fail_after) {
    m_info = info;
  }
  ~TestOutput() override { ++log_->closes; }
  int32_t WriteLine(unsigned char* buffer, int32_t count) override {
    ++log_->writes;
    if (sleep_us_) klv::platform::Sleep(sleep_us_ / 1000 ? sleep_us_ / 1000 : 1);
    if (fail_after_ >= 0 && taken_ + count > fail_after_) return 0;
    std::lock_guard<std::mutex> g(log_->mutex);
    log_->bytes.insert(log_->bytes.end(), buffer, buffer + size_t(count) * m_info.bytes_per_line);
    taken_ += count;
    return count;
  }
  int32_t GetStatus(int32_t what) override { return what == 5 ? 55 : 1; }

 private:
  std::shared_ptr<OutputLog> log_;
  int64_t sleep_us_;
  int fail_after_;
  int taken_ = 0;
};

image_info describe(int w, int h, int planar = KLV_PLANAR_PIXEL) {
  image_info i;
  init_image_info(&i);
  i.width = w;
  i.height = h;
  i.samples = 4;
  i.bits_per_sample = 1;
  i.photometric = 0;
  i.planar = planar;
  i.pages = 1;
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

std::vector<uint8_t> numbered_lines(const image_info& info, int count) {
  std::vector<uint8_t> v(size_t(info.bytes_per_line) * count);
  for (int l = 0; l < count; ++l)
    for (uint32_t b = 0; b < info.bytes_per_line; ++b)
      v[size_t(l) * info.bytes_per_line + b] = uint8_t(l * 7 + b);
  return v;
}

IMG_file* output(const image_info& info, std::shared_ptr<OutputLog> log, int64_t sleep_us = 0,
                 int fail_after = -1) {
  return (new TestOutput(info, std::move(log), sleep_us, fail_after))->ToImg('w', 50);
}

// Producer chunk sizes vary so that copies wrap around the ring's end.
int chunk(int i) {
  static const int sizes[] = {1, 5, 3, 8, 2, 13, 1, 4};
  return sizes[i % 8];
}

TEST(ThreadFilter, AllLinesArriveInOrderAndTheOutputClosesOnce) {
  for (int run = 0; run < 40; ++run) {
    const image_info info = describe(64 + run, 200);
    auto log = std::make_shared<OutputLog>();
    IMG_file* stage = threadfilter_attach(output(info, log), info.bytes_per_line * 7 + 3);
    ASSERT_NE(stage, nullptr);
    EXPECT_EQ(stage->type, 0);
    EXPECT_EQ(stage->mode, 'w');
    EXPECT_EQ(stage->info.width, info.width);
    auto data = numbered_lines(info, 200);
    int done = 0;
    for (int i = 0; done < 200; ++i) {
      int n = std::min(chunk(i), 200 - done);
      ASSERT_EQ(img_write_line(stage, data.data() + size_t(done) * info.bytes_per_line, n), n);
      done += n;
    }
    img_close(stage);
    EXPECT_EQ(log->closes, 1);
    EXPECT_EQ(log->bytes, data) << "run " << run;
  }
}

TEST(ThreadFilter, AcceptsNoMoreThanTheOutputsHeight) {
  const image_info info = describe(16, 10);
  auto log = std::make_shared<OutputLog>();
  IMG_file* stage = threadfilter_attach(output(info, log), 1024);
  ASSERT_NE(stage, nullptr);
  auto data = numbered_lines(info, 14);
  EXPECT_EQ(img_write_line(stage, data.data(), 6), 6);
  EXPECT_EQ(img_write_line(stage, data.data() + 6 * info.bytes_per_line, 8), 4);
  EXPECT_EQ(img_write_line(stage, data.data(), 1), 0);
  img_close(stage);
  data.resize(10 * info.bytes_per_line);
  EXPECT_EQ(log->bytes, data);
  EXPECT_EQ(log->closes, 1);
}

// A fast producer and a slow output: the producer waits only when the ring is
// full, and nothing is lost.
TEST(ThreadFilter, SlowOutputLosesNothing) {
  for (int run = 0; run < 5; ++run) {
    const image_info info = describe(100, 60);
    auto log = std::make_shared<OutputLog>();
    IMG_file* stage = threadfilter_attach(output(info, log, 1000), info.bytes_per_line * 4);
    ASSERT_NE(stage, nullptr);
    auto data = numbered_lines(info, 60);
    for (int l = 0; l < 60; ++l)
      ASSERT_EQ(img_write_line(stage, data.data() + size_t(l) * info.bytes_per_line, 1), 1);
    img_close(stage);
    EXPECT_EQ(log->bytes, data);
    EXPECT_EQ(log->closes, 1);
  }
}

// The output fails part-way: the worker stops and closes it, the producer's
// writes turn to 0, and what reached the output is an unbroken prefix.
TEST(ThreadFilter, FailingOutputStopsTheProducerWithoutHanging) {
  for (int run = 0; run < 60; ++run) {
    const image_info info = describe(24, 500);
    auto log = std::make_shared<OutputLog>();
    const int fail_after = 10 + run * 3;
    IMG_file* stage = threadfilter_attach(output(info, log, run % 3 == 0 ? 300 : 0, fail_after),
                                          info.bytes_per_line * (1 + run % 9));
    ASSERT_NE(stage, nullptr);
    auto data = numbered_lines(info, 500);
    int accepted = 0;
    for (int i = 0; accepted < 500; ++i) {
      int n = std::min(chunk(i), 500 - accepted);
      int got = img_write_line(stage, data.data() + size_t(accepted) * info.bytes_per_line, n);
      if (got == 0) break;
      accepted += got;
    }
    EXPECT_LT(accepted, 500) << "the producer must learn of the failure";
    img_close(stage);
    EXPECT_EQ(log->closes, 1);
    const size_t lines = log->bytes.size() / info.bytes_per_line;
    EXPECT_LE(lines, size_t(fail_after));
    EXPECT_EQ(0, std::memcmp(log->bytes.data(), data.data(), log->bytes.size())) << "run " << run;
  }
}

TEST(ThreadFilter, StatusFollowsTheOutputAndItsFailure) {
  const image_info info = describe(8, 50);
  auto log = std::make_shared<OutputLog>();
  IMG_file* stage = threadfilter_attach(output(info, log, 0, 0), info.bytes_per_line * 2);
  ASSERT_NE(stage, nullptr);
  EXPECT_EQ(img_status(stage, 5), 55) << "asked of the output";
  auto data = numbered_lines(info, 50);
  int total = 0;
  for (int i = 0; i < 100 && img_write_line(stage, data.data(), 1) == 1; ++i) ++total;
  EXPECT_LT(total, 50);
  EXPECT_EQ(img_status(stage, 0), -1);
  img_close(stage);
  EXPECT_EQ(log->closes, 1);
}

// Closing before the output's last line still writes what was accepted,
// ends the worker and closes the output once.
TEST(ThreadFilter, ClosingEarlyStopsTheWorkerAndClosesTheOutput) {
  for (int run = 0; run < 30; ++run) {
    const image_info info = describe(32, 1000);
    auto log = std::make_shared<OutputLog>();
    IMG_file* stage =
        threadfilter_attach(output(info, log, run % 2 ? 200 : 0), info.bytes_per_line * 16);
    ASSERT_NE(stage, nullptr);
    auto data = numbered_lines(info, 1000);
    const int lines = run * 7;
    for (int l = 0; l < lines; ++l)
      ASSERT_EQ(img_write_line(stage, data.data() + size_t(l) * info.bytes_per_line, 1), 1);
    img_close(stage);
    EXPECT_EQ(log->closes, 1);
    data.resize(size_t(lines) * info.bytes_per_line);
    EXPECT_EQ(log->bytes, data) << "run " << run;
  }
}

TEST(ThreadFilter, RefusedAttachClosesTheOutput) {
  struct Case {
    const char* what;
    image_info info;
    char mode;
    uint32_t bytes;
  };
  const image_info pixel = describe(64, 10);
  image_info tiled = pixel;
  tiled.planar = KLV_PLANAR_TILED;
  const Case cases[] = {
      {"ring smaller than one line", pixel, 'w', pixel.bytes_per_line - 1},
      {"planar output", describe(64, 10, KLV_PLANAR_PLANES), 'w', 4096},
      {"tiled output", tiled, 'w', 4096},
      {"output opened for reading", pixel, 'r', 4096},
  };
  for (const Case& c : cases) {
    auto log = std::make_shared<OutputLog>();
    IMG_file* out = (new TestOutput(c.info, log))->ToImg(c.mode, 50);
    EXPECT_EQ(threadfilter_attach(out, c.bytes), nullptr) << c.what;
    EXPECT_EQ(log->closes, 1) << c.what;
  }
  EXPECT_EQ(threadfilter_attach(nullptr, 4096), nullptr);
}

// The class alone: a failed Attach leaves the output with the caller, and a
// stage that was never attached reports -1 and takes nothing.
TEST(ThreadFilter, UnattachedStage) {
  CImgThreadFilter stage;
  EXPECT_EQ(stage.GetStatus(0), -1);
  uint8_t line[8] = {};
  EXPECT_EQ(stage.WriteLine(line, 1), 0);
  auto log = std::make_shared<OutputLog>();
  IMG_file* out = output(describe(64, 4), log);
  EXPECT_FALSE(stage.Attach(out, 1));
  EXPECT_EQ(log->closes, 0);
  img_close(out);
  EXPECT_EQ(log->closes, 1);
}

// The stage in front of an output image: the page reads back whole.
TEST(ThreadFilter, WritesAnOutputImage) {
  const std::string path = klv::platform::TempFileName("klvthreads", ".img");
  ASSERT_FALSE(path.empty());
  image_info info = describe(333, 120, KLV_PLANAR_LINES);
  info.compression = 1;
  IMG_file* out = outimg_open_img(path.c_str(), nullptr, "w", &info);
  ASSERT_NE(out, nullptr);
  IMG_file* stage = threadfilter_attach(out, info.bytes_per_line * 10);
  ASSERT_NE(stage, nullptr);
  auto data = numbered_lines(info, 120);
  for (int l = 0; l < 120; l += 3)
    ASSERT_EQ(img_write_line(stage, data.data() + size_t(l) * info.bytes_per_line, 3), 3);
  img_close(stage);
  IMG_file* in = outimg_open_img(path.c_str(), nullptr, "r", nullptr);
  ASSERT_NE(in, nullptr);
  std::vector<uint8_t> got(data.size());
  EXPECT_EQ(img_read_line(in, got.data(), 120), 120);
  EXPECT_EQ(got, data);
  img_close(in);
  std::remove(path.c_str());
}

}  // namespace
