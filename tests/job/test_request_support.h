// SPDX-License-Identifier: MIT
// Helpers of the server request tests: a server folder, a small command
// table for request scripts, servers in threads and in child processes, and
// a client that sends one script and reads the answer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "klv/request.h"
#include "klv/request_cxx.h"

namespace klv::test {

// The interpreter's built-ins, Answer, and:
//   Mark {word}   appends "word pid" and a line end to the file named by the
//                 table's data (a std::string*), in one write
//   Sleep {ms}    sleeps (only when the table was made with sleeping on)
std::vector<INTERP_CMD> request_table(bool sleeping);

// Makes "Info\Server.Info" as a running server would.
void fake_server_info(const std::string& folder);

// Files in `folder` (not recursive) whose names end with `suffix`.
std::vector<std::string> files_ending(const std::string& folder, const std::string& suffix);

struct Reply {
  int32_t status = -1;
  bool answered = false;  // ".\\Answers" was there
  std::vector<std::string> values;
  std::string error;  // ".\\Error" of the answer, when any
};

// Sends `script` as the ProfOp block of one request through CSrvRqx and
// reads the answer; the request and answer are removed afterwards.
Reply ask(const std::string& folder, const std::string& script);

// Writes a request with `script` through the C interface and publishes it
// without waiting; the record is returned for a later wait_srv_request.
SRV_REQUEST* send(const std::string& folder, const std::string& script, uint32_t flags = 0);
// Reads the values of a record's open answer volume.
Reply read_reply(SRV_REQUEST* record, int32_t status);

// A server running on a thread of this process until the object goes.
class ThreadServer {
 public:
  ThreadServer(const std::string& folder, const std::string* mark_file = nullptr);
  ~ThreadServer();

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A server in a child process (fork); SIGTERM stops it, and its exit code
// is 0 when it stopped cleanly.
pid_t fork_server(const std::string& folder, const std::string* mark_file, bool sleeping);
// Sends SIGTERM and waits; the child's exit code, or -1.
int stop_server(pid_t pid);

}  // namespace klv::test
