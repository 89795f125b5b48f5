// SPDX-License-Identifier: MIT
// The client side of server requests against folders with no real server:
// names, the running-server check, publishing whole, the waits that end in
// a timeout, a missing answer or a vanished server, and cleaning up.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "klv/kernel_path_cxx.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_volume.h"
#include "klv/platform.h"
#include "support/files.h"
#include "test_request_support.h"

namespace {

namespace fs = std::filesystem;
using klv::platform::MonotonicMs;
using klv::platform::Sleep;
using klv::test::fake_server_info;
using klv::test::files_ending;
using klv::test::ScratchFolder;

// True when `name` is `client`, one or more lower-case hexadecimal digits
// and ".RQX".
bool is_request_name(const std::string& name, const std::string& client) {
  const std::string ext = ".RQX";
  if (name.size() <= client.size() + ext.size() || name.compare(0, client.size(), client) != 0 ||
      name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
    return false;
  const std::string id = name.substr(client.size(), name.size() - client.size() - ext.size());
  return id.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string file_part(const std::string& path) {
  const size_t sep = path.find_last_of("/\\");
  return path.substr(sep + 1);
}

TEST(RequestClient, NamesAndTheServerCheck) {
  ScratchFolder dir("rq");
  int32_t status = -1;
  EXPECT_EQ(begin_srv_request_ex(dir.str().c_str(), "alice", 0, &status), nullptr);
  EXPECT_EQ(status, SRV_NOT_RUNNING);
  EXPECT_EQ(begin_srv_request_ex("", "alice", 0, &status), nullptr);
  EXPECT_EQ(status, SRV_NO_FOLDER);
  EXPECT_EQ(begin_srv_request_ex(nullptr, "alice", 0, &status), nullptr);
  EXPECT_EQ(status, SRV_NO_FOLDER);
  EXPECT_EQ(begin_srv_request("no such printer", "alice", 0, &status), nullptr);
  EXPECT_EQ(status, SRV_NO_FOLDER);

  SRV_REQUEST* rec = begin_srv_request_ex(dir.str().c_str(), "alice", SRV_NO_SERVER_CHECK, &status);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(status, SRV_OK);
  EXPECT_STREQ(rec->info_path, "");
  const std::string name = file_part(rec->request_path);
  EXPECT_TRUE(is_request_name(name, "alice")) << name;
  EXPECT_EQ(std::string(rec->request_path), dir.str() + "/" + name);
  const std::string base = name.substr(0, name.size() - 4);
  EXPECT_EQ(std::string(rec->answer_path), dir.str() + "/Info\\" + base + ".ANS");
  // Until it is published the request is only a working file.
  EXPECT_FALSE(fs::exists(rec->request_path));
  EXPECT_TRUE(fs::exists(dir.path(base + ".RQW")));
  EXPECT_TRUE(Ofileexists(rec->volume, ".\\NeedAnswer", 0));
  end_srv_request(rec, SRV_DELETE_REQUEST | SRV_DELETE_ANSWER);
  EXPECT_EQ(dir.entries(), 0u);  // the working file went with the record

  fake_server_info(dir.str());
  rec = begin_srv_request_ex((dir.str() + "/").c_str(), "bob", SRV_NO_ANSWER_WANTED, &status);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(std::string(rec->info_path), dir.str() + "/Info\\Server.Info");
  EXPECT_STREQ(rec->answer_path, "");
  EXPECT_FALSE(Ofileexists(rec->volume, ".\\NeedAnswer", 0));
  end_srv_request(rec, 0);
  EXPECT_EQ(wait_srv_request(nullptr, 0), SRV_NOTHING);
  EXPECT_EQ(end_srv_request(nullptr, 3), nullptr);
}

TEST(RequestClient, ClientNamesCannotLeaveTheFolder) {
  ScratchFolder dir("rq");
  int32_t status = -1;
  SRV_REQUEST* rec =
      begin_srv_request_ex(dir.str().c_str(), "../x/y", SRV_NO_SERVER_CHECK, &status);
  ASSERT_NE(rec, nullptr);
  EXPECT_TRUE(is_request_name(file_part(rec->request_path), ".._x_y"));
  end_srv_request(rec, 3);
}

TEST(RequestClient, TimeoutAfterTwoSleepsLeavesTheRequestWhole) {
  ScratchFolder dir("rq");
  fake_server_info(dir.str());
  SRV_REQUEST* rec = klv::test::send(dir.str(), "Say {hello}");
  ASSERT_NE(rec, nullptr);
  const int64_t start = MonotonicMs();
  EXPECT_EQ(wait_srv_request(rec, 1000), SRV_TIMEOUT);
  const int64_t took = MonotonicMs() - start;
  EXPECT_GE(took, 1000);
  EXPECT_LT(took, 2500);  // two sleeps, not more (with room for a busy machine)
  // Published whole: a volume with both members, under its request name only.
  SOVolume* v = VOpen(nullptr, rec->request_path, KLV_VOL_READ);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(Ofileexists(v, ".\\Request", 0));
  EXPECT_TRUE(Ofileexists(v, ".\\NeedAnswer", 0));
  VClose(v);
  EXPECT_TRUE(files_ending(dir.str(), ".RQW").empty());
  end_srv_request(rec, SRV_DELETE_REQUEST);
  EXPECT_TRUE(files_ending(dir.str(), ".RQX").empty());
}

// Runs `act` on a thread once the request is published, while the client waits.
int32_t wait_while(SRV_REQUEST* rec, uint32_t timeout, const std::function<void()>& act) {
  std::thread t([&] {
    while (!fs::exists(rec->request_path)) Sleep(5);
    act();
  });
  const int32_t status = wait_srv_request(rec, timeout);
  t.join();
  return status;
}

TEST(RequestClient, TakenButNeverAnsweredEndsWithNoAnswer) {
  ScratchFolder dir("rq");
  fake_server_info(dir.str());
  int32_t status = -1;
  SRV_REQUEST* rec = begin_srv_request_ex(dir.str().c_str(), "c", 0, &status);
  ASSERT_NE(rec, nullptr);
  const int64_t start = MonotonicMs();
  EXPECT_EQ(wait_while(rec, SRV_WAIT_FOREVER, [&] { fs::remove(rec->request_path); }),
            SRV_NO_ANSWER);
  EXPECT_GE(MonotonicMs() - start, 2500);  // six tries, 500 ms apart
  end_srv_request(rec, 3);
}

TEST(RequestClient, NoAnswerWantedEndsWhenTaken) {
  ScratchFolder dir("rq");
  fake_server_info(dir.str());
  int32_t status = -1;
  SRV_REQUEST* rec = begin_srv_request_ex(dir.str().c_str(), "c", SRV_NO_ANSWER_WANTED, &status);
  ASSERT_NE(rec, nullptr);
  // No limit: the wait must still end once the server has taken it.
  EXPECT_EQ(wait_while(rec, SRV_WAIT_FOREVER, [&] { fs::remove(rec->request_path); }), SRV_OK);
  end_srv_request(rec, 3);
}

TEST(RequestClient, ServerStoppingWhileWaiting) {
  ScratchFolder dir("rq");
  fake_server_info(dir.str());
  int32_t status = -1;
  SRV_REQUEST* rec = begin_srv_request_ex(dir.str().c_str(), "c", 0, &status);
  ASSERT_NE(rec, nullptr);
  EXPECT_EQ(wait_while(rec, 10000, [&] { fs::remove(dir.path("Info/Server.Info")); }),
            SRV_NOT_RUNNING);
  end_srv_request(rec, SRV_DELETE_REQUEST);
  EXPECT_TRUE(files_ending(dir.str(), ".RQX").empty());
}

TEST(RequestClient, EndRemovesWhatItIsTold) {
  ScratchFolder dir("rq");
  fake_server_info(dir.str());
  for (uint32_t flags = 0; flags < 4; ++flags) {
    SRV_REQUEST* rec = klv::test::send(dir.str(), "x");
    ASSERT_NE(rec, nullptr);
    const std::string request = rec->request_path, answer = rec->answer_path;
    klv::test::write_text(klv::kernel::host_path(answer.c_str()), "answer");
    end_srv_request(rec, flags);
    EXPECT_EQ(fs::exists(request), !(flags & SRV_DELETE_REQUEST)) << flags;
    EXPECT_EQ(fs::exists(klv::kernel::host_path(answer.c_str())), !(flags & SRV_DELETE_ANSWER))
        << flags;
    fs::remove(request);
    fs::remove(klv::kernel::host_path(answer.c_str()));
  }
}

TEST(RequestClient, ResultsOfAnAnswerList) {
  ScratchFolder dir("rq");
  CSrvRqx rq(dir.str().c_str(), "u");
  const char* values[] = {"42", "Glossy Photo", nullptr};
  char** list = const_cast<char**>(values);
  EXPECT_EQ(rq.GetIntResult(list, 0), 42);
  EXPECT_EQ(rq.GetIntResult(list, 5), 0);
  char buf[6];
  EXPECT_EQ(rq.GetStrResult(list, 1, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "Gloss");  // cut to the buffer, always terminated
  EXPECT_EQ(rq.GetStrResult(list, 2, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(rq.user(), "u");
  EXPECT_EQ(rq.OpenRequest(), nullptr);  // no request begun
  EXPECT_EQ(rq.OpenAnswer(), nullptr);
  EXPECT_FALSE(rq.Begin(0));
  EXPECT_EQ(rq.status(), SRV_NOT_RUNNING);
}

}  // namespace
