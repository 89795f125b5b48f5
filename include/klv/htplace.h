/* SPDX-License-Identifier: MIT */
/* Halftoning a whole page: creating a placement by method number, configuring
 * it, and the halftone filter, a stream opened for writing that screens every
 * line written into it, one engine per separation, and writes the dot lines
 * into an output image.
 *
 * The caller's order: HTPlaceAlloc; optionally HTPlaceSetDetachDelete,
 * HTPlaceSetSpecialMedia, HTPlaceSetLinearization and the thread flags of
 * HTPlaceGetThreadFlagArray; HTPlace_GetDupFactor to size the output;
 * HTPlace_AttachImg with the output image; img_write_line for every line;
 * img_close. Closing the stream flushes the last lines, closes the output
 * image and detaches the placement (which destroys it when detach-delete is
 * set; otherwise the caller frees it with HTPlaceFree). */
#ifndef KLV_HTPLACE_H
#define KLV_HTPLACE_H

#include <stdint.h>

#include "klv/export.h"
#include "klv/halftone_mlproc.h"
#include "klv/img.h"
#include "klv/screen_setup.h"

KLV_BEGIN_C

/* Placement methods of HTPlaceAlloc. */
enum {
  KLV_HTMETHOD_ERRDIF = 0,         /* plain error diffusion */
  KLV_HTMETHOD_ERRDIF_SCREEN = 1,  /* diffusion modulated by a computed pattern */
  KLV_HTMETHOD_ERRDIF_MTX = 2,     /* diffusion modulated by a matrix file */
  KLV_HTMETHOD_SCREEN_ORD = 3,     /* generated ordered-dither screens */
  KLV_HTMETHOD_SCREEN_BUILTIN = 4, /* the four built-in 16-bit screens */
  KLV_HTMETHOD_SCREEN_FILE = 5,    /* a screen file */
  KLV_HTMETHOD_SCREEN_SPOT = 6,    /* generated spot screens */
  KLV_HTMETHOD_SCREEN_LINE = 8,    /* generated line screens */
  KLV_HTMETHOD_SCREEN_FUZZY = 9,   /* generated fuzzy-dot screens */
  KLV_HTMETHOD_SCREEN_BUILTIN2 = 10,
  KLV_HTMETHOD_OEM = 11,    /* an OEM dot-processing library */
  KLV_HTMETHOD_VARCOEF = 12 /* and every higher number: variable-coefficient diffusion */
};

typedef struct HTPLACE HTPLACE; /* a CHTPlacement */

/* Creates a placement by method (see the enum). screens: screens to load for
 * method 5; xres, yres: device resolution; oem_a, oem_b, oem_flags: passed to
 * the OEM placement; levels: non-zero makes a method-5 screen file 2048
 * levels; setup: a screen setup for the screened methods (3, 4, 6, 8, 9 and
 * 10 generate its screens; 5 loads "<name>.HTS"; 11 takes its OEM
 * configuration); a setup whose screens cannot be generated fails the
 * placement. colors: the job's colour names as an SSTRAL* (one array per
 * colour, the name first, or one array of all names), or null. A setup's
 * per-colour entries are used only with a colour list and a setup name that
 * is neither a number nor "Default"; otherwise four screens are made from the
 * name (a number is the ruling in lines per inch, e.g. "150lpi").
 * default_name: the matrix file of method 2 or the screen file of method 5;
 * thresh_out: receives the threshold array method 5 loaded (the caller then
 * owns it and frees it with HTThreshFree), else null. Null (logged) on
 * failure. */
KLV_API HTPLACE* HTPlaceAlloc(uint32_t screens, double xres, double yres, double oem_a,
                              double oem_b, uint32_t levels, uint32_t method,
                              const _SCREENSETUP* setup, const void* colors,
                              const char* default_name, void** thresh_out, uint32_t oem_flags);
/* Destroys the placement; null is accepted. Returns 0. */
KLV_API int32_t HTPlaceFree(HTPLACE* placement);
/* Linearization tables (count tables of 256 entries, kept by the caller) and an
 * optional multi-level process record (copied). A variable-dot record loads
 * the variable-dot thresholds "VarDot.HTS" from the search path (or its
 * "screens" folders). 1 on success, else 0 (logged). */
KLV_API int32_t HTPlaceSetLinearization(HTPLACE* placement, int32_t count, uint16_t (*tables)[256],
                                        const MLPROCINFO* record);
/* Sets the seed that every random choice of the placement and its engines is
 * drawn from (diffusion noise and line starts, the phase of screens reused
 * for extra separations); each separation mixes in its own index. Without a
 * call the seed is a fixed default, so that a page screened twice gives the
 * same dots; a different seed gives different dots. Set it before
 * HTPlace_AttachImg. Returns 0, or -1 for a null placement. */
KLV_API int32_t HTPlaceSetSeed(HTPLACE* placement, uint32_t seed);
/* Sets the detach-delete flag to flag != 0 and returns it (0 for null). */
KLV_API int32_t HTPlaceSetDetachDelete(HTPLACE* placement, int32_t flag);
KLV_API void HTPlaceSetSpecialMedia(HTPLACE* placement, int32_t flag);
/* The 13 thread flags (a non-zero flag runs that separation's engine on its
 * own thread), or null. */
KLV_API uint8_t* HTPlaceGetThreadFlagArray(HTPLACE* placement);
KLV_API int32_t HTPlaceIsThreaded(HTPLACE* placement);
/* Creates the halftone filter over `output` (open for writing; its
 * description gives the dot layout) for lines described by `input`, and
 * returns it as a stream opened for writing. buffer_lines >= 1: output lines
 * buffered; 0: 256 KiB of lines; negative: -buffer_lines bytes of lines.
 * staging_lines > 0 copies the caller's lines into a buffer of that many lines
 * first. Null on failure: `output` is closed and the placement detached. */
KLV_API IMG_file* HTPlace_AttachImg(HTPLACE* placement, IMG_file* output, image_info* input,
                                    int32_t buffer_lines, int32_t staging_lines);
/* Stores the duplication factors (output pixels per input pixel across and
 * down) and returns the one down; 0 for null. */
KLV_API int32_t HTPlace_GetDupFactor(HTPLACE* placement, int32_t* x, int32_t* y);

/* The four built-in 16-bit screens (255 levels) as a screen file's thresholds:
 * screen i has widths[i] x heights[i] values, shifted right by shifts[i] per
 * repeat down. Returns the screen's thresholds (static), or null for i out of
 * 0..3. */
KLV_API const uint16_t* HTBuiltinScreen(int32_t i, int32_t* width, int32_t* height, int32_t* shift);

KLV_END_C

#ifdef __cplusplus
#include <memory>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/halftone_rip.h"

// The halftone filter: the stream the caller writes continuous-tone lines
// into. Each separation goes to its engine; the dot lines are gathered in one
// buffer and written to the output image in its layout.
class KLV_API CHTFilter : public CIMG_file {
 public:
  CHTFilter() = default;
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

#endif
