// SPDX-License-Identifier: MIT
// The CUPS raster driver: each job becomes one CUPS raster stream (v3, one
// page per print) written to its port: "|command" pipes it to a command, an
// existing folder receives "<job>.ras", anything else is the file to write.
// Prints of 1 channel go out as K, of 4 channels (received black, cyan,
// magenta, yellow) as CMYK; colours are banded per line, or planar (whole
// planes one after the other) when the print record's flags have
// SP_PRINT_FLAG_PLANAR.
#include <cups/raster.h>
#include "../common/driver_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "klv/log.h"
#include "klv/printer_plugin.h"

namespace {

constexpr int32_t kErrOutput = 100;

struct Driver {
  std::string device, printer, port;
  SP_CAPABILITIES caps{};
  FILE* out = nullptr;
  bool piped = false;
  cups_raster_t* raster = nullptr;
  bool in_print = false;
  bool planar = false;
  uint32_t width = 0, height = 0, bits = 1, channels = 1, row = 0;
  size_t plane = 0;
  std::vector<uint8_t> line;                                           // one banded output line
  std::unique_ptr<FILE, int (*)(FILE*)> spool{nullptr, &std::fclose};  // planar lines
  std::string last_output;
};

Driver* self(SP_DRIVER d) {
  return static_cast<Driver*>(d);
}

// The received plane that goes out as output colour `i`: black comes first
// from the print object and last in CUPS' CMYK.
uint32_t source_plane(uint32_t i, uint32_t channels) {
  return channels == 4 ? (i + 1) % 4 : i;
}

void close_output(Driver* p) {
  if (p->raster) cupsRasterClose(p->raster);
  p->raster = nullptr;
  if (p->out) {
    if (p->piped) {
      pclose(p->out);
    } else {
      std::fclose(p->out);
    }
  }
  p->out = nullptr;
  p->in_print = false;
  p->spool.reset();
}

SP_DRIVER drv_open(const char* device, int32_t* error, const char* printer) {
  auto* d = new (std::nothrow) Driver;
  if (!d) {
    if (error) *error = SP_ERR_MEMORY;
    return nullptr;
  }
  d->device = device ? device : "";
  d->printer = printer ? printer : "";
  const char* tmp = std::getenv("TMPDIR");
  d->port = std::string(tmp && *tmp ? tmp : "/tmp");
  d->caps.size = sizeof d->caps;
  d->caps.channels = 4;
  d->caps.bits = 1;
  d->caps.xres = d->caps.yres = 600;
  std::snprintf(d->caps.name, sizeof d->caps.name, "cups raster");
  d->caps.max_width = 44.0;
  d->caps.max_length = 1200.0;
  d->caps.key = 0x43555053;  // "CUPS"
  return d;
}

int32_t drv_close(SP_DRIVER d) {
  close_output(self(d));
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
  close_output(p);
  std::string target = p->port;
  if (!target.empty() && target[0] == '|') {
    p->out = popen(target.c_str() + 1, "w");
    p->piped = true;
  } else {
    std::error_code ec;
    if (std::filesystem::is_directory(target, ec))
      target += "/" + klvdrv::file_stem(job ? job->name : nullptr) + ".ras";
    p->out = std::fopen(target.c_str(), "wb");
    p->piped = false;
  }
  if (!p->out) {
    KLV_LOG(KLV_LOG_ERROR, "CUPS raster driver: cannot open port \"%s\"", target.c_str());
    return kErrOutput;
  }
  p->last_output = target;
  p->raster = cupsRasterOpen(fileno(p->out), CUPS_RASTER_WRITE);
  if (!p->raster) {
    close_output(p);
    return kErrOutput;
  }
  return 0;
}

int32_t start_print(Driver* p, const SP_PRINT* print) {
  if (!p->raster) {
    SP_JOB job{};
    std::snprintf(job.name, sizeof job.name, "%s", p->printer.c_str());
    if (int32_t r = drv_start_job(p, &job)) return r;
  }
  const uint32_t channels = print->channels ? print->channels : 4;
  const bool bits_ok = print->bits == 1 || print->bits == 2 || print->bits == 4 || print->bits == 8;
  if (!bits_ok || (channels != 1 && channels != 4) || print->width == 0 || print->height == 0 ||
      print->width > (1u << 20) || print->height > (1u << 24) || print->xres <= 0 ||
      print->yres <= 0) {
    KLV_LOG(KLV_LOG_ERROR,
            "CUPS raster driver: print of %ux%u pixels, %u bits, %u channels is not supported",
            print->width, print->height, print->bits, channels);
    return SP_ERR_ARGUMENT;
  }
  p->width = print->width;
  p->height = print->height;
  p->bits = print->bits;
  p->channels = channels;
  p->planar = (print->flags & SP_PRINT_FLAG_PLANAR) != 0 && channels > 1;
  p->plane = (static_cast<size_t>(p->bits) * p->width + 7) / 8;
  p->row = 0;

  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::snprintf(h.MediaClass, sizeof h.MediaClass, "PwgRaster");
  h.HWResolution[0] = static_cast<unsigned>(print->xres + 0.5);
  h.HWResolution[1] = static_cast<unsigned>(print->yres + 0.5);
  h.PageSize[0] = static_cast<unsigned>(p->width * 72.0 / print->xres + 0.5);
  h.PageSize[1] = static_cast<unsigned>(p->height * 72.0 / print->yres + 0.5);
  h.cupsPageSize[0] = static_cast<float>(p->width * 72.0 / print->xres);
  h.cupsPageSize[1] = static_cast<float>(p->height * 72.0 / print->yres);
  h.ImagingBoundingBox[2] = h.PageSize[0];
  h.ImagingBoundingBox[3] = h.PageSize[1];
  h.NumCopies = 1;
  h.cupsWidth = p->width;
  h.cupsHeight = p->height;
  h.cupsBitsPerColor = p->bits;
  h.cupsColorSpace = channels == 4 ? CUPS_CSPACE_CMYK : CUPS_CSPACE_K;
  h.cupsNumColors = channels;
  if (p->planar) {
    h.cupsColorOrder = CUPS_ORDER_PLANAR;
    h.cupsBitsPerPixel = p->bits;
    h.cupsBytesPerLine = static_cast<unsigned>(p->plane);
    p->spool.reset(std::tmpfile());
    if (!p->spool) return kErrOutput;
  } else {
    h.cupsColorOrder = CUPS_ORDER_BANDED;
    h.cupsBitsPerPixel = p->bits;
    h.cupsBytesPerLine = static_cast<unsigned>(p->plane * channels);
  }
  p->line.assign(p->plane * channels, 0);
  if (!cupsRasterWriteHeader2(p->raster, &h)) return kErrOutput;
  p->in_print = true;
  return 0;
}

int32_t drv_start_print(SP_DRIVER d, SP_PRINT* print, char* text) {
  const int32_t r = start_print(self(d), print);
  if (r == 0 && text) std::snprintf(text, SP_PRINT_TEXT_SIZE, "raster");
  return r;
}

int32_t drv_start_print_ex(SP_DRIVER d, SP_PRINT* print, uint8_t*) {
  return start_print(self(d), print);
}

int32_t write_line(Driver* p, const uint8_t* data) {
  for (uint32_t i = 0; i < p->channels; ++i)
    std::memcpy(&p->line[i * p->plane], data + source_plane(i, p->channels) * p->plane, p->plane);
  if (p->planar) {
    if (std::fwrite(p->line.data(), 1, p->line.size(), p->spool.get()) != p->line.size())
      return kErrOutput;
  } else if (cupsRasterWritePixels(p->raster, p->line.data(),
                                   static_cast<unsigned>(p->line.size())) != p->line.size()) {
    return kErrOutput;
  }
  ++p->row;
  return 0;
}

int32_t drv_print_scanline_data(SP_DRIVER d, const uint8_t* data, int32_t count) {
  Driver* p = self(d);
  if (!p->in_print || !data || count < 0) return SP_ERR_ARGUMENT;
  for (int32_t i = 0; i < count; ++i, data += p->line.size()) {
    if (p->row >= p->height) {
      KLV_LOG(KLV_LOG_ERROR, "CUPS raster driver: more lines than the print's %u", p->height);
      return SP_ERR_ARGUMENT;
    }
    if (int32_t r = write_line(p, data)) return r;
  }
  return 0;
}

int32_t drv_end_print(SP_DRIVER d) {
  Driver* p = self(d);
  if (!p->in_print) return 0;
  // Rows not sent are blank.
  std::vector<uint8_t> blank(p->line.size(), 0);
  while (p->row < p->height)
    if (int32_t r = write_line(p, blank.data())) return r;
  p->in_print = false;
  if (!p->planar) return 0;
  // Planar: each colour's plane of every row, one colour after the other.
  std::vector<uint8_t> plane(p->plane);
  for (uint32_t c = 0; c < p->channels; ++c)
    for (uint32_t y = 0; y < p->height; ++y) {
      const long offset = static_cast<long>(y * p->line.size() + c * p->plane);
      if (std::fseek(p->spool.get(), offset, SEEK_SET) != 0 ||
          std::fread(plane.data(), 1, plane.size(), p->spool.get()) != plane.size() ||
          cupsRasterWritePixels(p->raster, plane.data(), static_cast<unsigned>(plane.size())) !=
              plane.size())
        return kErrOutput;
    }
  p->spool.reset();
  return 0;
}

int32_t drv_end_job(SP_DRIVER d) {
  Driver* p = self(d);
  const int32_t r = drv_end_print(d);
  const bool had_output = p->out != nullptr;
  if (p->out) std::fflush(p->out);
  close_output(p);
  return had_output ? r : 0;
}

int32_t drv_cancel_job(SP_DRIVER d) {
  close_output(self(d));
  return 0;
}

int32_t drv_get_info_num(SP_DRIVER, int32_t* value, const void*, const void*, const void*,
                         int32_t item) {
  if (!value) return SP_ERR_ARGUMENT;
  *value = SP_default_info_num(item);
  return 0;
}

int32_t drv_get_info_str(SP_DRIVER d, char* text, int32_t size, int32_t item) {
  // Item 1: the last output file; anything else the device name.
  return klvdrv::copy_text_out(item == 1 ? self(d)->last_output : self(d)->device, text, size);
}

int32_t drv_get_port_name(SP_DRIVER d, char* out, int32_t size) {
  return klvdrv::copy_text_out(self(d)->port, out, size);
}

int32_t drv_set_port_name(SP_DRIVER d, const char* port) {
  return klvdrv::set_port_text(self(d)->port, port);
}

int32_t drv_command(SP_DRIVER d, int32_t code, void* a, void*) {
  if (code == SP_CMD_RELEASE_CAPS) return 0;
  if (code == SP_CMD_FILL_CAPS) {
    if (a) *static_cast<SP_CAPABILITIES**>(a) = &self(d)->caps;
    return 0;
  }
  return SP_ERR_OPTIONAL;
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
  t.end_print = drv_end_print;
  t.end_job = drv_end_job;
  t.cancel_job = drv_cancel_job;
  t.get_info_str = drv_get_info_str;
  t.get_info_num = drv_get_info_num;
  t.get_port_name = drv_get_port_name;
  t.set_port_name = drv_set_port_name;
  t.command = drv_command;
  t.start_print_ex = drv_start_print_ex;
  return t;
}

}  // namespace

extern "C" {
KLV_API struct printer_funcs printer_funcs = make_table();
}
