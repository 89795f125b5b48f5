// SPDX-License-Identifier: MIT
// klvrip serve as a program: a client sends profile-library requests through
// the request protocol and the server answers them (add, list, set default,
// remove), logs them, and stops cleanly on SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/platform.h"
#include "klv/proflib.h"
#include "klv/request_cxx.h"
#include "support/env.h"
#include "support/files.h"

namespace {

namespace fs = std::filesystem;

class ServeProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_);
    const std::string log = dir_.path("serve.log");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 2);
      ::execl(KLVRIP_PATH, KLVRIP_PATH, "serve", folder_.c_str(), "--library", library_.c_str(),
              "--poll", "100", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500 && !fs::exists(folder_ + "/Info/Server.Info"); ++i)
      klv::platform::Sleep(10);
  }
  void TearDown() override {
    if (pid_ > 0) Stop();
  }
  // SIGTERM; how the process ended.
  int Stop() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  // Sends a ProfOp script; the answer's values, or {"status N"} on failure.
  std::vector<std::string> Ask(const std::string& script) {
    CSrvRqx rq(folder_.c_str(), "client");
    if (!rq.Begin(0)) return {"status " + std::to_string(rq.status())};
    SFilemux* s = rq.OpenRequest();
    Oputs(s, script.c_str());
    Oputs(s, "\n");
    rq.CloseRequest(s);
    if (!rq.Wait(0)) return {"status " + std::to_string(rq.status())};
    std::vector<std::string> values;
    char** list = rq.OpenAnswer();
    for (int i = 0; list && list[i]; ++i) values.push_back(list[i]);
    rq.CloseAnswer(list);
    return values;
  }

  klv::test::ScopedEnv timeout_{"ServerRequestTimeout", "20"};
  klv::test::ScratchFolder dir_{"serve"};
  std::string folder_ = dir_.path("server");
  std::string library_ = dir_.path("Demo.PrnLib");
  pid_t pid_ = -1;
};

TEST_F(ServeProgram, ProfileLibraryRequests) {
  ASSERT_TRUE(fs::exists(folder_ + "/Info/Server.Info"));
  const std::string result = "DimStr {8 200} Store {s0 no} ";
  // Add two profiles.
  EXPECT_EQ(Ask(result +
                "if {AddProfileEntryEx {Glossy 720x720 Stochastic 2 Vivid KELV 0 vivid.icc \"\"}}"
                " then {Store {s0 added}} Answer {0 1}"),
            std::vector<std::string>{"added"});
  EXPECT_EQ(
      Ask(result + "if {AddProfileEntryEx {Glossy 720x720 Stochastic 2 Soft KELV 0 soft.icc \"\"}}"
                   " then {Store {s0 added}} Answer {0 1}"),
      std::vector<std::string>{"added"});
  // The same key again is refused.
  EXPECT_EQ(
      Ask(result + "if {AddProfileEntryEx {Glossy 720x720 Stochastic 2 Soft KELV 0 soft.icc \"\"}}"
                   " then {Store {s0 added}} Answer {0 1}"),
      std::vector<std::string>{"no"});
  // List them.
  EXPECT_EQ(Ask("DimVal {1} DimStr {4 200} GetProfileCount {v0 Glossy \"\" \"\" \"\" s1} "
                "Store {s0 \\v0} Answer {0 3}"),
            (std::vector<std::string>{"2", "Glossy~720x720~Stochastic~2~Soft",
                                      "Glossy~720x720~Stochastic~2~Vivid"}));
  // Set the default of type 2, then change it.
  EXPECT_EQ(Ask(result + "if {AddDefaultEntryEx {Glossy 720x720 Stochastic 2 Vivid}} "
                         "then {Store {s0 set}} Answer {0 1}"),
            std::vector<std::string>{"set"});
  EXPECT_EQ(Ask(result + "if {UpdateDefaultEntryEx {Glossy 720x720 Stochastic 2 Soft}} "
                         "then {Store {s0 changed}} Answer {0 1}"),
            std::vector<std::string>{"changed"});
  // Read an entry back and remove the other.
  EXPECT_EQ(Ask("DimStr {9 200} GetProfileEntryEx {s0 Glossy 720x720 Stochastic 2 Vivid} "
                "Answer {7 8}"),
            std::vector<std::string>{"vivid.icc"});
  EXPECT_EQ(Ask(result + "if {RemoveProfileEntryEx {Glossy 720x720 Stochastic 2 Soft}} "
                         "then {Store {s0 removed}} Answer {0 1}"),
            std::vector<std::string>{"removed"});
  EXPECT_EQ(Ask("DimVal {1} DimStr {1 8} GetProfileCount {v0 \"\" \"\" \"\" \"\"} "
                "Store {s0 \\v0} Answer {0 1}"),
            std::vector<std::string>{"1"});
  // A hostile script ends with an error, and the server goes on.
  EXPECT_EQ(Ask("while {} do {}"), std::vector<std::string>{});
  EXPECT_EQ(Ask("DimStr {1 8} Store {s0 alive} Answer {0 1}"), std::vector<std::string>{"alive"});

  // SIGTERM stops it cleanly: Server.Info goes, and nothing is left behind.
  const int status = Stop();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_FALSE(fs::exists(folder_ + "/Info/Server.Info"));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);  // Info
  const std::string log = klv::test::read_text(dir_.path("serve.log"));
  EXPECT_NE(log.find("ran in"), std::string::npos) << log;
  EXPECT_NE(log.find("script stopped at line"), std::string::npos) << log;

  // What the server wrote is in the library.
  SOVolume* v = VOpen(nullptr, library_.c_str(), KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  PL_DEFAULT_ENTRY* d = PL_new_default_entry();
  EXPECT_EQ(PL_vget_default_entry(v, "Glossy", "720x720", "Stochastic", d), PL_OK);
  ASSERT_EQ(d->count, 1);
  EXPECT_STREQ(d->items[0].name, "Soft");
  PL_free_default_entry(d);
  EXPECT_EQ(PL_vexist_profile_entry(v, "Glossy", "720x720", "Stochastic", 2, "Vivid"), 1);
  EXPECT_EQ(PL_vexist_profile_entry(v, "Glossy", "720x720", "Stochastic", 2, "Soft"), 0);
  VClose(v);
}

TEST_F(ServeProgram, UsageErrors) {
  Stop();
  const struct {
    std::vector<std::string> args;
    int code;
  } cases[] = {{{"serve"}, 2},
               {{"serve", "a", "b"}, 2},
               {{"serve", "a", "--library", "x", "--printer", "y"}, 2},
               {{"serve", "a", "--poll", "0"}, 2},
               {{"serve", dir_.path("no such folder")}, 1}};
  for (const auto& [args, code] : cases) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open("/dev/null", O_WRONLY);
      ::dup2(fd, 2);
      std::vector<char*> argv = {const_cast<char*>(KLVRIP_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(KLVRIP_PATH, argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == code) << args.back();
  }
}

}  // namespace
