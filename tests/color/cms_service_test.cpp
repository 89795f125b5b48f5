// SPDX-License-Identifier: MIT
// The CMS service: reading the type list, loading engines, the rules for
// finding an engine, threads, termination and profile nodes, with a fixture
// engine whose behaviour follows its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "cms_test_util.h"
#include "klv/cms.h"

namespace {

using namespace cms_test;

const std::string kFixture = as_dll(KLV_CMS_FIXTURE);

TEST(CmsService, MissingTypeListIsQuiet) {
  ServerFolder server("");
  ScopedEnv path("KLV_PATH", server.path("nowhere"));
  Recorder r;
  EXPECT_EQ(cms_initialize(Recorder::callback, &r), 0);
  EXPECT_EQ(cms_get_info(), nullptr);
  EXPECT_TRUE(r.calls.empty());
  // Without a service every operation reports code 0 and gives the neutral result.
  EXPECT_EQ(cms_profnode_new(1, "", 0, "a", "", "", "", 0, nullptr, 0, nullptr, 0, 0,
                             Recorder::callback, &r),
            nullptr);
  EXPECT_TRUE(r.has_code(CMS_ERR_NOT_RUNNING));
  EXPECT_EQ(cms_type_count(), 0);
  EXPECT_EQ(cms_init_thread(nullptr, nullptr), 0);
}

TEST(CmsService, BrokenAndHostileTypeListsFailWithALogLine) {
  const std::string cases[] = {
      "Not_The_Block { }\n",
      "CMS_Types {\n  CMMS {\n    Type { 1 }\n",  // never closes
      "CMS_Types {\n  CMMS { Type { 1 } CMM { { { } }\n}\n",
      "CMS_Types { CMMS } }",
      std::string("CMS_Types { CMMS { CMM { ") + std::string(70000, 'x') + " } } }",
      std::string(300, '{'),
      "\x01\x02\xff\xfe garbage",
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    ServerFolder server(text);
    EXPECT_EQ(cms_initialize(nullptr, nullptr), 0);
    EXPECT_EQ(cms_get_info(), nullptr);
    EXPECT_NE(server.log().find("Could not load CMSTypes.Info"), std::string::npos);
  }
}

TEST(CmsService, RegistersTypesAndFindsDotDllAsSo) {
  ServerFolder server(types_file(record("1 15", "Good", kFixture) +
                                 record("300", "Good", kFixture) + "  Comment { ignored }\n"));
  Recorder r;
  ASSERT_EQ(cms_initialize(Recorder::callback, &r), 1);
  EXPECT_EQ(cms_initialize(Recorder::callback, &r), 1) << "a second start is a no-op";
  ASSERT_EQ(cms_type_count(), 3);
  EXPECT_EQ(cms_type_id_at(0), 1);
  EXPECT_EQ(cms_type_id_at(2), 300);
  char name[CMS_NAME_SIZE];
  EXPECT_EQ(cms_type_name_from_id(1, name), 1);
  EXPECT_STREQ(name, "ICC Profile");
  EXPECT_EQ(cms_type_name_from_id(300, name), 1);
  EXPECT_STREQ(name, "Type 300");
  EXPECT_EQ(cms_type_name_from_id(7, name), 0);
  EXPECT_EQ(cms_type_id_from_name("icc profile"), 1);
  EXPECT_EQ(cms_type_id_from_name("nothing"), -1);
  EXPECT_EQ(cms_type_get_info(15, "Good"), 1);
  EXPECT_EQ(cms_type_get_info(16, nullptr), 0);

  r.calls.clear();
  EXPECT_EQ(cms_terminate(Recorder::callback, &r), 1);
  EXPECT_EQ(r.names_with_code(1), (std::vector<std::string>{"release", "terminate", "release",
                                                            "terminate", "release", "terminate"}));
  EXPECT_EQ(cms_get_info(), nullptr);
}

TEST(CmsService, EngineLoadFailuresAreReported) {
  ServerFolder server(types_file(record("1", "Gone", "/no/such/engine.dll") +
                                 record("2", "Refuse", kFixture) +
                                 record("3", "BadVersion", kFixture)));
  Recorder r;
  ASSERT_EQ(cms_initialize(Recorder::callback, &r), 1);
  EXPECT_TRUE(r.has_code(CMS_ERR_LOAD));
  EXPECT_TRUE(r.has_code(CMS_ERR_REFUSED));
  const std::string log = server.log();
  EXPECT_NE(log.find("Failed to load /no/such/engine.dll dll with error code"), std::string::npos);
  EXPECT_NE(log.find("apply table of"), std::string::npos);
  for (int32_t type : {1, 2, 3}) {
    SCOPED_TRACE(type);
    r.calls.clear();
    EXPECT_EQ(cms_profnode_new(type, "", 0, "p.icc", "", "", "", 0, nullptr, 0, nullptr, 0, 0,
                               Recorder::callback, &r),
              nullptr);
    EXPECT_TRUE(r.has_code(CMS_ERR_REFUSED));
  }
  r.calls.clear();
  EXPECT_EQ(cms_profnode_new(9, "", 0, "p.icc", "", "", "", 0, nullptr, 0, nullptr, 0, 0,
                             Recorder::callback, &r),
            nullptr);
  EXPECT_TRUE(r.has_code(CMS_ERR_NOT_REGISTERED));
}

TEST(CmsService, EngineChoiceFallsBackToTheDefault) {
  ServerFolder server(types_file(record("1", "Good", kFixture) + record("1", "Gone", "/no/x.dll") +
                                 record("2", "Gone", "/no/x.dll") + record("2", "Good", kFixture)));
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  EXPECT_EQ(cms_type_get_info(1, "Good"), 1);
  EXPECT_EQ(cms_type_get_info(1, "Gone"), 1) << "falls back to the loaded default";
  EXPECT_EQ(cms_type_get_info(1, "Unknown"), 1);
  EXPECT_EQ(cms_type_get_info(2, "Good"), 1) << "named exactly";
  EXPECT_EQ(cms_type_get_info(2, "good"), 0) << "names match exactly; the default is not loaded";
  EXPECT_EQ(cms_type_get_info(2, nullptr), 0);
}

TEST(CmsService, ThreadBeginIsUndoneWhenAnEngineRefuses) {
  ServerFolder server(
      types_file(record("1", "Good", kFixture) + record("2", "RefuseThread", kFixture)));
  Recorder r;
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  EXPECT_EQ(cms_init_thread(Recorder::callback, &r), 0);
  EXPECT_EQ(r.names_with_code(1), (std::vector<std::string>{"begin", "begin-refused", "end"}));
}

TEST(CmsService, TerminateRefusalKeepsTheService) {
  ServerFolder server(types_file(record("1", "RefuseTerminate", kFixture)));
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  EXPECT_EQ(cms_terminate(nullptr, nullptr), 0);
  EXPECT_NE(cms_get_info(), nullptr);
  ScopedEnv let_go("KLV_FIXTURE_LET_GO", "1");
  EXPECT_EQ(cms_terminate(nullptr, nullptr), 1);
  EXPECT_EQ(cms_get_info(), nullptr);
}

TEST(CmsProfnode, NewCopyOpenCloseFree) {
  ServerFolder server(types_file(record("1", "Good", kFixture)));
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  Recorder r;
  const std::string long_arg(200, 'a');
  const char* args[] = {"short", long_arg.c_str()};
  const uint8_t extra[] = {1, 2, 3};
  cms_profnode* node = cms_profnode_new(1, "Good", 7, "p.icc", "vol", "three", "four", 2, args,
                                        sizeof extra, extra, 0x104, 0x3, Recorder::callback, &r);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(r.names_with_code(1), (std::vector<std::string>{"check"}));
  EXPECT_STREQ(node->path2, "vol");
  EXPECT_EQ(node->owns_args, 1);
  EXPECT_STREQ(node->argv[1], long_arg.c_str());
  EXPECT_EQ(node->in_format, 0x104u);

  ASSERT_EQ(cms_profnode_open_xform(cms_get_info(), node, Recorder::callback, &r), 1);
  ASSERT_NE(node->xform, nullptr);
  uint16_t px[4] = {1000, 0, 0, 0};
  node->xform->transform(node->xform->handle, node->in_format, px);
  EXPECT_EQ(px[0], 64535);
  cms_xform* open = node->xform;
  EXPECT_EQ(cms_profnode_open_xform(cms_get_info(), node, Recorder::callback, &r), 1);
  EXPECT_EQ(node->xform, open) << "an open transform is kept";

  node->next = cms_profnode_copy(node, Recorder::callback, &r);
  ASSERT_NE(node->next, nullptr);
  EXPECT_EQ(node->next->xform, nullptr);
  EXPECT_NE(node->next->argv, node->argv);
  EXPECT_EQ(std::memcmp(node->next->extra, extra, sizeof extra), 0);
  cms_profnode* copies = cms_profnode_copy_list(node, nullptr, nullptr);
  ASSERT_NE(copies, nullptr);
  ASSERT_NE(copies->next, nullptr);
  EXPECT_EQ(copies->next->next, nullptr);
  EXPECT_EQ(cms_profnode_free_list(&copies, nullptr, nullptr), 1);
  EXPECT_EQ(copies, nullptr);
  EXPECT_EQ(cms_profnode_free_list(&node, nullptr, nullptr), 1);
}

TEST(CmsProfnode, RefusalsFollowTheEngine) {
  ServerFolder server(types_file(record("1", "Good", kFixture)));
  ASSERT_EQ(cms_initialize(nullptr, nullptr), 1);
  Recorder r;
  EXPECT_EQ(cms_profnode_new(1, "", 0, "refuse-me", "", "", "", 0, nullptr, 0, nullptr, 0, 0,
                             Recorder::callback, &r),
            nullptr);
  EXPECT_TRUE(r.has_code(CMS_ERR_REFUSED));

  // An engine that opens a transform without a pixel operation gets it closed again.
  cms_profnode* half = cms_profnode_new(1, "", 0, "half-open", "", "", "", 0, nullptr, 0, nullptr,
                                        0, 0, nullptr, nullptr);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(cms_profnode_open_xform(nullptr, half, nullptr, nullptr), 0);
  EXPECT_EQ(half->xform, nullptr);

  // A list stops freeing at the node its engine keeps.
  cms_profnode* keep = cms_profnode_new(1, "", 0, "keep-me", "", "", "", 0, nullptr, 0, nullptr, 0,
                                        0, nullptr, nullptr);
  ASSERT_NE(keep, nullptr);
  half->next = keep;
  cms_profnode* list = half;
  EXPECT_EQ(cms_profnode_free_list(&list, nullptr, nullptr), 0);
  EXPECT_EQ(list, keep);
  std::strcpy(keep->path1, "let-go");
  EXPECT_EQ(cms_profnode_free_list(&list, nullptr, nullptr), 1);

  // Operations the engine does not offer refuse.
  cms_profnode* node =
      cms_profnode_new(1, "", 0, "p", "", "", "", 0, nullptr, 0, nullptr, 0, 0, nullptr, nullptr);
  r.calls.clear();
  char name[64];
  EXPECT_EQ(cms_profnode_get_name(node, name, sizeof name, Recorder::callback, &r), 0);
  EXPECT_TRUE(r.has_code(CMS_ERR_REFUSED));
  EXPECT_EQ(cms_profile_swatch_new(1, "", Recorder::callback, &r), nullptr)
      << "the fixture has no build export";
  EXPECT_EQ(cms_profnode_free(node, nullptr, nullptr), 1);
  EXPECT_EQ(cms_profnode_free(nullptr, nullptr, nullptr), 0);
}

}  // namespace
