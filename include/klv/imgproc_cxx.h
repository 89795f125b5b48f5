// SPDX-License-Identifier: MIT
// The image processing driver for C++ callers: the same run as
// begin_img_proc (klv/imgproc.h) with options the C entry takes from the
// registry, and an account of what the run made and how long each stage took.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "klv/export.h"
#include "klv/img.h"
#include "klv/imgproc.h"

namespace klv {

struct ProcOptions {
  // Screening threads: 0 takes the registry value "MultiThreadedProcess"
  // (above 0: one per processor), 1 one thread, more: that many at most.
  int threads = 0;
  // Wait between asks while the job's image is still being produced.
  int wait_ms = 1000;
  // Count the dots per ink through the printer's driver even when the job's
  // InkCounting is off.
  bool count_ink = false;
  // Opens the job's image for reading in place of the image streams (a
  // renderer's output that is still being written, for example): the path
  // is the job's Imagepath, `info` receives the description. Null: the
  // image streams open it. A stream whose status answers 0 is waited for.
  std::function<IMG_file*(const char* path, image_info* info)> open_image;
};

struct ProcStageTime {
  std::string stage;  // "set-up", "printer", "colour", ...
  double seconds = 0;
};

struct ProcOutcome {
  bool ok = false;
  std::string error;                     // the failure told, when not ok
  std::string list_path;                 // the print-file list
  std::string record_path;               // the processing record
  std::vector<std::string> print_files;  // the page files made, one per page
  std::vector<ProcStageTime> stages;     // in the order they ran
  // The output stage's time by its parts: "reading" (and scaling) the
  // image, its "colour" conversion, "screening" (and writing the dots).
  std::vector<ProcStageTime> parts;
  int width = 0, height = 0;  // page size in printer pixels
  double xres = 0, yres = 0;
  std::vector<std::string> separations;  // names, in file order
  int threads = 1;                       // screening threads used
  std::string colour;                    // the colour conversion ("" for none)
  std::string calibration;               // the calibration applied ("" for none)
  // The profile library's output profile used ("" when the printer's own
  // profile was) and its ink restriction applied ("" for none).
  std::string output_profile;
  std::string ink_restriction;
  // Dots per ink over every page (empty when not counted), and the ink
  // they hold in millilitres (negative when the printer's drop volumes are
  // not known).
  struct InkDots {
    std::string ink;
    uint64_t dots = 0;
    double millilitres = -1;
  };
  std::vector<InkDots> ink;
  // The job's usage record, keys in order: "processSuccess" ("success" or
  // "failure"), "fileExt", "printDev" ("Unknown" when none), "inkConfig",
  // "dotPattern", "printRes" ("%8.3f", or "%8.3fx%8.3f" when X and Y differ),
  // then "pages" and, when the ink was counted, "inkMl" (millilitres per
  // separation, "%.4f" each, in separation order).
  std::vector<std::pair<std::string, std::string>> usage;
};

// Processes the job as begin_img_proc does. `record` may be null (read from
// `job`); `outcome` may be null. True on success.
KLV_API bool process_job(const char* job, settings* record, const char* name,
                         const ProcOptions& options, imgproc_callback callback, void* context,
                         ProcOutcome* outcome);

}  // namespace klv
