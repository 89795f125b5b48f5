// SPDX-License-Identifier: MIT
// CPrintObj: one printer object of a printer driver and the jobs run on it
// (construction, StartJob with its job record, EndJob, the queries). Frames
// are in print_frame.cpp, their set-up in print_setup.cpp.
#include <cstdio>
#include <cstring>

#include "klv/kernel_volume.h"
#include "klv/log.h"
#include "klv/printobj_cxx.h"

IPrintAbort::~IPrintAbort() = default;
IPrintStatusCallback::~IPrintStatusCallback() = default;
IPrintSwatch::~IPrintSwatch() = default;

namespace {

enum { kInfoSwatch = 35 };

// The job record's abort callback: asks the job's abort object.
uint8_t ask_abort(void* object) {
  auto* abort = static_cast<IPrintAbort*>(object);
  return abort && abort->ShouldAbort() ? 1 : 0;
}

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  std::snprintf(field, N, "%s", text.c_str());
}

}  // namespace

CPrintObj::CPrintObj(const char* printer, bool use_printer) : m_use_printer(use_printer) {
  int32_t error = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_object = printer ? SP_open_printer(printer, &error) : nullptr;
  }
  if (!m_object) {
    KLV_LOG(KLV_LOG_ERROR, "Printer \"%s\" cannot be opened (status %d)", printer ? printer : "",
            error);
    m_status = 4;
    return;
  }
  m_own_object = true;
  m_name = printer;
  SP_set_msg_callback(m_object, OnDriverMessage, this);
  m_info = SP_find_info(m_object, printer);
  m_own_info = m_info != nullptr;
  if (!m_info) m_status = 4;
}

CPrintObj::CPrintObj(SP_OBJECT* object, const char* printer, SP_INFO* info, bool use_printer)
    : m_use_printer(use_printer), m_object(object), m_info(info) {
  if (printer && *printer) m_name = printer;
  if (m_object && !m_info && printer) {
    m_info = SP_find_info(m_object, printer);
    m_own_info = m_info != nullptr;
  }
  if (!m_object || !m_info) m_status = 4;
}

CPrintObj::~CPrintObj() {
  // A frame still open outlives its print object: it sends nothing more.
  if (m_frame) m_frame->Disconnect();
  if (m_job_volume) VClose(m_job_volume);
  if (m_own_info && m_info) SP_free_info(m_object, m_info);
  if (m_own_object && m_object) SP_close(m_object);
  delete m_swatch;
}

void CPrintObj::OnDriverMessage(void* context, int32_t level, const char* text) {
  auto* self = static_cast<CPrintObj*>(context);
  KLV_LOG(level, "%s: %s", self->m_name.c_str(), text ? text : "");
}

bool CPrintObj::SetUsePrinter(bool use) {
  const bool old = m_use_printer;
  m_use_printer = use;
  return old;
}

void CPrintObj::SetSwatch(IPrintSwatch* swatch) {
  if (swatch != m_swatch) delete m_swatch;
  m_swatch = swatch;
}

const char* CPrintObj::GetDeviceName() const {
  return m_object ? GetPrinterHandleDeviceName(m_object->handle) : nullptr;
}

int32_t CPrintObj::StartJob(const CPrintJobInfo& job) {
  if (!m_object || !m_info) return m_status = 4;
  m_frame_failed = false;
  if (m_use_printer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const int32_t r = SP_init_from_info(m_object, m_info, job.settings_name.c_str()))
      return m_status = r;
  }
  SP_JOB record{};
  record.size = SP_JOB_SIZE;
  put_text(record.name, job.name);
  record.count = static_cast<uint32_t>(job.count);
  put_text(record.printer, m_name);
  record.value = static_cast<uint32_t>(job.value);
  record.flag = static_cast<uint8_t>(job.flag);
  if (job.abort) {
    record.abort_fn = ask_abort;
    record.abort_object = job.abort;
  }
  m_swatch_flag = false;
  if (m_swatch) {
    int32_t accepts = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    SP_get_info_num(m_object, &accepts, m_info, job.settings_name.c_str(), nullptr, kInfoSwatch);
    m_swatch_flag = accepts != 0;
    if (m_swatch_flag) record.swatch = m_swatch;
  }
  m_status = m_use_printer ? SP_start_job(m_object, &record) : 0;
  m_ink_use = job.ink_use;
  return m_status;
}

int32_t CPrintObj::EndJob() {
  if (!m_object) return m_status = 4;
  if (!m_use_printer) {
    if (m_frame) m_frame->Disconnect();
    m_frame = nullptr;
    if (m_job_volume) VClose(m_job_volume);
    m_job_volume = nullptr;
    return m_status = 0;
  }
  int32_t status;
  if (m_frame || m_frame_failed) {
    // Abandoned: a frame still open, or one the driver failed.
    if (m_frame) m_frame->Disconnect();
    m_frame = nullptr;
    status = SP_cancel_job(m_object);
  } else {
    if (m_swatch_flag && m_swatch) {
      m_swatch->Finish();
      SetSwatch(nullptr);
    }
    status = SP_end_job(m_object);
  }
  m_frame_failed = false;
  if (m_job_volume) VClose(m_job_volume);
  m_job_volume = nullptr;
  return m_status = status;
}

void CPrintObj::ClearFrame(CPrintFrameImg* frame) {
  if (m_frame == frame) m_frame = nullptr;
}

int32_t CPrintObj::EndFrame(IMG_file* output) {
  int32_t status = 0;
  if (output) {
    if (img_close_status(output) != 0) status = m_status ? m_status : -1;
  }
  m_frame = nullptr;
  return m_status = status;
}

void CPrintObj::Progress(double fraction) {
  if (!m_status_cb) return;
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", fraction);
  m_status_cb->PrintStatus(IPrintStatusCallback::kProgress, text);
}

int32_t CPrintObj::KeyInfo(uint32_t* out) {
  if (!out) return m_status = 2;
  *out = 0;
  if (!m_object) return m_status = 4;
  std::lock_guard<std::mutex> lock(m_mutex);
  const SP_CAPABILITIES* caps = SP_get_capabilities(m_object);
  if (!caps || caps->key == 0) return m_status = caps ? 20 : 3;
  *out = caps->key;
  return m_status = 0;
}

int32_t CPrintObj::GetDotCount(_SP_DOT_COUNT* counts, bool reset) {
  if (!m_object || !m_use_printer) return m_status = 4;
  if (!counts) return m_status = 2;
  std::memset(counts, 0, sizeof *counts);
  counts->size = sizeof *counts;
  int32_t status = SP_command(m_object, SP_CMD_DOTS_GET, counts, nullptr);
  if (status == 0 && reset) {
    int32_t five = SP_CMD_DOTS_GET;
    status = SP_command(m_object, SP_CMD_DOTS_RESET, &five, nullptr);
  }
  return m_status = status;
}

int32_t CPrintObj::GetMediaInfo(const char* media, SP_COLOR_INFO* info) {
  if (!m_object) return m_status = 4;
  if (!info) return m_status = 2;
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_status = SP_get_color_info(m_object, m_info, media, info);
}

int32_t CPrintObj::GetMLProcInfo(const char* media, const char* mode, MLPROCINFO* record) {
  if (!m_object) return m_status = 4;
  if (!record) return m_status = 2;
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_status = SP_get_mlproc_info(m_object, media, mode, record);
}

void CPrintObj::GetColorSetup(SP_COLOR_SETUP* setup, const SP_COLOR_INFO& info) {
  std::memset(setup, 0, sizeof *setup);
  setup->channels = static_cast<uint8_t>(info.channels);
  setup->spot_channels = static_cast<uint8_t>(info.spot_channels);
  setup->kind = static_cast<uint8_t>(info.kind);
}

int32_t CPrintObj::UpdatePrinterStatus(const char* text) {
  if (!m_object || !m_info) return m_status = 4;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (const int32_t r = SP_init_from_info(m_object, m_info, "")) return m_status = r;
  int32_t value = 0;
  return m_status = SP_get_info_num_ex(m_object, &value, m_info, text, nullptr, nullptr, 31);
}

int32_t CPrintObj::reloadInfo(const char* printer) {
  if (!m_object || !printer) return m_status = 4;
  if (m_info && m_own_info) SP_free_info(m_object, m_info);
  m_info = SP_find_info(m_object, printer);
  m_own_info = m_info != nullptr;
  return m_status = m_info ? 0 : 4;
}
