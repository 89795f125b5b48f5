// SPDX-License-Identifier: MIT
// klvrip convert: converts an image's colours through ICC profiles (and a
// printer's calibration) and writes the result as a TIFF with the output
// profile embedded.
//
// The stages: the arguments, the input (its colour model and embedded
// profile), the conversion (folded into a grid once), the lines (read in
// chunks, converted a chunk per call, written) and the file, written under a
// temporary name and renamed only when complete.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "color_options.h"
#include "color_stream.h"
#include "commands.h"
#include "klv/imgmux.h"
#include "output_file.h"

namespace klvrip {
namespace {

constexpr const char* kCommand = "convert";
// Lines converted per call.
constexpr int kChunk = 32;

const CommandHelp kConvertHelp = {
    "convert", "convert IN OUT [options]",
    "  Converts the colours of IN (gray, RGB, L*a*b* or CMYK) into the output profile's\n"
    "  colour space and writes OUT as TIFF with that profile embedded. OUT is written\n"
    "  under a temporary name beside it and appears only when complete.\n",
    2, 2};

struct ConvertArgs {
  const char* in = nullptr;
  const char* out = nullptr;
  int bits = 0;  // 0: 16 when the input has more than 8 bits, else 8
  ColorArgs color;
};

Parsed parse(int argc, char** argv, ConvertArgs* a) {
  std::vector<Option> table = {
      {"--bits", "8|16", "bits per sample of the output (default: as the input)",
       [a](const char* v) -> std::string {
         std::string fault = take_integer(&a->bits, 8, 16)(v);
         if (fault.empty() && a->bits != 8 && a->bits != 16) fault = "must be 8 or 16";
         return fault;
       }},
  };
  add_color_options(&table, &a->color);
  std::vector<const char*> files;
  const Parsed parsed = parse_options(kConvertHelp, table, argc, argv, &files);
  if (parsed != Parsed::kRun) return parsed;
  a->in = files[0];
  a->out = files[1];
  if (const std::string fault = check_color_args(a->color); !fault.empty()) {
    report(Exit::kUsage, kCommand, "%s", fault.c_str());
    return Parsed::kUsageError;
  }
  return Parsed::kRun;
}

struct ImgCloser {
  void operator()(IMG_file* img) const { img_close(img); }
};
using ImgPtr = std::unique_ptr<IMG_file, ImgCloser>;

// What the input is: its description, colour model and embedded profile.
struct Input {
  image_info info{};
  klv::ColorModel model = klv::ColorModel::kRgb;
  std::vector<uint8_t> profile;
};

Exit probe_input(const char* path, Input* in) {
  init_image_info(&in->info);
  ImgPtr img(img_mux_open(path, nullptr, "r", &in->info, 0));
  if (!img) return report(Exit::kFailure, kCommand, "cannot read image \"%s\"", path);
  if (!color_model_of(in->info, &in->model))
    return report(Exit::kFailure, kCommand, "\"%s\": %u colour samples cannot be converted", path,
                  in->info.samples - in->info.spot_samples);
  in->profile = embedded_profile(img.get());
  return Exit::kOk;
}

// The description of the file written: the conversion's output model.
image_info output_of(const image_info& lines, const klv::ColorConversion& conv) {
  image_info out = lines;
  out.samples = conv.OutputChannels();
  out.photometric = conv.OutputModel() == klv::ColorModel::kCmyk  ? KLV_PHOTO_MINWHITE
                    : conv.OutputModel() == klv::ColorModel::kLab ? KLV_PHOTO_CIELAB
                                                                  : KLV_PHOTO_MINBLACK;
  out.bytes_per_line = image_info_line_bytes(&out);
  return out;
}

// The output profile as a block to embed.
struct ProfileBlock {
  explicit ProfileBlock(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    block = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + bytes.size()));
    if (!block) return;
    block->size = uint32_t(bytes.size());
    std::memcpy(block->data, bytes.data(), bytes.size());
  }
  ~ProfileBlock() { std::free(block); }
  image_profile* block = nullptr;
};

// Moves every line of the converting stream into the file; the lines done.
int copy_lines(IMG_file* in, IMG_file* out, const image_info& dest) {
  std::vector<uint8_t> buffer(size_t(dest.bytes_per_line) * kChunk);
  int done = 0;
  while (done < dest.height && !interrupted()) {
    const int n = std::min(kChunk, dest.height - done);
    if (img_read_line(in, buffer.data(), n) != n || img_write_line(out, buffer.data(), n) != n)
      break;
    done += n;
  }
  return done;
}

Exit convert(const ConvertArgs& a) {
  Input input;
  if (Exit e = probe_input(a.in, &input); e != Exit::kOk) return e;
  const uint32_t bits = a.bits ? uint32_t(a.bits) : input.info.bits_per_sample > 8 ? 16 : 8;
  ColorServiceStop stop;
  auto conv = open_conversion(kCommand, a.color, input.model, input.profile);
  if (!conv) return Exit::kFailure;
  image_info lines = lines_of(input.info, input.model, bits);
  image_info info;
  init_image_info(&info);
  filter_info opts{};
  IMG_file* below = filter_file_open(a.in, nullptr, "r", &info, 0, &lines, &opts);
  if (!below) return report(Exit::kFailure, kCommand, "cannot read the lines of \"%s\"", a.in);
  image_info dest = output_of(lines, *conv);
  ProfileBlock profile(conv->OutputProfile());
  dest.profile_word = profile.block;
  const std::string description = conv->Description();
  ImgPtr in(color_stream_open(below, std::move(conv), dest));
  if (!in) return report(Exit::kFailure, kCommand, "out of memory");
  OutputFile file(a.out);
  if (file.Failed())
    return report(Exit::kFailure, kCommand, "cannot create \"%s\": %s", a.out,
                  file.Error().c_str());
  IMG_file* out = img_mux_open(file.Temp().c_str(), nullptr, "w", &dest, KLV_TYPE_TIFF);
  if (!out) return report(Exit::kFailure, kCommand, "cannot create \"%s\"", a.out);
  const int done = copy_lines(in.get(), out, dest);
  const bool closed = img_close_status(out) == 0;
  if (interrupted()) return report(Exit::kFailure, kCommand, "interrupted; no file was left");
  if (done < lines.height || !closed)
    return report(Exit::kFailure, kCommand, "writing \"%s\" failed after %d of %d lines%s", a.out,
                  done, lines.height, closed ? "" : " (is the disk full?)");
  if (!file.Commit())
    return report(Exit::kFailure, kCommand, "cannot write \"%s\": %s", a.out, file.Error().c_str());
  std::printf("%s: %dx%d, %u channel%s of %u bits (%s)\n", a.out, dest.width, dest.height,
              dest.samples, dest.samples > 1 ? "s" : "", bits, description.c_str());
  return Exit::kOk;
}

}  // namespace

int convert_command(int argc, char** argv) {
  ConvertArgs args;
  if (const int code = exit_unless_run(parse(argc, argv, &args)); code >= 0) return code;
  poll_interrupts(true);
  const Exit e = convert(args);
  poll_interrupts(false);
  return exit_code(e);
}

}  // namespace klvrip
