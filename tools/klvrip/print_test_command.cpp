// SPDX-License-Identifier: MIT
// klvrip print-test PRINTER [OUTPUT]: walks the printer's driver through one
// job with a generated test page (for every separation a band with a solid
// patch and a ramp over all drop codes) and says where the output went.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/printer_driver.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "print-test";
const CommandHelp kPrintTestHelp = {
    "print-test", "print-test PRINTER [OUTPUT]",
    "  OUTPUT is given to the printer's driver as its port (the file driver: a folder)\n", 1, 2};

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

// The test page's shape, from the driver's capabilities.
SP_PRINT page_of(SP_OBJECT* object) {
  const SP_CAPABILITIES* caps = SP_get_capabilities(object);
  int32_t channels = 0;
  SP_get_info_num(object, &channels, nullptr, nullptr, nullptr, 0);
  if (caps && caps->channels) channels = static_cast<int32_t>(caps->channels);
  if (channels != 1 && channels != 4) channels = 4;
  uint32_t bits = caps && caps->bits ? caps->bits : 1;
  if (bits != 1 && bits != 2 && bits != 4) bits = 1;
  SP_PRINT print{};
  print.xres = caps && caps->xres ? caps->xres : 360;
  print.yres = caps && caps->yres ? caps->yres : 360;
  print.width = static_cast<uint32_t>(print.xres * 2);
  print.height = static_cast<uint32_t>(print.yres);
  print.bits = bits;
  print.channels = static_cast<uint32_t>(channels);
  std::snprintf(print.name, sizeof print.name, "test page");
  return print;
}

// Walks the driver through one job of one page; the driver's status (0 when
// every step went well). Ctrl-C cancels the job.
int32_t run_job(SP_OBJECT* object, const char* printer, SP_PRINT& print) {
  SP_JOB job{};
  std::snprintf(job.name, sizeof job.name, "print-test");
  std::snprintf(job.printer, sizeof job.printer, "%s", printer);
  SP_PASS pass{SP_PASS_SIZE, 0, 0};
  const size_t plane = (static_cast<size_t>(print.bits) * print.width + 7) / 8;
  std::vector<uint8_t> line(plane * print.channels);
  int32_t status = SP_start_job(object, &job);
  if (status == 0) status = SP_start_print(object, &print, nullptr);
  if (status == 0) status = SP_start_pass(object, &pass);
  for (uint32_t y = 0; status == 0 && y < print.height && !interrupted(); ++y) {
    make_line(line, y, print.width, print.height, print.bits, print.channels);
    status = SP_print_scanline_data(object, line.data(), 1);
  }
  if (status == 0 && interrupted()) {
    SP_cancel_job(object);
    return -1;
  }
  if (status == 0) status = SP_end_pass(object);
  if (status == 0) status = SP_end_print(object);
  const int32_t end = status == 0 ? SP_end_job(object) : SP_cancel_job(object);
  return status == 0 ? end : status;
}

Exit print_test(const char* printer, const char* output) {
  int32_t error = 0;
  SP_OBJECT* object = SP_open_printer(printer, &error);
  if (!object)
    return report(Exit::kFailure, kCommand, "cannot open the driver of printer \"%s\" (status %d)",
                  printer, error);
  if (int32_t r = SP_init_printer(object, printer, ""))
    report(Exit::kFailure, kCommand, "printer \"%s\" was not initialised (status %d)", printer, r);
  if (output && SP_set_port_name(object, output) != 0)
    report(Exit::kFailure, kCommand, "the driver did not take the output \"%s\"", output);
  SP_PRINT print = page_of(object);
  const int32_t status = run_job(object, printer, print);
  char where[KLV_PATH_MAX] = "";
  SP_get_info_str(object, where, sizeof where, 1);
  char port[KLV_PATH_MAX] = "";
  SP_get_port_name(object, port, sizeof port);
  SP_close(object);
  if (interrupted()) return report(Exit::kFailure, kCommand, "interrupted; the job was cancelled");
  if (status != 0)
    return report(Exit::kFailure, kCommand, "the driver stopped the test page to %s (status %d)",
                  *where ? where : (*port ? port : printer), status);
  std::printf("printed a %ux%u test page, %u separations of %u bits, to %s\n", print.width,
              print.height, print.channels, print.bits, *where ? where : (*port ? port : printer));
  return Exit::kOk;
}

}  // namespace

int print_test_command(int argc, char** argv) {
  const std::vector<Option> options;
  std::vector<const char*> args;
  if (const int code = exit_unless_run(parse_options(kPrintTestHelp, options, argc, argv, &args));
      code >= 0)
    return code;
  poll_interrupts(true);
  const Exit e = print_test(args[0], args.size() > 1 ? args[1] : nullptr);
  poll_interrupts(false);
  return exit_code(e);
}

}  // namespace klvrip
