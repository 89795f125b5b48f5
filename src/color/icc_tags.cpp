// SPDX-License-Identifier: MIT
// The ICC tag element classes: each reads and writes its own body. Bodies are
// read only within the size the tag table gives, which the profile reader has
// checked against the file, so no size read from a file allocates more than
// the file holds.
#include <algorithm>
#include <cstring>

#include "color/icc_io.h"
#include "klv/icc_cxx.h"
#include "klv/kernel_layers.h"
#include "klv/log.h"

namespace klv::icc {

bool get16_array(SFilemux* s, std::vector<uint16_t>& out, size_t count) {
  out.resize(count);
  if (count == 0) return true;
  if (Oread(s, out.data(), count * 2) != count * 2) return false;
  for (auto& v : out) v = static_cast<uint16_t>((v >> 8) | (v << 8));
  return true;
}

bool put16_array(SFilemux* s, const uint16_t* values, size_t count) {
  uint16_t block[4096];
  while (count > 0) {
    const size_t n = std::min(count, std::size(block));
    for (size_t i = 0; i < n; ++i)
      block[i] = static_cast<uint16_t>((values[i] >> 8) | (values[i] << 8));
    if (Owrite(s, block, n * 2) != n * 2) return false;
    values += n;
    count -= n;
  }
  return true;
}

}  // namespace klv::icc

using namespace klv::icc;

namespace {

constexpr icTagTypeSignature kCurv = KLV_ICC_SIG('c', 'u', 'r', 'v');
constexpr icTagTypeSignature kText = KLV_ICC_SIG('t', 'e', 'x', 't');
constexpr icTagTypeSignature kMluc = KLV_ICC_SIG('m', 'l', 'u', 'c');
constexpr icTagTypeSignature kSig = KLV_ICC_SIG('s', 'i', 'g', ' ');
constexpr icTagTypeSignature kMft1 = KLV_ICC_SIG('m', 'f', 't', '1');
constexpr icTagTypeSignature kMft2 = KLV_ICC_SIG('m', 'f', 't', '2');
constexpr icTagTypeSignature kDesc = KLV_ICC_SIG('d', 'e', 's', 'c');
constexpr icTagTypeSignature kXYZ = KLV_ICC_SIG('X', 'Y', 'Z', ' ');
constexpr icTagTypeSignature kClrt = KLV_ICC_SIG('c', 'l', 'r', 't');

// grid^inputs * outputs, or 0 when it exceeds `limit` entries.
size_t clut_entries(uint32_t inputs, uint32_t grid, uint32_t outputs, size_t limit) {
  size_t n = outputs;
  for (uint32_t i = 0; i < inputs; ++i) {
    if (grid != 0 && n > limit / grid) return 0;
    n *= grid;
  }
  return n <= limit ? n : 0;
}

void identity_matrix(icS15Fixed16Number* m) {
  for (int i = 0; i < 9; ++i) m[i] = (i % 4 == 0) ? 65536 : 0;
}

// Packing mode 1 keeps the lookup table channel by channel as differences
// between successive grid points (modulo the sample range).
template <typename T>
std::vector<T> pack_differences(const std::vector<T>& clut, size_t outputs) {
  std::vector<T> out(clut.size());
  const size_t points = outputs ? clut.size() / outputs : 0;
  size_t k = 0;
  for (size_t ch = 0; ch < outputs; ++ch) {
    T previous = 0;
    for (size_t p = 0; p < points; ++p) {
      const T value = clut[p * outputs + ch];
      out[k++] = static_cast<T>(value - previous);
      previous = value;
    }
  }
  return out;
}

template <typename T>
std::vector<T> unpack_differences(const std::vector<T>& packed, size_t outputs) {
  std::vector<T> clut(packed.size());
  const size_t points = outputs ? packed.size() / outputs : 0;
  size_t k = 0;
  for (size_t ch = 0; ch < outputs; ++ch) {
    T sum = 0;
    for (size_t p = 0; p < points; ++p) {
      sum = static_cast<T>(sum + packed[k++]);
      clut[p * outputs + ch] = sum;
    }
  }
  return clut;
}

}  // namespace

// ---------------------------------------------------------------------------
// Base element

CKlvLibIccTag::CKlvLibIccTag(icTagSignature signature) {
  std::fill(std::begin(m_signatures), std::end(m_signatures), 0u);
  m_signatures[0] = signature;
}

CKlvLibIccTag::~CKlvLibIccTag() = default;

icTagTypeSignature CKlvLibIccTag::GetTagType() const {
  return 0;
}

int32_t CKlvLibIccTag::Read(SFilemux* stream, uint32_t size) {
  return ReadData(stream, size);
}

int32_t CKlvLibIccTag::WriteData(SFilemux*) {
  return 0;
}

int32_t CKlvLibIccTag::ReadData(SFilemux*, uint32_t) {
  return 0;
}

int32_t CKlvLibIccTag::SignatureCount() const {
  int32_t n = 0;
  while (n < kMaxSignatures && m_signatures[n]) ++n;
  return n;
}

int32_t CKlvLibIccTag::HasTagSignature(icTagSignature signature) const {
  for (int32_t i = 0; i < SignatureCount(); ++i)
    if (m_signatures[i] == signature) return 1;
  return 0;
}

int32_t CKlvLibIccTag::AddTagSignature(icTagSignature signature) {
  if (signature == 0) return 0;
  if (HasTagSignature(signature)) return 1;
  const int32_t n = SignatureCount();
  if (n >= kMaxSignatures) return 0;
  m_signatures[n] = signature;
  return 1;
}

int32_t CKlvLibIccTag::RemoveTagSignature(icTagSignature signature) {
  const int32_t n = SignatureCount();
  for (int32_t i = 0; i < n; ++i) {
    if (m_signatures[i] != signature) continue;
    for (int32_t j = i; j < n; ++j) m_signatures[j] = m_signatures[j + 1];
    m_signatures[n - 1] = 0;
    return 1;
  }
  return 0;
}

int32_t CKlvLibIccTag::Write(SFilemux* stream, int32_t entry_position) {
  if (Oseeki64(stream, 0, 2) != 0) return 0;
  int64_t offset = Otelli64(stream);
  static const uint8_t zeros[4] = {0, 0, 0, 0};
  if (offset < 0 || !put_bytes(stream, zeros, static_cast<size_t>((4 - offset % 4) % 4))) return 0;
  offset = Otelli64(stream);
  uint32_t written_offset = 0, written_size = 0;
  if (WriteData(stream)) {
    written_offset = static_cast<uint32_t>(offset);
    written_size = static_cast<uint32_t>(Ofileleni64(stream) - offset);
  }
  if (Oseeki64(stream, entry_position, 0) != 0) return 0;
  for (int32_t i = 0; i < SignatureCount(); ++i)
    if (!put32(stream, m_signatures[i]) || !put32(stream, written_offset) ||
        !put32(stream, written_size))
      return 0;
  return 1;
}

// ---------------------------------------------------------------------------
// "curv"

CKlvLibIccCurve::CKlvLibIccCurve(icTagSignature signature, uint32_t count, const uint16_t* entries)
    : CKlvLibIccTag(signature) {
  if (entries && count) m_entries.assign(entries, entries + count);
}

icTagTypeSignature CKlvLibIccCurve::GetTagType() const {
  return kCurv;
}

int32_t CKlvLibIccCurve::WriteData(SFilemux* stream) {
  return put_type(stream, kCurv) && put32(stream, static_cast<uint32_t>(m_entries.size())) &&
         put16_array(stream, m_entries.data(), m_entries.size());
}

int32_t CKlvLibIccCurve::ReadData(SFilemux* stream, uint32_t size) {
  uint32_t count = 0;
  if (size < 4 || !get32(stream, count) || count > (size - 4) / 2) return 0;
  return get16_array(stream, m_entries, count);
}

// ---------------------------------------------------------------------------
// Texts

void CKlvLibIccTextTag::SetText(const char* text) {
  m_text = text ? text : "";
}

CKlvLibIccText::CKlvLibIccText(icTagSignature signature, const char* text)
    : CKlvLibIccTextTag(signature) {
  if (text) m_text = text;
}

icTagTypeSignature CKlvLibIccText::GetTagType() const {
  return kText;
}

int32_t CKlvLibIccText::WriteData(SFilemux* stream) {
  return put_type(stream, kText) && put_bytes(stream, m_text.c_str(), m_text.size() + 1);
}

int32_t CKlvLibIccText::ReadData(SFilemux* stream, uint32_t size) {
  std::string bytes(size, '\0');
  if (!get_bytes(stream, bytes.data(), size)) return 0;
  m_text.assign(bytes.c_str());
  return 1;
}

CKlvLibIccMultiLocalizedText::CKlvLibIccMultiLocalizedText(icTagSignature signature,
                                                           const char* text)
    : CKlvLibIccTextTag(signature) {
  if (text) m_text = text;
}

icTagTypeSignature CKlvLibIccMultiLocalizedText::GetTagType() const {
  return kMluc;
}

void CKlvLibIccMultiLocalizedText::SetText(const char* text) {
  CKlvLibIccTextTag::SetText(text);
  m_raw.clear();
}

int32_t CKlvLibIccMultiLocalizedText::WriteData(SFilemux* stream) {
  if (!put_type(stream, kMluc)) return 0;
  if (!m_raw.empty()) return put_bytes(stream, m_raw.data(), m_raw.size());
  // Characters above 127 are written as their byte value (Latin-1 widening).
  std::vector<uint16_t> units(m_text.begin(), m_text.end());
  for (auto& u : units) u = static_cast<uint8_t>(u);
  units.push_back(0);
  return put32(stream, 1u) && put32(stream, 12u) && put16(stream, 0x656E) &&
         put16(stream, 0x5553) && put32(stream, static_cast<uint32_t>(units.size() * 2)) &&
         put32(stream, 28u) && put16_array(stream, units.data(), units.size());
}

int32_t CKlvLibIccMultiLocalizedText::ReadData(SFilemux* stream, uint32_t size) {
  std::vector<uint8_t> body(size);
  if (size < 8 || !get_bytes(stream, body.data(), size)) return 0;
  auto be32 = [&](size_t at) {
    return (uint32_t{body[at]} << 24) | (uint32_t{body[at + 1]} << 16) |
           (uint32_t{body[at + 2]} << 8) | body[at + 3];
  };
  const uint32_t records = be32(0), record_size = be32(4);
  if (records == 0 || record_size < 12 || records > (size - 8) / record_size) return 0;
  // The English (United States) record, else the first one.
  size_t chosen = 8;
  for (uint32_t r = 0; r < records; ++r) {
    const size_t at = 8 + size_t{r} * record_size;
    if (body[at] == 'e' && body[at + 1] == 'n' && body[at + 2] == 'U' && body[at + 3] == 'S') {
      chosen = at;
      break;
    }
  }
  const uint32_t length = be32(chosen + 4), offset = be32(chosen + 8);
  // Offsets count from the start of the tag, 8 bytes before the body.
  if (offset < 8 || offset - 8 > size || length > size - (offset - 8)) return 0;
  m_text.clear();
  for (size_t i = 0; i + 1 < length; i += 2) {
    const uint8_t* unit = &body[offset - 8 + i];
    if (unit[0] == 0 && unit[1] == 0) break;
    m_text.push_back(static_cast<char>(unit[1]));  // the low byte of each unit
  }
  // Keep the body as it was when it holds anything the plain form would lose.
  CKlvLibIccMultiLocalizedText plain(0, m_text.c_str());
  SFilemux* probe = Omemcreate();
  size_t plain_size = 0;
  const void* plain_bytes = nullptr;
  if (probe && plain.WriteData(probe)) plain_bytes = Omemdata(probe, &plain_size);
  const bool same =
      plain_bytes && plain_size == size + 8 &&
      std::memcmp(static_cast<const uint8_t*>(plain_bytes) + 8, body.data(), size) == 0;
  if (probe) Oclose(probe);
  if (same)
    m_raw.clear();
  else
    m_raw = std::move(body);
  return 1;
}

// ---------------------------------------------------------------------------
// "sig "

CKlvLibIccSigVal::CKlvLibIccSigVal(icTagSignature signature, icSignature value)
    : CKlvLibIccTag(signature), m_value(value) {}

icTagTypeSignature CKlvLibIccSigVal::GetTagType() const {
  return kSig;
}

int32_t CKlvLibIccSigVal::WriteData(SFilemux* stream) {
  return put_type(stream, kSig) && put32(stream, m_value);
}

int32_t CKlvLibIccSigVal::ReadData(SFilemux* stream, uint32_t size) {
  return size >= 4 && get32(stream, m_value);
}

// ---------------------------------------------------------------------------
// "mft1"

CKlvLibIccLut8::CKlvLibIccLut8(icTagSignature signature, uint8_t inputs, uint8_t grid,
                               uint8_t outputs)
    : CKlvLibIccTag(signature) {
  identity_matrix(m_matrix);
  if (inputs && outputs) AllocateTable(inputs, grid, outputs);
}

icTagTypeSignature CKlvLibIccLut8::GetTagType() const {
  return kMft1;
}

size_t CKlvLibIccLut8::ClutEntries() const {
  return clut_entries(m_inputs, m_grid, m_outputs, SIZE_MAX / 4);
}

int32_t CKlvLibIccLut8::AllocateTable(uint8_t inputs, uint8_t grid, uint8_t outputs) {
  const size_t entries = clut_entries(inputs, grid, outputs, size_t{1} << 28);
  if (inputs == 0 || outputs == 0 || inputs > 15 || outputs > 15 || entries == 0) return 0;
  m_inputs = inputs;
  m_grid = grid;
  m_outputs = outputs;
  identity_matrix(m_matrix);
  m_input_tables.resize(256 * size_t{inputs});
  for (size_t i = 0; i < m_input_tables.size(); ++i)
    m_input_tables[i] = static_cast<uint8_t>(i % 256);
  m_output_tables.resize(256 * size_t{outputs});
  for (size_t i = 0; i < m_output_tables.size(); ++i)
    m_output_tables[i] = static_cast<uint8_t>(i % 256);
  m_clut.assign(entries, 0);
  return 1;
}

int32_t CKlvLibIccLut8::WriteData(SFilemux* stream) {
  if (!put_type(stream, kMft1) || !put8(stream, m_inputs) || !put8(stream, m_outputs) ||
      !put8(stream, m_grid) || !put8(stream, m_packing))
    return 0;
  for (auto v : m_matrix)
    if (!put32(stream, v)) return 0;
  if (!put_bytes(stream, m_input_tables.data(), m_input_tables.size())) return 0;
  const auto clut = m_packing == 1 ? pack_differences(m_clut, m_outputs) : m_clut;
  return put_bytes(stream, clut.data(), clut.size()) &&
         put_bytes(stream, m_output_tables.data(), m_output_tables.size());
}

int32_t CKlvLibIccLut8::ReadData(SFilemux* stream, uint32_t size) {
  if (size < 40 || !get8(stream, m_inputs) || !get8(stream, m_outputs) || !get8(stream, m_grid) ||
      !get8(stream, m_packing))
    return 0;
  for (auto& v : m_matrix)
    if (!get32(stream, v)) return 0;
  size_t left = size - 40;
  const size_t in_size = 256 * size_t{m_inputs}, out_size = 256 * size_t{m_outputs};
  if (in_size > left) return 0;
  m_input_tables.resize(in_size);
  if (!get_bytes(stream, m_input_tables.data(), in_size)) return 0;
  left -= in_size;
  const size_t clut = clut_entries(m_inputs, m_grid, m_outputs, left);
  if (clut == 0 && m_outputs && m_grid) return 0;
  m_clut.resize(clut);
  if (!get_bytes(stream, m_clut.data(), clut)) return 0;
  left -= clut;
  if (out_size > left) return 0;
  m_output_tables.resize(out_size);
  if (!get_bytes(stream, m_output_tables.data(), out_size)) return 0;
  if (m_packing == 1) m_clut = unpack_differences(m_clut, m_outputs);
  return 1;
}

// ---------------------------------------------------------------------------
// "mft2"

CKlvLibIccLut16::CKlvLibIccLut16(icTagSignature signature, uint8_t inputs, uint16_t input_entries,
                                 uint8_t grid, uint8_t outputs, uint16_t output_entries)
    : CKlvLibIccTag(signature) {
  identity_matrix(m_matrix);
  if (inputs && outputs) AllocateTable(inputs, input_entries, grid, outputs, output_entries);
}

icTagTypeSignature CKlvLibIccLut16::GetTagType() const {
  return kMft2;
}

size_t CKlvLibIccLut16::ClutEntries() const {
  return clut_entries(m_inputs, m_grid, m_outputs, SIZE_MAX / 4);
}

int32_t CKlvLibIccLut16::AllocateTable(uint8_t inputs, uint16_t input_entries, uint8_t grid,
                                       uint8_t outputs, uint16_t output_entries) {
  const size_t entries = clut_entries(inputs, grid, outputs, size_t{1} << 28);
  if (inputs == 0 || outputs == 0 || inputs > 15 || outputs > 15 || entries == 0 ||
      input_entries < 2 || output_entries < 2)
    return 0;
  m_inputs = inputs;
  m_grid = grid;
  m_outputs = outputs;
  m_input_entries = input_entries;
  m_output_entries = output_entries;
  identity_matrix(m_matrix);
  auto ramp = [](std::vector<uint16_t>& table, size_t channels, uint16_t n) {
    table.resize(channels * n);
    for (size_t c = 0; c < channels; ++c)
      for (uint32_t k = 0; k < n; ++k)
        table[c * n + k] = static_cast<uint16_t>(k * 65535u / (n - 1u));
  };
  ramp(m_input_tables, inputs, input_entries);
  ramp(m_output_tables, outputs, output_entries);
  m_clut.assign(entries, 0);
  return 1;
}

int32_t CKlvLibIccLut16::WriteData(SFilemux* stream) {
  if (!put_type(stream, kMft2) || !put8(stream, m_inputs) || !put8(stream, m_outputs) ||
      !put8(stream, m_grid) || !put8(stream, m_packing))
    return 0;
  for (auto v : m_matrix)
    if (!put32(stream, v)) return 0;
  if (!put16(stream, m_input_entries) || !put16(stream, m_output_entries)) return 0;
  if (!put16_array(stream, m_input_tables.data(), m_input_tables.size())) return 0;
  const auto clut = m_packing == 1 ? pack_differences(m_clut, m_outputs) : m_clut;
  return put16_array(stream, clut.data(), clut.size()) &&
         put16_array(stream, m_output_tables.data(), m_output_tables.size());
}

int32_t CKlvLibIccLut16::ReadData(SFilemux* stream, uint32_t size) {
  if (size < 44 || !get8(stream, m_inputs) || !get8(stream, m_outputs) || !get8(stream, m_grid) ||
      !get8(stream, m_packing))
    return 0;
  for (auto& v : m_matrix)
    if (!get32(stream, v)) return 0;
  if (!get16(stream, m_input_entries) || !get16(stream, m_output_entries)) return 0;
  size_t left = (size - 44) / 2;  // in 16-bit entries
  const size_t in_size = size_t{m_input_entries} * m_inputs;
  const size_t out_size = size_t{m_output_entries} * m_outputs;
  if (in_size > left || !get16_array(stream, m_input_tables, in_size)) return 0;
  left -= in_size;
  const size_t clut = clut_entries(m_inputs, m_grid, m_outputs, left);
  if (clut == 0 && m_outputs && m_grid) return 0;
  if (!get16_array(stream, m_clut, clut)) return 0;
  left -= clut;
  if (out_size > left || !get16_array(stream, m_output_tables, out_size)) return 0;
  if (m_packing == 1) m_clut = unpack_differences(m_clut, m_outputs);
  return 1;
}

// ---------------------------------------------------------------------------
// "desc"

CKlvLibIccTextDescription::CKlvLibIccTextDescription(icTagSignature signature, const char* text)
    : CKlvLibIccTextTag(signature) {
  std::memset(m_script, 0, sizeof m_script);
  if (text) SetText(text);
}

icTagTypeSignature CKlvLibIccTextDescription::GetTagType() const {
  return kDesc;
}

void CKlvLibIccTextDescription::SetText(const char* text) {
  m_text.assign(text ? text : "");
  if (m_text.size() > kMaxAscii) m_text.resize(kMaxAscii);
  m_unicode_language = 0;
  m_unicode.clear();
  for (char c : m_text) m_unicode.push_back(static_cast<uint8_t>(c));
  m_unicode.push_back(0);
  m_script_code = 0;
  std::memset(m_script, 0, sizeof m_script);
  const size_t n = std::min(m_text.size(), sizeof m_script);
  std::memcpy(m_script, m_text.data(), n);
  m_script_count = static_cast<uint8_t>(n);
}

int32_t CKlvLibIccTextDescription::WriteData(SFilemux* stream) {
  return put_type(stream, kDesc) && put32(stream, static_cast<uint32_t>(m_text.size() + 1)) &&
         put_bytes(stream, m_text.c_str(), m_text.size() + 1) &&
         put32(stream, m_unicode_language) &&
         put32(stream, static_cast<uint32_t>(m_unicode.size())) &&
         put16_array(stream, m_unicode.data(), m_unicode.size()) && put16(stream, m_script_code) &&
         put8(stream, m_script_count) && put_bytes(stream, m_script, sizeof m_script);
}

int32_t CKlvLibIccTextDescription::ReadData(SFilemux* stream, uint32_t size) {
  uint32_t count = 0;
  if (size < 4 || !get32(stream, count) || count > size - 4) return 0;
  std::string ascii(count, '\0');
  if (!get_bytes(stream, ascii.data(), count)) return 0;
  m_text.assign(ascii.c_str());
  if (m_text.size() > kMaxAscii) m_text.resize(kMaxAscii);
  // The Unicode and ScriptCode parts; profiles that end early leave them empty.
  uint32_t left = size - 4 - count;
  m_unicode_language = 0;
  m_unicode.clear();
  m_script_code = 0;
  m_script_count = 0;
  std::memset(m_script, 0, sizeof m_script);
  uint32_t unicode_count = 0;
  if (left < 8 || !get32(stream, m_unicode_language) || !get32(stream, unicode_count)) return 1;
  left -= 8;
  if (unicode_count > left / 2 || !get16_array(stream, m_unicode, unicode_count)) {
    m_unicode.clear();
    return 1;
  }
  left -= unicode_count * 2;
  if (left < 3 || !get16(stream, m_script_code) || !get8(stream, m_script_count)) return 1;
  left -= 3;
  get_bytes(stream, m_script, std::min<size_t>(left, sizeof m_script));
  return 1;
}

// ---------------------------------------------------------------------------
// "XYZ "

CKlvLibIccXYZ::CKlvLibIccXYZ(icTagSignature signature) : CKlvLibIccTag(signature) {}

CKlvLibIccXYZ::CKlvLibIccXYZ(icTagSignature signature, double X, double Y, double Z)
    : CKlvLibIccTag(signature) {
  m_values.push_back(icXYZNumber{icDtoF(X), icDtoF(Y), icDtoF(Z)});
}

icTagTypeSignature CKlvLibIccXYZ::GetTagType() const {
  return kXYZ;
}

int32_t CKlvLibIccXYZ::WriteData(SFilemux* stream) {
  if (!put_type(stream, kXYZ)) return 0;
  for (const auto& v : m_values)
    if (!put32(stream, v.X) || !put32(stream, v.Y) || !put32(stream, v.Z)) return 0;
  return 1;
}

int32_t CKlvLibIccXYZ::ReadData(SFilemux* stream, uint32_t size) {
  m_values.resize(size / 12);
  for (auto& v : m_values)
    if (!get32(stream, v.X) || !get32(stream, v.Y) || !get32(stream, v.Z)) return 0;
  return 1;
}

// ---------------------------------------------------------------------------
// "clrt"

CKlvLibIccColorantTable::CKlvLibIccColorantTable(icTagSignature signature)
    : CKlvLibIccTag(signature) {}

icTagTypeSignature CKlvLibIccColorantTable::GetTagType() const {
  return kClrt;
}

void CKlvLibIccColorantTable::AddColorant(const char* name, uint16_t L, uint16_t a, uint16_t b) {
  Colorant c{};
  std::strncpy(c.name, name ? name : "", sizeof c.name - 1);
  c.pcs[0] = L;
  c.pcs[1] = a;
  c.pcs[2] = b;
  m_colorants.push_back(c);
}

int32_t CKlvLibIccColorantTable::WriteData(SFilemux* stream) {
  if (!put_type(stream, kClrt) || !put32(stream, static_cast<uint32_t>(m_colorants.size())))
    return 0;
  for (const auto& c : m_colorants)
    if (!put_bytes(stream, c.name, sizeof c.name) || !put16(stream, c.pcs[0]) ||
        !put16(stream, c.pcs[1]) || !put16(stream, c.pcs[2]))
      return 0;
  return 1;
}

int32_t CKlvLibIccColorantTable::ReadData(SFilemux* stream, uint32_t size) {
  uint32_t count = 0;
  if (size < 4 || !get32(stream, count) || count > (size - 4) / 38) return 0;
  m_colorants.resize(count);
  for (auto& c : m_colorants) {
    if (!get_bytes(stream, c.name, sizeof c.name) || !get16(stream, c.pcs[0]) ||
        !get16(stream, c.pcs[1]) || !get16(stream, c.pcs[2]))
      return 0;
  }
  return 1;
}

// ---------------------------------------------------------------------------
// Any other type

CKlvLibIccUnknown::CKlvLibIccUnknown(icTagSignature signature, icTagTypeSignature type,
                                     const uint8_t* bytes, uint32_t size)
    : CKlvLibIccTag(signature), m_type(type) {
  if (bytes && size) m_bytes.assign(bytes, bytes + size);
}

icTagTypeSignature CKlvLibIccUnknown::GetTagType() const {
  return m_type;
}

int32_t CKlvLibIccUnknown::WriteData(SFilemux* stream) {
  return put_type(stream, m_type) && put_bytes(stream, m_bytes.data(), m_bytes.size());
}

int32_t CKlvLibIccUnknown::ReadData(SFilemux* stream, uint32_t size) {
  m_bytes.resize(size);
  return get_bytes(stream, m_bytes.data(), size);
}
