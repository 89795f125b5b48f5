// SPDX-License-Identifier: MIT
// Setting up a frame: the driver's answers, the plan of the chain
// (print_plan.cpp), the print record, the frame started through its starter
// and the chain the caller writes into; the description of a buffered
// frame's file (GetBufImin); and PrintBuffered, which copies a buffer image
// into a direct frame 8 MiB at a time.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "klv/imgmux.h"
#include "klv/kernel_volume.h"
#include "klv/layoutfilter.h"
#include "klv/log.h"
#include "klv/printobj_cxx.h"
#include "print_chain.h"

namespace {

enum { kFrameStartCommand = SP_CMD_FRAME_START, kInfoChannels = 0 };
constexpr size_t kBufferedChunkBytes = 8388608;

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

SP_PRINT print_record_of(const CPrintFrameInfo& frame, const image_info& image,
                         const SP_COLOR_SETUP& setup, bool ink_use) {
  SP_PRINT print{};
  print.size = SP_PRINT_SIZE;
  print.width = static_cast<uint32_t>(image.width);
  print.height = static_cast<uint32_t>(image.height);
  print.copies = static_cast<uint32_t>(std::max(1, frame.copies));
  print.xres = image.xres;
  print.yres = image.yres;
  print.bits = image.bits_per_sample;
  print.channels = setup.channels;
  print.spot_channels = setup.spot_channels;
  print.flags = static_cast<uint32_t>(frame.flags);
  put_text(print.name, frame.name);
  if (ink_use) print.ink_use = 1;
  return print;
}

// The frame's shape: the planned dots with their pixels repeated.
image_info repeated(const klv::printing::FramePlan& plan) {
  image_info frame = plan.dots;
  frame.width *= plan.xrep;
  frame.height *= plan.yrep;
  frame.xres *= plan.xrep;
  frame.yres *= plan.yrep;
  return frame;
}

}  // namespace

IFrameStarter::~IFrameStarter() = default;

int32_t get_xrep(const char* text) {
  const int32_t x = text ? std::atoi(text) : 0;
  return x > 0 ? x : 1;
}

int32_t get_yrep(const char* text) {
  if (!text) return 1;
  const char* after = std::strchr(text, 'x');
  int32_t y = after ? std::atoi(after + 1) : 0;
  if (y <= 0) y = std::atoi(text);
  return y > 0 ? y : 1;
}

int32_t PrintFrameStarter::Start(CPrintObj* owner, const SP_PRINT* print,
                                 const SP_COLOR_SETUP* setup, int32_t passes) {
  m_frame = new CPrintFrameImg;
  return m_frame->Start(owner, print, setup, passes);
}

int32_t BufferedFrameStarter::Start(CPrintObj* owner, const SP_PRINT* print,
                                    const SP_COLOR_SETUP* setup, int32_t passes) {
  m_frame = new CBufferedFrameImg(m_file);
  return m_frame->Start(owner, print, setup, passes);
}

int32_t JobFrameStarter::Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                               int32_t) {
  auto* frame = new CJobFrameImg;
  m_frame = frame;
  return frame->StartJob(m_volume, owner, print, setup, m_name.c_str());
}

// The driver's answers a frame is set up with, in this order: the media's
// colour description (the colour setup when the caller gave none), the
// process record, the default settings and information text, and the dot
// pattern of the frame's mode.
int32_t CPrintObj::SetupQueries(const CPrintFrameInfo& frame, SP_COLOR_SETUP* setup) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SP_COLOR_INFO colour{};
  colour.size = sizeof colour;
  if (const int32_t r = SP_get_color_info(m_object, m_info, frame.media.c_str(), &colour)) return r;
  if (setup->channels == 0) GetColorSetup(setup, colour);
  std::memset(&m_mlproc, 0, sizeof m_mlproc);
  if (SP_get_mlproc_info(m_object, frame.media.c_str(), frame.mode.c_str(), &m_mlproc) != SP_OK)
    std::memset(&m_mlproc, 0, sizeof m_mlproc);  // the driver has none
  // The driver's colour channels for the frame's media and mode, its
  // default settings (kept by the driver) and its information text, which
  // names the frame's device in the log.
  int32_t channels = 0;
  if (SP_get_info_num_ex(m_object, &channels, m_info, frame.media.c_str(), frame.mode.c_str(),
                         nullptr, kInfoChannels) == 0 &&
      channels > 0 && channels != setup->channels)
    KLV_LOG(KLV_LOG_INFO, "%s: the driver gives %d channels for \"%s\", the colour setup %u",
            m_name.c_str(), channels, frame.mode.c_str(), unsigned(setup->channels));
  SP_default_settings(m_object);
  char text[256] = "";
  SP_get_info_str(m_object, text, int32_t(sizeof text), 0);
  KLV_LOG(KLV_LOG_INFO, "%s: frame \"%s\" (%s, %s) on \"%s\"", m_name.c_str(), frame.name.c_str(),
          frame.media.c_str(), frame.mode.c_str(), text);
  const int32_t r = SP_command(m_object, kFrameStartCommand, const_cast<char*>(frame.mode.c_str()),
                               const_cast<char*>(frame.media.c_str()));
  return r == SP_ERR_OPTIONAL ? 0 : r;
}

int32_t CPrintObj::BeginFrameCommon(IFrameStarter& starter, const CPrintFrameInfo& frame,
                                    const image_info* image, IMG_file** output,
                                    SP_COLOR_SETUP* setup) {
  if (!m_object || !m_info) return m_status = 4;
  if (!image || !output) return m_status = 2;
  *output = nullptr;
  if (m_frame) {
    KLV_LOG(KLV_LOG_ERROR, "%s: a frame is already open", m_name.c_str());
    return m_status = 2;
  }
  SP_COLOR_SETUP chosen{};
  if (setup) chosen = *setup;
  if (const int32_t r = SetupQueries(frame, &chosen)) return m_status = r;
  if (setup) *setup = chosen;
  // Everything the plan holds (conversion, placement) is released with it
  // on any way out; the chain takes what it uses.
  klv::printing::FramePlan plan;
  if (!klv::printing::plan_frame(frame, *image, chosen, GetPrntInfo(), m_name.c_str(), &plan,
                                 m_mlproc.colors ? &m_mlproc : nullptr))
    return m_status = 2;
  SP_PRINT print = print_record_of(frame, repeated(plan), chosen, m_ink_use);
  PRNTINFO* printer = GetPrntInfo();
  klv::printing::fill_page_fields(
      &print, printer, frame,
      printer ? prntinfo_mode(printer, frame.media.c_str(), frame.mode.c_str()) : nullptr);
  const int32_t started = starter.Start(this, &print, &chosen, frame.passes);
  CPrintFrameImg* raw = starter.Frame();
  IMG_file* head = raw ? raw->ToImg('w', CPrintFrameImg::kType) : nullptr;
  if (started != 0 || !head) {
    if (head) {
      raw->Disconnect();
      img_close(head);
    }
    ClearFrame(raw);
    // A print the driver began and could not go on with is cancelled at EndJob.
    if (started != 0 && started != 6 && m_use_printer) m_frame_failed = true;
    return m_status = started ? started : 3;
  }
  head = klv::printing::build_chain(plan, head);  // closes the frame when it fails
  if (!head) {
    ClearFrame(raw);
    return m_status = 3;
  }
  *output = starter.Wrap(head);
  return m_status = 0;
}

int32_t CPrintObj::GetBufImin(const CPrintFrameInfo& frame, const image_info* image,
                              image_info* out, SP_COLOR_SETUP* setup) {
  if (!m_object || !m_info) return m_status = 4;
  if (!image || !out) return m_status = 2;
  SP_COLOR_SETUP chosen{};
  if (setup) chosen = *setup;
  if (chosen.channels == 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SP_COLOR_INFO colour{};
    colour.size = sizeof colour;
    if (const int32_t r = SP_get_color_info(m_object, m_info, frame.media.c_str(), &colour))
      return m_status = r;
    GetColorSetup(&chosen, colour);
  }
  if (setup) *setup = chosen;
  klv::printing::FramePlan plan;
  if (!klv::printing::plan_frame(frame, *image, chosen, GetPrntInfo(), m_name.c_str(), &plan))
    return m_status = 2;
  const SP_PRINT print = print_record_of(frame, repeated(plan), chosen, false);
  *out = klv::printing::frame_lines_of(print, chosen.channels, chosen.spot_channels);
  return m_status = 0;
}

int32_t CPrintObj::BeginFrame(const CPrintFrameInfo& frame, const image_info* image,
                              IMG_file** output) {
  PrintFrameStarter starter;
  return BeginFrameCommon(starter, frame, image, output, nullptr);
}

int32_t CPrintObj::BeginBufferedFrame(const char* file, const CPrintFrameInfo& frame,
                                      const image_info* image, IMG_file** output, const settings*,
                                      SP_COLOR_SETUP* setup) {
  if (!file) return m_status = 2;
  BufferedFrameStarter starter(file);
  return BeginFrameCommon(starter, frame, image, output, setup);
}

int32_t CPrintObj::BeginJobFrame(SOVolume* volume, const char* name, const CPrintFrameInfo& frame,
                                 const image_info* image, IMG_file** output, const settings*,
                                 SP_COLOR_SETUP* setup) {
  if (!volume || !name) return m_status = 2;
  if (m_job_volume && m_job_volume != volume) VClose(m_job_volume);
  m_job_volume = volume;
  JobFrameStarter starter(volume, name);
  return BeginFrameCommon(starter, frame, image, output, setup);
}

int32_t CPrintObj::BufferedChunkLines(size_t line_bytes) {
  if (line_bytes == 0) return 0;
  return static_cast<int32_t>(std::max<size_t>(1, kBufferedChunkBytes / line_bytes));
}

int32_t CPrintObj::PrintBuffered(const char* file, const CPrintFrameInfo& frame,
                                 const image_info* image, IMG_file** output, const settings*,
                                 SP_COLOR_SETUP* setup) {
  if (!m_object || !m_info) return m_status = 4;
  if (!file || !image || !output || !setup) return m_status = 2;
  image_info stored;
  init_image_info(&stored);
  *output = img_mux_open(file, nullptr, "r", &stored, KLV_TYPE_OUTIMG);
  if (!*output) return m_status = 2;
  // The buffer holds the frame's dots as the buffered frame wrote them
  // (screened and repeated): the direct frame takes them as they are.
  image_info lines;
  init_image_info(&lines);
  if (const int32_t r = GetBufImin(frame, image, &lines, setup)) {
    img_close(*output);
    *output = nullptr;
    return m_status = r;
  }
  CPrintFrameInfo as_dots = frame;
  as_dots.repeat.clear();
  as_dots.repeat.push_back('1');  // no repeat (assigning "1" trips a GCC 12 warning)
  IMG_file* head = nullptr;
  PrintFrameStarter starter;
  int32_t status = BeginFrameCommon(starter, as_dots, &lines, &head, setup);
  const size_t line_bytes = head ? starter.Frame()->LineBytes() : 0;
  if (status == 0 && (stored.bytes_per_line != line_bytes || stored.height < lines.height)) {
    KLV_LOG(KLV_LOG_ERROR, "Buffer file \"%s\" does not hold the frame's lines", file);
    status = 2;
  }
  const int32_t chunk = BufferedChunkLines(line_bytes);
  std::vector<uint8_t> buffer(status == 0 ? line_bytes * size_t(chunk) : 0);
  for (int32_t done = 0; status == 0 && done < lines.height;) {
    const int32_t n = std::min(chunk, lines.height - done);
    if (img_seek_line(*output, done, 0, 0, 0) != done ||
        img_read_line(*output, buffer.data(), n) != n) {
      KLV_LOG(KLV_LOG_ERROR, "Buffer file \"%s\" cannot be read at line %d", file, done);
      status = 2;
    } else if (img_write_line(head, buffer.data(), n) != n) {
      status = m_status ? m_status : 100;
    }
    done += n;
    if (status == 0) Progress(double(done) / lines.height);
  }
  // A frame cut short stays current, so that ending the job cancels it.
  const bool whole = status == 0;
  if (head && img_close_status(head) != 0 && status == 0) status = m_status ? m_status : 100;
  if (!whole) m_frame_failed = true;
  img_close(*output);
  *output = nullptr;
  return m_status = status;
}
