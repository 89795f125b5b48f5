// SPDX-License-Identifier: MIT
// The channel layout filters as classes (see klv/layoutfilter.h for the C
// interface). Each object owns its source from Attach on and closes it when
// deleted; Attach returns false when the source cannot be re-laid.
#pragma once

#include <cstdint>
#include <memory>

#include "klv/export.h"
#include "klv/img.h"

namespace klv::img {
class LayoutBand;
}

// Delivers the source as pixel-interleaved lines.
class KLV_API CPxvFltr {
 public:
  CPxvFltr();
  virtual ~CPxvFltr();
  CPxvFltr(const CPxvFltr&) = delete;
  CPxvFltr& operator=(const CPxvFltr&) = delete;
  virtual bool Attach(IMG_file* source);
  virtual int32_t ReadLine(uint8_t* buffer, int32_t count);
  virtual int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  // The delivered description; null before a successful Attach.
  const image_info* Info() const;
  IMG_file* Source() const;
  // Lines held in one band.
  uint32_t BandLines() const;

 private:
  std::unique_ptr<klv::img::LayoutBand> m_band;
};

// Delivers the source as line-interleaved lines, or writes pixel-interleaved
// lines into a line-interleaved stream opened for writing.
class KLV_API CLnvFltr {
 public:
  CLnvFltr();
  virtual ~CLnvFltr();
  CLnvFltr(const CLnvFltr&) = delete;
  CLnvFltr& operator=(const CLnvFltr&) = delete;
  virtual bool Attach(IMG_file* source);
  virtual int32_t ReadLine(uint8_t* buffer, int32_t count);
  virtual int32_t WriteLine(uint8_t* buffer, int32_t count);
  virtual int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  const image_info* Info() const;
  IMG_file* Source() const;
  bool Writing() const;
  uint32_t BandLines() const;
  // Closes the source now: 0 when everything written was kept, -1 when
  // written data was lost.
  int32_t Close();

 private:
  std::unique_ptr<klv::img::LayoutBand> m_band;
};

// Delivers the source plane by plane, one plane row a line.
class KLV_API CSepFltr {
 public:
  CSepFltr();
  virtual ~CSepFltr();
  CSepFltr(const CSepFltr&) = delete;
  CSepFltr& operator=(const CSepFltr&) = delete;
  virtual bool Attach(IMG_file* source);
  virtual int32_t ReadLine(uint8_t* buffer, int32_t count);
  virtual int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  const image_info* Info() const;
  IMG_file* Source() const;
  uint32_t BandLines() const;

 private:
  std::unique_ptr<klv::img::LayoutBand> m_band;
};
