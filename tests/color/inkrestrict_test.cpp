// SPDX-License-Identifier: MIT
// Ink restriction curves and files.
#include "klv/inkrestrict.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/files.h"
#include "support/log_capture.h"
#include "support/resources.h"

namespace {

using kelv::inkrestrict::ChannelSeps;
using kelv::inkrestrict::InkConfiguration;
using kelv::inkrestrict::InkRestrictFile;
using kelv::inkrestrict::SepCurve;
namespace fs = std::filesystem;

TEST(SepCurve, LinearAndSplineValues) {
  SepCurve c("Cyan");
  EXPECT_FLOAT_EQ(c.getValue(37), 37) << "no points: x passes through";
  c.setSplineMode(true);
  EXPECT_FLOAT_EQ(c.getValue(37), 0) << "a spline needs two points";
  c.setSplineMode(false);
  c.addPoint(10, 5);
  c.addPoint(100, 50);
  struct Row {
    float x, linear;
  };
  for (Row r : {Row{0, 5}, Row{10, 5}, Row{55, 27.5f}, Row{100, 50}, Row{150, 50}})
    EXPECT_FLOAT_EQ(c.getValue(r.x), r.linear) << r.x;
  c.setSplineMode(true);
  EXPECT_NEAR(c.getValue(55), 27.5, 1e-4) << "a straight line stays straight";
  EXPECT_NEAR(c.getValue(120), 60, 1e-4) << "the last segment is extended";

  SepCurve s("Magenta");
  s.setSplineMode(true);
  for (auto [x, y] : {std::pair{0.f, 0.f}, {50.f, 90.f}, {100.f, 100.f}}) s.addPoint(x, y);
  EXPECT_FLOAT_EQ(s.getValue(50), 90);
  EXPECT_FLOAT_EQ(s.getValue(75), 100) << "the overshoot is clamped to 100";
  EXPECT_FLOAT_EQ(s.getValue(-50), 0) << "below 0 is clamped";
  // Changing the points rebuilds the derivatives.
  EXPECT_TRUE(s.remove_nth(1));
  EXPECT_NEAR(s.getValue(50), 50, 1e-4);
  EXPECT_FALSE(s.remove_nth(2));
  SepCurve copy;
  copy.copy(s);
  EXPECT_EQ(copy.getName(), "Magenta");
  EXPECT_TRUE(copy.getSplineMode());
  copy.reset();
  EXPECT_TRUE(copy.getPoints().empty());
}

class InkRestrictFileTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    return scratch_.write(name, text);
  }
  klv::test::ScratchFolder scratch_{"inkrestrict"};
  const fs::path& dir_ = scratch_.path();
};

TEST_F(InkRestrictFileTest, WriteAndReadBack) {
  InkConfiguration inks{2, 0, {"Cyan", "Light Cyan & Co", "Black"}};
  InkRestrictFile f(2, 0, inks);
  ASSERT_EQ(f.getChannelCount(), 2);
  auto c = f.getChannelSeps(1)->getSep(0);
  c->addPoint(0, 0);
  c->addPoint(100, 80);
  c->setSplineMode(true);
  f.getChannelSeps(0)->getSep(1)->addPoint(12.5f, 3.25f);
  EXPECT_EQ(f.getChannelSeps(0)->getSep(1)->getName(), "Light Cyan") << "names keep 10 characters";
  EXPECT_EQ(f.getChannelSeps(0)->getSep(3), nullptr);
  EXPECT_EQ(f.getChannelSeps(0)->getSep(-1), nullptr);
  EXPECT_EQ(f.getSepCurve("LIGHT cyan"), f.getChannelSeps(0)->getSep(1));
  EXPECT_EQ(f.getSepCurve("Orange"), nullptr);

  std::string text = f.toText();
  EXPECT_NE(text.find("<InkRestrict samples=\"2\" spotsamples=\"0\" hifi=\"2\" photo=\"0\">\n"),
            std::string::npos);
  EXPECT_NE(text.find("      <Separation name=\"Cyan\" spline=\"true\" index=\"0\">\n"
                      "        <Point x=\"0.000000\" y=\"0.000000\"/>\n"),
            std::string::npos);

  std::string path = (dir_ / "r.xml").string();
  ASSERT_TRUE(f.writeFile(nullptr, path.c_str()));
  auto back = InkRestrictFile::ReadFile(nullptr, path.c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->getHifiMode(), 2);
  EXPECT_EQ(back->getFilename(), path);
  EXPECT_EQ(back->toText(), text);
  auto b = back->getChannelSeps(1)->getSep(0);
  EXPECT_TRUE(b->getSplineMode());
  EXPECT_EQ(b->getPoints(), c->getPoints());
}

TEST_F(InkRestrictFileTest, BadFilesFail) {
  const char* head = "<?xml version=\"1.0\"?>";
  struct Row {
    const char* name;
    std::string text;
    const char* logged;  // part of the line the refusal logs
  };
  const Row rows[] = {
      {"notxml", "hello", "is not well-formed XML"},
      {"root", std::string(head) + "<Other/>", "the root element is not InkRestrict"},
      {"point",
       std::string(head) + "<InkRestrict><Channels><Channel><Separation name=\"C\">"
                           "<Point x=\"1\"/></Separation></Channel></Channels></InkRestrict>",
       "a Point of C lacks a number x or y"},
      {"noname",
       std::string(head) + "<InkRestrict><Channels><Channel><Separation/></Channel></Channels>"
                           "</InkRestrict>",
       "a Separation has no name"},
      {"missing", "", "cannot be opened"},
  };
  {
    klv::test::ResourceCheck resources({scratch_.str()});
    klv::test::LogCapture log;
    for (const Row& r : rows) {
      const std::string path = r.text.empty() ? (dir_ / r.name).string() : Write(r.name, r.text);
      EXPECT_EQ(InkRestrictFile::ReadFile(nullptr, path.c_str()), nullptr) << r.name;
      const std::string logged = log.Take();
      EXPECT_NE(logged.find(r.logged), std::string::npos) << r.name << ": " << logged;
      std::filesystem::remove(path);
    }
    EXPECT_EQ(resources.Leaks(), "");
  }
  // Unknown elements are skipped.
  auto ok = InkRestrictFile::ReadFile(
      nullptr, Write("ok", std::string(head) +
                               "<InkRestrict samples=\"1\"><Extra/><Channels><Note/><Channel>"
                               "<Separation name=\"K\"><Point x=\"0\" y=\"1\"/></Separation>"
                               "</Channel></Channels></InkRestrict>")
                   .c_str());
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->getSamples(), 1);
  EXPECT_FLOAT_EQ(ok->getSepCurve("k")->getValue(50), 1);
}

}  // namespace
