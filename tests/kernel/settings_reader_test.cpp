// SPDX-License-Identifier: MIT
// The settings text reader: tokens, blocks, lists, values and limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "klv/kernel_settings.h"
#include "klv/kernel_stream.h"
#include "klv/kernel_settings.h"
#include "support/files.h"

namespace {

using klv::test::read_text;
using klv::test::ScratchFolder;

// Reads every token of `text` into one line: words in brackets, braces as
// themselves, then <end> or <error>.
std::string tokens(const ScratchFolder& dir, const std::string& text) {
  SFPARSE* fp = fp_open(nullptr, dir.write("t.info", text).c_str(), 0);
  if (!fp) return "(no reader)";
  std::string out;
  char buf[256];
  for (int guard = 0; guard < 100; ++guard) {
    int32_t t = fp_get_token(fp, buf, sizeof buf);
    if (!out.empty()) out += ' ';
    if (t == KLV_FP_WORD)
      out += std::string("[") + buf + "]";
    else if (t == KLV_FP_OPEN || t == KLV_FP_CLOSE)
      out += buf;
    else {
      out += t == KLV_FP_END ? "<end>" : "<error>";
      break;
    }
  }
  fp_close(fp);
  return out;
}

TEST(SettingsReader, Tokens) {
  struct Case {
    const char* text;
    const char* expect;
  } cases[] = {
      {"", "<end>"},
      {"Key { value }", "[Key] { [value] } <end>"},
      {"Key{value}", "[Key] { [value] } <end>"},
      {"\"a b\" \"\" x", "[a b] [] [x] <end>"},
      {"\"C:\\Data\\x\" C:\\y\\", "[C:\\Data\\x] [C:\\y\\] <end>"},
      {";\n; Printer_Types.info\n;\nPrinter_Types", "[Printer_Types] <end>"},
      {"A ; rest { of line\nB", "[A] [B] <end>"},
      {"a;b x\"y", "[a;b] [x\"y] <end>"},
      {"\"{ }\" \"multi\nline\"", "[{ }] [multi\nline] <end>"},
      {"a\tb\r\nc\f", "[a] [b] [c] <end>"},
      {"{ { a b } { c } }", "{ { [a] [b] } { [c] } } <end>"},
      {"}", "} <end>"},
      {"ok \"unterminated", "[ok] <error>"},
      {"\"\"\"\"", "[] [] <end>"},
  };
  ScratchFolder dir;
  for (const Case& c : cases) EXPECT_EQ(tokens(dir, c.text), c.expect) << c.text;
}

TEST(SettingsReader, QuotedFlagAndPeek) {
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr, dir.write("p.info", "\"{\" {").c_str(), 0);
  ASSERT_NE(fp, nullptr);
  char buf[8];
  EXPECT_EQ(fp_peek_token(fp, buf, sizeof buf), KLV_FP_WORD);
  EXPECT_EQ(fp_token_quoted(fp), 1);
  EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_WORD);
  EXPECT_STREQ(buf, "{");
  EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_OPEN);
  EXPECT_EQ(fp_token_quoted(fp), 0);
  fp_close(fp);
}

// Tokens of many lengths cross the reader's block boundaries intact.
TEST(SettingsReader, LongInputAcrossBlocks) {
  std::vector<std::string> words;
  std::string text;
  for (int i = 0; i < 400; ++i) {
    std::string w(1 + (i * 997) % 3000, static_cast<char>('a' + i % 26));
    bool quote = i % 3 == 0;
    if (quote) w[w.size() / 2] = ' ';
    words.push_back(w);
    text += quote ? "\"" + w + "\"" : w;
    text += i % 7 == 0 ? "\n  " : " ";
  }
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr, dir.write("long.info", text).c_str(), 0);
  ASSERT_NE(fp, nullptr);
  std::vector<char> buf(4096);
  for (const std::string& w : words) {
    ASSERT_EQ(fp_get_token(fp, buf.data(), static_cast<int32_t>(buf.size())), KLV_FP_WORD);
    ASSERT_EQ(std::string(buf.data()), w);
  }
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_END);
  fp_close(fp);
}

TEST(SettingsReader, TokenCutWithoutSplittingCharacters) {
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr, dir.write("u.info", "\xC3\xA9\xC3\xA9\xC3\xA9 next").c_str(), 0);
  ASSERT_NE(fp, nullptr);
  char buf[4];
  EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_WORD);
  EXPECT_STREQ(buf, "\xC3\xA9");  // the second character would not fit whole
  EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_WORD);
  EXPECT_STREQ(buf, "nex");
  fp_close(fp);
}

TEST(SettingsReader, Limits) {
  ScratchFolder dir;
  std::string long_token(KLV_FP_MAX_TOKEN + 10, 'x');
  EXPECT_EQ(tokens(dir, long_token), "<error>");
  std::string exact(KLV_FP_MAX_TOKEN, 'x');
  SFPARSE* fp = fp_open(nullptr, dir.write("e.info", exact).c_str(), 0);
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_WORD);
  fp_close(fp);

  std::string deep(KLV_FP_MAX_DEPTH + 1, '{');
  fp = fp_open(nullptr, dir.write("d.info", deep).c_str(), 0);
  int32_t t = KLV_FP_OPEN;
  int opens = 0;
  while ((t = fp_get_token(fp, nullptr, 0)) == KLV_FP_OPEN) ++opens;
  EXPECT_EQ(t, KLV_FP_ERROR);
  EXPECT_EQ(opens, KLV_FP_MAX_DEPTH);
  // An error sticks.
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_ERROR);
  EXPECT_EQ(fp_get_list(fp), nullptr);
  fp_close(fp);
}

TEST(SettingsReader, Blocks) {
  ScratchFolder dir;
  std::string p = dir.write("b.info",
                            "First { x { y { z } } w }\n"
                            "Second { Inner { 1 } Other { 2 } }\n"
                            "Sets { Settings { P { 1 } } Skip { } Settings { P { 2 } } }\n");
  SFPARSE* fp = fp_open(nullptr, p.c_str(), 0);
  ASSERT_NE(fp, nullptr);
  char buf[32];

  // Case-insensitive, skipping the first block with its nested values.
  ASSERT_EQ(fp_open_block(fp, "SECOND"), 1);
  EXPECT_EQ(fp_open_block(fp, "Missing"), 0);
  // The closing brace of Second was not consumed by the failed search.
  EXPECT_EQ(fp_peek_token(fp, buf, sizeof buf), KLV_FP_CLOSE);
  EXPECT_EQ(fp_close_block(fp), 1);

  // Repeated blocks, one after the other.
  ASSERT_EQ(off_find_rec(fp, "Sets"), 1);
  for (int expect = 1; expect <= 2; ++expect) {
    ASSERT_EQ(off_find_rec(fp, "Settings"), 1);
    EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_WORD);
    EXPECT_STREQ(buf, "P");
    int32_t v = 0;
    EXPECT_EQ(fp_get_int(fp, &v), 1);
    EXPECT_EQ(v, expect);
    EXPECT_EQ(fp_close_block(fp), 1);
  }
  EXPECT_EQ(off_find_rec(fp, "Settings"), 0);
  EXPECT_EQ(fp_close_block(fp), 1);
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_END);

  // off_open_rec starts again from the top.
  ASSERT_EQ(off_open_rec(fp, "First"), 1);
  EXPECT_EQ(fp_get_token(fp, buf, sizeof buf), KLV_FP_WORD);
  EXPECT_STREQ(buf, "x");
  EXPECT_EQ(fp_skip_value(fp), 1);  // { y { z } }
  EXPECT_EQ(fp_skip_value(fp), 1);  // w
  EXPECT_EQ(fp_skip_value(fp), 0);  // the closing brace stays
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_CLOSE);
  fp_close(fp);
}

TEST(SettingsReader, BlockThatDoesNotClose) {
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr, dir.write("n.info", "A { B { 1 } C { 2 ").c_str(), 0);
  ASSERT_EQ(fp_open_block(fp, "A"), 1);
  EXPECT_EQ(fp_close_block(fp), 0);
  fp_close(fp);
}

std::string list_text(const SSTRAL* list) {
  std::string out;
  for (int32_t i = 0; i < stral_count(list); ++i) {
    if (i) out += '|';
    int32_t n = 0;
    const char* const* s = stral_get(list, i, &n);
    for (int32_t j = 0; j < n; ++j) out += (j ? "," : "") + std::string(s[j]);
  }
  return out;
}

TEST(SettingsReader, Lists) {
  struct Case {
    const char* text;
    int32_t count;  // -1: no list
    const char* expect;
  } cases[] = {
      {"{ { a b } { c d } }", 2, "a,b|c,d"},
      {"{ a b }", 1, "a,b"},
      {"{ }", 0, ""},
      {"{ { } }", 1, ""},
      {"{ { \"x y\" \"\" } }", 1, "x y,"},
      {"{ { a { b c } } }", 1, "a,b,c"},
      {"{ x { y } z }", 2, "x,z|y"},
      {"{ { a }", -1, ""},
      {"word", -1, ""},
  };
  ScratchFolder dir;
  for (const Case& c : cases) {
    SFPARSE* fp = fp_open(nullptr, dir.write("l.info", c.text).c_str(), 0);
    SSTRAL* list = fp_get_list(fp);
    if (c.count < 0) {
      EXPECT_EQ(list, nullptr) << c.text;
    } else {
      ASSERT_NE(list, nullptr) << c.text;
      EXPECT_EQ(stral_count(list), c.count) << c.text;
      EXPECT_EQ(list_text(list), c.expect) << c.text;
      EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_END) << c.text;
    }
    stral_free(list);
    fp_close(fp);
  }
  // A word where a list belongs is left for the caller.
  SFPARSE* fp = fp_open(nullptr, dir.write("w.info", "word").c_str(), 0);
  EXPECT_EQ(fp_get_list(fp), nullptr);
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_WORD);
  fp_close(fp);
}

TEST(SettingsReader, CharList) {
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr, dir.write("c.info", "{ a \"b c\" { d } } { }").c_str(), 0);
  int32_t n = -1;
  char** list = get_char_list(fp, &n);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(n, 3);
  EXPECT_STREQ(list[0], "a");
  EXPECT_STREQ(list[1], "b c");
  EXPECT_STREQ(list[2], "d");
  EXPECT_EQ(list[3], nullptr);
  free_char_list(list);
  list = get_char_list(fp, &n);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(list[0], nullptr);
  free_char_list(list);
  fp_close(fp);
}

TEST(SettingsReader, Values) {
  ScratchFolder dir;
  SFPARSE* fp = fp_open(nullptr,
                        dir.write("v.info",
                                  "{ hello   world } { \"C:\\x y\" } { } { a { b } } {\n"
                                  " -12 } { 4294967295 } { 18446744073709551615 } { -1e-300 }")
                            .c_str(),
                        0);
  char buf[32];
  EXPECT_EQ(fp_get_string(fp, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "hello world");
  EXPECT_EQ(fp_get_string(fp, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "C:\\x y");
  EXPECT_EQ(fp_get_string(fp, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(fp_get_string(fp, buf, sizeof buf), 0);  // a list inside, consumed whole
  int32_t i = 0;
  EXPECT_EQ(fp_get_int(fp, &i), 1);
  EXPECT_EQ(i, -12);
  uint32_t u = 0;
  EXPECT_EQ(fp_get_uint(fp, &u), 1);
  EXPECT_EQ(u, 4294967295u);
  uint64_t q = 0;
  EXPECT_EQ(fp_get_uint64(fp, &q), 1);
  EXPECT_EQ(q, UINT64_MAX);
  double d = 0;
  EXPECT_EQ(fp_get_double(fp, &d), 1);
  EXPECT_EQ(d, -1e-300);
  EXPECT_EQ(fp_get_token(fp, nullptr, 0), KLV_FP_END);
  fp_close(fp);
}

TEST(SettingsReader, BadNumbers) {
  struct Case {
    const char* text;
    char kind;  // i int32, u uint32, d double
  } cases[] = {
      {"{ 2147483648 }", 'i'},
      {"{ 1.5 }", 'i'},
      {"{ abc }", 'i'},
      {"{ 1 2 }", 'i'},
      {"{ }", 'i'},
      {"7", 'i'},
      {"{ -1 }", 'u'},
      {"{ 4294967296 }", 'u'},
      {"{ 1,5 }", 'd'},
      {"{ 0x10 }", 'd'},
      {"{ 1e }", 'd'},
  };
  ScratchFolder dir;
  for (const Case& c : cases) {
    SFPARSE* fp = fp_open(nullptr, dir.write("n.info", c.text).c_str(), 0);
    int32_t i = 99;
    uint32_t u = 99;
    double d = 99;
    int32_t r = c.kind == 'i'   ? fp_get_int(fp, &i)
                : c.kind == 'u' ? fp_get_uint(fp, &u)
                                : fp_get_double(fp, &d);
    EXPECT_EQ(r, 0) << c.text;
    EXPECT_TRUE(i == 99 && u == 99 && d == 99) << c.text;  // outputs untouched
    fp_close(fp);
  }
}

// A reader attached to a stream gives the stream back just after the last
// token it consumed, so the caller can go on reading.
TEST(SettingsReader, AttachLeavesStreamAfterLastToken) {
  ScratchFolder dir;
  std::string p = dir.write("a.info", "Answers { 1 2 } tail of the file\n");
  SFilemux* s = Ovfopen(nullptr, p.c_str(), "rb");
  ASSERT_NE(s, nullptr);
  SFPARSE* fp = fp_attach(s);
  ASSERT_EQ(fp_open_block(fp, "Answers"), 1);
  EXPECT_EQ(fp_close_block(fp), 1);
  char peeked[16];
  EXPECT_EQ(fp_peek_token(fp, peeked, sizeof peeked), KLV_FP_WORD);  // not consumed
  fp_close(fp);
  char line[64];
  ASSERT_NE(Ogets(line, sizeof line, s), nullptr);
  EXPECT_STREQ(line, " tail of the file\n");
  Oclose(s);
}

TEST(SettingsReader, NullHandles) {
  EXPECT_EQ(fp_open(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(fp_open(nullptr, "/nonexistent/x.info", 0), nullptr);
  EXPECT_EQ(fp_attach(nullptr), nullptr);
  EXPECT_EQ(fp_get_token(nullptr, nullptr, 0), KLV_FP_ERROR);
  EXPECT_EQ(fp_open_block(nullptr, "x"), 0);
  EXPECT_EQ(fp_get_list(nullptr), nullptr);
  EXPECT_EQ(fp_close(nullptr), 0);
}

}  // namespace
