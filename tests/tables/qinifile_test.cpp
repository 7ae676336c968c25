#include "tables/qinifile.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tables/qvariant.h"
#include "tests/tables/tables_fixture.h"

namespace {

using tablestest::CodeOf;
using tablestest::TablesTest;

// The protected line readers.
class IniProbe : public CQmsIniFile {
 public:
  using CQmsIniFile::CQmsIniFile;
  using CQmsIniFile::GetItemName;
  using CQmsIniFile::GetValueString;
};

// The texts a collection holds, then destroys them.
std::vector<std::string> Texts(CQmsIndexedCollection& out) {
  std::vector<std::string> texts;
  for (long i = 0; i < out.GetCount(); i++) {
    const char* text = *static_cast<CQmsVariant*>(out.GetAtIndex(i));
    texts.push_back(text ? text : "");
  }
  out.RemoveAndDestroyAllItems();
  return texts;
}

class IniFileTest : public TablesTest {
 protected:
  std::string Write(const std::string& text) { return dir_.Write("settings.ini", text); }
  std::string Read() const { return testsupport::ReadAll(dir_.File("settings.ini")); }
};

TEST_F(IniFileTest, ReadsValuesByCaseFreeSectionAndItemNames) {
  std::string path = Write("; comment\r\n[a]\r\nb=1=2\r\n[Numbers]  \r\n n = 7 \nreal=2.5x\nneg=-1\nbig=99999999999\n"
                           "flag=300\nbare\n");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  EXPECT_STREQ(ini.ReadItemValueString("a", "b", "none"), "1");  // a value stops at the next "="
  EXPECT_STREQ(ini.ReadItemValueString("[A]", "B", "none"), "1");
  EXPECT_STREQ(ini.ReadItemValueString("a", "c", "none"), "none");
  EXPECT_STREQ(ini.ReadItemValueString("numbers", " n ", "none"), " 7");  // blanks around "=" stay
  EXPECT_STREQ(ini.ReadItemValueString("numbers", "bare", "none"), "");
  EXPECT_EQ(ini.ReadItemValueInt("numbers", " n ", 0), 7);
  EXPECT_DOUBLE_EQ(ini.ReadItemValueDouble("numbers", "real", 0), 2.5);
  EXPECT_EQ(ini.ReadItemValueLongInt("numbers", "big", 0), 2147483647);
  EXPECT_EQ(ini.ReadUnsignedLong("numbers", "neg", 0), 4294967295ul);
  EXPECT_EQ(ini.ReadItemValueLogical("numbers", "flag", 0), 44);  // kept to one byte
  EXPECT_EQ(ini.ReadItemValueInt("numbers", "missing", -5), -5);
  EXPECT_TRUE(ini.SectionExists("NUMBERS"));
  EXPECT_TRUE(ini.ItemExists("Numbers", "REAL"));
  EXPECT_FALSE(ini.ItemExists("a", "real"));
  CQmsIndexedCollection out;
  ini.ReadSections(out);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{"[a]", "[Numbers]"}));
  ini.ReadPatternSections("num", out);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{"[Numbers]"}));
  ini.ReadItemNames("numbers", out);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{" n ", "real", "neg", "big", "flag", "bare"}));
}

TEST_F(IniFileTest, LinesWithoutAnItemNameAreBadAndPassedOver) {
  std::string path = Write("[a]\n===\n=x\nb=2\n");
  IniProbe ini(path.c_str(), 0, 0, 0);
  EXPECT_STREQ(ini.ReadItemValueString("a", "b", "none"), "2");
  EXPECT_FALSE(ini.ItemExists("a", "x"));
  CQmsIndexedCollection out;
  ini.ReadItemNames("a", out);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{"b"}));
  EXPECT_EQ(CodeOf([&] { ini.GetItemName("==="); }), QMS_SEVERE_BAD_INPUT);
  EXPECT_EQ(CodeOf([&] { ini.GetValueString("=x"); }), QMS_SEVERE_BAD_INPUT);
  EXPECT_EQ(CodeOf([&] { ini.GetItemName(""); }), QMS_SEVERE_INVALID_ARGUMENT);
  EXPECT_STREQ(ini.GetValueString("k"), "");
}

TEST_F(IniFileTest, WritesGoToTheCacheAndFlushRewritesTheFile) {
  std::string path = Write("");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  ini.WriteItemValueString("S", "key", "v", "unused comment");
  ini.Flush();
  EXPECT_EQ(Read(), "[S]\nkey=v\n");  // the empty line before the new section is dropped at the start

  Write("[a]\nx=1\n\n\n[b]\ny=2\n");
  CQmsIniFile again(path.c_str(), 0, 0, 0);
  again.WriteItemValueInt("a", "z", 3, "");
  again.WriteItemValueDouble("b", "y", 0.5, "");
  again.WriteUnsignedLong("c", "u", 4294967295ul, "");
  again.WriteItemValueLogical("c", "l", 1, "");
  again.Flush();
  EXPECT_EQ(Read(), "[a]\nx=1\nz=3\n\n[b]\ny=0.500000\n\n[c]\nu=-1\nl=1\n");
  EXPECT_EQ(again.ReadUnsignedLong("c", "u", 0), 4294967295ul);
  // A shorter cache leaves nothing of the longer file behind.
  again.DeleteSection("b");
  again.DeleteSection("c");
  again.Flush();
  EXPECT_EQ(Read(), "[a]\nx=1\nz=3\n");
}

TEST_F(IniFileTest, FlushRefusesWhenItCannotRewriteTheWholeFile) {
  std::string path = Write("[a]\nx=1\n");
  // Opened for reading only.
  CQmsIniFile reader;
  reader.SetFilename(path.c_str(), CQmsIniFile::kModeRead);
  reader.WriteItemValueString("a", "x", "2", "");
  EXPECT_EQ(CodeOf([&] { reader.Flush(); }), QMS_SEVERE_WRITE_FILE);
  // A line too long ends the load: the file is not rewritten without its tail.
  Write("[a]\nx=1\nlong=" + std::string(3100, 'v') + "\ny=2\n");
  CQmsIniFile partial(path.c_str(), 0, 0, 0);
  EXPECT_TRUE(partial.ItemExists("a", "x"));
  EXPECT_FALSE(partial.ItemExists("a", "y"));
  EXPECT_EQ(CodeOf([&] { partial.Flush(); }), QMS_SEVERE_WRITE_FILE);
  // The rename fails: the file stays as it was and no temporary is left.
  struct NoRename : platform::EnvWrapper {
    NoRename() : platform::EnvWrapper(platform::Env::Current()), scope(*this) {}
    int Rename(std::string_view, std::string_view) override { return -1; }
    platform::ScopedEnv scope;
  };
  Write("[a]\nx=1\n");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  ini.WriteItemValueString("a", "x", "9", "");
  {
    NoRename failing;
    EXPECT_EQ(CodeOf([&] { ini.Flush(); }), QMS_SEVERE_WRITE_FILE);
  }
  EXPECT_EQ(Read(), "[a]\nx=1\n");
  std::vector<std::string> names;
  platform::Env::Current().ListDirectory(dir_.path(), &names);
  for (const std::string& name : names) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(IniFileTest, DeleteSectionTakesOnlyAnEmptyLineBeforeItsHeader) {
  std::string path = Write("[first]\na=1\n;about second\n[second]\nb=2\n\n[third]\nc=3\n");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  ini.DeleteSection("second");
  ini.DeleteSection("third");
  ini.DeleteSection("missing");
  ini.Flush();
  EXPECT_EQ(Read(), "[first]\na=1\n;about second\n");
  // A section on the first line goes and the call succeeds.
  Write("[first]\na=1\n[next]\nb=2\n");
  CQmsIniFile top(path.c_str(), 0, 0, 0);
  top.DeleteSection("first");
  EXPECT_FALSE(top.SectionExists("first"));
  EXPECT_TRUE(top.ReadItemValueString("first", "a", nullptr) == nullptr);
  top.Flush();
  EXPECT_EQ(Read(), "[next]\nb=2\n");
  EXPECT_EQ(CodeOf([&] { top.DeleteItem("first", "a"); }), QMS_SEVERE_OUT_OF_BOUNDS);
}

TEST_F(IniFileTest, MultipleStringsJoinAndSplitAtBars) {
  std::string path = Write("[s]\nlist=old\n");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  CQmsIndexedCollection values;
  values.Add(new CQmsVariant("a"));
  EXPECT_EQ(ini.WriteMultipleItemStrings("s", "list", values, ""), 1);
  EXPECT_STREQ(ini.ReadItemValueString("s", "list", ""), "a");
  values.Add(new CQmsVariant("b"));
  values.Add(new CQmsVariant("c"));
  EXPECT_EQ(ini.WriteMultipleItemStrings("s", "list", values, ""), 3);
  EXPECT_STREQ(ini.ReadItemValueString("s", "list", ""), "a|b|c");
  EXPECT_EQ(ini.WriteMultipleItemStrings("s", "missing", values, ""), 0);
  EXPECT_FALSE(ini.ItemExists("s", "missing"));
  values.RemoveAndDestroyAllItems();
  EXPECT_EQ(CodeOf([&] { ini.WriteMultipleItemStrings("s", "list", values, ""); }), QMS_SEVERE_OUT_OF_BOUNDS);
  CQmsIndexedCollection out;
  EXPECT_EQ(ini.ReadMultipleItemStrings("s", "list", out), 3);
  EXPECT_EQ(Texts(out), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ini.ReadMultipleItemStrings("s", "missing", out), 0);
}

TEST_F(IniFileTest, ModesDecideWhatIsOpenedCreatedAndReplaced) {
  std::string path = dir_.File("settings.ini");
  CQmsIniFile reader;
  reader.SetFilename(path.c_str(), CQmsIniFile::kModeRead);
  EXPECT_EQ(reader.FileExists(), 0);  // a missing file is not made for reading
  CQmsIniFile created(path.c_str(), 0, 0, 0);
  EXPECT_EQ(created.FileExists(), 1);
  Write("[a]\nx=1\n");
  CQmsIniFile writer;
  writer.SetFilename(path.c_str(), CQmsIniFile::kModeWrite);
  EXPECT_FALSE(writer.SectionExists("a"));  // write mode replaces the file
  EXPECT_EQ(Read(), "");
  writer.SetFilename(path.c_str(), CQmsIniFile::kModeReadWrite);  // the same name: nothing happens
  EXPECT_STREQ(writer.GetFilename(), path.c_str());
  EXPECT_STREQ(writer.GetVersion(), "1.0.0");
  writer.ClearRemnants();
  writer.WriteItemValueString("b", "y", "2", "");
  writer.Flush();
  EXPECT_EQ(Read(), "[b]\ny=2\n");
}

TEST_F(IniFileTest, EmptyTextsAndBadNamesAreInvalidArguments) {
  std::string path = Write("[a]\nx=1\n");
  CQmsIniFile ini(path.c_str(), 0, 0, 0);
  CQmsIndexedCollection out;
  const std::function<void()> calls[] = {
      [&] { ini.SetFilename("", 6); },
      [&] { ini.SetFilename(std::string(256, 'n').c_str(), 6); },
      [&] { ini.SectionExists(""); },
      [&] { ini.ItemExists("a", ""); },
      [&] { ini.ReadItemValueString("", "x", ""); },
      [&] { ini.WriteItemValueString("a", "", "v", ""); },
      [&] { ini.ReadPatternSections("", out); },
      [&] { ini.WriteComment(""); },
      [&] { ini.ReadPatternItemNames("a", "", out); },
      [&] { ini.DeletePatternItem("", "x"); },
      [&] { ini.DeletePatternSection(""); },
  };
  for (size_t i = 0; i < std::size(calls); i++) EXPECT_EQ(CodeOf(calls[i]), QMS_SEVERE_INVALID_ARGUMENT) << i;
  // The pattern operations with good arguments, and the option flags, change nothing.
  ini.WriteComment("note");
  ini.DeletePatternSection("a");
  ini.DeletePatternItem("a", "x");
  ini.SetAlphabetizeSections(1);
  ini.SetAlphabetizeItems(1);
  ini.SetGenerateCommentHeader(1);
  ini.SetRefreshBeforeRead(1);
  ini.SetAutoFlushAfterWrite(1);
  ini.WriteItemValueString("a", "w", "0", "");
  EXPECT_STREQ(ini.ReadItemValueString("a", "x", ""), "1");
  EXPECT_EQ(Read(), "[a]\nx=1\n");
  ini.Clear();
  EXPECT_FALSE(ini.SectionExists("a"));
}

}  // namespace
