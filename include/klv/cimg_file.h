// SPDX-License-Identifier: MIT
// CIMG_file: base class of image streams written as classes. A subclass
// implements the operations it supports and turns itself into an IMG_file
// with ToImg; the handle then owns the object.
#pragma once

#include <cstdint>

#include "klv/export.h"
#include "klv/img.h"

class KLV_API CIMG_file {
 public:
  CIMG_file();
  CIMG_file(const CIMG_file& other);
  CIMG_file& operator=(const CIMG_file& other);
  virtual ~CIMG_file();

  // Wraps this object in a new IMG_file with the given mode and type code. The
  // caller no longer owns the object: it is deleted when the handle closes, or
  // at once when the handle cannot be allocated (null is returned then).
  virtual IMG_file* ToImg(char mode, int type);
  virtual int32_t ReadLine(unsigned char* buffer, int32_t count);
  // Lends the next lines in place (see img_lend_lines); 0 by default.
  virtual int32_t LendLines(const uint8_t** lines, int32_t count);
  virtual int32_t WriteLine(unsigned char* buffer, int32_t count);
  virtual int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  virtual int32_t ReadTile(unsigned char* buffer, int32_t count);
  virtual int32_t WriteTile(unsigned char* buffer, int32_t count);
  virtual int32_t SeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence);
  virtual int32_t GetStatus(int32_t what);
  virtual image_cmap* GetCmap();
  virtual image_profile* GetProfile();

  const image_info& Info() const { return m_info; }
  int32_t CurrentLine() const { return m_line; }
  int32_t CurrentPlane() const { return m_plane; }
  int32_t CurrentTile() const { return m_tile; }

 protected:
  // Position arithmetic for subclasses' SeekLine/SeekTile: updates the current
  // line (tile) and plane and returns the new line (tile), or -1.
  virtual int32_t SetSeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence);
  virtual int32_t SetSeekTile(int32_t tile, int32_t plane, int32_t page, int32_t whence);

 public:
  // Ends the stream before its handle deletes the object: writes what the
  // object still holds and closes the streams it owns. Returns 0 when
  // everything written was kept, -1 when written data was lost (a write or
  // the finishing of a file failed). The handle's close calls it once and
  // then deletes the object; the destructor must still clean up an object
  // that was never closed. The default has nothing to finish and returns 0.
  virtual int32_t Close();

 protected:
  image_info m_info;
  int32_t m_line = 0;
  int32_t m_plane = 0;
  int32_t m_tile = 0;
};
