// SPDX-License-Identifier: MIT
// The compression layer: zlib's deflate in its zlib wrapper (header and
// Adler-32 check) between the caller and a stream. Reading stops at the end
// of the run, so bytes after it in the stream are never taken for data;
// damaged data ends the run with a short read and one log line.
#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kernel/stream.h"
#include "klv/kernel_layers.h"
#include "klv/log.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;

int level_of(int32_t parameter) {
  int low = parameter & 0xFF;
  return (low >= 1 && low <= 9) ? low : Z_DEFAULT_COMPRESSION;
}

}  // namespace

struct SLZW {
  SFilemux* stream = nullptr;
  bool writing = false;
  int level = Z_DEFAULT_COMPRESSION;
  z_stream z{};
  bool z_ready = false;
  bool ended = false;   // reading: the run is over (its end, damage or a stream failure)
  bool failed = false;  // writing: the stream refused data
  std::vector<unsigned char> buffer;

  ~SLZW() {
    if (z_ready) writing ? deflateEnd(&z) : inflateEnd(&z);
  }

  bool init() {
    buffer.resize(kBufferSize);
    std::memset(&z, 0, sizeof z);
    int rc = writing ? deflateInit(&z, level) : inflateInit(&z);
    if (rc != Z_OK) {
      KLV_LOG(KLV_LOG_ERROR, "compression layer: zlib set-up failed (%d)", rc);
      return false;
    }
    z_ready = true;
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    return true;
  }

  bool restart() {
    int rc = writing ? deflateReset(&z) : inflateReset(&z);
    z.next_in = nullptr;
    z.avail_in = 0;
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    ended = failed = false;
    return rc == Z_OK;
  }

  size_t read(unsigned char* out, size_t count) {
    size_t done = 0;
    while (done < count && !ended) {
      if (z.avail_in == 0) {
        size_t got = stream->read(buffer.data(), buffer.size());
        if (got == 0) {
          KLV_LOG(KLV_LOG_ERROR, "compressed data ends early (%zu bytes of the run decoded)",
                  static_cast<size_t>(z.total_out));
          ended = true;
          break;
        }
        z.next_in = buffer.data();
        z.avail_in = static_cast<uInt>(got);
      }
      size_t want = count - done;
      uInt chunk = want > 0x40000000u ? 0x40000000u : static_cast<uInt>(want);
      z.next_out = out + done;
      z.avail_out = chunk;
      uInt in_before = z.avail_in;
      int rc = inflate(&z, Z_NO_FLUSH);
      done += chunk - z.avail_out;
      bool stuck = (z.avail_in == in_before && z.avail_out == chunk);
      if (rc == Z_STREAM_END) {
        ended = true;
      } else if ((rc != Z_OK && rc != Z_BUF_ERROR) || stuck) {
        KLV_LOG(KLV_LOG_ERROR, "compressed data is damaged after %zu bytes: %s",
                static_cast<size_t>(z.total_out), z.msg ? z.msg : "zlib error");
        ended = true;
      }
    }
    return done;
  }

  // Writes what deflate has put into buffer and empties it; false when the
  // stream refused it.
  bool drain() {
    size_t have = buffer.size() - z.avail_out;
    z.next_out = buffer.data();
    z.avail_out = static_cast<uInt>(buffer.size());
    if (have && stream->write(buffer.data(), have) != have) {
      KLV_LOG(KLV_LOG_ERROR, "compression layer: the stream refused %zu bytes", have);
      failed = true;
      return false;
    }
    return true;
  }

  size_t write(const unsigned char* in, size_t count) {
    if (failed) return 0;
    size_t done = 0;
    while (done < count) {
      size_t left = count - done;
      uInt chunk = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
      z.next_in = const_cast<unsigned char*>(in + done);
      z.avail_in = chunk;
      while (z.avail_in > 0) {
        deflate(&z, Z_NO_FLUSH);
        if (z.avail_out == 0 && !drain()) return 0;
      }
      done += chunk;
    }
    return count;
  }

  bool finish() {
    if (failed) return false;
    for (;;) {
      int rc = deflate(&z, Z_FINISH);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
        KLV_LOG(KLV_LOG_ERROR, "compression layer: deflate failed (%d)", rc);
        return false;
      }
      if ((z.avail_out == 0 || rc == Z_STREAM_END) && !drain()) return false;
      if (rc == Z_STREAM_END) return true;
    }
  }
};

extern "C" {

KLV_API SLZW* LZWAttach(SFilemux* stream, int32_t mode, int32_t parameter) {
  if (!stream) return nullptr;
  if (mode != 'r' && mode != 'w') {
    KLV_LOG(KLV_LOG_ERROR, "compression layer: mode %d is neither 'r' nor 'w'", mode);
    return nullptr;
  }
  try {
    auto lzw = std::make_unique<SLZW>();
    lzw->stream = stream;
    lzw->writing = (mode == 'w');
    lzw->level = level_of(parameter);
    if (!lzw->init()) return nullptr;
    return lzw.release();
  } catch (...) {
    KLV_LOG(KLV_LOG_ERROR, "compression layer: out of memory");
    return nullptr;
  }
}

KLV_API size_t LZWRead(SLZW* lzw, void* buffer, size_t count) {
  if (!lzw || !buffer || count == 0 || lzw->writing) return 0;
  try {
    return lzw->read(static_cast<unsigned char*>(buffer), count);
  } catch (...) {
    lzw->ended = true;
    return 0;
  }
}

KLV_API size_t LZWWrite(SLZW* lzw, const void* buffer, size_t count) {
  if (!lzw || !buffer || count == 0 || !lzw->writing) return 0;
  try {
    return lzw->write(static_cast<const unsigned char*>(buffer), count);
  } catch (...) {
    lzw->failed = true;
    return 0;
  }
}

KLV_API int32_t LZWRestart(SLZW* lzw) {
  if (!lzw) return -1;
  return lzw->restart() ? 0 : -1;
}

KLV_API int32_t LZWDetach(SLZW* lzw) {
  if (!lzw) return -1;
  bool ok = true;
  try {
    if (lzw->writing) ok = lzw->finish();
  } catch (...) {
    ok = false;
  }
  delete lzw;
  return ok ? 0 : -1;
}

}  // extern "C"
