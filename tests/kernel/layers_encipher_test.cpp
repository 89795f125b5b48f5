// SPDX-License-Identifier: MIT
// The enciphering layer: round trips, random access and ownership of the
// stream below.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes plain_data(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(i * 7 + (i >> 8));
  return out;
}

// Enciphers `data` into a new memory block under `key`.
Bytes encipher(const Bytes& data, const char* key) {
  SFilemux* mem = Omemcreate();
  SFilemux* layer = fencrypt_attach(mem, key);
  EXPECT_EQ(Owrite(layer, data.data(), data.size()), data.size());
  size_t size = 0;
  const auto* p = static_cast<const unsigned char*>(Omemdata(mem, &size));
  Bytes out(p, p + size);
  EXPECT_EQ(Oclose(layer), 0);  // closes mem too
  return out;
}

TEST(EncipherLayer, RoundTripsAndHidesTheData) {
  Bytes data = plain_data(100000);
  Bytes secret = encipher(data, "job key");
  ASSERT_EQ(secret.size(), data.size());
  size_t same = 0;
  for (size_t i = 0; i < data.size(); ++i) same += secret[i] == data[i];
  EXPECT_LT(same, data.size() / 100);

  SFilemux* layer = fencrypt_attach(Omemopen(secret.data(), secret.size()), "job key");
  Bytes back(data.size());
  EXPECT_EQ(Oread(layer, back.data(), back.size()), data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(Oclose(layer), 0);

  EXPECT_NE(encipher(data, "other key"), secret);
  EXPECT_EQ(encipher(data, nullptr), encipher(data, ""));  // both the built-in key
  EXPECT_NE(encipher(data, nullptr), secret);
}

TEST(EncipherLayer, SeeksReadAndRewriteAnywhere) {
  Bytes data = plain_data(50000);
  SFilemux* mem = Omemcreate();
  SFilemux* layer = fencrypt_attach(mem, "k");
  ASSERT_EQ(Owrite(layer, data.data(), data.size()), data.size());
  EXPECT_EQ(Otell(layer), 50000);
  EXPECT_EQ(Ofilelen(layer), 50000);

  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    size_t at = rng() % data.size();
    size_t n = std::min<size_t>(rng() % 300 + 1, data.size() - at);
    ASSERT_EQ(Oseek(layer, static_cast<int32_t>(at), SEEK_SET), 0);
    if (i % 2) {  // rewrite a piece in place
      for (size_t j = 0; j < n; ++j) data[at + j] = static_cast<unsigned char>(rng());
      ASSERT_EQ(Owrite(layer, data.data() + at, n), n);
    } else {
      Bytes piece(n);
      ASSERT_EQ(Oread(layer, piece.data(), n), n);
      ASSERT_TRUE(std::equal(piece.begin(), piece.end(), data.begin() + at)) << "at " << at;
    }
    EXPECT_EQ(Otell(layer), static_cast<int32_t>(at + n));
  }
  // Origins 1 and 2, and Ogetc through the layer.
  ASSERT_EQ(Oseek(layer, -10, SEEK_END), 0);
  EXPECT_EQ(Ogetc(layer), data[data.size() - 10]);
  ASSERT_EQ(Oseek(layer, 3, SEEK_CUR), 0);
  EXPECT_EQ(Ogetc(layer), data[data.size() - 6]);
  EXPECT_EQ(Oseek(layer, -1, SEEK_SET), -1);

  ASSERT_EQ(Oseek(layer, 0, SEEK_SET), 0);
  Bytes all(data.size());
  EXPECT_EQ(Oread(layer, all.data(), all.size()), all.size());
  EXPECT_EQ(all, data);
  EXPECT_EQ(Oclose(layer), 0);
}

// Over a host file: the layer closes the file; reading the file raw shows
// enciphered bytes, reading it through the layer the text.
TEST(EncipherLayer, OwnsAndClosesAHostFile) {
  std::string path = testing::TempDir() + "encipher_host.bin";
  const char text[] = "Printer_Info {\n  Name { Demo }\n}\n";
  SFilemux* layer = fencrypt_attach(Ovfopen(nullptr, path.c_str(), "wb"), nullptr);
  ASSERT_NE(layer, nullptr);
  EXPECT_EQ(Oprintf(layer, "%s", text), static_cast<int32_t>(sizeof text - 1));
  EXPECT_EQ(Oclose(layer), 0);

  SFilemux* raw = Ovfopen(nullptr, path.c_str(), "rb");
  char buf[128] = {};
  ASSERT_EQ(Oread(raw, buf, sizeof text - 1), sizeof text - 1);
  EXPECT_NE(std::string(buf), text);
  Oclose(raw);

  layer = fencrypt_attach(Ovfopen(nullptr, path.c_str(), "rb"), nullptr);
  char line[64];
  ASSERT_NE(Ogets(line, sizeof line, layer), nullptr);
  EXPECT_STREQ(line, "Printer_Info {\n");
  EXPECT_EQ(Oclose(layer), 0);
  std::remove(path.c_str());

  EXPECT_EQ(fencrypt_attach(nullptr, "k"), nullptr);
}

// The compression layer over the enciphering layer: the two stack.
TEST(EncipherLayer, CarriesACompressedRun) {
  Bytes data = plain_data(70000);
  SFilemux* mem = Omemcreate();
  SFilemux* layer = fencrypt_attach(mem, "stack");
  SLZW* lzw = LZWAttach(layer, 'w', 9);
  ASSERT_EQ(LZWWrite(lzw, data.data(), data.size()), data.size());
  ASSERT_EQ(LZWDetach(lzw), 0);
  ASSERT_EQ(Oseek(layer, 0, SEEK_SET), 0);
  lzw = LZWAttach(layer, 'r', 0);
  Bytes back(data.size());
  EXPECT_EQ(LZWRead(lzw, back.data(), back.size()), data.size());
  EXPECT_EQ(back, data);
  EXPECT_EQ(LZWDetach(lzw), 0);
  EXPECT_EQ(Oclose(layer), 0);
}

}  // namespace
