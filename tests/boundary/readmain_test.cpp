#include "boundary/readmain.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/gsaformat.h"
#include "builder/gsabuild.h"
#include "tests/support/temp_dir.h"
#include "zonelib.h"

namespace {

using testsupport::TempDir;

// The process-wide record's line after a call.
int GlobalLine() {
  std::string location = DlGlobalError().Location();
  size_t open = location.rfind('(');
  return open == std::string::npos ? -1 : std::atoi(location.c_str() + open + 1);
}

TEST(ReadMainTest, NullArgumentsAreRecordedWithTheirEntry) {
  DlContext* context = DlInit("test");
  ASSERT_NE(context, nullptr);
  EXPECT_STREQ(context->name, "test");
  char buffer[32];
  const struct {
    const char* name;
    int64_t result;
    int64_t failure;
    int line;
  } cases[] = {
      {"DlInit", int64_t(reinterpret_cast<intptr_t>(DlInit(nullptr))), 0, 79},
      {"DlTerm", DlTerm(nullptr), 0, 131},
      {"DlFileOpen", int64_t(reinterpret_cast<intptr_t>(DlFileOpen(context, nullptr))), 0, 178},
      {"DlFileClose", DlFileClose(nullptr), 0, 303},
      {"DlFileSearch", DlFileSearch(nullptr, "1"), 0, 353},
      {"DlFileSearchInt", DlFileSearchInt(nullptr, 1), 0, 393},
      {"DlFileSearchNext", DlFileSearchNext(nullptr, "1"), 0, 418},
      {"DlFileSearchNextInt", DlFileSearchNextInt(nullptr, 1), 0, 459},
      {"DlFieldGetN", int64_t(reinterpret_cast<intptr_t>(DlFieldGetN(nullptr, 0))), 0, 504},
      {"DlFieldGet", int64_t(reinterpret_cast<intptr_t>(DlFieldGet(nullptr, "A"))), 0, 543},
      {"DlFileNumFields", DlFileNumFields(nullptr), -1, 597},
      {"DlFieldGetString", DlFieldGetString(nullptr, "%s", buffer, 31), 0, 652},
      {"DlFieldGetNum", DlFieldGetNum(nullptr), 0, 693},
      {"DlFieldGetAttribute", DlFieldGetAttribute(nullptr, 0, buffer, 31), 0, 780},
      {"DlFileGetAttribute", DlFileGetAttribute(nullptr, 0, buffer, 31), 0, 831},
      {"DlFieldGetValueAttribute", DlFieldGetValueAttribute(nullptr, 0, 0, buffer, 31), 0, 875},
  };
  // Each call ran before the next; check the last one's record, then each
  // result.
  EXPECT_EQ(GlobalLine(), 875);
  for (const auto& c : cases) EXPECT_EQ(c.result, c.failure) << c.name;
  // A key of 0 counts as null.
  EXPECT_EQ(DlFileSearchInt(reinterpret_cast<DlFile*>(context), 0), 0);
  EXPECT_EQ(GlobalLine(), 393);
  char message[256], detail[256];
  // The context holds no error: the process-wide record answers, code and
  // texts together.
  EXPECT_EQ(DlErrorGet(context, message, detail), 100);
  EXPECT_STREQ(message, "");
  EXPECT_STREQ(detail, "Null value passed.");
  EXPECT_EQ(DlErrorGet(nullptr, message, detail), 0);
  EXPECT_EQ(DlTerm(context), 1);
}

TEST(ReadMainTest, ErrorGetTakesOneRecord) {
  DlContext* context = DlInit("");
  DlFileClose(nullptr);  // the process-wide record: 100
  TempDir dir;
  EXPECT_EQ(DlFileOpen(context, dir.File("nothing").c_str()), nullptr);
  char message[256], detail[256];
  EXPECT_EQ(DlErrorGet(context, message, detail), 100);
  EXPECT_EQ(std::string(detail), "File " + dir.File("nothing") + ".dld Not Found");
  EXPECT_EQ(DlErrorGet(context, nullptr, nullptr), 100);

  // The context's own error wins over the process-wide one.
  context->error.Record(Q_ERROR_CHECKSUM, "page 3", "test", 1);
  EXPECT_EQ(DlErrorGet(context, message, detail), Q_ERROR_CHECKSUM);
  EXPECT_STREQ(message, "Invalid checksum or file size.");
  EXPECT_STREQ(detail, "page 3");
  DlTerm(context);
}

TEST(ReadMainTest, OpenNamesAFileThatIsNotThere) {
  DlContext* context = DlInit("");
  TempDir dir;
  char message[256], detail[256];
  // A name with any extension is opened as it is.
  EXPECT_EQ(DlFileOpen(context, dir.File("a.gsa").c_str()), nullptr);
  DlErrorGet(context, message, detail);
  EXPECT_EQ(std::string(detail), "File " + dir.File("a.gsa") + " Not Found");
  // From 226 characters on the name is cut to 224.
  std::string name = dir.File(std::string(230 - dir.path().size() - 1 - 4, 'n') + ".gsa");
  ASSERT_EQ(name.size(), 230u);
  EXPECT_EQ(DlFileOpen(context, name.c_str()), nullptr);
  DlErrorGet(context, message, detail);
  EXPECT_EQ(std::string(detail), "File " + name.substr(0, 224) + " Not Found");
  // A file that is not an attribute file.
  std::string other = dir.Write("other.gsa", std::string(9000, 'x'));
  EXPECT_EQ(DlFileOpen(context, other.c_str()), nullptr);
  EXPECT_EQ(DlErrorGet(context, message, detail), 100);
  EXPECT_STREQ(detail, ("Error opening DLD file: Invalid file signature. " + other).c_str());
  DlTerm(context);
}

TEST(ReadMainTest, VersionAndPrintedNumbers) {
  char buffer[32];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(DlGetVersion(buffer), 1);
  EXPECT_STREQ(buffer, "Quistrel v34.04");
  EXPECT_EQ(buffer[16], 'X');
  EXPECT_EQ(DlGetVersion(nullptr), 0);

  const struct {
    int64_t value;
    uint32_t decimals;
    const char* text;
  } cases[] = {
      {12345, 2, "123.45"},
      {-5, 2, "-0.05"},
      {7, 0, "7"},
      {0, 3, "0.000"},
      {-2147483648LL, 4, "-214748.3648"},
      {5, 12, "0.000000000005"},
      {100, 1, "10.0"},
  };
  for (const auto& c : cases) EXPECT_EQ(DlScaledText(c.value, c.decimals), c.text) << c.value;
}

TEST(ReadMainTest, AttributeSearchWithoutAFile) {
  TempDir dir;
  AttributeSearch search;
  EXPECT_FALSE(search.Open(dir.File("none.gsb").c_str(), "stamp"));
  EXPECT_FALSE(search.OutOfDate());
  EXPECT_EQ(search.SetRecord(1), 0u);
  EXPECT_EQ(search.GetAttributeCount(), 0);
  EXPECT_FALSE(search.HasField("A"));
  EXPECT_STREQ(search.KeyFieldName(), "recid");
  pipAttributeInfoStruct info;
  EXPECT_EQ(search.GetAttributeInfoByNumber(0, &info), -1);
  EXPECT_EQ(search.GetAttributeInfoByName("A", &info), -1);
  char name[12] = "x";
  EXPECT_EQ(search.GetAttributeNameByNumber(0, name, 11), 0);
  EXPECT_STREQ(name, "");
  search.Close();
  search.Close();
  EXPECT_FALSE(search.Open(dir.File("none.gsb").c_str(), ""));  // no context after Close
}

// The decimals of a field entry come from the file: a damaged count prints
// as many zeros as the value text holds, without building a text of that
// length first.
TEST(ReadMainTest, AttributeDecimalsFromADamagedEntry) {
  TempDir dir;
  const std::vector<GsaFieldDef> fields = {{"PRICE", 'N', 8, 2}, {"QRECID", 'N', 12, 0}};
  GsaMemoryRows rows(std::vector<std::vector<std::string>>{{"123.45", "           1"}});
  GsaWriteOptions options;
  options.dateText = "20240307";
  QError error;
  const std::string path = dir.File("d.gsa");
  ASSERT_TRUE(GsaWriteAttributeFile(path.c_str(), fields, rows, options, error)) << error.Detail();
  const std::string bytes = testsupport::ReadAll(path);
  GsaDescriptor descriptor;
  ASSERT_TRUE(GsaReadDescriptor(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                &descriptor));
  const std::string zeros = "0." + std::string(253, '0');
  const struct {
    uint32_t decimals;
    std::string value;
  } cases[] = {{2, "123.45"}, {7, "0.0012345"}, {300, zeros}, {0x7FFFFFFF, zeros},
               {0xFFFFFFFF, zeros}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.decimals);
    std::string damaged = bytes;
    QStoreU32LE(reinterpret_cast<uint8_t*>(&damaged[descriptor.fieldOffset + kGsaFieldDecimals]),
                c.decimals);
    dir.Write("d.gsa", damaged);
    AttributeSearch search;
    ASSERT_TRUE(search.Open(dir.File("d.gsb").c_str(), ""));
    ASSERT_EQ(search.SetRecord(1), 1u);
    pipAttributeInfoStruct info;
    ASSERT_EQ(search.GetAttributeInfoByName("PRICE", &info), 1);
    EXPECT_EQ(info.value, c.value);
    EXPECT_EQ(info.decimals, c.decimals);
  }
}

TEST(ReadMainTest, ZonelibExportsTheDlCalls) {
  void* library = dlopen(GSB_ZONELIB_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name :
       {"DlInit", "DlTerm", "DlFileOpen", "DlFileClose", "DlFileNumFields", "DlFileGetAttribute",
        "DlFileSearch", "DlFileSearchInt", "DlFileSearchNext", "DlFileSearchNextInt", "DlFieldGetN",
        "DlFieldGet", "DlFieldGetAttribute", "DlFieldGetString", "DlFieldGetNum",
        "DlFieldGetValueAttribute", "DlErrorGet", "DlGetVersion"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  EXPECT_EQ(dlsym(library, "_Z13DlGlobalErrorv"), nullptr);
  dlclose(library);
}

}  // namespace
