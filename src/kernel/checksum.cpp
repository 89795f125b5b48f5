// SPDX-License-Identifier: MIT
// The library's 32-bit checksum and the file identity built on it. The table
// follows no polynomial; its words are fixed for good, since checksums are
// stored in files and compared across versions.
#include <cstdio>
#include <cstring>

#include "klv/kernel_util.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"

namespace {

constexpr uint32_t kTable[256] = {
    0x00000000u, 0x22ACC65Bu, 0x74499562u, 0x7FB16317u, 0xFB1A4022u, 0x065C8FE2u, 0x11BCBBF8u,
    0x4B1BF557u, 0x8D01F903u, 0x157A8626u, 0x266C61A9u, 0xEE1A34E0u, 0x63F96614u, 0xFA6ECFB9u,
    0x7D93FB49u, 0x89EF2F12u, 0xDB0EDDACu, 0x72F6CF8Du, 0x2FBE29EAu, 0x4B6DE10Fu, 0x0D828ACDu,
    0x8E4320EBu, 0x5B84DF03u, 0x42F87031u, 0xE5C311D5u, 0xA166216Cu, 0x6CFD0EB3u, 0xD44A6824u,
    0x0C2EE0F1u, 0x4F5164BCu, 0x1043B387u, 0x4CAEB48Fu, 0x10A62409u, 0xEFB9E0C3u, 0x622F13F3u,
    0x2D13C3AEu, 0xDD368815u, 0x20E48FFAu, 0xB6FAD0A0u, 0xFD6B2B6Au, 0x9C9F803Du, 0x9C942943u,
    0x5776779Fu, 0xD5FCAD6Au, 0x33AE602Bu, 0xEC3030EEu, 0xA555D7DFu, 0x6BD926C9u, 0xE13E36B1u,
    0xC6F4AC49u, 0x0E8C9D21u, 0x26DBFD58u, 0xAFC1DFCDu, 0x9089DB49u, 0x9639602Eu, 0x5EBB4648u,
    0x1A51D9FBu, 0x3A18B7F3u, 0x00AA4C5Du, 0xB63545CCu, 0x91AE5713u, 0x6901491Du, 0xDAEFEC03u,
    0x5FDE0654u, 0xEE3BE831u, 0xBA96E72Cu, 0x029D6640u, 0x80E0292Cu, 0xE10FEFDCu, 0x31AE8AF9u,
    0xAF53593Fu, 0x37692CAFu, 0x7543CE00u, 0x158B4249u, 0xE419C7BCu, 0x1F267E6Eu, 0x9C22FEC7u,
    0x0F9129BCu, 0x241B5B69u, 0x152A4B69u, 0xC881C2EDu, 0x9CC0650Au, 0x6BDBEEF1u, 0x15136B23u,
    0xDBD47178u, 0x5B0340EAu, 0xA563203Au, 0xDE6EADBAu, 0x7CC0B0B2u, 0xD5214028u, 0xBCAFFA32u,
    0x6A89BD18u, 0xB8F57AC4u, 0x0D74F05Au, 0xF42B55EDu, 0xB52AFCE3u, 0x65E35906u, 0x3722E0EEu,
    0x7102181Bu, 0x44484358u, 0x71099A76u, 0xC4FD2BF2u, 0x1896B113u, 0xE2E1CDC6u, 0x0BC94E75u,
    0x06B5CE71u, 0x4DC630B3u, 0x3C937B28u, 0x4730A29Fu, 0x389B90ACu, 0xF49E90F9u, 0xB66A0BE0u,
    0xA81D56BEu, 0xD2223A39u, 0xC11034A4u, 0xB4533BC5u, 0x5E51AAE3u, 0x9E3F3677u, 0x19048B8Au,
    0x444D2B91u, 0x5A900EB6u, 0x6267BF92u, 0x45EB8905u, 0xCDA33D01u, 0x420C4E53u, 0xA5A7CC80u,
    0xE7A5BAFAu, 0x4C93E8DCu, 0x643115B6u, 0x77B6ED76u, 0x2AAC797Cu, 0xCB5554EAu, 0x59C08BEBu,
    0x0EE5A27Cu, 0x9E3F8E2Bu, 0x5DE6DC8Cu, 0x89A13D8Eu, 0x36C70B4Au, 0x90FABF52u, 0xB96C6701u,
    0xB7175076u, 0xA3CE69E4u, 0xB3DB6AD7u, 0xA4B982E2u, 0x01FE7BA6u, 0x90DF23D2u, 0x72090AA3u,
    0x7E2D64A5u, 0xD3B4BD90u, 0xBD7F9EA9u, 0x6CCF17C1u, 0xC2BDA750u, 0xDAD0A149u, 0x8BEF70FCu,
    0xCCA28A51u, 0xAACE3448u, 0x45D17D6Bu, 0xEA626DE6u, 0x01D196E4u, 0x16EF554Eu, 0x526C7EFFu,
    0x77FCD32Du, 0xAB6245FCu, 0x53F6E372u, 0x258C7A13u, 0x1BE3053Eu, 0xB515AAD6u, 0x377E0E86u,
    0x69E799C8u, 0xC4F8879Au, 0xC730ABEDu, 0x66A5F4FBu, 0xE13D6A99u, 0xEF956F45u, 0x08D4A255u,
    0x2B66B62Bu, 0x45601362u, 0x0834D3DCu, 0x3FE29FB4u, 0x963F6681u, 0xE3134AECu, 0xA070B576u,
    0xF6107D17u, 0xFD8330D6u, 0xCF6BFCF8u, 0x97253168u, 0x20DBE38Du, 0xE69860B5u, 0xEC15F2AFu,
    0x4E750B89u, 0x0BFEA122u, 0x43EC267Du, 0xB8BD5AE1u, 0xCAE5A81Au, 0x4634B876u, 0x9AFCC3E3u,
    0x955ECE07u, 0x6BE48659u, 0x5F27BF43u, 0x189B3AF3u, 0x266F1B81u, 0x6E7C30CAu, 0xC58C63E4u,
    0x57E473CFu, 0xE43B207Bu, 0x2F5D58E4u, 0x4AD7BE61u, 0x12166654u, 0xA53E3C88u, 0xDB190552u,
    0x1D0276B1u, 0x77D02EFEu, 0x25B70BA0u, 0x2804A185u, 0xBE0EC419u, 0xB8BEDB1Eu, 0x0A1B9D2Du,
    0x009A246Cu, 0x4D9E4C48u, 0xD39600A3u, 0x3B4C902Du, 0xE756FF24u, 0x923C649Cu, 0x5C0A51C1u,
    0xAA96BCEBu, 0x6F810292u, 0xFAF9037Bu, 0xB3C8EB09u, 0x32265E30u, 0x4FE0839Cu, 0x1F41573Du,
    0x3D6F7C57u, 0x65FC5A4Fu, 0x0FD617E8u, 0xF629F37Au, 0x38E279ABu, 0xD5CAAB72u, 0x207BA3E8u,
    0x475B1858u, 0xEDBE1F02u, 0xE3D3CEA3u, 0x6A2CCACEu, 0xF7D9742Eu, 0x19F8AF19u, 0x06EE3587u,
    0x36E3DE8Au, 0xB6B1544Du, 0x42EA2DF0u, 0x249AEC89u, 0x122A7469u, 0x5BCF0033u, 0xCF8F79B9u,
    0x85DFA6E7u, 0x1EA47F43u, 0xA76CDE91u, 0xB187DDB9u,
};
static_assert(sizeof kTable / sizeof kTable[0] == 256);
static_assert(kTable[1] == 0x22ACC65Bu && kTable[255] == 0xB187DDB9u);

inline uint32_t step(uint32_t c, uint8_t b) {
  return (c << 8) ^ kTable[(c >> 24) ^ b];
}

uint32_t file_identity(SOVolume* volume, const char* path, uint32_t attributes, bool with_volume) {
  if (!path || !*path) return 0;
  SFindRec record;
  std::memset(&record, 0, sizeof record);
  if (!Ofindfirst(volume, path, attributes, &record)) return 0;
  uint32_t time_write = record.time_write;
  uint32_t size_low = record.size_low;
  uint32_t file_id = record.file_id;
  Ofindclose(&record);
  char text[64 + 4096];
  int len = 0;
  const char* volume_name = nullptr;
  if (with_volume && !KLV_IS_HOST_VOLUME(volume)) volume_name = VGetFName(volume);
  if (volume_name)
    len = std::snprintf(text, sizeof text, "%08x %08x %08X %s", time_write, size_low, file_id,
                        volume_name);
  else
    len = std::snprintf(text, sizeof text, "%08x %08x %08X", time_write, size_low, file_id);
  if (len < 0) return 0;
  if (static_cast<size_t>(len) >= sizeof text) {
    KLV_LOG(KLV_LOG_WARNING, "file identity of \"%s\": volume name longer than %zu bytes, cut",
            path, sizeof text - 1);
  }
  uint32_t crc = Ocalccrc(text, 0);
  return crc ? crc : 0xDEADBEEFu;
}

}  // namespace

extern "C" {

KLV_API uint32_t Ocalccrc_ex(const void* data, int32_t length, uint32_t seed) {
  uint32_t c = seed;
  uint32_t count = 0;
  if (data && length >= 0) {
    const auto* p = static_cast<const uint8_t*>(data);
    if (length == 0) {
      for (; p[count]; ++count) c = step(c, p[count]);
    } else {
      count = static_cast<uint32_t>(length);
      for (uint32_t i = 0; i < count; ++i) c = step(c, p[i]);
    }
  }
  for (uint32_t n = count; n; n >>= 8) c = step(c, static_cast<uint8_t>(n & 0xFF));
  return ~c;
}

KLV_API uint32_t Ocalccrc(const void* data, int32_t length) {
  return Ocalccrc_ex(data, length, 0);
}

KLV_API uint32_t Ofilerefid(SOVolume* volume, const char* path, uint32_t attributes) {
  try {
    return file_identity(volume, path, attributes, false);
  } catch (...) {
    return 0;
  }
}

KLV_API uint32_t Ofilerefid_ex(SOVolume* volume, const char* path, uint32_t attributes) {
  try {
    return file_identity(volume, path, attributes, true);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
