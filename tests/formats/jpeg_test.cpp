// SPDX-License-Identifier: MIT
// JPEG stream: files made by other programs decode to the samples those
// programs decode; files we write read back in them; resolution, profiles,
// quality, seeking in the forward-only decoder and damaged files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/imgmux.h"
#include "klv/jpeg.h"
#include "peer_tools.h"
#include "support/files.h"
#include "support/log_capture.h"

using klv::test::decode_file;
using klv::test::Decoded;
using klv::test::have_tool;
using klv::test::Raster;
using klv::test::read_netpbm;
using klv::test::run_shell;
using klv::test::ScratchFolder;

namespace {

const char kBigProfile[] = "/usr/share/color/icc/ITULab.icc";  // needs several APP2 markers
const char kSmallProfile[] = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

// A picture with edges, gradients and flat parts, odd-sized so that the last
// blocks are partial.
Raster picture(int width, int height, int depth) {
  Raster r;
  r.width = width;
  r.height = height;
  r.depth = depth;
  r.samples.resize(size_t(width) * height * depth);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < depth; ++c)
        r.samples[(size_t(y) * width + x) * depth + c] =
            static_cast<uint16_t>(x < width / 3    ? (x * 7 + y * 3 + c * 60) % 256
                                  : y < height / 2 ? (40 + 100 * c) % 256
                                                   : ((x ^ y) * (c + 1) * 5) % 256);
  return r;
}

bool tools_present(const std::vector<std::string>& tools) {
  for (const auto& t : tools)
    if (!have_tool(t)) return false;
  return true;
}

// Every sample of our decoding equals the peer's.
void expect_same(const Decoded& ours, const Raster& peer, const char* name) {
  ASSERT_EQ(ours.info.width, peer.width) << name;
  ASSERT_EQ(ours.info.height, peer.height) << name;
  ASSERT_EQ(int(ours.info.samples), peer.depth) << name;
  size_t differ = 0;
  for (size_t i = 0; i < peer.samples.size(); ++i) differ += ours.lines[i] != peer.samples[i];
  EXPECT_EQ(differ, 0u) << name;
}

struct PeerCase {
  const char* name;
  int depth;           // samples of the source picture
  const char* encode;  // shell line: {in} source netpbm file, {out} the JPEG
  const char* decode;  // shell line: {in} the JPEG, {out} a netpbm file of the samples
  bool profile;        // the file embeds a profile
  std::vector<std::string> tools;
};

std::string fill(std::string line, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}}) {
    for (size_t at; (at = line.find(key)) != std::string::npos;)
      line.replace(at, key.size(), value);
  }
  for (auto [key, value] : {std::pair<std::string, std::string>{"{big_icc}", kBigProfile},
                            {"{small_icc}", kSmallProfile}}) {
    for (size_t at; (at = line.find(key)) != std::string::npos;)
      line.replace(at, key.size(), value);
  }
  return line;
}

const PeerCase kPeerCases[] = {
    {"cjpeg gray",
     1,
     "cjpeg -grayscale -quality 90 {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg RGB 4:2:0",
     3,
     "cjpeg -quality 85 {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg RGB 4:4:4",
     3,
     "cjpeg -sample 1x1 {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg RGB 4:2:2",
     3,
     "cjpeg -sample 2x1 {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg stored as RGB",
     3,
     "cjpeg -rgb {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg progressive",
     3,
     "cjpeg -progressive {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg restart every row",
     3,
     "cjpeg -restart 1 {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg restart every 3 blocks, gray",
     1,
     "cjpeg -grayscale -restart 3B {in} > {out}",
     "djpeg -pnm {in} > {out}",
     false,
     {"cjpeg", "djpeg"}},
    {"cjpeg large profile in several markers",
     3,
     "cjpeg -icc {big_icc} {in} > {out}",
     "djpeg -pnm {in} > {out}",
     true,
     {"cjpeg", "djpeg"}},
    {"cjpeg small profile",
     1,
     "cjpeg -grayscale -icc {small_icc} {in} > {out}",
     "djpeg -pnm {in} > {out}",
     true,
     {"cjpeg", "djpeg"}},
    {"GraphicsMagick RGB",
     3,
     "gm convert {in} -quality 75 jpeg:{out}",
     "gm convert jpeg:{in} ppm:{out}",
     false,
     {"gm"}},
    {"GraphicsMagick progressive gray",
     1,
     "gm convert {in} -interlace line jpeg:{out}",
     "gm convert jpeg:{in} pgm:{out}",
     false,
     {"gm"}},
    {"PIL RGB",
     3,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}', 'JPEG', "
     "quality=80)\"",
     "djpeg -pnm {in} > {out}",
     false,
     {"/usr/bin/python3", "djpeg"}},
};

class JpegPeers : public ::testing::TestWithParam<PeerCase> {};

TEST_P(JpegPeers, DecodeToThePeersSamples) {
  const PeerCase& c = GetParam();
  if (!tools_present(c.tools)) GTEST_SKIP() << "needs " << c.tools[0];
  ScratchFolder dir("jpeg");
  const std::string src = dir.path(c.depth == 1 ? "src.pgm" : "src.ppm");
  const std::string jpg = dir.path("peer.jpg"), ref = dir.path("peer.pnm");
  ASSERT_TRUE(write_netpbm(src, picture(37, 29, c.depth)));
  ASSERT_TRUE(run_shell(fill(c.encode, src, jpg))) << c.name;
  ASSERT_TRUE(run_shell(fill(c.decode, jpg, ref))) << c.name;
  Decoded ours;
  ASSERT_TRUE(decode_file(jpg, KLV_TYPE_RECOGNISE, &ours)) << c.name;
  EXPECT_EQ(ours.type, KLV_TYPE_JPEG);
  EXPECT_EQ(ours.info.photometric, uint32_t{KLV_PHOTO_MINBLACK});
  EXPECT_EQ(ours.info.bits_per_sample, 8u);
  EXPECT_EQ(ours.profile, c.profile) << c.name;
  if (c.profile) {
    EXPECT_EQ(ours.profile_size,
              klv::test::read_file(std::string(c.depth == 1 ? kSmallProfile : kBigProfile)).size());
  }
  expect_same(ours, read_netpbm(ref), c.name);
}

INSTANTIATE_TEST_SUITE_P(Files, JpegPeers, ::testing::ValuesIn(kPeerCases), [](const auto& info) {
  std::string n = info.param.name;
  for (char& ch : n)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

// Adobe CMYK stores every sample inverted; the stream delivers it as stored
// (light form), which is 255 minus the ink amounts a CMYK-aware reader gives.
TEST(JpegCmyk, AdobeFileReadsAsInvertedInks) {
  if (!have_tool("/usr/bin/python3")) GTEST_SKIP() << "needs python3-pil";
  ScratchFolder dir("jpeg");
  const std::string jpg = dir.path("cmyk.jpg"), inks = dir.path("inks.raw");
  ASSERT_TRUE(run_shell("/usr/bin/python3 -c \"from PIL import Image\n"
                        "im = Image.new('CMYK', (21, 13))\n"
                        "im.putdata([((x*12)%256, (y*19)%256, (x*y)%256, 40 if x < 10 else 200) "
                        "for y in range(13) "
                        "for x in range(21)])\n"
                        "im.save('" +
                        jpg +
                        "', 'JPEG', quality=95)\n"
                        "open('" +
                        inks + "', 'wb').write(Image.open('" + jpg + "').tobytes())\"") == true);
  Decoded ours;
  ASSERT_TRUE(decode_file(jpg, KLV_TYPE_RECOGNISE, &ours));
  ASSERT_EQ(ours.info.samples, 4u);
  EXPECT_EQ(ours.info.photometric, uint32_t{KLV_PHOTO_MINBLACK});
  const auto ink = klv::test::read_file(inks);
  ASSERT_EQ(ink.size(), ours.lines.size());
  size_t differ = 0;
  for (size_t i = 0; i < ink.size(); ++i) differ += ours.lines[i] != 255 - ink[i];
  EXPECT_EQ(differ, 0u);
}

// ---- writing ----

std::vector<uint8_t> as_bytes(const Raster& r) {
  return std::vector<uint8_t>(r.samples.begin(), r.samples.end());
}

bool write_jpeg(const std::string& path, const Raster& r, uint32_t compression,
                const image_profile* profile = nullptr, int32_t stop_after = -1) {
  image_info info;
  init_image_info(&info);
  info.width = r.width;
  info.height = r.height;
  info.samples = static_cast<uint32_t>(r.depth);
  info.bits_per_sample = 8;
  info.photometric = KLV_PHOTO_MINBLACK;
  info.compression = compression;
  info.xres = 300;
  info.yres = 150;
  info.profile_word = const_cast<image_profile*>(profile);
  IMG_file* img = img_mux_open(path.c_str(), nullptr, "wb", &info, KLV_TYPE_JPEG);
  if (!img) return false;
  const auto bytes = as_bytes(r);
  const int32_t lines = stop_after < 0 ? r.height : stop_after;
  bool ok = true;
  for (int32_t y = 0; y < lines && ok; ++y)
    ok = img_write_line(img, const_cast<uint8_t*>(bytes.data()) + size_t(y) * info.bytes_per_line,
                        1) == 1;
  img_close(img);
  return ok;
}

image_profile* profile_block(const std::string& path) {
  const auto bytes = klv::test::read_file(path);
  auto* p = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + bytes.size()));
  p->size = static_cast<uint32_t>(bytes.size());
  std::memcpy(p->data, bytes.data(), bytes.size());
  return p;
}

struct WriteCase {
  const char* name;
  int depth;
  const char* profile;
};

class JpegWrite : public ::testing::TestWithParam<WriteCase> {};

// What we write, djpeg (or PIL for CMYK) decodes to what we decode, close to
// what was written, with the resolution and the profile that went in.
TEST_P(JpegWrite, PeersReadWhatWeWrite) {
  const WriteCase& c = GetParam();
  if (!tools_present({"djpeg", "/usr/bin/python3"})) GTEST_SKIP() << "needs djpeg and PIL";
  ScratchFolder dir("jpeg");
  const std::string jpg = dir.path("ours.jpg"), ref = dir.path("peer.pnm");
  const Raster src = picture(45, 31, c.depth);
  image_profile* profile = c.profile ? profile_block(c.profile) : nullptr;
  ASSERT_TRUE(write_jpeg(jpg, src, 0, profile));
  Decoded ours;
  ASSERT_TRUE(decode_file(jpg, KLV_TYPE_RECOGNISE, &ours));
  EXPECT_EQ(ours.info.xres, 300);
  EXPECT_EQ(ours.info.yres, 150);
  // Quality 100 stays near the source (colour is subsampled).
  double error = 0;
  for (size_t i = 0; i < src.samples.size(); ++i)
    error += std::abs(int(ours.lines[i]) - int(src.samples[i]));
  EXPECT_LE(error / double(src.samples.size()), c.depth == 3 ? 12 : 2);
  if (c.depth == 4) {
    const std::string inks = dir.path("inks.raw");
    ASSERT_TRUE(
        run_shell("/usr/bin/python3 -c \"from PIL import Image\n"
                  "open('" +
                  inks + "', 'wb').write(Image.open('" + jpg + "').tobytes())\""));
    const auto ink = klv::test::read_file(inks);
    ASSERT_EQ(ink.size(), ours.lines.size());
    size_t differ = 0;
    for (size_t i = 0; i < ink.size(); ++i) differ += ours.lines[i] != 255 - ink[i];
    EXPECT_EQ(differ, 0u);
  } else {
    ASSERT_TRUE(run_shell("djpeg -pnm " + jpg + " > " + ref));
    expect_same(ours, read_netpbm(ref), c.name);
  }
  if (profile) {
    const std::string icc = dir.path("out.icc");
    ASSERT_TRUE(run_shell("djpeg -icc " + icc + " " + jpg + " > /dev/null"));
    EXPECT_EQ(klv::test::read_file(icc),
              std::vector<uint8_t>(profile->data, profile->data + profile->size));
    EXPECT_EQ(ours.profile_size, profile->size);
  }
  std::free(profile);
}

const WriteCase kWriteCases[] = {{"gray", 1, nullptr},
                                 {"rgb", 3, nullptr},
                                 {"rgb_large_profile", 3, kBigProfile},
                                 {"cmyk", 4, kSmallProfile}};
INSTANTIATE_TEST_SUITE_P(Kinds, JpegWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The quantisation tables of a file (every DQT segment body).
std::vector<uint8_t> quant_tables(const std::vector<uint8_t>& f) {
  std::vector<uint8_t> out;
  for (size_t i = 2; i + 4 <= f.size() && f[i] == 0xFF;) {
    const uint8_t marker = f[i + 1];
    const size_t len = size_t(f[i + 2]) << 8 | f[i + 3];
    if (marker == 0xDB) out.insert(out.end(), f.begin() + i + 4, f.begin() + i + 2 + len);
    if (marker == 0xDA) break;
    i += 2 + len;
  }
  return out;
}

TEST(JpegWriteQuality, CompressionWordPicksTheQuality) {
  if (!have_tool("cjpeg")) GTEST_SKIP() << "needs cjpeg";
  ScratchFolder dir("jpeg");
  const Raster src = picture(16, 16, 3);
  ASSERT_TRUE(write_netpbm(dir.path("src.ppm"), src));
  const struct {
    uint32_t compression;
    int quality;
  } cases[] = {{0, 100}, {1, 50}, {10, 50}, {20, 50}, {21, 21}, {85, 85}, {250, 100}};
  for (const auto& c : cases) {
    const std::string ours = dir.path("ours.jpg"), peer = dir.path("peer.jpg");
    ASSERT_TRUE(write_jpeg(ours, src, c.compression));
    ASSERT_TRUE(run_shell("cjpeg -baseline -quality " + std::to_string(c.quality) + " " +
                          dir.path("src.ppm") + " > " + peer));
    EXPECT_EQ(quant_tables(klv::test::read_file(ours)), quant_tables(klv::test::read_file(peer)))
        << "compression " << c.compression;
  }
}

TEST(JpegWriteRefusal, DescriptionsWithoutAJpegForm) {
  ScratchFolder dir("jpeg");
  klv::test::LogCapture log;
  const struct {
    uint32_t samples, bits, photometric, mask;
  } cases[] = {{2, 8, 1, 0}, {3, 16, 1, 0}, {1, 8, 0, 0}, {3, 8, 1, 1}, {1, 8, 2, 0}};
  for (const auto& c : cases) {
    image_info info;
    init_image_info(&info);
    info.width = info.height = 8;
    info.samples = c.samples;
    info.bits_per_sample = c.bits;
    info.photometric = c.photometric;
    info.mask_samples = c.mask;
    EXPECT_EQ(jpg_open(dir.path("x.jpg").c_str(), nullptr, "wb", &info), nullptr);
  }
}

TEST(JpegWriteClose, ClosingBeforeTheLastLineLeavesNoFinishedFile) {
  ScratchFolder dir("jpeg");
  klv::test::LogCapture log;
  const std::string jpg = dir.path("part.jpg");
  write_jpeg(jpg, picture(20, 40, 3), 85, nullptr, 10);
  Decoded ours;
  EXPECT_FALSE(decode_file(jpg, KLV_TYPE_JPEG, &ours));
}

// ---- resolution ----

// A JPEG of our own with its JFIF density fields patched, and an APP13
// Photoshop resolution resource inserted after SOI when asked.
std::vector<uint8_t> with_density(std::vector<uint8_t> f, uint8_t unit, uint16_t x, uint16_t y,
                                  double ps_x = 0, double ps_y = 0) {
  // SOI, then APP0 "JFIF\0", version, unit, densities.
  f[13] = unit;
  f[14] = uint8_t(x >> 8);
  f[15] = uint8_t(x);
  f[16] = uint8_t(y >> 8);
  f[17] = uint8_t(y);
  if (ps_x > 0) {
    std::vector<uint8_t> m;
    auto put = [&m](const char* bytes, size_t n) {
      for (size_t i = 0; i < n; ++i) m.push_back(static_cast<uint8_t>(bytes[i]));
    };
    put("\xFF\xED\0\0", 4);
    put("Photoshop 3.0", 14);  // with its terminating zero
    put("8BIM\x03\xED\0\0\0\0\0\x10", 12);
    auto fixed = [&](double v) {
      const uint32_t f32 = uint32_t(v * 65536);
      const char b[8] = {char(f32 >> 24), char(f32 >> 16), char(f32 >> 8), char(f32), 0, 1, 0, 1};
      put(b, 8);
    };
    fixed(ps_x);
    fixed(ps_y);
    const size_t len = m.size() - 2;
    m[2] = uint8_t(len >> 8);
    m[3] = uint8_t(len);
    f.insert(f.begin() + 2, m.begin(), m.end());
  }
  return f;
}

TEST(JpegResolution, FromJfifDensityOrPhotoshopResource) {
  ScratchFolder dir("jpeg");
  const std::string base = dir.path("base.jpg");
  ASSERT_TRUE(write_jpeg(base, picture(8, 8, 1), 90));
  const auto bytes = klv::test::read_file(base);
  const struct {
    const char* name;
    uint8_t unit;
    uint16_t x, y;
    double ps_x, ps_y;
    double want_x, want_y;
  } cases[] = {
      {"no unit, density 1 means 72", 0, 1, 1, 0, 0, 72, 72},
      {"no unit, other densities as they are", 0, 3, 2, 0, 0, 3, 2},
      {"dots per cm", 2, 100, 50, 0, 0, 254, 127},
      {"dots per inch", 1, 600, 300, 0, 0, 600, 300},
      {"zero becomes 100", 1, 0, 0, 0, 0, 100, 100},
      {"Photoshop resource wins", 1, 600, 600, 720.5, 360, 720.5, 360},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path("res.jpg");
    ASSERT_TRUE(klv::test::write_file(path, with_density(bytes, c.unit, c.x, c.y, c.ps_x, c.ps_y)));
    Decoded d;
    ASSERT_TRUE(decode_file(path, KLV_TYPE_RECOGNISE, &d)) << c.name;
    EXPECT_DOUBLE_EQ(d.info.xres, c.want_x) << c.name;
    EXPECT_DOUBLE_EQ(d.info.yres, c.want_y) << c.name;
    EXPECT_DOUBLE_EQ(d.info.width_inches, 8 / c.want_x) << c.name;
  }
}

// ---- seeking and damage ----

struct Stream {
  void* rec;
  explicit Stream(void* r) : rec(r) {}
  ~Stream() {
    if (rec) jpg_close(rec);
  }
};

TEST(JpegSeek, BackwardsForwardsAndPastTheEnd) {
  ScratchFolder dir("jpeg");
  const std::string jpg = dir.path("seek.jpg");
  const Raster src = picture(33, 50, 3);
  ASSERT_TRUE(write_jpeg(jpg, src, 90));
  Decoded all;
  ASSERT_TRUE(decode_file(jpg, KLV_TYPE_JPEG, &all));
  const size_t bpl = all.info.bytes_per_line;
  auto line_of = [&](int y) {
    return std::vector<uint8_t>(all.lines.begin() + y * bpl, all.lines.begin() + (y + 1) * bpl);
  };
  image_info info;
  Stream s(jpg_open(jpg.c_str(), nullptr, "rb", &info));
  ASSERT_NE(s.rec, nullptr);
  std::vector<uint8_t> line(bpl);
  const struct {
    int32_t line, whence, want;
  } steps[] = {{20, 0, 20}, {-1, 1, 20}, {-1, 1, 20}, {5, 0, 5},   {-1, 1, 5},
               {40, 1, 46}, {0, 2, 49},  {-3, 2, 46}, {-1, 1, 46}, {99, 0, 49}};
  for (const auto& st : steps) {
    // A seek relative to the current line after reading the line: -1 goes
    // back to the line just read.
    ASSERT_EQ(jpg_seek_line(s.rec, st.line, 0, 0, st.whence), st.want)
        << st.line << "," << st.whence;
    ASSERT_EQ(jpg_read_line(s.rec, line.data(), 1), 1);
    EXPECT_EQ(line, line_of(st.want)) << "line " << st.want;
  }
  // Past the last line: a white line and nothing read.
  EXPECT_EQ(jpg_read_line(s.rec, line.data(), 1), 0);
  EXPECT_EQ(line, std::vector<uint8_t>(bpl, 255));
  EXPECT_EQ(jpg_seek_line(s.rec, 0, 1, 0, 0), -1);
  EXPECT_EQ(jpg_seek_line(s.rec, 0, 0, 1, 0), -1);
}

TEST(JpegDamage, TruncatedAndCorruptFilesFailWithoutEndingTheProcess) {
  ScratchFolder dir("jpeg");
  klv::test::LogCapture log;
  const std::string jpg = dir.path("whole.jpg");
  ASSERT_TRUE(write_jpeg(jpg, picture(64, 64, 3), 90));
  const auto bytes = klv::test::read_file(jpg);
  const struct {
    const char* name;
    size_t keep;
    bool opens;
  } cases[] = {{"header only", 20, false},
               {"cut in the scan", bytes.size() / 2, true},
               {"without end marker", bytes.size() - 2, true}};
  for (const auto& c : cases) {
    const std::string path = dir.path("cut.jpg");
    ASSERT_TRUE(klv::test::write_file(
        path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(c.keep))));
    image_info info;
    Stream s(jpg_open(path.c_str(), nullptr, "rb", &info));
    EXPECT_EQ(s.rec != nullptr, c.opens) << c.name;
    if (!s.rec) continue;
    std::vector<uint8_t> lines(size_t(info.bytes_per_line) * info.height);
    const int32_t got = jpg_read_line(s.rec, lines.data(), info.height);
    if (c.keep < bytes.size() - 2) {
      EXPECT_LT(got, info.height) << c.name;
    }
    EXPECT_EQ(jpg_seek_line(s.rec, 0, 0, 0, 0), 0) << c.name;
  }
  // Garbage in the entropy-coded data.
  auto bad = bytes;
  for (size_t i = bad.size() / 2; i < bad.size() / 2 + 64; ++i) bad[i] = 0xFF;
  const std::string path = dir.path("bad.jpg");
  ASSERT_TRUE(klv::test::write_file(path, bad));
  image_info info;
  Stream s(jpg_open(path.c_str(), nullptr, "rb", &info));
  ASSERT_NE(s.rec, nullptr);
  std::vector<uint8_t> lines(size_t(info.bytes_per_line) * info.height);
  EXPECT_LT(jpg_read_line(s.rec, lines.data(), info.height), info.height);
}

}  // namespace

namespace {

TEST(JpegImageObject, ReadsLikeTheStream) {
  ScratchFolder dir("jpeg");
  const std::string jpg = dir.path("obj.jpg");
  ASSERT_TRUE(write_jpeg(jpg, picture(17, 9, 3), 90));
  Decoded all;
  ASSERT_TRUE(decode_file(jpg, KLV_TYPE_JPEG, &all));
  image_info info;
  init_image_info(&info);
  CIMG_file* obj = jpg_img_open(nullptr, jpg.c_str(), "rb", &info);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(info.width, 17);
  IMG_file* img = obj->ToImg('r', KLV_TYPE_JPEG);
  ASSERT_NE(img, nullptr);
  std::vector<uint8_t> lines(all.lines.size());
  EXPECT_EQ(img_read_line(img, lines.data(), info.height), info.height);
  EXPECT_EQ(lines, all.lines);
  img_close(img);
}

}  // namespace
