// SPDX-License-Identifier: MIT
// klvrip info and screen of a PDF: both go through the generic opener, which
// renders the document's pages by the interpreter child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "klv/imgmux.h"
#include "run_klvrip.h"
#include "support/files.h"

using klv::test::run_klvrip;
using klv::test::ScratchFolder;

namespace {

const char kTwoPages[] = R"(%!PS-Adobe-3.0
%%Pages: 2
%%EndComments
%%Page: 1 1
<< /PageSize [144 72] >> setpagedevice
1 0 0 setrgbcolor 10 10 60 40 rectfill showpage
%%Page: 2 2
<< /PageSize [144 72] >> setpagedevice
0 0 1 setrgbcolor 50 10 60 40 rectfill showpage
%%EOF
)";

TEST(KlvripDocuments, InfoAndScreenOfAPdf) {
  if (std::system("command -v gs >/dev/null 2>&1") != 0) GTEST_SKIP() << "gs not installed";
  ScratchFolder dir("klvrip_pdf");
  const std::string ps = dir.write("two.ps", kTwoPages);
  const std::string pdf = dir.path("two.pdf");
  ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile='" + pdf +
                         "' '" + ps + "'")
                            .c_str()),
            0);
  auto info = run_klvrip(dir.str(), {"info", pdf});
  EXPECT_EQ(info.code, 0) << info.err;
  EXPECT_NE(info.out.find("type            2\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("144 x 72 pixels, 2 page(s)"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("last line       readable"), std::string::npos) << info.out;

  const std::string out = dir.path("dots.tif");
  auto screen = run_klvrip(dir.str(), {"screen", pdf, out, "--res", "144x144"});
  EXPECT_EQ(screen.code, 0) << screen.err;
  EXPECT_TRUE(std::filesystem::exists(out));
  image_info dots;
  init_image_info(&dots);
  IMG_file* img = img_mux_open(out.c_str(), nullptr, "r", &dots, KLV_TYPE_RECOGNISE);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(dots.width, 288);
  EXPECT_EQ(dots.height, 144);
  img_close(img);
}

}  // namespace
