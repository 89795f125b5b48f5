// SPDX-License-Identifier: MIT
// The host layer: events, threads, mutexes, dynamic libraries, names, folders,
// clocks and the process identity. C++ only; everything else in the library
// (and plug-ins and tools) reaches the operating system through here.
//
// Conventions:
// - Timeouts are milliseconds; any negative timeout (kForever) waits forever
//   and 0 only looks.
// - Folders are returned without a trailing separator ("/tmp", not "/tmp/");
//   an empty string means "could not be found out".
// - Nothing here throws; failures are reported by the result.
#ifndef KLV_PLATFORM_H
#define KLV_PLATFORM_H

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "klv/export.h"

namespace klv::platform {

inline constexpr int64_t kForever = -1;

// ---------------------------------------------------------------------------
// Events

namespace detail {
struct EventWaiter;
}

// A signal that threads wait for. A manual-reset event stays set until Reset;
// every waiter sees it. An auto-reset event is consumed by the one wait that
// returns it (Wait or WaitAny), so each Set releases at most one waiter.
//
// An event must outlive every wait on it. Set and Reset may be called from
// any thread, also while other threads wait.
class KLV_API Event {
 public:
  enum class Mode { kManualReset, kAutoReset };

  explicit Event(Mode mode = Mode::kManualReset, bool initially_set = false);
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  ~Event();

  void Set();
  void Reset();
  // True when the event is set right now (does not consume an auto-reset event).
  bool IsSet() const;
  // Waits until the event is set or the timeout passes; true when it was set
  // (an auto-reset event is then consumed).
  bool Wait(int64_t timeout_ms = kForever);

  // Waits until one of `events` is set. Returns the index of the signalled
  // event (the lowest index when several are set; an auto-reset event returned
  // is consumed), or -1 when the timeout passes. Null entries are ignored; a
  // list without events returns -1 at once. The waiting thread sleeps: every
  // event it waits on holds a reference to one shared waiter record and wakes
  // it on Set.
  static int WaitAny(std::span<Event* const> events, int64_t timeout_ms = kForever);
  static int WaitAny(const std::vector<Event*>& events, int64_t timeout_ms = kForever) {
    return WaitAny(std::span<Event* const>(events.data(), events.size()), timeout_ms);
  }

  Mode mode() const { return mode_; }

 private:
  // Takes the signal if the event is set (resetting an auto-reset event);
  // otherwise registers `waiter` (when not null) to be woken by the next Set.
  // Returns true when the signal was taken.
  bool TakeOrRegister(detail::EventWaiter* waiter);
  void Unregister(detail::EventWaiter* waiter);

  const Mode mode_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_;
  std::vector<detail::EventWaiter*> waiters_;  // WaitAny calls in progress
};

// ---------------------------------------------------------------------------
// Threads and locks

using Mutex = std::mutex;
// A lock that the thread holding it may take again (nested calls that share
// one guard, such as loading driver libraries).
using CriticalSection = std::recursive_mutex;
using Lock = std::lock_guard<std::mutex>;
using CriticalSectionLock = std::lock_guard<std::recursive_mutex>;

// A named worker thread. The name (at most 15 bytes are kept, cut at a whole
// UTF-8 character) shows in ps, top and the debugger. The destructor joins, so
// a worker is joined on every exit path of its owner; an exception that escapes
// the worker's function is logged and ends only that function.
class KLV_API Thread {
 public:
  explicit Thread(std::string name = {});
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  ~Thread();

  // Starts fn on a new thread. False when a thread is still running or joinable
  // (Join it first) or when the system cannot start a thread (logged).
  bool Start(std::function<void()> fn);
  // Waits for the thread to end. Does nothing when no thread runs. Called from
  // the worker itself it detaches instead of deadlocking (logged).
  void Join();
  bool Joinable() const { return thread_.joinable(); }
  const std::string& name() const { return name_; }

  // Names the calling thread (same 15-byte rule).
  static void SetCurrentName(const std::string& name);

 private:
  std::string name_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// Dynamic libraries (driver and engine plug-ins)

// A library loaded with dlopen(RTLD_NOW | RTLD_LOCAL), closed by Close or the
// destructor. The text of the last failure is kept per object. A path may use
// '\' or '/'; a name without a separator is searched for by the dynamic loader.
class KLV_API DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const std::string& path) { Open(path); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  ~DynamicLibrary() { Close(); }

  // Loads the library (closing one already open). False on failure, with the
  // loader's text in ErrorText().
  bool Open(const std::string& path);
  // The address of an exported symbol, or null (ErrorText() says why).
  void* Symbol(const char* name);
  template <typename T>
  T SymbolAs(const char* name) {
    return reinterpret_cast<T>(Symbol(name));
  }
  // Unloads the library. False when the loader reported a failure.
  bool Close();

  bool IsOpen() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }
  // The text of the last failure of this object, "" when the last call succeeded.
  const std::string& ErrorText() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

// ---------------------------------------------------------------------------
// Names and folders

// The login name of the effective user ("" when unknown).
KLV_API std::string UserName();
// The computer's host name ("" when unknown).
KLV_API std::string ComputerName();
// The full path of the running program (from /proc/self/exe), "" when unknown.
KLV_API std::string ProgramPath();
// The folder that holds the running program.
KLV_API std::string ProgramFolder();
// The installed data folder (share/klv under the install prefix), fixed at build time.
KLV_API std::string DataFolder();
// The folder for temporary files: $TMPDIR when set and not empty, else /tmp.
KLV_API std::string TempFolder();
// Creates a new empty file with a unique name in `folder` (TempFolder() when
// empty) and returns its path: prefix + a unique part + extension (for example
// "OVI" and ".tif"). The file is created exclusively, so the name cannot be
// taken by another thread or process; the caller removes it. "" on failure
// (logged).
KLV_API std::string TempFileName(const std::string& prefix, const std::string& extension = {},
                                 const std::string& folder = {});
// Joins a folder and a name with one '/' between them; either may be empty.
KLV_API std::string JoinPath(const std::string& folder, const std::string& name);
// The machine's physical memory in bytes, 0 when unknown.
KLV_API uint64_t PhysicalMemoryBytes();

// ---------------------------------------------------------------------------
// Time and the process

KLV_API void Sleep(int64_t ms);
// Monotonic clocks (not wall time) for timeouts and measuring.
KLV_API int64_t MonotonicMs();
KLV_API int64_t MonotonicUs();

KLV_API int64_t ProcessId();
// A 64-bit value that names this process for its whole life and differs from
// every other process of this boot and of other boots (made from the boot id
// and the process start time). Never 0. A forked child gets its own.
KLV_API uint64_t ProcessStamp();
// The stamp of another running process, or 0 when there is no process with
// that id. Lock owners use it to tell a live owner from a stale record: the
// owner lives while ProcessStampOf(pid) equals the stamp it recorded.
KLV_API uint64_t ProcessStampOf(int64_t pid);

}  // namespace klv::platform

#endif
