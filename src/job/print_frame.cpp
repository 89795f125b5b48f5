// SPDX-License-Identifier: MIT
// Frames: the direct frame that hands each line to the driver (channels put
// in the driver's order, passes ended and started at their first lines), and
// the frames that write their lines into a buffer image or a job volume.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "klv/imgmux.h"
#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/outimg.h"
#include "klv/printobj_cxx.h"
#include "print_chain.h"

namespace {

enum { kInfoRefuseFrame = 46 };

image_info frame_info_of(const SP_PRINT& print, int32_t channels, int32_t spots) {
  return klv::printing::frame_lines_of(print, channels, spots);
}

}  // namespace

image_info klv::printing::frame_lines_of(const SP_PRINT& print, int32_t channels, int32_t spots) {
  image_info info;
  init_image_info(&info);
  info.width = static_cast<int32_t>(print.width);
  info.height = static_cast<int32_t>(print.height);
  info.bits_per_sample = print.bits;
  info.samples = static_cast<uint32_t>(channels);
  info.spot_samples = static_cast<uint32_t>(spots);
  info.planar = KLV_PLANAR_LINES;
  info.photometric = KLV_PHOTO_MINWHITE;
  info.xres = print.xres;
  info.yres = print.yres;
  info.width_inches = print.xres > 0 ? print.width / print.xres : 0;
  info.height_inches = print.yres > 0 ? print.height / print.yres : 0;
  info.bytes_per_line = image_info_line_bytes(&info);
  return info;
}

CPrintFrameImg::CPrintFrameImg() = default;

CPrintFrameImg::~CPrintFrameImg() {
  CPrintFrameImg::Close();
  std::free(m_reorder);
}

int32_t CPrintFrameImg::StartCommon(CPrintObj* owner, const SP_PRINT* print,
                                    const SP_COLOR_SETUP* setup) {
  m_owner = owner;
  m_width = static_cast<int32_t>(print->width);
  m_height = static_cast<int32_t>(print->height);
  m_bits = static_cast<int32_t>(print->bits);
  m_channels = setup->channels;
  m_spots = setup->spot_channels;
  m_kind = setup->kind;
  m_extra = setup->extra;
  m_plane_bytes = (static_cast<size_t>(m_bits) * static_cast<size_t>(m_width) + 7) / 8;
  m_line_bytes = m_plane_bytes * static_cast<size_t>(m_channels);
  m_info = frame_info_of(*print, m_channels, m_spots);
  m_width_inches = m_info.width_inches;
  m_height_inches = m_info.height_inches;
  // Process colours arrive as C, M, Y, K; the driver takes K, C, M, Y.
  if (m_channels - m_spots >= 4) {
    m_reorder = static_cast<uint8_t*>(std::malloc(m_line_bytes));
    if (!m_reorder) return 3;
  }
  return 0;
}

int32_t CPrintFrameImg::Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                              int32_t passes) {
  if (const int32_t r = StartCommon(owner, print, setup)) return r;
  m_passes = std::max(1, passes);
  SP_OBJECT* object = owner->Object();
  int32_t refuse = 0;
  SP_get_info_num(object, &refuse, owner->Info(), nullptr, nullptr, kInfoRefuseFrame);
  if (refuse != 0) return 6;
  owner->SetFrame(this);
  if (!owner->UsePrinter()) {
    m_started = true;  // prepared; nothing goes to the device
    return 0;
  }
  int32_t r = SP_start_print_ex(object, print, nullptr);
  if (r == SP_ERR_NO_ENTRY) r = SP_start_print(object, print, nullptr);
  if (r == 0) {
    const SP_PASS pass{SP_PASS_SIZE, 0, 0};
    r = SP_start_pass(object, &pass);
  }
  m_started = r == 0;
  return r;
}

const uint8_t* CPrintFrameImg::Reorder(const uint8_t* line) {
  if (!m_reorder) return line;
  const size_t p = m_plane_bytes;
  std::memcpy(m_reorder, line + 3 * p, p);
  std::memcpy(m_reorder + p, line, 3 * p);
  if (m_line_bytes > 4 * p) std::memcpy(m_reorder + 4 * p, line + 4 * p, m_line_bytes - 4 * p);
  return m_reorder;
}

int32_t CPrintFrameImg::WriteLineImpl(const uint8_t* line) {
  if (!m_owner || !m_owner->UsePrinter()) return 0;
  SP_OBJECT* object = m_owner->Object();
  // A frame of several passes: each pass takes an equal band of lines.
  if (m_passes > 1 && m_pass + 1 < m_passes &&
      m_lines == static_cast<int32_t>(int64_t(m_height) * (m_pass + 1) / m_passes)) {
    if (const int32_t r = SP_end_pass(object)) return r;
    ++m_pass;
    const SP_PASS pass{SP_PASS_SIZE, static_cast<uint32_t>(m_pass), uint32_t(m_pass & 1)};
    if (const int32_t r = SP_start_pass(object, &pass)) return r;
  }
  return SP_print_scanline_data(object, Reorder(line), 1);
}

int32_t CPrintFrameImg::WriteLine(unsigned char* buffer, int32_t count) {
  if (!buffer || count <= 0) return 0;
  int32_t done = 0;
  for (; done < count && m_started && m_lines < m_height; ++done) {
    if (const int32_t r = WriteLineImpl(buffer + static_cast<size_t>(done) * m_line_bytes)) {
      KLV_LOG(KLV_LOG_ERROR, "Frame stopped at line %d of %d (status %d)", m_lines, m_height, r);
      if (m_owner) {
        m_owner->SetStatus(r);
        m_owner->FrameFailed();
      }
      Disconnect();
      break;
    }
    m_line = ++m_lines;
  }
  return done;
}

int32_t CPrintFrameImg::SeekLineImpl(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  // Lines go out in order: only the current position can be asked for.
  if (plane > 0 || page > 0) return -1;
  const int32_t target = whence == 1 ? m_lines + line : (whence == 2 ? m_height - line : line);
  return target == m_lines ? m_lines : -1;
}

int32_t CPrintFrameImg::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  return SeekLineImpl(line, plane, page, whence);
}

void CPrintFrameImg::DisconnectImpl() {}

void CPrintFrameImg::Disconnect() {
  m_started = false;
  DisconnectImpl();
  if (m_owner) m_owner->ClearFrame(this);
  m_owner = nullptr;
}

int32_t CPrintFrameImg::FinishPrint() {
  if (!m_started || m_lines < m_height || !m_owner || !m_owner->UsePrinter()) return 0;
  SP_OBJECT* object = m_owner->Object();
  if (m_owner->SwatchFlag()) {
    int32_t one = 1;
    SP_command(object, SP_CMD_FRAME_END, m_owner->Swatch(), &one);
  }
  int32_t r = SP_end_pass(object);
  const int32_t end = SP_end_print(object);
  return r ? r : end;
}

int32_t CPrintFrameImg::Close() {
  if (m_finished) return 0;
  m_finished = true;
  const int32_t r = FinishPrint();
  // A direct frame closed before its last line leaves the page unfinished:
  // ending the job then cancels it.
  if (m_started && m_lines < m_height && m_owner && m_owner->UsePrinter()) m_owner->FrameFailed();
  m_started = false;
  if (m_owner) {
    if (r) m_owner->SetStatus(r);
    m_owner->ClearFrame(this);
  }
  return r ? -1 : 0;
}

// ---- buffered frames ----------------------------------------------------------

CBufferedFrameImg::~CBufferedFrameImg() {
  CBufferedFrameImg::Close();
}

int32_t CBufferedFrameImg::Start(CPrintObj* owner, const SP_PRINT* print,
                                 const SP_COLOR_SETUP* setup, int32_t) {
  if (const int32_t r = StartCommon(owner, print, setup)) return r;
  image_info info = m_info;
  m_out = img_mux_open(m_file.c_str(), nullptr, "w", &info, KLV_TYPE_OUTIMG);
  if (!m_out) {
    KLV_LOG(KLV_LOG_ERROR, "Buffer file \"%s\" cannot be created", m_file.c_str());
    return 2;
  }
  owner->SetFrame(this);
  m_started = true;
  return 0;
}

int32_t CBufferedFrameImg::WriteLineImpl(const uint8_t* line) {
  if (img_write_line(m_out, const_cast<uint8_t*>(line), 1) == 1) return 0;
  m_failed = true;
  return 100;
}

void CBufferedFrameImg::DisconnectImpl() {
  if (m_out && img_close_status(m_out) != 0) m_failed = true;
  m_out = nullptr;
}

int32_t CBufferedFrameImg::Close() {
  if (m_finished) return m_failed ? -1 : 0;
  m_finished = true;
  DisconnectImpl();
  m_started = false;
  if (m_owner) m_owner->ClearFrame(this);
  return m_failed ? -1 : 0;
}

// ---- job frames ---------------------------------------------------------------

CJobFrameImg::~CJobFrameImg() {
  CJobFrameImg::Close();
}

int32_t CJobFrameImg::StartJob(SOVolume* volume, CPrintObj* owner, const SP_PRINT* print,
                               const SP_COLOR_SETUP* setup, const char* name) {
  m_volume = volume;
  m_name = name ? name : "";
  return Start(owner, print, setup, 1);
}

int32_t CJobFrameImg::Start(CPrintObj* owner, const SP_PRINT* print, const SP_COLOR_SETUP* setup,
                            int32_t) {
  if (const int32_t r = StartCommon(owner, print, setup)) return r;
  if (!m_volume || m_name.empty()) return 2;
  image_info info = m_info;
  m_out = outimg_open_img(m_name.c_str(), m_volume, "w", &info);
  if (!m_out) {
    KLV_LOG(KLV_LOG_ERROR, "Job frame \"%s\" cannot be created", m_name.c_str());
    return 2;
  }
  owner->SetFrame(this);
  m_started = true;
  return 0;
}

int32_t CJobFrameImg::WriteLineImpl(const uint8_t* line) {
  if (img_write_line(m_out, const_cast<uint8_t*>(line), 1) == 1) return 0;
  m_failed = true;
  return 100;
}

void CJobFrameImg::DisconnectImpl() {
  if (m_out && img_close_status(m_out) != 0) m_failed = true;
  m_out = nullptr;
}

int32_t CJobFrameImg::Close() {
  if (m_finished) return m_failed ? -1 : 0;
  m_finished = true;
  DisconnectImpl();
  if (m_volume) VFlush(m_volume);
  m_started = false;
  if (m_owner) m_owner->ClearFrame(this);
  return m_failed ? -1 : 0;
}
