// SPDX-License-Identifier: MIT
// The enciphering layer. Obfuscation, not security: each byte is XORed with
// a keystream byte that depends only on the key and the byte's position, so
// the layer seeks freely and enciphering twice gives the plain data back.
// The keystream of each 64-byte block comes from splitmix64 seeded with the
// key's hash and the block number; anyone with this source can undo it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "kernel/stream.h"
#include "klv/kernel_layers.h"
#include "klv/log.h"

namespace klv::kernel {
namespace {

constexpr char kBuiltinKey[] = "KlvKernel fencrypt 1";
constexpr size_t kBlock = 64;

uint64_t hash_key(const char* key) {
  uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
    h ^= *p;
    h *= 0x100000001B3ull;
  }
  return h;
}

inline uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class EncipherStream final : public SFilemux {
 public:
  EncipherStream(SFilemux* inner, uint64_t key) : inner_(inner), key_(key) {
    int64_t pos = inner_->tell();
    pos_ = pos > 0 ? static_cast<uint64_t>(pos) : 0;
  }
  ~EncipherStream() override { delete inner_; }

  size_t read(void* buffer, size_t count) override {
    size_t n = inner_->read(buffer, count);
    apply(pos_, static_cast<unsigned char*>(buffer), n);
    pos_ += n;
    return n;
  }
  size_t write(const void* buffer, size_t count) override {
    const auto* in = static_cast<const unsigned char*>(buffer);
    unsigned char scratch[16 * 1024];
    size_t done = 0;
    while (done < count) {
      size_t n = std::min(count - done, sizeof scratch);
      std::memcpy(scratch, in + done, n);
      apply(pos_, scratch, n);
      size_t put = inner_->write(scratch, n);
      pos_ += put;
      done += put;
      if (put < n) break;
    }
    return done;
  }
  bool seek(int64_t offset, int origin) override {
    if (!inner_->seek(offset, origin)) return false;
    int64_t pos = inner_->tell();
    if (pos < 0) return false;
    pos_ = static_cast<uint64_t>(pos);
    return true;
  }
  int64_t tell() override { return static_cast<int64_t>(pos_); }
  int64_t length() override { return inner_->length(); }
  bool flush() override { return inner_->flush(); }
  bool finish() override { return inner_->finish(); }
  SOVolume* volume() const override { return inner_->volume(); }

 private:
  // XORs data (which sits at stream position pos) with the keystream.
  void apply(uint64_t pos, unsigned char* data, size_t n) const {
    while (n > 0) {
      uint64_t block = pos / kBlock;
      size_t offset = static_cast<size_t>(pos % kBlock);
      uint64_t state = key_ ^ (block * 0xD1B54A32D192ED03ull);
      unsigned char stream[kBlock];
      for (size_t i = 0; i < kBlock; i += 8) {
        uint64_t w = splitmix(state);
        std::memcpy(stream + i, &w, 8);
      }
      size_t take = std::min(n, kBlock - offset);
      for (size_t i = 0; i < take; ++i) data[i] ^= stream[offset + i];
      data += take;
      pos += take;
      n -= take;
    }
  }

  SFilemux* inner_;
  uint64_t key_;
  uint64_t pos_ = 0;
};

}  // namespace
}  // namespace klv::kernel

extern "C" KLV_API SFilemux* fencrypt_attach(SFilemux* stream, const char* key) {
  if (!stream) return nullptr;
  const char* text = (key && *key) ? key : klv::kernel::kBuiltinKey;
  try {
    return new klv::kernel::EncipherStream(stream, klv::kernel::hash_key(text));
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "enciphering layer: out of memory");
    return nullptr;
  }
}
