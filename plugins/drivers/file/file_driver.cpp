// SPDX-License-Identifier: MIT
// The file driver: a printer whose port is a folder. Each job becomes one
// multi-page TIFF "<job>.tif" there (one page per print, one plane per
// separation in the order received), and each print a PNG preview
// "<job>-<page>.png". It describes a four-ink printer (received as black,
// cyan, magenta, yellow) with a three-drop 2-bit mode, and counts the dots of
// every separation for the ink and dot counting commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "file_output.h"
#include "page_writer.h"
#include "../common/driver_text.h"
#include "klv/log.h"
#include "klv/printer_plugin.h"
#include "klv/prntinfo.h"

namespace {

using klvdrv::PrintShape;
using klvdrv::Separation;

// Driver result when the output cannot be written.
constexpr int32_t kErrOutput = 100;
// Driver result when the job's abort callback asked to stop.
constexpr int32_t kErrAborted = 101;

struct Driver {
  std::string device, printer, port;
  SP_CAPABILITIES caps{};
  std::vector<Separation> separations;  // in the order received
  std::string job_name;
  bool in_job = false, in_print = false;
  uint16_t page = 0;
  PrintShape shape;
  uint32_t row = 0;
  // The pages, written beside the caller when there are cores to spare.
  klvdrv::PageWriter pages{klvdrv::SeveralCores()};
  std::string tiff_path;             // the job's TIFF
  klvdrv::DropCounter ink;           // the ink count in progress
  std::vector<uint64_t> ink_levels;  // its per-level counts when the caller keeps none
  std::string last_output;
  SP_ABORT_FN abort_fn = nullptr;  // the job's abort callback, asked before each line
  void* abort_object = nullptr;
};

Driver* self(SP_DRIVER d) {
  return static_cast<Driver*>(d);
}

std::string default_port() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/klvdrv_file";
}

const Separation kInks[4] = {{"Black", {0, 0, 0}},
                             {"Cyan", {0, 255, 255}},
                             {"Magenta", {255, 0, 255}},
                             {"Yellow", {255, 255, 0}}};

SP_DRIVER drv_open(const char* device, int32_t* error, const char* printer) {
  auto* d = new (std::nothrow) Driver;
  if (!d) {
    if (error) *error = SP_ERR_MEMORY;
    return nullptr;
  }
  d->device = device ? device : "";
  d->printer = printer ? printer : "";
  d->port = default_port();
  d->caps.size = sizeof d->caps;
  d->caps.channels = 4;
  d->caps.bits = 2;
  d->caps.xres = 720;
  d->caps.yres = 720;
  std::snprintf(d->caps.name, sizeof d->caps.name, "file");
  d->caps.max_width = 24.0;
  d->caps.max_length = 1200.0;
  d->caps.key = 0x46494C45;  // "FILE"
  return d;
}

int32_t drv_close(SP_DRIVER d) {
  delete self(d);
  return 0;
}

int32_t drv_init_from_info(SP_DRIVER, SP_INFO*, const char*) {
  return 0;
}
SP_CAPABILITIES* drv_get_capabilities(SP_DRIVER d) {
  return &self(d)->caps;
}

int32_t drv_start_job(SP_DRIVER d, SP_JOB* job) {
  Driver* p = self(d);
  if (p->in_job) p->pages.Close();
  p->job_name = klvdrv::file_stem(job ? job->name : nullptr);
  p->abort_fn = job ? job->abort_fn : nullptr;
  p->abort_object = job ? job->abort_object : nullptr;
  p->page = 0;
  p->in_job = true;
  std::error_code ec;
  std::filesystem::create_directories(p->port, ec);
  const std::string path = p->port + "/" + p->job_name + ".tif";
  if (!p->pages.Open(path)) {
    KLV_LOG(KLV_LOG_ERROR, "file driver: cannot create \"%s\"", path.c_str());
    p->in_job = false;
    return kErrOutput;
  }
  p->last_output = p->tiff_path = path;
  return 0;
}

// The job's TIFF could not be written: the page stops, the job fails and its
// unfinished TIFF is removed.
int32_t output_failed(Driver* p) {
  KLV_LOG(KLV_LOG_ERROR, "file driver: cannot write \"%s\"", p->tiff_path.c_str());
  p->pages.Close();
  std::error_code ec;
  std::filesystem::remove(p->tiff_path, ec);
  p->in_print = false;
  p->in_job = false;
  return kErrOutput;
}

int32_t start_print(Driver* p, const SP_PRINT* print) {
  if (!p->in_job) {
    SP_JOB job{};
    std::snprintf(job.name, sizeof job.name, "%s", p->printer.c_str());
    if (int32_t r = drv_start_job(p, &job)) return r;
  }
  PrintShape shape;
  shape.width = print->width;
  shape.height = print->height;
  shape.bits = print->bits;
  shape.channels = print->channels ? print->channels : 4;
  shape.xres = print->xres;
  shape.yres = print->yres;
  const bool bits_ok = shape.bits == 1 || shape.bits == 2 || shape.bits == 4;
  if (!bits_ok || shape.width == 0 || shape.height == 0 || shape.width > (1u << 20) ||
      shape.height > (1u << 24) || shape.channels > SP_MAX_CHANNELS) {
    KLV_LOG(KLV_LOG_ERROR,
            "file driver: print of %ux%u pixels, %u bits, %u channels is not supported",
            shape.width, shape.height, shape.bits, shape.channels);
    return SP_ERR_ARGUMENT;
  }
  std::vector<Separation> seps;
  for (uint32_t c = 0; c < shape.channels; ++c) {
    if (shape.channels == 4) {
      seps.push_back(kInks[c]);
    } else if (shape.channels == 1) {
      seps.push_back(kInks[0]);
    } else {
      Separation s{"Ink" + std::to_string(c + 1), {128, 128, 128}};
      seps.push_back(s);
    }
  }
  p->separations = seps;
  p->shape = shape;
  p->row = 0;
  ++p->page;
  if (!p->pages.StartPage(shape, seps, print->name, static_cast<uint16_t>(p->page - 1)))
    return kErrOutput;
  p->in_print = true;
  return 0;
}

int32_t drv_start_print(SP_DRIVER d, SP_PRINT* print, char* text) {
  const int32_t r = start_print(self(d), print);
  if (r == 0 && text) std::snprintf(text, SP_PRINT_TEXT_SIZE, "page %u", self(d)->page);
  return r;
}

int32_t drv_start_print_ex(SP_DRIVER d, SP_PRINT* print, uint8_t* result) {
  const int32_t r = start_print(self(d), print);
  if (r == 0 && result) std::memcpy(result, &self(d)->page, sizeof(uint16_t));
  return r;
}

int32_t drv_print_scanline_data(SP_DRIVER d, const uint8_t* data, int32_t count) {
  Driver* p = self(d);
  if (!p->in_print || !data || count < 0) return SP_ERR_ARGUMENT;
  if (p->abort_fn && p->abort_fn(p->abort_object)) {
    KLV_LOG(KLV_LOG_INFO, "file driver: job \"%s\" aborted at line %u", p->job_name.c_str(),
            p->row);
    p->pages.StopPage();
    p->in_print = false;
    return kErrAborted;
  }
  // The lines that fit the print are taken; more are refused.
  const uint32_t room = p->shape.height - p->row;
  const uint32_t take = static_cast<uint32_t>(count) < room ? static_cast<uint32_t>(count) : room;
  if (take > 0 && !p->pages.AddLines(data, take)) return output_failed(p);
  p->row += take;
  if (take < static_cast<uint32_t>(count)) {
    KLV_LOG(KLV_LOG_ERROR, "file driver: more lines than the print's %u", p->shape.height);
    return SP_ERR_ARGUMENT;
  }
  return 0;
}

int32_t drv_skip_lines(SP_DRIVER d, int32_t lines) {
  Driver* p = self(d);
  if (!p->in_print || lines < 0) return SP_ERR_ARGUMENT;
  std::vector<uint8_t> blank(p->shape.LineBytes(), 0);
  for (int32_t i = 0; i < lines; ++i)
    if (int32_t r = drv_print_scanline_data(d, blank.data(), 1)) return r;
  return 0;
}

int32_t drv_end_print(SP_DRIVER d) {
  Driver* p = self(d);
  if (!p->in_print) return 0;
  p->in_print = false;
  const std::string png = p->port + "/" + p->job_name + "-" + std::to_string(p->page) + ".png";
  switch (p->pages.EndPage(png)) {
    case klvdrv::PageWriter::End::kDone:
      return 0;
    case klvdrv::PageWriter::End::kTiffFailed:
      return output_failed(p);
    case klvdrv::PageWriter::End::kPngFailed:
      break;
  }
  KLV_LOG(KLV_LOG_ERROR, "file driver: cannot write \"%s\"", png.c_str());
  return kErrOutput;
}

int32_t drv_end_job(SP_DRIVER d) {
  Driver* p = self(d);
  int32_t result = p->in_print ? drv_end_print(d) : 0;
  if (p->in_job && !p->pages.Close() && result == 0) result = output_failed(p);
  p->pages.Close();
  p->in_job = false;
  p->abort_fn = nullptr;
  return result;
}

int32_t drv_cancel_job(SP_DRIVER d) {
  Driver* p = self(d);
  p->in_print = false;
  p->pages.Close();
  p->in_job = false;
  p->abort_fn = nullptr;
  return 0;
}

int32_t drv_get_info_str(SP_DRIVER d, char* text, int32_t size, int32_t item) {
  // Item 1: the last output file; anything else the device name.
  return klvdrv::copy_text_out(item == 1 ? self(d)->last_output : self(d)->device, text, size);
}

int32_t drv_get_info_num(SP_DRIVER, int32_t* value, const void*, const void*, const void*,
                         int32_t item) {
  if (!value) return SP_ERR_ARGUMENT;
  switch (item) {
    case 0:
      *value = 4;
      break;  // channels
    case 4:
    case 5:
    case 17:
    case 20:
    case 21:
      *value = 1;
      break;
    default:
      *value = 0;
      break;  // 7: plain inks, 8: no spots, 35: no swatch, 46: accept
  }
  return 0;
}

SP_INFO* drv_load_info(SP_DRIVER, const char* folder) {
  PRNTINFO* info = folder ? prntinfo_load_info(folder) : nullptr;
  if (!info) return nullptr;
  auto* out = static_cast<SP_INFO*>(std::calloc(1, sizeof(SP_INFO)));
  if (!out) {
    prntinfo_free(info);
    return nullptr;
  }
  out->size = sizeof(SP_INFO);
  out->prntinfo = info;
  return out;
}

SP_INFO* drv_copy_info(SP_DRIVER, const SP_INFO* info) {
  if (!info) return nullptr;
  auto* out = static_cast<SP_INFO*>(std::calloc(1, sizeof(SP_INFO)));
  if (!out) return nullptr;
  out->size = sizeof(SP_INFO);
  out->prntinfo = info->prntinfo ? prntinfo_copy(info->prntinfo) : nullptr;
  return out;
}

int32_t drv_free_info(SP_DRIVER, SP_INFO* info) {
  if (!info) return 0;
  prntinfo_free(info->prntinfo);
  std::free(info);
  return 0;
}

int32_t drv_get_port_name(SP_DRIVER d, char* out, int32_t size) {
  return klvdrv::copy_text_out(self(d)->port, out, size);
}

int32_t drv_set_port_name(SP_DRIVER d, const char* port) {
  return klvdrv::set_port_text(self(d)->port, port);
}

int32_t drv_get_color_info(SP_DRIVER, const void*, const void*, SP_COLOR_INFO* out) {
  if (!out) return SP_ERR_ARGUMENT;
  return SP_get_default_ENU_color_info(out, 4, 0, 0) ? 0 : SP_ERR_COLOR_SETUP;
}

// Three drops (small 1, medium 2, large 3) over three equal tone levels.
int32_t drv_get_mlproc_info(SP_DRIVER, const char*, const char*, MLPROCINFO* out) {
  if (!out) return SP_ERR_ARGUMENT;
  std::memset(out, 0, sizeof *out);
  out->code_bits = 2;
  out->output_bits = 2;
  out->colors = 4;
  for (int c = 0; c < 4; ++c) {
    MLPROCCOLORINFO& color = out->color[c];
    color.levels = 3;
    const uint8_t widths[3] = {85, 85, 85};
    for (int l = 0; l < 3; ++l) {
      color.mid_code[l] = static_cast<uint8_t>(l);
      color.upper_code[l] = static_cast<uint8_t>(l + 1);
      color.width[l] = widths[l];
    }
  }
  return 0;
}

// Ink counting: a counter record describes the image; its lines are counted
// by channel and drop size, independently of any print in progress.
int32_t ink_start(Driver* p, SP_INK_COUNTER* c) {
  if (!c || c->size != sizeof *c || c->samples == 0 || c->samples > SP_MAX_CHANNELS ||
      c->width == 0 || c->width > (1u << 24) || !p->ink.SetShape(c->bits, c->width)) {
    KLV_LOG(KLV_LOG_ERROR, "file driver: cannot count ink of this image");
    return SP_ERR_ARGUMENT;
  }
  if (c->drops && c->drop_levels != p->ink.Levels()) return SP_ERR_ARGUMENT;
  std::memset(c->dots, 0, sizeof c->dots);
  if (c->drops) std::memset(c->drops, 0, sizeof(uint64_t) * c->samples * c->drop_levels);
  c->lines = 0;
  p->ink_levels.assign(p->ink.Levels(), 0);
  return 0;
}

int32_t ink_line(Driver* p, SP_INK_COUNTER* c, const uint8_t* line) {
  if (!c || !line || c->size != sizeof *c || p->ink_levels.size() != p->ink.Levels())
    return SP_ERR_ARGUMENT;
  const size_t row = p->ink.RowBytes();
  for (uint32_t ch = 0; ch < c->samples; ++ch) {
    uint64_t* counts =
        c->drops ? c->drops + static_cast<size_t>(ch) * c->drop_levels : p->ink_levels.data();
    c->dots[ch] += p->ink.Count(line + ch * row, counts);
  }
  ++c->lines;
  return 0;
}

int32_t drv_command(SP_DRIVER d, int32_t code, void* a, void* b) {
  Driver* p = self(d);
  auto* counts = static_cast<_SP_DOT_COUNT*>(a);
  switch (code) {
    case SP_CMD_INK_START:
      return ink_start(p, static_cast<SP_INK_COUNTER*>(a));
    case SP_CMD_INK_LINE:
      return ink_line(p, static_cast<SP_INK_COUNTER*>(a), static_cast<const uint8_t*>(b));
    case SP_CMD_INK_FINISH:
      return a && static_cast<SP_INK_COUNTER*>(a)->size == sizeof(SP_INK_COUNTER) ? 0
                                                                                  : SP_ERR_ARGUMENT;
    case SP_CMD_DOTS_RESET:
      p->pages.ResetDots();
      return 0;
    case SP_CMD_DOTS_GET:
      if (!counts) return SP_ERR_ARGUMENT;
      counts->size = sizeof *counts;
      if (auto* ink = static_cast<const SP_INK_COUNTER*>(b)) {
        if (ink->size != sizeof *ink) return SP_ERR_ARGUMENT;
        counts->channels = ink->samples;
        std::memcpy(counts->dots, ink->dots, sizeof ink->dots);
        return 0;
      }
      counts->channels = p->shape.channels;
      std::memcpy(counts->dots, p->pages.Dots(), sizeof counts->dots);
      return 0;
    case SP_CMD_RELEASE_CAPS:
      return 0;  // the record is the driver's own
    case SP_CMD_FILL_CAPS:
      if (a) *static_cast<SP_CAPABILITIES**>(a) = &p->caps;
      return 0;
    default:
      return SP_ERR_OPTIONAL;
  }
}

struct printer_funcs make_table() {
  struct printer_funcs t {};
  t.size = KLV_PRINTER_FUNCS_SIZE;
  t.open = drv_open;
  t.close = drv_close;
  t.init_from_info = drv_init_from_info;
  t.get_capabilities = drv_get_capabilities;
  t.start_job = drv_start_job;
  t.start_print = drv_start_print;
  t.print_scanline_data = drv_print_scanline_data;
  t.skip_lines = drv_skip_lines;
  t.end_print = drv_end_print;
  t.end_job = drv_end_job;
  t.cancel_job = drv_cancel_job;
  t.get_info_str = drv_get_info_str;
  t.get_info_num = drv_get_info_num;
  t.copy_info = drv_copy_info;
  t.load_info = drv_load_info;
  t.free_info = drv_free_info;
  t.get_mlproc_info = drv_get_mlproc_info;
  t.get_port_name = drv_get_port_name;
  t.set_port_name = drv_set_port_name;
  t.get_color_info = drv_get_color_info;
  t.command = drv_command;
  t.start_print_ex = drv_start_print_ex;
  return t;
}

}  // namespace

extern "C" {
KLV_API struct printer_funcs printer_funcs = make_table();
}
