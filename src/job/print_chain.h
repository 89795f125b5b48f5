// SPDX-License-Identifier: MIT
// What the frame set-up puts between the caller's image and a frame: the
// plan of the chain (print_plan.cpp) and its own stages, the pixel repeat
// of the dots (print_repeat.cpp) and the colour conversion of contone lines
// (print_color.cpp). Every stage is a stream opened for writing that owns
// the stream below it: closing it closes them all, and a stage that cannot
// be opened closes the stream it was given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "imgproc_internal.h"
#include "klv/cimg_file.h"
#include "klv/halftone_mlproc.h"
#include "klv/color_convert_cxx.h"
#include "klv/htplace.h"
#include "klv/img.h"
#include "klv/printer_driver.h"
#include "klv/prntinfo.h"

class CPrintFrameInfo;

namespace klv::printing {

// The type codes of the frame's own stages.
enum { kRepeatType = 71, kColorType = 72, kKeepType = 73 };

// A stage of the chain: a stream opened for writing that sends its lines, in
// order, into the stream below, which it owns.
class ChainStage : public CIMG_file {
 public:
  explicit ChainStage(IMG_file* below) : below_(below) {}
  ~ChainStage() override { ChainStage::Close(); }

  // Lines go out in order: only the current position can be asked for.
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override {
    const int32_t target = whence == 1 ? m_line + line : (whence == 0 ? line : -1);
    return plane == 0 && page == 0 && target == m_line ? m_line : -1;
  }
  int32_t GetStatus(int32_t what) override { return below_ ? img_status(below_, what) : -1; }
  int32_t Close() override {
    IMG_file* below = below_;
    below_ = nullptr;
    return below ? img_close_status(below) : 0;
  }

 protected:
  IMG_file* below_;
};

struct PlacementFree {
  void operator()(HTPLACE* p) const { HTPlaceFree(p); }
};

struct FrameInks;

// How a frame takes the caller's image.
struct FramePlan {
  // Screened at print time (contone lines), else the image is the dots.
  bool contone = false;
  int32_t xrep = 1, yrep = 1;
  image_info dots{};    // the dots before the repeat: line-interleaved
  image_info screen{};  // contone: what the screening reads (ink amounts)
  image_info colour{};  // contone with a conversion: what the conversion reads
  image_info caller{};  // what the caller writes
  bool filter = false;  // the caller's lines go through the line filter first
  bool layout = false;  // dots: pixel-interleaved, laid out as lines first
  std::unique_ptr<ColorConversion> conversion;
  std::unique_ptr<HTPLACE, PlacementFree> placement;
  int threads = 1;
  int pattern = 0;
  std::string calibration;  // the calibration the conversion applies ("" none)
  // Contone: the process record and restriction the placement screens with,
  // kept by the chain until it is closed.
  std::shared_ptr<FrameInks> inks;
};

// Plans the frame of `image` for a printer taking `setup`'s channels.
// False after a log line when the image cannot be printed (status 2).
// `driver` is the driver's process record of the frame's media and mode
// (null when it has none).
bool plan_frame(const CPrintFrameInfo& frame, const image_info& image, const SP_COLOR_SETUP& setup,
                PRNTINFO* printer, const char* printer_name, FramePlan* plan,
                const MLPROCINFO* driver = nullptr);

// Builds the chain over `frame_img` (the started frame): the repeat, the
// screening, the colour conversion and the line filter as planned. The head,
// or null when a stage could not be made (everything below is then closed).
IMG_file* build_chain(FramePlan& plan, IMG_file* frame_img);

// A frame's lines as an image description: line-interleaved channels of the
// print record's shape (what a buffered frame's file holds).
image_info frame_lines_of(const SP_PRINT& print, int32_t channels, int32_t spots);

// Repeats each sample of line-interleaved lines (`in`: 1, 2, 4 or 8 bits)
// xrep times across and each line yrep times down into `below`.
IMG_file* repeat_stage_open(IMG_file* below, const image_info& in, int32_t xrep, int32_t yrep);

// Converts 8-bit pixel-interleaved lines described by `in` through
// `conversion` into `below` (which takes the conversion's output).
IMG_file* color_stage_open(IMG_file* below, std::unique_ptr<ColorConversion> conversion,
                           const image_info& in);

// The process record a frame screens with and the ink-restriction links of
// its colours (print_inks.cpp).
struct FrameInks {
  std::unique_ptr<MLPROCINFO> record;
  proc::InkLinks links;
  std::string restriction;  // the library member restricting the inks, "" none
};

// The inks of a frame of `printer` at `res` (the library's resolution key)
// screened with `pattern`: the driver's record made fit for one bit per ink
// with the library's restriction linked in. Null after a log line when the
// library's restriction cannot be read.
std::shared_ptr<FrameInks> frame_inks(const char* printer, const CPrintFrameInfo& frame,
                                      const std::string& res, const CPrintMode* mode, int pattern,
                                      const MLPROCINFO* driver);

// Fills the print record's page fields (printobj_cxx.h) for `frame`
// (width, height and resolutions already in the record) printed in `mode`.
void fill_page_fields(SP_PRINT* print, PRNTINFO* printer, const CPrintFrameInfo& frame,
                      const CPrintMode* mode);

// A pass-through stage holding `inks` until the chain below is closed.
IMG_file* keep_inks_open(IMG_file* below, std::shared_ptr<FrameInks> inks);

}  // namespace klv::printing
