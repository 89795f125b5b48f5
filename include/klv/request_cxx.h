// SPDX-License-Identifier: MIT
// Server requests in C++: CSrvRqx, one request from the client's side, and
// the server that watches a folder and answers requests (`klvrip serve`).
// The C functions and the names of the protocol are in klv/request.h.
#ifndef KLV_REQUEST_CXX_H
#define KLV_REQUEST_CXX_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "klv/kernel_settings.h"
#include "klv/request.h"

// One request from the client's side: the server folder, the user name (the
// client name of the request), the request record and the last status.
class KLV_API CSrvRqx {
 public:
  // `user` null or "": the logged-on user's name (empty when unknown; the
  // request then carries the computer's name).
  CSrvRqx(const char* folder, const char* user);
  CSrvRqx(const CSrvRqx&) = delete;
  CSrvRqx& operator=(const CSrvRqx&) = delete;
  // Ends an open request with SRV_DELETE_REQUEST | SRV_DELETE_ANSWER.
  virtual ~CSrvRqx();
  // begin_srv_request_ex with the folder and the user name; true when created.
  virtual bool Begin(uint32_t flags);
  // Waits with the timeout of the per-user value ServerRequestTimeout
  // (seconds; 30 s when absent), then again while it times out, up to
  // `retries` more times. True when the final status is SRV_OK.
  virtual bool Wait(int32_t retries);
  virtual void End(uint32_t flags);
  // Opens ".\\Request" in the request volume (mode "wb" when null) and
  // writes "Request {" and " ProfOp {"; null when there is no request.
  virtual SFilemux* OpenRequest(const char* mode = nullptr);
  // Writes " }" and "}" and closes the stream: 1, or 0 when writing failed.
  virtual int32_t CloseRequest(SFilemux* stream);
  // The same without the ProfOp block.
  virtual SFilemux* OpenBasicRequest(const char* mode = nullptr);
  virtual int32_t CloseBasicRequest(SFilemux* stream);
  // The answer's values (srv_read_answers), null when there are none.
  virtual char** OpenAnswer();
  virtual void CloseAnswer(char** list);
  // Value i read as a decimal integer (0 when there is no such value).
  virtual int32_t GetIntResult(char** list, int32_t i);
  // Copies value i into buffer, cut to size - 1 bytes and terminated; 1, or
  // 0 (and "") when there is no such value.
  virtual int32_t GetStrResult(char** list, int32_t i, char* buffer, int32_t size);

  int32_t status() const { return status_; }
  SRV_REQUEST* record() const { return record_; }
  const std::string& user() const { return user_; }

 protected:
  std::string folder_;
  std::string user_;
  SRV_REQUEST* record_ = nullptr;
  int32_t status_ = SRV_OK;
};

namespace klv::request {

// Runs the ProfOp block of one request. `profop` stands inside the block;
// `answer` is the answer volume being written (null when no answer is
// wanted). True when the request ran; false with a reason in `error`.
using Handler = std::function<bool(SFPARSE* profop, SOVolume* answer, std::string* error)>;

// A handler that runs the ProfOp block as a script with a command table
// (srv_run_script); `limits` with 0 fields keeps the interpreter's defaults.
KLV_API Handler script_handler(std::vector<INTERP_CMD> table, void* data = nullptr,
                               INTERP_LIMITS limits = {});

struct ServerOptions {
  std::string folder;      // the server folder
  Handler handler;         // runs each request
  int32_t poll_ms = 1000;  // how often the folder is scanned without events
  bool watch = true;       // wake on inotify events where the folder is local
};

// The server of one folder. Several servers may watch one folder: each
// request is taken by exactly one (an atomic rename), and an answer appears
// whole or not at all. Every request is logged; a bad request is answered
// without ".\\Answers" (with ".\\Error" saying why) and never stops the
// server. Not thread-safe: one thread runs a server.
class KLV_API Server {
 public:
  explicit Server(ServerOptions options);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();  // Stop()

  // Makes the Info folder, takes back the requests of servers that died
  // while running them, and writes "Info\Server.Info". False (logged) when
  // the folder cannot be used.
  bool Start();
  // Takes and runs every request waiting now; the number run.
  int32_t RunOnce();
  // Serves until `stop` returns true; it is asked at least every 200 ms.
  // Calls Start when it was not called. False when Start fails.
  bool Run(const std::function<bool()>& stop);
  // Removes "Info\Server.Info" unless another live server watches the folder.
  void Stop();

  int64_t requests_run() const { return run_; }
  const std::string& folder() const;  // with a trailing separator

 private:
  struct State;
  std::unique_ptr<State> state_;
  int64_t run_ = 0;
};

}  // namespace klv::request

#endif
