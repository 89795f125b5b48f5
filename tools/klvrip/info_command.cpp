// SPDX-License-Identifier: MIT
// `klvrip info FILE [TYPE]`: opens an image (recognised by content unless a
// type code is given) and prints its description.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "klv/imgmux.h"

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

}  // namespace

int info_command(int argc, char** argv) {
  if (argc < 1) {
    std::fprintf(stderr, "usage: klvrip info FILE [TYPE]\n");
    return 2;
  }
  const int32_t type = argc >= 2 ? std::atoi(argv[1]) : 0;
  image_info info;
  init_image_info(&info);
  IMG_file* img = img_mux_open(argv[0], nullptr, "r", &info, type);
  if (!img) {
    // A profile given on its own is described as one.
    if (icc_command(1, argv) == 0) return 0;
    std::fprintf(stderr, "klvrip info: \"%s\" cannot be opened as an image\n", argv[0]);
    return 1;
  }
  std::printf("file            %s\n", argv[0]);
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
  const int32_t valid = img_check_valid(nullptr, argv[0], type);
  std::printf("last line       %s\n", valid ? "readable" : "NOT readable");
  img_close(img);
  return valid ? 0 : 1;
}

}  // namespace klvrip
