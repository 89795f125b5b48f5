/* SPDX-License-Identifier: MIT */
/* A C program built against the installed library through pkg-config. */
#include <klv/klv.h>
#include <stdio.h>

int main(void) {
  IMG_file* img = new_invalid_img();
  if (!img || img_status(img, 0) != -1 || img_read_line(img, NULL, 1) != 0) return 1;
  img_close(img);
  SFilemux* f = Ovfopen(NULL, "/nonexistent/klv-consumer", "rb");
  if (f) return 1;
  puts("klv C consumer ok");
  return 0;
}
