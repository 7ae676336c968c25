#include "tables/qstringp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;

class StringTest : public tablestest::TablesTest {};

TEST_F(StringTest, NullIsNotEmpty) {
  CQmsStringPtr none;
  EXPECT_EQ(none.Length(), 0u);
  EXPECT_EQ(!none, 1);
  EXPECT_EQ(none.GetStringSize(), 0u);
  CQmsStringPtr empty("");
  EXPECT_EQ(empty.Length(), 0u);
  EXPECT_EQ(!empty, 0);
  EXPECT_FALSE(none == empty);
  EXPECT_TRUE(none == CQmsStringPtr());
  empty = static_cast<const char*>(nullptr);
  EXPECT_EQ(!empty, 1);
  empty = 'x';
  EXPECT_STREQ(empty, "x");
  empty = '\0';
  EXPECT_EQ(!empty, 1);
}

TEST_F(StringTest, StorageGrowsExactly) {
  CQmsStringPtr text(10L);
  EXPECT_EQ(text.GetStringSize(), 10u);
  EXPECT_STREQ(text, "");
  text.Append("ab");
  const char* before = text;
  text.Append("cde");  // fits: the buffer stays
  EXPECT_EQ(static_cast<const char*>(text), before);
  EXPECT_EQ(text.GetStringSize(), 10u);
  text.Append("fghijk");  // 11 characters: exactly 11 + 1 bytes
  EXPECT_EQ(text.GetStringSize(), 11u);
  EXPECT_STREQ(text, "abcdefghijk");
  text.Append(text);  // its own text
  EXPECT_STREQ(text, "abcdefghijkabcdefghijk");
  text.Prepend(static_cast<const char*>(text) + 20);
  EXPECT_STREQ(text, "jkabcdefghijkabcdefghijk");

  EXPECT_EQ(CodeOf([] { CQmsStringPtr zero(0L); }), QMS_SEVERE);
  EXPECT_NE(ErrorLog().find("*** CQmsStringPtr::Alloc\n"), std::string::npos);
  EXPECT_EQ(CodeOf([&] { text.Alloc(5); }), QMS_SEVERE);  // already has a text
  CQmsStringPtr none;
  EXPECT_EQ(CodeOf([&] { *none; }), QMS_SEVERE);
  EXPECT_EQ(CodeOf([&] { none[0]; }), QMS_SEVERE);
  none.Append("made");
  EXPECT_STREQ(none, "made");
}

TEST_F(StringTest, AdoptedBufferIsFilledButNeverGrownOrFreed) {
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  {
    CQmsStringPtr text;
    text.TakeFrom(buffer, sizeof buffer);
    text = "fifteen chars!!";
    EXPECT_STREQ(buffer, "fifteen chars!!");
    EXPECT_EQ(CodeOf([&] { text = "sixteen chars!!!"; }), QMS_SEVERE);
    EXPECT_STREQ(buffer, "fifteen chars!!");
    EXPECT_EQ(CodeOf([&] { text.Append("x"); }), QMS_SEVERE);
    EXPECT_NE(ErrorLog().find("*** CQmsStringPtr::ReallocString\n"), std::string::npos);
    EXPECT_NE(ErrorLog().find("Append failed\n"), std::string::npos);
  }  // destroying the string leaves the stack buffer alone
  EXPECT_STREQ(buffer, "fifteen chars!!");

  // GiveTo hands an adopted buffer back.
  CQmsStringPtr text;
  text.TakeFrom(buffer, sizeof buffer);
  char* out = nullptr;
  text.GiveTo(&out);
  EXPECT_EQ(out, buffer);
  EXPECT_EQ(!text, 1);

  // A lent C-heap buffer is reallocated by the first growth and then owned.
  char* heap = static_cast<char*>(std::malloc(4));
  std::memcpy(heap, "abc", 4);
  CQmsStringPtr lent;
  lent.TakeFrom(heap, 0);
  lent.Append("defgh");
  EXPECT_STREQ(lent, "abcdefgh");

  // An owned buffer is only lent out by GiveTo.
  CQmsStringPtr owned("mine");
  owned.GiveTo(&out);
  EXPECT_EQ(out, static_cast<const char*>(owned));
}

TEST_F(StringTest, CopyToGivesTheCallerABuffer) {
  CQmsStringPtr text("copy");
  char* dest = nullptr;
  text.CopyTo(&dest);
  EXPECT_STREQ(dest, "copy");
  text = "a longer copy";
  text.CopyTo(&dest);  // reallocates the caller's buffer
  EXPECT_STREQ(dest, "a longer copy");
  EXPECT_EQ(CodeOf([&] { text.CopyTo(&dest, 40); }), QMS_SEVERE_OUT_OF_MEMORY);  // not null
  std::free(dest);
  dest = nullptr;
  EXPECT_EQ(CodeOf([&] { text.CopyTo(&dest, 3); }), QMS_SEVERE);  // too small
  text.CopyTo(&dest, 40);
  EXPECT_STREQ(dest, "a longer copy");
  std::free(dest);
  dest = nullptr;
  CQmsStringPtr none;
  none.CopyTo(&dest);
  EXPECT_STREQ(dest, "");
  std::free(dest);
}

TEST_F(StringTest, Edits) {
  using Edit = std::function<void(CQmsStringPtr&)>;
  struct Case {
    const char* name;
    const char* text;
    Edit edit;
    const char* expected;
  } cases[] = {
      {"upper", "ab\xE9z\xC0", [](CQmsStringPtr& s) { s.ToUpper(); }, "AB\xE9Z\xC0"},
      {"lower", "AB\xC9Z", [](CQmsStringPtr& s) { s.ToLower(); }, "ab\xC9z"},
      {"blanks and punct", " a-b_c.d ", [](CQmsStringPtr& s) { s.RemoveBlanksAndPunct(); }, "abcd"},
      {"punct", " a-b_c.d ", [](CQmsStringPtr& s) { s.RemovePunct(); }, " abcd "},
      {"blanks", "\ta b\r\nc\v", [](CQmsStringPtr& s) { s.RemoveBlanks(); }, "abc"},
      {"numeric", "a1b22c", [](CQmsStringPtr& s) { s.RemoveNumeric(); }, "abc"},
      {"alpha", "a1b22c\xE9", [](CQmsStringPtr& s) { s.RemoveAlpha(); }, "122\xE9"},
      {"trim right", "ab \t\r\n", [](CQmsStringPtr& s) { s.TrimRight(); }, "ab"},
      {"trim left", " \t ab ", [](CQmsStringPtr& s) { s.TrimLeft(); }, "ab "},
      {"trim", "\n ab \n", [](CQmsStringPtr& s) { s.Trim(); }, "ab"},
      {"trim all", "   ", [](CQmsStringPtr& s) { s.Trim(); }, ""},
      {"reverse", "abcde", [](CQmsStringPtr& s) { s.Reverse(); }, "edcba"},
      {"replace", "a,b,c", [](CQmsStringPtr& s) { s.ReplaceChar(",x", ";y"); }, "a;b;c"},
      {"prepend", "def", [](CQmsStringPtr& s) { s.Prepend("abc"); }, "abcdef"},
      {"prepend nothing", "def", [](CQmsStringPtr& s) { s.Prepend(""); }, "def"},
      {"formatted", "n=", [](CQmsStringPtr& s) { s.AppendFormattedData("%d/%s", 7, "x"); }, "n=7/x"},
      {"sub 2 3", "abcdefg", [](CQmsStringPtr& s) { s.SubString(2, 3); }, "cde"},
      {"sub 5 10", "abcdefg", [](CQmsStringPtr& s) { s.SubString(5, 10); }, "fg"},
      {"sub 9 1", "abcdefg", [](CQmsStringPtr& s) { s.SubString(9, 1); }, "abcdefg"},
      {"sub 0 3", "abcdefg", [](CQmsStringPtr& s) { s.SubString(0, 3); }, "abc"},
      {"sub 7 1", "abcdefg", [](CQmsStringPtr& s) { s.SubString(7, 1); }, ""},
      {"sub 0 0", "abcdefg", [](CQmsStringPtr& s) { s.SubString(0, 0); }, "abcdefg"},
      {"sub 3 0", "abcdefg", [](CQmsStringPtr& s) { s.SubString(3, 0); }, ""},
  };
  for (const auto& c : cases) {
    CQmsStringPtr text(c.text);
    c.edit(text);
    EXPECT_STREQ(text, c.expected) << c.name;
  }
  // Edits leave a null text alone.
  CQmsStringPtr none;
  none.Trim();
  none.ToUpper();
  none.SubString(0, 2);
  EXPECT_EQ(!none, 1);

  CQmsStringPtr wide("");
  wide.AppendFormattedData("%s", std::string(2000, 'w').c_str());
  EXPECT_EQ(wide.Length(), 1023u);
}

TEST_F(StringTest, Comparisons) {
  CQmsStringPtr spaced("a b\tc");
  CQmsStringPtr packed("abc");
  CQmsStringPtr other("abd");
  CQmsStringPtr none;
  CQmsStringPtr blanks(" \t\n");
  EXPECT_EQ(spaced.CompareNoSpace(packed), 1);
  EXPECT_EQ(spaced.CompareNoSpace(other), 0);
  EXPECT_EQ(none.CompareNoSpace(blanks), 1);
  EXPECT_EQ(blanks.ContainsOnlyBlanks(), 1);
  EXPECT_EQ(none.ContainsOnlyBlanks(), 1);
  EXPECT_EQ(packed.ContainsOnlyBlanks(), 0);

  CQmsStringPtr same("abc");
  CQmsLongObject number(1);
  EXPECT_TRUE(packed.IsEqualValue(same));
  EXPECT_FALSE(packed.IsEqualValue(other));
  EXPECT_FALSE(packed.IsEqualValue(none));
  EXPECT_TRUE(none.IsEqualValue(none));
  EXPECT_FALSE(packed.IsEqualValue(number));
  EXPECT_EQ(ErrorLog(), "");
}

TEST_F(StringTest, CFunctions) {
  char text[] = "ab \t\r\n \t";
  TrimRight(text);
  EXPECT_STREQ(text, "ab \t\r\n");  // stops at the line end
  EXPECT_EQ(FindNonBlank("\t x"), 2);
  EXPECT_EQ(FindNonBlank(" \t"), -1);
  EXPECT_EQ(FindNonBlank(""), -1);
  EXPECT_EQ(FindNonZero("000120"), 3);
  EXPECT_EQ(FindNonZero("000"), -1);

  EXPECT_EQ(GenerateRandomNumber(0), -1);
  int first = GenerateRandomNumber(1000);
  EXPECT_GE(first, 0);
  EXPECT_LT(first, 1000);
  EXPECT_EQ(GenerateRandomNumber(1000), first);  // the same second
  clock_.now += 1;
  int large = GenerateRandomNumber(2000000000);
  EXPECT_GE(large, 0);
  EXPECT_LT(large, 2000000000);

  int32_t record[21] = {};
  EXPECT_EQ(ValidateDiskSpaceStructure(record), 1);
  record[11] = -1;  // field 12 is not examined
  EXPECT_EQ(ValidateDiskSpaceStructure(record), 1);
  record[20] = -1;
  EXPECT_EQ(ValidateDiskSpaceStructure(record), 0);
}

}  // namespace
