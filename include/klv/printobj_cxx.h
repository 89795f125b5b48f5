// SPDX-License-Identifier: MIT
// Print objects and frames: a CPrintObj holds one printer object of a printer
// driver and runs print jobs on it. A job (StartJob ... EndJob) holds frames;
// each frame is an image stream whose lines go to the driver (CPrintFrameImg),
// into a buffer image file (CBufferedFrameImg) or into a job volume
// (CJobFrameImg).
//
// The order of driver calls over one job:
//   construction  SP_open_printer, SP_set_msg_callback, SP_find_info
//   StartJob      SP_init_from_info, [SP_get_info_num 35], SP_start_job
//   BeginFrame    SP_get_color_info, SP_get_mlproc_info, SP_default_settings,
//                 SP_get_info_str, SP_command 33, SP_get_info_num 46,
//                 SP_start_print(_ex), SP_start_pass
//   lines         SP_print_scanline_data (one line a call); a frame of several
//                 passes ends each pass and starts the next at its first line
//   frame closed  [SP_command 29], SP_end_pass, SP_end_print (only when whole)
//   EndJob        SP_end_job, or SP_cancel_job when a frame is still open or
//                 one failed
//   destruction   SP_free_info, SP_close (owned ones only)
// With the use-printer switch off everything is prepared and nothing reaches
// the device: no init, start, line or end calls.
//
// A frame takes the printer's dots as they are (laid out as lines), or a
// contone image, which the frame's chain converts to the printer's inks and
// screens with the frame's mode; the dots are then repeated by the frame's
// repeat factors.
//
// Status codes: 0 success, the driver's codes otherwise; 4 no usable printer
// object or info, 2 a missing argument or an input the frame cannot take, 3
// no memory, 6 a frame refused by the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "klv/cimg_file.h"
#include "klv/export.h"
#include "klv/img.h"
#include "klv/inkcount_cxx.h"
#include "klv/job_settings.h"
#include "klv/kernel_types.h"
#include "klv/printer_driver.h"
#include "klv/prntinfo.h"

// Asked by the driver (through the job record's abort callback) whether the
// job is to stop. Its first virtual operation is the question.
class KLV_API IPrintAbort {
 public:
  virtual bool ShouldAbort() = 0;
  virtual ~IPrintAbort();
};

// Told how a print goes: code 2 with the fraction done ("%.3f") while a
// buffered frame is copied.
class KLV_API IPrintStatusCallback {
 public:
  enum { kProgress = 2 };
  virtual void PrintStatus(int32_t code, const char* text) = 0;
  virtual ~IPrintStatusCallback();
};

// A measurement swatch attached to the print object: told when a frame ends
// (through the driver) and finished when the job ends.
class KLV_API IPrintSwatch {
 public:
  virtual void Finish() = 0;
  virtual ~IPrintSwatch();
};

// What the caller says about a job.
class KLV_API CPrintJobInfo {
 public:
  std::string name;           // the job's name (up to 200 bytes reach the driver)
  std::string settings_name;  // the job's printer settings, for init_from_info
  int32_t count = 1;          // copies of the job
  int32_t value = 0;          // copied into the job record (offset 296)
  int32_t flag = 0;           // copied into the job record (offset 300, one byte)
  bool ink_use = false;       // the job counts ink use
  IPrintAbort* abort = nullptr;
};

// Fields of the print record (SP_PRINT) that the frame set-up fills in its
// reserved bytes, at these offsets from the record's start: the printer
// resolution nearest the mode's ("720x720"; "" when the printer has no
// information or the frame's mode is unknown), and the frame's page: the
// smallest page size of the media that holds the frame (else the printer's
// default page size), its size in inches and its paper path.
enum : size_t {
  kPrintResolutionAt = 128,  // char[32]
  kPrintResolutionSize = 32,
  kPrintPageAt = 160,  // char[64]: the page size's name, "" none
  kPrintPageSize = 64,
  kPrintPageWidthAt = 224,   // double, inches
  kPrintPageHeightAt = 232,  // double, inches
  kPrintPaperPathAt = 240,   // uint32: kPaperPath*
};
enum : uint32_t { kPaperPathUnknown = 0, kPaperPathSheet = 1, kPaperPathRoll = 2 };

// What the caller says about a frame.
class KLV_API CPrintFrameInfo {
 public:
  int32_t page = 0;   // the frame's number in the job
  int32_t copy = 0;   // which copy
  std::string name;   // the frame's name (the page name in the print record)
  std::string media;  // media and mode the frame is printed with
  std::string mode;
  std::string repeat;    // pixel repeat "XxY" ("" or "1x1": none)
  int32_t passes = 0;    // passes of the frame (0 or 1: one)
  int32_t copies = 0;    // copies of the frame the driver makes (0: one)
  int32_t x_offset = 0;  // the driver's own placement words
  int32_t y_offset = 0;
  int32_t flags = 0;  // SP_PRINT_FLAG_*
  // The dot pattern (DP_*) contone lines are screened with when the frame's
  // mode is not in the printer's information (7, contone: the built-in
  // screens).
  int32_t pattern = 7;
  // The ICC profile of the caller's contone image (empty: the default
  // profile of its colour model).
  std::vector<uint8_t> profile;
  // Contone ink amounts that already went through the printer's calibration
  // and ink restriction (a job's contone print file): screened as they are.
  bool inks_final = false;
};

class CPrintObj;

// A frame: an image stream opened for writing whose lines (line-interleaved,
// the channels in the colour setup's order) go somewhere.
class KLV_API CPrintFrameImg : public CIMG_file {
 public:
  // The type code of a frame's stream handle.
  enum { kType = 70 };
  CPrintFrameImg();
  ~CPrintFrameImg() override;
  CPrintFrameImg(const CPrintFrameImg&) = delete;
  CPrintFrameImg& operator=(const CPrintFrameImg&) = delete;

  // Starts a direct frame: print and first pass begun; 0 or a status.
  virtual int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                        int32_t passes);
  int32_t WriteLine(unsigned char* buffer, int32_t count) override;
  int32_t SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) override;
  // Ends the frame: the pass and print are ended when it was whole.
  int32_t Close() override;
  // Stops the frame: no longer started, no longer its owner's current frame.
  void Disconnect();

  bool Started() const { return m_started; }
  int32_t Lines() const { return m_lines; }
  size_t LineBytes() const { return m_line_bytes; }
  size_t PlaneBytes() const { return m_plane_bytes; }
  int32_t Height() const { return m_height; }

 protected:
  // Shape from the print record and colour setup; the reordering buffer when
  // there are four process channels or more. 0, or 3 without memory.
  int32_t StartCommon(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup);
  virtual int32_t WriteLineImpl(const uint8_t* line);
  virtual int32_t SeekLineImpl(int32_t line, int32_t plane, int32_t page, int32_t whence);
  virtual void DisconnectImpl();
  // The line in the driver's channel order (black first when reordering).
  const uint8_t* Reorder(const uint8_t* line);
  // Ends the frame's pass and print when it is whole; 0 or the driver's status.
  int32_t FinishPrint();

  int32_t m_width = 0, m_height = 0;
  double m_width_inches = 0, m_height_inches = 0;
  int32_t m_bits = 1, m_channels = 0, m_spots = 0, m_kind = 0, m_extra = 0;
  size_t m_line_bytes = 0, m_plane_bytes = 0;
  int32_t m_lines = 0;
  CPrintObj* m_owner = nullptr;
  bool m_started = false;
  bool m_finished = false;
  int32_t m_passes = 1, m_pass = 0;
  uint8_t* m_reorder = nullptr;  // one line, or null
};

// A frame whose lines go into a buffer image file (printed later with
// CPrintObj::PrintBuffered).
class KLV_API CBufferedFrameImg : public CPrintFrameImg {
 public:
  explicit CBufferedFrameImg(std::string file) : m_file(std::move(file)) {}
  ~CBufferedFrameImg() override;
  int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                int32_t passes) override;
  int32_t Close() override;

 protected:
  int32_t WriteLineImpl(const uint8_t* line) override;
  void DisconnectImpl() override;

 private:
  std::string m_file;
  IMG_file* m_out = nullptr;
  bool m_failed = false;
};

// A frame whose lines go into a member of a job volume.
class KLV_API CJobFrameImg : public CPrintFrameImg {
 public:
  CJobFrameImg() = default;
  ~CJobFrameImg() override;
  // Starts the frame into `name` of `volume` (the print record gives the shape).
  int32_t StartJob(SOVolume* volume, CPrintObj* owner, const SP_PRINT* print,
                   const SP_COLOR_SETUP* setup, const char* name);
  int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                int32_t passes) override;
  int32_t Close() override;

 protected:
  int32_t WriteLineImpl(const uint8_t* line) override;
  void DisconnectImpl() override;

 private:
  SOVolume* m_volume = nullptr;
  std::string m_name;
  IMG_file* m_out = nullptr;
  bool m_failed = false;
};

// A small stream inside a frame chain: the frame's description, no colour map
// and no profile.
class KLV_API CPrintFrameDataImg : public CIMG_file {
 public:
  explicit CPrintFrameDataImg(const image_info& info) { m_info = info; }
  image_cmap* GetCmap() override { return nullptr; }
  image_profile* GetProfile() override { return nullptr; }
};

// Starts the frame of one kind.
class KLV_API IFrameStarter {
 public:
  virtual ~IFrameStarter();
  virtual int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                        int32_t passes) = 0;
  virtual CPrintFrameImg* Frame() = 0;
  // May wrap the output chain (returns the new head); the default leaves it.
  virtual IMG_file* Wrap(IMG_file* head) { return head; }
  // Whether the frame goes to the device.
  virtual bool Direct() const = 0;
};

class KLV_API PrintFrameStarter : public IFrameStarter {
 public:
  int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                int32_t passes) override;
  CPrintFrameImg* Frame() override { return m_frame; }
  bool Direct() const override { return true; }

 private:
  CPrintFrameImg* m_frame = nullptr;
};

class KLV_API BufferedFrameStarter : public IFrameStarter {
 public:
  explicit BufferedFrameStarter(std::string file) : m_file(std::move(file)) {}
  int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                int32_t passes) override;
  CPrintFrameImg* Frame() override { return m_frame; }
  bool Direct() const override { return true; }

 private:
  std::string m_file;
  CPrintFrameImg* m_frame = nullptr;
};

// The member of a job volume that receives a job frame's preview.
#define KLV_JOB_FRAME_PREVIEW ".\\Render.001"

class KLV_API JobFrameStarter : public IFrameStarter {
 public:
  JobFrameStarter(SOVolume* volume, std::string name) : m_volume(volume), m_name(std::move(name)) {}
  int32_t Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                int32_t passes) override;
  CPrintFrameImg* Frame() override { return m_frame; }
  // Adds the preview: what the caller writes also goes, scaled so that its
  // longer side is 400 pixels, into the member KLV_JOB_FRAME_PREVIEW of the
  // volume (pixel-interleaved images; others get none).
  IMG_file* Wrap(IMG_file* head) override;
  bool Direct() const override { return false; }

 private:
  SOVolume* m_volume;
  std::string m_name;
  CPrintFrameImg* m_frame = nullptr;
};

// Hears how the count of a job frame's dots goes and tells the print
// object's status callback the fraction done (code 2, "%.3f") at each
// thousandth.
class KLV_API JobFrameDotCallback : public ICountCallback {
 public:
  explicit JobFrameDotCallback(CPrintObj* owner) : m_owner(owner) {}
  void Progress(int32_t done, int32_t total) override;

 private:
  CPrintObj* m_owner;
  int32_t m_last = -1;
};

// The pixel repeat factors of a repeat text "XxY": the integer at its start,
// and the integer after the first "x" (the first integer when that is missing
// or 0). At least 1 each.
KLV_API int32_t get_xrep(const char* text);
KLV_API int32_t get_yrep(const char* text);

class KLV_API CPrintObj {
 public:
  // Opens the printer's driver object and loads its info; "Unknown" names a
  // printer that could not be opened (status 4).
  CPrintObj(const char* printer, bool use_printer);
  // Adopts an open printer object (not owned) and info (owned only when it
  // had to be loaded here).
  CPrintObj(SP_OBJECT* object, const char* printer, SP_INFO* info, bool use_printer);
  virtual ~CPrintObj();
  CPrintObj(const CPrintObj&) = delete;
  CPrintObj& operator=(const CPrintObj&) = delete;

  void SetStatusCallback(IPrintStatusCallback* callback) { m_status_cb = callback; }
  // Swaps the use-printer switch; the old value.
  bool SetUsePrinter(bool use);
  // Attaches a swatch (owned from here on; null detaches and deletes).
  void SetSwatch(IPrintSwatch* swatch);

  int32_t StartJob(const CPrintJobInfo& job);
  int32_t EndJob();
  // Begins a frame of `image` going straight to the printer; `output`
  // receives the head of the chain the caller writes the image's lines into.
  // Closing that head ends the frame; EndFrame then clears it.
  int32_t BeginFrame(const CPrintFrameInfo& frame, const image_info* image, IMG_file** output);
  // Begins a frame written into the member `name` of the job volume `volume`.
  int32_t BeginJobFrame(SOVolume* volume, const char* name, const CPrintFrameInfo& frame,
                        const image_info* image, IMG_file** output, const settings* job,
                        SP_COLOR_SETUP* setup);
  // Begins a frame written into the buffer image `file`.
  int32_t BeginBufferedFrame(const char* file, const CPrintFrameInfo& frame,
                             const image_info* image, IMG_file** output, const settings* job,
                             SP_COLOR_SETUP* setup);
  // Prints a buffer image written by a buffered frame, 8 MiB of lines a chunk,
  // telling the status callback the fraction done after each chunk.
  int32_t PrintBuffered(const char* file, const CPrintFrameInfo& frame, const image_info* image,
                        IMG_file** output, const settings* job, SP_COLOR_SETUP* setup);
  // The description of the buffer image a buffered frame of `image` writes
  // (line-interleaved dots of the frame's shape, after screening and pixel
  // repeat), with nothing started; the colour setup when it had none.
  int32_t GetBufImin(const CPrintFrameInfo& frame, const image_info* image, image_info* out,
                     SP_COLOR_SETUP* setup = nullptr);
  // Closes `output` (when given, which ends its frame) and clears the current frame.
  int32_t EndFrame(IMG_file* output);

  const std::string& GetName() const { return m_name; }
  const char* GetDeviceName() const;
  int32_t GetLastStatus() const { return m_status; }
  bool HasFrame() const { return m_frame != nullptr; }
  bool calcInkUse() const { return m_ink_use; }
  bool UsePrinter() const { return m_use_printer; }
  SP_OBJECT* Object() const { return m_object; }
  SP_INFO* Info() const { return m_info; }
  int32_t KeyInfo(uint32_t* out);
  // The dots the driver counted; reset afterwards when asked.
  int32_t GetDotCount(_SP_DOT_COUNT* counts, bool reset);
  // Counts the dots of the job frame `name` of `volume` through the driver's
  // ink counter (progress through a JobFrameDotCallback); 0 or a status.
  int32_t CountJobFrame(SOVolume* volume, const char* name, _SP_DOT_COUNT* counts);
  // The printer's information (null without one), and its lists, owned by
  // that information: medias ([0] name, [1] group), a media's mode names and
  // page sizes; the default page size; a media's mode by name.
  PRNTINFO* GetPrntInfo() const { return m_info ? m_info->prntinfo : nullptr; }
  const SSTRAL* GetMedias() const;
  const SSTRAL* GetModes(const char* media) const;
  const SSTRAL* GetPageSizes(const char* media) const;
  const char* GetDefaultPageSize() const;
  const CPrintMode* GetMode(const char* media, const char* mode) const;
  int32_t GetMediaInfo(const char* media, SP_COLOR_INFO* info);
  int32_t GetMLProcInfo(const char* media, const char* mode, MLPROCINFO* record);
  // The colour setup of a colour description.
  static void GetColorSetup(SP_COLOR_SETUP* setup, const SP_COLOR_INFO& info);
  int32_t UpdatePrinterStatus(const char* text);
  int32_t reloadInfo(const char* printer);

  // The frame machinery's access (frames call these).
  CPrintFrameImg* CurrentFrame() const { return m_frame; }
  void SetFrame(CPrintFrameImg* frame) { m_frame = frame; }
  // Lines a chunk of PrintBuffered for lines of `line_bytes` bytes.
  static int32_t BufferedChunkLines(size_t line_bytes);
  void ClearFrame(CPrintFrameImg* frame);
  void FrameFailed() { m_frame_failed = true; }
  bool SwatchFlag() const { return m_swatch_flag && m_swatch; }
  IPrintSwatch* Swatch() const { return m_swatch; }
  int32_t SetStatus(int32_t status) { return m_status = status; }
  void Progress(double fraction);

 private:
  int32_t BeginFrameCommon(IFrameStarter& starter, const CPrintFrameInfo& frame,
                           const image_info* image, IMG_file** output, SP_COLOR_SETUP* setup);
  int32_t SetupQueries(const CPrintFrameInfo& frame, SP_COLOR_SETUP* setup);
  static void OnDriverMessage(void* context, int32_t level, const char* text);

  IPrintStatusCallback* m_status_cb = nullptr;
  bool m_use_printer = true;
  SP_OBJECT* m_object = nullptr;
  bool m_own_object = false;
  std::string m_name = "Unknown";
  SP_INFO* m_info = nullptr;
  bool m_own_info = false;
  CPrintFrameImg* m_frame = nullptr;
  SOVolume* m_job_volume = nullptr;
  int32_t m_status = 0;
  std::mutex m_mutex;
  bool m_swatch_flag = false;
  bool m_ink_use = false;
  IPrintSwatch* m_swatch = nullptr;
  bool m_frame_failed = false;
  MLPROCINFO m_mlproc{};
};

namespace klv {

// Told the lines sent of a page file after each band: (context, lines done,
// lines in all).
using PrintPageProgress = void (*)(void* context, int32_t done, int32_t total);

// Prints one page file (a print file as the job driver writes it: the
// printer's dots, pixel- or line-interleaved) as one frame of the job
// running on `printer`; the frame's name is the file's. 0, or the status
// that stopped it (the frame is then left for EndJob to cancel).
KLV_API int32_t print_page_file(CPrintObj& printer, const char* file, const CPrintFrameInfo& frame,
                                PrintPageProgress progress, void* context);

}  // namespace klv
