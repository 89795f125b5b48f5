// SPDX-License-Identifier: MIT
// `klvrip icc FILE [--key N]`: describes an ICC profile file (class, colour
// space, connection space, version, description, channel layout and the tag
// list). `klvrip info` uses the same description for embedded profiles.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "klv/icc_cxx.h"

namespace klvrip {

namespace {

uint32_t be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void print_profile(const CKlvLibIccProfile& p, const uint8_t* raw, size_t raw_size,
                   const char* indent) {
  std::printf("%sclass           %s\n", indent, icSignatureText(p.m_class).c_str());
  std::printf("%scolour space    %s\n", indent, icSignatureText(p.m_color_space).c_str());
  std::printf("%sPCS             %s\n", indent, icSignatureText(p.m_pcs).c_str());
  std::printf("%sversion         %u.%u.%u\n", indent, p.m_version >> 24, (p.m_version >> 20) & 15,
              (p.m_version >> 16) & 15);
  std::printf("%sdescription     %s\n", indent, p.Description().c_str());
  std::printf("%stags            %d\n", indent, p.m_tag_count);
  // The table as the file has it (offset and size), with the type each element was read as.
  const uint32_t count = raw && raw_size >= 132 ? be32(raw + 128) : 0;
  for (uint32_t i = 0; i < count && 132 + 12 * (i + 1) <= raw_size; ++i) {
    const uint8_t* e = raw + 132 + 12 * i;
    const icTagSignature signature = be32(e);
    const CKlvLibIccTag* tag = p.FindTag(signature);
    std::printf("%s  %s  %-4s  offset %8u  size %8u%s\n", indent,
                icSignatureText(signature).c_str(),
                tag ? icSignatureText(tag->GetTagType()).c_str() : "----", be32(e + 4), be32(e + 8),
                tag ? (tag->SignatureCount() > 1 ? "  shared" : "") : "  unreadable");
  }
}

constexpr const char* kCommand = "icc";

const CommandHelp kIccHelp = {
    kCommand, "icc FILE [--key N]",
    "Describes an ICC profile: class, colour space, PCS, description, channel\n"
    "layout and tags.\n",
    1, 1};

// The key of a ciphered profile: a number 0 to 65535, decimal, or hex with 0x.
std::function<std::string(const char*)> take_key(long* target) {
  return [=](const char* v) -> std::string {
    char* end = nullptr;
    const long key = std::strtol(v, &end, 0);
    if (end == v || *end || key < 0 || key > 65535)
      return std::string("\"") + v + "\" is not a number 0..65535";
    *target = key;
    return "";
  };
}

// The bytes of the file itself (at most 64 MB), for its tag table as stored.
std::vector<uint8_t> read_raw(const char* path) {
  std::vector<uint8_t> raw;
  if (FILE* f = std::fopen(path, "rb")) {
    uint8_t block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0 && raw.size() < (size_t{1} << 26))
      raw.insert(raw.end(), block, block + n);
    std::fclose(f);
  }
  return raw;
}

Exit describe(const char* path, long key) {
  CKlvLibIccProfile profile;
  if (!profile.Load(nullptr, path, static_cast<uint16_t>(key)))
    return report(Exit::kFailure, kCommand, "\"%s\" cannot be read as an ICC profile", path);
  std::printf("file            %s\n", path);
  // The tag table of the file itself when it is plain, else of the deciphered profile.
  std::vector<uint8_t> raw = key ? std::vector<uint8_t>() : read_raw(path);
  if (raw.empty()) raw = profile.ToBytes();
  print_profile(profile, raw.data(), raw.size(), "");
  int32_t channels = 0, spots = 0, model = 0, hifi = 0;
  if (GetProfileColorFormat(path, &channels, &spots, &model, &hifi))
    std::printf("channels        %d (%d spot), model %d, ink set %d\n", channels, spots, model,
                hifi);
  return Exit::kOk;
}

}  // namespace

int print_icc_summary(const void* data, size_t size, const char* indent) {
  CKlvLibIccProfile profile;
  if (!data || !profile.Load(data, size)) return 0;
  print_profile(profile, static_cast<const uint8_t*>(data), size, indent);
  return 1;
}

int icc_command(int argc, char** argv) {
  long key = 0;
  const std::vector<Option> options = {
      {"--key", "N", "decipher a profile saved with key N (0..65535, or hex as 0x...)",
       take_key(&key)},
  };
  std::vector<const char*> args;
  if (const int code = exit_unless_run(parse_options(kIccHelp, options, argc, argv, &args));
      code >= 0)
    return code;
  return exit_code(describe(args[0], key));
}

}  // namespace klvrip
