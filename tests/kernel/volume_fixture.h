// SPDX-License-Identifier: MIT
// The fixture of the volume tests: a scratch folder, whole-member reading and
// writing, a plain SQLite connection to change or query a volume behind the
// library, the log redirected to a file, and VCheck's findings collected.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "klv/kernel.h"
#include "support/files.h"
#include "support/image.h"

namespace klv::test {

// Runs statements on the file with a plain SQLite connection; `blobs` are
// bound to ?1, ?2, ... of the one statement when given.
inline bool run_sql(const std::string& file, const char* statements,
                    const std::vector<std::vector<uint8_t>>& blobs = {}) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) == SQLITE_OK;
  if (ok && blobs.empty()) {
    ok = sqlite3_exec(db, statements, nullptr, nullptr, nullptr) == SQLITE_OK;
  } else if (ok) {
    sqlite3_stmt* st = nullptr;
    ok = sqlite3_prepare_v2(db, statements, -1, &st, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < blobs.size(); ++i)
      sqlite3_bind_blob(st, static_cast<int>(i + 1), blobs[i].data(),
                        static_cast<int>(blobs[i].size()), SQLITE_TRANSIENT);
    ok = ok && sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
  }
  sqlite3_close_v2(db);
  return ok;
}

inline std::string query_text(const std::string& file, const char* query) {
  sqlite3* db = nullptr;
  sqlite3_stmt* st = nullptr;
  std::string out = "(error)";
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, query, -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(st, 0);
    out = text ? reinterpret_cast<const char*>(text) : "(null)";
  }
  sqlite3_finalize(st);
  sqlite3_close_v2(db);
  return out;
}

// Points the library's log at a file (or /dev/null) for the life of the
// object, then restores what KLV_LOG was.
class LogToFile {
 public:
  explicit LogToFile(std::string path) : path_(std::move(path)) {
    const char* old = std::getenv("KLV_LOG");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("KLV_LOG", path_.c_str(), 1);
  }
  ~LogToFile() {
    if (had_)
      setenv("KLV_LOG", old_.c_str(), 1);
    else
      unsetenv("KLV_LOG");
  }
  LogToFile(const LogToFile&) = delete;
  LogToFile& operator=(const LogToFile&) = delete;
  std::string text() const {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string path_, old_;
  bool had_ = false;
};

// One thing VCheck reported.
struct Finding {
  std::string member, text;
  bool fault;
};

// Runs VCheck and collects what it reports; *faults receives its result.
inline std::vector<Finding> check_volume(SOVolume* v, int* faults) {
  std::vector<Finding> out;
  *faults = VCheck(
      v,
      [](void* context, const char* member, const char* text, int32_t fault) {
        static_cast<std::vector<Finding>*>(context)->push_back({member, text, fault != 0});
      },
      &out);
  return out;
}

class VolumeFixture : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return scratch_.path(name); }

  // Writes a whole member; true when every byte went in and it closed cleanly.
  static bool put(SOVolume* v, const char* name, const std::vector<uint8_t>& data) {
    SFilemux* f = Ovfopen(v, name, "wb");
    if (!f) return false;
    bool ok = data.empty() || Owrite(f, data.data(), data.size()) == data.size();
    return Oclose(f) == 0 && ok;
  }
  // Reads a whole member, or gives false when it cannot be opened.
  static bool get(SOVolume* v, const char* name, std::vector<uint8_t>* data) {
    SFilemux* f = Ovfopen(v, name, "rb");
    if (!f) return false;
    int64_t len = Ofileleni64(f);
    data->assign(static_cast<size_t>(len < 0 ? 0 : len), 0);
    bool ok = len >= 0 && (data->empty() || Oread(f, data->data(), data->size()) == data->size());
    return Oclose(f) == 0 && ok;
  }

  ScratchFolder scratch_{"volume"};
  const std::string dir_ = scratch_.str();
};

}  // namespace klv::test
