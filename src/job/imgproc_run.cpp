// SPDX-License-Identifier: MIT
// The driver's entry points: the stages run in their fixed order with the
// time each took, the caller's callback (status, messages, progress in
// tenths of a percent, cancellation polls), and the clean-up of the job's
// print files when a run fails or is cancelled.
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "imgproc_internal.h"
#include "klv/job_settings_cxx.h"
#include "klv/log.h"

namespace klv::proc {

bool Job::Fail(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ErrorLogf(KLV_LOG_ERROR, kTag, 0, "%s", text);
  Status(text);
  if (out && out->error.empty()) out->error = text;
  return false;
}

void Job::Status(const std::string& text) const {
  if (callback) callback(context, KLV_PROC_CB_STATUS, text.c_str());
}

void Job::Message(const std::string& text) const {
  ErrorLogf(KLV_LOG_INFO, kTag, 0, "%s", text.c_str());
  if (callback) callback(context, KLV_PROC_CB_MESSAGE, text.c_str());
}

bool Job::Cancelled() {
  if (!cancelled && callback && callback(context, KLV_PROC_CB_POLL, nullptr) != 0) cancelled = true;
  return cancelled;
}

void Job::Progress(int64_t done, int64_t total) {
  const int tenths = imgproc_tenths(done, total);
  if (tenths == last_tenths) return;
  last_tenths = tenths;
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d%%", tenths / 10, tenths % 10);
  if (callback) callback(context, KLV_PROC_CB_PERCENT, text);
}

namespace {

struct Stage {
  const char* name;
  bool (*run)(Job&);
};

// The stages in the order they must run.
constexpr Stage kStages[] = {
    {"set-up", stage_setup},        {"printer", stage_printer}, {"colour", stage_colour},
    {"screens", stage_screens},     {"input", stage_input},     {"contone", stage_contone},
    {"screening", stage_screening}, {"output", stage_output},   {"ink", stage_ink},
    {"finish", stage_finish},
};

bool run_stages(Job& j) {
  for (const Stage& stage : kStages) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = stage.run(j);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (j.out) j.out->stages.push_back({stage.name, took.count()});
    if (!ok) return false;
  }
  return true;
}

// Turns the driver's callback into a plain progress display.
struct PlainProgress {
  imgproc_progress progress;
  void* context;
};

int32_t plain_callback(void* context, int32_t code, const char* argument) {
  const auto* p = static_cast<const PlainProgress*>(context);
  int whole = 0, tenth = 0;
  if (code == KLV_PROC_CB_PERCENT && argument && p->progress &&
      std::sscanf(argument, "%d.%d", &whole, &tenth) == 2)
    p->progress(whole * 10 + tenth, 1000, p->context);
  return 0;
}

// The usage record of the run.
std::vector<std::pair<std::string, std::string>> usage_of(const Job& j, bool ok) {
  std::vector<std::pair<std::string, std::string>> r;
  r.emplace_back("processSuccess", ok ? "success" : "failure");
  const char* ext = j.s ? std::strrchr(j.s->Imagepath, '.') : nullptr;
  const char* slash = j.s ? std::strrchr(j.s->Imagepath, '/') : nullptr;
  r.emplace_back("fileExt", ext && ext > slash ? ext + 1 : "");
  r.emplace_back("printDev", j.s && *j.s->PrintDev ? j.s->PrintDev : "Unknown");
  r.emplace_back("inkConfig", ok ? "CMYK" : "");
  r.emplace_back("dotPattern", j.pattern_text);
  char res[64] = "";
  if (j.xres > 0 && j.xres == j.yres)
    std::snprintf(res, sizeof res, "%8.3f", j.xres);
  else if (j.xres > 0)
    std::snprintf(res, sizeof res, "%8.3fx%8.3f", j.xres, j.yres);
  r.emplace_back("printRes", res);
  r.emplace_back("pages", std::to_string(ok ? j.pages : 0));
  if (ok && !j.ink_ml.empty()) {
    std::string ml;
    for (const double v : j.ink_ml) {
      char one[32];
      std::snprintf(one, sizeof one, "%s%.4f", ml.empty() ? "" : " ", v);
      ml += one;
    }
    r.emplace_back("inkMl", ml);
  }
  return r;
}

}  // namespace
}  // namespace klv::proc

using namespace klv::proc;

bool klv::process_job(const char* job, settings* record, const char* name,
                      const ProcOptions& options, imgproc_callback callback, void* context,
                      ProcOutcome* outcome) {
  Job j;
  j.job = job ? job : "";
  j.name = name ? name : "";
  j.options = options;
  if (j.options.wait_ms < 1) j.options.wait_ms = 1;
  j.callback = callback;
  j.context = context;
  j.out = outcome;
  j.started = std::time(nullptr);
  if (outcome) *outcome = ProcOutcome{};
  klv::SettingsPtr loaded;
  if (!record) {
    loaded = klv::load_job_settings(j.job.c_str());
    if (!loaded) return j.Fail("Cannot read the settings of job \"%s\"", j.job.c_str());
    record = loaded.get();
  }
  j.s = record;
  const bool ok = run_stages(j);
  if (!ok) {
    // Close everything first (the dot file may still be open), then remove
    // what this run made.
    j.placement.reset();
    j.input.reset();
    j.conversion.reset();
    if (!j.list_path.empty()) imgproc_remove_print_files(j.s, 0);
    if (outcome) {
      outcome->print_files.clear();
      outcome->ink.clear();
    }
  }
  if (outcome) {
    outcome->ok = ok;
    outcome->width = j.width;
    outcome->height = j.height;
    outcome->xres = j.xres;
    outcome->yres = j.yres;
    outcome->threads = j.threads;
    if (j.conversion) outcome->colour = j.colour_text;
    outcome->calibration = j.colour.calibration;
    outcome->output_profile = j.output_profile;
    outcome->ink_restriction = j.ink_restriction;
    outcome->usage = usage_of(j, ok);
    if (ok) outcome->separations.assign({"Cyan", "Magenta", "Yellow", "Black"});
  }
  return ok;
}

int32_t begin_img_proc(const char* job, settings* record, const char* name, int32_t /*mode*/,
                       imgproc_callback callback, void* context) {
  return klv::process_job(job, record, name, klv::ProcOptions{}, callback, context, nullptr) ? 1
                                                                                             : 0;
}

int32_t start_img_proc(const char* job, settings* record, const char* name,
                       imgproc_progress progress, void* context) {
  PlainProgress plain{progress, context};
  return begin_img_proc(job, record, name, 1, plain_callback, &plain);
}

int32_t need_img_proc(const char* job, settings* /*record*/, imgproc_callback callback,
                      void* context) {
  char text[600];
  std::snprintf(text, sizeof text, "Layout jobs cannot be processed yet (\"%s\")", job ? job : "");
  ErrorLogf(KLV_LOG_ERROR, kTag, 0, "%s", text);
  if (callback) callback(context, KLV_PROC_CB_STATUS, text);
  return 0;
}
