// SPDX-License-Identifier: MIT
// klvrip print-test PRINTER [OUTPUT]: walks the printer's driver through one
// job with a generated test page (for every separation a band with a solid
// patch and a ramp over all drop codes) and says where the output went.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "klv/printer_driver.h"

namespace klvrip {
namespace {

// Sets one packed sample (most significant bits first).
void put_sample(uint8_t* plane, uint32_t x, uint32_t bits, uint32_t code) {
  const uint32_t bit = x * bits;
  const uint32_t shift = 8 - bits - bit % 8;
  plane[bit / 8] = static_cast<uint8_t>(plane[bit / 8] | (code << shift));
}

// One line of the test page: separation c owns the c-th band of rows; in its
// band the first quarter of the width is solid, the rest a ramp of all codes.
void make_line(std::vector<uint8_t>& line, uint32_t y, uint32_t width, uint32_t height,
               uint32_t bits, uint32_t channels) {
  std::fill(line.begin(), line.end(), 0);
  const size_t plane = (static_cast<size_t>(bits) * width + 7) / 8;
  const uint32_t band = height / channels ? height / channels : 1;
  const uint32_t c = y / band;
  if (c >= channels) return;
  const uint32_t top = (1u << bits) - 1;
  const uint32_t solid = width / 4, ramp = width - solid;
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t code = x < solid ? top : ((x - solid) * (top + 1)) / (ramp ? ramp : 1);
    if (code) put_sample(&line[c * plane], x, bits, code > top ? top : code);
  }
}

}  // namespace

int print_test_command(int argc, char** argv) {
  if (argc < 1 || argc > 2) {
    std::fprintf(stderr, "usage: klvrip print-test PRINTER [OUTPUT]\n");
    return 2;
  }
  const char* printer = argv[0];
  int32_t error = 0;
  SP_OBJECT* object = SP_open_printer(printer, &error);
  if (!object) {
    std::fprintf(stderr, "klvrip: cannot open the driver of printer \"%s\" (status %d)\n", printer,
                 error);
    return 1;
  }
  if (int32_t r = SP_init_printer(object, printer, ""))
    std::fprintf(stderr, "klvrip: printer \"%s\" was not initialised (status %d)\n", printer, r);
  if (argc == 2 && SP_set_port_name(object, argv[1]) != 0)
    std::fprintf(stderr, "klvrip: the driver did not take the output \"%s\"\n", argv[1]);

  const SP_CAPABILITIES* caps = SP_get_capabilities(object);
  int32_t channels = 0;
  SP_get_info_num(object, &channels, nullptr, nullptr, nullptr, 0);
  if (caps && caps->channels) channels = static_cast<int32_t>(caps->channels);
  if (channels != 1 && channels != 4) channels = 4;
  uint32_t bits = caps && caps->bits ? caps->bits : 1;
  if (bits != 1 && bits != 2 && bits != 4) bits = 1;
  const double xres = caps && caps->xres ? caps->xres : 360;
  const double yres = caps && caps->yres ? caps->yres : 360;
  const uint32_t width = static_cast<uint32_t>(xres * 2), height = static_cast<uint32_t>(yres);

  SP_JOB job{};
  std::snprintf(job.name, sizeof job.name, "print-test");
  std::snprintf(job.printer, sizeof job.printer, "%s", printer);
  SP_PRINT print{};
  print.width = width;
  print.height = height;
  print.bits = bits;
  print.channels = static_cast<uint32_t>(channels);
  print.xres = xres;
  print.yres = yres;
  std::snprintf(print.name, sizeof print.name, "test page");
  SP_PASS pass{SP_PASS_SIZE, 0, 0};
  const size_t plane = (static_cast<size_t>(bits) * width + 7) / 8;
  std::vector<uint8_t> line(plane * static_cast<size_t>(channels));

  int32_t status = SP_start_job(object, &job);
  if (status == 0) status = SP_start_print(object, &print, nullptr);
  if (status == 0) status = SP_start_pass(object, &pass);
  for (uint32_t y = 0; status == 0 && y < height; ++y) {
    make_line(line, y, width, height, bits, static_cast<uint32_t>(channels));
    status = SP_print_scanline_data(object, line.data(), 1);
  }
  if (status == 0) status = SP_end_pass(object);
  if (status == 0) status = SP_end_print(object);
  const int32_t end = status == 0 ? SP_end_job(object) : SP_cancel_job(object);
  if (status == 0) status = end;

  char output[KLV_PATH_MAX] = "";
  SP_get_info_str(object, output, sizeof output, 1);
  char port[KLV_PATH_MAX] = "";
  SP_get_port_name(object, port, sizeof port);
  SP_close(object);
  if (status != 0) {
    std::fprintf(stderr, "klvrip: the driver stopped the test page (status %d)\n", status);
    return 1;
  }
  std::printf("printed a %ux%u test page, %d separations of %u bits, to %s\n", width, height,
              channels, bits, *output ? output : (*port ? port : printer));
  return 0;
}

}  // namespace klvrip
