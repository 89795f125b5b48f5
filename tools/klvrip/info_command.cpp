// SPDX-License-Identifier: MIT
// `klvrip info FILE [TYPE]`: opens an image (recognised by content unless a
// type code is given) and prints its description.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/imgmux.h"
#include "klv/ocfimg.h"

namespace klvrip {

namespace {

const char* layout_name(uint32_t planar) {
  switch (planar & 7) {
    case KLV_PLANAR_PIXEL:
      return "pixel-interleaved";
    case KLV_PLANAR_PLANES:
      return "planar";
    case KLV_PLANAR_LINES:
      return "line-interleaved";
    default:
      return "unknown";
  }
}

const char* photometric_name(uint32_t p) {
  switch (p) {
    case KLV_PHOTO_MINWHITE:
      return "ink values (0 = no ink)";
    case KLV_PHOTO_MINBLACK:
      return "light values (0 = black)";
    case KLV_PHOTO_PALETTE:
      return "palette";
    case KLV_PHOTO_CIELAB:
      return "CIELab";
    default:
      return "unknown";
  }
}

const CommandHelp kInfoHelp = {
    "info", "info FILE [TYPE]",
    "  FILE is recognised by its content (an OCF image reference too) unless TYPE, an image\n"
    "  type code, is given\n",
    1, 2};

}  // namespace

int info_command(int argc, char** argv) {
  const std::vector<Option> options;
  std::vector<const char*> args;
  if (const int code = exit_unless_run(parse_options(kInfoHelp, options, argc, argv, &args));
      code >= 0)
    return code;
  int type = 0;
  if (args.size() > 1) {
    const std::string fault = take_integer(&type, 0, 1000)(args[1]);
    if (!fault.empty())
      return exit_code(report(Exit::kUsage, "info", "bad TYPE: %s", fault.c_str()));
  }
  const char* path = args[0];
  // OCF references are the library's own documents, outside recognition.
  if (args.size() == 1 && ocfimg_check(nullptr, path)) type = KLV_TYPE_OCF;
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(path, nullptr, "r", &info, type);
  if (!img) {
    // A profile given on its own is described as one.
    if (icc_command(1, const_cast<char**>(&path)) == 0) return exit_code(Exit::kOk);
    return exit_code(report(Exit::kFailure, "info", "\"%s\" cannot be opened as an image", path));
  }
  std::printf("file            %s\n", path);
  std::printf("type            %d\n", img->type);
  std::printf("size            %d x %d pixels, %u page(s)\n", info.width, info.height, info.pages);
  std::printf("resolution      %g x %g pixels per inch\n", info.xres, info.yres);
  std::printf("samples         %u (%u spot, %u mask) of %u bits\n", info.samples, info.spot_samples,
              info.mask_samples, info.bits_per_sample);
  std::printf("layout          %s%s\n", layout_name(info.planar),
              (info.planar & KLV_PLANAR_TILED) ? ", tiled" : "");
  if (info.planar & KLV_PLANAR_TILED)
    std::printf("tiles           %u x %u, %u per plane\n", info.tile_words[KLV_TILE_WIDTH],
                info.tile_words[KLV_TILE_HEIGHT], info.tile_words[KLV_TILE_PER_PLANE]);
  std::printf("photometric     %u, %s\n", info.photometric, photometric_name(info.photometric));
  if (info.hifi_mode) std::printf("extended inks   %u\n", info.hifi_mode);
  std::printf("bytes per line  %u\n", info.bytes_per_line);
  std::printf("compression     %u\n", info.compression);
  if (image_cmap* map = img_get_cmap(img)) {
    std::printf("colour map      %u entries, %u channels\n", map->entries, map->channels);
    free_cmap(map);
  }
  if (image_profile* p = img_get_profile(img)) {
    std::printf("ICC profile     %u bytes\n", p->size);
    print_icc_summary(p->data, p->size, "  ");
    checkin_image_profile(p);
  }
  const int32_t valid = img_check_valid(nullptr, path, type);
  std::printf("last line       %s\n", valid ? "readable" : "NOT readable");
  img_close(img);
  return exit_code(valid ? Exit::kOk : Exit::kFailure);
}

}  // namespace klvrip
