// SPDX-License-Identifier: MIT
// The compression layer over memory streams: round trips at many sizes and
// chunkings, restarting after a rewind, and damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "klv/kernel_layers.h"
#include "klv/kernel_stream.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Image-like data: runs and ramps with some noise, so it compresses but not trivially.
Bytes sample_data(size_t size, uint32_t seed, bool random) {
  Bytes out(size);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < size; ++i)
    out[i] = random ? static_cast<unsigned char>(rng())
                    : static_cast<unsigned char>((i / 37) * 3 + ((rng() & 15) == 0 ? rng() : 0));
  return out;
}

// Compresses `data` in pieces of `chunk` bytes; returns the stream's bytes.
Bytes compress(const Bytes& data, size_t chunk, int32_t parameter = 1) {
  SFilemux* mem = Omemcreate();
  SLZW* lzw = LZWAttach(mem, 'w', parameter);
  EXPECT_NE(lzw, nullptr);
  for (size_t at = 0; at < data.size(); at += chunk) {
    size_t n = std::min(chunk, data.size() - at);
    EXPECT_EQ(LZWWrite(lzw, data.data() + at, n), n);
  }
  EXPECT_EQ(LZWDetach(lzw), 0);
  size_t size = 0;
  const auto* p = static_cast<const unsigned char*>(Omemdata(mem, &size));
  Bytes out(p, p + size);
  Oclose(mem);
  return out;
}

// Decompresses in pieces of `chunk` bytes until a short read.
Bytes decompress(const Bytes& packed, size_t chunk) {
  SFilemux* mem = Omemopen(packed.data(), packed.size());
  SLZW* lzw = LZWAttach(mem, 'r', 0);
  EXPECT_NE(lzw, nullptr);
  Bytes out;
  Bytes piece(chunk);
  for (;;) {
    size_t n = LZWRead(lzw, piece.data(), chunk);
    out.insert(out.end(), piece.begin(), piece.begin() + n);
    if (n < chunk) break;
  }
  EXPECT_EQ(LZWRead(lzw, piece.data(), chunk), 0u);  // stays at the end
  EXPECT_EQ(LZWDetach(lzw), 0);
  Oclose(mem);
  return out;
}

TEST(LzwLayer, RoundTripsAtManySizesAndChunkings) {
  const size_t sizes[] = {0, 1, 2, 255, 4096, 65535, 65536, 65537, (1u << 20) + 3};
  const size_t chunks[] = {1, 7, 4096, 1u << 20};
  for (size_t size : sizes) {
    for (bool random : {false, true}) {
      Bytes data = sample_data(size, static_cast<uint32_t>(size), random);
      for (size_t chunk : chunks) {
        if (chunk == 1 && size > 70000) continue;  // byte-at-a-time is slow enough already
        SCOPED_TRACE(testing::Message()
                     << "size " << size << " random " << random << " chunk " << chunk);
        Bytes packed = compress(data, chunk);
        if (!random && size >= 4096) {
          EXPECT_LT(packed.size(), size / 2);
        }
        EXPECT_EQ(decompress(packed, chunk == 1 ? 1 : 5000), data);
      }
    }
  }
}

TEST(LzwLayer, EveryParameterRoundTrips) {
  Bytes data = sample_data(200000, 5, false);
  size_t fastest = 0, best = 0;
  for (int32_t parameter : {0, 1, 5, 9, 256, 257, -1, 12345}) {
    SCOPED_TRACE(parameter);
    Bytes packed = compress(data, 10000, parameter);
    EXPECT_EQ(decompress(packed, 10000), data);
    if (parameter == 1) fastest = packed.size();
    if (parameter == 9) best = packed.size();
  }
  EXPECT_LE(best, fastest);
}

TEST(LzwLayer, ReadRestartsAfterRewind) {
  Bytes data = sample_data(300000, 9, false);
  Bytes packed = compress(data, 65536);
  SFilemux* mem = Omemopen(packed.data(), packed.size());
  SLZW* lzw = LZWAttach(mem, 'r', 1);
  Bytes part(123457);
  ASSERT_EQ(LZWRead(lzw, part.data(), part.size()), part.size());
  ASSERT_EQ(Oseek(mem, 0, SEEK_SET), 0);
  ASSERT_EQ(LZWRestart(lzw), 0);
  Bytes all(data.size() + 10);
  EXPECT_EQ(LZWRead(lzw, all.data(), all.size()), data.size());
  all.resize(data.size());
  EXPECT_EQ(all, data);
  EXPECT_EQ(LZWDetach(lzw), 0);
  Oclose(mem);
}

// A writer that rewinds and writes a shorter run: the old run's tail stays in
// the stream but is never read as data.
TEST(LzwLayer, WriteRestartsAtStart) {
  Bytes first = sample_data(400000, 1, true);
  Bytes second = sample_data(5000, 2, false);
  SFilemux* mem = Omemcreate();
  SLZW* lzw = LZWAttach(mem, 'w', 1);
  ASSERT_EQ(LZWWrite(lzw, first.data(), first.size()), first.size());
  ASSERT_EQ(Oseek(mem, 0, SEEK_SET), 0);
  ASSERT_EQ(LZWRestart(lzw), 0);
  ASSERT_EQ(LZWWrite(lzw, second.data(), second.size()), second.size());
  ASSERT_EQ(LZWDetach(lzw), 0);
  size_t size = 0;
  const auto* p = static_cast<const unsigned char*>(Omemdata(mem, &size));
  Bytes packed(p, p + size);
  Oclose(mem);
  EXPECT_GT(packed.size(), 300000u);  // the old run's tail is still there
  EXPECT_EQ(decompress(packed, 4096), second);
}

TEST(LzwLayer, DamagedInputGivesShortReads) {
  Bytes data = sample_data(200000, 3, false);
  Bytes packed = compress(data, 65536);
  // Every case ends (decompress checks that reading stays at the end). Damage
  // is found as the data is decoded, so a bad check at the very end is only
  // found after the data before it has been delivered.
  struct Case {
    const char* what;
    Bytes input;
    bool short_read;
    const char* logged;  // part of the line the damage logs
  };
  Bytes flipped = packed;
  for (size_t i = packed.size() / 3; i < packed.size() / 3 + 16; ++i) flipped[i] ^= 0x5A;
  Bytes bad_check = packed;
  bad_check.back() ^= 1;  // the Adler-32 check at the end
  std::vector<Case> cases = {
      {"empty", {}, true, "ends early (0 bytes"},
      {"garbage", sample_data(5000, 4, true), true,
       "damaged after 0 bytes: incorrect header check"},
      {"header only", Bytes(packed.begin(), packed.begin() + 2), true, "ends early (0 bytes"},
      {"cut in half", Bytes(packed.begin(), packed.begin() + packed.size() / 2), true,
       "compressed data ends early"},
      {"cut before the check", Bytes(packed.begin(), packed.end() - 2), false,
       "ends early (200000 bytes"},
      {"bytes flipped", flipped, false, "incorrect data check"},
      {"bad check", bad_check, false, "damaged after 200000 bytes: incorrect data check"},
  };
  klv::test::ResourceCheck resources;
  klv::test::LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes out = decompress(c.input, 65536);
    if (c.short_read) {
      EXPECT_LT(out.size(), data.size());
    }
    const std::string logged = log.Take();
    EXPECT_NE(logged.find(c.logged), std::string::npos) << logged;
  }
  EXPECT_EQ(resources.Leaks(), "");
}

TEST(LzwLayer, NullAndWrongUse) {
  unsigned char byte = 0;
  EXPECT_EQ(LZWAttach(nullptr, 'r', 0), nullptr);
  SFilemux* mem = Omemcreate();
  EXPECT_EQ(LZWAttach(mem, 'a', 0), nullptr);
  EXPECT_EQ(LZWRead(nullptr, &byte, 1), 0u);
  EXPECT_EQ(LZWWrite(nullptr, &byte, 1), 0u);
  EXPECT_EQ(LZWRestart(nullptr), -1);
  EXPECT_EQ(LZWDetach(nullptr), -1);
  SLZW* writer = LZWAttach(mem, 'w', 0);
  EXPECT_EQ(LZWRead(writer, &byte, 1), 0u);  // a writer does not read
  EXPECT_EQ(LZWWrite(writer, nullptr, 1), 0u);
  EXPECT_EQ(LZWDetach(writer), 0);
  Oclose(mem);
}

// A stream that refuses writes: the layer reports the loss at the write that
// overflows its buffer or at the latest when it is detached.
TEST(LzwLayer, RefusedWritesFailTheDetach) {
  static const unsigned char kBlock[4] = {1, 2, 3, 4};
  SFilemux* view = Omemopen(kBlock, sizeof kBlock);
  SLZW* lzw = LZWAttach(view, 'w', 1);
  Bytes data = sample_data(1000, 7, true);
  LZWWrite(lzw, data.data(), data.size());
  EXPECT_EQ(LZWDetach(lzw), -1);
  Oclose(view);
}

}  // namespace
