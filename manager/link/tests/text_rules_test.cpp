#include "link/text_rules.h"

#include <gtest/gtest.h>

namespace kelm::link {
namespace {

struct TextCase {
  std::u16string in;
  std::u16string out;
};

TEST(CutMessageTail, CutsControlCharactersBlanksAndDots) {
  const TextCase cases[] = {
      {u"The handle is invalid.\r\n", u"The handle is invalid"},
      {u"Access is denied. \r\n", u"Access is denied"},
      {u"Done...", u"Done"},
      {u"No tail", u"No tail"},
      {u"v1.2 failed!\n", u"v1.2 failed!"},
      {u"\r\n", u""},
      {u"", u""},
  };
  for (const TextCase& c : cases) EXPECT_EQ(CutMessageTail(c.in), c.out);
}

TEST(AddBackslash, AppendsOnlyWhenMissing) {
  const TextCase cases[] = {{u"C:\\Windows", u"C:\\Windows\\"},
                            {u"C:\\Windows\\", u"C:\\Windows\\"},
                            {u"", u""},
                            {u"C:", u"C:\\"}};
  for (const TextCase& c : cases) EXPECT_EQ(AddBackslash(c.in), c.out);
}

TEST(SystemDirWithFlag, HasOneTrailingBackslashExactlyWhenAsked) {
  EXPECT_EQ(SystemDirWithFlag(u"C:\\Windows\\system32", true), u"C:\\Windows\\system32\\");
  EXPECT_EQ(SystemDirWithFlag(u"C:\\Windows\\system32\\", true), u"C:\\Windows\\system32\\");
  EXPECT_EQ(SystemDirWithFlag(u"C:\\Windows\\system32", false), u"C:\\Windows\\system32");
  EXPECT_EQ(SystemDirWithFlag(u"C:\\Windows\\system32\\", false), u"C:\\Windows\\system32");
  // One character or none is left as it is.
  EXPECT_EQ(SystemDirWithFlag(u"\\", false), u"\\");
  EXPECT_EQ(SystemDirWithFlag(u"C", true), u"C");
  EXPECT_EQ(SystemDirWithFlag(u"", true), u"");
}

TEST(IsHtmlDocument, OnlyHtmAndHtmlInAnyCase) {
  EXPECT_TRUE(IsHtmlDocument(u"C:\\help\\index.html"));
  EXPECT_TRUE(IsHtmlDocument(u"C:\\help\\index.HtM"));
  EXPECT_FALSE(IsHtmlDocument(u"C:\\help\\index.chm"));
  EXPECT_FALSE(IsHtmlDocument(u"C:\\help.html\\readme"));
  EXPECT_FALSE(IsHtmlDocument(u"C:\\help\\html"));
  EXPECT_FALSE(IsHtmlDocument(u""));
}

TEST(IsBlankPath, BlanksAndControlCharactersOnly) {
  EXPECT_TRUE(IsBlankPath(u""));
  EXPECT_TRUE(IsBlankPath(u"   \t "));
  EXPECT_FALSE(IsBlankPath(u"  a "));
}

}  // namespace
}  // namespace kelm::link
