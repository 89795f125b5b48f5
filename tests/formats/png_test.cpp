// SPDX-License-Identifier: MIT
// PNG stream: files of every colour type and depth (interlaced too) made by
// netpbm and PIL decode to the samples netpbm decodes; what we write netpbm
// and PIL read back exactly, with resolution and profile; seeking; damage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "klv/imgmux.h"
#include "klv/pngimg.h"
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

const char kProfile[] = "/usr/share/color/icc/sRGB.icc";

// Samples of `depth` channels up to `maxval`, with a `colours`-value cycle
// when `colours` is non-zero (so that netpbm picks a palette of that size).
Raster source(int width, int height, int depth, uint32_t maxval, int colours = 0) {
  Raster r;
  r.width = width;
  r.height = height;
  r.depth = depth;
  r.maxval = maxval;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < depth; ++c) {
        uint32_t v;
        if (colours) {
          const uint32_t k = uint32_t(x + 3 * y) % uint32_t(colours);
          v = (k * 37 + uint32_t(c) * 11 * k) % (maxval + 1);
        } else {
          v = (uint32_t(x) * 2654435761u + uint32_t(y) * 40503u + uint32_t(c) * 977u) %
              (maxval + 1);
        }
        r.samples.push_back(static_cast<uint16_t>(v));
      }
  return r;
}

// The value of every channel of every pixel as our stream delivers it,
// palette indices looked up in the map.
std::vector<uint32_t> our_samples(const Decoded& d) {
  const image_info& in = d.info;
  const bool palette = in.photometric == KLV_PHOTO_PALETTE;
  const uint32_t channels = in.samples + in.mask_samples;
  std::vector<uint32_t> out;
  for (int y = 0; y < in.height; ++y) {
    const uint8_t* line = d.lines.data() + size_t(y) * in.bytes_per_line;
    for (int x = 0; x < in.width; ++x)
      for (uint32_t c = 0; c < channels; ++c) {
        const size_t i = size_t(x) * channels + c;
        uint32_t v;
        if (in.bits_per_sample == 16) {
          uint16_t w;
          std::memcpy(&w, line + 2 * i, 2);
          v = w;
        } else if (in.bits_per_sample == 8) {
          v = line[i];
        } else {
          const size_t bit = i * in.bits_per_sample;
          v = (line[bit / 8] >> (8 - in.bits_per_sample - bit % 8)) &
              ((1u << in.bits_per_sample) - 1);
        }
        if (palette) {
          for (int k = 0; k < 3; ++k) out.push_back(d.map.at(size_t(v) * 3 + k));
          continue;
        }
        out.push_back(v);
      }
  }
  return out;
}

// Peer samples scaled to our depth; the peer's alpha dropped when we have none.
std::vector<uint32_t> peer_samples(const Raster& r, uint32_t our_channels, uint32_t our_max) {
  std::vector<uint32_t> out;
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x)
      for (uint32_t c = 0; c < our_channels; ++c)
        out.push_back((uint32_t(r.at(x, y, int(c))) * our_max + r.maxval / 2) / r.maxval);
  return out;
}

std::vector<uint8_t> ihdr_of(const std::string& path) {
  const auto f = klv::test::read_file(path);
  return f.size() > 29 ? std::vector<uint8_t>{f[24], f[25], f[28]} : std::vector<uint8_t>{};
}

struct PeerCase {
  const char* name;
  int depth;  // source channels
  uint32_t maxval;
  const char* tupltype;  // PAM tuple type, "" for PNM
  int colours;           // palette sources: colours in the picture
  const char* encode;    // {in} source, {out} PNG
  // What the PNG must hold: bit depth, colour type, interlace.
  uint8_t bits, color_type, interlace;
};

const PeerCase kPeerCases[] = {
    {"gray1", 1, 1, "", 0, "pamtopng {in} > {out}", 1, 0, 0},
    {"gray2", 1, 3, "", 0, "pamtopng {in} > {out}", 2, 0, 0},
    {"gray4", 1, 15, "", 0, "pamtopng {in} > {out}", 4, 0, 0},
    {"gray8", 1, 255, "", 0, "pamtopng {in} > {out}", 8, 0, 0},
    {"gray16", 1, 65535, "", 0, "pamtopng {in} > {out}", 16, 0, 0},
    {"gray_alpha8", 2, 255, "GRAYSCALE_ALPHA", 0, "pamtopng {in} > {out}", 8, 4, 0},
    {"gray_alpha16", 2, 65535, "GRAYSCALE_ALPHA", 0, "pamtopng {in} > {out}", 16, 4, 0},
    {"rgb8", 3, 255, "", 0, "pamtopng {in} > {out}", 8, 2, 0},
    {"rgb16", 3, 65535, "", 0, "pamtopng {in} > {out}", 16, 2, 0},
    {"rgba8", 4, 255, "RGB_ALPHA", 0, "pamtopng {in} > {out}", 8, 6, 0},
    {"rgba16", 4, 65535, "RGB_ALPHA", 0, "pamtopng {in} > {out}", 16, 6, 0},
    {"palette1", 3, 255, "", 2, "pnmtopng {in} > {out}", 1, 3, 0},
    {"palette2", 3, 255, "", 4, "pnmtopng {in} > {out}", 2, 3, 0},
    {"palette4", 3, 255, "", 16, "pnmtopng {in} > {out}", 4, 3, 0},
    {"palette8", 3, 255, "", 200, "pnmtopng {in} > {out}", 8, 3, 0},
    {"interlaced_gray2", 1, 3, "", 0, "pamtopng -interlace {in} > {out}", 2, 0, 1},
    {"interlaced_gray8", 1, 255, "", 0, "pamtopng -interlace {in} > {out}", 8, 0, 1},
    {"interlaced_rgba16", 4, 65535, "RGB_ALPHA", 0, "pamtopng -interlace {in} > {out}", 16, 6, 1},
    {"interlaced_palette4", 3, 255, "", 16, "pnmtopng -interlace {in} > {out}", 4, 3, 1},
    {"pil_rgb8", 3, 255, "", 0,
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('{in}').save('{out}')\"", 8, 2, 0},
    {"pil_palette8", 3, 255, "", 100,
     "/usr/bin/python3 -c \"from PIL import Image; "
     "Image.open('{in}').convert('P', palette=Image.ADAPTIVE, colors=256).save('{out}')\"",
     8, 3, 0},
};

std::string fill(std::string line, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}})
    for (size_t at; (at = line.find(key)) != std::string::npos;)
      line.replace(at, key.size(), value);
  return line;
}

class PngPeers : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PngPeers, DecodeToThePeersSamples) {
  const PeerCase& c = GetParam();
  if (!have_tool("pamtopng") || !have_tool("pngtopam") || !have_tool("/usr/bin/python3"))
    GTEST_SKIP() << "needs netpbm and python3-pil";
  ScratchFolder dir("png");
  const std::string src = dir.path(std::string("src.") + (*c.tupltype ? "pam" : "pnm"));
  const std::string png = dir.path("peer.png"), ref = dir.path("peer.pam");
  ASSERT_TRUE(write_netpbm(src, source(29, 17, c.depth, c.maxval, c.colours), c.tupltype));
  ASSERT_TRUE(run_shell(fill(c.encode, src, png))) << c.name;
  ASSERT_EQ(ihdr_of(png), (std::vector<uint8_t>{c.bits, c.color_type, c.interlace})) << c.name;
  ASSERT_TRUE(run_shell("pngtopam -alphapam " + png + " > " + ref));
  Decoded ours;
  ASSERT_TRUE(decode_file(png, KLV_TYPE_RECOGNISE, &ours)) << c.name;
  EXPECT_EQ(ours.type, KLV_TYPE_PNG);
  const bool palette = c.color_type == 3;
  EXPECT_EQ(ours.info.photometric, uint32_t(palette ? KLV_PHOTO_PALETTE : KLV_PHOTO_MINBLACK));
  EXPECT_EQ(ours.info.mask_samples, (c.color_type & 4) ? 1u : 0u);
  if (c.bits == 16) {
    EXPECT_EQ(ours.info.bits_per_sample, 16u);
  }
  const uint32_t channels = palette ? 3 : ours.info.samples + ours.info.mask_samples;
  const uint32_t our_max = palette ? 255 : (1u << std::max(ours.info.bits_per_sample, 1u)) - 1;
  const auto theirs = peer_samples(read_netpbm(ref), channels, our_max);
  EXPECT_EQ(our_samples(ours), theirs) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Files, PngPeers, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- writing ----

struct WriteCase {
  const char* name;
  uint32_t samples, mask, bits, photometric;
};

const WriteCase kWriteCases[] = {
    {"gray1", 1, 0, 1, KLV_PHOTO_MINBLACK},         {"gray2", 1, 0, 2, KLV_PHOTO_MINBLACK},
    {"gray4", 1, 0, 4, KLV_PHOTO_MINBLACK},         {"gray8", 1, 0, 8, KLV_PHOTO_MINBLACK},
    {"gray16", 1, 0, 16, KLV_PHOTO_MINBLACK},       {"gray_alpha8", 1, 1, 8, KLV_PHOTO_MINBLACK},
    {"gray_alpha16", 1, 1, 16, KLV_PHOTO_MINBLACK}, {"rgb8", 3, 0, 8, KLV_PHOTO_MINBLACK},
    {"rgb16", 3, 0, 16, KLV_PHOTO_MINBLACK},        {"rgba8", 3, 1, 8, KLV_PHOTO_MINBLACK},
    {"rgba16", 3, 1, 16, KLV_PHOTO_MINBLACK},       {"palette1", 1, 0, 1, KLV_PHOTO_PALETTE},
    {"palette2", 1, 0, 2, KLV_PHOTO_PALETTE},       {"palette4", 1, 0, 4, KLV_PHOTO_PALETTE},
    {"palette8", 1, 0, 8, KLV_PHOTO_PALETTE},
};

image_cmap* make_map(uint32_t entries) {
  auto* m = static_cast<image_cmap*>(std::calloc(1, sizeof(image_cmap)));
  m->channels = 3;
  m->entries = entries;
  m->photometric = 1;
  for (int c = 0; c < 3; ++c) {
    m->channel[c] = static_cast<uint8_t*>(std::malloc(entries));
    for (uint32_t i = 0; i < entries; ++i) m->channel[c][i] = uint8_t(i * 29 + c * 80);
  }
  return m;
}

class PngWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(PngWrite, PeersReadWhatWeWriteExactly) {
  const WriteCase& c = GetParam();
  if (!have_tool("pngtopam") || !have_tool("/usr/bin/python3"))
    GTEST_SKIP() << "needs netpbm and python3-pil";
  ScratchFolder dir("png");
  const std::string png = dir.path("ours.png"), ref = dir.path("peer.pam");
  image_info info;
  init_image_info(&info);
  info.width = 23;
  info.height = 11;
  info.samples = c.samples;
  info.mask_samples = c.mask;
  info.bits_per_sample = c.bits;
  info.photometric = c.photometric;
  info.xres = 300;
  info.yres = 150;
  if (c.photometric == KLV_PHOTO_PALETTE) info.cmap = make_map(1u << c.bits);
  const auto icc = klv::test::read_file(kProfile);
  auto* profile = static_cast<image_profile*>(std::malloc(sizeof(image_profile) + icc.size()));
  profile->size = uint32_t(icc.size());
  std::memcpy(profile->data, icc.data(), icc.size());
  info.profile_word = c.samples == 3 ? profile : nullptr;
  IMG_file* img = img_mux_open(png.c_str(), nullptr, "wb", &info, KLV_TYPE_PNG);
  ASSERT_NE(img, nullptr);
  std::vector<uint8_t> lines(size_t(info.bytes_per_line) * info.height);
  for (size_t i = 0; i < lines.size(); ++i) lines[i] = uint8_t(i * 131 + i / 7);
  EXPECT_EQ(img_write_line(img, lines.data(), info.height), info.height);
  EXPECT_EQ(img_close_status(img), 0);

  // The samples written, palette entries looked up.
  Decoded written;
  written.info = info;
  written.lines = lines;
  if (info.cmap)
    for (uint32_t i = 0; i < info.cmap->entries; ++i)
      for (int k = 0; k < 3; ++k) written.map.push_back(info.cmap->channel[k][i]);
  const auto want = our_samples(written);
  const bool palette = c.photometric == KLV_PHOTO_PALETTE;
  const uint32_t channels = palette ? 3 : c.samples + c.mask;
  const uint32_t write_max = palette ? 255 : (1u << c.bits) - 1;

  Decoded ours;
  ASSERT_TRUE(decode_file(png, KLV_TYPE_RECOGNISE, &ours));
  // Read back: the same samples (gray of 2 and 4 bits scaled to 8 bits).
  std::vector<uint32_t> back = our_samples(ours);
  const uint32_t read_max = palette ? 255 : (1u << ours.info.bits_per_sample) - 1;
  for (auto& v : back) v = (v * write_max + read_max / 2) / read_max;
  EXPECT_EQ(back, want);
  EXPECT_NEAR(ours.info.xres, 300, 0.02);
  EXPECT_NEAR(ours.info.yres, 150, 0.02);
  EXPECT_EQ(ours.profile, info.profile_word != nullptr);
  ASSERT_TRUE(run_shell("pngtopam -alphapam " + png + " > " + ref));
  EXPECT_EQ(peer_samples(read_netpbm(ref), channels, write_max), want);
  if (info.profile_word) {
    const std::string out = dir.path("icc.bin");
    ASSERT_TRUE(
        run_shell("/usr/bin/python3 -c \"from PIL import Image\n"
                  "open('" +
                  out + "', 'wb').write(Image.open('" + png + "').info['icc_profile'])\""));
    EXPECT_EQ(klv::test::read_file(out), icc);
  }
  std::free(profile);
  free_cmap(info.cmap);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PngWriteRefusal, DescriptionsWithoutAPngForm) {
  ScratchFolder dir("png");
  klv::test::LogCapture log;
  const struct {
    uint32_t samples, mask, bits, photometric;
    bool cmap;
  } cases[] = {{4, 0, 8, 1, false}, {1, 1, 4, 1, false}, {3, 0, 4, 1, false},
               {1, 0, 8, 2, false}, {1, 0, 16, 2, true}, {1, 0, 8, 0, false}};
  for (const auto& c : cases) {
    image_info info;
    init_image_info(&info);
    info.width = info.height = 4;
    info.samples = c.samples;
    info.mask_samples = c.mask;
    info.bits_per_sample = c.bits;
    info.photometric = c.photometric;
    if (c.cmap) info.cmap = make_map(4);
    EXPECT_EQ(pngimg_open(dir.path("x.png").c_str(), nullptr, "wb", &info), nullptr);
    free_cmap(info.cmap);
  }
}

// ---- resolution, profile, seeking, damage ----

TEST(PngRead, ResolutionAndProfileFromPil) {
  if (!have_tool("/usr/bin/python3")) GTEST_SKIP() << "needs python3-pil";
  ScratchFolder dir("png");
  const std::string png = dir.path("pil.png");
  ASSERT_TRUE(
      run_shell("/usr/bin/python3 -c \"from PIL import Image\n"
                "Image.new('RGB', (5, 4), (1, 2, 3)).save('" +
                png + "', dpi=(254, 127), icc_profile=open('" + kProfile + "', 'rb').read())\""));
  Decoded d;
  ASSERT_TRUE(decode_file(png, KLV_TYPE_RECOGNISE, &d));
  EXPECT_NEAR(d.info.xres, 254, 0.01);
  EXPECT_NEAR(d.info.yres, 127, 0.01);
  EXPECT_TRUE(d.profile);
  EXPECT_EQ(d.profile_size, klv::test::read_file(kProfile).size());
}

TEST(PngSeek, BackwardsAndForwardsGiveTheSameLines) {
  if (!have_tool("pamtopng")) GTEST_SKIP() << "needs netpbm";
  ScratchFolder dir("png");
  for (const char* flags : {"", "-interlace"}) {
    const std::string src = dir.path("src.ppm"), png = dir.path("seek.png");
    ASSERT_TRUE(write_netpbm(src, source(19, 40, 3, 255)));
    ASSERT_TRUE(run_shell(std::string("pamtopng ") + flags + " " + src + " > " + png));
    Decoded all;
    ASSERT_TRUE(decode_file(png, KLV_TYPE_PNG, &all));
    const size_t bpl = all.info.bytes_per_line;
    image_info info;
    void* rec = pngimg_open(png.c_str(), nullptr, "rb", &info);
    ASSERT_NE(rec, nullptr);
    std::vector<uint8_t> line(bpl);
    for (int32_t y : {30, 2, 2, 39, 0, 17}) {
      ASSERT_EQ(pngimg_seek_line(rec, y, 0, 0, 0), y);
      ASSERT_EQ(pngimg_read_line(rec, line.data(), 1), 1);
      EXPECT_EQ(0, std::memcmp(line.data(), all.lines.data() + y * bpl, bpl)) << flags << y;
    }
    EXPECT_EQ(pngimg_seek_line(rec, 0, 0, 0, 2), 39);
    EXPECT_EQ(pngimg_seek_line(rec, 0, 1, 0, 0), -1);
    pngimg_close(rec);
  }
}

TEST(PngDamage, CutAndCorruptFilesFailCleanly) {
  if (!have_tool("pamtopng")) GTEST_SKIP() << "needs netpbm";
  ScratchFolder dir("png");
  klv::test::LogCapture log;
  const std::string src = dir.path("src.ppm"), png = dir.path("whole.png");
  ASSERT_TRUE(write_netpbm(src, source(64, 64, 3, 255)));
  ASSERT_TRUE(run_shell("pamtopng " + src + " > " + png));
  const auto bytes = klv::test::read_file(png);
  for (size_t keep : {size_t(8), size_t(30), bytes.size() / 2}) {
    const std::string cut = dir.path("cut.png");
    ASSERT_TRUE(klv::test::write_file(
        cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(keep))));
    Decoded d;
    EXPECT_FALSE(decode_file(cut, KLV_TYPE_PNG, &d)) << keep;
  }
  auto bad = bytes;
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 16; ++i) bad[i] ^= 0x5A;
  const std::string path = dir.path("bad.png");
  ASSERT_TRUE(klv::test::write_file(path, bad));
  Decoded d;
  EXPECT_FALSE(decode_file(path, KLV_TYPE_PNG, &d));
}

}  // namespace
