// SPDX-License-Identifier: MIT
// The halftone filter (the stream continuous-tone lines are written into) and
// the OEM placement as C++ classes. The C interface is in klv/htplace.h.
#ifndef KLV_HTPLACE_CXX_H
#define KLV_HTPLACE_CXX_H

#include <memory>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/htplace.h"
#include "klv/halftone_rip.h"

namespace klv::halftone {
class ChunkRing;
}

// The halftone filter: the stream the caller writes continuous-tone lines
// into. Each separation goes to its engine; the dot lines are gathered in one
// buffer and written to the output image in its layout.
class KLV_API CHTFilter : public CIMG_file {
 public:
  CHTFilter();
  ~CHTFilter() override;

  // Attaches to `output` (owned from then on: closed on failure too).
  // `placement` is detached on failure. See HTPlace_AttachImg.
  bool AttachImg(IMG_file* output, const image_info* input, CHTPlacement* placement,
                 int32_t buffer_lines, int32_t staging_lines);
  // Ends the engines, writes the last lines, detaches the placement and
  // closes the output image.
  void DetachImg();
  // Writes the lines every engine has finished to the output image.
  bool FlushData();
  // Waits until every threaded engine is ready for lines; false on quit.
  bool CheckAllProcAvail();

  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  // Lends room in the filter's input for up to `count` lines, so that the
  // caller reads or converts its lines straight into it instead of handing
  // over lines of its own (see HTPlace_LendLines); CommitInput hands them
  // over. 0 when this filter cannot lend (write lines with WriteLine).
  int32_t LendInput(uint8_t** lines, int32_t count);
  int32_t CommitInput(int32_t count);
  // ToImg that marks the handle as a halftone filter, for HTPlace_LendLines.
  IMG_file* ToImg(char mode, int type) override;
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override;
  int32_t GetStatus(int32_t what) override;
  // DetachImg; -1 when a dot line was refused or closing the output lost data.
  int32_t Close() override;

  bool IsAttached() const { return attached_; }
  int Separations() const { return seps_; }
  CHTRip* Rip(int sep) const { return sep >= 0 && sep < seps_ ? rips_[sep].get() : nullptr; }
  unsigned long BufferLines() const { return buf_lines_; }

 private:
  bool Fail();
  // The stages of AttachImg, in order; each logs its fault and returns false.
  bool TakeDescriptions(const image_info* input);
  bool CheckGeometry();
  bool SizeBuffer(int32_t buffer_lines);
  bool AllocateBuffers(int32_t staging_lines);
  bool StartWriter();
  bool CreateEngines();
  void StartProcessing();
  bool StartRing();
  bool WriteSep(int sep, const uint8_t* base, unsigned long stride, unsigned long lines);
  bool PackPixels(const uint8_t* base, unsigned long lines);
  bool WriteBuffer(const uint8_t* base, unsigned long lines);
  bool SwapBuffers();
  int32_t WritePlanar(uint8_t* lines, int32_t count);
  int32_t WriteInterleaved(uint8_t* lines, int32_t count);
  unsigned long Hand(CHTRip* rip, uint8_t* lines, unsigned long n);

  bool attached_ = false;
  bool failed_ = false;
  bool does_process_ = false;
  CHTPlacement* placement_ = nullptr;
  IMG_file* out_ = nullptr;
  image_info in_info_{};
  image_info out_info_{};
  int seps_ = 0;
  bool in_planar_ = false;
  bool out_planar_ = false;
  unsigned long sep_bytes_ = 0;   // bytes of one separation's dot line
  unsigned long line_bytes_ = 0;  // bytes between buffer lines
  unsigned long buf_lines_ = 0;
  unsigned long extra_lines_ = 0;       // the placement's lines beyond buf_lines_
  unsigned long in_sample_offset_ = 0;  // from one separation's first sample to the next
  std::vector<uint8_t> buffer_;
  // With threaded engines and interleaved input: a second buffer the engines
  // fill while the caller's thread writes out the first.
  std::vector<uint8_t> spare_;
  unsigned long spare_lines_ = 0;  // finished lines in spare_ still to write
  std::vector<uint8_t> pack_;
  std::vector<uint8_t> staging_;
  unsigned long staging_lines_ = 0;
  std::vector<std::unique_ptr<CHTRip>> rips_;
  std::vector<int> in_index_;      // input sample of each separation
  std::vector<int32_t> written_;   // output lines written per separation
  std::vector<int32_t> received_;  // input lines received per separation (planar input)
  int cur_sep_ = 0;                // planar input: the separation being written
  // With threaded engines and interleaved input: the ring of chunks the
  // engines screen on their lanes, at their own pace (then spare_ is unused).
  std::unique_ptr<klv::halftone::ChunkRing> ring_;
};

// The OEM placement: drives an outside dot-processing library loaded by name.
// Such a library exports three C functions:
//   void* klv_oem_dot_open(const char* config_a, const char* config_b,
//                          double xres, double yres);          (null: refused)
//   int32_t klv_oem_dot_line(void* session, int32_t sep, const uint8_t* in,
//                            uint32_t step_bytes, uint32_t in_bits, uint32_t width,
//                            uint8_t* out, uint32_t out_bits); (0: failed)
//   void klv_oem_dot_close(void* session);
// Without such a library (the usual case) creation fails cleanly.
class KLV_API CHTPlaceOem : public CHTKlvPlacement {
 public:
  using OpenFn = void* (*)(const char*, const char*, double, double);
  using LineFn = int32_t (*)(void*, int32_t, const uint8_t*, uint32_t, uint32_t, uint32_t, uint8_t*,
                             uint32_t);
  using CloseFn = void (*)(void*);
  ~CHTPlaceOem() override;
  // Loads the library named by the KLV_OEM_DOTLIB environment variable, else
  // "libklvoemdot.so", and opens a session with the two configuration texts.
  // False (logged) when there is no such library or it refuses.
  bool Load(const char* config_a, const char* config_b, double xres, double yres);
  CHTRip* CreateRip(int sep, int color, bool extra, int curve_no, MLPROCCURVES* curves,
                    uint8_t* out_buf, unsigned long bytes_between_lines,
                    unsigned long out_lines) override;

  void* Session() const { return session_; }
  LineFn Line() const { return line_; }

 private:
  std::unique_ptr<klv::platform::DynamicLibrary> lib_;
  void* session_ = nullptr;
  LineFn line_ = nullptr;
  CloseFn close_ = nullptr;
};

#endif
