// SPDX-License-Identifier: MIT
// ICC profile objects for C++ callers: the profile with its header and tag
// list, and one class per understood tag type. The C functions are in
// klv/icc.h.
#ifndef KLV_ICC_CXX_H
#define KLV_ICC_CXX_H

#include "klv/icc.h"

#include <string>
#include <vector>

/* ---- Number helpers ------------------------------------------------------ */

/* s15.16 from a double: limited to [-32768, 32767.9999847], then rounded
 * half up toward zero. */
KLV_API icS15Fixed16Number icDtoF(double d);
KLV_API double icFtoD(icS15Fixed16Number f);
KLV_API uint8_t icABtoByte(double ab);
KLV_API uint16_t icABtoWord(double ab);
KLV_API double icByteToAB(uint8_t b);
KLV_API double icWordToAB(uint16_t w);
/* L*a*b* in the 8-bit and 16-bit ICC encodings (L 0..100, a and b -128..). */
KLV_API void icGetLab(const uint8_t* bytes, double* lab);
KLV_API void icGetLab(const uint16_t* words, double* lab);
KLV_API void icPutLab(double L, double a, double b, uint8_t* bytes);
KLV_API void icPutLab(double L, double a, double b, uint16_t* words);
/* CIE XYZ (s15.16, relative to the D50 illuminant) to and from L*a*b*. */
KLV_API void icGetLab(const icXYZNumber& xyz, double* lab);
KLV_API void icPutLab(double L, double a, double b, icXYZNumber& xyz);
/* The current local date and time. */
KLV_API void icSetDateTime(icDateTimeNumber& date_time);

/* ---- Tag elements -------------------------------------------------------- */

/* One tag element. Signatures: up to five, the list ending with 0. */
class KLV_API CKlvLibIccTag {
 public:
  static constexpr int kMaxSignatures = 5;

  explicit CKlvLibIccTag(icTagSignature signature);
  CKlvLibIccTag(const CKlvLibIccTag&) = delete;
  CKlvLibIccTag& operator=(const CKlvLibIccTag&) = delete;
  virtual ~CKlvLibIccTag();

  /* The type signature written before the body. */
  virtual icTagTypeSignature GetTagType() const;
  /* Reads the body (calls ReadData); `size` excludes the type signature and
   * reserved word, which the caller has read. 1, or 0 when the body cannot
   * be read. */
  virtual int32_t Read(SFilemux* stream, uint32_t size);
  /* Writes type signature, 4 zero bytes and the body; 1, 0 on failure. The
   * base class writes nothing and returns 0. */
  virtual int32_t WriteData(SFilemux* stream);
  /* Reads the body that follows the type signature and reserved word; the
   * base class reads nothing and returns 0. */
  virtual int32_t ReadData(SFilemux* stream, uint32_t size);

  /* Adds a signature unless present; 0 when the list already holds five. */
  int32_t AddTagSignature(icTagSignature signature);
  /* Removes a signature; 1 when it was in the list. */
  int32_t RemoveTagSignature(icTagSignature signature);
  int32_t HasTagSignature(icTagSignature signature) const;
  int32_t SignatureCount() const;
  const icTagSignature* Signatures() const { return m_signatures; }

  /* Writes the element at the end of the stream (padded to 4 bytes) and its
   * table entries, one 12-byte entry per signature starting at
   * `entry_position`. 1, or 0 when writing failed. */
  int32_t Write(SFilemux* stream, int32_t entry_position);

 protected:
  icTagSignature m_signatures[kMaxSignatures + 1];
};

/* "curv": 16-bit entries (count 0 is the identity, 1 a gamma in u8.8). */
class KLV_API CKlvLibIccCurve : public CKlvLibIccTag {
 public:
  CKlvLibIccCurve(icTagSignature signature, uint32_t count = 0, const uint16_t* entries = nullptr);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  std::vector<uint16_t> m_entries;
};

/* Base of the classes that hold one text. */
class KLV_API CKlvLibIccTextTag : public CKlvLibIccTag {
 public:
  using CKlvLibIccTag::CKlvLibIccTag;
  /* Replaces the text. */
  virtual void SetText(const char* text);
  const std::string& Text() const { return m_text; }

 protected:
  std::string m_text;
};

/* "text": one text string. */
class KLV_API CKlvLibIccText : public CKlvLibIccTextTag {
 public:
  CKlvLibIccText(icTagSignature signature, const char* text = nullptr);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
};

/* "mluc": one English (United States) text. A body read from a file that
 * holds other records as well is kept and written back as it was until the
 * text is replaced, so that a load and save loses no language. */
class KLV_API CKlvLibIccMultiLocalizedText : public CKlvLibIccTextTag {
 public:
  CKlvLibIccMultiLocalizedText(icTagSignature signature, const char* text = nullptr);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  void SetText(const char* text) override;

 private:
  std::vector<uint8_t> m_raw;  // the body as read, when it held more than one en-US record
};

/* "sig ": one signature value. */
class KLV_API CKlvLibIccSigVal : public CKlvLibIccTag {
 public:
  CKlvLibIccSigVal(icTagSignature signature, icSignature value = 0);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  icSignature m_value;
};

/* "mft1" and "mft2": matrix, input tables, colour lookup table (grid point by
 * grid point, output channels interleaved) and output tables. The packing
 * mode (0 plain, 1 per-channel differences) sits in the reserved byte. */
class KLV_API CKlvLibIccLut8 : public CKlvLibIccTag {
 public:
  CKlvLibIccLut8(icTagSignature signature, uint8_t inputs = 0, uint8_t grid = 0,
                 uint8_t outputs = 0);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  /* Identity tables, a zero lookup table and the identity matrix; 0 when
   * the sizes are out of range. */
  int32_t AllocateTable(uint8_t inputs, uint8_t grid, uint8_t outputs);
  size_t ClutEntries() const;

  uint8_t m_inputs = 0, m_outputs = 0, m_grid = 0, m_packing = 0;
  icS15Fixed16Number m_matrix[9];
  std::vector<uint8_t> m_input_tables;   // 256 per input
  std::vector<uint8_t> m_clut;           // grid^inputs * outputs
  std::vector<uint8_t> m_output_tables;  // 256 per output
};

class KLV_API CKlvLibIccLut16 : public CKlvLibIccTag {
 public:
  CKlvLibIccLut16(icTagSignature signature, uint8_t inputs = 0, uint16_t input_entries = 0,
                  uint8_t grid = 0, uint8_t outputs = 0, uint16_t output_entries = 0);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  int32_t AllocateTable(uint8_t inputs, uint16_t input_entries, uint8_t grid, uint8_t outputs,
                        uint16_t output_entries);
  size_t ClutEntries() const;

  uint8_t m_inputs = 0, m_outputs = 0, m_grid = 0, m_packing = 0;
  uint16_t m_input_entries = 0, m_output_entries = 0;
  icS15Fixed16Number m_matrix[9];
  std::vector<uint16_t> m_input_tables;
  std::vector<uint16_t> m_clut;
  std::vector<uint16_t> m_output_tables;
};

/* "desc": ASCII text (up to 511 characters), Unicode and ScriptCode parts. */
class KLV_API CKlvLibIccTextDescription : public CKlvLibIccTextTag {
 public:
  static constexpr size_t kMaxAscii = 511;
  CKlvLibIccTextDescription(icTagSignature signature, const char* text = nullptr);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  void SetText(const char* text) override;

  uint32_t m_unicode_language = 0;
  std::vector<uint16_t> m_unicode;  // counted characters, terminator included
  uint16_t m_script_code = 0;
  uint8_t m_script_count = 0;
  uint8_t m_script[67];
};

/* "XYZ ": s15.16 triples. */
class KLV_API CKlvLibIccXYZ : public CKlvLibIccTag {
 public:
  CKlvLibIccXYZ(icTagSignature signature);
  CKlvLibIccXYZ(icTagSignature signature, double X, double Y, double Z);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  std::vector<icXYZNumber> m_values;
};

/* "clrt": colorant names (32 bytes each) and their PCS values. */
class KLV_API CKlvLibIccColorantTable : public CKlvLibIccTag {
 public:
  struct Colorant {
    char name[32];
    uint16_t pcs[3];
  };
  explicit CKlvLibIccColorantTable(icTagSignature signature);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  void AddColorant(const char* name, uint16_t L, uint16_t a, uint16_t b);
  std::vector<Colorant> m_colorants;
};

/* Any other type: its signature and the raw body. */
class KLV_API CKlvLibIccUnknown : public CKlvLibIccTag {
 public:
  CKlvLibIccUnknown(icTagSignature signature, icTagTypeSignature type,
                    const uint8_t* bytes = nullptr, uint32_t size = 0);
  icTagTypeSignature GetTagType() const override;
  int32_t WriteData(SFilemux* stream) override;
  int32_t ReadData(SFilemux* stream, uint32_t size) override;
  icTagTypeSignature m_type;
  std::vector<uint8_t> m_bytes;
};

/* ---- Profiles ------------------------------------------------------------ */

class KLV_API CKlvLibIccProfile {
 public:
  CKlvLibIccProfile();
  CKlvLibIccProfile(const CKlvLibIccProfile&) = delete;
  CKlvLibIccProfile& operator=(const CKlvLibIccProfile&) = delete;
  virtual ~CKlvLibIccProfile();

  /* Loads a host file (volume null) or member. A file that begins "ECFF" is
   * enciphered and loads only with a non-zero key. 1 when read and the
   * header is sound, else 0 (logged). */
  int32_t Load(SOVolume* volume, const char* path, uint16_t key = 0);
  /* Loads a profile held in memory; 1 when its header is sound. */
  int32_t Load(const void* memory, size_t size);
  /* Saves through a temporary file that replaces `path` when complete; a
   * non-zero key enciphers it ("ECFF" and the enciphered profile). 1 on
   * success. */
  int32_t Save(SOVolume* volume, const char* path, uint16_t key = 0);
  /* The profile as bytes (what Save writes without a key). */
  std::vector<uint8_t> ToBytes();

  /* Whole profile on an open stream, from offset 0. */
  int32_t Read(SFilemux* stream);
  int32_t Write(SFilemux* stream);
  /* The header: true when complete and the magic is "acsp". */
  bool ReadHdr(SFilemux* stream);
  int32_t WriteHdr(SFilemux* stream);

  CKlvLibIccTag* FindTag(icTagSignature signature) const;
  /* Replaces whatever the profile holds under the element's signatures and
   * takes ownership of it. */
  void Attach(CKlvLibIccTag* tag);
  /* Removes the element without destroying it; 1 when it was there. */
  int32_t Dettach(CKlvLibIccTag* tag);
  /* Removes one signature; an element left without any is destroyed. */
  int32_t DeleteTag(icTagSignature signature);
  /* A new element of the class for `type` (CKlvLibIccUnknown for others). */
  static CKlvLibIccTag* AllocateTag(icTagSignature signature, icTagTypeSignature type);
  static bool IsTextTag(icTagTypeSignature type);

  struct TableEntry {
    icTagSignature signature;
    uint32_t offset;
    uint32_t size;
  };
  /* Loads the element of one table entry; null when skipped or unreadable. */
  CKlvLibIccTag* LoadTag(SFilemux* stream, const TableEntry& entry);

  /* The description text ("desc" of type "desc" or "mluc"), "" when none. */
  std::string Description() const;

  // Header fields in file order.
  uint32_t m_size;
  icSignature m_cmm;
  uint32_t m_version;
  icSignature m_class;
  icSignature m_color_space;
  icSignature m_pcs;
  icDateTimeNumber m_date;
  icSignature m_magic;
  icSignature m_platform;
  uint32_t m_flags;
  icSignature m_manufacturer;
  uint32_t m_model;
  uint64_t m_attributes;
  uint32_t m_intent;
  icXYZNumber m_illuminant;
  icSignature m_creator;
  uint8_t m_reserved[44];

  int32_t m_text_only = 0;
  int32_t m_tag_count = 0;
  CKlvLibIccTag** m_tags = nullptr;  // owned; m_tag_count elements

 protected:
  void ClearHeader();
  void FreeTags();
};

/* A profile that loads only the text-like tags. */
class KLV_API CKlvLibIccTextProfile : public CKlvLibIccProfile {
 public:
  CKlvLibIccTextProfile() { m_text_only = 1; }
};

/* A signature as its four characters (non-printing bytes as '.'). */
KLV_API std::string icSignatureText(icSignature signature);

#endif
