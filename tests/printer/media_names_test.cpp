// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "klv/prntinfo.h"

namespace {

TEST(MediaNames, SplitConfig) {
  struct Case {
    const char* text;
    const char* media;
    const char* config;
  } cases[] = {
      {"Glossy Photo [Fast] [Uni]", "Glossy Photo", "Fast, Uni"},
      {"Glossy Photo", "Glossy Photo", ""},
      {"Matte [Best] Heavy", "Matte Heavy", "Best"},
      {"[Only]", "", "Only"},
      {"Fine Art Ü [Slow]", "Fine Art Ü", "Slow"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    char media[64], config[64];
    prntinfo_split_media_config(c.text, config, media);
    EXPECT_STREQ(media, c.media) << c.text;
    EXPECT_STREQ(config, c.config) << c.text;
  }
}

TEST(MediaNames, SpecialMedia) {
  char out[64], special[64], media[64];
  EXPECT_STREQ(make_special_media(out, "Tiled", "Glossy"), "*Tiled*Glossy");
  EXPECT_STREQ(make_special_media(out, "Tiled", nullptr), "*Tiled*");
  EXPECT_STREQ(make_special_media(out, nullptr, "Glossy"), "**Glossy");
  EXPECT_STREQ(make_special_media(out, nullptr, nullptr), "**");
  struct Case {
    const char* name;
    const char* special;
    const char* media;
  } cases[] = {
      {"Glossy", "", "Glossy"}, {"*Tiled*Glossy", "Tiled", "Glossy"}, {"*Glossy", "", "Glossy"}};
  for (const Case& c : cases) {
    split_special_media(c.name, special, media);
    EXPECT_STREQ(special, c.special) << c.name;
    EXPECT_STREQ(media, c.media) << c.name;
  }
  EXPECT_STREQ(get_special_media_resolution("Glossy", "720x720@360"), "720x720@360");
  EXPECT_STREQ(get_special_media_resolution("*T*Glossy", "720x720@360"), "360");
  EXPECT_STREQ(get_special_media_resolution("*T*Glossy", "720x720@720x720"), "720x720@720x720");
  EXPECT_STREQ(get_special_media_resolution("*T*Glossy", "720x720"), "720x720");
}

TEST(MediaNames, Dimensions) {
  EXPECT_NEAR(prntinfo_dimension("297mm"), 11.6929, 1e-4);
  EXPECT_NEAR(prntinfo_dimension("297 mm"), 11.6929, 1e-4);
  EXPECT_NEAR(prntinfo_dimension("21cm"), 8.2677, 1e-4);
  EXPECT_NEAR(prntinfo_dimension("1.5 m"), 59.0551, 1e-4);
  EXPECT_DOUBLE_EQ(prntinfo_dimension("8.5"), 8.5);
  EXPECT_DOUBLE_EQ(prntinfo_dimension(nullptr), 0);
}

}  // namespace
