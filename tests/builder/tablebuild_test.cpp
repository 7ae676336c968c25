// The table-library builder on a table of an Access database, read through
// the ADO layer: the layer's in-memory provider stands in for the database
// file (the shared Access files hold no coordinates and cannot be written),
// and the real files are opened through gsbbuild itself.
#include "builder/tablebuild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/boundary/gsbfile_reader.h"
#include "tests/builder/builder_support.h"
#include "tests/support/temp_dir.h"
#include "tests/tables/ado_memory.h"
#include "zonelib.h"

namespace {

using buildertest::Outcome;
using buildertest::RunGsbbuild;
using testsupport::SharedDataPath;
using testsupport::TempDir;

bool Build(const std::string& input, const std::string& output, std::string* out) {
  return buildertest::BuildInProcess(input, output, "SITE", out);
}

TEST(LedgerkitBuilderTest, AccessTableThroughTheAdoLayer) {
  adotest::MemoryProvider provider;
  provider.database->AddTable("Sites", {adotest::Column("SITE", adodb::kVarWChar, 30),
                                        adotest::Column("Longitude", adodb::kDouble),
                                        adotest::Column("Latitude", adodb::kDouble),
                                        adotest::Column("STAFF", adodb::kInteger)});
  provider.database->AddRow("Sites", {adodb::Variant::Text("North"), adodb::Variant::R8(-78.6382),
                                      adodb::Variant::R8(35.7796), adodb::Variant::I4(12)});
  provider.database->AddRow("Sites", {adodb::Variant::Text("South"), adodb::Variant::R8(-80.25),
                                      adodb::Variant::R8(-33.5), adodb::Variant::I4(-3)});
  TempDir dir;
  std::string out;
  ASSERT_TRUE(Build(dir.File("parcels.mdb") + ":Sites", dir.File("out.gsb"), &out)) << out;
  ASSERT_FALSE(provider.connections.empty());
  EXPECT_NE(provider.connections[0].find("Provider='Microsoft.Jet.OLEDB.4.0'"), std::string::npos);
  EXPECT_NE(provider.connections[0].find(dir.File("parcels.mdb")), std::string::npos);

  std::vector<gsbtest::Record> records = gsbtest::File(dir.File("out.gsb")).Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].name, "North");
  EXPECT_EQ(records[0].x, -78638200);
  EXPECT_EQ(records[0].y, 35779600);
  EXPECT_EQ(records[1].name, "South");
  EXPECT_EQ(records[1].x, -80250000);
  EXPECT_EQ(records[1].y, -33500000);

  DlContext* context = DlInit("");
  DlFile* file = DlFileOpen(context, dir.File("out.gsa").c_str());
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(DlFileSearchInt(file, 2), 1);
  char text[32];
  ASSERT_EQ(DlFieldGetString(DlFieldGet(file, "SITE"), nullptr, text, 31), 1);
  EXPECT_STREQ(text, "South");
  EXPECT_EQ(DlFieldGetNum(DlFieldGet(file, "STAFF")), -3);
  DlTerm(context);
}

// The shared Access files through the whole program: their tables open and
// give their fields, none of which is a longitude.
TEST(LedgerkitBuilderTest, AccessFilesOnDisk) {
  const std::string database = SharedDataPath("access/test_V1997.mdb");
  if (!std::filesystem::exists(database)) GTEST_SKIP() << "no Access databases";
  TempDir dir;
  const struct {
    std::string input;
    std::string says;
  } cases[] = {
      {database + ":Table1", "Error: Longitude field was not found in the input table!"},
      {database + ":NoSuchTable", "Error: Unable to open the table " + database + ":NoSuchTable"},
      {database, "Error: An Access input is named database.mdb:table (" + database + ")."},
      {SharedDataPath("access/missing.mdb:Table1"), "Error opening input file ("},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    Outcome run = RunGsbbuild(dir.path(), {c.input, "out.gsb"});
    EXPECT_EQ(run.status, 255);
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.gsb")));
  }
}

}  // namespace
