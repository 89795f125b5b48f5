// SPDX-License-Identifier: MIT
// What the image processing driver's files share: the print-file names of a
// job and the stages of one run.
#pragma once

#include <string>

#include "klv/imgproc.h"
#include "klv/imgproc_cxx.h"

namespace klv::proc {

// The source tag of the driver's log lines.
inline constexpr const char* kTag = "ProcImg";

// Where the print-file list goes: Printpath, or "<folder>/<name>.prt" when
// Printpath names a folder. Empty when the record has no Printpath.
std::string list_path_of(const settings& s);
// The list path without its extension: the base of every print file.
std::string print_base_of(const settings& s);
// "<base>.<kind><page as %03d>".
std::string page_name_of(const settings& s, char kind, int page);
// Copies a text into a C buffer; false (and "" when size > 0) when it does
// not fit.
bool copy_out(const std::string& text, char* out, int32_t size);

}  // namespace klv::proc

#include <cstdarg>
#include <ctime>
#include <memory>
#include <vector>

#include "klv/color_convert_cxx.h"
#include "klv/cropfilter.h"
#include "klv/filter.h"
#include "klv/halftone_mlproc.h"
#include "klv/htplace.h"
#include "klv/img.h"
#include "klv/ocfimg.h"
#include "klv/prntinfo.h"
#include "klv/screen_setup.h"
#include "klv/ucc.h"

namespace klv::proc {

struct ScreenSetupFree {
  void operator()(_SCREENSETUP* s) const { free_screen_settings(s); }
};
struct PlacementFree {
  void operator()(HTPLACE* p) const { HTPlaceFree(p); }
};
struct ImgClose {
  void operator()(IMG_file* img) const { img_close(img); }
};
using ImgPtr = std::unique_ptr<IMG_file, ImgClose>;
struct UccChainFree {
  void operator()(t_ucc_node* chain) const;
};
struct UccInfoFree {
  void operator()(ucc_info* info) const;
};
struct InkTally;
struct ContoneCopy;
struct ContoneCopyFree {
  void operator()(ContoneCopy* c) const;
};
struct PrntInfoFree {
  void operator()(PRNTINFO* p) const { prntinfo_free(p); }
};

// The ink-restriction channels linked into a process record, released with
// the run.
struct InkLinks {
  std::vector<uint32_t> handles;
  InkLinks() = default;
  InkLinks(const InkLinks&) = delete;
  InkLinks& operator=(const InkLinks&) = delete;
  ~InkLinks();
};

// One run of the driver: what the caller asked, what the stages found and
// what they hold open. Every holder releases itself on any way out.
struct Job {
  // Asked.
  std::string job;
  const settings* s = nullptr;
  std::string name;
  ProcOptions options;
  imgproc_callback callback = nullptr;
  void* context = nullptr;
  ProcOutcome* out = nullptr;
  // Found by the stages.
  std::string list_path;
  std::string printer_folder;
  std::unique_ptr<PRNTINFO, PrntInfoFree> printer;  // the repository's record, when it has one
  const CPrintMode* mode = nullptr;                 // the job's mode in that record
  int pattern = 0;                                  // the dot pattern (DP_*) screened with
  std::string pattern_text;                         // its text, "Screen(85 lpi)" say
  double xres = 0, yres = 0;
  int width = 0, height = 0;
  int pages = 1;     // pages of the image; each becomes its own print file
  int rotation = 0;  // quarter turns (bit 2: mirrored) asked by the job
  ImgPtr input;      // the image as the input stage opened it (read by the first page)
  image_info source{};
  ColorModel model = ColorModel::kRgb;
  std::vector<uint8_t> profile;
  ColorConversionSetup colour;
  std::string calibration;  // the printer's calibration of the job's mode
  std::unique_ptr<ColorConversion> conversion;
  image_info lines{};   // what the reader delivers (before conversion)
  image_info target{};  // what the screening reads
  std::unique_ptr<_SCREENSETUP, ScreenSetupFree> screens;
  std::unique_ptr<HTPLACE, PlacementFree> placement;
  int threads = 1;
  std::shared_ptr<InkTally> ink_tally;  // the counts as the pages are written
  std::vector<uint64_t> inks;           // dots per ink over every page, when counted
  std::vector<double> ink_ml;           // the millilitres those dots hold (empty: volumes unknown)
  std::string start_date, start_time;
  std::time_t started = 0;
  // Progress: lines screened of every page.
  int64_t lines_done = 0;
  // Where the output stage's time went: reading (and scaling) the image,
  // converting its colours, screening and writing the dots.
  double reading_s = 0, colour_s = 0, screening_s = 0;
  int last_tenths = -1;
  bool cancelled = false;
  // The multi-level process record the placement is given (the driver's, or
  // a plain one), with the job's ink restriction linked into its colours.
  std::unique_ptr<MLPROCINFO> mlproc;
  InkLinks ink_links;
  std::string ink_restriction;  // the library member restricting the inks, "" none
  std::string output_profile;   // the profile library's output profile, "" none
  std::string colour_text;      // the conversion as told ("" for none)
  // The job's colour chain (read from the job or built), and the context
  // and line-filter transform of its adjustment nodes when it has any.
  std::unique_ptr<t_ucc_node, UccChainFree> chain;
  std::unique_ptr<ucc_info, UccInfoFree> adjust;
  filter_transform adjust_transform{};
  // The job's crop box as fractions of the image (whole: not cropped) and
  // its bleed (margins around the page, at the printer's resolution).
  cropfltr_info crop{0, 0, 1, 1};
  bool cropped = false;
  ocfi_info bleed{};
  int32_t bleed_px[4] = {};  // left, top, right, bottom
  image_info content{};      // the image at the page's resolution, before the bleed
  // The job's contone copy (PrintCache), which the output reads when kept.
  std::unique_ptr<ContoneCopy, ContoneCopyFree> contone;

  // Tells a failure: a status message, a log line and the outcome's error.
  // Always false.
  bool Fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Status(const std::string& text) const;
  void Message(const std::string& text) const;
  // Asks the caller whether to stop; remembers a yes.
  bool Cancelled();
  // Sends the progress of done out of total when its tenth changed.
  void Progress(int64_t done, int64_t total);
};

// The stages, in the order they run; each false after telling why.
bool stage_setup(Job& j);
bool stage_printer(Job& j);
bool stage_colour(Job& j);
bool stage_screens(Job& j);
bool stage_input(Job& j);
bool stage_contone(Job& j);
bool stage_screening(Job& j);
bool stage_output(Job& j);
bool stage_ink(Job& j);
bool stage_finish(Job& j);

// The printer stage's process record: the driver's record for the job's
// media and mode (else a plain one) with the profile library's "InkRstr"
// restriction of the job's media, resolution and pattern linked into it.
bool build_process_record(Job& j);
// A driver's process record (null: the driver has none, a plain record of
// four inks) made fit for one bit per ink: its drop levels left out.
std::unique_ptr<MLPROCINFO> one_bit_record(const MLPROCINFO* driver);
// Links the profile library's "InkRstr" restriction of the job's media,
// resolution and pattern (j.pattern_text) into j.mlproc, which is set.
bool link_ink_restriction(Job& j);
// The colour stage's chain: the job's ".\\File.UCC" and ".\\File.CCX" when
// it has them (their calibration node then names the calibration), else one
// built from the job; saved back into the job.
bool job_chain(Job& j);
// A contone page file that takes the ink amounts through the job's ink
// restriction as they are written (the page itself when there is none);
// owns `page`. Null after telling why.
IMG_file* restrict_contone(Job& j, IMG_file* page);
// A temporary file, removed with its holder.
struct TempFile {
  std::string path;
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile();
};
// The profile library's default output profile of the job's media,
// resolution and pattern (entries of type 2), copied into `file` for the
// colour conversion to open; its name goes to j.output_profile. False when
// the printer has no library or the library no such profile.
bool library_output_profile(Job& j, TempFile* file);

// Opens the job's image for reading (through the caller's opener when it
// gave one), at page `page` (from 0); null when it cannot.
IMG_file* open_image(Job& j, image_info* info, int page);
// The page file `dots` (open for writing) wrapped so that its dots are
// counted as they are written, when the job counts ink; else `dots`.
IMG_file* count_ink_while_writing(Job& j, IMG_file* dots, const std::string& page);
// Page `index` (from 0) of the job's image as the output chain reads it:
// cropped, at the printer's resolution, turned, adjusted and bled; null after
// telling why (imgproc_output.cpp).
IMG_file* page_lines(Job& j, int index);
// Page `page` (from 0) of the job's contone copy as the page's lines; null
// after telling why (imgproc_contone.cpp).
IMG_file* open_contone(Job& j, int page);
// Whether the job's print-file list is cut into tiles.
bool tiled_job(const settings& s);

}  // namespace klv::proc

namespace klv::proc {

// Screening threads: the caller's number, else one per processor when the
// registry value "MultiThreadedProcess" is above 0, else one
// (imgproc_screening.cpp; print frames use it too).
int threads_of(const ProcOptions& options);
// The placement method that screens a dot pattern (DP_*).
uint32_t method_of(int pattern);

}  // namespace klv::proc
