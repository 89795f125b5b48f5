// SPDX-License-Identifier: MIT
// The driver's last stages: the halftone placement and its threads, the
// output chain (the image at the page's size, its colour conversion, the
// halftone filter and the page's print file, its ink counted as it is
// written) with progress and cancellation, on the caller's thread or with
// several threads through the line pipeline (imgproc_pipe.h; the times of
// its parts are then summed over the threads), and the finish: the
// print-file list and the processing record beside it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "imgproc_internal.h"
#include "img/formats/ocf_stream.h"
#include "imgproc_pipe.h"
#include "klv/imgmux.h"
#include "klv/job_settings_cxx.h"
#include "klv/outimg.h"
#include "klv/printmode.h"
#include "klv/proc_info.h"
#include "klv/registry.h"

namespace klv::proc {
namespace {

namespace fs = std::filesystem;

// Lines per hand-over to the screening engines.
constexpr int kChunk = 64;
// The process colours of the print files, in separation order.
constexpr const char* kInks[4] = {"Cyan", "Magenta", "Yellow", "Black"};

// The dot file's description: the page at 1 bit per ink.
image_info dots_of(const image_info& target) {
  image_info out = target;
  out.bits_per_sample = 1;
  out.photometric = KLV_PHOTO_MINWHITE;
  out.compression = 0;
  out.bytes_per_line = image_info_line_bytes(&out);
  return out;
}

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

// A placement for one page (the halftone filter frees it when done).
bool make_placement(Job& j) {
  j.placement.reset(HTPlaceAlloc(4, j.xres, j.yres, 0, 0, 0, method_of(j.pattern), j.screens.get(),
                                 nullptr, nullptr, nullptr, 0));
  if (!j.placement) return j.Fail("The screening of \"%s\" cannot be set up", j.name.c_str());
  HTPlaceSetDetachDelete(j.placement.get(), 1);
  // The process record carries the job's ink restriction to the engines.
  if (j.mlproc && !HTPlaceSetLinearization(j.placement.get(), 0, nullptr, j.mlproc.get()))
    return j.Fail("The ink restriction of \"%s\" cannot be given to the screening", j.name.c_str());
  // Several threads: every separation on an engine thread of its own (the
  // ring of engines), so that this thread stays free to read and convert
  // the lines that feed them.
  if (j.threads > 1)
    for (int s = 0; s < 4; ++s) HTPlaceGetThreadFlagArray(j.placement.get())[s] = 1;
  return true;
}

using Clock = std::chrono::steady_clock;

// Adds the time since `from` to `seconds` and restarts `from`.
void lap(Clock::time_point* from, double* seconds) {
  const Clock::time_point now = Clock::now();
  *seconds += std::chrono::duration<double>(now - *from).count();
  *from = now;
}

// Converts `n` lines of `in` into `out`.
void convert_lines(const Job& j, const uint8_t* in, uint8_t* out, int n) {
  const size_t in_bytes = j.lines.bytes_per_line, out_bytes = j.target.bytes_per_line;
  for (int y = 0; y < n; ++y)
    j.conversion->Line8(in + y * in_bytes, out + y * out_bytes, uint32_t(j.width));
}

// With several threads: the page through the line pipeline (reading and
// converting on a second thread while the screening takes the chunks
// before). False when it cannot start (then nothing was read).
bool pipe_page(Job& j, IMG_file* in, IMG_file* ht, const std::string& page, bool* ok) {
  const int64_t total = int64_t(j.height) * j.pages;
  PipeLines p;
  p.in = in;
  p.out = ht;
  p.conversion = j.conversion.get();
  p.width = j.width;
  p.height = j.height;
  p.chunk = kChunk;
  p.in_bytes = j.lines.bytes_per_line;
  p.out_bytes = j.target.bytes_per_line;
  p.stop = [&j] { return j.Cancelled(); };
  p.written = [&j, total](int n) {
    j.lines_done += n;
    j.Progress(j.lines_done, total);
  };
  PipeOutcome why;
  if (!pipe_lines(p, &why)) return false;
  j.reading_s += why.reading_s;
  j.colour_s += why.colour_s;
  j.screening_s += why.screening_s;
  switch (why.kind) {
    case PipeOutcome::kDone:
      *ok = true;
      break;
    case PipeOutcome::kStopped:
      *ok = j.Fail("Cancelled while screening \"%s\"", j.name.c_str());
      break;
    case PipeOutcome::kReadFailed:
      *ok = j.Fail("Reading \"%s\" failed at line %d", j.s->Imagepath, why.line);
      break;
    case PipeOutcome::kWriteFailed:
      *ok = j.Fail("Screening \"%s\" failed at line %d", page.c_str(), why.line);
      break;
  }
  return true;
}

// Copies every line of one page from `in` through the conversion into `ht`;
// false after telling why (or when cancelled).
bool pull_lines(Job& j, IMG_file* in, IMG_file* ht, const std::string& page) {
  bool piped = false;
  if (j.threads > 1 && pipe_page(j, in, ht, page, &piped)) return piped;
  const size_t in_bytes = j.lines.bytes_per_line, out_bytes = j.target.bytes_per_line;
  std::vector<uint8_t> read(in_bytes * kChunk), converted(j.conversion ? out_bytes * kChunk : 0);
  const int64_t total = int64_t(j.height) * j.pages;
  Clock::time_point at = Clock::now();
  for (int done = 0; done < j.height;) {
    if (j.Cancelled()) return j.Fail("Cancelled while screening \"%s\"", j.name.c_str());
    const int n = std::min(kChunk, j.height - done);
    if (img_read_line(in, read.data(), n) != n)
      return j.Fail("Reading \"%s\" failed at line %d", j.s->Imagepath, done);
    lap(&at, &j.reading_s);
    uint8_t* lines = read.data();
    if (j.conversion) {
      convert_lines(j, read.data(), converted.data(), n);
      lines = converted.data();
      lap(&at, &j.colour_s);
    }
    if (img_write_line(ht, lines, n) != n)
      return j.Fail("Screening \"%s\" failed at line %d", page.c_str(), done);
    lap(&at, &j.screening_s);
    done += n;
    j.lines_done += n;
    j.Progress(j.lines_done, total);
  }
  return true;
}

// Screens page `index` (from 0) of the image into its print file.
bool output_page(Job& j, int index) {
  // A kept contone copy holds the page's lines already (cropped, scaled,
  // adjusted and bled).
  ImgPtr in(j.contone ? open_contone(j, index) : page_lines(j, index));
  if (!in) return false;
  const bool contone = j.pattern == DP_CONTONE;
  const std::string page = page_name_of(*j.s, contone ? 'C' : 'B', index + 1);
  if (!contone && index > 0 && !make_placement(j)) return false;
  image_info out = contone ? j.target : dots_of(j.target);
  IMG_file* dots = outimg_open_img(page.c_str(), nullptr, "w", &out);
  if (!dots) return j.Fail("Cannot create print file \"%s\"", page.c_str());
  if (!contone) dots = count_ink_while_writing(j, dots, page);
  // Contone pages take the ink amounts as they are. Otherwise the filter
  // owns the dot file and the placement from here (also when it cannot
  // start).
  IMG_file* ht = contone ? restrict_contone(j, dots)
                         : HTPlace_AttachImg(j.placement.release(), dots, &j.target, kChunk, 0);
  if (!ht) return contone ? false : j.Fail("The screening of \"%s\" cannot start", page.c_str());
  const bool lines_ok = pull_lines(j, in.get(), ht, page);
  Clock::time_point at = Clock::now();
  const bool status_ok = img_status(ht, 0) == 1;
  const bool closed_ok = img_close_status(ht) == 0;
  lap(&at, &j.screening_s);
  if (!lines_ok) return false;
  if (!status_ok || !closed_ok)
    return j.Fail("Writing print file \"%s\" failed (is the disk full?)", page.c_str());
  if (j.out) j.out->print_files.push_back(page);
  return true;
}

}  // namespace

IMG_file* page_lines(Job& j, int index) {
  filter_info options{};
  options.stretch = 1;
  options.rotation = uint8_t(j.rotation);
  if (j.adjust) options.transform = &j.adjust_transform;
  image_info info;
  init_image_info(&info);
  IMG_file* source = index == 0 && j.input ? j.input.release() : open_image(j, &info, index);
  if (!source) return j.Fail("Cannot open page %d of \"%s\"", index + 1, j.s->Imagepath), nullptr;
  // The crop box before the scaling, the bleed around the scaled page.
  if (j.cropped) {
    // The filter refuses tiled sources (leaving them open); the box is
    // inside the image, so any other refusal is a lack of memory, after
    // which the filter has closed the source.
    if (source->info.planar & KLV_PLANAR_TILED) {
      img_close(source);
      return j.Fail("\"%s\" is tiled and cannot be cropped", j.s->Imagepath), nullptr;
    }
    cropfltr* crop = cropfltr_attach(source, &j.crop);
    source = crop ? cropfltr_to_img(crop) : nullptr;
    if (!source) return j.Fail("Cannot crop \"%s\"", j.s->Imagepath), nullptr;
  }
  IMG_file* in = filter_img_attach(source, &j.content, &options);
  if (!in) return j.Fail("Cannot read \"%s\" at the printer's resolution", j.s->Imagepath), nullptr;
  if (j.bleed.bleed_on) {
    in = img::ocf_bleed_attach(in, j.bleed);
    if (!in) return j.Fail("Cannot add the bleed around \"%s\"", j.s->Imagepath), nullptr;
  }
  return in;
}

bool stage_screening(Job& j) {
  j.threads = threads_of(j.options);
  if (j.pattern == DP_CONTONE) {
    j.Message("Contone mode: the pages are written as ink amounts, unscreened");
    return true;
  }
  return make_placement(j);
}

bool stage_output(Job& j) {
  for (int page = 0; page < j.pages; ++page)
    if (!output_page(j, page)) return false;
  if (j.out)
    j.out->parts = {{"reading", j.reading_s}, {"colour", j.colour_s}, {"screening", j.screening_s}};
  return true;
}

bool stage_finish(Job& j) {
  if (!proc_make_prt_file(nullptr, j.s, tiled_job(*j.s) ? 1 : 0))
    return j.Fail("Cannot write the print-file list \"%s\"", j.list_path.c_str());
  klv::ProcInfoPtr record(proc_info_new());
  if (!record) return j.Fail("Out of memory");
  proc_info& r = *record;
  put_text(r.ImageFile, j.s->Imagepath);
  put_text(r.JobID, j.name);
  put_text(r.InkConfig, "CMYK");
  put_text(r.PrintPattern, j.pattern_text);
  put_text(r.ProcessStartDate, j.start_date);
  put_text(r.ProcessStartTime, j.start_time);
  r.BitsPerSample = j.pattern == DP_CONTONE ? 8 : 1;
  r.Process16Bit = j.s->Process16Bit;
  for (int s = 0; s < 4; ++s) put_text(r.Separations[s], kInks[s]);
  for (size_t k = 0; k < j.inks.size() && k < 4; ++k) {
    put_text(r.DotCount[k].name, kInks[k]);
    r.DotCount[k].count = j.inks[k];
  }
  const std::time_t seconds = std::time(nullptr) - j.started;
  char total[16];
  std::snprintf(total, sizeof total, "%02u:%02u:%02u", unsigned(seconds / 3600 % 100),
                unsigned(seconds / 60 % 60), unsigned(seconds % 60));
  put_text(r.ProcessTotalTime, total);
  const std::string path = (fs::path(j.list_path).parent_path() / KLV_PROC_INFO_FILE).string();
  if (!put_prtinfo(nullptr, path.c_str(), &r))
    return j.Fail("Cannot write the processing record \"%s\"", path.c_str());
  if (j.out) {
    j.out->list_path = j.list_path;
    j.out->record_path = path;
  }
  return true;
}

}  // namespace klv::proc
