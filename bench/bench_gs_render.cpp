// SPDX-License-Identifier: MIT
// A PDF page opened through the interpreter stream and read line by line,
// against the interpreter rendering the same page alone to an uncompressed
// TIFF, at the same resolution and colour form. The work is in the child
// process, so both are timed by the wall clock.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "klv/gsimg.h"
#include "klv/imgmux.h"
#include "support/files.h"

namespace {

// An A4 page with fills, a gradient, curves and text.
const char kPage[] = R"(%!PS-Adobe-3.0
%%BoundingBox: 0 0 595 842
%%Pages: 1
%%EndComments
%%Page: 1 1
<< /PageSize [595 842] >> setpagedevice
0 1 399 { dup 399 div 1 exch sub 0.3 2 index 399 div sethsbcolor 100 add 50 exch 500 1 rectfill } for
/Helvetica findfont 18 scalefont setfont
0 1 30 { dup 0.03 mul 0 0.5 setrgbcolor 40 exch 12 mul 480 add moveto (Wide-format page through the interpreter) show } for
0 0 1 0 setcmykcolor 4 setlinewidth 0 10 360 { dup cos 200 mul 300 add exch sin 150 mul 650 add lineto } for stroke
showpage
%%EOF
)";

struct Fixture {
  klv::test::ScratchFolder dir{"bench_gs"};
  std::string pdf;
  Fixture() {
    const std::string ps = dir.write("page.ps", kPage);
    pdf = dir.path("page.pdf");
    const std::string cmd =
        "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile='" + pdf + "' '" + ps + "'";
    if (std::system(cmd.c_str()) != 0) pdf.clear();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_GsStreamPage(benchmark::State& state) {
  const std::string& pdf = fixture().pdf;
  if (pdf.empty()) return state.SkipWithError("gs cannot make the test PDF");
  gsimg_options o{};
  o.xres = o.yres = double(state.range(0));
  o.color = GSIMG_RGB;
  for (auto _ : state) {
    IMG_file* img = gsimg_open_ex(pdf.c_str(), nullptr, nullptr, &o, KLV_TYPE_POSTSCRIPT);
    if (!img) return state.SkipWithError("open failed");
    std::vector<uint8_t> lines(size_t(img->info.bytes_per_line) * 64);
    int32_t got = 0;
    for (int32_t y = 0; y < img->info.height; y += got)
      if ((got = img_read_line(img, lines.data(), 64)) <= 0) break;
    benchmark::DoNotOptimize(lines.data());
    img_close(img);
  }
}
BENCHMARK(BM_GsStreamPage)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GsAloneToTiff(benchmark::State& state) {
  const std::string& pdf = fixture().pdf;
  if (pdf.empty()) return state.SkipWithError("gs cannot make the test PDF");
  const std::string out = fixture().dir.path("alone.tif");
  const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=tiff24nc -r" +
                          std::to_string(state.range(0)) + " -sOutputFile='" + out + "' '" + pdf +
                          "'";
  for (auto _ : state)
    if (std::system(cmd.c_str()) != 0) return state.SkipWithError("gs failed");
}
BENCHMARK(BM_GsAloneToTiff)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
