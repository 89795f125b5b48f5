// SPDX-License-Identifier: MIT
// CHTFilter: attaching the engines to an output image, handing them lines and
// detaching. The writing of finished dot lines is in htfilter_flush.cpp.
#include <algorithm>
#include <cstring>
#include <new>

#include "klv/htplace.h"
#include "klv/log.h"
#include "klv/threadfilter.h"
#include "klv/htplace_cxx.h"
#include "htfilter_ring.h"

namespace {
constexpr long kDefaultBufferBytes = 262144;
constexpr long kMaxBufferBytes = 1L << 30;
// The ring's chunks of input lines: as many as fit this budget, 3 to 8. A
// small ring keeps the lines in cache between the copy and the engines; three
// chunks let the lanes screen one while another is written and the caller
// fills the third.
constexpr uint64_t kRingInputBytes = 8ULL << 20;
constexpr size_t kMinChunks = 3, kMaxChunks = 8;
}  // namespace

CHTFilter::CHTFilter() = default;

CHTFilter::~CHTFilter() {
  DetachImg();
}

bool CHTFilter::Fail() {
  // Engines go first: threaded ones may still hold the buffer.
  ring_.reset();
  rips_.clear();
  if (out_) img_close(out_);
  out_ = nullptr;
  if (placement_) placement_->Detach();
  placement_ = nullptr;
  buffer_.clear();
  spare_.clear();
  spare_lines_ = 0;
  staging_.clear();
  attached_ = false;
  return false;
}

bool CHTFilter::AttachImg(IMG_file* output, const image_info* input, CHTPlacement* placement,
                          int32_t buffer_lines, int32_t staging_lines) {
  DetachImg();
  out_ = output;
  placement_ = placement;
  failed_ = false;
  if (!output || !placement) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: no %s", output ? "placement" : "output image");
    return Fail();
  }
  // Each stage logs its own fault; the first that fails undoes the attach.
  if (!TakeDescriptions(input) || !CheckGeometry() || !SizeBuffer(buffer_lines) ||
      !AllocateBuffers(staging_lines) || !StartWriter() || !CreateEngines())
    return Fail();
  StartProcessing();
  return true;
}

// Copies the output's and the input's descriptions and checks that the
// output is an untiled bilevel or gray image open for writing.
bool CHTFilter::TakeDescriptions(const image_info* input) {
  out_info_ = out_->info;
  if (out_info_.photometric > 1 || out_->mode != 'w' || (out_info_.planar & KLV_PLANAR_TILED) ||
      !input || (input->planar & KLV_PLANAR_TILED)) {
    KLV_LOG(KLV_LOG_ERROR,
            "halftone filter: the output must be an untiled image open for writing with "
            "photometric 0 or 1, and the input an untiled description");
    return false;
  }
  in_info_ = *input;
  in_info_.cmap = nullptr;
  in_info_.profile_word = nullptr;
  in_info_.bytes_per_line = image_info_line_bytes(&in_info_);
  out_info_.cmap = nullptr;
  out_info_.profile_word = nullptr;
  return true;
}

// Lets the placement see the descriptions, then checks that the output is
// the input scaled by the placement's duplication, with a dot depth and a
// layout the filter can write.
bool CHTFilter::CheckGeometry() {
  if (!placement_->PreInitProcess(&in_info_, &out_info_)) return false;
  const int dx = placement_->GetDupFactorX(), dy = placement_->GetDupFactorY();
  if (in_info_.mask_samples != out_info_.mask_samples || out_info_.mask_samples > 2 ||
      int64_t(out_info_.width) != int64_t(dx) * in_info_.width ||
      int64_t(out_info_.height) != int64_t(dy) * in_info_.height || in_info_.width <= 0 ||
      in_info_.height <= 0) {
    KLV_LOG(KLV_LOG_ERROR,
            "halftone filter: output %dx%d with %u mask samples does not match input %dx%d "
            "with %u mask samples (duplication %dx%d)",
            out_info_.width, out_info_.height, out_info_.mask_samples, in_info_.width,
            in_info_.height, in_info_.mask_samples, dx, dy);
    return false;
  }
  if (out_info_.bits_per_sample != 1 && out_info_.bits_per_sample != 2 &&
      out_info_.bits_per_sample != 4 && out_info_.bits_per_sample != 8) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: %u output bits per sample", out_info_.bits_per_sample);
    return false;
  }
  seps_ = int(out_info_.samples + out_info_.mask_samples);
  in_planar_ = in_info_.planar == KLV_PLANAR_PLANES;
  out_planar_ = out_info_.planar == KLV_PLANAR_PLANES;
  if (seps_ < 1) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: the output has no samples");
    return false;
  }
  // Planes arrive one after another: an interleaved output of several
  // separations would need the whole page at once.
  if (in_planar_ && !out_planar_ && seps_ > 1) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: planar input needs planar output for %d separations",
            seps_);
    return false;
  }
  return true;
}

// The buffer's line size and number of lines: the lines asked for, or a byte
// budget's worth, within the largest buffer the filter makes.
bool CHTFilter::SizeBuffer(int32_t buffer_lines) {
  sep_bytes_ = (uint64_t(out_info_.bits_per_sample) * uint32_t(out_info_.width) + 7) / 8;
  // Separations share one buffer line only when they are screened one after
  // another (planar input); otherwise each has its own part of the line.
  line_bytes_ = in_planar_ ? sep_bytes_ : sep_bytes_ * unsigned(seps_);
  if (buffer_lines >= 1) {
    buf_lines_ = unsigned(buffer_lines);
  } else {
    long budget = buffer_lines == 0 ? kDefaultBufferBytes : -long(buffer_lines);
    buf_lines_ = std::max(1UL, static_cast<unsigned long>(budget) / line_bytes_);
  }
  extra_lines_ = unsigned(std::max(0, int(placement_->NumExtraLines())));
  uint64_t total = uint64_t(buf_lines_ + extra_lines_) * line_bytes_;
  if (total > uint64_t(kMaxBufferBytes)) {
    buf_lines_ = std::max<unsigned long>(1, kMaxBufferBytes / line_bytes_ - extra_lines_);
    total = uint64_t(buf_lines_ + extra_lines_) * line_bytes_;
    if (total > uint64_t(kMaxBufferBytes)) {
      KLV_LOG(KLV_LOG_ERROR, "halftone filter: a dot line of %lu bytes is too long", line_bytes_);
      return false;
    }
  }
  return true;
}

// The shared dot buffer and, when asked for, the staging buffer of input
// lines.
bool CHTFilter::AllocateBuffers(int32_t staging_lines) {
  const uint64_t total = uint64_t(buf_lines_ + extra_lines_) * line_bytes_;
  try {
    buffer_.assign(total, 0);
    staging_lines_ = 0;
    if (staging_lines > 0) {
      staging_lines_ = unsigned(staging_lines);
      uint64_t bytes = uint64_t(staging_lines_) * in_info_.bytes_per_line;
      if (bytes > uint64_t(kMaxBufferBytes))
        staging_lines_ = kMaxBufferBytes / in_info_.bytes_per_line;
      staging_.assign(size_t(staging_lines_) * in_info_.bytes_per_line, 0);
    }
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: no memory for %lu buffer lines of %lu bytes",
            buf_lines_, line_bytes_);
    return false;
  }
  return true;
}

// With interleaved input and output, the output is written by a background
// stage holding twice the buffer.
bool CHTFilter::StartWriter() {
  const uint64_t total = buffer_.size();
  if (in_planar_ || out_planar_ || 2 * total > 0xFFFFFFFFULL) return true;
  IMG_file* staged = threadfilter_attach(out_, uint32_t(2 * total));
  out_ = staged;  // the stage owns the output, or has closed it
  if (!staged) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: the background writer cannot start");
    return false;
  }
  return true;
}

// One engine per separation, each writing its part of the buffer lines.
bool CHTFilter::CreateEngines() {
  const uint32_t in_samples = in_info_.samples;
  const uint32_t process_in = in_info_.samples - in_info_.spot_samples;
  const uint32_t process_out = out_info_.samples - out_info_.spot_samples;
  const uint32_t bps = in_info_.bits_per_sample;
  in_sample_offset_ = in_info_.planar == KLV_PLANAR_LINES
                          ? (uint64_t(uint32_t(in_info_.width)) * bps + 7) / 8
                      : in_planar_ ? 0
                                   : bps / 8;
  try {
    rips_.clear();
    rips_.resize(size_t(seps_));
    in_index_.assign(size_t(seps_), 0);
    written_.assign(size_t(seps_), 0);
    received_.assign(size_t(seps_), 0);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "halftone filter: no memory for %d separations", seps_);
    return false;
  }
  for (int s = 0; s < seps_; ++s) {
    // Mask separations read the input's mask samples, which follow all of
    // the input's colour samples.
    const bool extra_ch = uint32_t(s) >= out_info_.samples;
    in_index_[size_t(s)] = extra_ch ? int(in_samples + (uint32_t(s) - out_info_.samples)) : s;
    int color = s;
    if (process_in == 1 && s == 0) color = process_out < 4 ? 0 : 3;
    uint8_t* base = buffer_.data() + (in_planar_ ? 0 : size_t(s) * sep_bytes_);
    CHTRip* rip =
        placement_->CreateRip(s, color, extra_ch, 0, nullptr, base, line_bytes_, buf_lines_);
    if (!rip) {
      KLV_LOG(KLV_LOG_ERROR, "halftone filter: no engine for separation %d", s);
      return false;
    }
    rips_[size_t(s)].reset(rip);
  }
  return true;
}

// Marks the filter attached and lets the placement begin.
void CHTFilter::StartProcessing() {
  m_info = in_info_;
  m_line = 0;
  m_plane = 0;
  cur_sep_ = 0;
  attached_ = true;
  does_process_ = placement_->DoesProcess();
  spare_lines_ = 0;
  spare_.clear();
  // Threaded engines screen chunks from a ring on lanes of their own. Should
  // the ring not start, they screen the next lines into a second buffer
  // while this thread writes out the full one.
  bool threaded = false;
  for (auto& r : rips_) threaded = threaded || r->IsThreaded();
  if (threaded && !in_planar_ && !does_process_ && extra_lines_ == 0 && !StartRing()) {
    try {
      spare_.assign(buffer_.size(), 0);
    } catch (const std::bad_alloc&) {
      spare_.clear();  // the engines then wait for each write, as without threads
    }
  }
  placement_->BeginProcess();
}

// The ring over the engines: a chunk is one buffer's worth of lines, each
// engine reads its samples of the chunk's input lines and writes its part of
// the chunk's dot lines; finished chunks go out through WriteBuffer.
bool CHTFilter::StartRing() {
  using klv::halftone::ChunkRing;
  ChunkRing::Setup setup;
  try {
    for (int s = 0; s < seps_; ++s) {
      CHTRip* rip = rips_[size_t(s)].get();
      setup.engines.push_back({rip, unsigned(in_index_[size_t(s)]) * in_sample_offset_,
                               size_t(s) * sep_bytes_, rip->IsThreaded()});
    }
    ring_ = std::make_unique<ChunkRing>();
  } catch (const std::bad_alloc&) {
    return false;
  }
  setup.in_line_bytes = in_info_.bytes_per_line;
  setup.dot_line_bytes = line_bytes_;
  setup.chunk_lines = buf_lines_;
  const uint64_t chunk_bytes = uint64_t(buf_lines_) * in_info_.bytes_per_line;
  setup.chunks = size_t(std::clamp<uint64_t>(kRingInputBytes / std::max<uint64_t>(1, chunk_bytes),
                                             kMinChunks, kMaxChunks));
  setup.write = [this](const uint8_t* dots, unsigned long lines) {
    return WriteBuffer(dots, lines);
  };
  if (!ring_->Start(std::move(setup))) {
    ring_.reset();
    return false;
  }
  return true;
}

bool CHTFilter::CheckAllProcAvail() {
  if (ring_) return ring_->Drain();
  bool ok = true;
  for (auto& r : rips_)
    if (r && r->CheckProcAvail() == HTRIP_QUIT) ok = false;
  return ok;
}

unsigned long CHTFilter::Hand(CHTRip* rip, uint8_t* lines, unsigned long n) {
  if (does_process_) return placement_->StartProcessLine(lines, n);
  return rip->StartProcessLine(lines, n);
}

int32_t CHTFilter::WritePlanar(uint8_t* lines, int32_t count) {
  const unsigned long in_bpl = in_info_.bytes_per_line;
  const int32_t height = in_info_.height;
  int32_t taken = 0;
  while (taken < count && cur_sep_ < seps_) {
    CHTRip* rip = rips_[size_t(cur_sep_)].get();
    if (received_[size_t(cur_sep_)] >= height) {
      if (rip->IsBufNotEmpty() && !FlushData()) break;
      ++cur_sep_;
      continue;
    }
    if (rip->CheckProcAvail() == HTRIP_QUIT) break;
    if (rip->IsBufFull() && !FlushData()) break;
    unsigned long n = unsigned(std::min(count - taken, height - received_[size_t(cur_sep_)]));
    uint8_t* src = lines + size_t(taken) * in_bpl;
    if (staging_lines_) {
      n = std::min({n, staging_lines_, rip->GetLinesLeft()});
      std::memcpy(staging_.data(), src, n * in_bpl);
      src = staging_.data();
    }
    unsigned long got = Hand(rip, src, n);
    if (rip->CheckProcAvail() == HTRIP_QUIT || got == 0) break;
    taken += int32_t(got);
    received_[size_t(cur_sep_)] += int32_t(got);
  }
  // A finished plane is written at once so that the next one starts clean.
  if (cur_sep_ < seps_ && received_[size_t(cur_sep_)] >= height) {
    if (rips_[size_t(cur_sep_)]->IsBufNotEmpty()) FlushData();
    ++cur_sep_;
  }
  return taken;
}

int32_t CHTFilter::WriteInterleaved(uint8_t* lines, int32_t count) {
  const unsigned long in_bpl = in_info_.bytes_per_line;
  const int32_t left = in_info_.height - m_line;
  if (count > left) count = left;
  int32_t taken = 0;
  while (taken < count) {
    if (!CheckAllProcAvail()) break;
    bool full = false;
    for (auto& r : rips_) full = full || r->IsBufFull();
    if (full && !SwapBuffers() && !FlushData()) break;
    unsigned long n = unsigned(count - taken);
    uint8_t* src = lines + size_t(taken) * in_bpl;
    if (staging_lines_) {
      n = std::min({n, staging_lines_, rips_[0]->GetLinesLeft()});
      std::memcpy(staging_.data(), src, n * in_bpl);
      src = staging_.data();
    }
    unsigned long got = 0;
    if (does_process_) {
      got = placement_->StartProcessLine(src, n);
    } else {
      got = n;
      for (int s = 0; s < seps_; ++s) {
        unsigned long g = rips_[size_t(s)]->StartProcessLine(
            src + size_t(in_index_[size_t(s)]) * in_sample_offset_, n);
        got = std::min(got, g);
      }
    }
    // The full buffer is written while the threaded engines screen.
    if (spare_lines_) {
      const bool ok = WriteBuffer(spare_.data(), spare_lines_);
      spare_lines_ = 0;
      if (!ok) {
        if (!failed_) KLV_LOG(KLV_LOG_ERROR, "halftone filter: the output image refused dot lines");
        failed_ = true;
        got = 0;
      }
    }
    if (got == 0) break;
    taken += int32_t(got);
  }
  CheckAllProcAvail();
  m_line += taken;
  return taken;
}

int32_t CHTFilter::WriteLine(unsigned char* buffer, int32_t count) {
  if (!attached_ || failed_ || !buffer || count <= 0) return 0;
  if (ring_) {
    // The lines are copied into the ring: the caller may reuse its buffer
    // at once, and the engines screen them while it reads the next ones.
    if (ring_->Failed()) {
      failed_ = true;
      return 0;
    }
    const int32_t taken = ring_->Write(buffer, std::min(count, in_info_.height - m_line));
    m_line += taken;
    return taken;
  }
  int32_t taken = in_planar_ ? WritePlanar(buffer, count) : WriteInterleaved(buffer, count);
  CheckAllProcAvail();
  return taken;
}

int32_t CHTFilter::SeekLine(int32_t line, int32_t plane, int32_t page, int32_t whence) {
  if (!attached_ || page != 0) return -1;
  const int32_t planes = in_planar_ ? seps_ : 1;
  const int64_t height = in_info_.height;
  if (line < 0 && whence == 0) {
    if (plane < 0 || plane >= planes) return -1;
    if (in_planar_) {
      // Leaving a plane early writes what it holds.
      if (plane != cur_sep_ && cur_sep_ < seps_ && rips_[size_t(cur_sep_)]->IsBufNotEmpty())
        FlushData();
      cur_sep_ = plane;
      return received_[size_t(plane)];
    }
    return m_line;
  }
  if (plane < 0 || plane >= planes) return -1;
  int64_t pos = int64_t(line) + height * plane;
  const int cur_plane = in_planar_ ? cur_sep_ : 0;
  const int64_t cur_line =
      in_planar_ ? (cur_sep_ < seps_ ? received_[size_t(cur_sep_)] : 0) : int64_t(m_line);
  if (whence == 1)
    pos += height * cur_plane + cur_line;
  else if (whence == 2)
    pos += int64_t(planes) * height - 1;
  if (pos < 0 || pos >= int64_t(planes) * height) return -1;
  const int p = int(pos / height);
  const int64_t l = pos % height;
  const int64_t next = in_planar_ ? received_[size_t(p)] : m_line;
  if (l != next) return -1;
  if (in_planar_ && p != cur_sep_) {
    if (cur_sep_ < seps_ && rips_[size_t(cur_sep_)]->IsBufNotEmpty()) FlushData();
    cur_sep_ = p;
  }
  return int32_t(l);
}

int32_t CHTFilter::GetStatus(int32_t /*what*/) {
  if (!attached_) return -1;
  if (!CheckAllProcAvail() && ring_) failed_ = true;
  return failed_ ? -1 : 1;
}

int32_t CHTFilter::Close() {
  DetachImg();
  return failed_ ? -1 : 0;
}

void CHTFilter::DetachImg() {
  if (!attached_) {
    if (out_) img_close(out_);
    out_ = nullptr;
    return;
  }
  if (ring_) {
    // Every chunk is screened and written, the lanes end, and the engines
    // are this thread's again.
    if (!ring_->Stop()) failed_ = true;
    ring_.reset();
    for (int s = 0; s < seps_; ++s)
      rips_[size_t(s)]->SetOutBuf(buffer_.data() + size_t(s) * sep_bytes_, line_bytes_, buf_lines_);
  }
  CheckAllProcAvail();
  for (auto& r : rips_) r->EndProcess();
  placement_->EndProcess();
  CheckAllProcAvail();
  if (in_planar_) {
    if (cur_sep_ < seps_ && rips_[size_t(cur_sep_)]->IsBufNotEmpty()) FlushData();
  } else {
    FlushData();
  }
  rips_.clear();
  placement_->Detach();
  placement_ = nullptr;
  if (out_ && img_close_status(out_) != 0) failed_ = true;
  out_ = nullptr;
  buffer_.clear();
  buffer_.shrink_to_fit();
  spare_.clear();
  spare_.shrink_to_fit();
  spare_lines_ = 0;
  staging_.clear();
  pack_.clear();
  attached_ = false;
}
