// SPDX-License-Identifier: MIT
// The ICC profile object: header, tag table and the list of elements; loading
// (plain or enciphered, from a file or from memory) and saving.
//
// Files are read whole into memory before they are parsed, so every offset
// and size in the tag table is checked against the real length of the data
// and a damaged profile never makes the reader allocate more than the file
// holds.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "color/icc_io.h"
#include "klv/icc_cxx.h"
#include "klv/kernel_layers.h"
#include "klv/kernel_settings.h"
#include "klv/log.h"

using namespace klv::icc;

namespace {

constexpr icSignature kMagic = KLV_ICC_SIG('a', 'c', 's', 'p');
constexpr icSignature kEnciphered = KLV_ICC_SIG('E', 'C', 'F', 'F');
constexpr uint32_t kHeaderSize = 128;
// Largest profile file read (the biggest real ones are a few tens of MiB).
constexpr int64_t kMaxProfileBytes = int64_t{256} << 20;
// Real profiles carry a few dozen tags; a table longer than this is damage.
constexpr uint32_t kMaxTags = 1024;

struct StreamCloser {
  void operator()(SFilemux* s) const {
    if (s) Oclose(s);
  }
};
using StreamPtr = std::unique_ptr<SFilemux, StreamCloser>;

std::string key_text(uint16_t key) {
  return "icc-key-" + std::to_string(key);
}

// Reads the whole of a stream from its current position to the end.
bool read_rest(SFilemux* s, std::vector<uint8_t>& out, const char* path) {
  const int64_t length = Ofileleni64(s), at = Otelli64(s);
  if (length < 0 || at < 0 || at > length) return false;
  if (length > kMaxProfileBytes) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" is %lld bytes, more than a profile may be", path,
            static_cast<long long>(length));
    return false;
  }
  out.resize(static_cast<size_t>(length - at));
  return get_bytes(s, out.data(), out.size());
}

// True when four printable characters (a type signature) stand at `offset`.
bool type_signature_at(SFilemux* s, uint32_t offset) {
  uint8_t type[4];
  if (Oseeki64(s, offset, 0) != 0 || !get_bytes(s, type, 4)) return false;
  return std::all_of(std::begin(type), std::end(type),
                     [](uint8_t c) { return c >= 32 && c < 127; });
}

}  // namespace

// ---------------------------------------------------------------------------
// Making and freeing

CKlvLibIccProfile::CKlvLibIccProfile() {
  ClearHeader();
  m_cmm = KLV_ICC_SIG('a', 'p', 'p', 'l');
  m_version = 0x02100000;
  m_class = KLV_ICC_SIG('s', 'p', 'a', 'c');
  m_color_space = KLV_ICC_SIG('R', 'G', 'B', ' ');
  m_pcs = KLV_ICC_SIG('L', 'a', 'b', ' ');
  icSetDateTime(m_date);
  m_magic = kMagic;
  m_platform = KLV_ICC_SIG('M', 'S', 'F', 'T');
  m_manufacturer = KLV_ICC_SIG('K', 'E', 'L', 'V');
  m_model = KLV_ICC_SIG('n', 'o', 'n', 'e');
  m_illuminant = icXYZNumber{63190, 65536, 54061};
  m_creator = KLV_ICC_SIG('K', 'E', 'L', 'V');
}

CKlvLibIccProfile::~CKlvLibIccProfile() {
  FreeTags();
}

void CKlvLibIccProfile::ClearHeader() {
  m_size = 0;
  m_cmm = m_version = m_class = m_color_space = m_pcs = 0;
  m_date = icDateTimeNumber{};
  m_magic = m_platform = m_flags = m_manufacturer = m_model = 0;
  m_attributes = 0;
  m_intent = 0;
  m_illuminant = icXYZNumber{};
  m_creator = 0;
  std::memset(m_reserved, 0, sizeof m_reserved);
}

void CKlvLibIccProfile::FreeTags() {
  for (int32_t i = 0; i < m_tag_count; ++i) delete m_tags[i];
  std::free(m_tags);
  m_tags = nullptr;
  m_tag_count = 0;
}

// ---------------------------------------------------------------------------
// The tag list

CKlvLibIccTag* CKlvLibIccProfile::FindTag(icTagSignature signature) const {
  for (int32_t i = 0; i < m_tag_count; ++i)
    if (m_tags[i]->HasTagSignature(signature)) return m_tags[i];
  return nullptr;
}

void CKlvLibIccProfile::Attach(CKlvLibIccTag* tag) {
  if (!tag) return;
  for (int32_t i = 0; i < tag->SignatureCount(); ++i) {
    const icTagSignature signature = tag->Signatures()[i];
    // Only other elements are cut loose; the element itself may be listed already.
    while (CKlvLibIccTag* old = FindTag(signature)) {
      if (old == tag) break;
      DeleteTag(signature);
    }
  }
  for (int32_t i = 0; i < m_tag_count; ++i)
    if (m_tags[i] == tag) return;
  auto* grown = static_cast<CKlvLibIccTag**>(
      std::realloc(m_tags, sizeof(CKlvLibIccTag*) * static_cast<size_t>(m_tag_count + 1)));
  if (!grown) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile: out of memory for the tag list");
    delete tag;
    return;
  }
  m_tags = grown;
  m_tags[m_tag_count++] = tag;
}

int32_t CKlvLibIccProfile::Dettach(CKlvLibIccTag* tag) {
  for (int32_t i = 0; i < m_tag_count; ++i) {
    if (m_tags[i] != tag) continue;
    std::memmove(m_tags + i, m_tags + i + 1, sizeof(CKlvLibIccTag*) * (m_tag_count - i - 1));
    --m_tag_count;
    return 1;
  }
  return 0;
}

int32_t CKlvLibIccProfile::DeleteTag(icTagSignature signature) {
  CKlvLibIccTag* tag = FindTag(signature);
  if (!tag) return 0;
  tag->RemoveTagSignature(signature);
  if (tag->SignatureCount() == 0) {
    Dettach(tag);
    delete tag;
  }
  return 1;
}

bool CKlvLibIccProfile::IsTextTag(icTagTypeSignature type) {
  return type == KLV_ICC_SIG('t', 'e', 'x', 't') || type == KLV_ICC_SIG('m', 'l', 'u', 'c') ||
         type == KLV_ICC_SIG('d', 'e', 's', 'c') || type == KLV_ICC_SIG('s', 'i', 'g', ' ') ||
         type == KLV_ICC_SIG('c', 'l', 'r', 't');
}

CKlvLibIccTag* CKlvLibIccProfile::AllocateTag(icTagSignature signature, icTagTypeSignature type) {
  try {
    switch (type) {
      case KLV_ICC_SIG('c', 'u', 'r', 'v'):
        return new CKlvLibIccCurve(signature);
      case KLV_ICC_SIG('t', 'e', 'x', 't'):
        return new CKlvLibIccText(signature);
      case KLV_ICC_SIG('m', 'l', 'u', 'c'):
        return new CKlvLibIccMultiLocalizedText(signature);
      case KLV_ICC_SIG('s', 'i', 'g', ' '):
        return new CKlvLibIccSigVal(signature);
      case KLV_ICC_SIG('m', 'f', 't', '1'):
        return new CKlvLibIccLut8(signature);
      case KLV_ICC_SIG('m', 'f', 't', '2'):
        return new CKlvLibIccLut16(signature);
      case KLV_ICC_SIG('d', 'e', 's', 'c'):
        return new CKlvLibIccTextDescription(signature);
      case KLV_ICC_SIG('X', 'Y', 'Z', ' '):
        return new CKlvLibIccXYZ(signature);
      case KLV_ICC_SIG('c', 'l', 'r', 't'):
        return new CKlvLibIccColorantTable(signature);
      default:
        return new CKlvLibIccUnknown(signature, type);
    }
  } catch (...) {
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Reading

bool CKlvLibIccProfile::ReadHdr(SFilemux* s) {
  ClearHeader();
  if (Oseeki64(s, 0, 0) != 0) return false;
  bool ok = get32(s, m_size) && get32(s, m_cmm) && get32(s, m_version) && get32(s, m_class) &&
            get32(s, m_color_space) && get32(s, m_pcs) && get16(s, m_date.year) &&
            get16(s, m_date.month) && get16(s, m_date.day) && get16(s, m_date.hours) &&
            get16(s, m_date.minutes) && get16(s, m_date.seconds) && get32(s, m_magic) &&
            get32(s, m_platform) && get32(s, m_flags) && get32(s, m_manufacturer) &&
            get32(s, m_model);
  uint32_t high = 0, low = 0;
  ok = ok && get32(s, high) && get32(s, low);
  m_attributes = (uint64_t{high} << 32) | low;
  ok = ok && get32(s, m_intent) && get32(s, m_illuminant.X) && get32(s, m_illuminant.Y) &&
       get32(s, m_illuminant.Z) && get32(s, m_creator) &&
       get_bytes(s, m_reserved, sizeof m_reserved);
  return ok && m_magic == kMagic;
}

CKlvLibIccTag* CKlvLibIccProfile::LoadTag(SFilemux* s, const TableEntry& entry) {
  // Signature 0 ends an element's signature list, so it cannot name a tag.
  if (entry.size < 8 || entry.signature == 0) return nullptr;
  const int64_t length = Ofileleni64(s);
  if (entry.offset > length || entry.size > length - entry.offset) {
    KLV_LOG(KLV_LOG_ERROR, "ICC tag %s: %u bytes at offset %u lie beyond the %lld-byte profile",
            icSignatureText(entry.signature).c_str(), entry.size, entry.offset,
            static_cast<long long>(length));
    return nullptr;
  }
  uint32_t type = 0, reserved = 0;
  if (Oseeki64(s, entry.offset, 0) != 0 || !get32(s, type)) return nullptr;
  if (m_text_only && !IsTextTag(type)) return nullptr;
  if (!get32(s, reserved)) return nullptr;
  std::unique_ptr<CKlvLibIccTag> tag(AllocateTag(entry.signature, type));
  if (!tag) return nullptr;
  if (!tag->Read(s, entry.size - 8)) {
    KLV_LOG(KLV_LOG_WARNING, "ICC tag %s of type %s cannot be read; it is dropped",
            icSignatureText(entry.signature).c_str(), icSignatureText(type).c_str());
    return nullptr;
  }
  return tag.release();
}

int32_t CKlvLibIccProfile::Read(SFilemux* s) {
  FreeTags();
  if (!s) return 0;
  if (!ReadHdr(s)) {
    Oseeki64(s, 0, 2);
    return 0;
  }
  const int64_t length = Ofileleni64(s);
  uint32_t count = 0;
  if (!get32(s, count)) count = 0;
  const uint64_t room = length > kHeaderSize + 4 ? (length - kHeaderSize - 4) / 12 : 0;
  if (count > room) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile says %u tags, its %lld bytes hold at most %llu", count,
            static_cast<long long>(length), static_cast<unsigned long long>(room));
    count = static_cast<uint32_t>(room);
  }
  if (count > kMaxTags) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile lists %u tags; only the first %u are read", count,
            kMaxTags);
    count = kMaxTags;
  }
  std::vector<TableEntry> table(count);
  for (auto& e : table)
    if (!get32(s, e.signature) || !get32(s, e.offset) || !get32(s, e.size)) return 1;
  for (auto& e : table) {
    const uint32_t miss = e.offset % 4;
    if (miss == 0 || type_signature_at(s, e.offset)) continue;
    // An offset off the 4-byte grid with no type there is moved up to the grid,
    // and the size shrinks by as much. Writers that really placed a body off the
    // grid (some older profiles do) are read where they put it.
    const uint32_t step = 4 - miss;
    e.offset += step;
    e.size = e.size > step ? e.size - step : 0;
  }
  Oseeki64(s, kHeaderSize + 4 + 12 * int64_t{count}, 0);
  std::vector<CKlvLibIccTag*> loaded(count, nullptr);
  // Elements of earlier entries that a later duplicate signature destroyed
  // are forgotten at once, so no entry keeps a pointer to a freed element.
  auto forget_dead = [&] {
    std::unordered_set<const CKlvLibIccTag*> live(m_tags, m_tags + m_tag_count);
    for (auto& tag : loaded)
      if (tag && !live.count(tag)) tag = nullptr;
  };
  for (uint32_t i = 0; i < count; ++i) {
    const TableEntry& e = table[i];
    const int32_t before = m_tag_count;
    bool shared = false;
    for (uint32_t j = 0; j < i && !shared; ++j) {
      if (table[j].offset != e.offset || table[j].size != e.size) continue;
      shared = true;
      // The same body serves an earlier signature: one element carries both.
      CKlvLibIccTag* earlier = loaded[j];
      if (!earlier || earlier->HasTagSignature(e.signature)) break;
      DeleteTag(e.signature);
      if (m_tag_count < before) forget_dead();
      if (!loaded[j]) {
        shared = false;  // deleting the duplicate took the earlier element with it
      } else if (earlier->AddTagSignature(e.signature)) {
        loaded[i] = earlier;
      } else {
        shared = false;  // five signatures already: this one gets an element of its own
      }
    }
    if (shared) continue;
    if (CKlvLibIccTag* tag = LoadTag(s, e)) {
      const int32_t held = m_tag_count;
      Attach(tag);
      if (m_tag_count != held + 1) forget_dead();
      loaded[i] = FindTag(e.signature) == tag ? tag : nullptr;
    }
  }
  Oseeki64(s, 0, 2);
  return 1;
}

int32_t CKlvLibIccProfile::Load(const void* memory, size_t size) {
  FreeTags();
  ClearHeader();
  if (!memory || size == 0) return 0;
  StreamPtr s(Omemopen(memory, size));
  if (!s) return 0;
  if (!Read(s.get())) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile in memory (%zu bytes) has no valid header", size);
    return 0;
  }
  return 1;
}

int32_t CKlvLibIccProfile::Load(SOVolume* volume, const char* path, uint16_t key) {
  FreeTags();
  ClearHeader();
  if (!path) return 0;
  StreamPtr file(Ovfopen(volume, path, "rb"));
  if (!file) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" cannot be opened", path);
    return 0;
  }
  uint32_t first = 0;
  const bool has_first = get32(file.get(), first);
  std::vector<uint8_t> bytes;
  if (has_first && first == kEnciphered) {
    if (key == 0) {
      KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" is enciphered and no key was given", path);
      return 0;
    }
    const std::string text = key_text(key);
    SFilemux* layer = fencrypt_attach(file.get(), text.c_str());
    if (!layer) return 0;
    file.release();
    file.reset(layer);
    if (Oseeki64(layer, 4, 0) != 0 || !read_rest(layer, bytes, path)) return 0;
  } else {
    if (Oseeki64(file.get(), 0, 0) != 0 || !read_rest(file.get(), bytes, path)) return 0;
  }
  file.reset();
  if (bytes.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" is empty", path);
    return 0;
  }
  StreamPtr s(Omemopen(bytes.data(), bytes.size()));
  if (!s || !Read(s.get())) {
    KLV_LOG(KLV_LOG_ERROR, "\"%s\" is not an ICC profile (%zu bytes, no \"acsp\" header)", path,
            bytes.size());
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Writing

int32_t CKlvLibIccProfile::WriteHdr(SFilemux* s) {
  return put32(s, m_size) && put32(s, m_cmm) && put32(s, m_version) && put32(s, m_class) &&
         put32(s, m_color_space) && put32(s, m_pcs) && put16(s, m_date.year) &&
         put16(s, m_date.month) && put16(s, m_date.day) && put16(s, m_date.hours) &&
         put16(s, m_date.minutes) && put16(s, m_date.seconds) && put32(s, m_magic) &&
         put32(s, m_platform) && put32(s, m_flags) && put32(s, m_manufacturer) &&
         put32(s, m_model) && put32(s, static_cast<uint32_t>(m_attributes >> 32)) &&
         put32(s, static_cast<uint32_t>(m_attributes)) && put32(s, m_intent) &&
         put32(s, m_illuminant.X) && put32(s, m_illuminant.Y) && put32(s, m_illuminant.Z) &&
         put32(s, m_creator) && put_bytes(s, m_reserved, sizeof m_reserved);
}

int32_t CKlvLibIccProfile::Write(SFilemux* s) {
  if (!s || Oseeki64(s, 0, 0) != 0 || !WriteHdr(s)) return 0;
  uint32_t entries = 0;
  for (int32_t i = 0; i < m_tag_count; ++i)
    entries += static_cast<uint32_t>(m_tags[i]->SignatureCount());
  if (!put32(s, entries)) return 0;
  for (int32_t i = 0; i < m_tag_count; ++i)
    for (int32_t k = 0; k < m_tags[i]->SignatureCount(); ++k)
      if (!put32(s, m_tags[i]->Signatures()[k]) || !put32(s, 0u) || !put32(s, 0u)) return 0;
  int32_t entry = static_cast<int32_t>(kHeaderSize + 4);
  for (int32_t i = 0; i < m_tag_count; ++i) {
    if (!m_tags[i]->Write(s, entry)) return 0;
    entry += 12 * m_tags[i]->SignatureCount();
  }
  const int64_t length = Ofileleni64(s);
  if (length < 0 || length > UINT32_MAX) return 0;
  m_size = static_cast<uint32_t>(length);
  if (Oseeki64(s, 0, 0) != 0 || !put32(s, m_size)) return 0;
  return Oseeki64(s, 0, 2) == 0;
}

std::vector<uint8_t> CKlvLibIccProfile::ToBytes() {
  std::vector<uint8_t> out;
  StreamPtr s(Omemcreate());
  if (!s || !Write(s.get())) return out;
  size_t size = 0;
  const auto* data = static_cast<const uint8_t*>(Omemdata(s.get(), &size));
  if (data) out.assign(data, data + size);
  return out;
}

int32_t CKlvLibIccProfile::Save(SOVolume* volume, const char* path, uint16_t key) {
  if (!path) return 0;
  std::vector<uint8_t> bytes = ToBytes();
  if (bytes.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile for \"%s\" could not be put together", path);
    return 0;
  }
  if (key != 0) {
    // "ECFF" then the profile enciphered at its place in the file (from byte 4).
    StreamPtr mem(Omemcreate());
    if (!mem || !put32(mem.get(), kEnciphered)) return 0;
    const std::string text = key_text(key);
    StreamPtr layer(fencrypt_attach(mem.get(), text.c_str()));
    if (!layer) {
      KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\": the enciphering layer cannot be opened", path);
      return 0;
    }
    SFilemux* plain = mem.release();  // the layer owns it now
    if (!put_bytes(layer.get(), bytes.data(), bytes.size())) return 0;
    size_t size = 0;
    const auto* data = static_cast<const uint8_t*>(Omemdata(plain, &size));
    if (!data) return 0;
    bytes.assign(data, data + size);
  }
  SFSAVE* save = fp_save_begin(volume, path);
  if (!save) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" cannot be made", path);
    return 0;
  }
  const bool written = put_bytes(fp_save_stream(save), bytes.data(), bytes.size());
  if (!fp_save_end(save, written ? 1 : 0) || !written) {
    KLV_LOG(KLV_LOG_ERROR, "ICC profile \"%s\" could not be written", path);
    return 0;
  }
  return 1;
}

std::string CKlvLibIccProfile::Description() const {
  const CKlvLibIccTag* tag = FindTag(KLV_ICC_SIG('d', 'e', 's', 'c'));
  if (!tag) return {};
  const icTagTypeSignature type = tag->GetTagType();
  if (type == KLV_ICC_SIG('d', 'e', 's', 'c') || type == KLV_ICC_SIG('m', 'l', 'u', 'c') ||
      type == KLV_ICC_SIG('t', 'e', 'x', 't'))
    return static_cast<const CKlvLibIccTextTag*>(tag)->Text();
  return {};
}

std::string icSignatureText(icSignature signature) {
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(signature >> (24 - 8 * i));
    text[i] = (c >= 32 && c < 127) ? static_cast<char>(c) : '.';
  }
  return text;
}
