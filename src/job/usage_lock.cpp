// SPDX-License-Identifier: MIT
// A printer's account file, and adding to an account under its lock so that
// processes adding at the same time lose nothing.
//
// The lock is an flock on "<account>.lock" beside the account, held from
// before the load to after the rename of the save. The system drops it
// when the holder's descriptor closes, also when the process dies, so a
// crashed adder never blocks the others. The lock file is left in place:
// removing it while another process waits on it would let two holders in.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <thread>

#include "klv/kernel.h"
#include "klv/kernel_path_cxx.h"
#include "klv/log.h"
#include "klv/prntinfo.h"
#include "klv/usage_cxx.h"

namespace {

// How long an adder waits for the lock before giving up.
constexpr auto kLockWait = std::chrono::seconds(60);

class AccountLock {
 public:
  explicit AccountLock(const std::string& account) {
    const std::string path = klv::kernel::host_path((account + ".lock").c_str());
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
      KLV_LOG(KLV_LOG_ERROR, "cannot open the usage lock \"%s\": %s", path.c_str(),
              std::strerror(errno));
      return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
        KLV_LOG(KLV_LOG_ERROR, "cannot lock the usage account \"%s\": %s", account.c_str(),
                errno == EWOULDBLOCK ? "another process holds it" : std::strerror(errno));
        Release();
        return;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    m_locked = true;
  }
  ~AccountLock() { Release(); }
  AccountLock(const AccountLock&) = delete;
  AccountLock& operator=(const AccountLock&) = delete;

  bool Locked() const { return m_locked; }

 private:
  void Release() {
    if (m_fd >= 0) ::close(m_fd);  // closing drops the flock
    m_fd = -1;
    m_locked = false;
  }
  int m_fd = -1;
  bool m_locked = false;
};

bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(klv::kernel::host_path(path.c_str()), ec);
}

}  // namespace

std::string CPrintUsage::PrinterFile(const char* printer) {
  if (!printer || !*printer) return {};
  char folder[KLV_PATH_MAX] = "";
  if (!prntinfo_find_repository(printer, folder)) return {};
  std::string path = folder;
  if (path.back() != '/' && path.back() != '\\') path += '/';
  return path + KLV_USAGE_FILE;
}

bool CPrintUsage::UsageExists(const char* printer) {
  try {
    const std::string path = PrinterFile(printer);
    return !path.empty() && file_exists(path);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool CPrintUsage::LoadPrinter(const char* printer) {
  try {
    const std::string path = PrinterFile(printer);
    if (path.empty()) {
      Reset();
      KLV_LOG(KLV_LOG_ERROR, "no repository folder for printer \"%s\"", printer ? printer : "");
      return false;
    }
    return Load(path.c_str());
  } catch (const std::bad_alloc&) {
    Reset();
    return false;
  }
}

bool CPrintUsage::AddToFile(const char* path, const CPrintUsage& job) {
  if (!path || !*path) return false;
  try {
    AccountLock lock(path);
    if (!lock.Locked()) return false;
    CPrintUsage account;
    if (file_exists(path) && !account.Load(path)) {
      KLV_LOG(KLV_LOG_ERROR,
              "the usage account \"%s\" cannot be read; it is kept as it is and the job's "
              "usage is not added",
              path);
      return false;
    }
    account.Add(job);
    return account.Save(path);
  } catch (const std::bad_alloc&) {
    KLV_LOG(KLV_LOG_ERROR, "out of memory adding to the usage account \"%s\"", path);
    return false;
  }
}

bool CPrintUsage::AddToPrinter(const char* printer, const CPrintUsage& job) {
  try {
    const std::string path = PrinterFile(printer);
    if (path.empty()) {
      KLV_LOG(KLV_LOG_ERROR, "no repository folder for printer \"%s\"", printer ? printer : "");
      return false;
    }
    return AddToFile(path.c_str(), job);
  } catch (const std::bad_alloc&) {
    return false;
  }
}
