// SPDX-License-Identifier: MIT
// The saved chain forms "UCCI" and "UCCX": nodes in chain order as chunks of
// tag, 32-bit length and body, then "FLGS" with the flags of the nodes that
// have any. Chunks of any length are read (bodies of 11, 2 or 2178 bytes are
// what the writer makes); a damaged chunk is dropped with a log line and the
// rest still read.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "klv/kernel_stream.h"
#include "klv/log.h"
#include "ucc_io.h"

using namespace klv::ucc;

namespace {

constexpr const char* kMagic[2] = {"UCCI", "UCCX"};
constexpr size_t kMaxFile = 256u << 20;

std::vector<uint8_t> save_form(const t_ucc_node* chain, int form) {
  ByteWriter w;
  w.raw(kMagic[form], 4);
  bool flags = false;
  for (const t_ucc_node* n = chain; n; n = n->next) {
    const TypeInfo* t = type_info(n->type);
    if (!t || !t->tag || !t->written || t->form != form) continue;
    const size_t body = w.begin_chunk(t->tag);
    write_record(w, *t, n->data);
    w.end_chunk(body);
    flags = flags || n->flags != 0;
  }
  if (flags) {
    const size_t body = w.begin_chunk("FLGS");
    for (const t_ucc_node* n = chain; n; n = n->next) {
      const TypeInfo* t = type_info(n->type);
      if (!t || !t->tag || !t->written || t->form != form || !n->flags) continue;
      w.raw(t->tag, 4);
      w.u32(n->flags);
    }
    w.end_chunk(body);
  }
  return std::move(w.bytes);
}

t_ucc_node* read_node(const TypeInfo& t, ByteReader body) {
  t_ucc_node* node = new_ucc(t.type);
  if (!node) return nullptr;
  if (!read_record(body, t, node->data)) {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: chunk %.4s is damaged and was dropped", t.tag);
    free_ucc(node);
    return nullptr;
  }
  return node;
}

void apply_flags(t_ucc_node* chain, ByteReader body, int form) {
  while (body.left() >= 8) {
    char tag[4];
    body.take(tag, 4);
    const uint32_t flags = body.u32();
    const TypeInfo* t = type_by_tag(tag, form);
    if (!t) continue;
    if (t_ucc_node* n = find_ucc_node(chain, t->type)) n->flags = flags;
  }
}

t_ucc_node* load_form(const uint8_t* data, size_t size, t_ucc_node* chain, int want) {
  if (!data || size < 4) return chain;
  int form = std::memcmp(data, kMagic[0], 4) == 0   ? 0
             : std::memcmp(data, kMagic[1], 4) == 0 ? 1
                                                    : -1;
  if (form < 0 || (want >= 0 && form != want)) {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: the file does not begin with %s",
            want == 1 ? "UCCX" : "UCCI");
    return chain;
  }
  ByteReader in(data + 4, size - 4);
  t_ucc_node* read = nullptr;
  while (in.left() >= 8) {
    char tag[4];
    in.take(tag, 4);
    const uint32_t length = in.u32();
    if (length > in.left()) {
      KLV_LOG(KLV_LOG_ERROR, "colour chain: chunk %.4s says %u bytes, %zu are left", tag, length,
              in.left());
      break;
    }
    ByteReader body = in.sub(length);
    if (std::memcmp(tag, "FLGS", 4) == 0) {
      apply_flags(read, body, form);
      continue;
    }
    const TypeInfo* t = type_by_tag(tag, form);
    if (!t) continue;  // unknown chunks are skipped by their length
    read = add_ucc(read, read_node(*t, body));
  }
  return merge_ucc(chain, read);
}

bool read_file(SOVolume* volume, const char* path, std::vector<uint8_t>* out) {
  if (!path) return false;
  SFilemux* f = Ovfopen(volume, path, "rb");
  if (!f) return false;
  const int64_t size = Ofileleni64(f);
  bool ok = size >= 0 && static_cast<uint64_t>(size) <= kMaxFile;
  if (ok) {
    out->resize(static_cast<size_t>(size));
    ok = Oread(f, out->data(), out->size()) == out->size();
  } else {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: \"%s\" is too large (%lld bytes)", path,
            static_cast<long long>(size));
  }
  Oclose(f);
  return ok;
}

int32_t write_file(SOVolume* volume, const char* path, const std::vector<uint8_t>& bytes) {
  if (!path) return 0;
  SFilemux* f = Ovfopen(volume, path, "wb");
  if (!f) {
    KLV_LOG(KLV_LOG_ERROR, "colour chain: \"%s\" cannot be written", path);
    return 0;
  }
  const bool ok = Owrite(f, bytes.data(), bytes.size()) == bytes.size();
  const bool closed = Oclose(f) == 0;
  if (!ok || !closed) KLV_LOG(KLV_LOG_ERROR, "colour chain: writing \"%s\" failed", path);
  return ok && closed ? 1 : 0;
}

t_ucc_node* load_path(SOVolume* volume, const char* path, t_ucc_node* chain, int form) {
  try {
    std::vector<uint8_t> bytes;
    if (!read_file(volume, path, &bytes)) return chain;
    return load_form(bytes.data(), bytes.size(), chain, form);
  } catch (...) {
    return chain;
  }
}

int32_t save_path(SOVolume* volume, const char* path, const t_ucc_node* chain, int form) {
  try {
    return write_file(volume, path, save_form(chain, form));
  } catch (...) {
    return 0;
  }
}

}  // namespace

KLV_API int32_t save_ucc(SOVolume* volume, const char* path, const t_ucc_node* chain) {
  return save_path(volume, path, chain, 0);
}
KLV_API t_ucc_node* load_ucc(SOVolume* volume, const char* path, t_ucc_node* chain) {
  return load_path(volume, path, chain, 0);
}
KLV_API int32_t save_ucc_ext(SOVolume* volume, const char* path, const t_ucc_node* chain) {
  return save_path(volume, path, chain, 1);
}
KLV_API t_ucc_node* load_ucc_ext(SOVolume* volume, const char* path, t_ucc_node* chain) {
  return load_path(volume, path, chain, 1);
}

KLV_API t_ucc_node* ucc_load_mem(const void* data, size_t size, t_ucc_node* chain) {
  try {
    return load_form(static_cast<const uint8_t*>(data), size, chain, -1);
  } catch (...) {
    return chain;
  }
}

KLV_API int32_t ucc_save_mem(const t_ucc_node* chain, int32_t form, void** data, size_t* size) {
  if (!data || !size || (form != 0 && form != 1)) return 0;
  *data = nullptr;
  *size = 0;
  try {
    const std::vector<uint8_t> bytes = save_form(chain, form);
    *data = std::malloc(bytes.size());
    if (!*data) return 0;
    std::memcpy(*data, bytes.data(), bytes.size());
    *size = bytes.size();
    return 1;
  } catch (...) {
    return 0;
  }
}

KLV_API void ucc_free_mem(void* data) {
  std::free(data);
}
