// SPDX-License-Identifier: MIT
// The halftone filter with engines on threads: the same bytes as without
// threads for more lanes than cores, odd chunk counts and every output
// layout; engines running ahead of each other and of the caller; closing
// mid-image, a failing output and a failing engine, with nothing left
// hanging. Filling the filter's input in place (HTPlace_LendLines): the same
// bytes however the lends and commits fall, and cancelling, misuse and an
// engine failing while room is lent.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "klv/halftone_lend.h"
#include "klv/htplace.h"
#include "klv/htplace_cxx.h"
#include "support/image.h"
#include "support/log_capture.h"

namespace {

using klv::test::Sink;
using klv::test::SinkLog;

constexpr int kW = 131, kH = 53;  // 53 lines: chunks of 4 or 7 lines leave a short last one

image_info describe(int samples, int bits, int planar, int photometric) {
  image_info i;
  init_image_info(&i);
  i.width = kW;
  i.height = kH;
  i.samples = uint32_t(samples);
  // Process colours are 1 or 3 to 7: more separations are CMYK and spots.
  i.spot_samples = uint32_t(samples == 2 ? 1 : samples > 7 ? samples - 4 : 0);
  i.bits_per_sample = uint32_t(bits);
  i.planar = uint32_t(planar);
  i.photometric = uint32_t(photometric);
  i.bytes_per_line = image_info_line_bytes(&i);
  return i;
}

std::vector<uint8_t> make_page(int seps) {
  std::vector<uint8_t> p(size_t(kW) * kH * size_t(seps));
  uint32_t r = 5;
  for (size_t i = 0; i < p.size(); ++i) {
    r = r * 1103515245u + 12345u;
    const size_t x = (i / size_t(seps)) % kW;
    p[i] = uint8_t((x * 255 / (kW - 1) + (r >> 16) % 23 + i % size_t(seps) * 40) % 256);
  }
  return p;
}

struct FilterRun {
  int method = 0, seps = 4, out_planar = KLV_PLANAR_PIXEL;
  int threaded = 0;  // 0 none, 1 every separation, 2 every one but the last
  int buffer_lines = 7, write_lines = 5;
};

std::string name(const FilterRun& r) {
  return "method " + std::to_string(r.method) + ", " + std::to_string(r.seps) + " seps, out " +
         std::to_string(r.out_planar) + ", threaded " + std::to_string(r.threaded) + ", buffer " +
         std::to_string(r.buffer_lines) + ", writes of " + std::to_string(r.write_lines);
}

// Screens the page through the filter; the sink's log keeps the dot lines.
void screen(const FilterRun& r, const std::vector<uint8_t>& page, SinkLog* log) {
  HTPLACE* h =
      HTPlaceAlloc(4, 720, 720, 0, 0, 0, uint32_t(r.method), nullptr, nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(h);
  HTPlaceSetDetachDelete(h, 1);
  for (int s = 0; s < r.seps && r.threaded; ++s)
    HTPlaceGetThreadFlagArray(h)[s] = r.threaded == 2 && s == r.seps - 1 ? 0 : 1;
  image_info out = describe(r.seps, 1, r.out_planar, 0);
  image_info in = describe(r.seps, 8, KLV_PLANAR_PIXEL, 1);
  IMG_file* f = HTPlace_AttachImg(h, (new Sink(out, log))->ToImg('w', 0), &in, r.buffer_lines, 0);
  ASSERT_TRUE(f);
  std::vector<uint8_t> mine(size_t(in.bytes_per_line) * size_t(r.write_lines));
  for (int line = 0; line < kH;) {
    const int n = std::min(r.write_lines, kH - line);
    // Written from a buffer that is overwritten as soon as the call returns.
    std::memcpy(mine.data(), page.data() + size_t(line) * in.bytes_per_line,
                size_t(n) * in.bytes_per_line);
    ASSERT_EQ(img_write_line(f, mine.data(), n), n);
    std::memset(mine.data(), 0xA5, mine.size());
    line += n;
  }
  EXPECT_EQ(img_status(f, 0), 1);
  EXPECT_EQ(img_close_status(f), 0);
  EXPECT_EQ(log->closes, 1);
  EXPECT_EQ(log->written, out.planar == KLV_PLANAR_PLANES ? kH * r.seps : kH);
}

TEST(HTFilterThreads, SameBytesAsOneThread) {
  std::vector<FilterRun> runs;
  // Diffusion (plain, variable-coefficient, screen-modulated) and a
  // threshold screen; 4 and 8 separations on lanes, more than the cores.
  for (int method : {0, 12, 1, 4})
    for (int seps : {4, 8}) runs.push_back({method, seps, KLV_PLANAR_PIXEL, 1, 7, 5});
  // Every output layout, one separation on the caller's thread, a chunk
  // larger than the page, line-by-line writes, whole-page writes, the
  // default buffer, 12 separations (the most the filter takes).
  runs.push_back({0, 4, KLV_PLANAR_LINES, 1, 4, 3});
  runs.push_back({0, 4, KLV_PLANAR_PLANES, 1, 4, 9});
  runs.push_back({12, 4, KLV_PLANAR_PIXEL, 2, 7, 5});
  runs.push_back({0, 3, KLV_PLANAR_PIXEL, 1, 64, 64});
  runs.push_back({0, 4, KLV_PLANAR_PIXEL, 1, 7, 1});
  runs.push_back({12, 8, KLV_PLANAR_PIXEL, 1, 3, kH});
  runs.push_back({0, 4, KLV_PLANAR_PIXEL, 1, 0, 11});
  runs.push_back({0, 12, KLV_PLANAR_PIXEL, 1, 5, 8});
  runs.push_back({0, 1, KLV_PLANAR_PIXEL, 1, 2, 3});
  for (const FilterRun& r : runs) {
    SCOPED_TRACE(name(r));
    const auto page = make_page(r.seps);
    SinkLog one, many;
    FilterRun plain = r;
    plain.threaded = 0;
    screen(plain, page, &one);
    screen(r, page, &many);
    EXPECT_EQ(many.bytes, one.bytes);
    EXPECT_EQ(many.planes, one.planes);
  }
}

// A test engine: one bit a pixel, the sample's top bit. Separation 0 can be
// held at a gate before its first line, and any separation can throw at a
// given line.
struct Control {
  std::mutex mu;
  std::condition_variable cv;
  bool gate_open = true;
  int throw_sep = -1, throw_at = -1;
  std::atomic<bool> threw{false};
  std::atomic<int> lines_done[4] = {};

  void Open() {
    {
      std::lock_guard<std::mutex> lock(mu);
      gate_open = true;
    }
    cv.notify_all();
  }
};

class TestRip : public CHTRip {
 public:
  explicit TestRip(Control* ctl) : ctl_(ctl) {}
  ~TestRip() override { StopWorker(); }
  void ProcessLine() override {
    if (sep_ == 0 && line_ == 0) {
      std::unique_lock<std::mutex> lock(ctl_->mu);
      ctl_->cv.wait(lock, [&] { return ctl_->gate_open; });
    }
    if (sep_ == ctl_->throw_sep && line_ == ctl_->throw_at) {
      ctl_->threw = true;
      throw std::runtime_error("test engine fault");
    }
    std::memset(out_ptr_, 0, out_bytes_per_line_);
    for (uint32_t x = 0; x < in_width_; ++x)
      if (in_ptr_[x * in_step_] & 0x80) out_ptr_[x / 8] |= uint8_t(0x80 >> (x % 8));
    ++line_;
    ++ctl_->lines_done[sep_ % 4];
    out_ptr_ += out_stride_;
    ++out_line_;
  }

 private:
  Control* ctl_;
  int line_ = 0;
};

class TestPlacement : public CHTPlacement {
 public:
  // Separation s gets a worker when bit s of `threaded` is set.
  TestPlacement(Control* ctl, unsigned threaded) : ctl_(ctl), threaded_(threaded) {}
  CHTRip* CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                    uint8_t* out_buf, unsigned long stride, unsigned long lines) override {
    auto* rip = new TestRip(ctl_);
    if (!rip->Init(this, (threaded_ >> sep) & 1, sep, color, extra, curve_no, curves, out_buf,
                   stride, lines)) {
      delete rip;
      return nullptr;
    }
    return rip;
  }
  bool IsThreaded() override { return threaded_ != 0; }

 private:
  Control* ctl_;
  unsigned threaded_;
};

// Runs fn on another thread and reports whether it ended within the time;
// when it did not, `unstick` runs before it is joined.
template <class Fn>
bool ends_within(std::chrono::seconds limit, Fn fn, const std::function<void()>& unstick = {}) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    fn();
    done = true;
  });
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const bool in_time = done;
  if (!in_time && unstick) unstick();
  t.join();
  return in_time;
}

TEST(HTFilterThreads, EnginesRunAheadOfAHeldOne) {
  // Separation 0 is held before its first line. The caller still hands over
  // several chunks and the other engines screen them: nothing waits for the
  // held engine until the ring is full.
  Control ctl;
  ctl.gate_open = false;
  TestPlacement place(&ctl, 0xF);
  SinkLog log;
  image_info out = describe(4, 1, KLV_PLANAR_PIXEL, 0);
  image_info in = describe(4, 8, KLV_PLANAR_PIXEL, 1);
  CHTFilter filter;
  ASSERT_TRUE(filter.AttachImg((new Sink(out, &log))->ToImg('w', 0), &in, &place, 4, 0));
  const auto page = make_page(4);
  bool wrote = ends_within(
      std::chrono::seconds(10),
      [&] { EXPECT_EQ(filter.WriteLine(const_cast<uint8_t*>(page.data()), 8), 8); },
      [&] { ctl.Open(); });
  EXPECT_TRUE(wrote) << "the caller waited for the held engine";
  for (int s = 1; s < 4; ++s) {
    for (int i = 0; i < 5000 && ctl.lines_done[s] < 8; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ctl.lines_done[s], 8) << "separation " << s << " did not run ahead";
  }
  EXPECT_EQ(ctl.lines_done[0], 0);
  EXPECT_EQ(log.written, 0);  // nothing goes out before every engine has a chunk
  ctl.Open();
  EXPECT_EQ(filter.WriteLine(const_cast<uint8_t*>(page.data()) + 8 * in.bytes_per_line, kH - 8),
            kH - 8);
  EXPECT_EQ(filter.Close(), 0);
  EXPECT_EQ(log.written, kH);
  EXPECT_EQ(log.closes, 1);
}

TEST(HTFilterThreads, CloseMidImageWritesWhatWasGiven) {
  // Closing after part of the page (a cancelled job) screens and writes the
  // lines given, closes the output once and ends every lane, also while an
  // engine is still held when the close begins.
  for (bool held : {false, true}) {
    SCOPED_TRACE(held ? "engine held at close" : "engines free");
    Control ctl;
    ctl.gate_open = !held;
    TestPlacement place(&ctl, 0xF);
    SinkLog log;
    image_info out = describe(4, 1, KLV_PLANAR_PIXEL, 0);
    image_info in = describe(4, 8, KLV_PLANAR_PIXEL, 1);
    auto* filter = new CHTFilter;
    ASSERT_TRUE(filter->AttachImg((new Sink(out, &log))->ToImg('w', 0), &in, &place, 7, 0));
    IMG_file* f = filter->ToImg('w', 0);
    ASSERT_TRUE(f);
    const auto page = make_page(4);
    EXPECT_EQ(img_write_line(f, const_cast<uint8_t*>(page.data()), 17), 17);
    std::thread opener([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ctl.Open();
    });
    EXPECT_TRUE(ends_within(std::chrono::seconds(10), [&] { EXPECT_EQ(img_close_status(f), 0); }));
    opener.join();
    EXPECT_EQ(log.written, 17);
    EXPECT_EQ(log.closes, 1);
  }
}

TEST(HTFilterThreads, FailingEngineStopsTheFilter) {
  // An engine that fails (here: throws) on its own lane or on the caller's
  // thread: the filter reports it, takes no more lines, ends its lanes and
  // closes the output once; the lines before the fault's chunk are written.
  for (bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "on a lane" : "on the caller's thread");
    Control ctl;
    ctl.throw_sep = 2;
    ctl.throw_at = 20;
    TestPlacement place(&ctl, threaded ? 0xF : 0xB);  // 0xB: separation 2 on the caller's
    SinkLog log;
    image_info out = describe(4, 1, KLV_PLANAR_PIXEL, 0);
    image_info in = describe(4, 8, KLV_PLANAR_PIXEL, 1);
    auto* filter = new CHTFilter;
    ASSERT_TRUE(filter->AttachImg((new Sink(out, &log))->ToImg('w', 0), &in, &place, 4, 0));
    IMG_file* f = filter->ToImg('w', 0);
    ASSERT_TRUE(f);
    const auto page = make_page(4);
    bool ended = ends_within(std::chrono::seconds(10), [&] {
      int line = 0;
      while (line < kH) {
        const int got =
            img_write_line(f, const_cast<uint8_t*>(page.data()) + line * in.bytes_per_line, 3);
        if (got == 0) break;
        line += got;
      }
      EXPECT_LT(line, kH);
      EXPECT_EQ(img_status(f, 0), -1);
      EXPECT_EQ(img_close_status(f), -1);
    });
    EXPECT_TRUE(ended);
    EXPECT_LE(log.written, 20);
    EXPECT_EQ(log.written % 4, 0);  // whole chunks only
    EXPECT_EQ(log.closes, 1);
  }
}

// A caller filling the filter through lends: each step asks for room for
// `ask` lines and commits `commit` of those lent (fewer when fewer were
// lent), or, with write > 0, hands over that many lines with img_write_line.
struct LendStep {
  int ask = 0, commit = 0, write = 0;
};

struct LendRun {
  const char* what;
  FilterRun filter;             // method, separations, output layout, threads, chunk
  std::vector<LendStep> steps;  // repeated until the page is given
};

void screen_lent(const LendRun& r, const std::vector<uint8_t>& page, SinkLog* log) {
  const FilterRun& f = r.filter;
  HTPLACE* h =
      HTPlaceAlloc(4, 720, 720, 0, 0, 0, uint32_t(f.method), nullptr, nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(h);
  HTPlaceSetDetachDelete(h, 1);
  for (int s = 0; s < f.seps; ++s)
    HTPlaceGetThreadFlagArray(h)[s] = f.threaded == 2 && s == f.seps - 1 ? 0 : 1;
  image_info out = describe(f.seps, 1, f.out_planar, 0);
  image_info in = describe(f.seps, 8, KLV_PLANAR_PIXEL, 1);
  IMG_file* ht = HTPlace_AttachImg(h, (new Sink(out, log))->ToImg('w', 0), &in, f.buffer_lines, 0);
  ASSERT_TRUE(ht);
  const size_t bpl = in.bytes_per_line;
  std::vector<uint8_t> mine(bpl * kH);
  for (int line = 0, step = 0; line < kH; ++step) {
    const LendStep& st = r.steps[size_t(step) % r.steps.size()];
    if (st.write > 0) {
      const int n = std::min(st.write, kH - line);
      std::memcpy(mine.data(), page.data() + size_t(line) * bpl, size_t(n) * bpl);
      ASSERT_EQ(img_write_line(ht, mine.data(), n), n);
      line += n;
      continue;
    }
    uint8_t* room = nullptr;
    const int lent = HTPlace_LendLines(ht, &room, st.ask);
    ASSERT_GE(lent, 1) << "at line " << line;
    ASSERT_LE(lent, std::min(st.ask, kH - line));
    ASSERT_LE(lent, f.buffer_lines);  // never more than a chunk
    // Lines beyond those committed are scribbled on: they must not count.
    std::memset(room, 0x5A, size_t(lent) * bpl);
    const int n = std::min(st.commit, lent);
    std::memcpy(room, page.data() + size_t(line) * bpl, size_t(n) * bpl);
    ASSERT_EQ(HTPlace_CommitLines(ht, n), n);
    line += n;
  }
  uint8_t* room = nullptr;
  EXPECT_EQ(HTPlace_LendLines(ht, &room, 4), 0);  // the page is complete
  EXPECT_EQ(img_status(ht, 0), 1);
  EXPECT_EQ(img_close_status(ht), 0);
  EXPECT_EQ(log->closes, 1);
  EXPECT_EQ(log->written, out.planar == KLV_PLANAR_PLANES ? kH * f.seps : kH);
}

TEST(HTFilterLend, SameBytesAsLinesWritten) {
  // kH is 53: chunks of 3, 4 and 7 lines leave a short last chunk.
  const std::vector<LendRun> runs = {
      {"whole lends", {0, 4, KLV_PLANAR_PIXEL, 1, 7, 0}, {{5, 5}}},
      {"lends asking more than a chunk", {12, 4, KLV_PLANAR_PIXEL, 1, 4, 0}, {{64, 64}}},
      {"chunks partly filled", {0, 4, KLV_PLANAR_PIXEL, 1, 7, 0}, {{5, 2}, {3, 3}, {6, 1}}},
      {"lends given back", {0, 4, KLV_PLANAR_PIXEL, 1, 7, 0}, {{6, 0}, {6, 6}}},
      {"lends and writes mixed", {12, 4, KLV_PLANAR_PIXEL, 1, 7, 0}, {{4, 3}, {0, 0, 5}}},
      {"one line at a time, 8 lanes", {12, 8, KLV_PLANAR_PIXEL, 1, 3, 0}, {{1, 1}}},
      {"last separation on the caller", {0, 4, KLV_PLANAR_PIXEL, 2, 7, 0}, {{7, 7}}},
      {"planar output", {1, 4, KLV_PLANAR_PLANES, 1, 4, 0}, {{9, 9}}},
  };
  for (const LendRun& r : runs) {
    SCOPED_TRACE(r.what);
    const auto page = make_page(r.filter.seps);
    SinkLog written, lent;
    FilterRun plain = r.filter;
    plain.threaded = 0;
    plain.write_lines = 5;
    screen(plain, page, &written);
    screen_lent(r, page, &lent);
    EXPECT_EQ(lent.bytes, written.bytes);
    EXPECT_EQ(lent.planes, written.planes);
  }
}

TEST(HTFilterLend, StreamsThatCannotLend) {
  // Engines without threads, a stream that is not a halftone filter and
  // null arguments: 0, so that the caller writes its lines as usual.
  const auto page = make_page(4);
  SinkLog log;
  image_info out = describe(4, 1, KLV_PLANAR_PIXEL, 0);
  image_info in = describe(4, 8, KLV_PLANAR_PIXEL, 1);
  HTPLACE* h = HTPlaceAlloc(4, 720, 720, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(h);
  HTPlaceSetDetachDelete(h, 1);
  IMG_file* ht = HTPlace_AttachImg(h, (new Sink(out, &log))->ToImg('w', 0), &in, 7, 0);
  ASSERT_TRUE(ht);
  uint8_t* room = nullptr;
  EXPECT_EQ(HTPlace_LendLines(ht, &room, 4), 0);
  EXPECT_EQ(HTPlace_LendLines(ht, nullptr, 4), 0);
  EXPECT_EQ(img_write_line(ht, const_cast<uint8_t*>(page.data()), kH), kH);
  EXPECT_EQ(img_close_status(ht), 0);
  SinkLog other_log;
  IMG_file* other = (new Sink(out, &other_log))->ToImg('w', 0);
  EXPECT_EQ(HTPlace_LendLines(other, &room, 4), 0);
  EXPECT_EQ(HTPlace_CommitLines(other, 0), -1);
  img_close(other);
  EXPECT_EQ(HTPlace_LendLines(nullptr, &room, 4), 0);
  EXPECT_EQ(HTPlace_CommitLines(nullptr, 1), -1);
}

// A filter of the test engines, all on lanes, chunks of 4 lines.
struct LentFilter {
  Control ctl;
  SinkLog log;
  std::unique_ptr<TestPlacement> place;
  IMG_file* ht = nullptr;
  size_t bpl = 0;
  std::vector<uint8_t> page = make_page(4);

  bool Attach() {
    place = std::make_unique<TestPlacement>(&ctl, 0xF);
    image_info out = describe(4, 1, KLV_PLANAR_PIXEL, 0);
    image_info in = describe(4, 8, KLV_PLANAR_PIXEL, 1);
    bpl = in.bytes_per_line;
    auto* filter = new CHTFilter;
    if (!filter->AttachImg((new Sink(out, &log))->ToImg('w', 0), &in, place.get(), 4, 0)) {
      delete filter;
      return false;
    }
    ht = filter->ToImg('w', 0);
    return ht != nullptr;
  }
  // Lends room for `n` lines at line `line` and fills it; the lines lent.
  int LendFilled(int line, int n) {
    uint8_t* room = nullptr;
    const int lent = HTPlace_LendLines(ht, &room, n);
    if (lent > 0) std::memcpy(room, page.data() + size_t(line) * bpl, size_t(lent) * bpl);
    return lent;
  }
};

TEST(HTFilterLend, MisuseIsRefusedAndLogged) {
  klv::test::LogCapture logged;
  LentFilter f;
  ASSERT_TRUE(f.Attach());
  EXPECT_EQ(HTPlace_CommitLines(f.ht, 1), -1);  // nothing lent
  EXPECT_NE(logged.Take().find("committed"), std::string::npos);
  ASSERT_EQ(f.LendFilled(0, 3), 3);
  EXPECT_EQ(HTPlace_CommitLines(f.ht, 4), -1);  // more than lent: the lend is dropped
  EXPECT_NE(logged.Take().find("3 lent"), std::string::npos);
  EXPECT_EQ(HTPlace_CommitLines(f.ht, 1), -1);
  ASSERT_EQ(f.LendFilled(0, 3), 3);
  EXPECT_EQ(HTPlace_CommitLines(f.ht, 3), 3);
  EXPECT_EQ(HTPlace_LendLines(f.ht, nullptr, 4), 0);
  EXPECT_EQ(img_close_status(f.ht), 0);  // misuse is not a failure of the page
  EXPECT_EQ(f.log.written, 3);
}

TEST(HTFilterLend, CancelWhileLent) {
  // A job cancelled with room lent: closing screens and writes the lines
  // committed, drops the lent ones and ends every lane, also with an engine
  // held when the close begins; a write ends a lend the same way.
  struct Case {
    const char* what;
    bool held, write_after;
  };
  for (const Case& c : {Case{"engines free", false, false}, Case{"engine held", true, false},
                        Case{"a write ends the lend", false, true}}) {
    SCOPED_TRACE(c.what);
    LentFilter f;
    f.ctl.gate_open = !c.held;
    ASSERT_TRUE(f.Attach());
    int line = 0;
    while (line < 17) {
      const int lent = f.LendFilled(line, std::min(3, 17 - line));
      ASSERT_GT(lent, 0);
      ASSERT_EQ(HTPlace_CommitLines(f.ht, lent), lent);
      line += lent;
    }
    ASSERT_EQ(f.LendFilled(line, 3), 3);  // lent, never committed
    if (c.write_after) {
      ASSERT_EQ(img_write_line(f.ht, f.page.data() + size_t(line) * f.bpl, 2), 2);
      line += 2;
      EXPECT_EQ(HTPlace_CommitLines(f.ht, 3), -1);
    }
    std::thread opener([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      f.ctl.Open();
    });
    EXPECT_TRUE(
        ends_within(std::chrono::seconds(10), [&] { EXPECT_EQ(img_close_status(f.ht), 0); }));
    opener.join();
    EXPECT_EQ(f.log.written, line);
    EXPECT_EQ(f.log.closes, 1);
  }
}

TEST(HTFilterLend, EngineFailingWhileLent) {
  // Separation 2 throws on its first line while the caller holds room in
  // the next chunk: the commit or the next lend says -1, the status is -1
  // with the fault logged, closing says data was lost, and nothing hangs.
  klv::test::LogCapture logged;
  LentFilter f;
  f.ctl.throw_sep = 2;
  f.ctl.throw_at = 0;
  ASSERT_TRUE(f.Attach());
  bool ended = ends_within(std::chrono::seconds(10), [&] {
    ASSERT_EQ(f.LendFilled(0, 4), 4);
    ASSERT_EQ(HTPlace_CommitLines(f.ht, 4), 4);  // chunk 0 goes to the lanes
    int lent = f.LendFilled(4, 4);
    for (int i = 0; i < 5000 && !f.ctl.threw; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(f.ctl.threw);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int result = lent > 0 ? HTPlace_CommitLines(f.ht, lent) : lent;
    for (int line = 8; result > 0 && line < kH; line += result) {
      lent = f.LendFilled(line, 4);
      result = lent > 0 ? HTPlace_CommitLines(f.ht, lent) : lent;
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(img_status(f.ht, 0), -1);
    EXPECT_EQ(img_close_status(f.ht), -1);
  });
  EXPECT_TRUE(ended);
  EXPECT_NE(logged.Text().find("separation 2 failed: test engine fault"), std::string::npos)
      << logged.Text();
  EXPECT_EQ(f.log.written, 0);
  EXPECT_EQ(f.log.closes, 1);
}

}  // namespace
