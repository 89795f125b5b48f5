// SPDX-License-Identifier: MIT
// ICC profile objects: round trips of real profiles, the tag list, shared
// and misaligned table entries, text-only and enciphered profiles, the
// channel layout query and damaged files.
#include "klv/icc_cxx.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "icc_test_util.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

namespace {

using namespace icc_test;
namespace fs = std::filesystem;

constexpr const char* kSystemProfiles = "/usr/share/color/icc";

std::vector<std::string> system_profiles() {
  std::vector<std::string> out;
  if (!fs::is_directory(kSystemProfiles)) return out;
  for (const auto& e : fs::recursive_directory_iterator(kSystemProfiles)) {
    if (!e.is_regular_file()) continue;
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".icc" || ext == ".icm") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The bodies of a profile file by tag signature, straight from its table.
std::map<uint32_t, std::vector<uint8_t>> tag_bodies(const std::vector<uint8_t>& file) {
  std::map<uint32_t, std::vector<uint8_t>> out;
  const uint32_t count = be32(file, 128);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 132 + 12 * i;
    uint32_t offset = be32(file, at + 4), size = be32(file, at + 8);
    auto printable = [&](size_t at) {
      return at + 4 <= file.size() && std::all_of(file.begin() + at, file.begin() + at + 4,
                                                  [](uint8_t c) { return c >= 32 && c < 127; });
    };
    if (offset % 4 && !printable(offset)) {
      size -= 4 - offset % 4;
      offset += 4 - offset % 4;
    }
    if (size < 8 || offset + size > file.size()) continue;
    std::vector<uint8_t> body(file.begin() + offset, file.begin() + offset + size);
    std::fill(body.begin() + 4, body.begin() + 8, 0);  // the reserved word is written as zero
    out[be32(file, at)] = body;
  }
  return out;
}

// Equal content: one body is the other followed by nothing but zero bytes.
// Lookup-table bodies give their own length (sizes of the grid and curves),
// so bytes a writer left after the tables are not content: some shipped
// profiles carry uninitialised padding there, which a save drops.
bool same_content(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  if (!std::equal(a.begin(), a.begin() + n, b.begin())) return false;
  const auto& longer = a.size() > b.size() ? a : b;
  const std::string type(a.begin(), a.begin() + std::min<size_t>(4, a.size()));
  const bool self_sized = type == "mft1" || type == "mft2" || type == "mAB " || type == "mBA ";
  if (self_sized && b.size() < a.size()) return true;
  return std::all_of(longer.begin() + n, longer.end(), [](uint8_t c) { return c == 0; });
}

TEST(IccProfile, SystemProfilesRoundTrip) {
  const auto paths = system_profiles();
  if (paths.empty()) GTEST_SKIP() << "no profiles under " << kSystemProfiles;
  ScratchDir dir;
  for (const auto& path : paths) {
    SCOPED_TRACE(path);
    const auto original = read_file(path);
    CKlvLibIccProfile first;
    ASSERT_EQ(first.Load(nullptr, path.c_str()), 1);
    const std::string saved = dir / "saved.icc";
    ASSERT_EQ(first.Save(nullptr, saved.c_str()), 1);
    const auto written = read_file(saved);

    CKlvLibIccProfile second;
    ASSERT_EQ(second.Load(nullptr, saved.c_str()), 1);
    EXPECT_EQ(second.ToBytes(), written) << "a reloaded profile saves to the same bytes";

    // Header (apart from the size) and every tag body keep their content.
    EXPECT_TRUE(std::equal(original.begin() + 4, original.begin() + 128, written.begin() + 4));
    const auto before = tag_bodies(original), after = tag_bodies(written);
    EXPECT_EQ(before.size(), after.size());
    for (const auto& [signature, body] : before) {
      ASSERT_TRUE(after.count(signature)) << icSignatureText(signature);
      EXPECT_TRUE(same_content(body, after.at(signature))) << icSignatureText(signature);
    }

    // LittleCMS reads the saved file, every tag it could read before included.
    cmsHPROFILE in =
        cmsOpenProfileFromMem(original.data(), static_cast<cmsUInt32Number>(original.size()));
    cmsHPROFILE out =
        cmsOpenProfileFromMem(written.data(), static_cast<cmsUInt32Number>(written.size()));
    ASSERT_NE(out, nullptr);
    if (in) {
      for (cmsInt32Number i = 0; i < cmsGetTagCount(in); ++i) {
        const cmsTagSignature tag = cmsGetTagSignature(in, static_cast<cmsUInt32Number>(i));
        if (cmsReadTag(in, tag)) {
          EXPECT_NE(cmsReadTag(out, tag), nullptr) << icSignatureText(tag);
        }
      }
      cmsCloseProfile(in);
    }
    cmsCloseProfile(out);
  }
}

TEST(IccProfile, UnknownTypeKeptByteForByte) {
  CKlvLibIccProfile profile;
  const uint8_t odd[] = {1, 2, 3, 0, 0xFF, 9, 8, 7, 6, 5, 4, 3, 2};  // 13 bytes, off the grid
  profile.Attach(new CKlvLibIccUnknown(sig("priv"), sig("zzzz"), odd, sizeof odd));
  profile.Attach(new CKlvLibIccText(sig("cprt"), "no copyright"));
  const auto bytes = profile.ToBytes();
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(be32(bytes, 0), bytes.size());

  CKlvLibIccProfile again;
  ASSERT_EQ(again.Load(bytes.data(), bytes.size()), 1);
  auto* tag = dynamic_cast<CKlvLibIccUnknown*>(again.FindTag(sig("priv")));
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->GetTagType(), sig("zzzz"));
  EXPECT_EQ(tag->m_bytes, std::vector<uint8_t>(odd, odd + sizeof odd));
  const auto bodies = tag_bodies(bytes);
  EXPECT_EQ(bodies.at(sig("priv")).size(), 8 + sizeof odd);
  EXPECT_EQ(again.ToBytes(), bytes);
}

TEST(IccProfile, NewProfileDefaults) {
  CKlvLibIccProfile p;
  EXPECT_EQ(p.m_cmm, sig("appl"));
  EXPECT_EQ(p.m_version, 0x02100000u);
  EXPECT_EQ(p.m_class, sig("spac"));
  EXPECT_EQ(p.m_color_space, sig("RGB "));
  EXPECT_EQ(p.m_pcs, sig("Lab "));
  EXPECT_EQ(p.m_platform, sig("MSFT"));
  EXPECT_EQ(p.m_manufacturer, sig("KELV"));
  EXPECT_EQ(p.m_illuminant.X, 63190);
  EXPECT_EQ(p.m_illuminant.Z, 54061);
  EXPECT_GE(p.m_date.year, 2024);
  EXPECT_EQ(p.m_tag_count, 0);
}

TEST(IccProfile, SharedEntriesStayOneElement) {
  RawProfile raw("RGB ", 3);
  const auto body = text_body("shared body");
  raw.place(180, body);
  raw.entry(0, "cprt", 180, static_cast<uint32_t>(body.size()));
  raw.entry(1, "K010", 180, static_cast<uint32_t>(body.size()));
  raw.entry(2, "K020", 180, 12);  // same offset, another size: its own element
  raw.finish();
  CKlvLibIccProfile p;
  ASSERT_EQ(p.Load(raw.bytes.data(), raw.bytes.size()), 1);
  ASSERT_EQ(p.m_tag_count, 2);
  EXPECT_EQ(p.FindTag(sig("cprt")), p.FindTag(sig("K010")));
  EXPECT_NE(p.FindTag(sig("cprt")), p.FindTag(sig("K020")));

  const auto out = p.ToBytes();
  ASSERT_EQ(be32(out, 128), 3u) << "three table entries";
  EXPECT_EQ(be32(out, 132 + 4), be32(out, 144 + 4)) << "both signatures point at one body";
  EXPECT_EQ(be32(out, 132 + 8), be32(out, 144 + 8));

  // Deleting one signature leaves the element under the other; the last destroys it.
  EXPECT_EQ(p.DeleteTag(sig("cprt")), 1);
  EXPECT_EQ(p.m_tag_count, 2);
  ASSERT_NE(p.FindTag(sig("K010")), nullptr);
  EXPECT_EQ(p.DeleteTag(sig("K010")), 1);
  EXPECT_EQ(p.m_tag_count, 1);
  EXPECT_EQ(p.DeleteTag(sig("K010")), 0);
}

TEST(IccProfile, MisalignedOffsetIsMovedUp) {
  // An entry at 146 with size 20 is read from 148 with size 18 (the body is 18 bytes).
  RawProfile raw("RGB ", 1);
  raw.place(144, {0xEE, 0xEE, 0xEE, 0xEE});
  raw.place(148, text_body("abcdefghi"));
  raw.entry(0, "cprt", 146, 20);
  raw.finish();
  CKlvLibIccProfile p;
  ASSERT_EQ(p.Load(raw.bytes.data(), raw.bytes.size()), 1);
  auto* text = dynamic_cast<CKlvLibIccText*>(p.FindTag(sig("cprt")));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Text(), "abcdefghi");
}

TEST(IccProfile, AttachReplacesAndDettachKeeps) {
  CKlvLibIccProfile p;
  p.Attach(new CKlvLibIccText(sig("cprt"), "old"));
  auto* replacement = new CKlvLibIccText(sig("cprt"), "new");
  p.Attach(replacement);
  ASSERT_EQ(p.m_tag_count, 1);
  EXPECT_EQ(p.FindTag(sig("cprt")), replacement);
  EXPECT_EQ(p.Dettach(replacement), 1);
  EXPECT_EQ(p.Dettach(replacement), 0);
  EXPECT_EQ(p.m_tag_count, 0);
  delete replacement;

  CKlvLibIccText tag(sig("aaaa"));
  for (const char* s : {"bbbb", "cccc", "dddd", "eeee"}) EXPECT_EQ(tag.AddTagSignature(sig(s)), 1);
  EXPECT_EQ(tag.AddTagSignature(sig("aaaa")), 1) << "already there";
  EXPECT_EQ(tag.AddTagSignature(sig("ffff")), 0) << "five is the limit";
}

TEST(IccProfile, TextOnlyKeepsTextTags) {
  CKlvLibIccProfile p;
  p.Attach(new CKlvLibIccTextDescription(sig("desc"), "Text only"));
  p.Attach(new CKlvLibIccText(sig("cprt"), "c"));
  p.Attach(new CKlvLibIccMultiLocalizedText(sig("dmnd"), "maker"));
  p.Attach(new CKlvLibIccSigVal(sig("tech"), sig("dcam")));
  p.Attach(new CKlvLibIccColorantTable(sig("clrt")));
  p.Attach(new CKlvLibIccXYZ(sig("wtpt"), 0.9642, 1.0, 0.8249));
  const uint16_t gamma[] = {0x0233};
  p.Attach(new CKlvLibIccCurve(sig("rTRC"), 1, gamma));
  p.Attach(new CKlvLibIccLut16(sig("A2B0"), 3, 2, 2, 3, 2));
  const auto bytes = p.ToBytes();

  CKlvLibIccProfile full;
  ASSERT_EQ(full.Load(bytes.data(), bytes.size()), 1);
  EXPECT_EQ(full.m_tag_count, 8);
  CKlvLibIccTextProfile text;
  ASSERT_EQ(text.Load(bytes.data(), bytes.size()), 1);
  EXPECT_EQ(text.m_tag_count, 5);
  for (const char* s : {"desc", "cprt", "dmnd", "tech", "clrt"})
    EXPECT_NE(text.FindTag(sig(s)), nullptr) << s;
  EXPECT_EQ(text.Description(), "Text only");
  auto* maker = dynamic_cast<CKlvLibIccMultiLocalizedText*>(full.FindTag(sig("dmnd")));
  ASSERT_NE(maker, nullptr);
  EXPECT_EQ(maker->Text(), "maker");
}

TEST(IccProfile, LookupTablesRoundTripInBothPackings) {
  for (uint8_t packing : {0, 1}) {
    SCOPED_TRACE(int(packing));
    CKlvLibIccProfile p;
    auto* lut8 = new CKlvLibIccLut8(sig("A2B0"), 3, 5, 3);
    auto* lut16 = new CKlvLibIccLut16(sig("B2A0"), 3, 256, 9, 4, 4096);
    ASSERT_EQ(lut8->m_clut.size(), 125u * 3);
    EXPECT_EQ(lut8->m_input_tables[256 + 7], 7);
    EXPECT_EQ(lut16->m_output_tables[4095], 65535);
    EXPECT_EQ(lut16->m_output_tables[4096 + 1], 16);  // 1 * 65535 / 4095
    EXPECT_EQ(lut16->m_matrix[4], 65536);
    for (size_t i = 0; i < lut8->m_clut.size(); ++i) lut8->m_clut[i] = uint8_t(i * 37);
    for (size_t i = 0; i < lut16->m_clut.size(); ++i) lut16->m_clut[i] = uint16_t(i * 7919);
    lut8->m_packing = lut16->m_packing = packing;
    const auto clut8 = lut8->m_clut;
    const auto clut16 = lut16->m_clut;
    p.Attach(lut8);
    p.Attach(lut16);
    const auto bytes = p.ToBytes();
    CKlvLibIccProfile q;
    ASSERT_EQ(q.Load(bytes.data(), bytes.size()), 1);
    auto* r8 = dynamic_cast<CKlvLibIccLut8*>(q.FindTag(sig("A2B0")));
    auto* r16 = dynamic_cast<CKlvLibIccLut16*>(q.FindTag(sig("B2A0")));
    ASSERT_TRUE(r8 && r16);
    EXPECT_EQ(r8->m_clut, clut8);
    EXPECT_EQ(r16->m_clut, clut16);
    EXPECT_EQ(r16->m_output_entries, 4096);
  }
}

TEST(IccProfile, EncipheredLoadsOnlyWithItsKey) {
  ScratchDir dir;
  const std::string path = dir / "secret.icc";
  CKlvLibIccProfile p;
  p.Attach(new CKlvLibIccTextDescription(sig("desc"), "Secret"));
  ASSERT_EQ(p.Save(nullptr, path.c_str(), 0x1234), 1);
  const auto bytes = read_file(path);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(be32(bytes, 0), sig("ECFF"));
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), std::begin("Secret"), std::end("Secret") - 1),
            bytes.end())
      << "the text is not in the clear";

  CKlvLibIccProfile no_key, wrong_key, right_key;
  EXPECT_EQ(no_key.Load(nullptr, path.c_str()), 0);
  EXPECT_EQ(wrong_key.Load(nullptr, path.c_str(), 0x4321), 0);
  ASSERT_EQ(right_key.Load(nullptr, path.c_str(), 0x1234), 1);
  EXPECT_EQ(right_key.Description(), "Secret");
}

TEST(IccProfile, ChannelLayout) {
  ScratchDir dir;
  struct Case {
    const char* name;
    const char* space;
    std::vector<const char*> colorants;  // empty: no colorant table
    const char* description;
    int32_t result, channels, spots, model, hifi;
  };
  const Case cases[] = {
      {"rgb", "RGB ", {}, "", 0, 3, 0, 1, 0},
      {"lab", "Lab ", {}, "", 0, 3, 0, 3, 0},
      {"seven",
       "7CLR",
       {"Cyan", "Magenta", "Yellow", "Black", "Orange", "Green", "White"},
       "",
       1,
       7,
       1,
       0,
       0},
      {"ogb",
       "7CLR",
       {"cyan", "MAGENTA", "Yellow", "Black", "Orange", "Green", "Violet"},
       "",
       1,
       7,
       0,
       0,
       1},
      {"cmyk plain", "CMYK", {"Cyan", "Magenta", "Yellow", "Black"}, "", 1, 4, 0, 0, 0},
      {"markers only", "CMYK", {}, "Press -KLVHIFI=2 -KLVSPOTS=3", 1, 4, 3, 0, 2},
      {"old marker", "6CLR", {}, "Old -OBHIFI", 1, 6, 0, 0, 2},
      {"cmyk spots",
       "6CLR",
       {"Cyan", "Magenta", "Yellow", "Black", "Gold", "Silver"},
       "",
       1,
       6,
       2,
       0,
       0},
      {"unknown order", "4CLR", {"Red", "Cyan", "Magenta", "Yellow"}, "", 1, 4, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CKlvLibIccProfile p;
    p.m_color_space = sig(c.space);
    p.Attach(new CKlvLibIccTextDescription(sig("desc"), c.description));
    if (!c.colorants.empty()) {
      auto* table = new CKlvLibIccColorantTable(sig("clrt"));
      for (const char* n : c.colorants) table->AddColorant(n, 0, 0, 0);
      p.Attach(table);
    }
    const std::string path = dir / "layout.icc";
    ASSERT_EQ(p.Save(nullptr, path.c_str()), 1);
    int32_t channels = -1, spots = -1, model = -1, hifi = -1;
    EXPECT_EQ(GetProfileColorFormat(path.c_str(), &channels, &spots, &model, &hifi), c.result);
    EXPECT_EQ(channels, c.channels);
    EXPECT_EQ(spots, c.spots);
    EXPECT_EQ(model, c.model);
    EXPECT_EQ(hifi, c.hifi);
    EXPECT_EQ(GetIccProfileFileColorSpace(path.c_str()), sig(c.space));
  }
  int32_t a, b, m, h;
  EXPECT_EQ(GetProfileColorFormat("/no/such/profile.icc", &a, &b, &m, &h), 0);
  EXPECT_EQ(GetProfileColorFormat(nullptr, &a, &b, &m, &h), 0);
  EXPECT_EQ(GetIccProfileMemColorSpace(nullptr, 0), 0u);
}

TEST(IccProfile, PrivateNameTagsGiveLetters) {
  ScratchDir dir;
  CKlvLibIccProfile p;
  p.m_color_space = sig("5CLR");
  const char* names[] = {"Cyan", "Magenta", "Yellow", "Black", "Red"};
  for (int i = 0; i < 5; ++i) {
    const std::string tag = "K0" + std::to_string(i + 1) + "0";
    p.Attach(new CKlvLibIccText(sig(tag.c_str()), names[i]));
  }
  const std::string path = dir / "names.icc";
  ASSERT_EQ(p.Save(nullptr, path.c_str()), 1);
  int32_t channels, spots, model, hifi;
  EXPECT_EQ(GetProfileColorFormat(path.c_str(), &channels, &spots, &model, &hifi), 1);
  EXPECT_EQ(channels, 5);
  EXPECT_EQ(spots, 0);
  EXPECT_EQ(hifi, 0) << "CMYKR is the red ink set";
}

TEST(IccProfile, DamagedFilesFailCleanly) {
  CKlvLibIccProfile good;
  good.Attach(new CKlvLibIccTextDescription(sig("desc"), "Cut me"));
  good.Attach(new CKlvLibIccLut16(sig("A2B0"), 3, 16, 5, 3, 16));
  const auto bytes = good.ToBytes();
  // Every cut: the header check fails below 128 bytes; above, tags that do not fit are dropped.
  for (size_t n = 0; n < bytes.size(); n += 7) {
    CKlvLibIccProfile p;
    const int32_t ok = p.Load(bytes.data(), n);
    EXPECT_EQ(ok, n >= 128 ? 1 : 0) << n;
    EXPECT_LE(p.m_tag_count, 2);
  }
  // A table that claims far more tags than the file holds, and entries beyond the end.
  RawProfile raw("RGB ", 2);
  raw.entry(0, "desc", 0xFFFFFFF0u, 0x7FFFFFFF);
  raw.entry(1, "cprt", 140, 0xFFFFFFFFu);
  raw.bytes[128] = 0x7F;  // tag count
  raw.finish();
  CKlvLibIccProfile hostile;
  EXPECT_EQ(hostile.Load(raw.bytes.data(), raw.bytes.size()), 1);
  EXPECT_EQ(hostile.m_tag_count, 0);

  // A lookup table whose grid does not fit in its body.
  RawProfile lut("RGB ", 1);
  std::vector<uint8_t> body;
  put_be32(body, sig("mft2"));
  put_be32(body, 0);
  body.insert(body.end(), {15, 15, 255, 0});
  body.resize(body.size() + 36 + 4 + 64, 0);
  lut.entry(0, "A2B0", 144, static_cast<uint32_t>(body.size()));
  lut.place(144, body);
  lut.finish();
  CKlvLibIccProfile bad_lut;
  EXPECT_EQ(bad_lut.Load(lut.bytes.data(), lut.bytes.size()), 1);
  EXPECT_EQ(bad_lut.FindTag(sig("A2B0")), nullptr);

  CKlvLibIccProfile not_icc;
  const std::vector<uint8_t> junk(300, 'x');
  EXPECT_EQ(not_icc.Load(junk.data(), junk.size()), 0);
  EXPECT_EQ(not_icc.Load(nullptr, "/no/such/file.icc"), 0);
}

TEST(IccProfile, FuzzFindsStayFixed) {
  const auto bytes = read_file(std::string(KLV_TEST_DATA) + "/icc/zero-signature-entry.icc");
  ASSERT_FALSE(bytes.empty());
  CKlvLibIccProfile first;
  ASSERT_EQ(first.Load(bytes.data(), bytes.size()), 1);
  EXPECT_EQ(first.FindTag(0), nullptr) << "signature 0 names no tag";
  const auto saved = first.ToBytes();
  CKlvLibIccProfile second;
  ASSERT_EQ(second.Load(saved.data(), saved.size()), 1);
  EXPECT_EQ(second.ToBytes(), saved);
}

TEST(IccNumbers, Conversions) {
  EXPECT_EQ(icDtoF(1.0), 65536);
  EXPECT_EQ(icDtoF(-1.0), -65536);
  EXPECT_EQ(icDtoF(1e9), 0x7FFFFFFF);
  EXPECT_EQ(icDtoF(-1e9), INT32_MIN);
  EXPECT_DOUBLE_EQ(icFtoD(32768), 0.5);
  EXPECT_EQ(icABtoByte(0), 128);
  EXPECT_EQ(icABtoByte(500), 255);
  EXPECT_EQ(icABtoWord(-200), 0);
  EXPECT_EQ(icABtoWord(0), 32768);
  uint16_t words[3];
  icPutLab(100, 0, 0, words);
  EXPECT_EQ(words[0], 65280);
  double lab[3];
  icGetLab(words, lab);
  EXPECT_NEAR(lab[0], 100, 1e-9);
  icXYZNumber xyz;
  icPutLab(50, 20, -30, xyz);
  icGetLab(xyz, lab);
  EXPECT_NEAR(lab[0], 50, 5e-3);  // s15.16 steps
  EXPECT_NEAR(lab[1], 20, 5e-3);
  EXPECT_NEAR(lab[2], -30, 5e-3);
}

}  // namespace
