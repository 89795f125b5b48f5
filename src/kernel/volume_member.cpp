// SPDX-License-Identifier: MIT
// Member streams of a volume (see volume_member.h) and opening them.
#include "kernel/volume_member.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kernel/volume_internal.h"
#include "klv/log.h"

namespace klv::kernel {

using Lock = std::lock_guard<std::recursive_mutex>;

MemberStream::MemberStream(SOVolume* volume, int64_t member, int64_t size, const OpenMode& mode)
    : volume_(volume),
      member_(member),
      size_(size),
      can_read_(mode.read),
      can_write_(mode.write),
      append_(mode.append),
      chunk_size_(volume->chunk_size()) {}

MemberStream::~MemberStream() {
  if (volume_) {
    Lock lock(volume_->mutex());
    volume_->detach(this);
    volume_->release(member_, can_write_);
  }
}

bool MemberStream::fill_buffer(int64_t index) {
  if (buffer_index_ == index) return true;
  if (!store_buffer()) return false;
  if (buffer_.empty()) buffer_.resize(static_cast<size_t>(chunk_size_));
  buffer_index_ = -1;
  if (index * chunk_size_ < size_) {
    if (!volume_->load_chunk(member_, index, buffer_.data())) {
      failed_ = true;
      return false;
    }
  } else {
    std::memset(buffer_.data(), 0, buffer_.size());
  }
  buffer_index_ = index;
  return true;
}

bool MemberStream::store_buffer() {
  if (!buffer_dirty_) return true;
  int64_t start = buffer_index_ * chunk_size_;
  int64_t len = std::min(chunk_size_, size_ - start);
  if (!volume_->store_chunk(member_, buffer_index_, buffer_.data(), len)) {
    failed_ = true;
    return false;
  }
  buffer_dirty_ = false;
  return true;
}

bool MemberStream::fill_gap() {
  // Chunks wholly inside the gap are stored empty (they read as zeros), so
  // that every chunk below the size exists and a missing one means damage.
  for (int64_t index = (size_ + chunk_size_ - 1) / chunk_size_; index < pos_ / chunk_size_;
       ++index) {
    if (!volume_->store_chunk(member_, index, nullptr, 0)) {
      failed_ = true;
      return false;
    }
  }
  return true;
}

size_t MemberStream::read(void* buffer, size_t count) {
  if (!volume_ || !can_read_ || failed_) return 0;
  Lock lock(volume_->mutex());
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count && pos_ < size_) {
    int64_t index = pos_ / chunk_size_;
    int64_t offset = pos_ % chunk_size_;
    int64_t n =
        std::min<int64_t>({chunk_size_ - offset, size_ - pos_, static_cast<int64_t>(count - done)});
    if (index != buffer_index_ && offset == 0 && n == chunk_size_) {
      // A whole chunk goes straight into the caller's buffer.
      if (!volume_->load_chunk(member_, index, out + done)) {
        failed_ = true;
        break;
      }
    } else {
      if (!fill_buffer(index)) break;
      std::memcpy(out + done, buffer_.data() + offset, static_cast<size_t>(n));
    }
    done += static_cast<size_t>(n);
    pos_ += n;
  }
  return done;
}

size_t MemberStream::write(const void* buffer, size_t count) {
  if (!volume_ || !can_write_ || failed_) return 0;
  Lock lock(volume_->mutex());
  if (append_) pos_ = size_;
  if (pos_ > size_ && !fill_gap()) return 0;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    int64_t index = pos_ / chunk_size_;
    int64_t offset = pos_ % chunk_size_;
    int64_t n = std::min<int64_t>(chunk_size_ - offset, static_cast<int64_t>(count - done));
    if (pos_ + n > kMaxMemberSize) break;
    if (offset == 0 && n == chunk_size_) {
      // A whole chunk is stored from the caller's buffer; a buffered copy of
      // that chunk is now stale.
      if (buffer_index_ == index) {
        buffer_index_ = -1;
        buffer_dirty_ = false;
      }
      if (!volume_->store_chunk(member_, index, in + done, chunk_size_)) {
        failed_ = true;
        break;
      }
    } else {
      if (!fill_buffer(index)) break;
      std::memcpy(buffer_.data() + offset, in + done, static_cast<size_t>(n));
      buffer_dirty_ = true;
    }
    done += static_cast<size_t>(n);
    pos_ += n;
    if (pos_ > size_) size_ = pos_;
    size_changed_ = true;
  }
  return done;
}

bool MemberStream::seek(int64_t offset, int origin) {
  if (!volume_ || failed_) return false;
  int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? pos_ : size_;
  if ((offset > 0 && base > kMaxMemberSize - offset) || base + offset < 0) return false;
  pos_ = base + offset;
  return true;
}

int MemberStream::getc() {
  if (volume_ && can_read_ && !failed_ && pos_ < size_ && buffer_index_ == pos_ / chunk_size_)
    return buffer_[static_cast<size_t>(pos_++ % chunk_size_)];
  unsigned char c;
  return read(&c, 1) == 1 ? c : -1;
}

bool MemberStream::flush_locked() {
  if (failed_) return false;
  if (!store_buffer()) return false;
  if (size_changed_) {
    if (!volume_->set_size(member_, size_)) {
      failed_ = true;
      return false;
    }
    size_changed_ = false;
  }
  return true;
}

bool MemberStream::flush() {
  if (!volume_) return false;
  if (!can_write_) return !failed_;
  Lock lock(volume_->mutex());
  return flush_locked();
}

bool MemberStream::finish() {
  if (!volume_) return false;
  bool ok = flush();
  Lock lock(volume_->mutex());
  volume_->detach(this);
  volume_->release(member_, can_write_);
  volume_ = nullptr;
  return ok;
}

bool MemberStream::orphan() {
  if (!volume_) return true;
  bool ok = can_write_ ? flush_locked() : true;
  volume_->release(member_, can_write_);
  volume_ = nullptr;  // the caller clears its list of streams
  return ok;
}

SFilemux* open_volume_member(SOVolume* volume, const char* path, const OpenMode& mode) {
  std::string name = member_name(path);
  Lock lock(volume->mutex());
  if (name.empty()) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": empty member name \"%s\"",
            volume->display_name().c_str(), path);
    return nullptr;
  }
  if (mode.write && !volume->writable()) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": cannot write member \"%s\": open for reading only",
            volume->display_name().c_str(), name.c_str());
    return nullptr;
  }
  MemberInfo info;
  if (!volume->find(name, &info)) {
    // A missing member opened for reading is an ordinary answer.
    if (!mode.create) return nullptr;
    info.id = volume->create_member(name);
    if (!info.id) return nullptr;
  } else if (info.is_dir) {
    KLV_LOG(KLV_LOG_ERROR, "volume \"%s\": member \"%s\" is a folder",
            volume->display_name().c_str(), name.c_str());
    return nullptr;
  }
  if (!volume->claim(info.id, mode.write, name)) return nullptr;
  if (mode.truncate && info.size > 0) {
    if (!volume->truncate_member(info.id, info.size)) {
      volume->release(info.id, mode.write);
      return nullptr;
    }
    info.size = 0;
  }
  auto* stream = new (std::nothrow) MemberStream(volume, info.id, info.size, mode);
  if (!stream) {
    volume->release(info.id, mode.write);
    return nullptr;
  }
  volume->attach(stream);
  return stream;
}

}  // namespace klv::kernel
