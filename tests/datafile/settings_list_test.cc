#include "datafile/settings_list.h"

#include <gtest/gtest.h>

namespace quenvale {
namespace {

SettingsList Parse(const std::string& text) {
  SettingsList list;
  ParseSettingsText(text, &list);
  return list;
}

TEST(SettingsListTest, LookupsIgnoreAsciiCaseOnly) {
  SettingsList list = Parse("[General]\r\nTitle=Demo\r\n");
  EXPECT_EQ(list.GetValue("title", "general"), "Demo");
  EXPECT_EQ(list.GetValue("TITLE", "GENERAL"), "Demo");
  EXPECT_EQ(list.IndexOf("title", "general"), 0);
  EXPECT_EQ(list.GetValue("title", "other"), "");
  EXPECT_EQ(list.IndexOf("title", "other"), -1);
}

TEST(SettingsListTest, RepeatedKeyKeepsFirstKeyTextAndLastValue) {
  SettingsList list = Parse("[s]\r\nKey=1\r\nKEY=2\r\n[t]\r\nkey=3\r\n");
  ASSERT_EQ(list.Entries().size(), 2u);
  EXPECT_EQ(list.Entries()[0].Key, "Key");
  EXPECT_EQ(list.Entries()[0].Value, "2");
  EXPECT_EQ(list.GetValue("key", "t"), "3");
}

TEST(SettingsListTest, GetValueDefAndGetBool) {
  SettingsList list = Parse("a=\r\nb=x\r\nt1=TRUE\r\nt2=True\r\nt3= true\r\nt4=1\r\nt5=true \r\n");
  EXPECT_EQ(list.GetValueDef("def", "a", ""), "def");
  EXPECT_EQ(list.GetValueDef("def", "missing", ""), "def");
  EXPECT_EQ(list.GetValueDef("def", "b", ""), "x");
  EXPECT_TRUE(list.GetBool("t1", ""));
  EXPECT_TRUE(list.GetBool("t2", ""));
  EXPECT_FALSE(list.GetBool("t3", ""));
  EXPECT_FALSE(list.GetBool("t4", ""));
  // The trailing blank is trimmed with the line, so this one reads true.
  EXPECT_TRUE(list.GetBool("t5", ""));
  EXPECT_FALSE(list.GetBool("missing", ""));
}

TEST(ParseSettingsTextTest, KeyLines) {
  SettingsList list = Parse("[s]\r\nkey = value\r\na=b=c\r\n=empty key\r\nempty value=\r\nno equals\r\n");
  EXPECT_EQ(list.GetValue("key", "s"), "");
  EXPECT_EQ(list.GetValue("key ", "s"), " value");
  EXPECT_EQ(list.GetValue("a", "s"), "b=c");
  EXPECT_EQ(list.GetValue("", "s"), "empty key");
  EXPECT_EQ(list.IndexOf("empty value", "s"), 3);
  EXPECT_EQ(list.GetValueDef("d", "empty value", "s"), "d");
  EXPECT_EQ(list.Entries().size(), 4u);
}

TEST(ParseSettingsTextTest, SectionHeaders) {
  SettingsList list = Parse(
      "k0=before\r\n[ spaced ]\r\nk1=1\r\n[named] trailing text\r\nk2=2\r\n[unclosed\r\nk3=3\r\n"
      "[]\r\nk4=4\r\n  [indented]\r\nk5=5\r\n");
  EXPECT_EQ(list.GetValue("k0", ""), "before");
  EXPECT_EQ(list.GetValue("k1", " spaced "), "1");
  EXPECT_EQ(list.GetValue("k1", "spaced"), "");
  EXPECT_EQ(list.GetValue("k2", "named"), "2");
  EXPECT_EQ(list.GetValue("k3", ""), "3");
  EXPECT_EQ(list.GetValue("k4", ""), "4");
  EXPECT_EQ(list.GetValue("k5", "indented"), "5");
}

TEST(ParseSettingsTextTest, CommentCut) {
  SettingsList list = Parse(
      "url=www.example.org//path\r\nlink=http://example.org\r\nname=it's fine\r\n"
      "cut=it's gone // really\r\n// whole line\r\nafter=x  // note\r\n'quoted=1\r\n");
  EXPECT_EQ(list.GetValue("url", ""), "www.example.org");
  EXPECT_EQ(list.GetValue("link", ""), "http:");
  EXPECT_EQ(list.GetValue("name", ""), "it's fine");
  EXPECT_EQ(list.GetValue("cut", ""), "it");
  EXPECT_EQ(list.GetValue("after", ""), "x");
  // An apostrophe without "//" after it is plain text, even at the start of a key.
  EXPECT_EQ(list.GetValue("'quoted", ""), "1");
  EXPECT_EQ(list.Entries().size(), 6u);
}

TEST(ParseSettingsTextTest, LoneLineFeedsMakeOneLine) {
  SettingsList list = Parse("[general]\ntitle=Demo\nversion=2\n");
  // One line: a header, whose section name is "general"; nothing after it is read.
  EXPECT_TRUE(list.Entries().empty());
  SettingsList keys = Parse("title=Demo\nversion=2\n");
  ASSERT_EQ(keys.Entries().size(), 1u);
  EXPECT_EQ(keys.Entries()[0].Value, "Demo\nversion=2");
}

TEST(ParseSettingsTextTest, ByteOrderMarkHidesTheFirstHeader) {
  SettingsList list = Parse("\xEF\xBB\xBF[general]\r\ntitle=Demo\r\n");
  EXPECT_EQ(list.GetValue("title", "general"), "");
  EXPECT_EQ(list.GetValue("title", ""), "Demo");
}

TEST(ParseSettingsTextTest, ControlCharactersAreTrimmed) {
  SettingsList list = Parse("\t key=v\t\x01\r\n\r\n\r\n   \r\n");
  EXPECT_EQ(list.GetValue("key", ""), "v");
  EXPECT_EQ(list.Entries().size(), 1u);
}

TEST(InspectSettingsTextTest, FindsWhatMakesTheTextReadOddly) {
  auto remarks = InspectSettingsText(
      "\xEF\xBB\xBF[general]\r\nkey = v\r\nurl=http://x.org\r\nok=1 // fine\r\na=b\nc=d\r\n");
  std::vector<std::pair<SettingsTextRemark::Kind, int>> found;
  for (const auto& r : remarks) found.emplace_back(r.kind, r.line);
  std::vector<std::pair<SettingsTextRemark::Kind, int>> expected = {
      {SettingsTextRemark::kByteOrderMark, 1},
      {SettingsTextRemark::kBlankAroundEquals, 2},
      {SettingsTextRemark::kCommentCut, 3},
      {SettingsTextRemark::kLoneLineFeed, 5}};
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(InspectSettingsText("[general]\r\ntitle=Demo\r\n").empty());
}

}  // namespace
}  // namespace quenvale
