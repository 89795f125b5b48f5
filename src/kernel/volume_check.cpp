// SPDX-License-Identifier: MIT
// Verifying a whole volume (VCheck): SQLite's own integrity check of the
// file's structure, then every member row against its check, then every chunk
// below each member's size, read and compared with its checksum.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/volume.h"
#include "klv/log.h"

using klv::kernel::ChecksumMode;
using klv::kernel::ChunkStatus;

namespace {

// A member's chunk faults beyond this many are summed up in one line.
constexpr int kChunkFaultsShown = 8;
// Lines taken from SQLite's integrity check.
constexpr int kIntegrityLines = 100;

struct FileMember {
  int64_t id;
  std::string name;
  int64_t size;
};

}  // namespace

// The stages of a whole-volume check, in order; each reports what it finds
// and counts the faults.
class VolumeChecker {
 public:
  VolumeChecker(SOVolume& v, VCheckReport report, void* context)
      : v_(v), report_(report), context_(context) {}

  int run() {
    if (!v_.db_) {
      say("", "the volume is not open", true);
      return faults_;
    }
    check_structure();
    note_checksum_mode();
    for (const FileMember& m : list_files()) check_chunks(m);
    return faults_;
  }

 private:
  void say(const std::string& member, const std::string& text, bool fault) {
    if (fault) ++faults_;
    if (report_) report_(context_, member.c_str(), text.c_str(), fault ? 1 : 0);
  }
  std::string db_message() const { return v_.db_ ? sqlite3_errmsg(v_.db_) : "not open"; }

  // The file's structure: pages, records and indexes.
  void check_structure() {
    sqlite3_stmt* st = nullptr;
    const std::string integrity = "PRAGMA integrity_check(" + std::to_string(kIntegrityLines) + ")";
    if (sqlite3_prepare_v2(v_.db_, integrity.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      say("", "SQLite cannot check the file: " + db_message(), true);
    } else {
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(st, 0);
        std::string line = text ? reinterpret_cast<const char*>(text) : "";
        if (line != "ok") say("", "SQLite: " + line, true);
      }
      if (rc != SQLITE_DONE) say("", "SQLite cannot check the file: " + db_message(), true);
    }
    sqlite3_finalize(st);
  }

  void note_checksum_mode() {
    if (v_.checksums_ == ChecksumMode::kNone)
      say("", "made before chunk checksums: member contents cannot be verified", false);
    else if (v_.checksums_ == ChecksumMode::kPartial)
      say("", "made before chunk checksums: chunks written before then cannot be verified", false);
  }

  // Every member row checked; the files among them, to check their chunks.
  std::vector<FileMember> list_files() {
    std::vector<FileMember> files;
    const std::string rows =
        std::string("SELECT ") + v_.row_columns() + " FROM members ORDER BY name";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(v_.db_, rows.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      say("", "cannot list the members: " + db_message(), true);
      sqlite3_finalize(st);
      return files;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(st, 1);
      const std::string name = text ? reinterpret_cast<const char*>(text) : "";
      const int64_t size = sqlite3_column_int64(st, 3);
      const bool is_dir = sqlite3_column_int64(st, 2) != 0;
      if (const char* problem = v_.row_problem(st, nullptr)) {
        say(name, std::string("its row (name, size, time) ") + problem, true);
      } else if (size < 0 || size > klv::kernel::kMaxMemberSize) {
        say(name, "bad size " + std::to_string(size), true);
      } else if (!is_dir) {
        files.push_back({sqlite3_column_int64(st, 0), name, size});
      }
    }
    if (rc != SQLITE_DONE) say("", "cannot list the members: " + db_message(), true);
    sqlite3_finalize(st);
    return files;
  }

  // The chunk indexes stored below `chunks`, in order; false when they
  // cannot be listed.
  bool stored_chunks(const FileMember& m, int64_t chunks, std::vector<int64_t>* stored) {
    stored->clear();
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(
        v_.db_, "SELECT idx FROM chunks WHERE member=?1 AND idx>=0 AND idx<?2 ORDER BY idx", -1,
        &st, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_bind_int64(st, 1, m.id);
      sqlite3_bind_int64(st, 2, chunks);
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) stored->push_back(sqlite3_column_int64(st, 0));
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_DONE) return true;
    say(m.name, "cannot list its chunks: " + db_message(), true);
    return false;
  }

  // Every chunk below the member's size. The stored indexes are listed
  // first, so that the work follows what the file holds, not what a damaged
  // size claims; runs of missing indexes are reported as one fault each.
  void check_chunks(const FileMember& m) {
    const int64_t chunks = (m.size + v_.chunk_size_ - 1) / v_.chunk_size_;
    if (!stored_chunks(m, chunks, &stored_)) return;
    buffer_.resize(static_cast<size_t>(v_.chunk_size_));
    int64_t unchecked = 0, bad = 0, next = 0;
    auto fault = [&](const std::string& text) {
      if (++bad <= kChunkFaultsShown) say(m.name, text, true);
    };
    auto gap = [&](int64_t end) {
      if (next < end && v_.checksums_ == ChecksumMode::kAll)
        fault(next + 1 == end ? "chunk " + std::to_string(next) + " is missing"
                              : "chunks " + std::to_string(next) + " to " +
                                    std::to_string(end - 1) + " are missing");
    };
    for (int64_t index : stored_) {
      gap(index);
      next = index + 1;
      const ChunkStatus status = v_.read_chunk(m.id, index, buffer_.data());
      if (status == ChunkStatus::kOk || status == ChunkStatus::kAbsent) continue;
      if (status == ChunkStatus::kUnchecked) {
        ++unchecked;
        continue;
      }
      std::string text =
          "chunk " + std::to_string(index) + " " + klv::kernel::chunk_problem(status);
      if (status == ChunkStatus::kError) text += std::string(": ") + sqlite3_errstr(v_.chunk_rc_);
      fault(text);
    }
    gap(chunks);
    if (bad > kChunkFaultsShown) {
      // Every fault counts, the ones not shown too.
      faults_ += static_cast<int>(std::min<int64_t>(bad - kChunkFaultsShown, 1 << 30)) - 1;
      say(m.name, std::to_string(bad - kChunkFaultsShown) + " more damaged chunks", true);
    }
    // In a volume made before checks the remark of note_checksum_mode says it for all.
    if (unchecked > 0 && v_.checksums_ == ChecksumMode::kPartial)
      say(m.name,
          std::to_string(unchecked) + " of " + std::to_string(chunks) +
              " chunks carry no checksum (written before checksums)",
          false);
  }

  SOVolume& v_;
  VCheckReport report_;
  void* context_;
  int faults_ = 0;
  std::vector<int64_t> stored_;
  std::vector<uint8_t> buffer_;
};

int SOVolume::check(VCheckReport report, void* context) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return VolumeChecker(*this, report, context).run();
}
