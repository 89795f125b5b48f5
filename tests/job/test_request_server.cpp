// SPDX-License-Identifier: MIT
// Requests answered by real servers: in a thread and in child processes.
// Scripts and their answers, bad requests that never stop the server, two
// servers on one folder running each request once, and a server killed in
// the middle of a request leaving no half-written answer.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "klv/kernel_volume.h"
#include "klv/platform.h"
#include "support/env.h"
#include "support/files.h"
#include "support/log_capture.h"
#include "test_request_support.h"

namespace {

namespace fs = std::filesystem;
using klv::platform::Sleep;
using klv::test::ask;
using klv::test::files_ending;
using klv::test::ScratchFolder;

class RequestServer : public ::testing::Test {
 protected:
  klv::test::ScopedEnv timeout_{"ServerRequestTimeout", "20"};
  klv::test::LogCapture log_;
  ScratchFolder dir_{"srv"};
};

TEST_F(RequestServer, ScriptsAndTheirAnswers) {
  klv::test::ThreadServer server(dir_.str());
  struct {
    const char* script;
    std::vector<std::string> values;
  } cases[] = {
      {"DimStr {2 16} Store {s0 hello} Store {s1 \"two words\"} Answer {0 3}",
       {"hello", "two words", ""}},
      {"DimVal {1} Store {v0 -7} DimStr {1 8} Store {s0 \\v0} Answer {0 1}", {"-7"}},
      {"DimStr {1 8} if {Not {Or {{Fetch {s0}}}}} then {Store {s0 empty}} Answer {0 1}", {"empty"}},
      {"Answer {0 0}", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const auto r = ask(dir_.str(), c.script);
    EXPECT_EQ(r.status, SRV_OK);
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(r.values, c.values);
  }
  EXPECT_NE(log_.Text().find("ran in"), std::string::npos);
  // Nothing is left behind by the requests and answers.
  EXPECT_TRUE(files_ending(dir_.str(), ".RQX").empty());
  EXPECT_TRUE(files_ending(dir_.str(), ".RUN").empty());
  EXPECT_TRUE(files_ending(dir_.path("Info"), ".ANS").empty());
  EXPECT_TRUE(files_ending(dir_.path("Info"), ".ANW").empty());
}

TEST_F(RequestServer, BadRequestsNeverStopTheServer) {
  const std::string kDeep = std::string(100, '{') + std::string(100, '}');
  klv::test::ThreadServer server(dir_.str());
  // Not a volume at all.
  klv::test::write_text(dir_.path("junk1.RQX"), "not a volume");
  // A script that never ends, one nested too deep, one that asks for huge
  // strings and one cut short: each answered with the fault and its line.
  const struct {
    const char* script;
    const char* error;
  } hostile[] = {
      {"DimStr {1 4} Store {s0 x} Answer {0 1}\nwhile {} do {}",
       "line 4: the script ran more than"},
      {"{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{{}}}}}}}}}}}}}}}}}}}}}}}"
       "}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}}",
       "nested deeper"},
      {"DimStr {1000000 1000000}", "DimStr asks for"},
  };
  for (const auto& h : hostile) {
    SCOPED_TRACE(h.script);
    const auto r = ask(dir_.str(), h.script);
    EXPECT_EQ(r.status, SRV_OK);
    EXPECT_NE(r.error.find(h.error), std::string::npos) << r.error;
  }
  // A request without a ProfOp block is answered without values.
  {
    CSrvRqx rq(dir_.str().c_str(), "basic");
    ASSERT_TRUE(rq.Begin(0));
    rq.CloseBasicRequest(rq.OpenBasicRequest());
    ASSERT_TRUE(rq.Wait(0));
    EXPECT_EQ(rq.OpenAnswer(), nullptr);
    const auto r = klv::test::read_reply(rq.record(), rq.status());
    EXPECT_NE(r.error.find("no ProfOp block"), std::string::npos);
  }
  // And the server still answers.
  const auto r = ask(dir_.str(), "DimStr {1 8} Store {s0 alive} Answer {0 1}");
  EXPECT_EQ(r.values, std::vector<std::string>{"alive"});
  EXPECT_FALSE(fs::exists(dir_.path("junk1.RQX")));
  EXPECT_NE(log_.Text().find("not a volume"), std::string::npos);
}

TEST_F(RequestServer, TwoServersOnOneFolderRunEachRequestOnce) {
  const std::string marks = dir_.path("marks.txt");
  const pid_t a = klv::test::fork_server(dir_.str(), &marks, false);
  const pid_t b = klv::test::fork_server(dir_.str(), &marks, false);
  while (!fs::exists(dir_.path("Info/Server.Info")) ||
         files_ending(dir_.path("Info"), ".Live").size() < 2)
    Sleep(10);
  constexpr int kRequests = 40;
  std::vector<SRV_REQUEST*> records;
  for (int i = 0; i < kRequests; ++i) {
    const std::string n = std::to_string(i);
    records.push_back(klv::test::send(
        dir_.str(), "Mark {" + n + "} DimStr {1 8} Store {s0 " + n + "} Answer {0 1}"));
    ASSERT_NE(records.back(), nullptr);
  }
  for (int i = 0; i < kRequests; ++i) {
    const auto r = klv::test::read_reply(records[i], wait_srv_request(records[i], 20000));
    EXPECT_EQ(r.status, SRV_OK) << i;
    EXPECT_EQ(r.values, std::vector<std::string>{std::to_string(i)}) << i;
    end_srv_request(records[i], SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
  }
  // One server stopping leaves Server.Info to the other.
  EXPECT_EQ(klv::test::stop_server(a), 0);
  EXPECT_TRUE(fs::exists(dir_.path("Info/Server.Info")));
  EXPECT_EQ(klv::test::stop_server(b), 0);
  EXPECT_FALSE(fs::exists(dir_.path("Info/Server.Info")));

  std::map<std::string, int> runs;
  std::map<std::string, int> by_server;
  std::istringstream in(klv::test::read_text(marks));
  std::string word, pid;
  while (in >> word >> pid) {
    ++runs[word];
    ++by_server[pid];
  }
  EXPECT_EQ(runs.size(), static_cast<size_t>(kRequests));
  for (const auto& [n, count] : runs) EXPECT_EQ(count, 1) << "request " << n;
  std::cout << "requests run by each server:";
  for (const auto& [p, count] : by_server) std::cout << " " << p << ":" << count;
  std::cout << "\n";
}

TEST_F(RequestServer, KilledServerLeavesNoHalfWrittenAnswer) {
  const pid_t pid = klv::test::fork_server(dir_.str(), nullptr, true);
  while (!fs::exists(dir_.path("Info/Server.Info"))) Sleep(10);
  SRV_REQUEST* rec =
      klv::test::send(dir_.str(), "DimStr {1 16} Store {s0 complete} Answer {0 1} Sleep {60000}");
  ASSERT_NE(rec, nullptr);
  // Killed while the answer is written but not yet published.
  while (files_ending(dir_.path("Info"), ".ANW").empty()) Sleep(10);
  Sleep(100);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_TRUE(files_ending(dir_.path("Info"), ".ANS").empty());
  EXPECT_EQ(files_ending(dir_.str(), ".RUN").size(), 1u);
  // The client sees the request taken by a server that is gone: no answer.
  EXPECT_EQ(wait_srv_request(rec, 1000), SRV_NO_ANSWER);

  // The next server puts the request back, runs it (its Sleep does not
  // sleep) and publishes the whole answer; the dead server's files are gone.
  {
    klv::test::ThreadServer server(dir_.str());
    const auto r = klv::test::read_reply(rec, wait_srv_request(rec, 20000));
    EXPECT_EQ(r.status, SRV_OK);
    EXPECT_EQ(r.values, std::vector<std::string>{"complete"});
    end_srv_request(rec, SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
  }
  EXPECT_TRUE(files_ending(dir_.path("Info"), ".ANW").empty());
  EXPECT_TRUE(files_ending(dir_.str(), ".RUN").empty());
  EXPECT_NE(log_.Text().find("queued again"), std::string::npos);
}

}  // namespace
