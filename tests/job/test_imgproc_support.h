// SPDX-License-Identifier: MIT
// What the job driver's suites share: the callback that records what the
// driver told, the files of a folder, the lines of a print file and the
// fixture of a demo job in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/imgproc_cxx.h"
#include "klv/job_settings_cxx.h"
#include "support/env.h"
#include "support/files.h"

namespace imgproc_test {

namespace fs = std::filesystem;
using klv::test::ScopedEnv;
using klv::test::ScratchFolder;

inline const std::string kData =
    fs::absolute(KLV_TEST_DATA "/../../data").lexically_normal().string();
// The shipped data, the colour engine and the printer drivers.
inline const std::string kSearch = kData
#ifdef KLV_CMS_ENGINES
                                   + ":" + KLV_CMS_ENGINES
#endif
#ifdef KLV_PRINTER_DRIVERS
                                   + ":" + KLV_PRINTER_DRIVERS
#endif
    ;

// What the driver told the callback.
struct Calls {
  std::vector<std::string> status, percent;
  int polls = 0;
  int cancel_after_percent = -1;  // answer polls with 1 once this many percents came
};

inline int32_t record_calls(void* context, int32_t code, const char* argument) {
  auto* c = static_cast<Calls*>(context);
  switch (code) {
    case KLV_PROC_CB_STATUS:
      c->status.push_back(argument);
      return 0;
    case KLV_PROC_CB_PERCENT:
      c->percent.push_back(argument);
      return 0;
    case KLV_PROC_CB_POLL:
      ++c->polls;
      return c->cancel_after_percent >= 0 && int(c->percent.size()) >= c->cancel_after_percent;
    default:
      return 0;
  }
}

inline std::vector<std::string> files_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Every line of a print file (the store's bytes may differ between runs that
// wrote the same lines); empty when it cannot be read.
inline std::vector<uint8_t> dot_lines(const std::string& path) {
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  if (!img) return {};
  std::vector<uint8_t> lines(size_t(info.bytes_per_line) * size_t(info.height));
  const int32_t rows = img_read_line(img, lines.data(), info.height);
  img_close(img);
  if (rows != info.height) lines.clear();
  return lines;
}

// The dots per ink of a print file of one-bit CMYK pixels (inks in order,
// first pixel in the high bits), over every page it holds.
inline std::vector<uint64_t> dots_per_ink(const std::string& path) {
  const std::vector<uint8_t> lines = dot_lines(path);
  std::vector<uint64_t> dots(4, 0);
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "r", &info, KLV_TYPE_OUTIMG);
  if (!img) return {};
  img_close(img);
  const size_t line = info.bytes_per_line, used = (size_t(info.width) * 4 + 7) / 8;
  for (size_t y = 0; y * line < lines.size(); ++y)
    for (size_t i = 0; i < used; ++i) {
      const uint8_t b = lines[y * line + i];
      for (int k = 0; k < 4; ++k) dots[k] += ((b >> (7 - k)) & 1) + ((b >> (3 - k)) & 1);
    }
  return dots;
}

class ImgProc : public ::testing::Test {
 protected:
  void SetUp() override {
    job_ = fs::path(folder_.str()) / "J12";
    fs::create_directories(job_);
    s_.reset(settings_new());
    ASSERT_TRUE(s_);
    Put(s_->Imagepath, kData + "/samples/chart.tif");
    Put(s_->Printpath, (job_ / "J12.prt").string());
    Put(s_->PrintDev, "KlvDemo");
    Put(s_->PrintMedia, "Glossy Photo");
    Put(s_->PrintMode, "Stochastic");
    Put(s_->PrintRes, "150x150");
    Put(s_->JobName, "J12");
  }
  template <size_t N>
  static void Put(char (&field)[N], const std::string& text) {
    std::snprintf(field, N, "%s", text.c_str());
  }
  bool Process(Calls* calls, klv::ProcOutcome* out, int threads = 1) {
    klv::ProcOptions options;
    options.threads = threads;
    return Process(calls, out, options);
  }
  bool Process(Calls* calls, klv::ProcOutcome* out, const klv::ProcOptions& options) {
    return klv::process_job(job_.c_str(), s_.get(), nullptr, options, record_calls, calls, out);
  }

  ScopedEnv path_{"KLV_PATH", kSearch};
  ScratchFolder folder_{"imgproc"};
  ScopedEnv registry_{"KLV_REGISTRY", folder_.path("Registry.info")};
  fs::path job_;
  klv::SettingsPtr s_;
};

}  // namespace imgproc_test
